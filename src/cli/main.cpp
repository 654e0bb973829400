// SPDX-License-Identifier: MIT
// cparameters: a parameter file from the shell. This file reads the options
// and hands the operands to the command, each of which lives in a file of
// its own; Tool.cpp holds the frame they share.
#include "Tool.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <sstream>

#include <getopt.h>
#include <unistd.h>

namespace cli {

extern const char usageText[] = R"(usage: cparameters get [--pointer] FILE NAME [DEFAULT]
       cparameters set [--json] FILE NAME VALUE [NAME VALUE]...
       cparameters set --pointer [--json] [--parents] FILE POINTER VALUE...
       cparameters remove [--pointer] FILE NAME...
       cparameters reset FILE NAME... | reset --all FILE
       cparameters list [--origin] FILE
       cparameters changes FILE
       cparameters check FILE...
       cparameters export [--delimited NAMESEP ENTRYSEP] FILE
       cparameters import [--delimited NAMESEP ENTRYSEP] FILE
       cparameters patch [--json-patch] [--if-newer NAME=N] [--print] FILE
       cparameters repair FILE
       cparameters --help | --version

FILE holds one JSON object, as CParameters::saveJSONFile writes it.
  get      print the value of NAME (a string as its text, else compact JSON);
           DEFAULT when NAME is absent
  set      store the VALUEs as strings (--json: as JSON values) in one save
  remove   remove the NAMEs in one save
  reset    remove the NAMEs (--all: every entry) from FILE in one save, so
           that they read their defaults again
  list     print one "name = value" line per entry (--origin: then a tab
           and where the value comes from)
  changes  list what FILE changes against the defaults
  check    report each bad FILE as FILE:LINE:COLUMN: reason
  export   print FILE as one JSON line (--delimited: NAME NAMESEP VALUE,
           entries joined by ENTRYSEP)
  import   merge standard input, in the same form, into FILE in one save
  patch    apply the JSON merge patch (--json-patch: the JSON Patch) on
           standard input to FILE in one save, all or nothing; --if-newer:
           only where NAME is absent or below N, NAME then set to N;
           --print: print FILE as it is afterwards, as one JSON line
  repair   restore FILE.last-good when FILE is damaged (kept as FILE.damaged-*)
--pointer: NAME is a JSON Pointer, "/net/mtu" member mtu of parameter net;
set --pointer stores at POINTERs of existing objects and arrays ("-"
appends), or --parents makes the missing objects on the way; all in one save.
get, list, changes and export read a missing FILE as empty. set, remove,
reset, import and patch hold an exclusive lock on FILE.lock while they
change FILE. Each save keeps the version it replaces as FILE.last-good,
which serves, with a warning, when FILE is damaged.
Every command takes --defaults DFILE (repeatable: read-only layers under
FILE, each higher than the one before) and --defaults-optional DFILE (one
that may be missing); without them CPARAMETERS_DEFAULTS lists DFILEs
separated by ':', a leading '?' marking one that may be missing. Reads see
the layers merged, FILE highest; changes write FILE alone.
--schema SCHEMA (or $CPARAMETERS_SCHEMA) names a JSON Schema of FILE: its
defaults are the lowest layer; every command reports each value of a layer
that violates it, and a required name no layer holds; a change that would
add a violation, or change a read-only value, saves nothing.

Exit status: 0 done; 1 absent name or rejected text; 2 usage error;
3 system error (FILE or a stream could not be read, written or locked);
4 patch --if-newer not newer: nothing changed.
)";

} // namespace cli

using namespace cli;

