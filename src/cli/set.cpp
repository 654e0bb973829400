// SPDX-License-Identifier: MIT
// cparameters set [--json] FILE NAME VALUE [NAME VALUE]...
// cparameters set --pointer [--json] [--parents] FILE POINTER VALUE...
#include "Tool.h"

namespace cli {

int set(const Args& args, const Options& options)
{
    if (args.size() < 3 || args.size() % 2 == 0) {
        return usage("set takes FILE NAME VALUE [NAME VALUE]...");
    }
    CParameters values;
    std::vector<Json::Value> atPointers;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        Json::Value value(args[i + 1]);
        CParameters::TextError error;
        if (options.json && !readJSONValue(args[i + 1], value, error)) {
            say("cparameters: value of " + args[i] + ": " + error.message());
            return rejected;
        }
        if (options.pointer) {
            atPointers.push_back(value);
        } else {
            values.setParam(args[i], value);
        }
    }
    if (options.pointer) {
        return changeAtPointers(args, options, &atPointers);
    }
    return changeFile(options, args[0],
                      [&](View& view, bool& changed) { return mergeChecked(args[0], view, values, changed); });
}

} // namespace cli
