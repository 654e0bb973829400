// SPDX-License-Identifier: MIT
#ifndef CPARAMETERS_CPARAMETERFILE_H
#define CPARAMETERS_CPARAMETERFILE_H

#include "CParameters.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

/**
 * A parameter file with its last good version: a load that falls back to
 * it, a repair that restores it, and a save that replaces only the version
 * it loaded. docs/files.md describes the chain.
 *
 * Every CParameters::saveJSONFile() keeps the version it replaces as the
 * file's last good version, FILE.last-good beside it, when that version
 * loads and passes its integrity check; one that does not is moved aside as
 * FILE.damaged-<UTC time> instead (the newest three are kept). Each save
 * also records a CRC-32 of the file in its extended attribute
 * user.cparameters.crc32, which a load checks while the file's modification
 * time is still the one the save left (a changed time means the file was
 * written since, by hand: then it is not checked).
 *
 * Error policy as CParameters': nothing throws but std::bad_alloc, and a
 * container is changed only by a load that returns true.
 */
class CPARAMETERS_API CParameterFile {
public:
    /// Which version a fallback load read.
    enum Serving { servesFile, servesLastGood, servesNothing };

    /// How far a version's integrity was checked.
    enum Integrity {
        checked,  ///< its CRC-32 matched
        unsealed, ///< no checksum: none saved, or no extended attributes
        edited    ///< written since its save (newer modification time): not checked
    };

    /// What a fallback load did. Members may be added at the end in later
    /// versions: the library fills only those within \c size.
    struct Report {
        Report() : size(sizeof(Report)), serving(servesNothing), integrity(unsealed) {}

        std::size_t size;                          ///< of the record as the caller knows it
        Serving serving;                           ///< the version that served
        Integrity integrity;                       ///< of the version that served
        std::string file;                          ///< FILE's path
        std::string lastGood;                      ///< its last good version's path
        CParameters::TextError fileError;          ///< why FILE did not serve; reason empty when it did
        CParameters::TextError lastGoodError;      ///< why the last good version did not, when it was read
        std::vector<std::string> fromLastGood;     ///< names whose value failed the check and came from it
        std::vector<std::string> dropped;          ///< names whose value failed the check and were left out
        std::string token;                         ///< FILE as found, for saveIfUnchanged()

        /// Whether anything was amiss: FILE did not serve whole.
        bool damaged() const { return serving != servesFile || !fromLastGood.empty() || !dropped.empty(); }
        /// One line per finding, each ending in a newline; empty when
        /// nothing was amiss.
        std::string message() const
        {
            std::string text;
            if (serving != servesFile && !fileError.reason.empty()) {
                text += file + ": " + fileError.message() + '\n';
            }
            if (serving == servesLastGood) {
                text += file + ": the last good version serves: " + lastGood + '\n';
            } else if (serving == servesNothing) {
                text += file + ": no version serves; " + lastGood + ": " + lastGoodError.message() + '\n';
            }
            for (std::size_t i = 0; i < fromLastGood.size(); ++i) {
                text += file + ": " + fromLastGood[i] + ": its value fails the check; the last good version's serves\n";
            }
            for (std::size_t i = 0; i < dropped.size(); ++i) {
                text += file + ": " + dropped[i] + ": its value fails the check and is left out\n";
            }
            return text;
        }
    };

    /// A value check for load(): true when \p value may stand under \p name.
    typedef std::function<bool(const std::string& name, const Json::Value& value)> ValueCheck;

    /**
     * Reads FILE and merges it into \p into. When FILE is missing, cannot be
     * read, does not parse or fails its CRC-32, its last good version is
     * read instead. With \p check, each value of FILE that fails it is
     * replaced by the last good version's value of that name if that one
     * passes, else left out (the caller's defaults then serve). Moves and
     * writes nothing: evidence is kept by the next save or by repair().
     * \return true when FILE or its last good version served; false, with
     *         \p into unchanged, when neither did (both missing or damaged).
     *         \p report says what happened either way.
     */
    static bool load(const std::string& path, CParameters& into, Report& report);
    static bool load(const std::string& path, CParameters& into, Report& report, const ValueCheck& check);

    /**
     * Restores the last good version when FILE does not load or fails its
     * CRC-32: the damaged FILE is moved aside as FILE.damaged-<time>, then
     * the last good version is saved as FILE. Does nothing to a FILE that
     * loads. Holds the lock on FILE.lock while it works.
     * \return false, with the reason in \p error, when there is no last good
     *         version that loads, or a system call failed.
     */
    static bool repair(const std::string& path, Report& report, CParameters::TextError& error);

    /**
     * Saves \p parameters as saveJSONFile() does, but only while FILE is
     * still the version \p token names (Report::token of the load, or of
     * the last such save, which sets \p token anew). Compares and saves
     * under the exclusive lock on FILE.lock that the tool's changes take.
     * \return false, saving nothing, with reason "changed since it was
     *         loaded" (systemError ESTALE) when FILE is another version.
     */
    static bool saveIfUnchanged(const CParameters& parameters, const std::string& path, std::string& token,
                                CParameters::TextError& error);

    /// FILE.last-good in FILE's directory (shortened with a hash to fit
    /// NAME_MAX when FILE's name is long).
    static std::string lastGoodPath(const std::string& path);
};

#endif
