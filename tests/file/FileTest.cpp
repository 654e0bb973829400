// SPDX-License-Identifier: MIT
// saveJSONFile and loadJSONFile from the outside: what they promise, every
// system call of theirs failing in turn, and several writers and readers
// at once. The power-cut states are in CrashStateTest.cpp.
#include "FileTest.h"
#include "SystemCalls.h"

#include <UnitTest++/UnitTest++.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <set>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace filetest;

SUITE(Contract)
{
    // The file keeps its permission bits; a new one gets 0666 less the umask.
    TEST(SaveWritesTheJSONLineUnderTheFilesModeAndLoadMergesItBack)
    {
        Scratch scratch(Files{{"params.json", "old content"}});
        const std::string path = scratch.path("params.json");
        CParameters::TextError error;
        error.reason = "stale";
        error.systemError = 5;
        ::chmod(path.c_str(), 0604);
        const mode_t before = ::umask(027);
        CHECK(version(3, "new").saveJSONFile(path, error));
        CHECK(version(1, "b").saveJSONFile(scratch.path("new.json")));
        ::umask(before);
        CHECK(error.reason.empty() && error.systemError == 0);
        CHECK_EQUAL(version(3, "new").serialiseAsJSON() + "\n", readFile(path));
        CHECK(fs::status(path).permissions() == fs::perms(0604));
        CHECK(fs::status(scratch.path("new.json")).permissions() == fs::perms(0640));
        CParameters merged = version(5, "kept");
        CHECK(merged.loadJSONFile(path, error));
        CHECK(merged.getParamAsString("p2", "") == "new-2" && merged.getParamAsString("p4", "") == "kept-4");
    }

    // Read-only root file systems link /etc files to a data partition.
    TEST(ASymbolicLinkIsFollowedAndStays)
    {
        Scratch scratch;
        fs::create_directories(scratch.dir / "data");
        std::ofstream(scratch.path("data/real.json")) << "{}";
        fs::create_symlink("data/real.json", scratch.dir / "link.json");
        fs::create_symlink("link.json", scratch.dir / "chain.json");
        fs::create_symlink(scratch.path("data/later.json"), scratch.dir / "dangling.json");
        CHECK(version(2, "linked").saveJSONFile(scratch.path("chain.json")));
        CHECK(version(1, "made").saveJSONFile(scratch.path("dangling.json")));
        CHECK(fs::is_symlink(scratch.dir / "link.json") && fs::is_symlink(scratch.dir / "chain.json") &&
              fs::is_symlink(scratch.dir / "dangling.json"));
        CHECK_EQUAL(version(2, "linked").serialiseAsJSON(), loaded(scratch.path("data/real.json")));
        CHECK_EQUAL(version(1, "made").serialiseAsJSON(), loaded(scratch.path("data/later.json")));
        CHECK_EQUAL(0, countTemps(scratch.dir) + countTemps(scratch.dir / "data"));
    }

    // Only regular files are replaced and read, and a FIFO without a writer
    // must not block a load forever.
    TEST(SaveAndLoadRefuseWhatIsNoRegularFile)
    {
        Scratch scratch;
        fs::create_directories(scratch.dir / "sub");
        fs::create_symlink("loop.json", scratch.dir / "loop.json");
        ::mkfifo(scratch.path("fifo").c_str(), 0600);
        const char* const names[] = {"missing/params.json", "sub", "loop.json", "fifo", "/dev/null"};
        const int numbers[] = {ENOENT, EISDIR, ELOOP, EINVAL, EINVAL};
        for (std::size_t i = 0; i < std::size(names); ++i) {
            CParameters parameters = version(2, "kept");
            CParameters::TextError saveError, loadError;
            CHECK(!parameters.saveJSONFile(scratch.path(names[i]), saveError));
            CHECK(!parameters.loadJSONFile(scratch.path(names[i]), loadError));
            CHECK(saveError.systemError == numbers[i] && loadError.systemError == numbers[i]);
            CHECK(loadError.reason.rfind("open: ", 0) == 0);
            CHECK_EQUAL(version(2, "kept").serialiseAsJSON(), parameters.serialiseAsJSON());
        }
        CHECK(fs::is_directory(scratch.dir / "sub") && countTemps(scratch.dir) == 0);
    }

    TEST(ATextFaultIsReportedAsDeSerialiseAsJSONReportsIt)
    {
        const std::string text = "{\n  \"a\": \"x\",\n  \"b\": 01\n}\n";
        Scratch scratch(Files{{"bad.json", text}});
        CParameters fromText, fromFile = version(1, "kept");
        CParameters::TextError textError, fileError;
        fileError.systemError = 5;
        CHECK(!fromText.deSerialiseAsJSON(text, textError));
        CHECK(!fromFile.loadJSONFile(scratch.path("bad.json"), fileError));
        CHECK(fileError.line == 3 && fileError.offset == textError.offset && fileError.systemError == 0);
        CHECK_EQUAL(textError.message(), fileError.message());
        CHECK_EQUAL(version(1, "kept").serialiseAsJSON(), fromFile.serialiseAsJSON());
    }

    // Temp files of killed saves go; one that a running save holds locked,
    // and files that only look similar, stay.
    TEST(ASaveRemovesStaleTempsButNotOnesInUse)
    {
        Scratch scratch({{".params.json.tmp-AAAAAAAAAAAA", "{"},
                         {".params.json.tmp-short", "{"},
                         {".other.json.tmp-CCCCCCCCCCCC", "{"},
                         {".params.json.tmp-DDDDDDDDDDDD", "{"}});
        const std::string running = scratch.path(".params.json.tmp-DDDDDDDDDDDD");
        const int lock = ::open(running.c_str(), O_RDONLY);
        CHECK_EQUAL(0, ::flock(lock, LOCK_EX));
        CHECK(version(1, "x").saveJSONFile(scratch.path("params.json")));
        CHECK(!fs::exists(scratch.path(".params.json.tmp-AAAAAAAAAAAA")));
        CHECK(fs::exists(scratch.path(".params.json.tmp-short")) &&
              fs::exists(scratch.path(".other.json.tmp-CCCCCCCCCCCC")) && fs::exists(running));
        ::close(lock);
        CHECK(version(1, "y").saveJSONFile(scratch.path("params.json")));
        CHECK(!fs::exists(running));
    }
}

