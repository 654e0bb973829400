// SPDX-License-Identifier: MIT
// Containers and texts that several test programs start from.
#ifndef CPARAMETERS_TESTS_SAMPLES_H
#define CPARAMETERS_TESTS_SAMPLES_H

#include <exception>
#include <iostream>
#include <string>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

#include "CParameters.h"

// A container holding a text, an empty text, a number and an object.
inline void fill(CParameters& parameters)
{
    parameters.setParam("a", "x");
    parameters.setParam("empty", "");
    parameters.setParam("n", Json::Value(7));
    Json::Value object(Json::objectValue);
    object["k"][0] = true;
    parameters.setParam("obj", object);
}

// Bytes that no text form may lose: NUL, control characters, invalid UTF-8,
// UTF-8, and the characters JSON escapes.
const std::string binary("n\0ul \x01 \xff\xfe \xc3\xa9 \"\\/\r\n", 17);

// Reserves room in text for a name of 2^30 bytes (one more than jsoncpp
// keeps) and a few more, or says why the test cannot have it: under
// valgrind (minutes of work, for nothing memcheck adds), no room, or strings
// that end below 2^30 bytes (32-bit libstdc++).
inline bool roomForHugeName(std::string& text, const char* test)
{
    try {
        if (!RUNNING_ON_VALGRIND) {
            text.reserve((std::size_t(1) << 30) + 16);
            return true;
        }
    } catch (const std::exception&) { // no memory, or longer than max_size()
    }
    std::cout << test << ": no 1 GiB name here; not checked\n";
    return false;
}

#endif
