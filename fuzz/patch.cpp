// SPDX-License-Identifier: MIT
// Patches on a filled container: the first byte's low bit picks a merge
// patch or a JSON Patch, the rest is the patch's text. A rejected patch
// leaves the container as it was; an applied one leaves a container that
// reads back through its JSON form (so no change nests too deep), that a
// merge patch applied again does not change (RFC 7396 patches are
// idempotent), and that a JSON Patch "test" of the whole document accepts.

#include <cstddef>
#include <cstdint>

#include "FuzzChecks.h"
#include "Patch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) {
        return 0;
    }
    const bool merge = (data[0] & 1) == 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

    CParameters parameters;
    fill(parameters);
    require(parameters.deSerialiseAsJSON(R"({"net":{"mtu":1500,"dns":["a","b"]},"list":[1,[2,{"x":null}]]})"),
            "the nested sample reads");
    const std::string before = parameters.serialiseAsJSON();
    CParameters::TextError error;
    const bool applied = merge ? CParameterPatch::mergePatchText(parameters, text, error)
                               : CParameterPatch::jsonPatchText(parameters, text, error);
    require(applied == error.reason.empty(), "a reason exactly for a rejection");
    if (!applied) {
        requireUnchanged(parameters, before);
        return 0;
    }
    requireJSONRoundTrip(parameters);
    const std::string after = parameters.serialiseAsJSON();
    if (merge) {
        require(CParameterPatch::mergePatchText(parameters, text, error), "a merge patch applies again");
        require(parameters.serialiseAsJSON() == after, "a merge patch applied twice changes nothing more");
    } else {
        Json::Value document;
        require(CParameterPatch::find(parameters, "", document), "the whole document is found");
        Json::Value test(Json::objectValue);
        test["op"] = "test";
        test["path"] = "";
        test["value"] = document;
        Json::Value patch(Json::arrayValue);
        patch.append(test);
        require(CParameterPatch::jsonPatch(parameters, patch, error), "the whole document tests equal to itself");
    }
    return 0;
}
