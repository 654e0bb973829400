// SPDX-License-Identifier: MIT
// Saving the container to a file and loading it back.
//
// A save never writes into the file it replaces. It writes the whole text
// into a new file beside it, syncs that file, renames it over the old name
// and syncs the directory, so that the name refers to the old file or to the
// new one, whole, at every instant and after a power cut (docs/files.md has
// the model this relies on). The new file's name is random and created
// exclusively, and the save holds an flock on it from creation to rename: a
// later save removes the temp files whose lock nobody holds, which are those
// of saves that were killed, and never one of a save still running.
//
// Links at the end of the path are followed in FilePaths.cpp, as the
// kernel's fs.protected_symlinks would; every name is then opened without
// following a link, and every descriptor is close-on-exec from the start.
#include "CParameters.h"
#include "ErrorRecord.h"
#include "FilePaths.h"
#include "Generations.h"
#include "JsonReader.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using cparameters::Descriptor;

using TextError = CParameters::TextError;

// A failure at no place in a text: the reason names the call.
void setReason(TextError& error, std::string reason, int number)
{
    cparameters::setRecord(error, 0, 0, 0, std::move(reason), number);
}

// "rename: No space left on device"; always false.
bool fail(TextError& error, const char* call, int number)
{
    return cparameters::failCall(error, call, nullptr, number);
}

// Temp files are "." + the target's name + ".tmp-" + this many random
// characters, 72 random bits; a name too long for that within NAME_MAX is
// cut and given a hash (FilePaths.h), the same for every save of it.
const std::size_t randomLength = 12;

std::string tempPrefix(const std::string& base) { return cparameters::nameBeside(base, ".tmp-", true, randomLength); }

// Random bytes for a temp name, never waiting: the kernel's generator where it
// answers at once, else (before Linux 3.17, or early in boot before the
// generator is ready) the clock, the process and a counter, mixed. Names
// need to be unlikely to clash, not secret: O_EXCL makes them unique.
void randomBytes(unsigned char* bytes, std::size_t count)
{
    ssize_t got;
    do {
        got = ::getrandom(bytes, count, GRND_NONBLOCK);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(count)) {
        return;
    }
    static std::atomic<unsigned> counter(0);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t state =
        static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
    state ^= static_cast<std::uint64_t>(::getpid()) << 40 ^ static_cast<std::uint64_t>(counter++) << 20;
    for (std::size_t i = 0; i < count; ++i) { // splitmix64, one byte a round
        std::uint64_t mixed = state += 0x9e3779b97f4a7c15u;
        mixed = (mixed ^ (mixed >> 30)) * 0xbf58476d1ce4e5b9u;
        mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111ebu;
        bytes[i] = static_cast<unsigned char>(mixed ^ (mixed >> 31));
    }
}

bool isTempName(const char* name, const std::string& prefix)
{
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) {
        return false;
    }
    const char* const tail = name + prefix.size();
    return std::strlen(tail) == randomLength && std::strspn(tail, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                                  "0123456789-_") == randomLength;
}

