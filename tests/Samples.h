// SPDX-License-Identifier: MIT
// Containers and texts that several test programs start from.
#ifndef CPARAMETERS_TESTS_SAMPLES_H
#define CPARAMETERS_TESTS_SAMPLES_H

#include <string>

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

#endif
