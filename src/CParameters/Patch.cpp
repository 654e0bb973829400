// SPDX-License-Identifier: MIT
// Pointers and patches on a container. Every change is worked out on a draft
// that holds copies of only the parameters it touches (a patch of one entry
// copies one entry, not the file), and goes into the container in one
// all-or-nothing step once the whole change has succeeded.
#include "Patch.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ErrorRecord.h"
#include "JsonReader.h"
#include "JsonWriter.h"
#include "JsoncppAdapters.h"

using cparameters::guardAllocation;
using cparameters::findMember;
using cparameters::memberName;

namespace {

using Tokens = std::vector<std::string>;

Json::Value* mutableMember(Json::Value& object, std::string_view name)
{
    return const_cast<Json::Value*>(findMember(object, name));
}

// The decoded tokens of an RFC 6901 pointer. Escapes are read left to right,
// so "~01" is "~1", never "/".
bool parsePointer(std::string_view pointer, Tokens& tokens, std::string& reason)
{
    tokens.clear();
    if (!pointer.empty() && pointer[0] != '/') {
        reason = "a pointer must be empty or start with \"/\"";
        return false;
    }
    for (std::size_t i = 0; i < pointer.size(); ++i) {
        char c = pointer[i];
        if (c == '/') {
            tokens.emplace_back();
            continue;
        }
        if (c == '~') {
            const char next = i + 1 < pointer.size() ? pointer[i + 1] : '\0';
            if (next != '0' && next != '1') {
                reason = "\"~\" not followed by 0 or 1 in a pointer";
                return false;
            }
            c = next == '0' ? '~' : '/';
            ++i;
        }
        tokens.back() += c;
        if (tokens.back().size() > cparameters::maxNameLength) {
            reason = "name too long in a pointer";
            return false;
        }
    }
    return true;
}

// Sets reason to what and the pointer to the first count tokens, encoded
// again and quoted as a JSON string; false. Out of line: every rejection of
// a place says it so.
[[gnu::noinline]] bool fail(std::string& reason, const char* what, const Tokens& tokens, std::size_t count)
{
    std::string pointer;
    for (std::size_t i = 0; i < count; ++i) {
        cparameters::writePointerStep(tokens[i], pointer);
    }
    reason = what;
    cparameters::writeJSON(Json::Value(pointer.data(), pointer.data() + pointer.size()), reason);
    return false;
}

const char deeperThanAllowed[] = "nesting deeper than 64 levels";
static_assert(CParameters::maxJSONDepth == 64, "the message names the depth");

constexpr std::size_t noIndex = std::size_t(-1);

// The index a token names in an array of size elements: "-" names size, the
// place after the last; otherwise decimal digits without leading zeros.
// noIndex for any other token; an index of ten digits or more is past any
// array jsoncpp holds.
std::size_t arrayIndex(const std::string& token, std::size_t size)
{
    if (token == "-") {
        return size;
    }
    if (token.empty() || (token[0] == '0' && token.size() > 1) ||
        token.find_first_not_of("0123456789") != std::string::npos) {
        return noIndex;
    }
    if (token.size() > 9) {
        return noIndex - 1;
    }
    std::size_t index = 0;
    for (const char digit : token) {
        index = index * 10 + static_cast<std::size_t>(digit - '0');
    }
    return index;
}

// The member or element of container that token names, or null.
const Json::Value* child(const Json::Value& container, const std::string& token)
{
    if (container.isObject()) {
        return findMember(container, token);
    }
    if (container.isArray()) {
        const std::size_t index = arrayIndex(token, container.size());
        return index < container.size() ? &container[static_cast<Json::ArrayIndex>(index)] : nullptr;
    }
    return nullptr;
}

// Whether value nests at most levels containers deep.
bool fits(const Json::Value& value, long levels)
{
    if (!value.isArray() && !value.isObject()) {
        return levels >= 0;
    }
    if (levels < 1) {
        return false;
    }
    for (const Json::Value& member : value) {
        if (!fits(member, levels - 1)) {
            return false;
        }
    }
    return true;
}

// Whether two numbers have the same value, compared exactly.
bool sameNumber(const Json::Value& a, const Json::Value& b)
{
    const bool realA = a.type() == Json::realValue;
    if (realA && b.type() == Json::realValue) {
        return a.asDouble() == b.asDouble();
    }
    if (realA || b.type() == Json::realValue) {
        const double real = (realA ? a : b).asDouble();
        const Json::Value& integer = realA ? b : a;
        if (real != std::trunc(real)) {
            return false;
        }
        if (integer.type() == Json::intValue) {
            return real >= -0x1p63 && real < 0x1p63 && static_cast<std::int64_t>(real) == integer.asInt64();
        }
        return real >= 0 && real < 0x1p64 && static_cast<std::uint64_t>(real) == integer.asUInt64();
    }
    // Two integers: signed, or unsigned above the signed range.
    if (a.type() == b.type()) {
        return a.type() == Json::intValue ? a.asInt64() == b.asInt64() : a.asUInt64() == b.asUInt64();
    }
    const Json::Value& signedOne = a.type() == Json::intValue ? a : b;
    const Json::Value& unsignedOne = a.type() == Json::intValue ? b : a;
    return signedOne.asInt64() >= 0 && static_cast<std::uint64_t>(signedOne.asInt64()) == unsignedOne.asUInt64();
}

// JSON equality as RFC 6902 "test" defines it: numbers by their value
// whatever their type, objects whatever their members' order.
bool equal(const Json::Value& a, const Json::Value& b)
{
    if (a.isNumeric() && b.isNumeric()) {
        return sameNumber(a, b);
    }
    if (a.type() != b.type()) {
        return false;
    }
    switch (a.type()) {
    case Json::stringValue:
        return cparameters::stringOf(a) == cparameters::stringOf(b);
    case Json::booleanValue:
        return a.asBool() == b.asBool();
    case Json::arrayValue:
    case Json::objectValue:
        if (a.size() != b.size()) {
            return false;
        }
        for (auto it = a.begin(), end = a.end(); it != end; ++it) {
            const Json::Value* other = a.isArray() ? &b[it.index()] : findMember(b, memberName(it));
            if (other == nullptr || !equal(*it, *other)) {
                return false;
            }
        }
        return true;
    default:
        return true; // null
    }
}

// The document as a change leaves it so far: the container's parameters,
// those the change touched replaced by the draft's copies or marked removed.
class Draft {
public:
    explicit Draft(const CParameters& base) : m_base(base) {}

