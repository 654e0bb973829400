// SPDX-License-Identifier: MIT
#include "JsonReader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#ifndef CPARAMETERS_HAVE_DOUBLE_FROM_CHARS
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <locale.h>
#endif

#include "JsonStringBytes.h"
#include "JsoncppAdapters.h"

namespace cparameters {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

#ifndef CPARAMETERS_HAVE_DOUBLE_FROM_CHARS
// C++ libraries without from_chars for double: strtod in the "C" locale,
// whatever the process's locale is.
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t());
    return locale;
}
#endif

#ifdef CPARAMETERS_HAVE_DOUBLE_FROM_CHARS
// The decimal exponent of the leading digit of a valid JSON number, which
// tells an overflow from an underflow. The digits move it by at most the
// literal's length, so the written exponent is read only until it is beyond
// that: the verdict is exact whatever the length of either part.
long long decimalExponent(std::string_view number)
{
    std::size_t i = number[0] == '-';
    long long exponent = 0;
    if (number[i] != '0') {
        for (; i < number.size() && isDigit(number[i]); ++i) {
            ++exponent;
        }
    } else {
        for (i += 2; i < number.size() && number[i] == '0'; ++i) {
            --exponent;
        }
    }
    const std::size_t e = number.find_first_of("eE");
    if (e != std::string_view::npos) {
        const bool negative = number[e + 1] == '-';
        const long long beyond = static_cast<long long>(number.size());
        long long written = 0;
        for (i = e + 1 + (number[e + 1] == '-' || number[e + 1] == '+'); i < number.size() && written <= beyond; ++i) {
            written = written * 10 + (number[i] - '0');
        }
        exponent += negative ? -written : written;
    }
    return exponent;
}
#endif

// A valid JSON number as the nearest double. A number too large for a double
// is no number; one too small to be told from zero reads as zero.
bool toDouble(std::string_view number, double& result)
{
#ifdef CPARAMETERS_HAVE_DOUBLE_FROM_CHARS
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), result);
    static_cast<void>(end);
    if (error == std::errc()) {
        return true;
    }
    // from_chars leaves result alone when out of range: tell which way.
    if (decimalExponent(number) > 0) {
        return false;
    }
#else
    const std::string terminated(number);
    errno = 0;
    result = strtod_l(terminated.c_str(), nullptr, cLocale());
    if (errno != ERANGE || (result != 0 && std::isfinite(result))) {
        return true; // strtod reports a subnormal result as a range error too
    }
    if (result != 0) {
        return false;
    }
#endif
    result = number[0] == '-' ? -0.0 : 0.0;
    return true;
}

class Reader {
public:
    Reader(std::string_view text, int maxDepth, Rejection& rejection, bool offsets = false,
           const RootFilter* filter = nullptr)
        : m_begin(text.data()), m_pos(text.data()), m_end(text.data() + text.size()), m_maxDepth(maxDepth),
          m_rejection(rejection), m_offsets(offsets), m_filter(filter)
    {
    }

    bool readDocument(Json::Value& root, bool objectRoot)
    {
        skipSpace();
        if (objectRoot && (m_pos == m_end || *m_pos != '{')) {
            return unexpected("the root must be an object");
        }
        if (!readValue(root, 0)) {
            return false;
        }
        skipSpace();
        return m_pos == m_end || unexpected(objectRoot ? "text after the root object" : "text after the root value");
    }

    bool readWholeNumber(Json::Value& number)
    {
        return m_pos != m_end && (*m_pos == '-' || isDigit(*m_pos)) && readNumber(number) && m_pos == m_end;
    }

private:
    bool fail(const char* at, std::string reason)
    {
        m_rejection.offset = static_cast<std::size_t>(at - m_begin);
        m_rejection.reason = std::move(reason);
        return false;
    }

