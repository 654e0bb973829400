// SPDX-License-Identifier: MIT
#ifndef CPARAMETERS_CPARAMETERS_H
#define CPARAMETERS_CPARAMETERS_H

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Only the container's own symbols leave libCParameters.so: the library is
// built with hidden visibility and this macro opens the class again.
#if defined(__GNUC__) || defined(__clang__)
#define CPARAMETERS_API __attribute__((visibility("default")))
#else
#define CPARAMETERS_API
#endif

/**
 * A keyed store of named parameters: each entry is a name (compared byte by
 * byte) and a JSON value, all kept in one JSON object whose iteration order
 * is the ascending order of the names.
 *
 * Names are at most 2^30 - 1 bytes long, as jsoncpp keeps a name's length
 * in 30 bits: setParam() stores nothing under a longer name, the readers
 * reject one ("name too long"), and no look-up finds one.
 *
 * Error policy: no operation throws for bad input. Reads of absent names
 * answer with the caller's default, the null value or false; readers of text
 * forms answer false and leave the container exactly as it was. No read
 * inserts an entry. Only std::bad_alloc passes through (jsoncpp's own
 * allocation failures included), and the library operations it interrupts
 * leave the container exactly as it was and return no partial text.
 *
 * The header is C++11; the operations defined out of line live in the
 * shared library libCParameters.so.0.
 */
class CPARAMETERS_API CParameters {
public:
    /**
     * Where and why deSerialise(), deSerialiseAsJSON() or a file operation
     * failed. Cleared on success. Line and column count from 1 (the column in
     * bytes); all three positions are 0 for faults that are not at a place
     * in the text (bad separators, system errors).
     * \note Members may be added at the end in later versions: the library
     *       fills only those within \c size, which the constructor sets, so
     *       programs built against this header keep working.
     */
    struct TextError {
        TextError() : size(sizeof(TextError)), offset(0), line(0), column(0), systemError(0) {}

        std::size_t size;   ///< of the record as the caller knows it
        std::size_t offset; ///< of the first faulty byte, from 0
        std::size_t line;
        std::size_t column;
        std::string reason; ///< e.g. "duplicate name \"port\""; empty on success
        /// The errno of the system call that failed (since 0.3); 0 for
        /// faults in the text and on success. Reason then names the call:
        /// "rename: No space left on device".
        int systemError;

        /// "line 3, column 12: duplicate name "port"", or the reason alone
        /// for faults that are not at a place in the text.
        std::string message() const
        {
            if (line == 0) {
                return reason;
            }
            return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + reason;
        }
    };

    CParameters() : m_params(Json::objectValue) {}

    /// Stores the text under \p name, replacing any earlier value.
    /// A null \p value or a name too long stores nothing.
    void setParam(const std::string& name, const char* value)
    {
        if (value != nullptr && holds(name)) {
            m_params[name] = Json::Value(value);
        }
    }

    /// Stores a deep copy of \p value under \p name; a name too long
    /// stores nothing.
    void setParam(const std::string& name, const Json::Value& value)
    {
        if (holds(name)) {
            m_params[name] = Json::Value(value);
        }
    }

    /// The text stored under \p name; \p defaultValue when the name is
    /// absent or its value is not a JSON string.
    std::string getParamAsString(const std::string& name, const std::string& defaultValue) const
    {
        const Json::Value& value = getParam(name);
        return value.isString() ? value.asString() : defaultValue;
    }

    /// A reference into the store, or to jsoncpp's shared null value when the
    /// name is absent. Valid while the entry is not replaced.
    const Json::Value& getParam(const std::string& name) const
    {
        return holds(name) ? m_params[name] : Json::Value::nullSingleton();
    }

    /// Whether an entry of that name is present, whatever its value (null
    /// included).
    bool exists(const std::string& name) const
    {
        if (!holds(name)) {
            return false;
        }
        return m_params.isMember(name);
    }

    /// Removes the entry of that name; says whether there was one.
    /// Iterators to other entries stay valid.
    bool removeParam(const std::string& name);

    /// The number of entries; walks them, so it is linear in their number.
    std::size_t size() const
    {
        std::size_t count = 0;
        for (Json::Value::const_iterator it = m_params.begin(), last = m_params.end(); it != last; ++it) {
            ++count;
        }
        return count;
    }

    Json::Value::const_iterator begin() const { return m_params.begin(); }
    Json::Value::const_iterator end() const { return m_params.end(); }

