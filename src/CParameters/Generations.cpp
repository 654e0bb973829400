// SPDX-License-Identifier: MIT
// The last good version of a file, the evidence of a damaged one, the
// integrity check, the fallback load, the repair and the compare-and-save.
//
// A save links the version it replaces to a temp name and renames that onto
// FILE.last-good before its own temp is renamed onto FILE; the directory
// sync that ends the save makes both durable. Every name change is atomic
// and every file involved was synced before, so after a power cut FILE and
// FILE.last-good each hold their old or their new version, whole.
#include "Generations.h"
#include "CParameterFile.h"
#include "ErrorRecord.h"
#include "FileLock.h"
#include "FilePaths.h"
#include "JsoncppAdapters.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

using cparameters::Descriptor;

using TextError = CParameters::TextError;

const char attribute[] = "user.cparameters.crc32";
const char lastGoodSuffix[] = ".last-good";
const char damagedSuffix[] = ".damaged-";
const std::size_t evidenceKept = 3;

// "CALL: reason"; always false.
bool fail(TextError& error, const char* call, int number)
{
    return cparameters::failCall(error, call, nullptr, number);
}

// CRC-32 (the polynomial of zlib and Ethernet), a byte at a time through a
// table made on first use (in memory, not in the library's file). It finds
// every error of up to 32 adjacent bits, a flipped byte included.
std::uint32_t crc32(const std::string& data)
{
    struct Table {
        Table()
        {
            for (std::uint32_t i = 0; i < 256; ++i) {
                std::uint32_t crc = i;
                for (int bit = 0; bit < 8; ++bit) {
                    crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1u)));
                }
                entries[i] = crc;
            }
        }
        std::uint32_t entries[256];
    };
    static const Table table;
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc = crc >> 8 ^ table.entries[(crc ^ static_cast<unsigned char>(byte)) & 0xFFu];
    }
    return ~crc;
}

std::string lastGoodName(const std::string& base) { return cparameters::nameBeside(base, lastGoodSuffix, false); }

// FILE.damaged- and room for the time and a count behind it.
std::string evidencePrefix(const std::string& base)
{
    return cparameters::nameBeside(base, damagedSuffix, false, sizeof "20261206T141500Z-9");
}

// The version of a file that a token names: which inode, how long, when last
// written, and its CRC-32; "absent" for no file.
std::string tokenOf(const struct stat& status, const std::string& text)
{
    char token[96];
    std::snprintf(token, sizeof token, "%llx:%llx:%llx:%lld.%09ld:%08x", static_cast<unsigned long long>(status.st_dev),
                  static_cast<unsigned long long>(status.st_ino), static_cast<unsigned long long>(status.st_size),
                  static_cast<long long>(status.st_mtim.tv_sec), static_cast<long>(status.st_mtim.tv_nsec),
                  static_cast<unsigned>(crc32(text)));
    return token;
}

// Reads one version: opens only a regular file, checks its CRC-32 and
// parses it into into (all or nothing); without into, only its token.
bool readVersion(const std::string& path, CParameters* into, TextError& error,
                 CParameterFile::Integrity* integrity = nullptr, std::string* token = nullptr)
{
    struct stat status;
    std::string text;
    bool absent;
    const Descriptor file(cparameters::readRegularFile(path, text, status, error, absent));
    if (file.fd < 0) {
        if (token != nullptr && absent) {
            *token = "absent";
        }
        return false;
    }
    if (token != nullptr) {
        *token = tokenOf(status, text);
    }
    return into == nullptr ||
           (cparameters::verify(file.fd, status, text, error, integrity) && into->deSerialiseAsJSON(text, error));
}

// Sets token to the file's as it is now (empty when it cannot be read);
// always true: a save that said true stays a success.
bool tokenNow(const std::string& path, std::string& token)
{
    TextError ignored;
    token.clear();
    readVersion(path, nullptr, ignored, nullptr, &token);
    return true;
}