    // A fault at the current position, named as a comment or end of text
    // when it is one, else as what was expected there.
    bool unexpected(const char* expected)
    {
        if (m_pos == m_end) {
            return fail(m_pos, "unexpected end of text");
        }
        if (*m_pos == '/' && m_pos + 1 != m_end && (m_pos[1] == '/' || m_pos[1] == '*')) {
            return fail(m_pos, "comment");
        }
        return fail(m_pos, expected);
    }

    void skipSpace()
    {
        while (m_pos != m_end && (*m_pos == ' ' || *m_pos == '\n' || *m_pos == '\r' || *m_pos == '\t')) {
            ++m_pos;
        }
    }

    bool at(char c) { return m_pos != m_end && *m_pos == c; }

    // Takes c and the whitespace after it, when c comes next.
    bool consume(char c)
    {
        if (!at(c)) {
            return false;
        }
        ++m_pos;
        skipSpace();
        return true;
    }

    // Puts made into value, which is null or about to be overwritten: only
    // the payloads change places (a move would swap comments and offsets
    // too), and value's old payload goes with made.
    static void place(Json::Value&& made, Json::Value& value) { value.swapPayload(made); }

    // value of a container at level depth (the root's is 0)
    bool readValue(Json::Value& value, int depth)
    {
        if (m_pos == m_end) {
            return unexpected("");
        }
        if (m_offsets) {
            value.setOffsetStart(m_pos - m_begin);
        }
        switch (*m_pos) {
        case '{':
        case '[':
            if (depth == m_maxDepth) {
                return fail(m_pos, "nesting deeper than " + std::to_string(m_maxDepth) + " levels");
            }
            return *m_pos == '{' ? readObject(value, depth + 1) : readArray(value, depth + 1);
        case '"': {
            std::string_view text;
            if (!readString(text)) {
                return false;
            }
            place(Json::Value(text.data(), text.data() + text.size()), value);
            return true;
        }
        case 't':
            return readWord("true", Json::Value(true), value);
        case 'f':
            return readWord("false", Json::Value(false), value);
        case 'n':
            return readWord("null", Json::Value(), value);
        default:
            if (*m_pos == '-' || isDigit(*m_pos)) {
                return readNumber(value);
            }
            return unexpected(*m_pos == '+' || *m_pos == '.' ? "invalid number" : "expected a value");
        }
    }

    bool readWord(const char* word, Json::Value&& literal, Json::Value& value)
    {
        const std::size_t length = std::strlen(word);
        if (static_cast<std::size_t>(m_end - m_pos) < length || std::memcmp(m_pos, word, length) != 0) {
            return fail(m_pos, "expected a value");
        }
        m_pos += length;
        place(std::move(literal), value);
        return true;
    }

    bool readObject(Json::Value& object, int depth)
    {
        place(Json::Value(Json::objectValue), object);
        consume('{');
        if (consume('}')) {
            return true;
        }
        for (Json::ArrayIndex members = 1;; ++members) {
            if (!at('"')) {
                return at('}') ? fail(m_pos, "trailing comma") : unexpected("expected a name");
            }
            const char* const nameAt = m_pos;
            std::string_view name;
            if (!readString(name)) {
                return false;
            }
            if (name.size() > maxNameLength) {
                return fail(nameAt, "name too long");
            }
            skipSpace();
            if (!consume(':')) {
                return unexpected("expected ':'");
            }
            Json::Value* member = &m_dropped;
            const bool filtered = depth == 1 && m_filter != nullptr;
            if (filtered) {
                if (members > 1 && !(std::string_view(m_previous) < name)) {
                    return false; // out of order: see readJSON()
                }
                m_previous.assign(name.data(), name.size());
                if (name == m_filter->keep) {
                    member = object.demand(name.data(), name.data() + name.size());
                }
            } else {
                member = object.demand(name.data(), name.data() + name.size());
                if (object.size() != members) {
                    return fail(nameAt, "duplicate name \"" + std::string(name) + "\"");
                }
            }
            if (m_offsets) {
                member->setOffsetLimit(nameAt - m_begin);
            }
            if (!readValue(*member, depth) || (filtered && m_filter->each && !m_filter->each(m_previous, *member))) {
                return false;
            }
            skipSpace();
            if (consume('}')) {
                return true;
            }
            if (!consume(',')) {
                return unexpected("expected ',' or '}'");
            }
        }
    }

