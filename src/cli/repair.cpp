// SPDX-License-Identifier: MIT
// cparameters repair FILE
#include "Tool.h"

#include <cerrno>

namespace cli {

// The library takes the lock on FILE.lock itself.
int repair(const Args& args, const Options&)
{
    if (args.size() != 1) {
        return usage("repair takes FILE");
    }
    CParameterFile::Report report;
    CParameters::TextError error;
    const bool repaired = CParameterFile::repair(args[0], report, error);
    if (report.serving != CParameterFile::servesFile && !report.fileError.reason.empty()) {
        loadFault(args[0], report.fileError); // what was wrong with FILE
    }
    if (!repaired) {
        say("cparameters: " + args[0] + ": " + error.reason);
        return error.systemError != 0 && error.systemError != ENOENT ? systemFailure : rejected;
    }
    if (report.serving == CParameterFile::servesLastGood) {
        say("cparameters: " + args[0] + ": restored from " + report.lastGood);
    }
    return done;
}

} // namespace cli
