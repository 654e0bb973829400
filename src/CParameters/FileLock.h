// SPDX-License-Identifier: MIT
#ifndef CPARAMETERS_FILELOCK_H
#define CPARAMETERS_FILELOCK_H

#include "CParameters.h"

#include <string>

/**
 * An exclusive lock for a load-change-save of a parameter file, shared by
 * every program that changes the file through it (the cparameters tool
 * among them): an flock on FILE.lock beside the file that FILE leads to
 * through symbolic links (followed as saveJSONFile() follows them). A save
 * alone needs no lock; the lock keeps concurrent changes from losing one
 * another's updates. Readers take none.
 *
 * The lock file is made and opened without following a link, never
 * blocking, never as a terminal, and only a regular file with one name is
 * used. It takes the file's owner and group where the caller may give them
 * (root, or the owner) and the file's write bits only, so that only users
 * who may write the file can open it, and none who may only read it can
 * hold the lock against writers. A name too long for ".lock" within
 * NAME_MAX gets a shorter one of the same prefix and a hash.
 *
 * Same error policy as CParameters: nothing throws but std::bad_alloc.
 */
class CPARAMETERS_API CParameterFileLock {
public:
    CParameterFileLock();
    /// Releases the lock; the lock file stays.
    ~CParameterFileLock();

    /**
     * Waits until this process holds the lock for \p path. The file itself
     * is checked first: a path that leads to anything but a regular file
     * or nothing (a folder, a FIFO, a link the rules refuse) is refused
     * before a lock file is made.
     * \return false, holding nothing, when the file is refused or a system
     *         call failed; \p error then says which, as saveJSONFile()
     *         does ("open: d/f.lock: Permission denied").
     */
    bool acquire(const std::string& path, CParameters::TextError& error);

    /// Whether the lock is held.
    bool held() const;

    /// Releases the lock; the lock file stays, for the next change.
    void release();

    /// Releases the lock, and removes the lock file if acquire() made it:
    /// for a change that failed, so that it leaves nothing behind.
    void discard();

private:
    CParameterFileLock(const CParameterFileLock&);
    CParameterFileLock& operator=(const CParameterFileLock&);

    int m_directory;
    int m_fd;
    bool m_created;
    std::string m_name;
};

#endif
