// SPDX-License-Identifier: MIT
// cparameters list [--origin] FILE
#include "Tool.h"

#include <iostream>
#include <sstream>

namespace cli {

int list(const Args& args, const Options& options)
{
    if (args.size() != 1) {
        return usage("list takes FILE");
    }
    View& view = keptView();
    if (const int status = load(options, args[0], true, view)) {
        return status;
    }
    const CParameters merged = view.layers.merged();
    if (!options.origin) {
        merged.print();
        return flushOutput();
    }
    // print() writes one line per entry, in the order of the walk: each gets
    // a tab and its origin, the line kept as list writes it.
    std::ostringstream lines;
    std::streambuf* const out = std::cout.rdbuf(lines.rdbuf());
    merged.print();
    std::cout.rdbuf(out);
    std::istringstream text(lines.str());
    std::string line;
    for (auto it = merged.begin(); it != merged.end() && std::getline(text, line); ++it) {
        std::cout << line << '\t' << view.layers.origin(CParameters::getKey(it)) << '\n';
    }
    return flushOutput();
}

} // namespace cli
