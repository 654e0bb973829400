// See SystemCalls.h. Each wrapper has the C library's own prototype, so that
// the compiler gives it the same symbol the library links against.
#include "SystemCalls.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <map>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef __THROW
#define __THROW // what glibc marks as not throwing; other C libraries mark nothing
#endif

namespace {

struct State {
    long calls = 0;
    long failAt = 0;
    int number = 0;
    const char* failed = nullptr;
    bool failedOnDirectory = false;
    std::map<int, std::string> names; // descriptors of the save's directory and files
    std::map<int, std::size_t> positions;
    std::vector<syscalls::Operation> log;
};

thread_local State* current = nullptr; // trivially initialised: safe before main

template <typename Function> Function real(const char* name)
{
    void* const found = dlsym(RTLD_NEXT, name);
    Function function;
    std::memcpy(&function, &found, sizeof found);
    return function;
}
// The name the C library exports a call under, which its header gives the
// wrapper too: 32-bit glibc with 64-bit offsets (the library's setting) and
// 32-bit musl with 64-bit times rename some.
#define REAL_NAMED(name, exported) static const auto real_##name = real<decltype(&::name)>(exported)
#define REAL(name) REAL_NAMED(name, #name)
#if defined(__GLIBC__) && !defined(__LP64__) && defined(_FILE_OFFSET_BITS) && _FILE_OFFSET_BITS == 64
#define REAL_OFFSET(name) REAL_NAMED(name, #name "64")
#define REAL_STAT(name) REAL_NAMED(name, #name "64")
#elif defined(_REDIR_TIME64) && _REDIR_TIME64
#define REAL_OFFSET(name) REAL(name)
#define REAL_STAT(name) REAL_NAMED(name, "__" #name "_time64")
#else
#define REAL_OFFSET(name) REAL(name)
#define REAL_STAT(name) REAL(name)
#endif

// Counts a call; true when it is the one to fail, with errno set (unless
// the fault is a short write, number 0).
bool failing(const char* call)
{
    if (current == nullptr) {
        return false;
    }
    if (++current->calls != current->failAt || (current->number == 0 && std::strcmp(call, "write") != 0)) {
        return false; // only a write can be short
    }
    current->failed = call;
    if (current->number != 0) {
        errno = current->number;
    }
    return true;
}

void record(syscalls::Operation operation)
{
    if (current != nullptr) {
        current->log.push_back(std::move(operation));
    }
}

std::string baseName(const char* path)
{
    const char* const slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// A descriptor just opened: the directory ("" in the log) or a file in it.
void opened(int fd, const std::string& name, int flags, bool directory)
{
    if (current == nullptr || fd < 0) {
        return;
    }
    current->names[fd] = directory ? std::string() : name;
    current->positions[fd] = 0;
    if (!directory && (flags & O_CREAT) && (flags & O_EXCL)) {
        record({syscalls::Operation::create, name, "", "", 0});
    } else if (!directory && (flags & O_TRUNC)) {
        record({syscalls::Operation::truncate, name, "", "", 0});
    }
}

const std::string* nameOf(int fd)
{
    if (current == nullptr) {
        return nullptr;
    }
    const auto found = current->names.find(fd);
    return found == current->names.end() ? nullptr : &found->second;
}

} // namespace

namespace syscalls {

Session::Session(long failAt, int number)
{
    current = new State;
    current->failAt = failAt;
    current->number = number;
}

Session::~Session()
{
    delete current;
    current = nullptr;
}

long Session::calls() const { return current->calls; }
std::string Session::failedCall() const { return current->failed ? current->failed : ""; }
bool Session::failedOnDirectory() const { return current->failedOnDirectory; }
std::vector<Operation> Session::log() const { return current->log; }

} // namespace syscalls

extern "C" {

int open(const char* path, int flags, ...)
{
    REAL_OFFSET(open);
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, int));
        va_end(arguments);
    }
    if (failing("open")) {
        return -1;
    }
    const int fd = real_open(path, flags, mode);
    opened(fd, baseName(path), flags, (flags & O_DIRECTORY) != 0);
    return fd;
}

