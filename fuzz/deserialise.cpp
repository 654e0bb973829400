// SPDX-License-Identifier: MIT
// deSerialise with separators taken from the input: the first byte gives
// their lengths (one or two bytes each), the separators follow, then the text.

#include <cstddef>
#include <cstdint>

#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const std::size_t nameValueLength = 1 + (data[0] & 1);
    const std::size_t entryLength = 1 + ((data[0] >> 1) & 1);
    if (size < 1 + nameValueLength + entryLength) {
        return 0;
    }
    const char* bytes = reinterpret_cast<const char*>(data) + 1;
    const std::string nameValue(bytes, nameValueLength);
    const std::string entry(bytes + nameValueLength, entryLength);
    const std::size_t head = 1 + nameValueLength + entryLength;
    const std::string text(reinterpret_cast<const char*>(data) + head, size - head);

    CParameters merged;
    fill(merged);
    const std::string before = merged.serialiseAsJSON();
    if (!merged.deSerialise(text, nameValue, entry)) {
        requireUnchanged(merged, before);
        return 0;
    }
    requireJSONRoundTrip(merged);

    CParameters read;
    require(read.deSerialise(text, nameValue, entry), "text accepted by one container is accepted by another");
    if (nameValueLength == 1 && entryLength == 1) {
        CParameters reread;
        require(reread.deSerialise(read.serialise(nameValue, entry), nameValue, entry),
                "serialise output is read back");
        require(reread.serialiseAsJSON() == read.serialiseAsJSON(), "delimited round trip gives the same container");
    }
    return 0;
}
