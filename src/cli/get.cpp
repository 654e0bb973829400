// SPDX-License-Identifier: MIT
// cparameters get FILE NAME [DEFAULT]
#include "Tool.h"

#include <iostream>

namespace cli {

int get(const Args& args, const Options& options)
{
    if (args.size() < 2 || args.size() > 3) {
        return usage("get takes FILE NAME [DEFAULT]");
    }
    View& view = keptView();
    // Only NAME is kept of each file: the others are read and checked, and
    // dropped as they are read, which costs a third of keeping them.
    if (const int status = load(options, args[0], true, view, &args[1])) {
        return status;
    }
    if (view.layers.exists(args[1])) {
        std::cout << valueText(view.layers.getParam(args[1])) << '\n';
    } else if (args.size() == 3) {
        std::cout << args[2] << '\n';
    } else {
        return rejected;
    }
    return flushOutput();
}

} // namespace cli
