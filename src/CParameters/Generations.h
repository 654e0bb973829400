// SPDX-License-Identifier: MIT
// What saveJSONFile and loadJSONFile call of the generations and the
// integrity check (Generations.cpp). Internal to the library.
#ifndef CPARAMETERS_GENERATIONS_H
#define CPARAMETERS_GENERATIONS_H

#include "CParameterFile.h"

#include <string>

#include <sys/stat.h>

namespace cparameters {

// Records the CRC-32 of text, just written to the temp file fd, and fd's
// modification time in its extended attribute. A file system without
// extended attributes (ENOTSUP) records nothing, and that is no failure.
bool seal(int fd, const std::string& text, CParameters::TextError& error);

// Checks text, read from fd whose fstat is status, against its attribute:
// false, with the reason in error, when the file's modification time is
// still the one recorded but its CRC-32 is not.
bool verify(int fd, const struct stat& status, const std::string& text, CParameters::TextError& error,
            CParameterFile::Integrity* integrity = nullptr);

// Reads the open file fd, whose fstat is status, from where it stands to
// its end into text (which it replaces).
bool readOpenFile(int fd, const struct stat& status, std::string& text, CParameters::TextError& error);

// Opens path read-only as loadJSONFile() does (links followed as the
// kernel's rules allow, only a regular file) and reads it whole into text,
// status being the open file's fstat. The open descriptor, which the caller
// closes; or -1, with error set, and absent saying whether there was no file.
int readRegularFile(const std::string& path, std::string& text, struct stat& status, CParameters::TextError& error,
                    bool& absent);

// Keeps the file that a save is about to replace: a hard link to it under
// a temp name (tempName, the save's own, with its last character changed,
// so that the stale-temp cleanup takes it should the save die) renamed onto
// its last good name when it loads, or linked to a new FILE.damaged-<time>
// name when it does not; a damaged last good version is linked to such a
// name before it is replaced. Should other saves replace the file again
// and again meanwhile, they keep it, and this one keeps nothing. The
// save syncs the directory afterwards, which makes these changes durable
// with its own rename.
bool keepGeneration(int directory, const std::string& base, const std::string& tempName,
                    CParameters::TextError& error);

} // namespace cparameters

#endif
