// SPDX-License-Identifier: MIT
// cparameters: a parameter file from the shell. Every command loads FILE
// whole; the changing ones (set, remove, import) save it in one atomic save
// while they hold an exclusive lock on FILE.lock, so that concurrent changes
// never lose one another's updates. Readers take no lock: a save replaces
// FILE by rename, so they always read one whole version.
#include "CParameters.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <getopt.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The exit statuses, as --help and the manual page state them.
enum Status { done = 0, rejected = 1, usageError = 2, systemFailure = 3 };

const char usageText[] = R"(usage: cparameters get FILE NAME [DEFAULT]
       cparameters set [--json] FILE NAME VALUE [NAME VALUE]...
       cparameters remove FILE NAME...
       cparameters list FILE
       cparameters check FILE...
       cparameters export [--delimited NAMESEP ENTRYSEP] FILE
       cparameters import [--delimited NAMESEP ENTRYSEP] FILE
       cparameters --help | --version

FILE holds one JSON object, as CParameters::saveJSONFile writes it.
  get      print the value of NAME (a string as its text, else compact JSON);
           DEFAULT when NAME is absent
  set      store the VALUEs as strings (--json: as JSON values) in one save
  remove   remove the NAMEs in one save
  list     print one "name = value" line per entry
  check    report each bad FILE as FILE:LINE:COLUMN: reason
  export   print FILE as one JSON line (--delimited: NAME NAMESEP VALUE,
           entries joined by ENTRYSEP)
  import   merge standard input, in the same form, into FILE in one save
get, list and export read a missing FILE as empty. set, remove and import
hold an exclusive lock on FILE.lock while they change FILE.

Exit status: 0 done; 1 absent name or rejected text; 2 usage error;
3 system error (FILE or a stream could not be read, written or locked).
)";

struct Options {
    bool help = false;
    bool version = false;
    bool json = false;
    bool delimited = false;
    std::string nameSeparator;
    std::string entrySeparator;
};

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

int saveFault(const std::string& file, const CParameters::TextError& error)
{
    say("cparameters: " + file + ": " + error.reason);
    return systemFailure;
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

// Loads FILE; a missing one is an empty store where \p missingIsEmpty.
int load(CParameters& store, const std::string& file, bool missingIsEmpty)
{
    CParameters::TextError error;
    if (store.loadJSONFile(file, error) || (missingIsEmpty && error.systemError == ENOENT)) {
        return done;
    }
    return loadFault(file, error);
}

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

// The store of a command that only reads. The process's end takes its memory
// back at once, where destroying the values one by one would cost a tenth of
// a get at 10,000 entries; a static pointer holds it, so it is no leak.
CParameters& keptStore()
{
    static CParameters* const store = new CParameters;
    return *store;
}

// The load-change-save of set, remove and import under the lock.
// \p change returns the command's status and whether there is anything to
// save.
template <typename Change> int changeFile(const std::string& file, Change change)
{
    Lock lock;
    CParameters store;
    int status = lock.acquire(file);
    if (status == done) {
        status = load(store, file, true);
    }
    if (status != done) {
        return status;
    }
    bool changed = false;
    status = change(store, changed);
    CParameters::TextError error;
    if (changed && !store.saveJSONFile(file, error)) {
        return saveFault(file, error);
    }
    return status;
}

int get(const std::vector<std::string>& args)
{
    if (args.size() < 2 || args.size() > 3) {
        return usage("get takes FILE NAME [DEFAULT]");
    }
    CParameters& store = keptStore();
    if (const int status = load(store, args[0], true)) {
        return status;
    }
    // exists() and getParam() look the name up in logarithmic time, where
    // find() walks the entries to give an iterator.
    if (store.exists(args[1])) {
        std::cout << valueText(store.getParam(args[1])) << '\n';
    } else if (args.size() == 3) {
        std::cout << args[2] << '\n';
    } else {
        return rejected;
    }
    return flushOutput();
}

int set(const std::vector<std::string>& args, bool json)
{
    if (args.size() < 3 || args.size() % 2 == 0) {
        return usage("set takes FILE NAME VALUE [NAME VALUE]...");
    }
    CParameters values;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        Json::Value value(args[i + 1]);
        CParameters::TextError error;
        if (json && !readJSONValue(args[i + 1], value, error)) {
            say("cparameters: value of " + args[i] + ": " + error.message());
            return rejected;
        }
        values.setParam(args[i], value);
    }
    return changeFile(args[0], [&](CParameters& store, bool& changed) {
        store.append(values);
        changed = true;
        return done;
    });
}

int remove(const std::vector<std::string>& args)
{
    if (args.size() < 2) {
        return usage("remove takes FILE NAME...");
    }
    return changeFile(args[0], [&](CParameters& store, bool& changed) {
        int status = done;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (store.removeParam(args[i])) {
                changed = true;
            } else if (std::find(args.begin() + 1, args.begin() + i, args[i]) == args.begin() + i) {
                say("cparameters: " + args[0] + ": no " + args[i]);
                status = rejected;
            }
        }
        return status;
    });
}

