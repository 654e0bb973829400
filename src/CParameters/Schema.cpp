// SPDX-License-Identifier: MIT
// Declared parameters: a JSON Schema subset read into a tree of nodes once,
// then checked against values. docs/schema.md says what the subset is and
// where the standard's text was read strictly.
#include "Schema.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
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
    enum { enumValues, constValue, defaultValue };                             // values[]
    enum { uniqueItems, readOnly, deprecated };                                // flags[]
    enum { minLength, maxLength, minItems, maxItems };                         // counts[]
    enum { minimum, maximum, exclusiveMinimum, exclusiveMaximum, multipleOf }; // bounds[]

    bool never = false; // the schema false
    unsigned types = 0; // 0: no "type"
    bool has[3] = {};   // which values[] the schema gives
    bool flags[3] = {};
    Json::Value values[3];
    Json::Value bounds[5]; // null when absent
    std::uint64_t counts[4] = {0, unlimited, 0, unlimited};
    std::unique_ptr<SchemaNode> items, additional; // null when absent (the schema true)
    std::vector<std::string> names;                // of "properties", in the container's order
    std::vector<SchemaNode> properties;            // beside names
    std::vector<std::string> required;             // distinct

    // Out of line: made and destroyed in several places (a vector's
    // growth, unique_ptr, the shared root), one copy of each serves them.
    SchemaNode();
    SchemaNode(SchemaNode&&);
    ~SchemaNode();

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

SchemaNode::SchemaNode() = default;
SchemaNode::SchemaNode(SchemaNode&&) = default;
SchemaNode::~SchemaNode() = default;

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

