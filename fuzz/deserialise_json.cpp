// SPDX-License-Identifier: MIT
// deSerialiseAsJSON on any text. Where nlohmann::json is at hand it serves as
// an independent strict parser: it must agree on every verdict but for the
// documented differences, and on every value read.

#include <cstddef>
#include <cstdint>

#include "FuzzChecks.h"

#ifdef CPARAMETERS_FUZZ_ORACLE
#include <algorithm>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

// The facts on which the container rules differently from the oracle.
struct Facts {
    bool objectRoot = false;
    bool duplicates = false;
    int deepest = 0;
};

// Whether the oracle reads text, and what it learnt on the way.
bool judge(const std::string& text, Facts& facts)
{
    std::vector<std::set<std::string>> names; // of each open object
    const auto watch = [&](int depth, json::parse_event_t event, json& parsed) {
        switch (event) {
        case json::parse_event_t::object_start:
            facts.objectRoot = facts.objectRoot || depth == 0;
            names.emplace_back();
            [[fallthrough]];
        case json::parse_event_t::array_start:
            facts.deepest = std::max(facts.deepest, depth + 1);
            break;
        case json::parse_event_t::object_end:
            names.pop_back();
            break;
        case json::parse_event_t::key:
            facts.duplicates = facts.duplicates || !names.back().insert(parsed.get<std::string>()).second;
            break;
        default:
            break;
        }
        return true;
    };
    return !json::parse(text, watch, false).is_discarded();
}

void compareWithOracle(const std::string& text, bool accepted, const CParameters& read)
{
    Facts facts;
    const bool valid = judge(text, facts);
    // The oracle takes a NUL byte for the end of the text; JSON has no place
    // for one outside an escape.
    const bool expected = valid && facts.objectRoot && !facts.duplicates &&
                          facts.deepest <= CParameters::maxJSONDepth && text.find('\0') == std::string::npos;
    if (accepted == expected) {
        if (accepted) {
            require(json::parse(text) == json::parse(read.serialiseAsJSON()), "the oracle reads the same values");
        }
        return;
    }
    // The documented differences: invalid UTF-8 inside strings is kept (the
    // oracle must then accept the text with those bytes made ASCII), and a
    // byte order mark is no JSON (the oracle skips it).
    if (accepted) {
        std::string ascii = text;
        for (char& c : ascii) {
            c = static_cast<unsigned char>(c) >= 0x80 ? 'a' : c;
        }
        Facts asciiFacts;
        require(ascii != text && judge(ascii, asciiFacts), "accepted text is JSON but for invalid UTF-8 in strings");
    } else {
        require(text.rfind("\xef\xbb\xbf", 0) == 0, "the oracle agrees on the verdict");
    }
}

} // namespace
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CParameters merged;
    fill(merged);
    const std::string before = merged.serialiseAsJSON();
    const bool accepted = merged.deSerialiseAsJSON(text);
    CParameters read;
    require(read.deSerialiseAsJSON(text) == accepted, "a text is read alike into any container");
#ifdef CPARAMETERS_FUZZ_ORACLE
    compareWithOracle(text, accepted, read);
#endif
    if (!accepted) {
        requireUnchanged(merged, before);
        return 0;
    }
    requireJSONRoundTrip(merged);
    require(read.size() <= merged.size(), "a merge keeps the entries it does not replace");
    requireJSONRoundTrip(read);
    merged.serialise("=", ";");
    return 0;
}
