// A million entries of mixed length, some of them non-ASCII, through both
// text forms and append; every entry is checked on the way back.

#include <UnitTest++/UnitTest++.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "CParameters.h"

namespace {

const std::size_t entryCount = 1000000;

// Deterministic on every platform: a fixed linear congruential sequence.
std::uint32_t next(std::uint64_t& state)
{
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<std::uint32_t>(state >> 33);
}

// Names and values of mixed length and script, made in name order (the
// zero-padded number leads). Names never hold '=' or ';', values never hold
// ';', so the delimited form with those separators reads back exactly.
std::vector<std::pair<std::string, std::string>> makeEntries()
{
    static const char* const pieces[] = {
        "alpha ", "Z:", "7.5", " ", "caf\xc3\xa9 ", "\xe6\x97\xa5\xe6\x9c\xac", "\xf0\x9f\x99\x82", "x=y"};
    std::uint64_t state = 1;
    std::vector<std::pair<std::string, std::string>> entries(entryCount);
    for (std::size_t i = 0; i < entryCount; ++i) {
        std::string& name = entries[i].first;
        std::string& value = entries[i].second;
        name = std::to_string(entryCount + i);
        name[0] = 'p';
        for (std::uint32_t n = next(state) % 5; n > 0; --n) {
            name += pieces[next(state) % 7];
        }
        for (std::uint32_t n = next(state) % 20; n > 0; --n) {
            value += pieces[next(state) % 8];
        }
    }
    return entries;
}

// Walks the container beside the entries sorted by name, which is the
// container's own order, so every entry is compared without a look-up.
bool holdsAll(const CParameters& parameters, const std::vector<std::pair<std::string, std::string>>& sorted)
{
    auto entry = sorted.begin();
    for (auto it = parameters.begin(); it != parameters.end(); ++it, ++entry) {
        const char* end = nullptr;
        const char* name = it.memberName(&end);
        if (entry == sorted.end() || entry->first.compare(0, std::string::npos, name, end - name) != 0 ||
            !it->isString() || it->asString() != entry->second) {
            return false;
        }
    }
    return entry == sorted.end();
}

} // namespace

SUITE(Stress)
{
    TEST(AMillionEntriesRoundTrip)
    {
        const auto entries = makeEntries();
        CParameters source;
        for (const auto& entry : entries) {
            source.setParam(entry.first, entry.second.c_str());
        }
        CHECK(holdsAll(source, entries));
        {
            CParameters delimited;
            CHECK(delimited.deSerialise(source.serialise("=", ";"), "=", ";"));
            CHECK(holdsAll(delimited, entries));
        }
        CParameters json;
        CHECK(json.deSerialiseAsJSON(source.serialiseAsJSON()));
        CHECK(holdsAll(json, entries));
        CParameters appended;
        appended.append(json);
        CHECK(holdsAll(appended, entries));
    }
}

int main() { return UnitTest::RunAllTests(); }
