// deSerialiseAsJSON on any text.

#include <cstddef>
#include <cstdint>

#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CParameters merged;
    fill(merged);
    const std::string before = merged.serialiseAsJSON();
    if (!merged.deSerialiseAsJSON(text)) {
        requireUnchanged(merged, before);
        return 0;
    }
    requireJSONRoundTrip(merged);
    CParameters read;
    require(read.deSerialiseAsJSON(text), "text accepted by one container is accepted by another");
    require(read.size() <= merged.size(), "a merge keeps the entries it does not replace");
    requireJSONRoundTrip(read);
    merged.serialise("=", ";");
    return 0;
}