int openat(int directory, const char* path, int flags, ...)
{
    REAL_OFFSET(openat);
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, int));
        va_end(arguments);
    }
    if (failing("open")) {
        return -1;
    }
    const int fd = real_openat(directory, path, flags, mode);
    opened(fd, path, flags, (flags & O_DIRECTORY) != 0);
    return fd;
}

ssize_t read(int fd, void* buffer, size_t size)
{
    REAL(read);
    return failing("read") ? -1 : real_read(fd, buffer, size);
}

ssize_t write(int fd, const void* data, size_t size)
{
    REAL(write);
    if (failing("write")) {
        if (current->number != 0) {
            return -1;
        }
        size = size > 1 ? size / 2 : size; // the short write
    }
    const ssize_t written = real_write(fd, data, size);
    if (written > 0) {
        if (const std::string* name = nameOf(fd)) {
            std::size_t& position = current->positions[fd];
            record({syscalls::Operation::write, *name, "",
                    std::string(static_cast<const char*>(data), static_cast<std::size_t>(written)), position});
            position += static_cast<std::size_t>(written);
        }
    }
    return written;
}

int fsync(int fd)
{
    REAL(fsync);
    if (failing("fsync")) {
        const std::string* name = nameOf(fd);
        current->failedOnDirectory = name != nullptr && name->empty();
        return -1;
    }
    const int result = real_fsync(fd);
    if (result == 0) {
        if (const std::string* name = nameOf(fd)) {
            record({syscalls::Operation::fsync, *name, "", "", 0});
        }
    }
    return result;
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

int dup(int fd) __THROW
{
    REAL(dup);
    return failing("dup") ? -1 : real_dup(fd);
}

int fchmod(int fd, mode_t mode) __THROW
{
    REAL(fchmod);
    return failing("fchmod") ? -1 : real_fchmod(fd, mode);
}

int flock(int fd, int operation) __THROW
{
    REAL(flock);
    return failing("flock") ? -1 : real_flock(fd, operation);
}

int fstat(int fd, struct stat* status) __THROW
{
    REAL_STAT(fstat);
    return failing("fstat") ? -1 : real_fstat(fd, status);
}

int fstatat(int directory, const char* path, struct stat* status, int flags) __THROW
{
    REAL_STAT(fstatat);
    return failing("stat") ? -1 : real_fstatat(directory, path, status, flags);
}

int lstat(const char* path, struct stat* status) __THROW
{
    REAL_STAT(lstat);
    return failing("lstat") ? -1 : real_lstat(path, status);
}

ssize_t readlink(const char* path, char* buffer, size_t size) __THROW
{
    REAL(readlink);
    return failing("readlink") ? -1 : real_readlink(path, buffer, size);
}

int renameat(int from, const char* oldName, int to, const char* newName) __THROW
{
    REAL(renameat);
    if (failing("rename")) {
        return -1;
    }
    const int result = real_renameat(from, oldName, to, newName);
    if (result == 0) {
        record({syscalls::Operation::rename, oldName, newName, "", 0});
    }
    return result;
}

int unlinkat(int directory, const char* path, int flags) __THROW
{
    REAL(unlinkat);
    if (failing("unlink")) {
        return -1;
    }
    const int result = real_unlinkat(directory, path, flags);
    if (result == 0) {
        record({syscalls::Operation::unlink, path, "", "", 0});
    }
    return result;
}

ssize_t getrandom(void* buffer, size_t size, unsigned int flags)
{
    REAL(getrandom);
    return failing("getrandom") ? -1 : real_getrandom(buffer, size, flags);
}

DIR* fdopendir(int fd)
{
    REAL(fdopendir);
    return failing("fdopendir") ? nullptr : real_fdopendir(fd);
}

} // extern "C"