    bool readArray(Json::Value& array, int depth)
    {
        place(Json::Value(Json::arrayValue), array);
        consume('[');
        if (consume(']')) {
            return true;
        }
        for (;;) {
            if (!readValue(array.append(Json::Value()), depth)) {
                return false;
            }
            skipSpace();
            if (consume(']')) {
                return true;
            }
            if (!consume(',')) {
                return unexpected("expected ',' or ']'");
            }
            if (at(']')) {
                return fail(m_pos, "trailing comma");
            }
        }
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?; integers within
    // Int64 or UInt64 stay integers, everything else is a double.
    bool readNumber(Json::Value& value)
    {
        const char* const start = m_pos;
        const bool negative = at('-');
        m_pos += negative;
        if (!skipDigits()) {
            return fail(m_pos, "invalid number");
        }
        if (*start == '0' || (negative && start[1] == '0')) {
            if (m_pos - start > 1 + negative) {
                return fail(start + negative, "leading zero");
            }
        }
        const char* const integerEnd = m_pos;
        if (at('.')) {
            ++m_pos;
            if (!skipDigits()) {
                return fail(m_pos, "invalid number");
            }
        }
        if (at('e') || at('E')) {
            ++m_pos;
            m_pos += at('+') || at('-');
            if (!skipDigits()) {
                return fail(m_pos, "invalid number");
            }
        }
        if (m_pos == integerEnd) {
            std::uint64_t magnitude = 0;
            const char* const digits = start + negative;
            if (std::from_chars(digits, integerEnd, magnitude).ec == std::errc()) {
                constexpr std::uint64_t int64Max = std::numeric_limits<std::int64_t>::max();
                if (!negative && magnitude <= int64Max) {
                    place(Json::Value(static_cast<Json::Int64>(magnitude)), value);
                    return true;
                }
                if (!negative) {
                    place(Json::Value(static_cast<Json::UInt64>(magnitude)), value);
                    return true;
                }
                if (magnitude <= int64Max + 1) {
                    // -magnitude, computed without overflowing
                    place(Json::Value(static_cast<Json::Int64>(-static_cast<Json::Int64>(magnitude - 1) - 1)), value);
                    return true;
                }
            }
        }
        double number = 0;
        if (!toDouble(std::string_view(start, static_cast<std::size_t>(m_pos - start)), number)) {
            return fail(start, "number out of range");
        }
        place(Json::Value(number), value);
        return true;
    }

    bool skipDigits()
    {
        const char* const first = m_pos;
        while (m_pos != m_end && isDigit(*m_pos)) {
            ++m_pos;
        }
        return m_pos != first;
    }

    // Moves past the plain bytes at the current position.
    void skipPlain() { m_pos += plainLength(m_pos, static_cast<std::size_t>(m_end - m_pos)); }

    // The string at the current position: a view into the text when it has
    // no escapes, else into m_scratch, valid until the next string is read.
    bool readString(std::string_view& text)
    {
        const char* const open = m_pos++;
        const char* run = m_pos;
        skipPlain();
        if (at('"')) {
            text = std::string_view(run, static_cast<std::size_t>(m_pos++ - run));
            return text.size() <= maxStringLength || fail(open, "string too long");
        }
        m_scratch.clear();
        for (;;) {
            m_scratch.append(run, m_pos);
            if (m_pos == m_end) {
                return fail(open, "unterminated string");
            }
            if (*m_pos == '"') {
                ++m_pos;
                text = m_scratch;
                return text.size() <= maxStringLength || fail(open, "string too long");
            }
            if (*m_pos != '\\') {
                return fail(m_pos, "raw control character in string");
            }
            if (!readEscape()) {
                return false;
            }
            run = m_pos;
            skipPlain();
        }
    }

    bool readEscape()
    {
        const char* const escape = m_pos++;
        if (m_pos == m_end) {
            return fail(escape, "unterminated string");
        }
        const char c = *m_pos++;
        switch (c) {
        case '"':
        case '\\':
        case '/':
            m_scratch += c;
            return true;
        case 'b':
            m_scratch += '\b';
            return true;
        case 'f':
            m_scratch += '\f';
            return true;
        case 'n':
            m_scratch += '\n';
            return true;
        case 'r':
            m_scratch += '\r';
            return true;
        case 't':
            m_scratch += '\t';
            return true;
        case 'u':
            break;
        default:
            return fail(escape, "invalid escape");
        }
        unsigned codePoint = 0;
        if (!readHex(codePoint)) {
            return fail(escape, "invalid escape");
        }
        if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) {
            return fail(escape, "unpaired surrogate");
        }
        if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
            unsigned low = 0;
            if (m_end - m_pos < 2 || m_pos[0] != '\\' || m_pos[1] != 'u') {
                return fail(escape, "unpaired surrogate");
            }
            m_pos += 2;
            if (!readHex(low)) {
                return fail(m_pos - 2, "invalid escape");
            }
            if (low < 0xDC00 || low > 0xDFFF) {
                return fail(escape, "unpaired surrogate");
            }
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(codePoint);
        return true;
    }