// Removes all but the newest evidenceKept damaged versions of a file (their
// names end in the UTC time, so the name order is the age order). Best
// effort: what fails stays for the next time.
void pruneEvidence(int directory, const std::string& prefix)
{
    DIR* const listing = cparameters::listFolder(directory);
    if (listing == nullptr) {
        return;
    }
    // A pass for each removal, the oldest each time: a save adds one at most.
    for (std::size_t count = evidenceKept + 1; count > evidenceKept; ::rewinddir(listing)) {
        std::string oldest;
        count = 0;
        while (const dirent* entry = ::readdir(listing)) {
            if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
                ++count;
                oldest = oldest.empty() || std::strcmp(oldest.c_str(), entry->d_name) > 0 ? entry->d_name : oldest;
            }
        }
        if (count > evidenceKept && ::unlinkat(directory, oldest.c_str(), 0) != 0) {
            break;
        }
    }
    ::closedir(listing);
}

// The save's own temp name with its last character changed for each
// attempt: a temp name, so that the stale-temp cleanup takes it should the
// save die.
std::string linkName(std::string name, int attempt)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    name.back() = alphabet[(std::strchr(alphabet, name.back()) - alphabet + 1 + attempt) % 64];
    return name;
}

// Whether the open file loads: readable, its checksum right, its text JSON.
// A matching checksum says the text is a save's own, which parses.
bool loads(int fd, struct stat& status, TextError& damage)
{
    std::string text;
    CParameters parsed;
    CParameterFile::Integrity integrity = CParameterFile::unsealed;
    return ::fstat(fd, &status) == 0 && cparameters::readOpenFile(fd, status, text, damage) &&
           cparameters::verify(fd, status, text, damage, &integrity) &&
           (integrity == CParameterFile::checked || parsed.deSerialiseAsJSON(text, damage));
}

// Links the damaged file named from to the next free evidence name of base.
bool linkEvidence(int directory, const char* from, const std::string& base, TextError& error)
{
    const std::time_t now = std::time(nullptr);
    std::tm utc;
    char stamp[32];
    std::strftime(stamp, sizeof stamp - 2, "%Y%m%dT%H%M%SZ", ::gmtime_r(&now, &utc));
    const std::string prefix = evidencePrefix(base);
    for (char attempt = '1'; attempt <= '9'; ++attempt) {
        const char suffix[] = {'-', attempt, '\0'};
        std::string name = prefix;
        name += stamp;
        name += attempt > '1' ? suffix : "";
        if (::linkat(directory, from, directory, name.c_str(), 0) == 0) {
            // Durable before the save's rename can make it the only name left.
            if (::fsync(directory) != 0) {
                return fail(error, "fsync of the directory", errno);
            }
            pruneEvidence(directory, prefix);
            return true;
        }
        if (errno != EEXIST) {
            return fail(error, "link", errno);
        }
    }
    return fail(error, "link", EEXIST);
}

} // namespace

namespace cparameters {

bool seal(int fd, const std::string& text, TextError& error)
{
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        return fail(error, "fstat", errno);
    }
    char value[64];
    const int length =
        std::snprintf(value, sizeof value, "crc32=%08x mtime=%lld.%09ld", static_cast<unsigned>(crc32(text)),
                      static_cast<long long>(status.st_mtim.tv_sec), status.st_mtim.tv_nsec);
    if (::fsetxattr(fd, attribute, value, static_cast<std::size_t>(length), 0) != 0 && errno != ENOTSUP) {
        return fail(error, "fsetxattr", errno);
    }
    return true;
}

