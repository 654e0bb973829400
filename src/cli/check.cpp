// SPDX-License-Identifier: MIT
// cparameters check FILE...
#include "Tool.h"

#include <algorithm>

namespace cli {

// A damaged FILE is reported as a load fault (status 1, or 3 when it cannot
// be read), then the last good version that would serve in its place.
int check(const Args& args, const Options&)
{
    if (args.empty()) {
        return usage("check takes FILE...");
    }
    int status = done;
    for (const std::string& file : args) {
        CParameters parameters;
        CParameterFile::Report report;
        if (CParameterFile::load(file, parameters, report) && report.serving == CParameterFile::servesFile) {
            continue;
        }
        status = std::max(status, loadFault(file, report.fileError));
        if (report.serving == CParameterFile::servesLastGood) {
            say("cparameters: " + file + ": the last good version would serve: " + report.lastGood);
        }
    }
    return status;
}

} // namespace cli
