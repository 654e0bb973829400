// SPDX-License-Identifier: MIT
// cparameters check FILE...
#include "Tool.h"

#include <algorithm>

namespace cli {

// A damaged FILE is reported as a load fault (status 1, or 3 when it cannot
// be read), then the last good version that would serve in its place. With
// SCHEMA, each value of a FILE that loads is checked against it, and each
// violation reported at the value's place in FILE (status 1).
int check(const Args& args, const Options& options)
{
    if (args.empty()) {
        return usage("check takes FILE...");
    }
    View view;
    int status = loadSchema(options, view);
    if (status != done) {
        return status;
    }
    for (const std::string& file : args) {
        CParameters parameters;
        CParameterFile::Report report;
        if (CParameterFile::load(file, parameters, report) && report.serving == CParameterFile::servesFile) {
            // The layers over it, each checked: load() reports how they
            // break SCHEMA, at their places.
            View layered;
            status = std::max(status, load(options, file, false, layered));
            if (!layered.fellBack.empty()) {
                status = std::max(status, int(rejected));
            }
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
