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
#include <iostream>
#include <map>
#include <set>

#include <fcntl.h>
#include <unistd.h>

using namespace filetest;
using syscalls::Operation;

namespace {

using Files = std::map<std::string, std::string>; // name -> content

struct Inode {
    std::string synced, current;
};

// Replays the first count operations from the durable files of before.
struct Replay {
    Replay(const Files& before, const std::vector<Operation>& log, std::size_t count)
    {
        for (const auto& file : before) {
            entries[file.first] = syncedEntries[file.first] = inodes.size();
            inodes.push_back({file.second, file.second});
        }
        for (std::size_t i = 0; i < count; ++i) {
            apply(log[i]);
        }
    }

    void apply(const Operation& operation)
    {
        switch (operation.kind) {
        case Operation::create:
            entries[operation.name] = inodes.size();
            inodes.push_back({"", ""});
            pending.push_back({operation, entries[operation.name]});
            break;
        case Operation::truncate:
            inodes[entries.at(operation.name)].current.clear();
            break;
        case Operation::write: {
            std::string& content = inodes[entries.at(operation.name)].current;
            if (content.size() < operation.offset + operation.data.size()) {
                content.resize(operation.offset + operation.data.size(), '\0');
            }
            content.replace(operation.offset, operation.data.size(), operation.data);
            break;
        }
        case Operation::fsync:
            if (operation.name.empty()) {
                syncedEntries = entries;
                pending.clear();
            } else {
                Inode& inode = inodes[entries.at(operation.name)];
                inode.synced = inode.current;
            }
            break;
        case Operation::rename:
            entries[operation.to] = entries.at(operation.name);
            entries.erase(operation.name);
            pending.push_back({operation, 0});
            break;
        case Operation::unlink:
            entries.erase(operation.name);
            pending.push_back({operation, 0});
            break;
        }
    }

    // The names that survive when the pending directory changes in mask do.
    std::map<std::string, std::size_t> directory(unsigned long mask) const
    {
        std::map<std::string, std::size_t> names = syncedEntries;
        for (std::size_t i = 0; i < pending.size(); ++i) {
            if (!(mask >> i & 1)) {
                continue;
            }
            const Operation& operation = pending[i].first;
            if (operation.kind == Operation::create) {
                names[operation.name] = pending[i].second;
            } else if (names.count(operation.name)) {
                if (operation.kind == Operation::rename) {
                    names[operation.to] = names[operation.name];
                }
                names.erase(operation.name);
            }
        }
        return names;
    }

    // What an inode may hold after the cut.
    std::set<std::string> contents(std::size_t inode) const
    {
        const Inode& i = inodes[inode];
        if (i.synced == i.current) {
            return {i.current};
        }
        std::set<std::string> possible = {i.synced, i.current};
        for (const std::size_t quarter : {1, 2, 3}) {
            const std::size_t cut = i.current.size() * quarter / 4;
            std::string zeros = i.current;
            std::fill(zeros.begin() + static_cast<std::ptrdiff_t>(cut), zeros.end(), '\0');
            possible.insert(zeros);
            possible.insert(i.current.substr(0, cut));
        }
        return possible;
    }

