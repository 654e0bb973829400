// SPDX-License-Identifier: MIT
// cparameters import [--delimited NAMESEP ENTRYSEP] FILE
#include "Tool.h"

namespace cli {

int importFile(const Args& args, const Options& options)
{
    if (args.size() != 1) {
        return usage("import takes FILE");
    }
    // Read and checked before the lock is taken, so that a slow writer to
    // the pipe does not hold up other changes.
    std::string text;
    if (const int status = readStandardInput(text)) {
        return status;
    }
    CParameters incoming;
    CParameters::TextError error;
    bool read;
    if (options.delimited) {
        // The line that export writes ends in a newline that is no part of
        // the last value.
        if (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        read = incoming.deSerialise(text, options.nameSeparator, options.entrySeparator, error);
    } else {
        read = incoming.deSerialiseAsJSON(text, error);
    }
    if (!read) {
        return loadFault("<stdin>", error);
    }
    return changeFile(options, args[0],
                      [&](View& view, bool& changed) { return mergeChecked(args[0], view, incoming, changed); });
}

} // namespace cli