    /// The name of the entry that \p it designates.
    static std::string getKey(Json::Value::const_iterator it) { return it.key().asString(); }

    /// The text of the entry that \p it designates; empty when it is not a
    /// JSON string.
    static std::string getValueAsString(Json::Value::const_iterator it)
    {
        std::string result;
        if (it->isString()) {
            result = it->asString();
        }
        return result;
    }

    /// Each entry as name, \p nameValueSeparator, value; entries joined by
    /// \p entrySeparator, in name order, with no quoting. A string value is
    /// its text, null is empty, any other value is compact JSON.
    std::string serialise(const std::string& nameValueSeparator, const std::string& entrySeparator) const;

    /**
     * Reads the delimited form and merges it in: the text's names are added
     * or replaced with their values as JSON strings; other entries stay.
     * Empty entries are skipped; each entry splits at its first
     * \p nameValueSeparator, so a value may contain it; a name repeated in
     * the text keeps its last value.
     * \return false, changing nothing, for an entry without the name/value
     *         separator, with an empty name or one too long, an empty
     *         separator, or two equal separators.
     * \note serialise() reads back to the same entries when the separators
     *       are single characters, no name is empty or holds either
     *       separator, and no value holds the entry separator. (An empty
     *       name is refused here because in hand-written text it is far
     *       more often a slip; the JSON form carries one.)
     */
    bool deSerialise(const std::string& text, const std::string& nameValueSeparator, const std::string& entrySeparator);

    /// deSerialise(), also saying in \p error where and why a text was
    /// rejected ("entry 4 has no \"=\" separator", "entry 2 has an empty
    /// name", "entry 1 has a name too long", "empty separator", "equal
    /// separators").
    bool deSerialise(const std::string& text, const std::string& nameValueSeparator, const std::string& entrySeparator,
                     TextError& error);

    /**
     * One compact JSON object on one line: no spaces, strings as their bytes
     * (UTF-8 or not) with only '"', '\\' and control characters escaped,
     * doubles in the shortest digits that read back to the same double (an
     * integral one as 100.0 below 1e16, else with an exponent, so that it
     * reads back as a double), never a comment.
     * \post deSerialiseAsJSON() reads it back to the same entries, except
     *       that non-finite numbers are written as null, and values nested
     *       deeper than maxJSONDepth (only setParam() can store them) are
     *       written but not read back.
     */
    std::string serialiseAsJSON() const;

    /// Containers that deSerialiseAsJSON() accepts nested in each other, the
    /// root object counting as the first; scalars are no level.
    static const int maxJSONDepth = 64;

    /**
     * Reads JSON (RFC 8259) whose root is an object and merges its members
     * in, each keeping its type: integers within 64 bits (signed, or
     * unsigned above the signed range) as integers, other numbers as the
     * nearest double. Locale-independent. Strings may hold any bytes but raw
     * control characters; invalid UTF-8 is kept as it is.
     * \return false, changing nothing, for anything else: another root,
     *         comments, trailing commas, anything but JSON whitespace after
     *         the root (a NUL byte included), numbers such as 01, +1, 1. or
     *         -, invalid escapes or unpaired surrogates, duplicate names at
     *         any depth, names too long, numbers beyond a double's range, or
     *         more than maxJSONDepth nested containers.
     */
    bool deSerialiseAsJSON(const std::string& text);

    /// deSerialiseAsJSON(), also saying in \p error where and why a text was
    /// rejected ("comment", "duplicate name \"port\"", "trailing comma",
    /// "nesting deeper than 64 levels", ...).
    bool deSerialiseAsJSON(const std::string& text, TextError& error);

