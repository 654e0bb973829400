// SPDX-License-Identifier: MIT
// cparameters check FILE...
#include "Tool.h"

#include <algorithm>
#include <cerrno>

namespace cli {

// A damaged FILE is reported as a load fault (status 1, or 3 when it cannot
// be read), then which version would serve in its place.
int check(const Args& args, const Options&)
{
    if (args.empty()) {
        return usage("check takes FILE...");
    }
    int status = done;
    for (const std::string& file : args) {
        View view;
        const bool served = CParameterFile::load(file, view.file, view.report);
        if (!view.report.damaged()) {
            continue;
        }
        status = std::max(status, view.report.serving == CParameterFile::servesFile
                                      ? int(rejected)
                                      : loadFault(file, view.report.fileError));
        if (served) {
            say("cparameters: " + file + ": the last good version would serve: " + view.report.lastGood);
        } else if (view.report.lastGoodError.systemError != ENOENT) {
            say("cparameters: " + view.report.lastGood + ": " + view.report.lastGoodError.message());
        }
    }
    return status;
}

} // namespace cli
