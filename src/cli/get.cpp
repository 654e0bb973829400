// SPDX-License-Identifier: MIT
// cparameters get [--pointer] FILE NAME [DEFAULT]
#include "Tool.h"

#include "Patch.h"

#include <iostream>

namespace cli {

int get(const Args& args, const Options& options)
{
    if (args.size() < 2 || args.size() > 3) {
        return usage("get takes FILE NAME [DEFAULT]");
    }
    CParameters::TextError error;
    if (options.pointer && !CParameterPatch::checkPointer(args[1], error)) {
        return usage(args[1] + ": " + error.reason);
    }
    View& view = keptView();
    // A damaged FILE without a last good version that loads leaves DEFAULT
    // to serve, as the defaults serve a program. Only NAME is kept of each
    // file: the others are read and checked, and dropped as they are read,
    // which costs a third of keeping them.
    if (const int status = load(options, args[0], true, view, options.pointer ? nullptr : &args[1])) {
        if (status != rejected || !view.unreadable) {
            return status;
        }
        say("cparameters: warning: " + args[0] + ": no version of it loads; DEFAULT serves");
    }
    Json::Value found;
    if (options.pointer ? CParameterPatch::find(view.layers.merged(), args[1], found) : view.layers.exists(args[1])) {
        std::cout << valueText(options.pointer ? found : view.layers.getParam(args[1])) << '\n';
    } else if (args.size() == 3) {
        std::cout << args[2] << '\n';
    } else {
        return rejected;
    }
    return flushOutput();
}

} // namespace cli
