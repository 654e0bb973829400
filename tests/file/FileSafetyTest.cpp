// SPDX-License-Identifier: MIT
// What saves and the file lock keep from the rest of a process and from the
// machine: no descriptor reaches a child, temp names never wait for or need
// the kernel's random numbers, and the lock holds through a holder's
// removal of its file. What less trusted users can plant is shown through
// the tool, in tests/cli/planted.sh.
#include "FileTest.h"

#include <FileLock.h>

#include <UnitTest++/UnitTest++.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace filetest;

namespace {

std::atomic<int> randomFault(0); // the errno getrandom fails with; EINTR once
std::atomic<bool> randomWaits(false);

} // namespace

// Takes the library's calls (the program exports its symbols): notes any
// call that may wait for the kernel's generator, and fails as told.
ssize_t getrandom(void* buffer, size_t size, unsigned flags)
{
    randomWaits = randomWaits || (flags & GRND_NONBLOCK) == 0;
    if (const int fault = randomFault == EINTR ? randomFault.exchange(0) : randomFault.load()) {
        errno = fault;
        return -1;
    }
    return ::syscall(SYS_getrandom, buffer, size, flags);
}

SUITE(Descriptors)
{
    // Whether a child would keep fd through exec (fcntl only: async-signal-safe).
    bool keptByExec(int fd)
    {
        const int flags = ::fcntl(fd, F_GETFD);
        return flags >= 0 && (flags & FD_CLOEXEC) == 0;
    }

    // One thread saves and locks over and over while this one forks children
    // that look, before they would exec, for a descriptor that exec would not
    // close: none may have one the process did not have before.
    TEST(NoChildOfAThreadThatForksKeepsADescriptorOfASaveOrLock)
    {
        Scratch scratch;
        const std::string path = scratch.path("params.json");
        bool before[1024];
        for (int fd = 0; fd < 1024; ++fd) {
            before[fd] = keptByExec(fd);
        }
        std::atomic<bool> stop(false);
        std::atomic<int> failed(0), saved(0);
        std::thread saver([&] {
            CParameterFileLock lock;
            CParameters::TextError error;
            for (int i = 0; !stop; ++i) {
                const bool done =
                    lock.acquire(path, error) && version(200, std::to_string(i)).saveJSONFile(path, error);
                ++(done ? saved : failed);
                lock.release();
            }
        });
        int leaks = 0;
        for (int child = 0; child < 200; ++child) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                for (int fd = 0; fd < 1024; ++fd) {
                    if (keptByExec(fd) && !before[fd]) {
                        ::_exit(1);
                    }
                }
                ::_exit(0);
            }
            int status = 0;
            CHECK(pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status));
            leaks += WEXITSTATUS(status);
        }
        stop = true;
        saver.join();
        CHECK_EQUAL(0, leaks);
        CHECK(failed == 0 && saved > 0);
    }
}

SUITE(TempNames)
{
    // Never a call that may wait (early in boot the generator is not ready);
    // a kernel without the call, or one not ready yet, and an interrupted
    // call still give a save under a fresh name.
    TEST(ASaveNeverWaitsForNorNeedsTheKernelsRandomNumbers)
    {
        Scratch scratch;
        for (const int fault : {0, ENOSYS, EAGAIN, EINTR}) {
            randomFault = fault;
            CParameters::TextError error;
            CHECK(version(3, std::to_string(fault)).saveJSONFile(scratch.path("params.json"), error));
            CHECK_EQUAL("", error.reason);
            CHECK_EQUAL(version(3, std::to_string(fault)).serialiseAsJSON(), loaded(scratch.path("params.json")));
        }
        randomFault = 0;
        CHECK(!randomWaits);
        CHECK_EQUAL(0, countTemps(scratch.dir));
    }
}

SUITE(Lock)
{
    // A holder that removes the lock file it made (discard) lets a waiter in
    // on a lock file of its own; a release keeps the file; a file the holder
    // did not make stays even when it discards.
    TEST(AWaiterGetsTheLockAfterTheHolderRemovesItsFile)
    {
        Scratch scratch(Files{{"params.json", "{}\n"}});
        const std::string path = scratch.path("params.json"), lockFile = scratch.path("params.json.lock");
        CParameterFileLock holder, waiter;
        CParameters::TextError error;
        CHECK(holder.acquire(path, error) && holder.held() && fs::exists(lockFile));
        std::atomic<bool> waited(false);
        std::thread second([&] {
            CParameters::TextError secondError;
            waited = waiter.acquire(path, secondError);
        });
        ::usleep(200000);
        CHECK(!waited);
        holder.discard();
        second.join();
        CHECK(waited && !holder.held() && waiter.held() && fs::exists(lockFile));
        waiter.release();
        CHECK(fs::exists(lockFile) && holder.acquire(path, error));
        holder.discard();
        CHECK(fs::exists(lockFile));
    }
}