    const Json::Value* parameter(const std::string& name) const
    {
        if (findMember(m_removed, name) != nullptr) {
            return nullptr;
        }
        if (const Json::Value* changed = findMember(m_changes, name)) {
            return changed;
        }
        return m_base.exists(name) ? &m_base.getParam(name) : nullptr;
    }

    // The parameter as the draft's own copy, to change in place; null when
    // there is none.
    Json::Value* own(const std::string& name)
    {
        if (findMember(m_removed, name) != nullptr) {
            return nullptr;
        }
        if (Json::Value* changed = mutableMember(m_changes, name)) {
            return changed;
        }
        return m_base.exists(name) ? &put(name, m_base.getParam(name)) : nullptr;
    }

    Json::Value& put(const std::string& name, Json::Value value)
    {
        Json::Value& slot = *m_changes.demand(name.data(), name.data() + name.size());
        m_removed.removeMember(name.data(), name.data() + name.size(), nullptr);
        slot.swap(value);
        return slot;
    }

    bool drop(const std::string& name)
    {
        if (parameter(name) == nullptr) {
            return false;
        }
        m_changes.removeMember(name.data(), name.data() + name.size(), nullptr);
        if (m_base.exists(name)) {
            *m_removed.demand(name.data(), name.data() + name.size()) = true;
        }
        return true;
    }

