// SPDX-License-Identifier: MIT
#include "CParameters.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "ErrorRecord.h"
#include "JsonReader.h"
#include "JsonWriter.h"
#include "JsoncppAdapters.h"

using cparameters::allocating;
using cparameters::findMember;
using cparameters::memberName;
using cparameters::stringOf;

const int CParameters::maxJSONDepth;

namespace {

// Puts every member of source into store, replacing members of the same
// name: all or nothing. A const source is copied from, any other moved from.
// Each value is made before its name is looked up or added, and swapped in
// after; the values it replaced are kept until the end, so that if an
// allocation fails they go back and the names added are removed again.
template <typename Source> void mergeInto(Json::Value& store, Source& source)
{
    if (store.empty()) {
        Json::Value taken(std::move(source));
        store.swap(taken);
        return;
    }
    const std::size_t count = source.size();
    std::vector<Json::Value*> slots;
    std::vector<bool> added(count);
    std::vector<Json::Value> replaced;
    slots.reserve(count);
    replaced.reserve(count);
    try {
        for (auto it = source.begin(), end = source.end(); it != end; ++it) {
            Json::Value value(std::move(*it)); // a copy when source is const
            const std::string_view name = memberName(it);
            const Json::ArrayIndex members = store.size();
            Json::Value* const slot = store.demand(name.data(), name.data() + name.size());
            added[slots.size()] = store.size() != members;
            slots.push_back(slot);
            slot->swap(value);
            if (!added[slots.size() - 1]) {
                replaced.push_back(std::move(value));
            }
        }
    } catch (...) {
        auto it = source.begin();
        auto old = replaced.begin();
        for (std::size_t i = 0; i < slots.size(); ++i, ++it) {
            if (added[i]) {
                const std::string_view name = memberName(it);
                store.removeMember(name.data(), name.data() + name.size(), nullptr);
            } else {
                slots[i]->swap(*old++);
            }
        }
        throw;
    }
}

// Calls visit(entry) for each non-empty entry of text between separators,
// in order, until it returns false; says whether every call returned true.
template <typename Visit> bool forEachEntry(std::string_view text, std::string_view separator, Visit visit)
{
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t stop = text.find(separator, start);
        if (stop == std::string_view::npos) {
            stop = text.size();
        }
        const std::string_view entry = text.substr(start, stop - start);
        start = stop + separator.size();
        if (!entry.empty() && !visit(entry)) {
            return false;
        }
    }
    return true;
}

// Checks the delimited form before anything is built, so that a bad entry
// anywhere changes nothing and no index of the entries is needed.
bool checkEntries(std::string_view text, const std::string& nameValueSeparator, const std::string& entrySeparator,
                  cparameters::Rejection& rejection)
{
    if (nameValueSeparator.empty() || entrySeparator.empty() || nameValueSeparator == entrySeparator) {
        rejection.offset = std::string_view::npos; // a fault at no place in the text
        rejection.reason =
            nameValueSeparator.empty() || entrySeparator.empty() ? "empty separator" : "equal separators";
        return false;
    }
    std::size_t number = 0;
    return forEachEntry(text, entrySeparator, [&](std::string_view entry) {
        ++number;
        const std::size_t split = entry.find(nameValueSeparator);
        std::string problem;
        if (split == std::string_view::npos) {
            problem = "has no \"" + nameValueSeparator + "\" separator";
        } else if (split == 0) {
            problem = "has an empty name";
        } else if (split > cparameters::maxNameLength) {
            problem = "has a name too long";
        } else if (entry.size() - split - nameValueSeparator.size() > cparameters::maxStringLength) {
            problem = "has a value too long";
        } else {
            return true;
        }
        rejection.offset = static_cast<std::size_t>(entry.data() - text.data());
        rejection.reason = "entry " + std::to_string(number) + " " + problem;
        return false;
    });
}

// Fills the caller's record from a rejection of text, or clears it when
// there is none.
void report(const cparameters::Rejection& rejection, std::string_view text, CParameters::TextError& error)
{
    if (rejection.reason.empty() || rejection.offset == std::string_view::npos) {
        cparameters::setRecord(error, 0, 0, 0, rejection.reason, 0);
    } else {
        cparameters::setRecordAt(error, text, rejection.offset, rejection.reason);
    }
}

// Reads the integer under a name as getParamAsInt() describes, for int or
// std::int64_t: fits and as are the Json::Value test and accessor for it.
template <typename Integer>
Integer readInteger(const Json::Value& store, const std::string& name, Integer defaultValue,
                    bool (Json::Value::*fits)() const, Integer (Json::Value::*as)() const)
{
    const Json::Value* const value = findMember(store, name);
    if (value == nullptr) {
        return defaultValue;
    }
    if ((value->*fits)()) {
        return (value->*as)();
    }
    const std::optional<std::string_view> text = stringOf(*value);
    if (!text) {
        return defaultValue;
    }
    std::string_view digits = *text;
    // from_chars takes a minus but no plus; a plus directly before a digit
    // is dropped so that "+-5" still fails.
    if (digits.size() > 1 && digits[0] == '+' && digits[1] >= '0' && digits[1] <= '9') {
        digits.remove_prefix(1);
    }
    Integer number = 0;
    const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && stop == digits.data() + digits.size() ? number : defaultValue;
}

} // namespace