// Removes the temp files of earlier saves of this file that nobody holds
// locked: a running save locks its own. Best effort: whatever fails here
// leaves a stale file for the next save, and this save goes on.
void removeStaleTemps(int directory, const std::string& prefix)
{
    DIR* const listing = cparameters::listFolder(directory);
    if (listing == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        if (!isTempName(entry->d_name, prefix)) {
            continue;
        }
        struct stat opened, named;
        if (::fstatat(directory, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)) {
            continue; // nothing but regular files is opened
        }
        const Descriptor temp(
            ::openat(directory, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
        // The name must still be the file locked: it is unlinked only while
        // this save holds the lock, so no running save can have it.
        if (temp.fd >= 0 && ::flock(temp.fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(temp.fd, &opened) == 0 &&
            S_ISREG(opened.st_mode) && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            ::unlinkat(directory, entry->d_name, 0);
        }
    }
    ::closedir(listing);
}

// The new file, removed again unless it has been renamed over the target.
struct Temp {
    Temp(int directory_, const std::string& folder_) : directory(directory_), folder(folder_) {}
    Temp(const Temp&) = delete;
    Temp& operator=(const Temp&) = delete;
    ~Temp()
    {
        if (!name.empty()) {
            ::unlinkat(directory, name.c_str(), 0); // while still locked
        }
        for (const int open : {fd, lock}) {
            if (open >= 0) {
                ::close(open);
            }
        }
    }

    // Creates it exclusively under a random name and locks it. A cleanup of
    // another save may remove it between the two (it was not locked yet);
    // then its link count is 0 and another name is tried.
    bool create(const std::string& prefix, mode_t mode, TextError& error)
    {
        static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
        for (int attempt = 0; attempt < 100; ++attempt) {
            unsigned char bytes[randomLength];
            randomBytes(bytes, sizeof bytes);
            std::string candidate = prefix;
            for (const unsigned char byte : bytes) {
                candidate += alphabet[byte % 64];
            }
            fd = cparameters::openBeside(directory, candidate.c_str(),
                                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, mode);
            if (fd < 0) {
                if (errno == EEXIST) {
                    continue;
                }
                return failOn(error, "open", candidate, errno);
            }
            name = std::move(candidate); // moved: a failed allocation here would leave the file behind
            while (::flock(fd, LOCK_EX) != 0) {
                if (errno != EINTR) {
                    return failOn(error, "flock", name, errno);
                }
            }
            struct stat status;
            if (::fstat(fd, &status) != 0) {
                return failOn(error, "fstat", name, errno);
            }
            if (status.st_nlink > 0) {
                return true;
            }
            ::close(fd);
            fd = -1;
            name.clear(); // no longer ours, nor anyone's
        }
        return failOn(error, "open", prefix + "*", EEXIST);
    }

    // "CALL: FOLDER/NAME: reason": the temp's own name, as the failed call
    // was on it. Out of line: five failures share it.
    [[gnu::noinline]] bool failOn(TextError& error, const char* call, const std::string& file, int number) const
    {
        std::string shown = folder;
        shown += '/';
        shown += file;
        return cparameters::failCall(error, call, shown.c_str(), number);
    }

    int directory;
    const std::string& folder;
    int fd = -1;
    int lock = -1; // a second descriptor of fd's, keeping the flock from fd's close to the rename
    std::string name;
};

// Short writes go on where they stopped; EINTR is tried again.
bool writeAll(int fd, const std::string& text, TextError& error)
{
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(error, "write", errno);
        }
        if (written == 0) {
            return fail(error, "write", ENOSPC);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

bool CParameters::saveJSONFile(const std::string& path) const
{
    TextError error;
    return saveJSONFile(path, error);
}

bool CParameters::saveJSONFile(const std::string& path, TextError& error) const
{
    std::string text = serialiseAsJSON();
    text += '\n';

    cparameters::FileTarget target;
    if (!cparameters::followLinks(path, target, error) ||
        (target.exists && !cparameters::refuseIrregular(error, nullptr, target.status.st_mode))) {
        return false;
    }
    const Descriptor directory(::open(target.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
    if (directory.fd < 0) {
        return cparameters::failCall(error, "open", target.directory.c_str(), errno);
    }

    // An existing file hands its permission bits on, and its owner and group
    // where the caller may give them (root, or the owner: the group where
    // the caller is in it); the temp is made 0600 until then, so that nobody
    // can open it under wider ones. A new file gets 0666 less the umask from
    // the kernel, as open() gives it. The name is looked at again through the
    // folder now open, without following a link.
    struct stat old;
    const bool exists = ::fstatat(directory.fd, target.base.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) {
        return fail(error, "stat", errno);
    }
    if (exists && !cparameters::refuseIrregular(error, nullptr, old.st_mode)) {
        return false;
    }

    const std::string prefix = tempPrefix(target.base);
    removeStaleTemps(directory.fd, prefix);
    Temp temp(directory.fd, target.directory);
    if (!temp.create(prefix, exists ? 0600 : 0666, error)) {
        return false;
    }
    if (exists) {
        // chown before chmod: a chown clears the set-user and set-group bits.
        const uid_t caller = ::geteuid();
        const uid_t owner = caller == 0 || caller == old.st_uid ? old.st_uid : static_cast<uid_t>(-1);
        if (::fchown(temp.fd, owner, old.st_gid) != 0 && errno != EPERM) {
            return temp.failOn(error, "fchown", temp.name, errno);
        }
        if (::fchmod(temp.fd, old.st_mode & 07777) != 0) {
            return temp.failOn(error, "fchmod", temp.name, errno);
        }
    }
    if (!writeAll(temp.fd, text, error) || !cparameters::seal(temp.fd, text, error)) {
        return false;
    }
    // A failed fsync is final: the kernel may have dropped the pages it
    // could not write and report success to a second try.
    if (::fsync(temp.fd) != 0) {
        return fail(error, "fsync", errno);
    }
    // The written descriptor is closed, and its close checked, before the
    // rename; the lock must last until the rename, or a cleanup by another
    // save could take the temp away in between.
    temp.lock = ::fcntl(temp.fd, F_DUPFD_CLOEXEC, 0);
    if (temp.lock < 0) {
        return fail(error, "fcntl", errno);
    }
    const int fd = temp.fd;
    temp.fd = -1;
    if (::close(fd) != 0 && errno != EINTR) { // after EINTR Linux has closed it, and the data is synced
        return fail(error, "close", errno);
    }
    if (exists && !cparameters::keepGeneration(directory.fd, target.base, temp.name, error)) {
        return false;
    }
    if (::renameat(directory.fd, temp.name.c_str(), directory.fd, target.base.c_str()) != 0) {
        return fail(error, "rename", errno);
    }
    temp.name.clear();
    if (::fsync(directory.fd) != 0) {
        // The new file is in place, but its name may not survive a power cut.
        return fail(error, "fsync of the directory", errno);
    }
    setReason(error, std::string(), 0);
    return true;
}

bool CParameters::loadJSONFile(const std::string& path)
{
    TextError error;
    return loadJSONFile(path, error);
}

bool CParameters::loadJSONFile(const std::string& path, TextError& error)
{
    std::string text;
    return cparameters::readTextFile(path, text, error) && deSerialiseAsJSON(text, error);
}

bool cparameters::readOpenFile(int fd, const struct stat& status, std::string& text, TextError& error)
{
    if (static_cast<unsigned long long>(status.st_size) >= text.max_size()) {
        return fail(error, "read", EFBIG);
    }
    // One byte more than the size, so that the read that finds the end
    // needs no room of its own; a file that grows meanwhile is read whole.
    text.resize(static_cast<std::size_t>(status.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            text.resize(text.size() * 2);
        }
        const ssize_t got = ::read(fd, &text[used], text.size() - used);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(error, "read", errno);
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    text.resize(used);
    return true;
}

int cparameters::readRegularFile(const std::string& path, std::string& text, struct stat& status, TextError& error,
                                 bool& absent)
{
    // Only a regular file is opened: the type is looked at before, where
    // the links are followed, and again on what open() gave, since the name
    // may have changed in between. O_NONBLOCK and O_NOCTTY, so that such a
    // change to a FIFO or a terminal neither waits nor takes a terminal.
    absent = false;
    cparameters::FileTarget target;
    if (!cparameters::followLinks(path, target, error) ||
        (target.exists && !cparameters::refuseIrregular(error, nullptr, target.status.st_mode))) {
        return -1;
    }
    Descriptor file(
        target.exists ? ::open(target.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW) : -1);
    if (file.fd < 0) {
        const int number = target.exists ? errno : ENOENT;
        absent = number == ENOENT;
        fail(error, "open", number);
        return -1;
    }
    if (::fstat(file.fd, &status) != 0) {
        fail(error, "fstat", errno);
        return -1;
    }
    if (!cparameters::refuseIrregular(error, nullptr, status.st_mode) || !readOpenFile(file.fd, status, text, error)) {
        return -1;
    }
    const int fd = file.fd;
    file.fd = -1;
    return fd;
}

bool cparameters::readTextFile(const std::string& path, std::string& text, TextError& error)
{
    struct stat status;
    bool absent;
    const Descriptor file(readRegularFile(path, text, status, error, absent));
    return file.fd >= 0 && cparameters::verify(file.fd, status, text, error);
}
