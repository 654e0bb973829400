// SPDX-License-Identifier: MIT
// cparameters export [--delimited NAMESEP ENTRYSEP] FILE
#include "Tool.h"

#include <iostream>

namespace cli {

int exportFile(const Args& args, const Options& options)
{
    if (args.size() != 1) {
        return usage("export takes FILE");
    }
    View& view = keptView();
    if (const int status = load(options, args[0], true, view)) {
        return status;
    }
    const CParameters store = view.layers.merged();
    if (!options.delimited) {
        std::cout << store.serialiseAsJSON() << '\n';
    } else if (store.begin() != store.end()) {
        std::cout << store.serialise(options.nameSeparator, options.entrySeparator) << '\n';
    }
    return flushOutput();
}

} // namespace cli
