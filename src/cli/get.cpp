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
    if (const int status = load(options, args[0], true, view)) {
        return status;
    }
    // exists() and getParam() look the name up in logarithmic time, where
    // find() walks the entries to give an iterator.
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
