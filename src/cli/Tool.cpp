// SPDX-License-Identifier: MIT
// The frame every command of cparameters shares: messages, and the one load
// path and load-change-save. Changes hold the library's lock on FILE.lock
// (CParameterFileLock) for their load-change-save, so that concurrent changes
// never lose one another's updates. Readers take no lock: a save replaces
// FILE by rename, so they always read one whole version.
#include "Tool.h"
#include "FileLock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include <unistd.h>

namespace cli {

extern const char usageText[];

// One line on standard error in one write, so that the messages of
// concurrent commands do not interleave.
void say(const std::string& message) { std::cerr << message + '\n'; }

int usage(const std::string& problem)
{
    say("cparameters: " + problem);
    std::cerr << usageText;
    return usageError;
}

int systemFault(const std::string& where, const char* call)
{
    say("cparameters: " + where + ": " + call + ": " + std::strerror(errno));
    return systemFailure;
}

// A failed load: a fault in the text as "FILE:LINE:COLUMN: reason", the form
// editors jump to, and a failed system call as "cparameters: FILE: call:
// reason".
int loadFault(const std::string& where, const CParameters::TextError& error)
{
    if (error.systemError != 0) {
        say("cparameters: " + where + ": " + error.reason);
        return systemFailure;
    }
    if (error.line == 0) {
        say(where + ": " + error.reason);
    } else {
        say(where + ':' + std::to_string(error.line) + ':' + std::to_string(error.column) + ": " + error.reason);
    }
    return rejected;
}

// Standard output is where results go; failing to write them (a full disk,
// a closed pipe) is a system error like any other.
int flushOutput()
{
    if (!std::cout.flush()) {
        say(std::string("cparameters: standard output: ") + std::strerror(errno != 0 ? errno : EIO));
        return systemFailure;
    }
    return done;
}

namespace {

// Loads FILE, or its last good version when FILE is damaged, into \p view,
// and warns of what was amiss. A missing FILE without a last good version
// is empty where \p missingIsEmpty.
int loadInto(View& view, const std::string& file, bool missingIsEmpty)
{
    CParameterFile::Report report;
    const bool served = CParameterFile::load(file, view.file, report);
    if (report.serving == CParameterFile::servesFile ||
        (missingIsEmpty && report.fileError.systemError == ENOENT && report.lastGoodError.systemError == ENOENT)) {
        return done;
    }
    const int status = loadFault(file, report.fileError);
    if (!served) {
        return status;
    }
    say("cparameters: warning: " + file + ": the last good version serves: " + report.lastGood);
    return done;
}

} // namespace

// The value as get prints it: a string as its text, anything else as the
// compact JSON that the file holds, cut out of a one-entry object so that it
// is written exactly as list and the file write it.
std::string valueText(const Json::Value& value)
{
    if (value.isString()) {
        return value.asString();
    }
    CParameters one;
    one.setParam("", value);
    const std::string text = one.serialiseAsJSON(); // {"":VALUE}
    return text.substr(4, text.size() - 5);
}

// One JSON value from an argument, read by the container's own reader as the
// member of a one-entry object, so that it follows the file's rules and gets
// the reader's messages; positions on the first line are moved back to the
// argument's own columns.
bool readJSONValue(const std::string& text, Json::Value& value, CParameters::TextError& error)
{
    const std::string prefix = "{\"\":";
    CParameters one;
    if (!one.deSerialiseAsJSON(prefix + text + "}", error)) {
        if (error.line == 1 && error.column > prefix.size()) {
            error.column -= prefix.size();
        }
        return false;
    }
    if (one.size() != 1) { // the text closed the object and opened another member
        error.line = error.column = 0;
        error.reason = "not one JSON value";
        return false;
    }
    value = one.getParam("");
    return true;
}

int readStandardInput(std::string& text)
{
    char buffer[65536];
    for (ssize_t got; (got = ::read(STDIN_FILENO, buffer, sizeof buffer)) != 0;) {
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (errno != EINTR) {
            return systemFault("standard input", "read");
        }
    }
    return done;
}

int loadSchema(const Options& options, View& view)
{
    if (!options.schema.empty() && !view.declared) {
        CParameters::TextError error;
        if (!view.schema.loadFile(options.schema, error)) {
            return loadFault(options.schema, error);
        }
        view.declared = true;
    }
    return done;
}

int load(const Options& options, const std::string& file, bool missingIsEmpty, View& view)
{
    if (!view.schemaOnDemand) {
        if (const int status = loadSchema(options, view)) {
            return status;
        }
    }
    return loadInto(view, file, missingIsEmpty);
}

int mergeChecked(const std::string& file, View& view, const CParameters& incoming, bool& changed)
{
    if (view.declared) {
        int status = done;
        for (auto it = incoming.begin(); it != incoming.end(); ++it) {
            const std::string name = CParameters::getKey(it);
            if (view.schema.readOnly(name) && !(view.file.exists(name) && view.file.getParam(name) == *it)) {
                say("cparameters: " + file + ": " + name + ": read-only");
                status = rejected;
            }
        }
        std::vector<CParameterSchema::Violation> violations;
        if (status == done && !view.schema.append(view.file, incoming, violations)) {
            for (const CParameterSchema::Violation& violation : violations) {
                say("cparameters: " + file + ": " + violation.reason);
            }
            status = rejected;
        }
        changed = status == done;
        return status;
    }
    view.file.append(incoming);
    changed = true;
    return done;
}

View& keptView()
{
    static View* const view = new View; // a static pointer holds it: no leak
    return *view;
}

int changeFile(const Options& options, const std::string& file, const Change& change)
{
    CParameterFileLock lock;
    CParameters::TextError error;
    if (!lock.acquire(file, error)) {
        say("cparameters: " + file + ": " + error.reason);
        return systemFailure;
    }
    // A change that saves nothing leaves no lock file behind either, where it
    // made one; one that saved leaves it for the next change.
    bool saved = false;
    try {
        View view;
        int status = load(options, file, true, view);
        bool changed = false;
        std::vector<CParameterSchema::Violation> before;
        if (status == done && view.declared) {
            before = view.schema.check(view.file);
        }
        if (status == done) {
            status = change(view, changed);
        }
        if (changed && view.declared) {
            // Whatever the command, a change that adds a violation of SCHEMA
            // (a removed required member, a patched value) saves nothing.
            for (const CParameterSchema::Violation& found : view.schema.check(view.file)) {
                if (std::none_of(before.begin(), before.end(), [&](const CParameterSchema::Violation& old) {
                        return old.pointer == found.pointer && old.reason == found.reason;
                    })) {
                    say("cparameters: " + file + ": " + found.reason);
                    status = rejected;
                    changed = false;
                }
            }
        }
        if (changed) {
            saved = view.file.saveJSONFile(file, error);
            if (!saved) {
                say("cparameters: " + file + ": " + error.reason);
                status = systemFailure;
            }
        }
        if (!saved) {
            lock.discard();
        }
        return status;
    } catch (...) {
        lock.discard();
        throw;
    }
}

} // namespace cli
