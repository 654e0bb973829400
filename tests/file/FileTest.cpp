// saveJSONFile and loadJSONFile from the outside: what they promise, every
// system call of theirs failing in turn, saves killed midway, and several
// writers and readers at once. The power-cut states are in
// CrashStateTest.cpp. `FileTest <suite>` runs one suite.
#include "FileTest.h"
#include "SystemCalls.h"

#include <UnitTest++/TestReporterStdout.h>
#include <UnitTest++/UnitTest++.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace filetest;

int filetest::Scratch::next = 0;

namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

mode_t modeOf(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

} // namespace

SUITE(Contract)
{
    TEST(SaveWritesTheJSONLineAndLoadMergesItBack)
    {
        Scratch scratch;
        const std::string path = scratch.path("params.json");
        CParameters saved = version(3, "new");
        saved.setParam("nested", Json::Value(Json::arrayValue));
        CParameters::TextError error;
        error.reason = "stale";
        error.systemError = 5;
        writeFile(path, "old content");
        CHECK(saved.saveJSONFile(path, error));
        CHECK(error.reason.empty() && error.systemError == 0);
        CHECK_EQUAL(saved.serialiseAsJSON() + "\n", readFile(path));

        CParameters merged;
        merged.setParam("p0", "replaced");
        merged.setParam("kept", "yes");
        CHECK(merged.loadJSONFile(path, error));
        CHECK_EQUAL("new-0", merged.getParamAsString("p0", ""));
        CHECK_EQUAL("yes", merged.getParamAsString("kept", ""));
        CHECK(merged.getParam("nested").isArray());
        CHECK_EQUAL(0, countTemps(scratch.dir));
    }

    TEST(PermissionBitsOfAnOldFileStayAndANewFileGetsTheUmask)
    {
        Scratch scratch;
        const std::string path = scratch.path("params.json");
        writeFile(path, "{}");
        ::chmod(path.c_str(), 0640);
        CHECK(version(1, "a").saveJSONFile(path));
        CHECK_EQUAL(0640u, modeOf(path));
        ::chmod(path.c_str(), 0604);
        CHECK(version(1, "b").saveJSONFile(path));
        CHECK_EQUAL(0604u, modeOf(path));

        const mode_t before = ::umask(027);
        CHECK(version(1, "c").saveJSONFile(scratch.path("new.json")));
        ::umask(022);
        CHECK(version(1, "d").saveJSONFile(scratch.path("other.json")));
        ::umask(before);
        CHECK_EQUAL(0640u, modeOf(scratch.path("new.json")));
        CHECK_EQUAL(0644u, modeOf(scratch.path("other.json")));
    }

    // Read-only root file systems link /etc files to a data partition.
    TEST(ASymbolicLinkIsFollowedAndStays)
    {
        Scratch scratch;
        fs::create_directories(scratch.dir / "data");
        writeFile(scratch.path("data/real.json"), "{}");
        fs::create_symlink("data/real.json", scratch.dir / "link.json");
        fs::create_symlink("link.json", scratch.dir / "chain.json");
        CHECK(version(2, "linked").saveJSONFile(scratch.path("chain.json")));
        CHECK(fs::is_symlink(scratch.dir / "link.json") && fs::is_symlink(scratch.dir / "chain.json"));
        CHECK_EQUAL(version(2, "linked").serialiseAsJSON(), loaded(scratch.path("data/real.json")));
        CHECK_EQUAL(0, countTemps(scratch.dir) + countTemps(scratch.dir / "data"));

        fs::create_symlink(scratch.path("data/later.json"), scratch.dir / "dangling.json");
        CHECK(version(1, "made").saveJSONFile(scratch.path("dangling.json")));
        CHECK(fs::is_symlink(scratch.dir / "dangling.json"));
        CHECK_EQUAL(version(1, "made").serialiseAsJSON(), loaded(scratch.path("data/later.json")));

        fs::create_symlink("loop.json", scratch.dir / "loop.json");
        CParameters::TextError error;
        CHECK(!version(1, "x").saveJSONFile(scratch.path("loop.json"), error));
        CHECK_EQUAL(ELOOP, error.systemError);
    }

    TEST(LoadTakesOnlyRegularFilesAndFailsAtOnce)
    {
        Scratch scratch;
        ::mkfifo(scratch.path("fifo").c_str(), 0600); // no writer: a blocking open would wait forever
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string socketPath = scratch.path("socket");
        CHECK(socketPath.size() < sizeof address.sun_path);
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        CHECK_EQUAL(0, ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
        const struct {
            std::string path;
            int number;
        } cases[] = {{scratch.dir.string(), EISDIR},
                     {scratch.path("fifo"), EINVAL},
                     {socketPath, ENXIO},
                     {"/dev/null", EINVAL},
                     {scratch.path("missing"), ENOENT}};
        for (const auto& c : cases) {
            CParameters parameters = version(2, "kept");
            CParameters::TextError error;
            CHECK(!parameters.loadJSONFile(c.path, error));
            CHECK_EQUAL(c.number, error.systemError);
            CHECK(startsWith(error.reason, "open: "));
            CHECK_EQUAL(version(2, "kept").serialiseAsJSON(), parameters.serialiseAsJSON());
        }
        ::close(listener);
    }

    TEST(ATextFaultIsReportedAsDeSerialiseAsJSONReportsIt)
    {
        Scratch scratch;
        const std::string text = "{\n  \"a\": \"x\",\n  \"b\": 01\n}\n";
        writeFile(scratch.path("bad.json"), text);
        CParameters fromText, fromFile = version(1, "kept");
        CParameters::TextError textError, fileError;
        fileError.systemError = 5;
        CHECK(!fromText.deSerialiseAsJSON(text, textError));
        CHECK(!fromFile.loadJSONFile(scratch.path("bad.json"), fileError));
        CHECK_EQUAL(3u, fileError.line);
        CHECK_EQUAL(textError.message(), fileError.message());
        CHECK_EQUAL(textError.offset, fileError.offset);
        CHECK_EQUAL(0, fileError.systemError);
        CHECK_EQUAL(version(1, "kept").serialiseAsJSON(), fromFile.serialiseAsJSON());

        writeFile(scratch.path("empty.json"), "");
        CHECK(!fromFile.loadJSONFile(scratch.path("empty.json"), fileError));
        CHECK_EQUAL(version(1, "kept").serialiseAsJSON(), fromFile.serialiseAsJSON());
    }

    // A program built against 0.2 passes a record that ends before
    // systemError; whatever lies behind it must stay as it was.
    TEST(ARecordFromBeforeSystemErrorIsWrittenOnlyWithinItsSize)
    {
        struct RecordOf02 {
            std::size_t size, offset, line, column;
            std::string reason;
        };
        struct {
            RecordOf02 record;
            int behind[4];
        } old = {{sizeof(RecordOf02), 0, 0, 0, ""}, {7, 7, 7, 7}};
        static_assert(offsetof(CParameters::TextError, reason) == offsetof(RecordOf02, reason),
                      "same layout up to reason");
        CParameters::TextError& error = reinterpret_cast<CParameters::TextError&>(old.record);
        Scratch scratch;
        CParameters parameters;
        CHECK(!parameters.loadJSONFile(scratch.path("missing"), error));
        CHECK_EQUAL("open: No such file or directory", old.record.reason);
        CHECK(!version(1, "x").saveJSONFile(scratch.path("no/such/dir"), error));
        CHECK(startsWith(old.record.reason, "open: "));
        CHECK(version(1, "x").saveJSONFile(scratch.path("ok.json"), error));
        CHECK(old.record.reason.empty() && old.record.size == sizeof(RecordOf02));
        for (const int word : old.behind) {
            CHECK_EQUAL(7, word);
        }
    }

    TEST(SaveRefusesWhatItCannotReplace)
    {
        Scratch scratch;
        CParameters::TextError error;
        CHECK(!version(1, "x").saveJSONFile(scratch.path("missing/params.json"), error));
        CHECK_EQUAL(ENOENT, error.systemError);
        CHECK_EQUAL("open: No such file or directory", error.reason);
        fs::create_directories(scratch.dir / "sub");
        CHECK(!version(1, "x").saveJSONFile(scratch.path("sub"), error));
        CHECK_EQUAL(EISDIR, error.systemError);
        CHECK(fs::is_directory(scratch.dir / "sub"));
        CHECK_EQUAL(0, countTemps(scratch.dir));
    }

    // Temp files of killed saves go; one that a running save holds locked,
    // and files that only look similar, stay.
    TEST(ASaveRemovesStaleTempsButNotOnesInUse)
    {
        Scratch scratch;
        const std::string path = scratch.path("params.json");
        writeFile(scratch.path(".params.json.tmp-AAAAAAAAAAAA"), "{\"half");
        writeFile(scratch.path(".params.json.tmp-BBBBBBBBBBBB"), "");
        writeFile(scratch.path(".params.json.tmp-short"), "mine");
        writeFile(scratch.path(".other.json.tmp-CCCCCCCCCCCC"), "another file's");
        writeFile(scratch.path(".params.json.tmp-DDDDDDDDDDDD"), "running");
        const int running = ::open(scratch.path(".params.json.tmp-DDDDDDDDDDDD").c_str(), O_RDONLY);
        CHECK_EQUAL(0, ::flock(running, LOCK_EX));
        CHECK(version(1, "x").saveJSONFile(path));
        CHECK(!fs::exists(scratch.path(".params.json.tmp-AAAAAAAAAAAA")));
        CHECK(!fs::exists(scratch.path(".params.json.tmp-BBBBBBBBBBBB")));
        CHECK(fs::exists(scratch.path(".params.json.tmp-short")));
        CHECK(fs::exists(scratch.path(".other.json.tmp-CCCCCCCCCCCC")));
        CHECK(fs::exists(scratch.path(".params.json.tmp-DDDDDDDDDDDD")));
        ::close(running);
        CHECK(version(1, "y").saveJSONFile(path));
        CHECK(!fs::exists(scratch.path(".params.json.tmp-DDDDDDDDDDDD")));
    }
}

SUITE(SystemCallFaults)
{
    const struct Fault {
        int number; // 0: a short write
        const char* name;
    } faults[] = {{EIO, "EIO"}, {ENOSPC, "ENOSPC"}, {EINTR, "EINTR"}, {0, "short write"}};

    // Each call of a save fails in turn, with each fault: the save either
    // retries (EINTR, short writes) or skips (removing stale temps) and
    // succeeds, or says false with the call's name and errno, the old file
    // untouched and no temp left. Only a failed fsync of the directory comes
    // after the new file is in place.
    TEST(EveryCallOfASaveFailingInTurn)
    {
        const CParameters oldVersion = version(40, "old"), newVersion = version(60, "new");
        const std::string oldText = oldVersion.serialiseAsJSON() + "\n", newText = newVersion.serialiseAsJSON() + "\n";
        std::set<std::string> reported; // calls whose failure made a save say false
        int tried = 0;
        for (const char* setting : {"existing", "new", "stale temp"}) {
            const bool existing = std::strcmp(setting, "new") != 0, stale = std::strcmp(setting, "stale temp") == 0;
            long calls = 0;
            {
                Scratch scratch;
                if (existing) {
                    writeFile(scratch.path("params.json"), oldText);
                }
                if (stale) {
                    writeFile(scratch.path(".params.json.tmp-AAAAAAAAAAAA"), "{");
                }
                syscalls::Session session;
                CHECK(newVersion.saveJSONFile(scratch.path("params.json")));
                calls = session.calls();
            }
            CHECK(calls >= 10);
            for (const Fault& fault : faults) {
                for (long k = 1; k <= calls; ++k) {
                    Scratch scratch;
                    const std::string path = scratch.path("params.json");
                    if (existing) {
                        writeFile(path, oldText);
                    }
                    if (stale) {
                        writeFile(scratch.path(".params.json.tmp-AAAAAAAAAAAA"), "{");
                    }
                    CParameters::TextError error;
                    bool saved;
                    std::string failed;
                    bool onDirectory;
                    {
                        syscalls::Session session(k, fault.number);
                        saved = newVersion.saveJSONFile(path, error);
                        failed = session.failedCall();
                        onDirectory = session.failedOnDirectory();
                    }
                    if (failed.empty()) {
                        continue; // a short write fault on a call that is not a write
                    }
                    ++tried;
                    const std::string text = fs::exists(path) ? readFile(path) : "(none)";
                    const int temps = countTemps(scratch.dir);
                    const bool ownTempLeft =
                        temps > (stale && fs::exists(scratch.path(".params.json.tmp-AAAAAAAAAAAA")));
                    if (saved) {
                        CHECK(text == newText && error.reason.empty() && error.systemError == 0);
                    } else if (onDirectory) {
                        CHECK(text == newText && startsWith(error.reason, "fsync of the directory: "));
                        reported.insert("fsync of the directory");
                    } else {
                        CHECK(text == (existing ? oldText : "(none)"));
                        CHECK(startsWith(error.reason, failed + ": "));
                        CHECK_EQUAL(fault.number, error.systemError);
                        reported.insert(failed);
                    }
                    CHECK(!ownTempLeft);
                    if (fault.number == 0 || (fault.number == EINTR && failed == "write")) {
                        CHECK(saved); // retried
                    }
                    if (ownTempLeft) {
                        std::cout << setting << ", call " << k << " (" << failed << ") failing with " << fault.name
                                  << " left a temp file" << std::endl;
                    }
                }
            }
        }
        // Each of these failing must have been reported at least once: a
        // save that ignored one would not be.
        for (const char* call : {"open", "stat", "getrandom", "flock", "fstat", "fchmod", "write", "fsync", "dup",
                                 "close", "rename", "fsync of the directory"}) {
            CHECK(reported.count(call) == 1);
            if (reported.count(call) == 0) {
                std::cout << "never reported: " << call << std::endl;
            }
        }
        std::cout << "save faults tried: " << tried << std::endl;
    }

    TEST(EveryCallOfALoadFailingInTurn)
    {
        Scratch scratch;
        const std::string path = scratch.path("params.json");
        CHECK(version(30, "file").saveJSONFile(path));
        long calls = 0;
        {
            syscalls::Session session;
            CParameters parameters;
            CHECK(parameters.loadJSONFile(path));
            calls = session.calls();
        }
        CHECK(calls >= 4);
        int tried = 0;
        for (const Fault& fault : faults) {
            for (long k = 1; k <= calls; ++k) {
                CParameters parameters = version(3, "kept");
                CParameters::TextError error;
                bool read;
                std::string failed;
                {
                    syscalls::Session session(k, fault.number);
                    read = parameters.loadJSONFile(path, error);
                    failed = session.failedCall();
                }
                if (failed.empty()) {
                    continue;
                }
                ++tried;
                if (read) {
                    // EINTR is tried again; closing a read-only file loses nothing.
                    CHECK((failed == "read" && fault.number == EINTR) || failed == "close");
                    CHECK_EQUAL(version(30, "file").serialiseAsJSON(), parameters.serialiseAsJSON());
                } else {
                    CHECK(startsWith(error.reason, failed + ": "));
                    CHECK_EQUAL(fault.number, error.systemError);
                    CHECK_EQUAL(version(3, "kept").serialiseAsJSON(), parameters.serialiseAsJSON());
                }
            }
        }
        std::cout << "load faults tried: " << tried << std::endl;
    }
}

SUITE(Kills)
{
    // A child saves two versions in turn until it is killed, at a random
    // moment; the file must load to one of them whole every time, and the
    // killed save's temp must be gone after the next save.
    TEST(SavesKilledAtRandomMomentsLeaveOneWholeVersion)
    {
        Scratch scratch;
        const std::string path = scratch.path("params.json");
        const CParameters versions[] = {version(3000 / scale, "first"), version(2000 / scale, "second")};
        const std::string texts[] = {versions[0].serialiseAsJSON(), versions[1].serialiseAsJSON()};
        CHECK(versions[0].saveJSONFile(path));
        std::mt19937 random(12345);
        const int kills = scale == 1 ? 300 : 100;
        int withTemp = 0, loads[2] = {0, 0};
        for (int i = 0; i < kills; ++i) {
            const pid_t child = ::fork();
            if (child == 0) {
                for (unsigned j = static_cast<unsigned>(i);; ++j) {
                    versions[j % 2].saveJSONFile(path);
                }
            }
            ::usleep(std::uniform_int_distribution<unsigned>(0, 12000)(random));
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            const std::string text = loaded(path);
            const int which = text == texts[0] ? 0 : text == texts[1] ? 1 : -1;
            CHECK(which >= 0);
            if (which >= 0) {
                ++loads[which];
            }
            const int temps = countTemps(scratch.dir);
            CHECK(temps <= 1); // the killed save's own; earlier ones were removed
            withTemp += temps;
        }
        CHECK(withTemp > 0); // some kills did land inside a save
        CHECK(versions[1].saveJSONFile(path));
        CHECK_EQUAL(0, countTemps(scratch.dir));
        std::cout << kills << " saves killed, " << withTemp << " of them with their temp file written, loaded "
                  << loads[0] << " times the first and " << loads[1] << " times the second version" << std::endl;
    }
}

SUITE(Concurrency)
{
    const int rounds = 150 / scale;

    // Loads a whole version every time, or counts a fault.
    int loadRepeatedly(const std::string& path, const std::set<std::string>& versions, int times)
    {
        int faults = 0;
        for (int i = 0; i < times; ++i) {
            CParameters parameters;
            CParameters::TextError error;
            if (!parameters.loadJSONFile(path, error) || versions.count(parameters.serialiseAsJSON()) == 0) {
                std::cout << "load failed: " << error.message() << std::endl;
                ++faults;
            }
        }
        return faults;
    }

    TEST(ProcessesSavingAndLoadingOneFile)
    {
        Scratch scratch;
        const std::string path = scratch.path("params.json");
        const CParameters versions[] = {version(500, "one"), version(800, "two"), version(300, "three")};
        std::set<std::string> texts;
        for (const CParameters& v : versions) {
            texts.insert(v.serialiseAsJSON());
        }
        CHECK(versions[0].saveJSONFile(path));
        std::vector<pid_t> children;
        for (int c = 0; c < 4; ++c) {
            const pid_t child = ::fork();
            if (child == 0) {
                int faults = 0;
                if (c < 3) {
                    for (int i = 0; i < rounds; ++i) {
                        CParameters::TextError error;
                        if (!versions[c].saveJSONFile(path, error)) {
                            std::cout << "save failed: " << error.reason << std::endl;
                            ++faults;
                        }
                    }
                } else {
                    faults = loadRepeatedly(path, texts, rounds * 4);
                }
                ::_exit(faults == 0 ? 0 : 1);
            }
            children.push_back(child);
        }
        for (const pid_t child : children) {
            int status = -1;
            ::waitpid(child, &status, 0);
            CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        CHECK(texts.count(loaded(path)) == 1);
        CHECK_EQUAL(0, countTemps(scratch.dir));
    }

    TEST(ThreadsSavingAndLoadingOneFile)
    {
        Scratch scratch;
        const std::string path = scratch.path("params.json");
        const CParameters versions[] = {version(500, "one"), version(800, "two")};
        const std::set<std::string> texts = {versions[0].serialiseAsJSON(), versions[1].serialiseAsJSON()};
        CHECK(versions[0].saveJSONFile(path));
        std::atomic<int> faults{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < rounds; ++i) {
                    faults += !versions[t].saveJSONFile(path);
                }
            });
        }
        threads.emplace_back([&] { faults += loadRepeatedly(path, texts, rounds * 4); });
        for (std::thread& thread : threads) {
            thread.join();
        }
        CHECK_EQUAL(0, faults.load());
        CHECK(texts.count(loaded(path)) == 1);
        CHECK_EQUAL(0, countTemps(scratch.dir));
    }
}

// FileTest --save <path>: saves a container there and says how
// through the exit status alone (strace may be failing every write): 0 when
// saved, else 10 + the failing call's place in calls[] (19 for others).
int saveForStrace(const std::string& path)
{
    const char* const calls[] = {"open",   "write",  "fsync", "close",
                                 "rename", "fchmod", "flock", "fsync of the directory"};
    CParameters::TextError error;
    if (version(10, "strace").saveJSONFile(path, error)) {
        return 0;
    }
    const std::string call = error.reason.substr(0, error.reason.find(':'));
    for (int i = 0; i < 8; ++i) {
        if (call == calls[i]) {
            return 10 + i;
        }
    }
    return 19;
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--save") {
        return saveForStrace(argv[2]);
    }
    if (argc < 2) {
        return UnitTest::RunAllTests();
    }
    UnitTest::TestReporterStdout reporter;
    UnitTest::TestRunner runner(reporter);
    return runner.RunTestsIf(UnitTest::Test::GetTestList(), argv[1], UnitTest::True(), 0);
}
