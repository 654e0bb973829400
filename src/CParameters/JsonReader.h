// SPDX-License-Identifier: MIT
// The container's JSON reader: strict RFC 8259, straight into Json::Value.
// Internal to the library.
#ifndef CPARAMETERS_JSONREADER_H
#define CPARAMETERS_JSONREADER_H

#include <json/value.h>

#include "CParameters.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace cparameters {

// Where and why a text was rejected: the byte offset of the first fault
// (npos for a fault at no place in the text) and what it is.
struct Rejection {
    std::size_t offset = 0;
    std::string reason;
};

// Reads RFC 8259 JSON whose root is an object into root (which it replaces),
// with no duplicate names, no name longer than maxNameLength and at most
// maxDepth nested containers. Returns false and fills rejection for anything
// else; root is then unspecified. Throws nothing but std::bad_alloc and
// jsoncpp's report of a failed malloc. With offsets, each value's offset
// start is where it begins in text, and a member's offset limit where its
// name begins (where checks report what they find).
// With a filter, root keeps only the member filter->keep, the others read,
// checked and dropped; as dropped names cannot be looked up, they must come
// in strictly ascending byte order, as saves write them (so none repeats),
// and the reading stops with false at one that does not, or where
// filter->each, given each root member as it is read, says false
// (rejection then unspecified: a reading without a filter tells whether
// and where the text is bad).
struct RootFilter {
    std::string_view keep;
    std::function<bool(std::string_view name, const Json::Value& value)> each; // may be empty
};
bool readJSON(std::string_view text, int maxDepth, Json::Value& root, Rejection& rejection, bool offsets = false,
              const RootFilter* filter = nullptr);

// The whole regular file at path, read as loadJSONFile() reads it; false
// with the failing call in error otherwise.
bool readTextFile(const std::string& path, std::string& text, CParameters::TextError& error);

// readJSON() for a root of any kind (a patch's).
bool readJSONValue(std::string_view text, int maxDepth, Json::Value& root, Rejection& rejection);

// Reads text that is exactly one JSON number, as readJSON() reads numbers.
bool numberFromText(std::string_view text, Json::Value& number);

} // namespace cparameters

#endif
