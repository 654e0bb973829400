// SPDX-License-Identifier: MIT
// cparameters changes FILE
#include "Tool.h"

namespace cli {

int changes(const Args& args, const Options& options)
{
    if (args.size() != 1) {
        return usage("changes takes FILE");
    }
    View& view = keptView();
    if (const int status = load(options, args[0], true, view)) {
        return status;
    }
    view.layers.changes().print();
    return flushOutput();
}

} // namespace cli