    Json::Value whole() const
    {
        Json::Value document(Json::objectValue);
        for (auto it = m_base.begin(), end = m_base.end(); it != end; ++it) {
            const std::string_view name = memberName(it);
            if (findMember(m_removed, name) == nullptr) {
                *document.demand(name.data(), name.data() + name.size()) = *it;
            }
        }
        for (auto it = m_changes.begin(), end = m_changes.end(); it != end; ++it) {
            const std::string_view name = memberName(it);
            *document.demand(name.data(), name.data() + name.size()) = *it;
        }
        return document;
    }

    void replaceWhole(Json::Value& object)
    {
        Json::Value removed;
        for (auto it = m_base.begin(), end = m_base.end(); it != end; ++it) {
            const std::string_view name = memberName(it);
            if (findMember(object, name) == nullptr) {
                *removed.demand(name.data(), name.data() + name.size()) = true;
            }
        }
        m_changes.swap(object);
        m_removed.swap(removed);
    }

    // Everything that may fail is done before the container changes:
    // append() is all or nothing, and removals allocate nothing.
    void commit(CParameters& target) const
    {
        CParameters changed;
        for (auto it = m_changes.begin(), end = m_changes.end(); it != end; ++it) {
            changed.setParam(std::string(memberName(it)), *it);
        }
        std::vector<std::string> removed;
        for (auto it = m_removed.begin(), end = m_removed.end(); it != end; ++it) {
            removed.emplace_back(memberName(it));
        }
        target.append(changed);
        for (const std::string& name : removed) {
            target.removeParam(name);
        }
    }

private:
    const CParameters& m_base;
    Json::Value m_changes; // null until the first change: a look-up allocates nothing
    Json::Value m_removed; // names only
};

// The value tokens designate in the draft (the whole document, made in
// whole, for none), or null.
const Json::Value* lookUp(const Draft& draft, const Tokens& tokens, Json::Value& whole)
{
    if (tokens.empty()) {
        whole = draft.whole();
        return &whole;
    }
    const Json::Value* value = draft.parameter(tokens[0]);
    for (std::size_t i = 1; value != nullptr && i < tokens.size(); ++i) {
        value = child(*value, tokens[i]);
    }
    return value;
}

// The container holding the place of the last of two or more tokens, as the
// draft's own; with createParents, missing members on the way become empty
// objects.
Json::Value* ownParent(Draft& draft, const Tokens& tokens, bool createParents, std::string& reason)
{
    Json::Value* value = draft.own(tokens[0]);
    if (value == nullptr && createParents) {
        value = &draft.put(tokens[0], Json::Value(Json::objectValue));
    }
    std::size_t reached = 1;
    for (; value != nullptr && reached + 1 < tokens.size(); ++reached) {
        const std::string& token = tokens[reached];
        Json::Value* next = const_cast<Json::Value*>(child(*value, token));
        if (next == nullptr && createParents && value->isObject()) {
            next = value->demand(token.data(), token.data() + token.size());
            *next = Json::Value(Json::objectValue);
        }
        value = next;
    }
    if (value == nullptr) {
        fail(reason, "no value at ", tokens, reached);
    }
    return value;
}

// How a value goes in: RFC 6902 add (an array's element inserted), set (an
// array's element replaced, "-" appending), RFC 6902 replace (the place must
// hold a value).
enum class Mode { insert, overwrite, replace };

bool place(Draft& draft, const Tokens& tokens, Json::Value value, Mode mode, bool createParents,
           std::string& reason)
{
    const std::size_t last = tokens.size();
    if (!fits(value, CParameters::maxJSONDepth - static_cast<long>(last))) {
        reason = deeperThanAllowed;
        return false;
    }
    if (last == 0) {
        if (!value.isObject()) {
            reason = "the document must stay an object";
            return false;
        }
        draft.replaceWhole(value);
        return true;
    }
    if (last == 1) {
        if (mode == Mode::replace && draft.parameter(tokens[0]) == nullptr) {
            return fail(reason, "no value at ", tokens, 1);
        }
        draft.put(tokens[0], std::move(value));
        return true;
    }
    Json::Value* parent = ownParent(draft, tokens, createParents, reason);
    if (parent == nullptr) {
        return false;
    }
    const std::string& token = tokens[last - 1];
    if (parent->isObject()) {
        Json::Value* slot = mutableMember(*parent, token);
        if (slot == nullptr && mode == Mode::replace) {
            return fail(reason, "no value at ", tokens, last);
        }
        if (slot == nullptr) {
            slot = parent->demand(token.data(), token.data() + token.size());
        }
        slot->swap(value);
        return true;
    }
    if (!parent->isArray()) {
        return fail(reason, "no object or array at ", tokens, last - 1);
    }
    const std::size_t size = parent->size();
    const std::size_t index = arrayIndex(token, size);
    const bool appends = mode == Mode::insert || (mode == Mode::overwrite && token == "-");
    if (index == noIndex) {
        return fail(reason, "not an array index: ", tokens, last);
    }
    if (index > size || (index == size && !appends)) {
        return fail(reason, "past the end of the array: ", tokens, last);
    }
    if (appends) {
        parent->insert(static_cast<Json::ArrayIndex>(index), std::move(value));
    } else {
        (*parent)[static_cast<Json::ArrayIndex>(index)].swap(value);
    }
    return true;
}

// Removes the value tokens designate, moving it into taken.
bool take(Draft& draft, const Tokens& tokens, Json::Value& taken, std::string& reason)
{
    const std::size_t last = tokens.size();
    if (last == 0) {
        reason = "the document itself cannot be removed";
        return false;
    }
    if (last == 1) {
        const Json::Value* value = draft.parameter(tokens[0]);
        if (value != nullptr) {
            taken = *value;
            return draft.drop(tokens[0]);
        }
    } else {
        Json::Value* parent = ownParent(draft, tokens, false, reason);
        if (parent == nullptr) {
            return false;
        }
        const std::string& token = tokens[last - 1];
        if (parent->isObject() && parent->removeMember(token.data(), token.data() + token.size(), &taken)) {
            return true;
        }
        const std::size_t index = parent->isArray() ? arrayIndex(token, parent->size()) : noIndex;
        if (index < parent->size() && parent->removeIndex(static_cast<Json::ArrayIndex>(index), &taken)) {
            return true;
        }
    }
    return fail(reason, "no value at ", tokens, last);
}

// RFC 7396's MergePatch(target, patch).
Json::Value mergeValue(Json::Value target, const Json::Value& patch)
{
    if (!patch.isObject()) {
        return patch;
    }
    if (!target.isObject()) {
        target = Json::Value(Json::objectValue);
    }
    for (auto it = patch.begin(), end = patch.end(); it != end; ++it) {
        const std::string_view name = memberName(it);
        if (it->isNull()) {
            target.removeMember(name.data(), name.data() + name.size(), nullptr);
            continue;
        }
        Json::Value* slot = target.demand(name.data(), name.data() + name.size());
        Json::Value merged = mergeValue(std::move(*slot), *it);
        slot->swap(merged);
    }
    return target;
}

// The root step of MergePatch, parameter by parameter: a parameter is copied
// only where an object merges into an object.
bool mergeMembers(Draft& draft, const Json::Value& patch, std::string& reason)
{
    if (!patch.isObject()) {
        reason = "a merge patch must be an object (the document must stay one)";
        return false;
    }
    for (auto it = patch.begin(), end = patch.end(); it != end; ++it) {
        const std::string name(memberName(it));
        if (it->isNull()) {
            draft.drop(name);
            continue;
        }
        const Json::Value* current = draft.parameter(name);
        Json::Value merged =
            mergeValue(current != nullptr && current->isObject() && it->isObject() ? *current : Json::Value(), *it);
        if (!fits(merged, CParameters::maxJSONDepth - 1)) {
            reason = deeperThanAllowed;
            return false;
        }
        draft.put(name, std::move(merged));
    }
    return true;
}

// A pointer member of an operation, read into tokens.
bool pointerMember(const Json::Value& operation, const char* name, Tokens& tokens, std::string& reason)
{
    const Json::Value* member = findMember(operation, name);
    std::string why;
    if (member != nullptr && member->isString() && parsePointer(*cparameters::stringOf(*member), tokens, why)) {
        return true;
    }
    reason = member == nullptr ? "no \"" : "\"";
    reason += name;
    reason += '"';
    if (member != nullptr) {
        reason += member->isString() ? ": " : " is not a string";
        reason += why;
    }
    return false;
}

const char* const operationNames[] = {"add", "remove", "replace", "move", "copy", "test"};
enum Operation { add, remove, replace, move, copy, test, unknown };

bool applyOperation(Draft& draft, const Json::Value& operation, Operation kind, std::string& reason)
{
    Tokens path;
    Tokens from;
    const Json::Value* value = findMember(operation, "value");
    if (!pointerMember(operation, "path", path, reason) ||
        ((kind == move || kind == copy) && !pointerMember(operation, "from", from, reason))) {
        return false;
    }
    if (value == nullptr && (kind == add || kind == replace || kind == test)) {
        reason = "no \"value\"";
        return false;
    }
    Json::Value found;
    const Json::Value* source = nullptr;
    switch (kind) {
    case add:
        return place(draft, path, *value, Mode::insert, false, reason);
    case remove:
        return take(draft, path, found, reason);
    case replace:
        return place(draft, path, *value, Mode::replace, false, reason);
    case move:
        if (from.size() < path.size() && std::equal(from.begin(), from.end(), path.begin())) {
            return fail(reason, "\"path\" lies inside \"from\" ", from, from.size());
        }
        if (from.empty()) {
            return true; // the document onto itself
        }
        return take(draft, from, found, reason) && place(draft, path, std::move(found), Mode::insert, false, reason);
    case copy:
        source = lookUp(draft, from, found);
        if (source == nullptr) {
            return fail(reason, "no value at ", from, from.size());
        }
        return place(draft, path, *source, Mode::insert, false, reason);
    default:
        source = lookUp(draft, path, found);
        return (source != nullptr && equal(*source, *value)) ||
               fail(reason, source == nullptr ? "no value at " : "not the value at ", path, path.size());
    }
}

bool applyOperations(Draft& draft, const Json::Value& patch, std::string& reason)
{
    if (!patch.isArray()) {
        reason = "a JSON patch must be an array";
        return false;
    }
    for (Json::ArrayIndex i = 0; i < patch.size(); ++i) {
        const Json::Value& operation = patch[i];
        const Json::Value* op = operation.isObject() ? findMember(operation, "op") : nullptr;
        const std::optional<std::string_view> name = op != nullptr ? cparameters::stringOf(*op) : std::nullopt;
        int kind = 0;
        while (kind < unknown && !(name && *name == operationNames[kind])) {
            ++kind;
        }
        std::string why;
        if (!operation.isObject()) {
            why = "not an object";
        } else if (op == nullptr) {
            why = "no \"op\"";
        } else if (kind == unknown) {
            why = "unknown \"op\" ";
            cparameters::writeJSON(*op, why);
        } else if (applyOperation(draft, operation, static_cast<Operation>(kind), why)) {
            continue;
        }
        reason = "operation ";
        reason += std::to_string(i);
        if (kind != unknown) {
            reason += " (";
            reason += operationNames[kind];
            reason += ')';
        }
        reason += ": ";
        reason += why;
        return false;
    }
    return true;
}

enum class Change { set, remove, merge, patch };

// Works a change out on a draft and puts it into the container when it
// succeeded; the record holds its reason or is cleared. One function for
// every change, so that the code that makes it all or nothing is there once.
bool change(CParameters& parameters, CParameters::TextError& error, Change kind, std::string_view pointer,
            const Json::Value& value, bool createParents)
{
    std::string reason;
    const bool changed = guardAllocation([&] {
        Draft draft(parameters);
        Tokens tokens;
        Json::Value taken;
        bool done;
        switch (kind) {
        case Change::set:
            done = parsePointer(pointer, tokens, reason) &&
                   place(draft, tokens, value, Mode::overwrite, createParents, reason);
            break;
        case Change::remove:
            done = parsePointer(pointer, tokens, reason) && take(draft, tokens, taken, reason);
            break;
        case Change::merge:
            done = mergeMembers(draft, value, reason);
            break;
        default:
            done = applyOperations(draft, value, reason);
        }
        if (done) {
            draft.commit(parameters);
        }
        return done;
    });
    cparameters::setRecord(error, 0, 0, 0, changed ? std::string() : std::move(reason), 0);
    return changed;
}

// Reads a patch's text, whatever its root, with the container's reader. A
// JSON patch's array and operation objects are two levels above its values.
bool readPatch(const std::string& text, int levelsAbove, Json::Value& patch, CParameters::TextError& error)
{
    cparameters::Rejection rejection;
    const bool read = guardAllocation(
        [&] { return cparameters::readJSONValue(text, CParameters::maxJSONDepth + levelsAbove, patch, rejection); });
    if (!read) {
        cparameters::setRecordAt(error, text, rejection.offset, std::move(rejection.reason));
    }
    return read;
}

} // namespace

