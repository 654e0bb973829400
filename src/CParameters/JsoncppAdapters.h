// SPDX-License-Identifier: MIT
// The jsoncpp calls the library makes in more than one place, each written
// once: names and strings as views, look-up by name, what jsoncpp can hold,
// an integer read as the nearest double, and jsoncpp's failed malloc as
// std::bad_alloc. Internal to the library.
#ifndef CPARAMETERS_JSONCPPADAPTERS_H
#define CPARAMETERS_JSONCPPADAPTERS_H

#include <json/value.h>

#include <cstddef>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string_view>
#include <typeinfo>

namespace cparameters {

// jsoncpp keeps a member name's length in 30 bits and cuts a longer name
// short, so no name may be longer than this.
constexpr std::size_t maxNameLength = (std::size_t(1) << 30) - 1;

// jsoncpp refuses a longer string value.
constexpr std::size_t maxStringLength = Json::Value::maxInt - sizeof(unsigned) - 1;

// The name of the member that an object iterator designates; any bytes.
inline std::string_view memberName(const Json::ValueIteratorBase& it)
{
    const char* end = nullptr;
    const char* begin = it.memberName(&end);
    return {begin, static_cast<std::size_t>(end - begin)};
}

// The bytes of a string value; nothing for any other value. (jsoncpp's
// getString() says false for the empty string that Json::stringValue makes.)
inline std::optional<std::string_view> stringOf(const Json::Value& value)
{
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!value.getString(&begin, &end)) {
        return value.isString() ? std::optional<std::string_view>(std::string_view()) : std::nullopt;
    }
    return std::string_view(begin, static_cast<std::size_t>(end - begin));
}

// The member of object named name, or null. A name jsoncpp could not hold
// is never present (jsoncpp would look up the name cut short).
inline const Json::Value* findMember(const Json::Value& object, std::string_view name)
{
    return name.size() > maxNameLength ? nullptr : object.find(name.data(), name.data() + name.size());
}

// A number as the nearest double. jsoncpp's asDouble() rounds an unsigned
// integer above the signed range twice (halving it first), so integers are
// converted here, where the conversion rounds once.
inline double nearestDouble(const Json::Value& number)
{
    switch (number.type()) {
    case Json::intValue:
        return static_cast<double>(number.asLargestInt());
    case Json::uintValue:
        return static_cast<double>(number.asLargestUInt());
    default:
        return number.asDouble();
    }
}

// Whether e is the Json::RuntimeError with which jsoncpp reports a failed
// malloc. Told by the type's name, not its identity: the library's copy of
// that type_info is local to it (the version script keeps jsoncpp's symbols
// in), and a C++ runtime that matches types by address (libc++) would never
// match a catch clause or typeid comparison for it against the copy that
// libjsoncpp throws with.
inline bool isJsoncppAllocationFailure(const std::exception& e)
{
    return std::strcmp(typeid(e).name(), typeid(Json::RuntimeError).name()) == 0;
}

// jsoncpp reports a failed malloc as Json::RuntimeError; the container's
// promise for a shortage of memory is std::bad_alloc, whoever allocated.
// Caught as std::exception, whose type_info the C++ runtime owns, since no
// catch clause of this library can match jsoncpp's own exception types on
// every C++ runtime (see isJsoncppAllocationFailure).
template <typename Operation> auto allocating(Operation operation) -> decltype(operation())
{
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        if (cparameters::isJsoncppAllocationFailure(e)) {
            throw std::bad_alloc();
        }
        throw;
    }
}

} // namespace cparameters

#endif
