// SPDX-License-Identifier: MIT
// Case files of the project's tests (tests/cases/): one case a line, its
// fields separated by tabs, %HH standing for the byte HH in any field (for
// bytes below 0x20, from 0x7F, and % itself). Lines starting with # are
// comments: the file's opening ones, up to the first that ends in a full
// stop, describe it; each later one names the section of the cases below it.
// A malformed line and a failing case are reported at the case file's own
// line, as compilers report an error, the section named in the message.
#ifndef CPARAMETERS_TESTS_CASEFILE_H
#define CPARAMETERS_TESTS_CASEFILE_H

#include <UnitTest++/UnitTest++.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CParameters.h"

struct Case {
    std::vector<std::string> fields;
    std::string section;
    UnitTest::TestDetails where; // the case file and line, in the running test

    const std::string& operator[](std::size_t i) const { return fields[i]; }
};

// Fails the running test at the case's line unless actual is expected; both
// are shown after the section and the case's first field.
inline void checkCase(const Case& c, const std::string& expected, const std::string& actual)
{
    const std::string prefix = (c.section.empty() ? "" : "[" + c.section + "] ") + c[0] + " -> ";
    UnitTest::CheckEqual(*UnitTest::CurrentTest::Results(), prefix + expected, prefix + actual, c.where);
}

// The bytes a field stands for; false for a % not followed by two hex digits.
inline bool decodeField(const std::string& text, std::string& bytes)
{
    const auto hex = [&](std::size_t i) {
        return i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]));
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && !(hex(i + 1) && hex(i + 2))) {
            return false;
        }
        bytes += text[i] == '%' ? static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)) : text[i];
        i += text[i] == '%' ? 2 : 0;
    }
    return true;
}

// Calls check(c) for every case of the file at path, each of fieldCount
// fields, and fails the running test at each line that is not such a case,
// and when there are fewer than minimum cases (a missing, emptied or cut
// file). Says how many cases it checked.
template <typename Check> int forEachCase(const char* path, std::size_t fieldCount, Check check, int minimum = 1)
{
    const UnitTest::TestDetails& test = *UnitTest::CurrentTest::Details();
    std::ifstream file(path);
    std::string section;
    bool described = false;
    int count = 0;
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        if (!line.empty() && line[0] == '#') {
            section = described ? line.substr(std::min(line.find_first_not_of("# "), line.size())) : section;
            described = described || line.back() == '.';
            continue;
        }
        described = true;
        if (line.empty()) {
            continue;
        }
        Case c{{}, section, UnitTest::TestDetails(test.testName, test.suiteName, path, number)};
        std::istringstream split(line);
        bool decoded = true;
        for (std::string field; std::getline(split, field, '\t');) {
            c.fields.emplace_back();
            decoded = decoded && decodeField(field, c.fields.back());
        }
        if (!decoded || c.fields.size() != fieldCount) {
            UnitTest::CurrentTest::Results()->OnTestFailure(c.where, decoded ? "malformed case: wrong number of fields"
                                                                             : "malformed case: bad %HH");
            continue;
        }
        check(c);
        ++count;
    }
    if (count < minimum) {
        const std::string message = std::to_string(count) + " cases, fewer than " + std::to_string(minimum);
        UnitTest::CurrentTest::Results()->OnTestFailure(
            UnitTest::TestDetails(test.testName, test.suiteName, path, number), message.c_str());
    }
    return count;
}

// Checks a case of a text form: reading its text into a container holding
// {"keep":"me"} with read(container, error) must give what the case's last
// field says: "= " and the container as serialiseAsJSON() then writes it,
// or "! " and the error message, the container unchanged.
template <typename Read> void checkReading(const Case& c, Read read)
{
    CParameters parameters;
    parameters.setParam("keep", "me");
    CParameters::TextError error;
    const bool accepted = read(parameters, error);
    const std::string written = parameters.serialiseAsJSON();
    checkCase(c, c.fields.back(), accepted ? "= " + written : "! " + error.message());
    if (!accepted) {
        checkCase(c, "unchanged {\"keep\":\"me\"}", "unchanged " + written);
    }
}

#endif
