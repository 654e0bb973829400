// SPDX-License-Identifier: MIT
// The container's JSON writer: compact text straight from Json::Value.
// Internal to the library.
#ifndef CPARAMETERS_JSONWRITER_H
#define CPARAMETERS_JSONWRITER_H

#include <json/value.h>

#include <string>
#include <string_view>

namespace cparameters {

// Appends value as compact JSON: no spaces, strings as their raw bytes with
// only '"', '\' and control characters escaped, doubles in the shortest text
// that reads back to the same double, non-finite numbers as null, comments
// never. Throws nothing but std::bad_alloc, and then out may hold a part.
void writeJSON(const Json::Value& value, std::string& out);

// Appends text with its control characters escaped as writeJSON() escapes
// them in strings, and every other byte as it is: one line, whatever it holds.
void writeOneLine(std::string_view text, std::string& out);

// Appends "/" and token, with "~" and "/" escaped as "~0" and "~1": one step
// of a JSON pointer.
void writePointerStep(std::string_view token, std::string& out);

} // namespace cparameters

#endif
