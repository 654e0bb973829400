// SPDX-License-Identifier: MIT
// cparameters remove [--pointer] FILE NAME...
#include "Tool.h"

#include <algorithm>

namespace cli {

int remove(const Args& args, const Options& options)
{
    if (args.size() < 2) {
        return usage("remove takes FILE NAME...");
    }
    if (options.pointer) {
        return changeAtPointers(args, options, nullptr);
    }
    return changeFile(options, args[0], [&](View& view, bool& changed) {
        int status = done;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (view.layers.reset(args[i])) {
                changed = true;
            } else if (std::find(args.begin() + 1, args.begin() + i, args[i]) == args.begin() + i) {
                say("cparameters: " + args[0] + ": no " + args[i]);
                status = rejected;
            }
        }
        return status;
    });
}

} // namespace cli