bool verify(int fd, const struct stat& status, const std::string& text, TextError& error,
            CParameterFile::Integrity* integrity)
{
    CParameterFile::Integrity found = CParameterFile::unsealed;
    char value[64];
    const ssize_t length = ::fgetxattr(fd, attribute, value, sizeof value - 1);
    if (length < 0 && errno != ENODATA && errno != ENOTSUP) {
        return fail(error, "fgetxattr", errno);
    }
    if (length >= 0) {
        value[length] = '\0';
        unsigned crc = 0;
        long long seconds = 0;
        long nanoseconds = 0;
        if (std::sscanf(value, "crc32=%8x mtime=%lld.%9ld", &crc, &seconds, &nanoseconds) != 3) {
            setRecord(error, 0, 0, 0, "damaged: its checksum attribute is unreadable", 0);
            return false;
        }
        found = seconds != status.st_mtim.tv_sec || nanoseconds != status.st_mtim.tv_nsec ? CParameterFile::edited
                                                                                          : CParameterFile::checked;
        if (found == CParameterFile::checked && crc != crc32(text)) {
            setRecord(error, 0, 0, 0, "damaged: the content does not match its checksum", 0);
            return false;
        }
    }
    if (integrity != nullptr) {
        *integrity = found;
    }
    return true;
}

