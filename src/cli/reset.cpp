// SPDX-License-Identifier: MIT
// cparameters reset FILE NAME... | reset --all FILE
#include "Tool.h"

#include <algorithm>

namespace cli {

// Takes names out of FILE, so that they read their defaults again; the
// defaults files are only read. A name that no layer holds is said on
// standard error (a typo, most likely), once, and makes the status 1.
int reset(const Args& args, const Options& options)
{
    if (options.all ? args.size() != 1 : args.size() < 2) {
        return usage("reset takes FILE NAME... or --all FILE");
    }
    return changeFile(options, args[0], [&](View& view, bool& changed) {
        if (options.all) {
            changed = view.layers.device().begin() != view.layers.device().end();
            view.layers.resetAll();
            return int(done);
        }
        int status = done;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (view.layers.reset(args[i])) {
                changed = true;
            } else if (!view.layers.exists(args[i]) &&
                       std::find(args.begin() + 1, args.begin() + i, args[i]) == args.begin() + i) {
                say("cparameters: " + args[0] + ": no " + args[i] + " in any layer");
                status = rejected;
            }
        }
        return status;
    });
}

} // namespace cli
