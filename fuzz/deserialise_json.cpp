// deSerialiseAsJSON on any text. Where nlohmann::json is at hand it serves as
// an independent strict parser: it must agree on every verdict but for the
// documented differences, and on every value read.

#include <cstddef>
#include <cstdint>

#include "FuzzChecks.h"

#ifdef CPARAMETERS_FUZZ_ORACLE
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

// The oracle's verdict, and the facts on which the container rules
// differently: the root, duplicate names and nesting.
struct Facts : json::json_sax_t {
    bool objectRoot = false;
    bool duplicates = false;
    int depth = 0;
    int deepest = 0;
    std::vector<std::set<std::string>> names;

    bool open()
    {
        deepest = std::max(deepest, ++depth);
        return true;
    }
    bool start_object(std::size_t) override
    {
        objectRoot = objectRoot || depth == 0;
        names.emplace_back();
        return open();
    }
    bool start_array(std::size_t) override { return open(); }
    bool end_object() override
    {
        names.pop_back();
        --depth;
        return true;
    }
    bool end_array() override
    {
        --depth;
        return true;
    }
    bool key(string_t& name) override
    {
        duplicates = duplicates || !names.back().insert(name).second;
        return true;
    }
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }
};

// Whether the oracle reads text, and what it learnt on the way.
bool judge(const std::string& text, Facts& facts) { return json::sax_parse(text, &facts); }

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
