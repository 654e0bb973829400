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
#include "CParameters.h"
#include "ErrorRecord.h"
#include "JsonReader.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TextError = CParameters::TextError;

// A failure at no place in a text: the reason names the call.
void setReason(TextError& error, std::string reason, int number)
{
    cparameters::setRecord(error, 0, 0, 0, std::move(reason), number);
}

// "rename: No space left on device"; always false.
bool fail(TextError& error, const char* call, int number)
{
    setReason(error, std::string(call) + ": " + std::strerror(number), number);
    return false;
}

// Closes on every way out; only descriptors whose close cannot lose data
// (read-only ones) are left to it.
struct Descriptor {
    explicit Descriptor(int number) : fd(number) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int fd;
};

// Temp files are "." + the target's name + ".tmp-" + this many random
// characters, 72 bits of the kernel's random numbers.
const std::size_t randomLength = 12;

std::string tempPrefix(const std::string& base) { return "." + base + ".tmp-"; }

bool isTempName(const char* name, const std::string& prefix)
{
    if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) {
        return false;
    }
    const char* const tail = name + prefix.size();
    return std::strlen(tail) == randomLength && std::strspn(tail, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                                  "0123456789-_") == randomLength;
}

// The path with every symbolic link at its end followed, so that a save
// replaces the file a link leads to and leaves the link in place.
bool followLinks(std::string& path, TextError& error)
{
    for (int hops = 0;; ++hops) {
        struct stat status;
        if (::lstat(path.c_str(), &status) != 0) {
            return errno == ENOENT || fail(error, "lstat", errno); // a missing file is made anew
        }
        if (!S_ISLNK(status.st_mode)) {
            return true;
        }
        if (hops == 40) {
            return fail(error, "readlink", ELOOP);
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length < 0) {
            return fail(error, "readlink", errno);
        }
        if (static_cast<std::size_t>(length) == sizeof target) {
            return fail(error, "readlink", ENAMETOOLONG);
        }
        const std::string next(target, static_cast<std::size_t>(length));
        const std::size_t slash = path.rfind('/');
        path = next[0] == '/' || slash == std::string::npos ? next : path.substr(0, slash + 1) + next;
    }
}

// Removes the temp files of earlier saves of this file that nobody holds
// locked: a running save locks its own. Best effort: whatever fails here
// leaves a stale file for the next save, and this save goes on.
void removeStaleTemps(int directory, const std::string& prefix)
{
    const int scan = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scan < 0) {
        return;
    }
    DIR* const listing = ::fdopendir(scan);
    if (listing == nullptr) {
        ::close(scan);
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        if (!isTempName(entry->d_name, prefix)) {
            continue;
        }
        const Descriptor temp(::openat(directory, entry->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        struct stat opened, named;
        // The name must still be the file locked: it is unlinked only while
        // this save holds the lock, so no running save can have it.
        if (temp.fd >= 0 && ::flock(temp.fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(temp.fd, &opened) == 0 &&
            S_ISREG(opened.st_mode) && ::fstatat(directory, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            ::unlinkat(directory, entry->d_name, 0);
        }
    }
    ::closedir(listing);
}

// The new file, removed again unless it has been renamed over the target.
struct Temp {
    Temp(int directory_) : directory(directory_) {}
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
            if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
                return fail(error, "getrandom", errno);
            }
            std::string candidate = prefix;
            for (const unsigned char byte : bytes) {
                candidate += alphabet[byte % 64];
            }
            fd = ::openat(directory, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
            if (fd < 0) {
                if (errno == EEXIST) {
                    continue;
                }
                return fail(error, "open", errno);
            }
            name = std::move(candidate); // moved: a failed allocation here would leave the file behind
            while (::flock(fd, LOCK_EX) != 0) {
                if (errno != EINTR) {
                    return fail(error, "flock", errno);
                }
            }
            struct stat status;
            if (::fstat(fd, &status) != 0) {
                return fail(error, "fstat", errno);
            }
            if (status.st_nlink > 0) {
                return true;
            }
            ::close(fd);
            fd = -1;
            name.clear(); // no longer ours, nor anyone's
        }
        return fail(error, "open", EEXIST);
    }

    int directory;
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

    std::string target = path;
    if (!followLinks(target, error)) {
        return false;
    }
    const std::size_t slash = target.rfind('/');
    const std::string directoryName = slash == std::string::npos ? std::string(".")
                                      : slash == 0               ? std::string("/")
                                                                 : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") {
        return fail(error, "open", EISDIR);
    }
    const Descriptor directory(::open(directoryName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.fd < 0) {
        return fail(error, "open", errno);
    }

    // An existing file hands its permission bits on; the temp is made 0600
    // until then, so that nobody can open it under wider ones. A new file
    // gets 0666 less the umask from the kernel, as open() gives it.
    struct stat old;
    const bool exists = ::fstatat(directory.fd, base.c_str(), &old, 0) == 0;
    if (!exists && errno != ENOENT) {
        return fail(error, "stat", errno);
    }
    if (exists && !S_ISREG(old.st_mode)) {
        return fail(error, "open", S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
    }

    const std::string prefix = tempPrefix(base);
    removeStaleTemps(directory.fd, prefix);
    Temp temp(directory.fd);
    if (!temp.create(prefix, exists ? 0600 : 0666, error)) {
        return false;
    }
    if (exists && ::fchmod(temp.fd, old.st_mode & 07777) != 0) {
        return fail(error, "fchmod", errno);
    }
    if (!writeAll(temp.fd, text, error)) {
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
    temp.lock = ::dup(temp.fd);
    if (temp.lock < 0) {
        return fail(error, "dup", errno);
    }
    const int fd = temp.fd;
    temp.fd = -1;
    if (::close(fd) != 0 && errno != EINTR) { // after EINTR Linux has closed it, and the data is synced
        return fail(error, "close", errno);
    }
    if (::renameat(directory.fd, temp.name.c_str(), directory.fd, base.c_str()) != 0) {
        return fail(error, "rename", errno);
    }
    temp.name.clear();
    if (::fsync(directory.fd) != 0) {
        // The new file is in place, but its name may not survive a power cut.
        setReason(error, std::string("fsync of the directory: ") + std::strerror(errno), errno);
        return false;
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

bool cparameters::readTextFile(const std::string& path, std::string& text, TextError& error)
{
    // O_NONBLOCK: opening a FIFO without a writer must not wait for one.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.fd < 0) {
        return fail(error, "open", errno);
    }
    struct stat status;
    if (::fstat(file.fd, &status) != 0) {
        return fail(error, "fstat", errno);
    }
    if (!S_ISREG(status.st_mode)) {
        const int number = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
        const char* const kind = S_ISDIR(status.st_mode)    ? "a directory"
                                 : S_ISFIFO(status.st_mode) ? "a FIFO"
                                 : S_ISSOCK(status.st_mode) ? "a socket"
                                                            : "a device";
        setReason(error, "open: not a regular file but " + std::string(kind), number);
        return false;
    }
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
        const ssize_t got = ::read(file.fd, &text[used], text.size() - used);
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
