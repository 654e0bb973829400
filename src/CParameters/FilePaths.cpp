// SPDX-License-Identifier: MIT
// See FilePaths.h. Links are followed here rather than by open(), so that
// the save can replace the file a link leads to and leave the link; the
// kernel's own check on links in shared folders is therefore made here too,
// whether or not the machine turns it on.
#include "FilePaths.h"
#include "ErrorRecord.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include <unistd.h>

namespace cparameters {

namespace {

// "CALL: NAME: WHAT", or "CALL: WHAT" without a name; always false. Appended
// piece by piece: a chain of + would inline a temporary string for each.
bool failWith(CParameters::TextError& error, const char* call, const char* name, const char* what, int number)
{
    std::string reason(call);
    reason.append(": ");
    if (name != nullptr) {
        reason.append(name).append(": ");
    }
    setRecord(error, 0, 0, 0, std::move(reason.append(what)), number);
    return false;
}

} // namespace

bool failCall(CParameters::TextError& error, const char* call, const char* name, int number)
{
    return failWith(error, call, name, std::strerror(number), number);
}

bool refuseIrregular(CParameters::TextError& error, const char* name, mode_t mode)
{
    const char* const kind = S_ISREG(mode)    ? nullptr
                             : S_ISDIR(mode)  ? "not a regular file but a directory"
                             : S_ISFIFO(mode) ? "not a regular file but a FIFO"
                             : S_ISSOCK(mode) ? "not a regular file but a socket"
                             : S_ISLNK(mode)  ? "not a regular file but a symbolic link"
                                              : "not a regular file but a device";
    return kind == nullptr || failWith(error, "open", name, kind, S_ISDIR(mode) ? EISDIR : EINVAL);
}

namespace {

// Splits target.path into its folder and last component.
bool split(FileTarget& target, CParameters::TextError& error)
{
    const std::size_t slash = target.path.rfind('/');
    target.directory = slash == std::string::npos ? std::string(".")
                       : slash == 0               ? std::string("/")
                                                  : target.path.substr(0, slash);
    target.base = slash == std::string::npos ? target.path : target.path.substr(slash + 1);
    if (target.base.empty() || target.base == "." || target.base == "..") {
        return refuseIrregular(error, nullptr, S_IFDIR); // names a folder, or none
    }
    return true;
}

// Whether the kernel with fs.protected_symlinks on would follow the link
// \p link in \p directory: not in a sticky, world-writable folder unless
// the link is the follower's or the folder owner's.
bool mayFollow(const struct stat& link, const struct stat& directory)
{
    const bool shared = (directory.st_mode & S_ISVTX) != 0 && (directory.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == directory.st_uid;
}

} // namespace

bool followLinks(const std::string& path, FileTarget& target, CParameters::TextError& error)
{
    target.path = path;
    for (int hops = 0;; ++hops) {
        if (!split(target, error)) {
            return false;
        }
        const char* const link = hops == 0 ? nullptr : target.path.c_str(); // named where it is not path
        if (::lstat(target.path.c_str(), &target.status) != 0) {
            target.exists = false;
            return errno == ENOENT || failCall(error, "lstat", link, errno); // a missing file is made anew
        }
        target.exists = true;
        if (!S_ISLNK(target.status.st_mode)) {
            return true;
        }
        if (hops == 40) {
            return failCall(error, "open", nullptr, ELOOP); // as open() would say
        }
        struct stat directory;
        if (::stat(target.directory.c_str(), &directory) != 0) {
            return failCall(error, "stat", target.directory.c_str(), errno);
        }
        if (!mayFollow(target.status, directory)) {
            return failCall(error, "open", link, EACCES);
        }
        char next[PATH_MAX];
        const ssize_t length = ::readlink(target.path.c_str(), next, sizeof next);
        if (length <= 0 || static_cast<std::size_t>(length) == sizeof next) {
            return failCall(error, "readlink", link, length < 0 ? errno : length == 0 ? ENOENT : ENAMETOOLONG);
        }
        const std::size_t slash = target.path.rfind('/');
        target.path.resize(next[0] == '/' || slash == std::string::npos ? 0 : slash + 1);
        target.path.append(next, static_cast<std::size_t>(length));
    }
}

std::string nameBeside(const std::string& base, const char* suffix, bool hidden, std::size_t reserved)
{
    const std::size_t room = NAME_MAX - std::strlen(suffix) - (hidden ? 1 : 0) - reserved;
    std::string name(hidden ? "." : "");
    if (base.size() <= room) {
        return name.append(base).append(suffix);
    }
    // FNV-1a: not for secrecy, only so that two long names that start alike
    // get different short ones.
    std::uint64_t hash = 14695981039346656037u;
    for (const char c : base) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    }
    name.append(base.data(), room - 17);
    name += '~';
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += "0123456789abcdef"[(hash >> shift) & 15];
    }
    return name.append(suffix);
}

} // namespace cparameters