    /**
     * Makes the file at \p path hold serialiseAsJSON() and a newline,
     * atomically and durably: at every instant, and after a power cut at
     * any instant, the file holds its old content or the new one, whole
     * (on file systems that keep the guarantees of docs/files.md). When it
     * returns true the new content and its name are on disk (file and
     * directory synced).
     *
     * The text goes to a temp file created exclusively under a random name
     * in the file's own directory and renamed over it. A symbolic link at
     * \p path is followed (a chain too): the file it leads to is replaced,
     * the link stays; but a link in a sticky folder that anyone may write
     * is followed only when it is the caller's (effective user) or the
     * folder owner's, as the kernel's fs.protected_symlinks would have it,
     * whatever that setting is. Only a regular file is replaced, nothing is
     * opened through a link, and every descriptor is close-on-exec from
     * the start. An existing file keeps its permission bits, and its owner
     * and group when the caller is root or its owner; any other caller
     * becomes the new file's owner, and its group stays where the caller is
     * in it. A new file gets 0666 less the umask. Names up to NAME_MAX are
     * saved (the temp's name is then shortened). Temp files of saves that
     * were killed are removed by the next save of the same file, never one
     * of a save still running. Saves of one file from several threads or
     * processes each land whole, the last one wins; for a load-change-save
     * take a CParameterFileLock (FileLock.h).
     *
     * The version replaced stays beside it as the file's last good version
     * when it loads, else as evidence of damage; the new file's CRC-32 goes
     * into an extended attribute: CParameterFile.h says more.
     * \return false when a system call failed (every write is checked,
     *         short writes and EINTR are carried on, a failed fsync is
     *         final): the old file is then untouched and no temp file is
     *         left. One exception: when only the final fsync of the
     *         directory failed, the new content is already in place but may
     *         not survive a power cut.
     */
    bool saveJSONFile(const std::string& path) const;

    /// saveJSONFile(), also saying in \p error which system call failed:
    /// reason "rename: No space left on device", systemError its errno,
    /// with the name of the file when the call was on another one than
    /// \p path ("open: d/.f.tmp-Ab3x9_Qz1LkM: Permission denied", a link,
    /// the folder); "fsync of the directory: ..." for the exception above.
    bool saveJSONFile(const std::string& path, TextError& error) const;

    /**
     * Reads the file at \p path as deSerialiseAsJSON() reads a text and
     * merges it in, all or nothing. Beside concurrent saves it reads one
     * whole version. Links are followed as saveJSONFile() follows them. A
     * file whose CRC-32, recorded by its save, no longer matches is
     * damaged: reason "damaged: the content does not match its checksum",
     * systemError 0 (CParameterFile.h says when it is checked).
     * \return false, changing nothing, for a missing file (ENOENT), one that
     *         is not a regular file (a directory, FIFO, socket or device:
     *         refused by its type before it is opened, and checked again
     *         on what open() gave), a link refused (EACCES), a failing
     *         system call, or a text that deSerialiseAsJSON() rejects.
     */
    bool loadJSONFile(const std::string& path);

    /// loadJSONFile(), also saying in \p error where the text went wrong,
    /// as deSerialiseAsJSON() does (systemError 0), or which system call
    /// failed ("open: No such file or directory", systemError ENOENT). For
    /// a file that is not a regular one the reason is "open: not a regular
    /// file but a FIFO" and systemError EISDIR for a directory, else EINVAL.
    bool loadJSONFile(const std::string& path, TextError& error);

    /// Deep-copies every entry of \p other in; \p other wins on shared names.
    void append(const CParameters& other);

    /// The entry named \p name, or end() when there is none.
    Json::Value::const_iterator find(const std::string& name) const;

    /**
     * The value under \p name as an int: a JSON number with no fraction, or a
     * string of an optional sign and decimal digits only, within int range.
     * Anything else, an absent name included, gives \p defaultValue.
     */
    int getParamAsInt(const std::string& name, int defaultValue) const;

    /// As getParamAsInt(), over the range of std::int64_t.
    std::int64_t getParamAsInt64(const std::string& name, std::int64_t defaultValue) const;

    /**
     * The value under \p name as a double: any JSON number (the nearest
     * double), or a string that is exactly a JSON number, read without the
     * locale. Anything else, a non-finite result or an absent name included,
     * gives \p defaultValue.
     */
    double getParamAsDouble(const std::string& name, double defaultValue) const;

    /// The value under \p name as a bool: JSON true or false, or exactly the
    /// string "true" or "false"; anything else gives \p defaultValue.
    bool getParamAsBool(const std::string& name, bool defaultValue) const;

    /// Writes each entry to standard output as a line "name = value", the
    /// name as it is but for control characters, escaped as in JSON strings
    /// (so that every entry is one line), the value as serialiseAsJSON()
    /// writes it, and flushes. The text is made whole before any of it is
    /// written: std::bad_alloc writes nothing.
    void print() const;

private:
    // Whether jsoncpp can hold the name without cutting it short.
    static bool holds(const std::string& name) { return name.size() < (std::size_t(1) << 30); }

    Json::Value m_params;
};

#endif
