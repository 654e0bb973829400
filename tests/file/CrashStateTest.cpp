// SPDX-License-Identifier: MIT
// Power cuts during a save, checked the way crash-consistency studies check
// storage code (ALICE, OSDI 2014; CrashMonkey, OSDI 2018; SQLite's crash
// tests): record the file-system operations of a real save, build every
// state a power cut could leave on disk under the model below, write each
// state into a scratch directory, and load it.
//
// The model of a POSIX file system after a power cut, at any point of the
// recorded operations (any prefix of them happened):
// - File data written since the file's last fsync may be lost, partly lost,
//   or torn: the file may hold its last synced content, the newest content,
//   the newest cut short, or the newest with its tail read back as zeros (the
//   size reached the disk, the data did not), cut or zeroed at a quarter,
//   half or three quarters. An fsync makes the file's data
//   durable; it does not make its name durable.
// - Directory changes (creating, renaming, unlinking a name) since the
//   directory's last fsync may be lost, each independently of the others
//   (any subset of them survives, in order); a rename is atomic: the name
//   refers to the old file or to the new one, never to neither. An fsync of
//   the directory makes all its earlier changes durable.
// This is what ext4 with data=ordered (and data=journal), f2fs, btrfs and
// UBIFS give, and somewhat less: they all keep directory changes in order
// and ext4 and btrfs even flush a file renamed over another. It is not what
// ext4 with data=writeback, or with write barriers off, or FAT gives.
//
// Every state must load to exactly the old or the new container (or be
// without the file, if there was none before), and after the save has said
// true, exactly the new one. The checker is shown to find the faults of a
// save without fsync, without the directory's fsync, and of one writing in
// place.
#include "FileTest.h"
#include "SystemCalls.h"

#include <UnitTest++/UnitTest++.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <set>

#include <fcntl.h>
#include <unistd.h>

using namespace filetest;
using syscalls::Operation;

namespace {

using Names = std::map<std::string, std::size_t>; // name -> inode

// Makes a directory change: creating (the inode in offset), renaming,
// linking or unlinking a name.
void change(Names& names, const Operation& operation)
{
    if (operation.kind == Operation::create) {
        names[operation.name] = operation.offset;
    } else if (names.count(operation.name)) {
        if (operation.kind == Operation::rename || operation.kind == Operation::link) {
            names[operation.to] = names[operation.name];
        }
        if (operation.kind != Operation::link) {
            names.erase(operation.name);
        }
    }
}

// Every state the model allows after the first count operations of log,
// which started from the durable files of before.
std::set<Files> crashStates(const Files& before, const std::vector<Operation>& log, std::size_t count)
{
    struct Inode {
        std::string synced, current;
    };
    std::vector<Inode> inodes;
    Names names, synced;            // now, and as the directory's last fsync left them
    std::vector<Operation> pending; // the directory changes since then
    for (const auto& file : before) {
        names[file.first] = synced[file.first] = inodes.size();
        inodes.push_back({file.second, file.second});
    }
    for (std::size_t i = 0; i < count; ++i) {
        const Operation& operation = log[i];
        Inode* const inode = names.count(operation.name) ? &inodes[names[operation.name]] : nullptr;
        if (operation.kind == Operation::truncate) {
            inode->current.clear();
        } else if (operation.kind == Operation::write) {
            inode->current.resize(std::max(inode->current.size(), operation.offset + operation.data.size()));
            inode->current.replace(operation.offset, operation.data.size(), operation.data);
        } else if (operation.kind == Operation::fsync && inode != nullptr) {
            inode->synced = inode->current;
        } else if (operation.kind == Operation::fsync) { // of the directory
            synced = names;
            pending.clear();
        } else {
            pending.push_back(operation);
            if (operation.kind == Operation::create) {
                pending.back().offset = inodes.size();
                inodes.emplace_back();
            }
            change(names, pending.back());
        }
    }
    std::set<Files> states;
    for (unsigned long mask = 0; mask < 1ul << pending.size(); ++mask) {
        Names survivors = synced;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (mask >> i & 1) {
                change(survivors, pending[i]);
            }
        }
        std::vector<Files> partial = {Files()};
        for (const auto& name : survivors) {
            // Its synced data, or the newest whole, or cut short or its tail
            // zeroed at a quarter, half or three quarters when they differ.
            const Inode& file = inodes[name.second];
            std::set<std::string> contents = {file.synced, file.current};
            for (std::size_t quarter = file.synced == file.current ? 4 : 1; quarter < 4; ++quarter) {
                const std::size_t cut = file.current.size() * quarter / 4;
                contents.insert(file.current.substr(0, cut));
                contents.insert(file.current.substr(0, cut) + std::string(file.current.size() - cut, '\0'));
            }
            std::vector<Files> next;
            for (const std::string& content : contents) {
                for (Files files : partial) {
                    files[name.first] = content;
                    next.push_back(files);
                }
            }
            partial.swap(next);
        }
        states.insert(partial.begin(), partial.end());
    }
    return states;
}

