// SPDX-License-Identifier: MIT
// A schema and a parameter text, split at the first NUL byte: the schema is
// read (a rejected one leaves the old), then the text is checked three ways
// that must agree (from the text with places, as a loaded container, as a
// value), and written through a checked merge that must refuse exactly the
// texts with a violating entry, leaving the container as it was.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzChecks.h"
#include "Schema.h"

namespace {

using Violations = std::vector<CParameterSchema::Violation>;

bool same(const Violations& a, const Violations& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].pointer != b[i].pointer || a[i].keyword != b[i].keyword ||
            a[i].reason != b[i].reason) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string schemaText = input.substr(0, split);
    const std::string text = split == std::string::npos ? std::string("{}") : input.substr(split + 1);

    CParameterSchema schema;
    CParameters::TextError error;
    schema.load("{\"properties\":{\"keep\":{\"default\":1}}}", error);
    if (!schema.load(schemaText, error)) {
        require(error.line >= 1 && !error.reason.empty(), "a rejected schema says where");
        require(schema.defaults().serialiseAsJSON() == "{\"keep\":1}", "a rejected schema leaves the old one");
        return 0;
    }

    Violations placed;
    const bool read = schema.checkJSON(text, placed, error);
    CParameters parameters;
    require(parameters.deSerialiseAsJSON(text) == read, "checkJSON reads as deSerialiseAsJSON does");
    if (!read) {
        return 0;
    }
    require(same(placed, schema.check(parameters)), "a text and its container break the schema alike");
    Json::Value whole(Json::objectValue);
    for (auto it = parameters.begin(); it != parameters.end(); ++it) {
        whole[CParameters::getKey(it)] = *it;
    }
    require(same(placed, schema.checkValue(whole)), "a container and its value break the schema alike");
    for (const CParameterSchema::Violation& v : placed) {
        require(v.line >= 1 && v.column >= 1 && v.line <= text.size() + 1, "every violation has a place");
    }

    bool violating = false;
    for (auto it = parameters.begin(); it != parameters.end(); ++it) {
        violating = violating || !schema.checkParam(CParameters::getKey(it), *it).empty();
    }
    CParameters merged;
    fill(merged);
    const std::string before = merged.serialiseAsJSON();
    Violations found;
    require(schema.deSerialiseAsJSON(merged, text, error, found) == !violating,
            "a checked merge refuses exactly the texts with a violating entry");
    if (violating) {
        requireUnchanged(merged, before);
    }
    return 0;
}
