// SPDX-License-Identifier: MIT
#include "JsonWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "JsonStringBytes.h"
#include "JsoncppAdapters.h"

namespace cparameters {

namespace {

// Appends the escape of c, a byte that is not plain.
void writeEscape(char c, std::string& out)
{
    static const char hex[] = "0123456789abcdef";
    switch (c) {
    case '"':
        out += "\\\"";
        break;
    case '\\':
        out += "\\\\";
        break;
    case '\n':
        out += "\\n";
        break;
    case '\t':
        out += "\\t";
        break;
    case '\r':
        out += "\\r";
        break;
    case '\b':
        out += "\\b";
        break;
    case '\f':
        out += "\\f";
        break;
    default: {
        const char escape[] = {'\\', 'u', '0', '0', hex[(c >> 4) & 1], hex[c & 0xF]};
        out.append(escape, sizeof escape);
    }
    }
}

// Appends text, plain runs in one call each, the other bytes as escapes; or
// only the control characters as escapes, when quotes stay as they are.
void writeEscaped(std::string_view text, std::string& out, bool quotesToo)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    for (;;) {
        const std::size_t plain = plainLength(p, static_cast<std::size_t>(end - p));
        out.append(p, plain);
        p += plain;
        if (p == end) {
            return;
        }
        if (quotesToo || static_cast<unsigned char>(*p) < 0x20) {
            writeEscape(*p, out);
        } else {
            out += *p;
        }
        ++p;
    }
}

void writeString(std::string_view text, std::string& out)
{
    out += '"';
    writeEscaped(text, out, true);
    out += '"';
}

// An integer in decimal. Printed by the C library, which the library links
// anyway: the header-only integer to_chars would add its own digit tables.
void writeInteger(const Json::Value& value, std::string& out)
{
    char digits[24];
    const int length = value.type() == Json::intValue
                           ? std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value.asLargestInt()))
                           : std::snprintf(digits, sizeof digits, "%llu",
                                           static_cast<unsigned long long>(value.asLargestUInt()));
    out.append(digits, static_cast<std::size_t>(length));
}

void writeDouble(double number, std::string& out)
{
    if (!std::isfinite(number)) {
        out += "null";
        return;
    }
    // The shortest digits that read back to the same double. An integral
    // value in plain form would read back as an integer: below 1e16 (where
    // every digit is exact) it gets ".0", above it the exponent form.
    char digits[32];
    char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    if (std::find_if(digits, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
        if (std::fabs(number) < 1e16) {
            out.append(digits, end);
            out += ".0";
            return;
        }
        end = std::to_chars(digits, digits + sizeof digits, number, std::chars_format::scientific).ptr;
    }
    // to_chars writes exponents as e+21 and e-07; JSON needs neither sign
    // nor leading zeros.
    char* const e = std::find(digits, end, 'e');
    out.append(digits, e);
    if (e != end) {
        char* exponent = e + 1;
        out += 'e';
        if (*exponent == '-') {
            out += *exponent;
        }
        exponent += *exponent == '-' || *exponent == '+';
        while (exponent + 1 != end && *exponent == '0') {
            ++exponent;
        }
        out.append(exponent, end);
    }
}

} // namespace

void writeOneLine(std::string_view text, std::string& out) { writeEscaped(text, out, false); }

void writeJSON(const Json::Value& value, std::string& out)
{
    switch (value.type()) {
    case Json::nullValue:
        out += "null";
        break;
    case Json::intValue:
    case Json::uintValue:
        writeInteger(value, out);
        break;
    case Json::realValue:
        writeDouble(value.asDouble(), out);
        break;
    case Json::booleanValue:
        out += value.asBool() ? "true" : "false";
        break;
    case Json::stringValue:
        writeString(*stringOf(value), out);
        break;
    case Json::arrayValue: {
        out += '[';
        bool later = false;
        for (auto it = value.begin(), end = value.end(); it != end; ++it, later = true) {
            if (later) {
                out += ',';
            }
            writeJSON(*it, out);
        }
        out += ']';
        break;
    }
    case Json::objectValue: {
        out += '{';
        bool later = false;
        for (auto it = value.begin(), end = value.end(); it != end; ++it, later = true) {
            if (later) {
                out += ',';
            }
            out += '"';
            writeEscaped(memberName(it), out, true);
            out.append("\":", 2);
            writeJSON(*it, out);
        }
        out += '}';
        break;
    }
    }
}

void writePointerStep(std::string_view token, std::string& out)
{
    out += '/';
    for (const char c : token) {
        if (c == '~' || c == '/') {
            out += '~';
            out += c == '~' ? '0' : '1';
        } else {
            out += c;
        }
    }
}

} // namespace cparameters