bool CParameterPatch::checkPointer(const std::string& pointer, CParameters::TextError& error)
{
    Tokens tokens;
    std::string reason;
    const bool valid = guardAllocation([&] { return parsePointer(pointer, tokens, reason); });
    cparameters::setRecord(error, 0, 0, 0, std::move(reason), 0);
    return valid;
}

bool CParameterPatch::find(const CParameters& parameters, const std::string& pointer, Json::Value& value)
{
    return guardAllocation([&] {
        Tokens tokens;
        std::string reason;
        Json::Value whole;
        const Json::Value* found = nullptr;
        if (parsePointer(pointer, tokens, reason)) {
            found = lookUp(Draft(parameters), tokens, whole);
        }
        if (found == nullptr) {
            return false;
        }
        Json::Value copy(*found);
        value.swap(copy);
        return true;
    });
}

Json::Value CParameterPatch::get(const CParameters& parameters, const std::string& pointer,
                                 const Json::Value& defaultValue)
{
    return guardAllocation([&] {
        Json::Value value;
        return find(parameters, pointer, value) ? value : defaultValue;
    });
}

bool CParameterPatch::set(CParameters& parameters, const std::string& pointer, const Json::Value& value,
                          bool createParents, CParameters::TextError& error)
{
    return change(parameters, error, Change::set, pointer, value, createParents);
}

bool CParameterPatch::remove(CParameters& parameters, const std::string& pointer, CParameters::TextError& error)
{
    return change(parameters, error, Change::remove, pointer, Json::Value::nullSingleton(), false);
}

bool CParameterPatch::mergePatch(CParameters& parameters, const Json::Value& patch, CParameters::TextError& error)
{
    return change(parameters, error, Change::merge, std::string_view(), patch, false);
}

bool CParameterPatch::mergePatchText(CParameters& parameters, const std::string& text,
                                     CParameters::TextError& error)
{
    Json::Value patch;
    return readPatch(text, 0, patch, error) && mergePatch(parameters, patch, error);
}

bool CParameterPatch::jsonPatch(CParameters& parameters, const Json::Value& patch, CParameters::TextError& error)
{
    return change(parameters, error, Change::patch, std::string_view(), patch, false);
}

bool CParameterPatch::jsonPatchText(CParameters& parameters, const std::string& text, CParameters::TextError& error)
{
    Json::Value patch;
    return readPatch(text, 2, patch, error) && jsonPatch(parameters, patch, error);
}
