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
    // SCHEMA only for a default: a schema can be larger than FILE, and a
    // present name needs none.
    view.schemaOnDemand = true;
    // A damaged FILE without a last good version that loads leaves DEFAULT
    // to serve, as the defaults serve a program.
    if (const int status = load(options, args[0], true, view)) {
        if (status != rejected) {
            return status;
        }
        say("cparameters: warning: " + args[0] + ": no version of it loads; DEFAULT serves");
    }
    // exists() and getParam() look the name up in logarithmic time, where
    // find() walks the entries to give an iterator.
    Json::Value found;
    if (options.pointer ? CParameterPatch::find(view.file, args[1], found) : view.file.exists(args[1])) {
        std::cout << valueText(options.pointer ? found : view.file.getParam(args[1])) << '\n';
    } else if (args.size() == 3) {
        std::cout << args[2] << '\n';
    } else if (const int status = loadSchema(options, view)) {
        return status;
    } else if (view.declared && view.schema.defaults().exists(args[1])) {
        std::cout << valueText(view.schema.defaults().getParam(args[1])) << '\n';
    } else {
        return rejected;
    }
    return flushOutput();
}

} // namespace cli
