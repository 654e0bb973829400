// SPDX-License-Identifier: MIT
// The frame every command of cparameters shares: messages, and the one load
// path and load-change-save. Changes hold an exclusive lock on FILE.lock for
// their load-change-save, so that concurrent changes never lose one
// another's updates. Readers take no lock: a save replaces FILE by rename,
// so they always read one whole version.
#include "Tool.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// The path that \p path leads to through symbolic links, the last of which
// may point to a file that does not exist yet.
std::string followLinks(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) == sizeof target) {
            break; // not a link
        }
        const std::string::size_type slash = path.rfind('/');
        path = target[0] == '/' || slash == std::string::npos
                   ? std::string(target, static_cast<std::size_t>(length))
                   : path.substr(0, slash + 1) + std::string(target, static_cast<std::size_t>(length));
    }
    return path;
}

// An exclusive lock on FILE.lock, beside the file that FILE leads to through
// symbolic links, held until the object dies. The lock file stays, so that
// every process locks the same inode; should it be removed or replaced
// meanwhile, the process that finds its path naming another inode than the
// one it locked starts over.
class Lock {
public:
    ~Lock()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    int acquire(const std::string& file)
    {
        const std::string path = followLinks(file) + ".lock";
        for (;;) {
            // Read-only: flock needs no more, and a lock file another user
            // made stays usable to all who may read it.
            m_fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
            if (m_fd < 0) {
                return systemFault(path, "open");
            }
            int result;
            while ((result = ::flock(m_fd, LOCK_EX)) != 0 && errno == EINTR) {
            }
            if (result != 0) {
                return systemFault(path, "flock");
            }
            struct stat locked, named;
            if (::fstat(m_fd, &locked) != 0) {
                return systemFault(path, "fstat");
            }
            if (::stat(path.c_str(), &named) == 0) {
                if (named.st_dev == locked.st_dev && named.st_ino == locked.st_ino) {
                    return done;
                }
            } else if (errno != ENOENT) {
                return systemFault(path, "stat");
            }
            ::close(m_fd);
        }
    }

private:
    int m_fd = -1;
};

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

// load() but for the report of violations, which changeFile() makes of a
// change's own only.
int read(const Options& options, const std::string& file, bool missingIsEmpty, View& view, const std::string* only)
{
    CParameters::TextError error;
    if (!options.schema.empty() && !view.declared) {
        if (!view.schema.loadFile(options.schema, error)) {
            return loadFault(options.schema, error);
        }
        view.declared = true;
    }
    view.layers = CParameterLayers(file);
    if (view.declared) {
        view.layers.setSchema(view.schema);
    }
    for (const Defaults& defaults : options.defaults) {
        if (!view.layers.loadLayer(defaults.path, error, only) &&
            !(defaults.optional && error.systemError == ENOENT)) {
            return loadFault(defaults.path, error);
        }
    }
    if (!view.layers.loadDevice(file, error, only) && !(missingIsEmpty && error.systemError == ENOENT)) {
        return loadFault(file, error);
    }
    return done;
}

bool same(const CParameterLayers::Violation& a, const CParameterLayers::Violation& b)
{
    return a.origin == b.origin && a.violation.pointer == b.violation.pointer &&
           a.violation.keyword == b.violation.keyword && a.violation.reason == b.violation.reason;
}

} // namespace

int load(const Options& options, const std::string& file, bool missingIsEmpty, View& view, const std::string* only)
{
    const int status = read(options, file, missingIsEmpty, view, only);
    return status != done ? status : reportViolations(view.layers.check());
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
    Lock lock;
    View view;
    int status = lock.acquire(file);
    if (status == done) {
        status = read(options, file, true, view, nullptr);
    }
    if (status != done) {
        return status;
    }
    // A change that would make the layers break SCHEMA in a new way is
    // refused whole; one that leaves an old violation, or mends it, is not.
    const std::vector<CParameterLayers::Violation> before = view.layers.check();
    bool changed = false;
    status = change(view, changed);
    if (changed && view.declared) {
        std::vector<CParameterLayers::Violation> added;
        for (const CParameterLayers::Violation& violation : view.layers.check()) {
            if (std::none_of(before.begin(), before.end(), [&](const auto& old) { return same(old, violation); })) {
                added.push_back(violation);
            }
        }
        if (reportViolations(added) != done) {
            return rejected;
        }
    }
    CParameters::TextError error;
    if (changed && !view.layers.device().saveJSONFile(file, error)) {
        say("cparameters: " + file + ": " + error.reason);
        return systemFailure;
    }
    return status;
}

} // namespace cli
