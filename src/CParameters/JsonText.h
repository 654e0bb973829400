// The container's JSON text layer: one strict reader and one compact writer,
// both working on Json::Value directly. Internal to the library.
#ifndef CPARAMETERS_JSONTEXT_H
#define CPARAMETERS_JSONTEXT_H

#include <json/value.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace cparameters {

// Where a text went wrong: the byte offset of the first fault and what it is.
struct TextFault {
    std::size_t offset = 0;
    std::string reason;
};

// jsoncpp keeps no longer string or name (and would cut a longer name short).
constexpr std::size_t maxStringLength = Json::Value::maxInt - sizeof(unsigned) - 1;

// Reads RFC 8259 JSON whose root is an object into root (which it replaces),
// with no duplicate names and at most maxDepth nested containers.
// Returns false and fills fault for anything else; root is then unspecified.
// Throws nothing but std::bad_alloc.
bool readObject(std::string_view text, int maxDepth, Json::Value& root, TextFault& fault);

// Reads text that is exactly one JSON number, as readObject() reads numbers.
bool readNumber(std::string_view text, Json::Value& number);

// Appends value as compact JSON: no spaces, strings as their raw bytes with
// only '"', '\' and control characters escaped, doubles in the shortest text
// that reads back to the same double, non-finite numbers as null, comments
// never. Throws nothing but std::bad_alloc, and then out may hold a part.
void writeJSON(const Json::Value& value, std::string& out);

// The name of the member that an object iterator designates; any bytes.
inline std::string_view memberName(const Json::ValueIteratorBase& it)
{
    const char* end = nullptr;
    const char* begin = it.memberName(&end);
    return {begin, static_cast<std::size_t>(end - begin)};
}

} // namespace cparameters

#endif
