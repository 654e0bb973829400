// SPDX-License-Identifier: MIT
// The container's JSON reader: strict RFC 8259, straight into Json::Value.
// Internal to the library.
#ifndef CPARAMETERS_JSONREADER_H
#define CPARAMETERS_JSONREADER_H

#include <json/value.h>

#include <cstddef>
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
// jsoncpp's report of a failed malloc.
// With \p only, root keeps only the member of that name, the others read,
// checked and dropped; as dropped names cannot be looked up, they must come
// in strictly ascending byte order, as saves write them (so none repeats),
// and the reading stops with false at one that does not (rejection then
// unspecified: a reading without \p only tells whether the text is good).
bool readJSON(std::string_view text, int maxDepth, Json::Value& root, Rejection& rejection,
              const std::string_view* only = nullptr);

// Reads text that is exactly one JSON number, as readJSON() reads numbers.
bool numberFromText(std::string_view text, Json::Value& number);

} // namespace cparameters

#endif