    std::vector<Inode> inodes;
    std::map<std::string, std::size_t> entries, syncedEntries;
    std::vector<std::pair<Operation, std::size_t>> pending; // directory changes since its last fsync
};

// Every state the model allows after the first count operations.
std::set<Files> crashStates(const Files& before, const std::vector<Operation>& log, std::size_t count)
{
    const Replay replay(before, log, count);
    std::set<Files> states;
    for (unsigned long mask = 0; mask < 1ul << replay.pending.size(); ++mask) {
        std::vector<Files> partial = {Files()};
        for (const auto& name : replay.directory(mask)) {
            std::vector<Files> next;
            for (const std::string& content : replay.contents(name.second)) {
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

struct Verdict {
    int states = 0;
    int torn = 0;      // neither the old nor the new container
    int lost = 0;      // not the new one after the save said true
    int leftovers = 0; // temps that a later save did not remove
};

const char* const target = "params.json";

// Checks every state after every prefix of log, from a save that found the
// files before in its directory, was to make the target load to newJSON,
// and said saved. oldJSON is what the target loaded to before, "(none)" if
// there was no target.
Verdict check(const Files& before, const std::vector<Operation>& log, bool saved, const std::string& oldJSON,
              const std::string& newJSON)
{
    Verdict verdict;
    Scratch scratch;
    const std::string path = scratch.path(target);
    const CParameters later = version(5, "later");
    for (std::size_t count = 0; count <= log.size(); ++count) {
        for (const Files& state : crashStates(before, log, count)) {
            ++verdict.states;
            for (const auto& entry : fs::directory_iterator(scratch.dir)) {
                fs::remove(entry.path());
            }
            for (const auto& file : state) {
                writeFile(scratch.path(file.first), file.second);
            }
            const std::string json = state.count(target) == 0 ? "(none)" : loaded(path);
            if (json != oldJSON && json != newJSON) {
                ++verdict.torn;
            } else if (saved && count == log.size() && json != newJSON) {
                ++verdict.lost;
            }
            // The next save after the power cut removes what it left.
            if (!later.saveJSONFile(path) || countTemps(scratch.dir) != 0) {
                ++verdict.leftovers;
            }
        }
    }
    return verdict;
}

struct Recorded {
    Files before;
    std::vector<Operation> log;
    bool saved;
    std::string oldJSON, newJSON;
};

// Records save(path); a shortWrite-th call, if it is a write, writes only
// half, so that the text reaches the file in two writes.
template <typename Save>
Recorded record(const Files& before, const CParameters& newVersion, Save save, long shortWrite = 0)
{
    Recorded recorded{before, {}, false, "(none)", newVersion.serialiseAsJSON()};
    Scratch scratch;
    for (const auto& file : before) {
        writeFile(scratch.path(file.first), file.second);
    }
    if (before.count(target)) {
        recorded.oldJSON = loaded(scratch.path(target));
    }
    syscalls::Session session(shortWrite, 0);
    recorded.saved = save(scratch.path(target));
    recorded.log = session.log();
    return recorded;
}

Recorded recordSave(const Files& before, long shortWrite = 0)
{
    const CParameters newVersion = version(30, "new");
    return record(
        before, newVersion, [&](const std::string& path) { return newVersion.saveJSONFile(path); }, shortWrite);
}

Verdict check(const Recorded& recorded)
{
    return check(recorded.before, recorded.log, recorded.saved, recorded.oldJSON, recorded.newJSON);
}

std::vector<Operation> without(std::vector<Operation> log, bool directory)
{
    log.erase(std::remove_if(log.begin(), log.end(),
                             [&](const Operation& operation) {
                                 return operation.kind == Operation::fsync && operation.name.empty() == directory;
                             }),
              log.end());
    return log;
}

void report(const char* what, const Recorded& recorded, const Verdict& verdict)
{
    std::cout << what << ": " << recorded.log.size() << " operations, " << verdict.states << " power-cut states, "
              << verdict.torn << " torn, " << verdict.lost << " lost after success, " << verdict.leftovers
              << " with leftovers" << std::endl;
}

const std::string oldText = version(20, "old").serialiseAsJSON() + "\n";

} // namespace

SUITE(PowerCuts)
{
    TEST(ASaveOverAnOldFileLeavesTheOldOrTheNewOne)
    {
        const Recorded recorded = recordSave({{target, oldText}});
        CHECK(recorded.saved && recorded.log.size() >= 5);
        const Verdict verdict = check(recorded);
        report("save over an old file", recorded, verdict);
        CHECK(verdict.states > 10);
        CHECK_EQUAL(0, verdict.torn + verdict.lost + verdict.leftovers);
    }

    TEST(ASaveOfANewFileLeavesNoneOrTheNewOne)
    {
        const Recorded recorded = recordSave({});
        CHECK(recorded.saved);
        const Verdict verdict = check(recorded);
        report("save of a new file", recorded, verdict);
        CHECK_EQUAL(0, verdict.torn + verdict.lost + verdict.leftovers);
    }

    TEST(ASaveBesideATempOfAKilledSave)
    {
        const Recorded recorded = recordSave({{target, oldText}, {".params.json.tmp-AAAAAAAAAAAA", "{\"p0\":"}});
        CHECK(recorded.saved);
        const Verdict verdict = check(recorded);
        report("save beside a stale temp", recorded, verdict);
        CHECK_EQUAL(0, verdict.torn + verdict.lost + verdict.leftovers);
    }

    TEST(ASaveWhoseTextGoesOutInPieces)
    {
        int states = 0;
        for (long call = 1; call < 30; ++call) {
            const Recorded recorded = recordSave({{target, oldText}}, call);
            if (std::count_if(recorded.log.begin(), recorded.log.end(),
                              [](const Operation& operation) { return operation.kind == Operation::write; }) < 2) {
                continue; // that call was not the write
            }
            CHECK(recorded.saved);
            const Verdict verdict = check(recorded);
            report("save in two writes", recorded, verdict);
            CHECK_EQUAL(0, verdict.torn + verdict.lost + verdict.leftovers);
            states += verdict.states;
        }
        CHECK(states > 0);
    }

    // The checker is not vacuous: the same save without its fsync of the
    // file, without the directory's, or a save that writes in place, is
    // caught.
    TEST(TheModelCatchesASaveThatDoesNotSyncTheFile)
    {
        Recorded recorded = recordSave({{target, oldText}});
        recorded.log = without(recorded.log, false);
        const Verdict verdict = check(recorded);
        report("without fsync of the file", recorded, verdict);
        CHECK(verdict.torn > 0);
    }

    TEST(TheModelCatchesASaveThatDoesNotSyncTheDirectory)
    {
        Recorded recorded = recordSave({{target, oldText}});
        recorded.log = without(recorded.log, true);
        const Verdict verdict = check(recorded);
        report("without fsync of the directory", recorded, verdict);
        CHECK_EQUAL(0, verdict.torn);
        CHECK(verdict.lost > 0);
    }

    TEST(TheModelCatchesASaveThatWritesInPlace)
    {
        const CParameters newVersion = version(30, "new");
        const std::string text = newVersion.serialiseAsJSON() + "\n";
        const Recorded recorded = record({{target, oldText}}, newVersion, [&](const std::string& path) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
            const bool written = fd >= 0 &&
                                 ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                                 ::fsync(fd) == 0;
            ::close(fd);
            return written;
        });
        CHECK(recorded.saved);
        const Verdict verdict = check(recorded);
        report("writing in place", recorded, verdict);
        CHECK(verdict.torn > 0);
    }
}
