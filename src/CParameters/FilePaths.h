// SPDX-License-Identifier: MIT
// What saves, loads and the file lock share: where a path leads through
// symbolic links, followed only as the kernel's fs.protected_symlinks
// allows; the names made beside a file, kept within NAME_MAX; and failures
// that name the file whose call failed.
#ifndef CPARAMETERS_FILEPATHS_H
#define CPARAMETERS_FILEPATHS_H

#include "CParameters.h"

#include <cstddef>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cparameters {

// openat() with O_CLOEXEC always added: no descriptor of a save, load or
// lock may reach a child that a thread of a daemon starts meanwhile.
inline int openBeside(int directory, const char* name, int flags, mode_t mode = 0)
{
    return ::openat(directory, name, flags | O_CLOEXEC, mode);
}

// A listing of the folder open as \p directory, read through a descriptor
// of its own (close-on-exec), so that closedir() leaves \p directory open;
// null when it cannot be had.
inline DIR* listFolder(int directory)
{
    const int scan = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (scan < 0) {
        return nullptr;
    }
    DIR* const listing = ::fdopendir(scan);
    if (listing == nullptr) {
        ::close(scan);
    }
    return listing;
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

// "CALL: strerror(number)", or "CALL: NAME: ..." when \p name is not
// null (a file other than the one the caller named); always false.
bool failCall(CParameters::TextError& error, const char* call, const char* name, int number);

// The file that a path leads to through the symbolic links at its end.
struct FileTarget {
    std::string path;      // the last link's target, or the path itself
    std::string directory; // the folder it is in: ".", "/" or up to its last slash
    std::string base;      // its last component, not empty, "." or ".."
    bool exists = false;   // whether it is there (then never a link)
    struct stat status {}; // its lstat, where it exists
};

// Follows the chain of links at the end of \p path (at most 40), each only
// where the kernel with fs.protected_symlinks on would follow it: a link in
// a sticky folder that anyone may write is followed only when its owner is
// the caller (the effective user) or the folder's owner. Links among the
// folders of the path are the kernel's to follow. False, with the reason,
// for a link refused (EACCES), a loop (ELOOP), a path that names no file
// (EISDIR: empty last component, "." or "..") or a failed call; a missing
// last file is no failure.
bool followLinks(const std::string& path, FileTarget& target, CParameters::TextError& error);

// False with "open: not a regular file but a FIFO" (EISDIR for a folder,
// else EINVAL) when \p mode is not a regular file's; \p name as failCall's.
// True for a regular file.
bool refuseIrregular(CParameters::TextError& error, const char* name, mode_t mode);

// A name for "." + base + suffix beside base, or for base + suffix without
// the dot, that leaves \p reserved bytes within NAME_MAX for the caller to
// append: a base too long for it is cut and followed by "~" and 16 hex
// digits of a hash of the whole base, so that every process finds the same
// name for the same file.
std::string nameBeside(const std::string& base, const char* suffix, bool hidden, std::size_t reserved = 0);

} // namespace cparameters

#endif
