// SPDX-License-Identifier: MIT
// cparameters list FILE
#include "Tool.h"

namespace cli {

int list(const Args& args, const Options& options)
{
    if (args.size() != 1) {
        return usage("list takes FILE");
    }
    View& view = keptView();
    if (const int status = load(options, args[0], true, view)) {
        return status;
    }
    view.file.print();
    return flushOutput();
}

} // namespace cli