const char* const target = "params.json";
const std::string oldText = version(20, "old").serialiseAsJSON() + "\n";
const CParameters newVersion = version(30, "new");

// A save recorded: the files it found in its directory, its operations, and
// what it said.
struct Recorded {
    Files before;
    std::vector<Operation> log;
    bool saved;
};

bool saveNew(const std::string& path) { return newVersion.saveJSONFile(path); }

// Records save(path) over the files before; a shortWrite-th call, if it is a
// write, writes only half, so that the text reaches the file in two writes.
Recorded record(const Files& before, long shortWrite = 0, const std::function<bool(const std::string&)>& save = saveNew)
{
    Scratch scratch(before);
    syscalls::Session session(shortWrite, 0);
    const bool saved = save(scratch.path(target));
    return {before, session.log, saved};
}

struct Verdict {
    int torn = 0;      // neither the old nor the new container
    int lost = 0;      // not the new one after the save said true
    int leftovers = 0; // states where a later save failed or left a temp
};

// Writes every state after every prefix of the recorded log into a scratch
// directory, loads it, and saves there once more, as the next save after
// the power cut would.
Verdict check(const std::string& what, const Recorded& recorded)
{
    Verdict verdict;
    int states = 0;
    const std::string newJSON = newVersion.serialiseAsJSON();
    const std::string oldJSON = recorded.before.count(target) ? version(20, "old").serialiseAsJSON() : "(none)";
    for (std::size_t count = 0; count <= recorded.log.size(); ++count) {
        for (const Files& state : crashStates(recorded.before, recorded.log, count)) {
            ++states;
            const Scratch scratch(state);
            const std::string path = scratch.path(target);
            const std::string json = state.count(target) == 0 ? "(none)" : loaded(path);
            verdict.torn += json != oldJSON && json != newJSON;
            verdict.lost += json == oldJSON && recorded.saved && count == recorded.log.size();
            verdict.leftovers += !version(5, "later").saveJSONFile(path) || countTemps(scratch.dir) != 0;
        }
    }
    std::cout << what << ": " << recorded.log.size() << " operations, " << states << " states, " << verdict.torn
              << " torn, " << verdict.lost << " lost after success, " << verdict.leftovers << " with leftovers\n";
    return verdict;
}

// The recorded log without the operations of a kind.
Recorded withoutKind(Recorded recorded, Operation::Kind kind)
{
    auto& log = recorded.log;
    log.erase(std::remove_if(log.begin(), log.end(), [&](const Operation& o) { return o.kind == kind; }), log.end());
    return recorded;
}

// Every state of a save over params.json, whose last good version holds
// an older one: each file holds one of its two versions, whole, at least
// one of them loads, and after a save that said true the file is the new
// version and the last good one the old. Counts the states that break it.
int generationFaults(const std::string& what, const Recorded& recorded)
{
    const char* const lastGood = "params.json.last-good";
    const std::string older = version(10, "older").serialiseAsJSON(), old = version(20, "old").serialiseAsJSON(),
                      newer = newVersion.serialiseAsJSON();
    int faults = 0, states = 0;
    for (std::size_t count = 0; count <= recorded.log.size(); ++count) {
        for (const Files& state : crashStates(recorded.before, recorded.log, count)) {
            const Scratch scratch(state);
            const std::string file = loaded(scratch.path(target)), good = loaded(scratch.path(lastGood));
            const bool done = recorded.saved && count == recorded.log.size();
            faults += (file != old && file != newer) || (good != older && good != old) ||
                      (done && (file != newer || good != old));
            ++states;
        }
    }
    std::cout << what << ": " << recorded.log.size() << " operations, " << states << " states, " << faults
              << " faulty\n";
    return faults;
}

