// SPDX-License-Identifier: MIT
// Declared parameters: a JSON Schema subset read into a tree of nodes once,
// then checked against values. docs/schema.md says what the subset is and
// where the standard's text was read strictly.
#include "Schema.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "ErrorRecord.h"
#include "JsonReader.h"
#include "JsonWriter.h"
#include "JsoncppAdapters.h"

using cparameters::memberName;
using cparameters::stringOf;
using Violation = CParameterSchema::Violation;
using TextError = CParameters::TextError;

namespace {

constexpr std::uint64_t unlimited = std::numeric_limits<std::uint64_t>::max();

// The instance types, as bits of a node's "type".
enum : unsigned {
    nullType = 1,
    booleanType = 2,
    objectType = 4,
    arrayType = 8,
    numberType = 16,
    stringType = 32,
    integerType = 64
};
const char* const typeNames[] = {"null", "boolean", "object", "array", "number", "string", "integer"};

} // namespace

namespace cparameters {

// One schema: a boolean one (always or never), or the keywords of an object.
struct SchemaNode {
    bool never = false; // the schema false
    unsigned types = 0; // 0: no "type"
    bool hasEnum = false;
    bool hasConst = false;
    bool uniqueItems = false;
    bool readOnly = false;
    bool hasDefault = false;
    Json::Value enumValues, constValue, defaultValue;
    Json::Value minimum, maximum, exclusiveMinimum, exclusiveMaximum, multipleOf; // null when absent
    std::uint64_t minLength = 0, maxLength = unlimited, minItems = 0, maxItems = unlimited;
    std::unique_ptr<SchemaNode> items, additional; // null when absent (the schema true)
    std::vector<std::string> names;                // of "properties", in the container's order
    std::vector<SchemaNode> properties;            // beside names
    std::vector<std::string> required;             // sorted, unique

    const SchemaNode* property(std::string_view name) const
    {
        const auto it = std::lower_bound(names.begin(), names.end(), name,
                                         [](const std::string& a, std::string_view b) { return a < b; });
        return it != names.end() && *it == name ? &properties[static_cast<std::size_t>(it - names.begin())] : nullptr;
    }
    // The schema a member of that name is checked against; null for true.
    const SchemaNode* member(std::string_view name) const
    {
        const SchemaNode* const declared = property(name);
        return declared != nullptr ? declared : additional.get();
    }
};

} // namespace cparameters

// The schema as read: a tree whose root is the whole parameter object's.
struct CParameterSchema::Node {
    cparameters::SchemaNode root;
};

