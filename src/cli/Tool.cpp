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
        view.unreadable = true;
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

namespace {

// Each violation as "FILE:LINE:COLUMN: reason" where it has a place in a
// file, else as "cparameters: FILE: reason"; rejected when there is any.
int reportViolations(const std::vector<CParameterLayers::Violation>& found)
{
    for (const CParameterLayers::Violation& one : found) {
        const CParameterSchema::Violation& violation = one.violation;
        say(violation.line == 0 ? "cparameters: " + one.origin + ": " + violation.reason
                                : one.origin + ':' + std::to_string(violation.line) + ':' +
                                      std::to_string(violation.column) + ": " + violation.reason);
    }
    return found.empty() ? done : rejected;
}

bool same(const CParameterLayers::Violation& a, const CParameterLayers::Violation& b)
{
    return a.origin == b.origin && a.violation.pointer == b.violation.pointer &&
           a.violation.keyword == b.violation.keyword && a.violation.reason == b.violation.reason;
}

// Values of FILE that break SCHEMA (a newer firmware narrowed a range, say)
// fall back one by one: to the last good version's value where that
// conforms, else out of FILE's layer, so that a default serves; the rest of
// FILE serves. Each is reported at its place, with what serves instead.
int fallBack(View& view, const std::string& file)
{
    std::vector<CParameterLayers::Violation> broken;
    for (const CParameterLayers::Violation& found : view.layers.check()) {
        if (found.origin == file && !found.violation.pointer.empty()) {
            broken.push_back(found);
        }
    }
    if (broken.empty()) {
        return done;
    }
    reportViolations(broken);
    CParameters served;
    CParameterFile::Report report;
    const CParameterSchema& schema = view.schema;
    CParameterFile::load(file, served, report, [&](const std::string& name, const Json::Value& value) {
        return schema.checkParam(name, value).empty();
    });
    for (const CParameterLayers::Violation& found : broken) {
        const std::string& name = found.violation.name;
        if (std::find(view.fellBack.begin(), view.fellBack.end(), name) != view.fellBack.end()) {
            continue;
        }
        view.fellBack.push_back(name);
        const bool kept = served.exists(name);
        if (view.file.exists(name)) {
            if (kept) {
                view.file.setParam(name, served.getParam(name));
            } else {
                view.file.removeParam(name);
            }
        }
        say("cparameters: warning: " + file + ": " + name +
            (kept ? ": the last good version's value serves" : ": left out, a default serves where there is one"));
    }
    return done;
}

// load() but for the report of violations, which changeFile() makes of a
// change's own only.
int read(const Options& options, const std::string& file, bool missingIsEmpty, View& view, const std::string* only)
{
    if (const int status = loadSchema(options, view)) {
        return status;
    }
    view.layers = CParameterLayers(file);
    if (view.declared) {
        view.layers.setSchema(view.schema);
    }
    CParameters::TextError error;
    for (const Defaults& defaults : options.defaults) {
        if (!view.layers.loadLayer(defaults.path, error, only) && !(defaults.optional && error.systemError == ENOENT)) {
            return loadFault(defaults.path, error);
        }
    }
    // A FILE that does not load whole (missing, damaged) is FILE's frame's
    // matter: its last good version may serve.
    if (!view.layers.loadDevice(file, error, only)) {
        return loadInto(view, file, missingIsEmpty);
    }
    return view.declared ? fallBack(view, file) : int(done);
}

// The violations left to report once FILE's values have fallen back (a
// view for one name keeps the read's own list).
std::vector<CParameterLayers::Violation> violationsLeft(const View& view)
{
    std::vector<CParameterLayers::Violation> left;
    for (const CParameterLayers::Violation& found : view.layers.check()) {
        if (found.origin != view.layers.deviceOrigin() || found.violation.pointer.empty() ||
            std::find(view.fellBack.begin(), view.fellBack.end(), found.violation.name) == view.fellBack.end()) {
            left.push_back(found);
        }
    }
    return left;
}

} // namespace

int load(const Options& options, const std::string& file, bool missingIsEmpty, View& view, const std::string* only)
{
    const int status = read(options, file, missingIsEmpty, view, only);
    return status != done ? status : reportViolations(violationsLeft(view));
}

int mergeChecked(const std::string& file, View& view, const CParameters& incoming, bool& changed)
{
    int status = done;
    for (auto it = incoming.begin(); it != incoming.end(); ++it) {
        const std::string name = CParameters::getKey(it);
        if (view.declared && view.schema.readOnly(name) &&
            !(view.layers.exists(name) && view.layers.getParam(name) == *it)) {
            say("cparameters: " + file + ": " + name + ": read-only");
            status = rejected;
        }
    }
    if (status == done) {
        view.layers.append(incoming);
        changed = true;
    }
    return status;
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
        int status = read(options, file, true, view, nullptr);
        bool changed = false;
        // Whatever the command, a change that would make the layers break
        // SCHEMA in a new way (a removed required member, a patched value)
        // saves nothing; one that leaves an old violation, or mends it, does.
        const std::vector<CParameterLayers::Violation> before = view.layers.check();
        if (status == done) {
            status = change(view, changed);
        }
        // What serves is saved: values of FILE that fell back go with it.
        changed = changed || (status == done && !view.fellBack.empty());
        if (changed && view.declared) {
            std::vector<CParameterLayers::Violation> added;
            for (const CParameterLayers::Violation& found : view.layers.check()) {
                if (std::none_of(before.begin(), before.end(), [&](const auto& old) { return same(old, found); })) {
                    added.push_back(found);
                }
            }
            if (reportViolations(added) != done) {
                status = rejected;
                changed = false;
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