namespace {

const struct {
    const char* name;
    int (*run)(const Args&, const Options&);
} commands[] = {{"get", get},     {"set", set},           {"remove", remove},    {"list", list},
                {"check", check}, {"export", exportFile}, {"import", importFile}, {"patch", patch}, {"repair", repair},
                {"reset", reset},   {"changes", changes}};

// The defaults files of CPARAMETERS_DEFAULTS: paths separated by ':', a
// leading '?' marking one that may be missing, empty ones skipped. A path
// that holds ':' or begins with '?' is given with --defaults instead.
void defaultsFromEnvironment(Options& options)
{
    const char* const list = std::getenv("CPARAMETERS_DEFAULTS");
    std::istringstream paths(list != nullptr ? list : "");
    for (std::string path; std::getline(paths, path, ':');) {
        if (path == "?" || path.empty()) {
            continue;
        }
        const bool optional = path[0] == '?';
        options.defaults.push_back({path.substr(optional), optional});
    }
}

// Parses the options at the front of argv (getopt_long stops at the first
// operand, and after a "--", which it notes in \p ended); returns the index
// of that operand, or -1 after a bad option. The messages are our own, the
// same on every C library.
int parseOptions(int argc, char** argv, Options& options, bool& ended)
{
    static const option table[] = {{"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, 'V'},
                                   {"json", no_argument, nullptr, 'j'},
                                   {"delimited", required_argument, nullptr, 'd'},
                                   {"pointer", no_argument, nullptr, 'p'},
                                   {"parents", no_argument, nullptr, 'P'},
                                   {"json-patch", no_argument, nullptr, 'J'},
                                   {"print", no_argument, nullptr, 'r'},
                                   {"if-newer", required_argument, nullptr, 'n'},
                                   {"schema", required_argument, nullptr, 's'},
                                   {"defaults", required_argument, nullptr, 'D'},
                                   {"defaults-optional", required_argument, nullptr, 'O'},
                                   {"all", no_argument, nullptr, 'a'},
                                   {"origin", no_argument, nullptr, 'o'},
                                   {nullptr, 0, nullptr, 0}};
    optind = 0; // starts the scan afresh, on glibc and musl alike
    opterr = 0;
    int before = 1;
    for (int c; (before = std::max(optind, 1)), (c = ::getopt_long(argc, argv, "+:h", table, nullptr)) != -1;) {
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
        case 's':
            options.schema = optarg;
            options.schemaGiven = true;
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
        case 'p':
            options.pointer = true;
            break;
        case 'P':
            options.parents = true;
            break;
        case 'J':
            options.jsonPatch = true;
            break;
        case 'r':
            options.print = true;
            break;
        case 'n':
            if (*optarg == '\0') {
                say("cparameters: --if-newer takes NAME=N");
                return -1;
            }
            options.ifNewer = optarg;
            break;
        case 'D':
        case 'O':
            options.defaults.push_back({optarg, c == 'O'});
            options.defaultsGiven = true;
            break;
        case 'a':
            options.all = true;
            break;
        case 'o':
            options.origin = true;
            break;
        case ':':
            say(std::string("cparameters: ") + (optopt == 'd'   ? "--delimited takes NAMESEP ENTRYSEP"
                                                : optopt == 's' ? "--schema takes SCHEMA"
                                                : optopt == 'n' ? "--if-newer takes NAME=N"
                                                : optopt == 'D' ? "--defaults takes DFILE"
                                                                : "--defaults-optional takes DFILE"));
            return -1;
        default:
            say(std::string("cparameters: unknown option '") + argv[optind - 1] + "'");
            return -1;
        }
    }
    ended = ended || (optind == before + 1 && std::strcmp(argv[before], "--") == 0);
    return optind;
}

// The tool proper; main() adds what no command may end by.
int run(int argc, char** argv)
{
    Options options;
    // The options before the command, then those after it. The first "--"
    // ends them wherever it stands: before the command, before the operands
    // or among them; any later one is an operand.
    bool ended = false;
    int first = parseOptions(argc, argv, options, ended);
    int rest = -1;
    if (first >= 0 && first < argc) {
        rest = ended ? 1 : parseOptions(argc - first, argv + first, options, ended);
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
    if (options.schemaGiven && options.schema.empty()) {
        return usage("SCHEMA is empty");
    }
    if (!options.schemaGiven) {
        const char* const named = std::getenv("CPARAMETERS_SCHEMA");
        options.schema = named != nullptr ? named : "";
    }
    const std::string command = argv[first];
    std::vector<std::string> args(argv + first + rest, argv + argc);
    if (!ended) {
        const auto dashes = std::find(args.begin(), args.end(), "--");
        if (dashes != args.end()) {
            args.erase(dashes);
        }
    }
    if (!args.empty() && args[0].empty()) {
        return usage("FILE is empty");
    }
    if (!options.defaultsGiven) {
        defaultsFromEnvironment(options);
    }
    if (options.all && command != "reset") {
        return usage("--all is an option of reset only");
    }
    if (options.origin && command != "list") {
        return usage("--origin is an option of list only");
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
    if (options.pointer && command != "get" && command != "set" && command != "remove") {
        return usage("--pointer is an option of get, set and remove only");
    }
    if (options.parents && !(options.pointer && command == "set")) {
        return usage("--parents is an option of set --pointer only");
    }
    if ((options.jsonPatch || options.print || !options.ifNewer.empty()) && command != "patch") {
        return usage("--json-patch, --if-newer and --print are options of patch only");
    }
    for (const auto& entry : commands) {
        if (command == entry.name) {
            return entry.run(args, options);
        }
    }
    return usage("unknown command '" + command + "'");
}

} // namespace

// Never ends by a signal or an exception: writes to a closed pipe and past a
// file size limit fail as calls (SIGPIPE and SIGXFSZ ignored), and running
// out of memory is a system error like any other, said without allocating.
// A change that runs out of memory has saved nothing.
int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        static const char message[] = "cparameters: out of memory\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, message, sizeof message - 1);
        return systemFailure;
    } catch (const std::exception& e) {
        say(std::string("cparameters: ") + e.what());
        return systemFailure;
    }
}
