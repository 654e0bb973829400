// SPDX-License-Identifier: MIT
// See FileLock.h. The lock file stays between changes, so that every process
// locks the same inode; it is removed only by a holder of the lock (discard),
// and whoever finds, once locked, that the name now leads to another inode or
// none starts over. That keeps one holder at a time through removals.
#include "FileLock.h"
#include "ErrorRecord.h"
#include "FilePaths.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using cparameters::failCall;

// Gives the lock file the file's owner and group, and its write bits only,
// where the caller may (root, or the lock file's owner); best effort, as a
// caller who may not still locks. Only a file with no other name is changed.
void conform(int fd, const struct stat& lock, const struct stat& file)
{
    const uid_t caller = ::geteuid();
    if (lock.st_nlink != 1 || (caller != 0 && caller != lock.st_uid)) {
        return;
    }
    if (lock.st_uid != file.st_uid || lock.st_gid != file.st_gid) {
        if (::fchown(fd, caller == 0 ? file.st_uid : static_cast<uid_t>(-1), file.st_gid) != 0) {
            return; // not a member of the file's group: left as it is
        }
    }
    if ((lock.st_mode & 07777) != (file.st_mode & 0222)) {
        ::fchmod(fd, file.st_mode & 0222);
    }
}

} // namespace

CParameterFileLock::CParameterFileLock() : m_directory(-1), m_fd(-1), m_created(false) {}

CParameterFileLock::~CParameterFileLock() { release(); }

bool CParameterFileLock::held() const { return m_fd >= 0; }

void CParameterFileLock::release()
{
    for (int* const fd : {&m_fd, &m_directory}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    m_created = false;
}

void CParameterFileLock::discard()
{
    if (m_fd >= 0 && m_created) {
        ::unlinkat(m_directory, m_name.c_str(), 0); // while still locked
    }
    release();
}

bool CParameterFileLock::acquire(const std::string& path, CParameters::TextError& error)
{
    release();
    cparameters::FileTarget target;
    if (!cparameters::followLinks(path, target, error) ||
        (target.exists && !cparameters::refuseIrregular(error, nullptr, target.status.st_mode))) {
        return false;
    }
    m_directory = ::open(target.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    if (m_directory < 0) {
        return failCall(error, "open", target.directory.c_str(), errno);
    }
    m_name = cparameters::nameBeside(target.base, ".lock", false);
    std::string shown = target.path.substr(0, target.path.size() - target.base.size());
    shown += m_name;
    const int flags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    // Every failure below holds nothing; a lock file made here stays, since
    // removed without the lock it could be another's. One way out for them
    // all: the failed call and its error number (no call where
    // refuseIrregular has filled the record).
    const char* call = nullptr;
    int number = 0;
    for (;;) {
        // Only a regular file is opened: looked at before, where that can
        // be done, and on what open() gave.
        struct stat named, locked;
        if (::fstatat(m_directory, m_name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0) {
            if (!cparameters::refuseIrregular(error, shown.c_str(), named.st_mode)) {
                break;
            }
        } else if (errno != ENOENT) {
            call = "stat";
            number = errno;
            break;
        }
        // Write bits only, so that nobody opens it who may not write FILE;
        // a new FILE will get 0666 less the umask, its lock the same less
        // the read bits.
        m_created = true;
        m_fd =
            cparameters::openBeside(m_directory, m_name.c_str(), flags | O_CREAT | O_EXCL, target.exists ? 0200 : 0222);
        if (m_fd < 0 && errno == EEXIST) {
            m_created = false;
            m_fd = cparameters::openBeside(m_directory, m_name.c_str(), flags);
            if (m_fd < 0 && errno == ENOENT) {
                continue; // removed meanwhile by a holder
            }
        }
        if (m_fd < 0) {
            call = "open";
            number = errno;
            break;
        }
        if (::fstat(m_fd, &locked) != 0) {
            call = "fstat";
            number = errno;
            break;
        }
        if (!cparameters::refuseIrregular(error, shown.c_str(), locked.st_mode)) {
            break;
        }
        if (locked.st_nlink > 1) { // another name of some other file
            call = "open";
            number = EMLINK;
            break;
        }
        if (target.exists) {
            conform(m_fd, locked, target.status);
        }
        int result;
        while ((result = ::flock(m_fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (result != 0) {
            call = "flock";
            number = errno;
            break;
        }
        if (::fstatat(m_directory, m_name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == locked.st_dev &&
            named.st_ino == locked.st_ino) {
            cparameters::setRecord(error, 0, 0, 0, std::string(), 0);
            return true;
        }
        ::close(m_fd); // removed or replaced by the holder before: start over
        m_fd = -1;
    }
    if (call != nullptr) {
        failCall(error, call, shown.c_str(), number);
    }
    release();
    return false;
}
