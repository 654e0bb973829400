// SPDX-License-Identifier: MIT
// cparameters: a parameter file from the shell. This file reads the options
// and hands the operands to the command, each of which lives in a file of
// its own; Tool.cpp holds the frame they share.
#include "Tool.h"

#include <cstdlib>
#include <iostream>
#include <sstream>

#include <getopt.h>

namespace cli {

extern const char usageText[] = R"(usage: cparameters get FILE NAME [DEFAULT]
       cparameters set [--json] FILE NAME VALUE [NAME VALUE]...
       cparameters remove FILE NAME...
       cparameters reset FILE NAME... | reset --all FILE
       cparameters list [--origin] FILE
       cparameters changes FILE
       cparameters check FILE...
       cparameters export [--delimited NAMESEP ENTRYSEP] FILE
       cparameters import [--delimited NAMESEP ENTRYSEP] FILE
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
get, list, changes and export read a missing FILE as empty. set, remove,
reset and import hold an exclusive lock on FILE.lock while they change FILE.
Every command takes --defaults DFILE (repeatable: read-only layers under
FILE, each higher than the one before) and --defaults-optional DFILE (one
that may be missing); without them CPARAMETERS_DEFAULTS lists DFILEs
separated by ':', a leading '?' marking one that may be missing. Reads see
the layers merged, FILE highest; changes write FILE alone.
get, list and export read a missing FILE as empty. set, remove and import
hold an exclusive lock on FILE.lock while they change FILE.
--schema SCHEMA (or $CPARAMETERS_SCHEMA) names a JSON Schema of FILE: check
also reports each value that violates it, set and import refuse such values
and changes of read-only ones, and the
schema's defaults are the lowest layer.

Exit status: 0 done; 1 absent name or rejected text; 2 usage error;
3 system error (FILE or a stream could not be read, written or locked).
)";

} // namespace cli

using namespace cli;

namespace {

const struct {
    const char* name;
    int (*run)(const Args&, const Options&);
} commands[] = {{"get", get},     {"set", set},           {"remove", remove},    {"list", list},
                {"check", check}, {"export", exportFile}, {"import", importFile}, {"reset", reset},
                {"changes", changes}};

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
// operand); returns the index of that operand, or -1 after a bad option. The
// messages are our own, the same on every C library.
int parseOptions(int argc, char** argv, Options& options)
{
    static const option table[] = {{"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, 'V'},
                                   {"json", no_argument, nullptr, 'j'},
                                   {"delimited", required_argument, nullptr, 'd'},
                                   {"schema", required_argument, nullptr, 's'},
                                   {"defaults", required_argument, nullptr, 'D'},
                                   {"defaults-optional", required_argument, nullptr, 'O'},
                                   {"all", no_argument, nullptr, 'a'},
                                   {"origin", no_argument, nullptr, 'o'},
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
                                                : optopt == 'D' ? "--defaults takes DFILE"
                                                                : "--defaults-optional takes DFILE"));
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
    if (options.schemaGiven && options.schema.empty()) {
        return usage("SCHEMA is empty");
    }
    if (!options.schemaGiven) {
        const char* const named = std::getenv("CPARAMETERS_SCHEMA");
        options.schema = named != nullptr ? named : "";
    }
    const std::string command = argv[first];
    const std::vector<std::string> args(argv + first + rest, argv + argc);
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
    for (const auto& entry : commands) {
        if (command == entry.name) {
            return entry.run(args, options);
        }
    }
    return usage("unknown command '" + command + "'");
}