Recorded without(Recorded recorded, bool directory)
{
    auto& log = recorded.log;
    const auto sync = [&](const Operation& operation) {
        return operation.kind == Operation::fsync && operation.name.empty() == directory;
    };
    log.erase(std::remove_if(log.begin(), log.end(), sync), log.end());
    return recorded;
}

} // namespace

SUITE(PowerCuts)
{
    // Over an old file, making a new one and beside the temp of a killed
    // save, each also with the text going out in two writes.
    TEST(EverySaveLeavesTheOldOrTheNewFile)
    {
        int inPieces = 0;
        for (const auto& [what, before] : std::map<std::string, Files>{
                 {"save over an old file", {{target, oldText}}},
                 {"save of a new file", {}},
                 {"save beside a stale temp", {{target, oldText}, {".params.json.tmp-AAAAAAAAAAAA", "{\"p0\":"}}}}) {
            for (long call = 0; call < 40; ++call) {
                const Recorded recorded = record(before, call);
                const bool twoWrites = std::count_if(recorded.log.begin(), recorded.log.end(),
                                                     [](const Operation& o) { return o.kind == Operation::write; }) > 1;
                if (call == 0 || twoWrites) {
                    const Verdict verdict = check(what + (twoWrites ? " in two writes" : ""), recorded);
                    CHECK(recorded.saved && verdict.torn + verdict.lost + verdict.leftovers == 0);
                    inPieces += twoWrites;
                }
            }
        }
        CHECK_EQUAL(3, inPieces); // each save went on after its short write
    }

    // The last good version too is its old or its new version, whole, and
    // one of the two loads; the checker finds a save that leaves it behind.
    TEST(EverySaveKeepsTheVersionItReplaces)
    {
        const Files before = {{target, oldText}, {"params.json.last-good", version(10, "older").serialiseAsJSON()}};
        const Recorded save = record(before);
        CHECK(save.saved && generationFaults("save keeping the last good version", save) == 0);
        CHECK(generationFaults("save without the link", withoutKind(save, Operation::link)) > 0);
    }

    // A damaged file is never lost to the save that replaces it: in every
    // state where the file is the new version, the damaged one is there as
    // evidence; the last good version is not touched.
    TEST(ASaveOverADamagedFileKeepsItAsEvidence)
    {
        const std::string damaged = "{\"p0\":\"old-0\",", older = version(10, "older").serialiseAsJSON();
        const Recorded save = record({{target, damaged}, {"params.json.last-good", older}});
        int faults = 0;
        for (std::size_t count = 0; count <= save.log.size(); ++count) {
            for (const Files& state : crashStates(save.before, save.log, count)) {
                const bool kept = std::any_of(state.begin(), state.end(), [&](const Files::value_type& file) {
                    return file.first.compare(0, 20, "params.json.damaged-") == 0 && file.second == damaged;
                });
                const Scratch scratch(state);
                const std::string file = state.count(target) ? state.at(target) : "";
                faults += loaded(scratch.path("params.json.last-good")) != older ||
                          (file != damaged && (loaded(scratch.path(target)) != newVersion.serialiseAsJSON() || !kept));
            }
        }
        CHECK(save.saved);
        CHECK_EQUAL(0, faults);
    }

    // The checker is not vacuous: the same save without its fsync of the
    // file, without the directory's, or a save that writes in place, is
    // caught.
    TEST(TheModelCatchesSavesThatSkipAnFsyncOrWriteInPlace)
    {
        const Recorded save = record({{target, oldText}});
        const std::string text = newVersion.serialiseAsJSON() + "\n";
        const Recorded inPlace = record({{target, oldText}}, 0, [&](const std::string& path) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
            const bool written =
                ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
            return ::close(fd) == 0 && written;
        });
        CHECK(check("without fsync of the file", without(save, false)).torn > 0);
        const Verdict verdict = check("without fsync of the directory", without(save, true));
        CHECK(verdict.torn == 0 && verdict.lost > 0);
        CHECK(inPlace.saved && check("writing in place", inPlace).torn > 0);
    }
}