SUITE(SystemCallFaults)
{
    // Each call of a save fails in turn, with each fault, over an old file,
    // making a new one and beside a stale temp: the save either retries
    // (EINTR, short writes) or skips (removing stale temps) and succeeds, or
    // says false with the call's name and errno, the old file untouched and
    // no temp of its own left. Only a failed fsync of the directory comes
    // after the new file is in place. The same for each call of a load,
    // which merges all of the file or nothing.
    TEST(EveryCallOfASaveOrLoadFailingInTurn)
    {
        const std::string oldText = version(40, "old").serialiseAsJSON() + "\n";
        const CParameters newVersion = version(60, "new");
        const std::string newText = newVersion.serialiseAsJSON() + "\n", stale = ".params.json.tmp-AAAAAAAAAAAA";
        std::set<std::string> reported; // calls whose failure made a save or load say false
        const Files settings[] = {{{"params.json", oldText}}, {}, {{"params.json", oldText}, {stale, "{"}}};
        for (int setting = 0; setting < 4; ++setting) { // 3: a load of the old file
            const Files& before = settings[setting % 3];
            for (long k = 0, calls = 0; k <= calls; ++k) {
                for (const int fault : {EIO, ENOSPC, EINTR, 0}) { // 0: a short write
                    Scratch scratch(before);
                    const std::string path = scratch.path("params.json");
                    CParameters merged = version(3, "kept");
                    CParameters::TextError error;
                    syscalls::Session session(k, fault);
                    const bool done =
                        setting < 3 ? newVersion.saveJSONFile(path, error) : merged.loadJSONFile(path, error);
                    const std::string failed = session.failed;
                    calls = k == 0 ? session.calls : calls; // a run without faults counts the calls
                    if (failed.empty()) {
                        continue; // that run, or a short write fault on a call that is not a write
                    }
                    if (done) {
                        CHECK(error.reason.empty() && error.systemError == 0);
                    } else {
                        CHECK(error.reason.rfind(failed + ": ", 0) == 0 && error.systemError == fault);
                        reported.insert(failed);
                    }
                    if (setting == 3) { // EINTR is tried again; closing a read-only file loses nothing
                        CHECK_EQUAL(done, (failed == "read" && fault == EINTR) || failed == "close");
                        CHECK_EQUAL(done ? oldText : version(3, "kept").serialiseAsJSON() + "\n",
                                    merged.serialiseAsJSON() + "\n");
                        continue;
                    }
                    CHECK(done || (fault != 0 && !(fault == EINTR && failed == "write"))); // those are retried
                    const std::string text = fs::exists(path) ? readFile(path) : "(none)";
                    CHECK(text == (done || failed == "fsync of the directory" ? newText
                                   : before.count("params.json")              ? oldText
                                                                              : "(none)"));
                    CHECK_EQUAL(before.count(stale) && fs::exists(scratch.path(stale)),
                                countTemps(scratch.dir)); // none of its own
                }
            }
        }
        // A failure of each call that makes, writes, syncs or places the
        // file, or reads it, must have been reported at least once: a save or
        // load that ignored one would not be. Which other calls they make
        // (dup, fchmod, ...) is theirs to choose.
        std::string ignored;
        for (const std::string call : {"open", "write", "fsync", "rename", "fsync of the directory", "read"}) {
            ignored += reported.count(call) ? "" : call + ", ";
        }
        CHECK_EQUAL("", ignored);
    }
}