    bool readHex(unsigned& value)
    {
        if (m_end - m_pos < 4) {
            return false;
        }
        const auto [end, error] = std::from_chars(m_pos, m_pos + 4, value, 16);
        if (error != std::errc() || end != m_pos + 4) {
            return false; // from_chars takes no sign, so four hex digits exactly
        }
        m_pos += 4;
        return true;
    }

    void appendUtf8(unsigned codePoint)
    {
        char bytes[4];
        std::size_t length = 0;
        if (codePoint < 0x80) {
            bytes[length++] = static_cast<char>(codePoint);
        } else if (codePoint < 0x800) {
            bytes[length++] = static_cast<char>(0xC0 | (codePoint >> 6));
            bytes[length++] = static_cast<char>(0x80 | (codePoint & 0x3F));
        } else if (codePoint < 0x10000) {
            bytes[length++] = static_cast<char>(0xE0 | (codePoint >> 12));
            bytes[length++] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            bytes[length++] = static_cast<char>(0x80 | (codePoint & 0x3F));
        } else {
            bytes[length++] = static_cast<char>(0xF0 | (codePoint >> 18));
            bytes[length++] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
            bytes[length++] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            bytes[length++] = static_cast<char>(0x80 | (codePoint & 0x3F));
        }
        m_scratch.append(bytes, length);
    }

    const char* const m_begin;
    const char* m_pos;
    const char* const m_end;
    const int m_maxDepth;
    Rejection& m_rejection;
    const bool m_offsets;
    std::string m_scratch;
    // With a filter: it, the last root name read, and where the values of
    // the other root members go.
    const RootFilter* const m_filter;
    std::string m_previous;
    Json::Value m_dropped;
};

} // namespace

bool readJSON(std::string_view text, int maxDepth, Json::Value& root, Rejection& rejection, bool offsets,
              const RootFilter* filter)
{
    return Reader(text, maxDepth, rejection, offsets, filter).readDocument(root, true);
}

bool readJSONValue(std::string_view text, int maxDepth, Json::Value& root, Rejection& rejection)
{
    return Reader(text, maxDepth, rejection).readDocument(root, false);
}

bool numberFromText(std::string_view text, Json::Value& number)
{
    Rejection rejection;
    return Reader(text, 0, rejection).readWholeNumber(number);
}

} // namespace cparameters
