// SPDX-License-Identifier: MIT
// See SystemCalls.h. Each wrapper has the C library's own prototype, so that
// the compiler gives it the same symbol the library links against.
#include "SystemCalls.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <map>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#ifndef __THROW
#define __THROW // what glibc marks as not throwing; other C libraries mark nothing
#endif

namespace {

using syscalls::Operation;

thread_local syscalls::Session* current = nullptr; // trivially initialised: safe before main

// The name the C library exports a call under, which its header gives the
// wrapper too: 32-bit glibc with 64-bit offsets (the library's setting) and
// 32-bit musl with 64-bit times rename some.
#define REAL_NAMED(name, exported)                                                                                     \
    static const auto real_##name = reinterpret_cast<decltype(&::name)>(dlsym(RTLD_NEXT, exported))
#define REAL(name) REAL_NAMED(name, #name)
#if defined(__GLIBC__) && !defined(__LP64__) && defined(_FILE_OFFSET_BITS) && _FILE_OFFSET_BITS == 64
#define OFFSET_NAME(name) name "64"
#define STAT_NAME(name) name "64"
#elif defined(_REDIR_TIME64) && _REDIR_TIME64
#define OFFSET_NAME(name) name
#define STAT_NAME(name) "__" name "_time64"
#else
#define OFFSET_NAME(name) name
#define STAT_NAME(name) name
#endif

// Counts a call; true when it is the one to fail, with errno set (unless
// the fault is a short write, number 0, which only a write can have).
bool failing(const char* call)
{
    if (current == nullptr || ++current->calls != current->failAt ||
        (current->number == 0 && std::strcmp(call, "write") != 0)) {
        return false;
    }
    current->failed = call;
    errno = current->number != 0 ? current->number : errno;
    return true;
}

// The save's name for a descriptor it opened, or nullptr.
const std::string* nameOf(int fd)
{
    return current != nullptr && current->names.count(fd) ? &current->names[fd] : nullptr;
}

void record(Operation operation)
{
    if (current != nullptr) {
        current->log.push_back(std::move(operation));
    }
}

} // namespace

syscalls::Session::Session(long failAt_, int number_) : failAt(failAt_), number(number_) { current = this; }
syscalls::Session::~Session() { current = nullptr; }

// A call that counts and may fail, then records what it did when it
// succeeded: (result type, name, name in reasons, name exported, parameters,
// arguments, throw list, recording).
#define WRAP(Result, name, call, exported, parameters, arguments, throws, recording)                                   \
    Result name parameters throws                                                                                      \
    {                                                                                                                  \
        REAL_NAMED(name, exported);                                                                                    \
        const Result result = failing(call) ? Result(-1) : real_##name arguments;                                      \
        if (result == 0) {                                                                                             \
            recording;                                                                                                 \
        }                                                                                                              \
        return result;                                                                                                 \
    }

extern "C" {

WRAP(ssize_t, read, "read", "read", (int fd, void* buffer, size_t size), (fd, buffer, size), , )
WRAP(ssize_t, getrandom, "getrandom", "getrandom", (void* buffer, size_t size, unsigned flags), (buffer, size, flags),
     , )
WRAP(int, dup, "dup", "dup", (int fd), (fd), __THROW, )
WRAP(int, fchmod, "fchmod", "fchmod", (int fd, mode_t mode), (fd, mode), __THROW, )
WRAP(int, flock, "flock", "flock", (int fd, int operation), (fd, operation), __THROW, )
WRAP(int, fsetxattr, "fsetxattr", "fsetxattr", (int fd, const char* name, const void* value, size_t size, int flags),
     (fd, name, value, size, flags), __THROW, )
WRAP(ssize_t, fgetxattr, "fgetxattr", "fgetxattr", (int fd, const char* name, void* value, size_t size),
     (fd, name, value, size), __THROW, )
WRAP(int, fstat, "fstat", STAT_NAME("fstat"), (int fd, struct stat* status), (fd, status), __THROW, )
WRAP(int, fstatat, "stat", STAT_NAME("fstatat"), (int directory, const char* path, struct stat* status, int flags),
     (directory, path, status, flags), __THROW, )
WRAP(int, lstat, "lstat", STAT_NAME("lstat"), (const char* path, struct stat* status), (path, status), __THROW, )
WRAP(int, fsync, nameOf(fd) && nameOf(fd)->empty() ? "fsync of the directory" : "fsync", "fsync", (int fd), (fd), ,
     (nameOf(fd) ? record({Operation::fsync, *nameOf(fd), "", "", 0}) : void()))
WRAP(int, renameat, "rename", "renameat", (int from, const char* oldName, int to, const char* newName),
     (from, oldName, to, newName), __THROW, (record({Operation::rename, oldName, newName, "", 0})))
WRAP(int, unlinkat, "unlink", "unlinkat", (int directory, const char* path, int flags), (directory, path, flags),
     __THROW, (record({Operation::unlink, path, "", "", 0})))

// Recorded, never failed: the save's link keeps a version beside the file,
// and its failures are those of the calls around it.
int linkat(int from, const char* oldName, int to, const char* newName, int flags) __THROW
{
    REAL(linkat);
    const int result = real_linkat(from, oldName, to, newName, flags);
    if (result == 0) {
        record({Operation::link, oldName, newName, "", 0});
    }
    return result;
}

DIR* fdopendir(int fd)
{
    REAL(fdopendir);
    return failing("fdopendir") ? nullptr : real_fdopendir(fd);
}

int openat(int directory, const char* path, int flags, ...)
{
    REAL_NAMED(openat, OFFSET_NAME("openat"));
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = flags & O_CREAT ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
    va_end(arguments);
    const int fd = failing("open") ? -1 : real_openat(directory, path, flags, mode);
    if (current != nullptr && fd >= 0) { // the directory ("" in the log) or a file in it
        const std::string name = flags & O_DIRECTORY ? "" : std::filesystem::path(path).filename().string();
        current->names[fd] = name;
        if (!name.empty() && (flags & (O_EXCL | O_TRUNC))) {
            record({flags & O_EXCL ? Operation::create : Operation::truncate, name, "", "", 0});
        }
    }
    return fd;
}

int open(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = flags & O_CREAT ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
    va_end(arguments);
    return openat(AT_FDCWD, path, flags, mode);
}

ssize_t write(int fd, const void* data, size_t size)
{
    REAL(write);
    const bool failed = failing("write");
    if (failed && current->number != 0) {
        return -1;
    }
    const ssize_t written = real_write(fd, data, failed && size > 1 ? size / 2 : size); // a short write if failed
    if (written > 0 && nameOf(fd)) { // the descriptor's offset (not wrapped) is already past the bytes
        record({Operation::write, *nameOf(fd), "", std::string(static_cast<const char*>(data), std::size_t(written)),
                std::size_t(::lseek(fd, 0, SEEK_CUR) - written)});
    }
    return written;
}

// Linux releases the descriptor even when close fails, so the fault comes
// after the real close.
int close(int fd)
{
    REAL(close);
    const int result = real_close(fd);
    if (current != nullptr) {
        current->names.erase(fd);
    }
    return failing("close") ? -1 : result;
}

} // extern "C"