int list(const std::vector<std::string>& args)
{
    if (args.size() != 1) {
        return usage("list takes FILE");
    }
    CParameters& store = keptStore();
    if (const int status = load(store, args[0], true)) {
        return status;
    }
    store.print();
    return flushOutput();
}

int check(const std::vector<std::string>& args)
{
    if (args.empty()) {
        return usage("check takes FILE...");
    }
    int status = done;
    for (const std::string& file : args) {
        CParameters store;
        status = std::max(status, load(store, file, false));
    }
    return status;
}

int exportFile(const std::vector<std::string>& args, const Options& options)
{
    if (args.size() != 1) {
        return usage("export takes FILE");
    }
    CParameters& store = keptStore();
    if (const int status = load(store, args[0], true)) {
        return status;
    }
    if (!options.delimited) {
        std::cout << store.serialiseAsJSON() << '\n';
    } else if (store.begin() != store.end()) {
        std::cout << store.serialise(options.nameSeparator, options.entrySeparator) << '\n';
    }
    return flushOutput();
}

int importFile(const std::vector<std::string>& args, const Options& options)
{
    if (args.size() != 1) {
        return usage("import takes FILE");
    }
    // Read and checked before the lock is taken, so that a slow writer to
    // the pipe does not hold up other changes.
    std::string text;
    char buffer[65536];
    for (ssize_t got; (got = ::read(STDIN_FILENO, buffer, sizeof buffer)) != 0;) {
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (errno != EINTR) {
            return systemFault("standard input", "read");
        }
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
    return changeFile(args[0], [&](CParameters& store, bool& changed) {
        store.append(incoming);
        changed = true;
        return done;
    });
}

// Parses the options at the front of argv (getopt_long stops at the first
// operand); returns the index of that operand, or -1 after a bad option. The
// messages are our own, the same on every C library.
int parseOptions(int argc, char** argv, Options& options)
{
    static const option table[] = {{"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, 'V'},
                                   {"json", no_argument, nullptr, 'j'},
                                   {"delimited", required_argument, nullptr, 'd'},
                                   {nullptr, 0, nullptr, 0}};
    optind = 0; // starts the scan afresh, on glibc and musl alike
    opterr = 0;
    for (int c; (c = ::getopt_long(argc, argv, "+:", table, nullptr)) != -1;) {
        switch (c) {
        case 'h':
            options.help = true;
            break;
        case 'V':
            options.version = true;
            break;
        case 'j':
            options.json = true;
            break;
        case 'd':
            if (optind >= argc) {
                say("cparameters: --delimited takes NAMESEP ENTRYSEP");
                return -1;
            }
            options.delimited = true;
            options.nameSeparator = optarg;
            options.entrySeparator = argv[optind++];
            break;
        case ':':
            say("cparameters: --delimited takes NAMESEP ENTRYSEP");
            return -1;
        default:
            say(std::string("cparameters: unknown option '") + argv[optind - 1] + "'");
            return -1;
        }
    }
    return optind;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    // The options before the command, then those after it.
    int first = parseOptions(argc, argv, options);
    int rest = -1;
    if (first >= 0 && first < argc) {
        rest = parseOptions(argc - first, argv + first, options);
    }
    if (first < 0 || (first < argc && rest < 0)) {
        std::cerr << usageText;
        return usageError;
    }
    if (options.help) {
        std::cout << usageText;
        return flushOutput();
    }
    if (options.version) {
        std::cout << "cparameters " CPARAMETERS_VERSION "\n";
        return flushOutput();
    }
    if (first == argc) {
        return usage("no command");
    }
    const std::string command = argv[first];
    const std::vector<std::string> args(argv + first + rest, argv + argc);
    if (!args.empty() && args[0].empty()) {
        return usage("FILE is empty");
    }
    if (options.json && command != "set") {
        return usage("--json is an option of set only");
    }
    if (options.delimited && command != "export" && command != "import") {
        return usage("--delimited is an option of export and import only");
    }
    if (options.delimited && (options.nameSeparator.empty() || options.entrySeparator.empty() ||
                              options.nameSeparator == options.entrySeparator)) {
        return usage("NAMESEP and ENTRYSEP must be two different, non-empty texts");
    }
    if (command == "get") {
        return get(args);
    } else if (command == "set") {
        return set(args, options.json);
    } else if (command == "remove") {
        return remove(args);
    } else if (command == "list") {
        return list(args);
    } else if (command == "check") {
        return check(args);
    } else if (command == "export") {
        return exportFile(args, options);
    } else if (command == "import") {
        return importFile(args, options);
    }
    return usage("unknown command '" + command + "'");
}
