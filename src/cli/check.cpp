// SPDX-License-Identifier: MIT
// cparameters check FILE...
#include "Tool.h"

#include <algorithm>

namespace cli {

int check(const Args& args, const Options& options)
{
    if (args.empty()) {
        return usage("check takes FILE...");
    }
    int status = done;
    for (const std::string& file : args) {
        View view;
        // load() reports how each file breaks SCHEMA, at its places.
        status = std::max(status, load(options, file, false, view));
    }
    return status;
}

} // namespace cli