namespace {

using Node = cparameters::SchemaNode;
} // namespace
using Tree = cparameters::SchemaNode;
namespace {

// ---- numbers and JSON equality ------------------------------------------

bool isNumber(const Json::Value& v) { return v.isNumeric() && !v.isBool(); }

// -1, 0 or 1 as an integral x compares with the double d, exactly.
template <typename Integer> int compareWithDouble(Integer x, double d)
{
    constexpr double limit = std::is_signed<Integer>::value ? 9223372036854775808.0 : 18446744073709551616.0;
    if (d >= limit) {
        return -1;
    }
    if (d < (std::is_signed<Integer>::value ? -limit : 0.0)) {
        return 1;
    }
    const Integer whole = static_cast<Integer>(d); // exact: |d| is within range
    if (x != whole) {
        return x < whole ? -1 : 1;
    }
    const double fraction = d - static_cast<double>(whole);
    return fraction > 0 ? -1 : fraction < 0 ? 1 : 0;
}

// Two JSON numbers compared by their values, whatever jsoncpp type holds them.
int compareNumbers(const Json::Value& a, const Json::Value& b)
{
    const Json::ValueType ta = a.type(), tb = b.type();
    if (ta == Json::realValue && tb == Json::realValue) {
        const double x = a.asDouble(), y = b.asDouble();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if (ta == Json::realValue) {
        return -compareNumbers(b, a);
    }
    if (tb == Json::realValue) {
        return ta == Json::intValue ? compareWithDouble<Json::Int64>(a.asInt64(), b.asDouble())
                                    : compareWithDouble<Json::UInt64>(a.asUInt64(), b.asDouble());
    }
    const bool na = ta == Json::intValue && a.asInt64() < 0, nb = tb == Json::intValue && b.asInt64() < 0;
    if (na != nb) {
        return na ? -1 : 1;
    }
    if (na) {
        const Json::Int64 x = a.asInt64(), y = b.asInt64();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    const Json::UInt64 x = a.asUInt64(), y = b.asUInt64();
    return x < y ? -1 : x > y ? 1 : 0;
}

bool isIntegral(const Json::Value& v)
{
    if (v.type() != Json::realValue) {
        return isNumber(v);
    }
    const double d = v.asDouble();
    return std::isfinite(d) && std::trunc(d) == d;
}

int kindRank(const Json::Value& v)
{
    switch (v.type()) {
    case Json::nullValue:
        return 0;
    case Json::booleanValue:
        return 1;
    case Json::stringValue:
        return 3;
    case Json::arrayValue:
        return 4;
    case Json::objectValue:
        return 5;
    default:
        return 2;
    }
}

// A total order in which values compare equal exactly when they are equal
// JSON values: numbers by value (1 and 1.0 are one), strings by their bytes,
// arrays item by item, objects member by member whatever their order.
int compareJSON(const Json::Value& a, const Json::Value& b)
{
    const int ka = kindRank(a), kb = kindRank(b);
    if (ka != kb) {
        return ka < kb ? -1 : 1;
    }
    switch (ka) {
    case 1:
        return int(a.asBool()) - int(b.asBool());
    case 2:
        return compareNumbers(a, b);
    case 3: {
        const int c = stringOf(a)->compare(*stringOf(b));
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    case 4:
    case 5: {
        if (a.size() != b.size()) {
            return a.size() < b.size() ? -1 : 1;
        }
        for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
            if (ka == 5) {
                const int c = memberName(i).compare(memberName(j));
                if (c != 0) {
                    return c < 0 ? -1 : 1;
                }
            }
            const int c = compareJSON(*i, *j);
            if (c != 0) {
                return c;
            }
        }
        return 0;
    }
    default:
        return 0;
    }
}

// A number as an exact decimal: magnitude mantissa * 10^exponent. A double
// is taken as the shortest decimal that reads back to it, which is the text
// it was read from whenever that had at most 15 significant digits.
struct Decimal {
    std::uint64_t mantissa = 0;
    int exponent = 0;
};

Decimal decimalOf(const Json::Value& v)
{
    Decimal d;
    if (v.type() == Json::realValue) {
        char digits[40];
        const char* const end =
            std::to_chars(digits, digits + sizeof digits, std::fabs(v.asDouble()), std::chars_format::scientific).ptr;
        const char* p = digits;
        int fractionDigits = 0;
        for (bool fraction = false; p != end && *p != 'e'; ++p) {
            if (*p == '.') {
                fraction = true;
                continue;
            }
            d.mantissa = d.mantissa * 10 + static_cast<unsigned>(*p - '0');
            fractionDigits += fraction;
        }
        int exponent = 0;
        if (p != end) {
            std::from_chars(p + 1 + (p[1] == '+'), end, exponent);
        }
        d.exponent = exponent - fractionDigits;
    } else if (v.type() == Json::intValue) {
        const Json::Int64 x = v.asInt64();
        d.mantissa = x < 0 ? 0 - static_cast<std::uint64_t>(x) : static_cast<std::uint64_t>(x);
    } else {
        d.mantissa = v.asUInt64();
    }
    while (d.mantissa != 0 && d.mantissa % 10 == 0) {
        d.mantissa /= 10;
        ++d.exponent;
    }
    return d;
}

// a * b mod m for a, b < m, without a wider type (32-bit targets have none).
std::uint64_t mulMod(std::uint64_t a, std::uint64_t b, std::uint64_t m)
{
    std::uint64_t result = 0;
    for (; b != 0; b >>= 1) {
        if (b & 1) {
            result = result >= m - a ? result - (m - a) : result + a;
        }
        a = a >= m - a ? a - (m - a) : a + a;
    }
    return result;
}

// Whether value / divisor is an integer, in exact decimal arithmetic.
bool isMultiple(const Json::Value& value, const Json::Value& divisor)
{
    const Decimal a = decimalOf(value), d = decimalOf(divisor);
    if (a.mantissa == 0) {
        return true;
    }
    if (a.exponent >= d.exponent) { // a.mantissa * 10^k mod d.mantissa
        std::uint64_t power = 1 % d.mantissa, base = 10 % d.mantissa;
        for (int k = a.exponent - d.exponent; k != 0; k >>= 1) {
            if (k & 1) {
                power = mulMod(power, base, d.mantissa);
            }
            base = mulMod(base, base, d.mantissa);
        }
        return mulMod(a.mantissa % d.mantissa, power, d.mantissa) == 0;
    }
    std::uint64_t scaled = d.mantissa; // d.mantissa * 10^k must divide a.mantissa
    for (int k = d.exponent - a.exponent; k != 0; --k) {
        if (scaled > a.mantissa / 10) {
            return false;
        }
        scaled *= 10;
    }
    return a.mantissa % scaled == 0;
}

// The code points of UTF-8 text: the bytes that begin one (an invalid byte
// counts as one, as it is kept).
std::uint64_t codePoints(std::string_view text)
{
    std::uint64_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }
    return count;
}

std::string describe(const Json::Value& v)
{
    if (v.isArray()) {
        return "an array";
    }
    if (v.isObject()) {
        return "an object";
    }
    std::string text;
    const std::optional<std::string_view> s = stringOf(v);
    if (s && s->size() > 40) {
        std::size_t cut = 37;
        while (cut > 0 && (static_cast<unsigned char>((*s)[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        cparameters::writeJSON(Json::Value(s->data(), s->data() + cut), text);
        text.insert(text.size() - 1, "...");
        return text;
    }
    cparameters::writeJSON(v, text);
    return text;
}

std::string typeList(unsigned types)
{
    std::string text;
    for (unsigned i = 0; i < 7; ++i) {
        if (types & (1u << i)) {
            text += text.empty() ? "" : " or ";
            text += typeNames[i];
        }
    }
    return text;
}

// ---- reading a schema ---------------------------------------------------

// Where and why a schema is rejected.
struct Fault {
    std::size_t offset = 0;
    std::string reason;
};

bool reject(Fault& fault, const Json::Value& at, std::string reason)
{
    fault.offset = static_cast<std::size_t>(at.getOffsetStart());
    fault.reason = std::move(reason);
    return false;
}

// Whether v is a non-negative integer (2.0 included); its value, saturated.
bool readCount(const Json::Value& v, std::uint64_t& count)
{
    if (!isIntegral(v) || compareNumbers(v, Json::Value(0)) < 0) {
        return false;
    }
    count = v.type() != Json::realValue              ? v.asUInt64()
            : v.asDouble() >= 18446744073709551616.0 ? unlimited
                                                     : static_cast<std::uint64_t>(v.asDouble());
    return true;
}

bool compile(const Json::Value& schema, Node& node, bool root, Fault& fault);

bool compileSchema(const Json::Value& schema, std::unique_ptr<Node>& node, Fault& fault)
{
    node.reset(new Node);
    return compile(schema, *node, false, fault);
}

bool compileKeyword(std::string_view key, const Json::Value& v, const Json::Value& schema, Node& node, bool root,
                    Fault& fault)
{
    const auto must = [&](const char* what) {
        return reject(fault, v, "\"" + std::string(key) + "\" must be " + what);
    };
    if (key == "type") {
        const auto typeBit = [](const Json::Value& name) -> unsigned {
            const std::optional<std::string_view> s = stringOf(name);
            for (unsigned i = 0; s && i < 7; ++i) {
                if (*s == typeNames[i]) {
                    return 1u << i;
                }
            }
            return 0;
        };
        if (v.isString()) {
            node.types = typeBit(v);
        } else if (v.isArray() && !v.empty()) {
            for (const Json::Value& name : v) {
                const unsigned bit = typeBit(name);
                if (bit == 0 || (node.types & bit)) {
                    node.types = 0;
                    break;
                }
                node.types |= bit;
            }
        }
        return node.types != 0 || must("a type name or a list of distinct type names");
    }
    if (key == "enum") {
        node.hasEnum = true;
        node.enumValues = v;
        return v.isArray() || must("an array");
    }
    if (key == "const") {
        node.hasConst = true;
        node.constValue = v;
        return true;
    }
    Json::Value* const bound = key == "minimum"            ? &node.minimum
                               : key == "maximum"          ? &node.maximum
                               : key == "exclusiveMinimum" ? &node.exclusiveMinimum
                               : key == "exclusiveMaximum" ? &node.exclusiveMaximum
                               : key == "multipleOf"       ? &node.multipleOf
                                                           : nullptr;
    if (bound != nullptr) {
        if (!isNumber(v)) {
            return must("a number");
        }
        if (bound == &node.multipleOf && compareNumbers(v, Json::Value(0)) <= 0) {
            return must("a number above 0");
        }
        *bound = v;
        return true;
    }
    std::uint64_t* const count = key == "minLength"   ? &node.minLength
                                 : key == "maxLength" ? &node.maxLength
                                 : key == "minItems"  ? &node.minItems
                                 : key == "maxItems"  ? &node.maxItems
                                                      : nullptr;
    if (count != nullptr) {
        return readCount(v, *count) || must("a non-negative integer");
    }
    if (key == "uniqueItems" || key == "readOnly" || key == "deprecated") {
        if (!v.isBool()) {
            return must("true or false");
        }
        if (key != "deprecated") {
            (key == "uniqueItems" ? node.uniqueItems : node.readOnly) = v.asBool();
        }
        return true;
    }
    if (key == "items" || key == "additionalProperties") {
        return compileSchema(v, key == "items" ? node.items : node.additional, fault);
    }
    if (key == "properties") {
        if (!v.isObject()) {
            return must("an object");
        }
        node.names.reserve(v.size());
        node.properties.resize(v.size());
        for (auto it = v.begin(); it != v.end(); ++it) {
            node.names.emplace_back(memberName(it));
            if (!compile(*it, node.properties[node.names.size() - 1], false, fault)) {
                return false;
            }
        }
        return true;
    }
    if (key == "required") {
        if (!v.isArray()) {
            return must("an array of distinct strings");
        }
        for (const Json::Value& name : v) {
            if (!name.isString()) {
                return must("an array of distinct strings");
            }
            node.required.emplace_back(*stringOf(name));
        }
        std::sort(node.required.begin(), node.required.end());
        return std::adjacent_find(node.required.begin(), node.required.end()) == node.required.end() ||
               must("an array of distinct strings");
    }
    if (key == "default") {
        node.hasDefault = true;
        node.defaultValue = v;
        return true;
    }
    if (key == "examples") {
        return v.isArray() || must("an array");
    }
    if (key == "title" || key == "description" || key == "$comment") {
        return v.isString() || must("a string");
    }
    if (key == "$id") {
        // A URI reference with no fragment but an empty one.
        const std::optional<std::string_view> s = stringOf(v);
        return (s && s->find('#') >= s->size() - 1) || must("a URI reference without a fragment");
    }
    if (key == "$schema") {
        if (!root && !schema.isMember("$id")) {
            return reject(fault, v, "\"$schema\" only at the root of a schema resource");
        }
        return stringOf(v) == std::optional<std::string_view>("https://json-schema.org/draft/2020-12/schema") ||
               must("\"https://json-schema.org/draft/2020-12/schema\"");
    }
    fault.offset = static_cast<std::size_t>(v.getOffsetLimit());
    fault.reason = "unsupported keyword \"" + std::string(key) + "\"";
    return false;
}

bool compile(const Json::Value& schema, Node& node, bool root, Fault& fault)
{
    if (schema.isBool()) {
        node.never = !schema.asBool();
        return true;
    }
    if (!schema.isObject()) {
        return reject(fault, schema, "a schema must be an object or true or false");
    }
    for (auto it = schema.begin(); it != schema.end(); ++it) {
        if (!compileKeyword(memberName(it), *it, schema, node, root, fault)) {
            return false;
        }
    }
    return true;
}

// ---- checking -----------------------------------------------------------

// One step from the root to a value: a member's name or an item's index.
struct Step {
    std::string_view name;
    Json::ArrayIndex index;
    bool isIndex;
};

void appendToken(const Step& step, std::string& out, bool escape)
{
    if (step.isIndex) {
        out += std::to_string(step.index);
        return;
    }
    for (const char c : step.name) {
        out += !escape ? std::string(1, c) : c == '~' ? "~0" : c == '/' ? "~1" : std::string(1, c);
    }
}

// Line starts of a checked text, to place violations.
struct Lines {
    std::string_view text;
    std::vector<std::size_t> starts;

    explicit Lines(std::string_view t) : text(t), starts{0}
    {
        for (std::size_t i = 0; i < t.size(); ++i) {
            if (t[i] == '\n') {
                starts.push_back(i + 1);
            }
        }
    }
};

class Checker {
public:
    Checker(std::vector<Violation>& out, const Lines* lines) : m_out(out), m_lines(lines) {}

    void value(const Node& node, const Json::Value& v);

    // The members of an object, from first to last in name order.
    template <typename Iterator> void members(const Node& node, Iterator first, Iterator last, const Json::Value& at);

    std::vector<Step> path;

private:
    // Reports a violation of the value at the current path; atName places
    // it at the member's name, missing names a member absent from it.
    void report(const Json::Value& at, const char* keyword, const std::string& what, bool atName = false,
                std::string_view missing = std::string_view(), bool hasMissing = false)
    {
        Violation v;
        std::string label;
        for (const Step& step : path) {
            v.pointer += '/';
            appendToken(step, v.pointer, true);
            label += label.empty() && &step == &path.front() ? "" : "/";
            appendToken(step, label, false);
        }
        if (!path.empty() && !path.front().isIndex) {
            v.name = std::string(path.front().name);
        } else if (hasMissing) {
            v.name = std::string(missing);
            label = v.name;
        }
        v.keyword = keyword;
        v.reason = label.empty() ? what : label + ": " + what;
        if (m_lines != nullptr) {
            const std::size_t offset = static_cast<std::size_t>(atName ? at.getOffsetLimit() : at.getOffsetStart());
            const auto line = std::upper_bound(m_lines->starts.begin(), m_lines->starts.end(), offset) - 1;
            v.line = static_cast<std::size_t>(line - m_lines->starts.begin()) + 1;
            v.column = offset - *line + 1;
        }
        m_out.push_back(std::move(v));
    }

    void number(const Node& node, const Json::Value& v);
    void array(const Node& node, const Json::Value& v);

    std::vector<Violation>& m_out;
    const Lines* m_lines;
};

void Checker::value(const Node& node, const Json::Value& v)
{
    if (node.never) {
        const char* keyword = "false";
        if (!path.empty()) {
            keyword = path.back().isIndex ? "items" : "properties";
        }
        report(v, keyword, "not allowed");
        return;
    }
    if (node.types != 0) {
        unsigned kind = v.isNull()     ? nullType
                        : v.isBool()   ? booleanType
                        : v.isObject() ? objectType
                        : v.isArray()  ? arrayType
                        : v.isString() ? stringType
                                       : numberType;
        if (kind == numberType && isIntegral(v)) {
            kind |= integerType;
        }
        if ((node.types & kind) == 0) {
            report(v, "type", describe(v) + " is not of type " + typeList(node.types));
        }
    }
    if (node.hasConst && compareJSON(v, node.constValue) != 0) {
        report(v, "const", describe(v) + " is not the constant " + describe(node.constValue));
    }
    if (node.hasEnum) {
        bool found = false;
        for (const Json::Value& choice : node.enumValues) {
            found = found || compareJSON(v, choice) == 0;
        }
        if (!found) {
            std::string choices;
            for (const Json::Value& choice : node.enumValues) {
                choices += (choices.empty() ? "" : ", ") + describe(choice);
            }
            report(v, "enum", describe(v) + " is not one of " + (choices.empty() ? "no values" : choices));
        }
    }
    if (isNumber(v)) {
        number(node, v);
    } else if (const std::optional<std::string_view> s = stringOf(v)) {
        const std::uint64_t length = codePoints(*s);
        if (length < node.minLength) {
            report(v, "minLength", describe(v) + " is shorter than " + std::to_string(node.minLength) + " characters");
        }
        if (length > node.maxLength) {
            report(v, "maxLength", describe(v) + " is longer than " + std::to_string(node.maxLength) + " characters");
        }
    } else if (v.isArray()) {
        array(node, v);
    } else if (v.isObject()) {
        members(node, v.begin(), v.end(), v);
    }
}

void Checker::number(const Node& node, const Json::Value& v)
{
    // Each bound fails on the side of it that its sign says, and on it
    // when exclusive.
    const auto limit = [&](const Json::Value& bound, int side, bool exclusive, const char* keyword, const char* what) {
        if (!bound.isNull()) {
            const int c = compareNumbers(v, bound) * side;
            if (c > 0 || (exclusive && c == 0)) {
                report(v, keyword, describe(v) + what + describe(bound));
            }
        }
    };
    limit(node.minimum, -1, false, "minimum", " is below the minimum ");
    limit(node.maximum, 1, false, "maximum", " is above the maximum ");
    limit(node.exclusiveMinimum, -1, true, "exclusiveMinimum", " is not above the exclusive minimum ");
    limit(node.exclusiveMaximum, 1, true, "exclusiveMaximum", " is not below the exclusive maximum ");
    if (!node.multipleOf.isNull() && !isMultiple(v, node.multipleOf)) {
        report(v, "multipleOf", describe(v) + " is not a multiple of " + describe(node.multipleOf));
    }
}

void Checker::array(const Node& node, const Json::Value& v)
{
    const std::uint64_t count = v.size();
    if (count < node.minItems) {
        report(v, "minItems", "has " + std::to_string(count) + " items, fewer than " + std::to_string(node.minItems));
    }
    if (count > node.maxItems) {
        report(v, "maxItems", "has " + std::to_string(count) + " items, more than " + std::to_string(node.maxItems));
    }
    if (node.uniqueItems && count > 1) {
        std::vector<Json::ArrayIndex> order(v.size());
        for (Json::ArrayIndex i = 0; i < v.size(); ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](Json::ArrayIndex a, Json::ArrayIndex b) { return compareJSON(v[a], v[b]) < 0; });
        for (std::size_t i = 1; i < order.size(); ++i) {
            if (compareJSON(v[order[i - 1]], v[order[i]]) == 0) {
                report(v, "uniqueItems",
                       "items " + std::to_string(order[i - 1]) + " and " + std::to_string(order[i]) + " are equal");
                break;
            }
        }
    }
    if (node.items) {
        for (Json::ArrayIndex i = 0; i < v.size(); ++i) {
            path.push_back(Step{std::string_view(), i, true});
            value(*node.items, v[i]);
            path.pop_back();
        }
    }
}

template <typename Iterator>
void Checker::members(const Node& node, Iterator first, Iterator last, const Json::Value& at)
{
    // Members, properties and required names all come in the same order:
    // one walk through the three.
    auto property = node.names.begin();
    auto required = node.required.begin();
    const auto missingBefore = [&](std::string_view name, bool all) {
        for (; required != node.required.end() && (all || *required < name); ++required) {
            report(at, "required",
                   path.empty() ? "required but absent" : "lacks the required member \"" + *required + "\"", false,
                   *required, true);
        }
        if (required != node.required.end() && *required == name) {
            ++required;
        }
    };
    for (; first != last; ++first) {
        const std::string_view name = memberName(first);
        missingBefore(name, false);
        while (property != node.names.end() && *property < name) {
            ++property;
        }
        const Node* schema = node.additional.get();
        const bool declared = property != node.names.end() && *property == name;
        if (declared) {
            schema = &node.properties[static_cast<std::size_t>(property - node.names.begin())];
        }
        if (schema == nullptr) {
            continue;
        }
        path.push_back(Step{name, 0, false});
        if (schema->never && !declared) {
            report(*first, "additionalProperties", "not allowed", true);
        } else {
            value(*schema, *first);
        }
        path.pop_back();
    }
    missingBefore(std::string_view(), true);
}

// jsoncpp reports a failed malloc as its own exception; the library's
// promise for a shortage of memory is std::bad_alloc.
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

void clearRecord(TextError& error) { cparameters::setRecord(error, 0, 0, 0, std::string(), 0); }

// Fills error as the container's readers do for a fault at offset of text.
void place(TextError& error, std::string_view text, std::size_t offset, std::string reason)
{
    const Lines lines(text.substr(0, offset));
    cparameters::setRecord(error, offset, lines.starts.size(), offset - lines.starts.back() + 1, std::move(reason), 0);
}

} // namespace

CParameterSchema::CParameterSchema() : m_root(std::make_shared<CParameterSchema::Node>()) {}
CParameterSchema::~CParameterSchema() = default;
CParameterSchema::CParameterSchema(const CParameterSchema& other) = default;
CParameterSchema& CParameterSchema::operator=(const CParameterSchema& other) = default;

bool CParameterSchema::load(const std::string& text, TextError& error)
{
    return allocating([&] {
        Json::Value schema;
        cparameters::Rejection rejection;
        if (!cparameters::readJSON(text, CParameters::maxJSONDepth, schema, rejection, true)) {
            place(error, text, rejection.offset, rejection.reason);
            return false;
        }
        auto root = std::make_shared<CParameterSchema::Node>();
        Fault fault;
        if (!compile(schema, root->root, true, fault)) {
            place(error, text, fault.offset, fault.reason);
            return false;
        }
        m_root = std::move(root);
        clearRecord(error);
        return true;
    });
}

bool CParameterSchema::loadFile(const std::string& path, TextError& error)
{
    std::string text;
    return cparameters::readTextFile(path, text, error) && load(text, error);
}

std::vector<Violation> CParameterSchema::check(const CParameters& parameters) const
{
    return allocating([&] {
        std::vector<Violation> out;
        Checker checker(out, nullptr);
        const Tree& root = m_root->root;
        if (root.never || root.hasEnum || root.hasConst || (root.types != 0 && !(root.types & objectType))) {
            // Keywords about the whole object: check a copy of it.
            Json::Value whole(Json::objectValue);
            for (auto it = parameters.begin(); it != parameters.end(); ++it) {
                const std::string_view name = memberName(it);
                *whole.demand(name.data(), name.data() + name.size()) = *it;
            }
            checker.value(root, whole);
        } else {
            checker.members(root, parameters.begin(), parameters.end(), Json::Value::nullSingleton());
        }
        return out;
    });
}

std::vector<Violation> CParameterSchema::checkValue(const Json::Value& instance) const
{
    return allocating([&] {
        std::vector<Violation> out;
        Checker(out, nullptr).value(m_root->root, instance);
        return out;
    });
}

std::vector<Violation> CParameterSchema::checkParam(const std::string& name, const Json::Value& value) const
{
    return allocating([&] {
        std::vector<Violation> out;
        Checker checker(out, nullptr);
        const Tree& root = m_root->root;
        checker.path.push_back(Step{name, 0, false});
        const Tree* const declared = root.property(name);
        if (root.never || (declared == nullptr && root.additional && root.additional->never)) {
            checker.value(root.never ? root : *root.additional, value);
            out.back().keyword = root.never ? "false" : "additionalProperties";
        } else if (const Tree* const schema = declared != nullptr ? declared : root.additional.get()) {
            checker.value(*schema, value);
        }
        return out;
    });
}

bool CParameterSchema::checkJSON(const std::string& text, std::vector<Violation>& violations, TextError& error) const
{
    return allocating([&] {
        violations.clear();
        Json::Value instance;
        cparameters::Rejection rejection;
        if (!cparameters::readJSON(text, CParameters::maxJSONDepth, instance, rejection, true)) {
            place(error, text, rejection.offset, rejection.reason);
            return false;
        }
        const Lines lines(text);
        Checker(violations, &lines).value(m_root->root, instance);
        clearRecord(error);
        return true;
    });
}

bool CParameterSchema::checkJSONFile(const std::string& path, std::vector<Violation>& violations,
                                     TextError& error) const
{
    violations.clear();
    std::string text;
    return cparameters::readTextFile(path, text, error) && checkJSON(text, violations, error);
}

bool CParameterSchema::readOnly(const std::string& name) const
{
    const Tree* const node = m_root->root.property(name);
    return node != nullptr && node->readOnly;
}

CParameters CParameterSchema::defaults() const
{
    return allocating([&] {
        CParameters result;
        const Tree& root = m_root->root;
        for (std::size_t i = 0; i < root.names.size(); ++i) {
            if (root.properties[i].hasDefault) {
                result.setParam(root.names[i], root.properties[i].defaultValue);
            }
        }
        return result;
    });
}

namespace {

// Checks every entry of incoming as a write; merges it in when all conform.
bool mergeChecked(const CParameterSchema& schema, CParameters& parameters, const CParameters& incoming,
                  std::vector<Violation>& violations)
{
    violations.clear();
    for (auto it = incoming.begin(); it != incoming.end(); ++it) {
        std::vector<Violation> found = schema.checkParam(std::string(memberName(it)), *it);
        violations.insert(violations.end(), found.begin(), found.end());
    }
    if (!violations.empty()) {
        return false;
    }
    parameters.append(incoming);
    return true;
}

} // namespace

bool CParameterSchema::setParam(CParameters& parameters, const std::string& name, const Json::Value& value,
                                std::vector<Violation>& violations) const
{
    violations = checkParam(name, value);
    if (!violations.empty() || name.size() > cparameters::maxNameLength) {
        return false;
    }
    parameters.setParam(name, value);
    return true;
}

bool CParameterSchema::setParam(CParameters& parameters, const std::string& name, const char* value,
                                std::vector<Violation>& violations) const
{
    violations.clear();
    return value != nullptr && setParam(parameters, name, Json::Value(value), violations);
}

bool CParameterSchema::deSerialise(CParameters& parameters, const std::string& text,
                                   const std::string& nameValueSeparator, const std::string& entrySeparator,
                                   TextError& error, std::vector<Violation>& violations) const
{
    violations.clear();
    CParameters incoming;
    return incoming.deSerialise(text, nameValueSeparator, entrySeparator, error) &&
           mergeChecked(*this, parameters, incoming, violations);
}

bool CParameterSchema::deSerialiseAsJSON(CParameters& parameters, const std::string& text, TextError& error,
                                         std::vector<Violation>& violations) const
{
    violations.clear();
    CParameters incoming;
    return incoming.deSerialiseAsJSON(text, error) && mergeChecked(*this, parameters, incoming, violations);
}

bool CParameterSchema::loadJSONFile(CParameters& parameters, const std::string& path, TextError& error,
                                    std::vector<Violation>& violations) const
{
    violations.clear();
    CParameters incoming;
    return incoming.loadJSONFile(path, error) && mergeChecked(*this, parameters, incoming, violations);
}

bool CParameterSchema::append(CParameters& parameters, const CParameters& other,
                              std::vector<Violation>& violations) const
{
    return mergeChecked(*this, parameters, other, violations);
}
