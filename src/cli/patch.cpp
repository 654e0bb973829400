// SPDX-License-Identifier: MIT
// cparameters patch [--json-patch] [--if-newer NAME=N] [--print] FILE, and
// the changes at pointers of set --pointer and remove --pointer.
#include "Tool.h"

#include "Patch.h"

#include <charconv>
#include <cstdint>
#include <iostream>

namespace cli {

int patch(const Args& args, const Options& options)
{
    if (args.size() != 1) {
        return usage("patch takes FILE");
    }
    // NAME=N: N a decimal integer, as the file holds integers.
    const std::string::size_type equals = options.ifNewer.rfind('=');
    std::string versionName;
    std::int64_t version = 0;
    if (!options.ifNewer.empty()) {
        const char* const digits = options.ifNewer.data() + equals + 1;
        const char* const end = options.ifNewer.data() + options.ifNewer.size();
        if (equals == std::string::npos || equals == 0 || std::from_chars(digits, end, version).ptr != end ||
            digits == end) {
            return usage("--if-newer takes NAME=N, N a decimal integer");
        }
        versionName = options.ifNewer.substr(0, equals);
    }
    // Read before the lock is taken, as import does.
    std::string text;
    if (const int status = readStandardInput(text)) {
        return status;
    }
    std::string reported;
    const int status = changeFile(options, args[0], [&](View& view, bool& changed) {
        if (!versionName.empty() && view.file.exists(versionName)) {
            const Json::Value& stored = view.file.getParam(versionName);
            if (!stored.isInt64()) {
                say("cparameters: " + args[0] + ": " + versionName + " holds no integer");
                return static_cast<int>(rejected);
            }
            if (stored.asInt64() >= version) {
                say("cparameters: " + args[0] + ": " + versionName + " is " + std::to_string(stored.asInt64()) +
                    ", not below " + std::to_string(version) + ": patch not applied");
                reported = options.print ? view.file.serialiseAsJSON() : std::string();
                return static_cast<int>(stale);
            }
        }
        CParameters::TextError error;
        if (!(options.jsonPatch ? CParameterPatch::jsonPatchText(view.file, text, error)
                                : CParameterPatch::mergePatchText(view.file, text, error))) {
            return loadFault("<stdin>", error);
        }
        if (!versionName.empty()) {
            view.file.setParam(versionName, Json::Value(static_cast<Json::Int64>(version)));
        }
        changed = true;
        if (options.print) {
            reported = view.file.serialiseAsJSON();
        }
        return static_cast<int>(done);
    });
    // Printed only once the save has succeeded (or there was none to make).
    if (options.print && (status == done || status == stale)) {
        std::cout << reported << '\n';
        const int flushed = flushOutput();
        return flushed != done ? flushed : status;
    }
    return status;
}

int changeAtPointers(const Args& args, const Options& options, const std::vector<Json::Value>* values)
{
    const std::size_t step = values != nullptr ? 2 : 1;
    for (std::size_t i = 1; i < args.size(); i += step) {
        CParameters::TextError error;
        if (!CParameterPatch::checkPointer(args[i], error)) {
            return usage(args[i] + ": " + error.reason); // as get --pointer says it
        }
    }
    return changeFile(options, args[0], [&](View& view, bool& changed) {
        for (std::size_t i = 1; i < args.size(); i += step) {
            CParameters::TextError error;
            if (!(values != nullptr
                      ? CParameterPatch::set(view.file, args[i], (*values)[i / 2], options.parents, error)
                      : CParameterPatch::remove(view.file, args[i], error))) {
                say("cparameters: " + args[0] + ": " + args[i] + ": " + error.reason);
                return static_cast<int>(rejected);
            }
        }
        changed = true;
        return static_cast<int>(done);
    });
}

} // namespace cli
