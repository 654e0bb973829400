// SPDX-License-Identifier: MIT
// Wrappers around the C library calls that saveJSONFile and loadJSONFile
// make, linked into the test program so that they take the library's calls
// (a program's own definitions come before the C library's for every shared
// object), natively and under qemu-arm alike. While a thread has a Session
// open they count its calls, fail the k-th one, and log the file-system
// operations of a save; other threads and unsessioned calls go straight
// through.
#ifndef CPARAMETERS_TESTS_FILE_SYSTEMCALLS_H
#define CPARAMETERS_TESTS_FILE_SYSTEMCALLS_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace syscalls {

// A file-system operation of a save. Names are relative to the directory the
// save works in; an empty name is that directory itself.
struct Operation {
    enum Kind { create, truncate, write, fsync, rename, unlink, link } kind;
    std::string name;
    std::string to, data; // rename and link: the new name; write: the bytes, at offset
    std::size_t offset;
};

struct Session {
    // Fails call number failAt (from 1; 0 fails none) with errno number, or
    // for a write with number 0 writes only half of it (a short write).
    explicit Session(long failAt = 0, int number = 0);
    ~Session();

    const long failAt;
    const int number;
    long calls = 0; // made so far
    // As the library names it in reasons ("fsync of the directory" for that
    // one), "" if none failed.
    std::string failed;
    std::vector<Operation> log;
    std::map<int, std::string> names; // descriptors of the save's directory ("") and files
};

} // namespace syscalls

#endif