SUITE(Concurrency)
{
    // Savers 0 to 2 each save their own version over one file, over and over,
    // while loader 3 loads it; returns how many saves failed or loads found
    // anything but one whole version.
    int work(int who, const std::string& path)
    {
        static const CParameters versions[] = {version(500, "one"), version(800, "two"), version(300, "three")};
        static const std::string texts[] = {versions[0].serialiseAsJSON(), versions[1].serialiseAsJSON(),
                                            versions[2].serialiseAsJSON()};
        int faults = 0;
        for (int i = 0; i < (who == 3 ? 300 : 75); ++i) {
            faults += who < 3 ? !versions[who].saveJSONFile(path)
                              : std::count(std::begin(texts), std::end(texts), loaded(path)) == 0;
        }
        return faults;
    }

    TEST(ProcessesAndThreadsSavingAndLoadingOneFile)
    {
        Scratch scratch(Files{{"params.json", version(500, "one").serialiseAsJSON()}});
        const std::string path = scratch.path("params.json");
        std::vector<pid_t> children;
        for (int who = 0; who < 4; ++who) {
            children.push_back(::fork());
            if (children.back() == 0) {
                ::_exit(work(who, path) == 0 ? 0 : 1);
            }
        }
        std::atomic<int> faults{0};
        std::vector<std::thread> threads;
        for (int who = 0; who < 4; ++who) {
            threads.emplace_back([&, who] { faults += work(who, path); });
        }
        for (int who = 0; who < 4; ++who) { // a child's exit status is 0 when it found no fault
            int status = -1;
            threads[who].join();
            faults += ::waitpid(children[who], &status, 0) != children[who] || status != 0;
        }
        CHECK_EQUAL(0, faults.load());
        CHECK(work(3, path) == 0 && countTemps(scratch.dir) == 0);
    }
}