// -1, 0 or 1 as a number is below, at or above 0.
int signOf(const Json::Value& v)
{
    if (v.type() == Json::uintValue) {
        return v.asUInt64() != 0;
    }
    if (v.type() == Json::intValue) {
        const Json::Int64 x = v.asInt64();
        return (x > 0) - (x < 0);
    }
    const double d = v.asDouble();
    return (d > 0) - (d < 0);
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
            const bool negative = p[1] == '-';
            for (p += 1 + (p[1] == '-' || p[1] == '+'); p != end; ++p) {
                exponent = exponent * 10 + (*p - '0');
            }
            exponent = negative ? -exponent : exponent;
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

// The parts one after the other, in one string (one call for a message,
// where each + would inline a string's growth again).
std::string joined(std::initializer_list<std::string_view> parts)
{
    std::string text;
    for (const std::string_view part : parts) {
        text += part;
    }
    return text;
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
    if (!isIntegral(v) || signOf(v) < 0) {
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

// The keywords of the subset, what each holds, and where it goes in a node.
enum Kind {
    typeKind,
    valueKind,
    boundKind,
    countKind,
    flagKind,
    schemaKind,
    propertiesKind,
    requiredKind,
    arrayKind,
    stringKind,
    idKind,
    dialectKind
};
struct Keyword {
    const char* name;
    Kind kind;
    int slot;
};
const Keyword keywords[] = {
    {"type", typeKind, 0},
    {"enum", valueKind, Node::enumValues},
    {"const", valueKind, Node::constValue},
    {"default", valueKind, Node::defaultValue},
    {"minimum", boundKind, Node::minimum},
    {"maximum", boundKind, Node::maximum},
    {"exclusiveMinimum", boundKind, Node::exclusiveMinimum},
    {"exclusiveMaximum", boundKind, Node::exclusiveMaximum},
    {"multipleOf", boundKind, Node::multipleOf},
    {"minLength", countKind, Node::minLength},
    {"maxLength", countKind, Node::maxLength},
    {"minItems", countKind, Node::minItems},
    {"maxItems", countKind, Node::maxItems},
    {"uniqueItems", flagKind, Node::uniqueItems},
    {"readOnly", flagKind, Node::readOnly},
    {"deprecated", flagKind, Node::deprecated},
    {"items", schemaKind, 0},
    {"additionalProperties", schemaKind, 1},
    {"properties", propertiesKind, 0},
    {"required", requiredKind, 0},
    {"examples", arrayKind, 0},
    {"title", stringKind, 0},
    {"description", stringKind, 0},
    {"$comment", stringKind, 0},
    {"$id", idKind, 0},
    {"$schema", dialectKind, 0},
};
// The keyword of each bound and count, for reports.
const char* boundKeyword(int slot) { return keywords[4 + slot].name; }
const char* countKeyword(int slot) { return keywords[9 + slot].name; }

const char* const dialect = "https://json-schema.org/draft/2020-12/schema";

unsigned typesOf(const Json::Value& v)
{
    const auto bit = [](const Json::Value& name) -> unsigned {
        const std::optional<std::string_view> s = stringOf(name);
        for (unsigned i = 0; s && i < 7; ++i) {
            if (*s == typeNames[i]) {
                return 1u << i;
            }
        }
        return 0;
    };
    if (v.isString()) {
        return bit(v);
    }
    unsigned types = 0;
    for (const Json::Value& name : v) { // nothing for a scalar, an empty array or object
        const unsigned one = v.isArray() ? bit(name) : 0;
        if (one == 0 || (types & one)) {
            return 0;
        }
        types |= one;
    }
    return types;
}

bool compileKeyword(std::string_view key, const Json::Value& v, const Json::Value& schema, Node& node, bool root,
                    Fault& fault)
{
    const Keyword* keyword = std::begin(keywords);
    while (keyword != std::end(keywords) && key != keyword->name) {
        ++keyword;
    }
    if (keyword == std::end(keywords)) {
        fault.offset = static_cast<std::size_t>(v.getOffsetLimit());
        fault.reason = joined({"unsupported keyword \"", key, "\""});
        return false;
    }
    const int slot = keyword->slot;
    const char* must = nullptr; // what v must be, when it is not
    switch (keyword->kind) {
    case typeKind:
        node.types = typesOf(v);
        must = node.types == 0 ? "a type name or a list of distinct type names" : nullptr;
        break;
    case valueKind:
        node.values[slot] = v;
        node.has[slot] = true;
        must = slot == Node::enumValues && !v.isArray() ? "an array" : nullptr;
        break;
    case boundKind:
        node.bounds[slot] = v;
        if (!isNumber(v)) {
            must = "a number";
        } else if (slot == Node::multipleOf && signOf(v) <= 0) {
            must = "a number above 0";
        }
        break;
    case countKind:
        must = readCount(v, node.counts[slot]) ? nullptr : "a non-negative integer";
        break;
    case flagKind:
        must = v.isBool() ? nullptr : "true or false";
        node.flags[slot] = must == nullptr && v.asBool();
        break;
    case schemaKind:
        return compileSchema(v, slot == 0 ? node.items : node.additional, fault);
    case propertiesKind:
        if (!v.isObject()) {
            must = "an object";
            break;
        }
        node.names.reserve(v.size());
        node.properties.resize(v.size());
        for (auto it = v.begin(); it != v.end(); ++it) {
            node.names.emplace_back(memberName(it));
            if (!compile(*it, node.properties[node.names.size() - 1], false, fault)) {
                return false;
            }
        }
        break;
    case requiredKind:
        for (const Json::Value& name : v) {
            const std::optional<std::string_view> text = stringOf(name);
            if (!text || std::find(node.required.begin(), node.required.end(), *text) != node.required.end()) {
                break;
            }
            node.required.emplace_back(std::string_view(*text)); // a view, as names: one growth path
        }
        must = v.isArray() && node.required.size() == v.size() ? nullptr : "an array of distinct strings";
        break;
    case arrayKind:
        must = v.isArray() ? nullptr : "an array";
        break;
    case stringKind:
        must = v.isString() ? nullptr : "a string";
        break;
    case idKind: {
        // A URI reference with no fragment but an empty one.
        const std::optional<std::string_view> text = stringOf(v);
        must = text && text->find('#') >= text->size() - 1 ? nullptr : "a URI reference without a fragment";
        break;
    }
    case dialectKind:
        if (!root && cparameters::findMember(schema, "$id") == nullptr) {
            return reject(fault, v, "\"$schema\" only at the root of a schema resource");
        }
        must = stringOf(v) == std::optional<std::string_view>(dialect)
                   ? nullptr
                   : "\"https://json-schema.org/draft/2020-12/schema\"";
        break;
    }
    return must == nullptr || reject(fault, v, joined({"\"", key, "\" must be ", must}));
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
// Steps live on the stack of the walk, each linked to the one before it.
struct Step {
    std::string_view name;
    Json::ArrayIndex index;
    bool isIndex;
    const Step* parent;
};

// Appends the path up to step, from the root, to v's pointer and to label
// (the same tokens unescaped, "/" between them), and names v after the first.
void trace(const Step* step, Violation& v, std::string& label)
{
    if (step == nullptr) {
        return;
    }
    trace(step->parent, v, label);
    const std::string token = step->isIndex ? std::to_string(step->index) : std::string(step->name);
    if (step->parent == nullptr) {
        v.name = step->isIndex ? std::string() : token;
    } else {
        label += '/';
    }
    label += token;
    cparameters::writePointerStep(token, v.pointer);
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

    // v as the member name of the root object whose schema is root.
    void param(const Node& root, std::string_view name, const Json::Value& v)
    {
        const Step step{name, 0, false, nullptr};
        last = &step;
        const Node* const declared = root.property(name);
        if (root.never || (declared == nullptr && root.additional && root.additional->never)) {
            value(root.never ? root : *root.additional, v);
            m_out.back().keyword = root.never ? "false" : "additionalProperties";
        } else if (const Node* const schema = declared != nullptr ? declared : root.additional.get()) {
            value(*schema, v);
        }
        last = nullptr;
    }

    // The members of an object, from first to end in name order: those of
    // the value at, or of the container parameters where it is not null.
    void members(const Node& node, Json::Value::const_iterator first, Json::Value::const_iterator end,
                 const Json::Value& at, const CParameters* parameters);

    const Step* last = nullptr; // the path to the value being checked

private:
    // Reports a violation of the value at the current path; atName places
    // it at the member's name, missing names a member absent from it.
    void report(const Json::Value& at, const char* keyword, const std::string& what, bool atName = false,
                std::string_view missing = std::string_view(), bool hasMissing = false)
    {
        Violation v;
        std::string label;
        trace(last, v, label);
        if (last == nullptr && hasMissing) {
            v.name = std::string(missing);
            label = v.name;
        }
        v.keyword = keyword;
        v.reason = label.empty() ? what : joined({label, ": ", what});
        if (m_lines != nullptr) {
            const std::size_t offset = static_cast<std::size_t>(atName ? at.getOffsetLimit() : at.getOffsetStart());
            const auto line = std::upper_bound(m_lines->starts.begin(), m_lines->starts.end(), offset) - 1;
            v.line = static_cast<std::size_t>(line - m_lines->starts.begin()) + 1;
            v.column = offset - *line + 1;
        }
        m_out.push_back(std::move(v));
    }

    // Reports "DESCRIPTION what tail unit" of v. Out of line, as are the
    // two below: each check then passes its parts, not a built string.
    [[gnu::noinline]] void fail(const Json::Value& v, const char* keyword, const char* what, std::string_view tail,
                                std::string_view unit = std::string_view())
    {
        report(v, keyword, joined({describe(v), what, tail, unit}));
    }
    // ... where the tail describes other.
    [[gnu::noinline]] void failOn(const Json::Value& v, const char* keyword, const char* what,
                                  const Json::Value& other)
    {
        fail(v, keyword, what, describe(other));
    }
    // ... where the tail is count and unit.
    [[gnu::noinline]] void failCount(const Json::Value& v, const char* keyword, const char* what,
                                     std::uint64_t count, const char* unit)
    {
        char digits[24];
        const int length = std::snprintf(digits, sizeof digits, "%llu", static_cast<unsigned long long>(count));
        fail(v, keyword, what, std::string_view(digits, static_cast<std::size_t>(length)), unit);
    }

    void number(const Node& node, const Json::Value& v);
    void array(const Node& node, const Json::Value& v);
    // minLength and maxLength, or minItems and maxItems, from slot on.
    void lengths(const Node& node, const Json::Value& v, std::uint64_t length, int slot, const char* unit);

    std::vector<Violation>& m_out;
    const Lines* m_lines;
};

void Checker::value(const Node& node, const Json::Value& v)
{
    if (node.never) {
        const char* keyword = "false";
        if (last != nullptr) {
            keyword = last->isIndex ? "items" : "properties";
        }
        report(v, keyword, "not allowed");
        return;
    }
    const Json::ValueType type = v.type();
    if (node.types != 0) {
        unsigned kind = numberType;
        switch (type) {
        case Json::nullValue:
            kind = nullType;
            break;
        case Json::booleanValue:
            kind = booleanType;
            break;
        case Json::objectValue:
            kind = objectType;
            break;
        case Json::arrayValue:
            kind = arrayType;
            break;
        case Json::stringValue:
            kind = stringType;
            break;
        default:
            if (isIntegral(v)) {
                kind |= integerType;
            }
        }
        if ((node.types & kind) == 0) {
            fail(v, "type", " is not of type ", typeList(node.types));
        }
    }
    if (node.has[Node::constValue] && compareJSON(v, node.values[Node::constValue]) != 0) {
        failOn(v, "const", " is not the constant ", node.values[Node::constValue]);
    }
    if (node.has[Node::enumValues]) {
        bool found = false;
        for (const Json::Value& choice : node.values[Node::enumValues]) {
            found = found || compareJSON(v, choice) == 0;
        }
        std::string choices;
        for (const Json::Value& choice : found ? Json::Value::nullSingleton() : node.values[Node::enumValues]) {
            choices += choices.empty() ? "" : ", ";
            choices += describe(choice);
        }
        if (!found) {
            fail(v, "enum", " is not one of ", choices.empty() ? std::string_view("no values") : choices);
        }
    }
    switch (type) {
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
        number(node, v);
        break;
    case Json::stringValue:
        if (node.counts[Node::minLength] != 0 || node.counts[Node::maxLength] != unlimited) {
            // A code point takes 1 to 4 bytes: count them only where the byte
            // count leaves the verdict open.
            const std::string_view text = *stringOf(v);
            const std::uint64_t bytes = text.size();
            const bool open = bytes > node.counts[Node::maxLength] || bytes / 4 < node.counts[Node::minLength];
            lengths(node, v, open ? codePoints(text) : bytes, Node::minLength, " characters");
        }
        break;
    case Json::arrayValue:
        array(node, v);
        break;
    case Json::objectValue:
        members(node, v.begin(), v.end(), v, nullptr);
        break;
    default:
        break;
    }
}

void Checker::lengths(const Node& node, const Json::Value& v, std::uint64_t length, int slot, const char* unit)
{
    if (length < node.counts[slot]) {
        failCount(v, countKeyword(slot), " is shorter than ", node.counts[slot], unit);
    }
    if (length > node.counts[slot + 1]) {
        failCount(v, countKeyword(slot + 1), " is longer than ", node.counts[slot + 1], unit);
    }
}

void Checker::number(const Node& node, const Json::Value& v)
{
    static const char* const says[] = {" is below the minimum ", " is above the maximum ",
                                       " is not above the exclusive minimum ", " is not below the exclusive maximum "};
    for (int slot = Node::minimum; slot <= Node::exclusiveMaximum; ++slot) {
        // A minimum fails below it, a maximum above it, an exclusive one on it too.
        const Json::Value& bound = node.bounds[slot];
        const int side = bound.isNull() ? 0 : compareNumbers(v, bound) * (slot % 2 == 0 ? -1 : 1);
        if (side > 0 || (side == 0 && !bound.isNull() && slot >= Node::exclusiveMinimum)) {
            failOn(v, boundKeyword(slot), says[slot], bound);
        }
    }
    const Json::Value& divisor = node.bounds[Node::multipleOf];
    if (!divisor.isNull() && !isMultiple(v, divisor)) {
        failOn(v, "multipleOf", " is not a multiple of ", divisor);
    }
}

void Checker::array(const Node& node, const Json::Value& v)
{
    lengths(node, v, v.size(), Node::minItems, " items");
    // Pairwise: parameter arrays are short, and this needs no ordering of
    // JSON values beyond equality.
    for (Json::ArrayIndex i = 0; node.flags[Node::uniqueItems] && i < v.size(); ++i) {
        for (Json::ArrayIndex j = i + 1; j < v.size(); ++j) {
            if (compareJSON(v[i], v[j]) == 0) {
                report(v, "uniqueItems",
                       joined({"items ", std::to_string(i), " and ", std::to_string(j), " are equal"}));
                i = v.size();
                break;
            }
        }
    }
    for (Json::ArrayIndex i = 0; node.items && i < v.size(); ++i) {
        const Step step{std::string_view(), i, true, last};
        last = &step;
        value(*node.items, v[i]);
        last = step.parent;
    }
}

void Checker::members(const Node& node, Json::Value::const_iterator first, Json::Value::const_iterator end,
                      const Json::Value& at, const CParameters* parameters)
{
    // Members and properties come in the same order: one walk through both.
    auto property = node.names.begin();
    for (; first != end; ++first) {
        const std::string_view name = memberName(first);
        int order = -1;
        while (property != node.names.end() && (order = property->compare(name)) < 0) {
            ++property;
        }
        const Node* schema = node.additional.get();
        const bool declared = property != node.names.end() && order == 0;
        if (declared) {
            schema = &node.properties[static_cast<std::size_t>(property - node.names.begin())];
        }
        if (schema == nullptr) {
            continue;
        }
        const Step step{name, 0, false, last};
        last = &step;
        if (schema->never && !declared) {
            report(*first, "additionalProperties", "not allowed", true);
        } else {
            value(*schema, *first);
        }
        last = step.parent;
    }
    for (const std::string& name : node.required) {
        if (parameters != nullptr ? !parameters->exists(name) : cparameters::findMember(at, name) == nullptr) {
            report(at, "required",
                   last == nullptr ? "required but absent" : joined({"lacks the required member \"", name, "\""}),
                   false, name, true);
        }
    }
}

} // namespace

void cparameters::rethrowAllocationFailure()
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        if (isJsoncppAllocationFailure(e)) {
            throw std::bad_alloc();
        }
        throw;
    }
}

namespace {

void clearRecord(TextError& error) { cparameters::setRecord(error, 0, 0, 0, std::string(), 0); }

// Fills error as the container's readers do for a fault at offset of text.
void place(TextError& error, std::string_view text, std::size_t offset, std::string reason)
{
    cparameters::setRecordAt(error, text, offset, std::move(reason));
}

// Reads a schema's or an instance's text, offsets kept, as the container's
// reader does; error placed where it is not JSON.
bool readDocument(const std::string& text, Json::Value& value, TextError& error)
{
    cparameters::Rejection rejection;
    if (!cparameters::readJSON(text, CParameters::maxJSONDepth, value, rejection, true)) {
        place(error, text, rejection.offset, std::move(rejection.reason));
        return false;
    }
    return true;
}

} // namespace

CParameterSchema::CParameterSchema() : m_root(std::make_shared<CParameterSchema::Node>()) {}
CParameterSchema::~CParameterSchema() = default;
CParameterSchema::CParameterSchema(const CParameterSchema& other) = default;
CParameterSchema& CParameterSchema::operator=(const CParameterSchema& other) = default;

bool CParameterSchema::load(const std::string& text, TextError& error)
{
    return cparameters::guardAllocation([&] {
        Json::Value schema;
        if (!readDocument(text, schema, error)) {
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
    return cparameters::guardAllocation([&] {
        std::vector<Violation> out;
        Checker checker(out, nullptr);
        const Tree& root = m_root->root;
        if (root.never || root.has[Tree::enumValues] || root.has[Tree::constValue] ||
            (root.types != 0 && !(root.types & objectType))) {
            // Keywords about the whole object: check a copy of it.
            Json::Value whole(Json::objectValue);
            for (auto it = parameters.begin(); it != parameters.end(); ++it) {
                const std::string_view name = memberName(it);
                *whole.demand(name.data(), name.data() + name.size()) = *it;
            }
            checker.value(root, whole);
        } else {
            checker.members(root, parameters.begin(), parameters.end(), Json::Value::nullSingleton(), &parameters);
        }
        return out;
    });
}

std::vector<Violation> CParameterSchema::checkValue(const Json::Value& instance) const
{
    return cparameters::guardAllocation([&] {
        std::vector<Violation> out;
        Checker(out, nullptr).value(m_root->root, instance);
        return out;
    });
}

std::vector<Violation> CParameterSchema::checkParam(const std::string& name, const Json::Value& value) const
{
    return cparameters::guardAllocation([&] {
        std::vector<Violation> out;
        Checker(out, nullptr).param(m_root->root, name, value);
        return out;
    });
}

bool CParameterSchema::checkJSON(const std::string& text, std::vector<Violation>& violations, TextError& error) const
{
    return cparameters::guardAllocation([&] {
        violations.clear();
        Json::Value instance;
        if (!readDocument(text, instance, error)) {
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
    return node != nullptr && node->flags[Tree::readOnly];
}

CParameters CParameterSchema::defaults() const
{
    return cparameters::guardAllocation([&] {
        CParameters result;
        const Tree& root = m_root->root;
        for (std::size_t i = 0; i < root.names.size(); ++i) {
            if (root.properties[i].has[Tree::defaultValue]) {
                result.setParam(root.names[i], root.properties[i].values[Tree::defaultValue]);
            }
        }
        return result;
    });
}

namespace {

// Checks every entry of incoming as a write; merges it in when all conform.
bool mergeChecked(const Tree& root, CParameters& parameters, const CParameters& incoming,
                  std::vector<Violation>& violations)
{
    violations.clear();
    cparameters::guardAllocation([&] {
        Checker checker(violations, nullptr);
        for (auto it = incoming.begin(); it != incoming.end(); ++it) {
            checker.param(root, memberName(it), *it);
        }
    });
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
           mergeChecked(m_root->root, parameters, incoming, violations);
}

bool CParameterSchema::deSerialiseAsJSON(CParameters& parameters, const std::string& text, TextError& error,
                                         std::vector<Violation>& violations) const
{
    violations.clear();
    CParameters incoming;
    return incoming.deSerialiseAsJSON(text, error) && mergeChecked(m_root->root, parameters, incoming, violations);
}

bool CParameterSchema::loadJSONFile(CParameters& parameters, const std::string& path, TextError& error,
                                    std::vector<Violation>& violations) const
{
    violations.clear();
    CParameters incoming;
    return incoming.loadJSONFile(path, error) && mergeChecked(m_root->root, parameters, incoming, violations);
}

bool CParameterSchema::append(CParameters& parameters, const CParameters& other,
                              std::vector<Violation>& violations) const
{
    return mergeChecked(m_root->root, parameters, other, violations);
}