bool keepGeneration(int directory, const std::string& base, const std::string& tempName, TextError& error)
{
    const std::string lastGood = lastGoodName(base);
    for (int attempt = 0; attempt < 10; ++attempt) {
        // Locked, so that a concurrent save's temp cleanup leaves the link
        // alone while it has a temp name.
        const Descriptor old(::openat(directory, base.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (old.fd < 0) {
            return errno == ENOENT || fail(error, "open", errno); // nothing to keep
        }
        int result;
        while ((result = ::flock(old.fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (result != 0) {
            return fail(error, "flock", errno);
        }
        struct stat status;
        TextError damage;
        const bool good = loads(old.fd, status, damage);
        if (!good && damage.systemError != 0) {
            cparameters::setRecord(error, 0, 0, 0, damage.reason, damage.systemError); // unread is not damaged
            return false;
        }
        if (!good) {
            return linkEvidence(directory, base.c_str(), base, error);
        }
        const std::string name = linkName(tempName, attempt);
        if (::linkat(directory, base.c_str(), directory, name.c_str(), 0) != 0) {
            if (errno == EEXIST || errno == ENOENT) {
                continue; // the name is taken, or the file was replaced meanwhile
            }
            return fail(error, "link", errno);
        }
        // Removed again on every way out but the rename, std::bad_alloc included.
        struct Link {
            ~Link()
            {
                if (name != nullptr) {
                    ::unlinkat(directory, name, 0);
                }
            }
            int directory;
            const char* name;
        } link{directory, name.c_str()};
        struct stat linked;
        if (::fstatat(directory, name.c_str(), &linked, AT_SYMLINK_NOFOLLOW) != 0 || linked.st_ino != status.st_ino ||
            linked.st_dev != status.st_dev) {
            continue; // another save replaced the file between open and link
        }
        // A damaged last good version is evidence too, not to be replaced;
        // only a regular file is opened.
        struct stat previousStatus;
        const bool regular = ::fstatat(directory, lastGood.c_str(), &previousStatus, AT_SYMLINK_NOFOLLOW) == 0 &&
                             S_ISREG(previousStatus.st_mode);
        if (regular && previousStatus.st_ino == status.st_ino && previousStatus.st_dev == status.st_dev) {
            return true; // kept already, by a save beside this one: a rename onto it would leave the link
        }
        const Descriptor previous(
            regular ? ::openat(directory, lastGood.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)
                    : -1);
        if (previous.fd >= 0 && !loads(previous.fd, previousStatus, damage) && S_ISREG(previousStatus.st_mode) &&
            !linkEvidence(directory, lastGood.c_str(), base, error)) {
            return false;
        }
        if (::renameat(directory, name.c_str(), directory, lastGood.c_str()) != 0) {
            return fail(error, "rename", errno);
        }
        link.name = nullptr;
        return true;
    }
    // The file was replaced again and again between open and link: other
    // saves are replacing it, and each keeps the version it replaces.
    return true;
}

} // namespace cparameters

std::string CParameterFile::lastGoodPath(const std::string& path)
{
    cparameters::FileTarget target;
    TextError error;
    if (!cparameters::followLinks(path, target, error)) {
        return path + lastGoodSuffix; // what cannot be followed cannot be read either
    }
    std::string last = target.path.substr(0, target.path.size() - target.base.size());
    return last += lastGoodName(target.base);
}

bool CParameterFile::load(const std::string& path, CParameters& into, Report& report)
{
    return load(path, into, report, ValueCheck());
}

bool CParameterFile::load(const std::string& path, CParameters& into, Report& report, const ValueCheck& check)
{
    // Filled in place: a Report's assignment would cost more code than this.
    report.serving = servesNothing;
    report.integrity = unsealed;
    report.file = path;
    report.lastGood = lastGoodPath(path);
    report.fileError = report.lastGoodError = TextError();
    report.fromLastGood.clear();
    report.dropped.clear();
    report.token.clear();
    // Without a check each version is read straight into the caller's
    // container, which a read changes all or not at all.
    CParameters file, good;
    bool goodRead = false, goodLoaded = false;
    Integrity fileIntegrity = unsealed, goodIntegrity = unsealed;
    const auto readGood = [&]() {
        if (!goodRead) {
            goodRead = true;
            goodLoaded = readVersion(report.lastGood, check ? &good : &into, report.lastGoodError, &goodIntegrity);
        }
        return goodLoaded;
    };
    if (readVersion(path, check ? &file : &into, report.fileError, &fileIntegrity, &report.token)) {
        report.serving = servesFile;
        report.integrity = fileIntegrity;
    } else if (readGood()) {
        report.serving = servesLastGood;
        report.integrity = goodIntegrity;
    }
    CParameters& result = report.serving == servesFile ? file : good; // changed in place, then merged
    for (auto it = result.begin(); check && it != result.end(); ++it) {
        // Added from the view: one vector growth path with the schema's.
        const std::string_view view = cparameters::memberName(it);
        const std::string name(view);
        if (check(name, *it)) {
            continue;
        }
        if (report.serving == servesFile && readGood() && good.exists(name) && check(name, good.getParam(name))) {
            report.fromLastGood.emplace_back(std::string_view(view));
        } else {
            report.dropped.emplace_back(std::string_view(view));
        }
    }
    for (const std::string& name : report.fromLastGood) {
        result.setParam(name, good.getParam(name));
    }
    for (const std::string& name : report.dropped) {
        result.removeParam(name);
    }
    const bool served = report.serving != servesNothing;
    if (served && check) {
        into.append(result);
    }
    return served;
}

bool CParameterFile::repair(const std::string& path, Report& report, TextError& error)
{
    CParameterFileLock lock;
    CParameters good;
    if (!lock.acquire(path, error)) {
        return false;
    }
    // Nothing to save leaves no lock file behind, where this made one.
    if (!load(path, good, report)) {
        lock.discard();
        std::string reason = "no last good version to restore: ";
        reason += report.lastGoodError.reason;
        cparameters::setRecord(error, 0, 0, 0, std::move(reason), report.lastGoodError.systemError);
        return false;
    }
    if (report.serving == servesFile) {
        lock.discard();
        cparameters::setRecord(error, 0, 0, 0, std::string(), 0);
        return true;
    }
    // The save moves the damaged file aside before its rename.
    return good.saveJSONFile(path, error) && tokenNow(path, report.token);
}

bool CParameterFile::saveIfUnchanged(const CParameters& parameters, const std::string& path, std::string& token,
                                     TextError& error)
{
    CParameterFileLock lock;
    std::string now;
    if (!lock.acquire(path, error) || (!readVersion(path, nullptr, error, nullptr, &now) && now.empty())) {
        return false;
    }
    if (now != token) {
        lock.discard();
        cparameters::setRecord(error, 0, 0, 0, "changed since it was loaded", ESTALE);
        return false;
    }
    return parameters.saveJSONFile(path, error) && tokenNow(path, token);
}
