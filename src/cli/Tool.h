// SPDX-License-Identifier: MIT
// What the commands of cparameters share: the options, the exit statuses,
// the messages, and the one way every command loads FILE and saves a change.
// Each command lives in a file of its own (get.cpp, set.cpp, ...); main.cpp
// parses the options and hands the operands to the command.
#ifndef CPARAMETERS_CLI_TOOL_H
#define CPARAMETERS_CLI_TOOL_H

#include "CParameterFile.h"
#include "CParameters.h"
#include "Layers.h"

#include <functional>
#include <string>
#include <vector>

namespace cli {

// The exit statuses, as --help and the manual page state them.
enum Status { done = 0, rejected = 1, usageError = 2, systemFailure = 3, stale = 4 };

// A defaults file, and whether it may be missing.
struct Defaults {
    std::string path;
    bool optional;
};

struct Options {
    bool help = false;
    bool version = false;
    bool json = false;
    bool delimited = false;
    std::string nameSeparator;
    std::string entrySeparator;
    bool all = false;    // reset --all
    bool origin = false; // list --origin
    // The read-only layers under FILE, lowest first: --defaults and
    // --defaults-optional in their order, else CPARAMETERS_DEFAULTS.
    std::vector<Defaults> defaults;
    bool defaultsGiven = false;
    bool pointer = false;   // get, set, remove: JSON Pointers, not names
    bool parents = false;   // set --pointer: missing objects on the way made
    bool jsonPatch = false; // patch: RFC 6902, not RFC 7396
    bool print = false;     // patch: the resulting file printed
    std::string ifNewer;    // patch: NAME=N, or empty
    std::string schema;     // --schema, else $CPARAMETERS_SCHEMA; empty for none
    bool schemaGiven = false;
};

// A command's operands, FILE first.
using Args = std::vector<std::string>;

// One line on standard error, in one write.
void say(const std::string& message);
// "cparameters: PROBLEM" and the usage on standard error; usageError.
int usage(const std::string& problem);
// "cparameters: WHERE: CALL: strerror(errno)"; systemFailure.
int systemFault(const std::string& where, const char* call);
// A failed load or read of a text: FILE:LINE:COLUMN: reason (rejected), or
// the failed system call (systemFailure).
int loadFault(const std::string& where, const CParameters::TextError& error);
// Reads all of standard input into \p text; a failed read is a system error.
int readStandardInput(std::string& text);
// Flushes standard output; a failed write is a system error.
int flushOutput();

// A value as get prints it: a string as its text, anything else as compact
// JSON written as the file writes it.
std::string valueText(const Json::Value& value);
// One JSON value from an argument, read by the file's own reader.
bool readJSONValue(const std::string& text, Json::Value& value, CParameters::TextError& error);

// What a command works on. Built only by load() and changeFile(), so that
// every command sees FILE the same way.
struct View {
    // The defaults files under FILE's own entries, the device layer: what
    // reads see merged, and the only layer a change touches and saves.
    CParameterLayers layers;
    CParameters& file = layers.device(); // the device layer, changed in place
    CParameterSchema schema;             // SCHEMA's declarations, when declared
    bool declared = false;
    bool unreadable = false; // neither FILE nor its last good version loads
    // FILE's parameters whose values broke SCHEMA and fell back to the last
    // good version's value, or out of FILE's layer.
    std::vector<std::string> fellBack;
};

// Loads SCHEMA where one is named, the defaults files, then FILE, into
// \p view, and reports how they break SCHEMA (status rejected); a missing
// FILE is empty where \p missingIsEmpty. With \p only, each file is read and
// checked whole but only that entry kept (a view for get, never saved). A
// damaged FILE is reported, and its last good version serves, with a
// warning; when neither loads, the fault of FILE is the status.
int load(const Options& options, const std::string& file, bool missingIsEmpty, View& view,
         const std::string* only = nullptr);

// Reads SCHEMA, where one is named, into \p view, once; load() calls it.
int loadSchema(const Options& options, View& view);

// The view of a command that only reads. It lives until the process ends,
// whose end takes the memory back at once, where destroying the values one
// by one would cost a tenth of a get at 10,000 entries.
View& keptView();

// The load-change-save of a changing command, under the library's lock on
// FILE.lock (CParameterFileLock): \p change returns the command's status and
// sets \p changed when there is anything to save. A change that saves
// nothing removes the lock file again where it made it.
using Change = std::function<int(View& view, bool& changed)>;
int changeFile(const Options& options, const std::string& file, const Change& change);

// Merges \p incoming into the view's file, refused whole (status rejected,
// each reason said as "cparameters: FILE: reason") when a value violates
// SCHEMA or would change a read-only parameter.
int mergeChecked(const std::string& file, View& view, const CParameters& incoming, bool& changed);

// The commands, each in its own file.
int get(const Args& args, const Options& options);
int set(const Args& args, const Options& options);
int remove(const Args& args, const Options& options);
int list(const Args& args, const Options& options);
int check(const Args& args, const Options& options);
int exportFile(const Args& args, const Options& options);
int importFile(const Args& args, const Options& options);
int reset(const Args& args, const Options& options);
int changes(const Args& args, const Options& options);
int repair(const Args& args, const Options& options);
int patch(const Args& args, const Options& options);
// set --pointer (with the VALUEs read) and remove --pointer (values null):
// pointer by pointer in one change, the first that fails saving nothing.
int changeAtPointers(const Args& args, const Options& options, const std::vector<Json::Value>* values);

} // namespace cli

#endif