std::string CParameters::serialise(const std::string& nameValueSeparator, const std::string& entrySeparator) const
{
    std::string text;
    std::string_view separator; // none before the first entry; may hold a NUL
    for (auto it = m_params.begin(), end = m_params.end(); it != end; ++it) {
        text += separator;
        text += memberName(it);
        text += nameValueSeparator;
        if (const std::optional<std::string_view> value = stringOf(*it)) {
            text += *value;
        } else if (!it->isNull()) {
            cparameters::writeJSON(*it, text);
        }
        separator = entrySeparator;
    }
    return text;
}

bool CParameters::deSerialise(const std::string& text, const std::string& nameValueSeparator,
                              const std::string& entrySeparator)
{
    TextError error;
    return deSerialise(text, nameValueSeparator, entrySeparator, error);
}

bool CParameters::deSerialise(const std::string& text, const std::string& nameValueSeparator,
                              const std::string& entrySeparator, TextError& error)
{
    cparameters::Rejection rejection;
    if (!checkEntries(text, nameValueSeparator, entrySeparator, rejection)) {
        report(rejection, text, error);
        return false;
    }
    allocating([&] {
        Json::Value entries(Json::objectValue);
        forEachEntry(text, entrySeparator, [&](std::string_view entry) {
            const std::size_t split = entry.find(nameValueSeparator);
            const std::string_view value = entry.substr(split + nameValueSeparator.size());
            *entries.demand(entry.data(), entry.data() + split) =
                Json::Value(value.data(), value.data() + value.size());
            return true;
        });
        mergeInto(m_params, entries);
    });
    report(cparameters::Rejection(), text, error);
    return true;
}

std::string CParameters::serialiseAsJSON() const
{
    std::string text;
    cparameters::writeJSON(m_params, text);
    return text;
}

bool CParameters::deSerialiseAsJSON(const std::string& text)
{
    TextError error;
    return deSerialiseAsJSON(text, error);
}

bool CParameters::deSerialiseAsJSON(const std::string& text, TextError& error)
{
    cparameters::Rejection rejection;
    const bool read = allocating([&] {
        Json::Value parsed;
        if (!cparameters::readJSON(text, maxJSONDepth, parsed, rejection)) {
            return false;
        }
        mergeInto(m_params, parsed);
        return true;
    });
    report(rejection, text, error);
    return read;
}

void CParameters::append(const CParameters& other)
{
    if (&other == this) {
        return;
    }
    allocating([&] { mergeInto(m_params, other.m_params); });
}

Json::Value::const_iterator CParameters::find(const std::string& name) const
{
    // jsoncpp offers no iterator for a name: find the value in logarithmic
    // time, then walk to the entry that holds it, comparing addresses.
    const Json::Value* const value = findMember(m_params, name);
    if (value == nullptr) {
        return m_params.end();
    }
    auto it = m_params.begin();
    while (&*it != value) {
        ++it;
    }
    return it;
}

bool CParameters::removeParam(const std::string& name)
{
    // A name jsoncpp could not hold is never present; jsoncpp would remove
    // the name cut short.
    return name.size() <= cparameters::maxNameLength &&
           m_params.removeMember(name.data(), name.data() + name.size(), nullptr);
}

int CParameters::getParamAsInt(const std::string& name, int defaultValue) const
{
    return readInteger(m_params, name, defaultValue, &Json::Value::isInt, &Json::Value::asInt);
}

std::int64_t CParameters::getParamAsInt64(const std::string& name, std::int64_t defaultValue) const
{
    return readInteger<Json::Int64>(m_params, name, defaultValue, &Json::Value::isInt64, &Json::Value::asInt64);
}

double CParameters::getParamAsDouble(const std::string& name, double defaultValue) const
{
    const Json::Value* value = findMember(m_params, name);
    Json::Value number;
    if (value != nullptr) {
        const std::optional<std::string_view> text = stringOf(*value);
        if (text && cparameters::numberFromText(*text, number)) {
            value = &number;
        }
    }
    if (value == nullptr || !value->isNumeric()) {
        return defaultValue;
    }
    const double result = cparameters::nearestDouble(*value);
    return std::isfinite(result) ? result : defaultValue;
}

bool CParameters::getParamAsBool(const std::string& name, bool defaultValue) const
{
    const Json::Value* const value = findMember(m_params, name);
    if (value == nullptr) {
        return defaultValue;
    }
    if (value->isBool()) {
        return value->asBool();
    }
    const std::optional<std::string_view> text = stringOf(*value);
    return text == "true" ? true : text == "false" ? false : defaultValue;
}

void CParameters::print() const
{
    // The whole text first, so that a shortage of memory writes nothing.
    std::string text;
    for (auto it = m_params.begin(), end = m_params.end(); it != end; ++it) {
        cparameters::writeOneLine(memberName(it), text);
        text += " = ";
        cparameters::writeJSON(*it, text);
        text += '\n';
    }
    std::cout << text;
    std::cout.flush();
}
