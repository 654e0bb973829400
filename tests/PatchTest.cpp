// SPDX-License-Identifier: MIT
// Pointers and patches (tests/cases/patch.txt, case by case: the RFCs'
// examples, then each operation's edges and rejections). Every rejected
// change must leave the container exactly as it was, compared through its
// JSON form.

#include <UnitTest++/UnitTest++.h>

#include <string>

#include "CParameters.h"
#include "CaseFile.h"
#include "Patch.h"

namespace {

// One JSON value read by the container's reader, as the member of an object.
Json::Value valueOf(const std::string& text)
{
    CParameters one;
    CHECK(one.deSerialiseAsJSON("{\"\":" + text + "}"));
    return one.getParam("");
}

std::string textOf(const Json::Value& value)
{
    CParameters one;
    one.setParam("", value);
    const std::string text = one.serialiseAsJSON();
    return text.substr(4, text.size() - 5);
}

// What a case's operation gives: "= " and the value found or the container
// afterwards, or "! " and why not.
std::string apply(const Case& c, CParameters& parameters)
{
    const std::string& kind = c[0];
    CParameters::TextError error;
    bool done = false;
    if (kind == "get") {
        Json::Value found;
        if (!CParameterPatch::checkPointer(c[2], error)) {
            return "! " + error.message();
        }
        const Json::Value fallback("fallback");
        const bool present = CParameterPatch::find(parameters, c[2], found);
        checkCase(c, present ? textOf(found) : "\"fallback\"",
                  textOf(CParameterPatch::get(parameters, c[2], fallback)));
        return present ? "= " + textOf(found) : "! absent";
    }
    if (kind == "set" || kind == "set+") {
        done = CParameterPatch::set(parameters, c[2], valueOf(c[3]), kind == "set+", error);
    } else if (kind == "remove") {
        done = CParameterPatch::remove(parameters, c[2], error);
    } else if (kind == "merge") {
        done = CParameterPatch::mergePatchText(parameters, c[3], error);
    } else if (kind == "json") {
        done = CParameterPatch::jsonPatchText(parameters, c[3], error);
    } else {
        return "unknown operation " + kind;
    }
    CHECK_EQUAL(done, error.reason.empty());
    return done ? "= " + parameters.serialiseAsJSON() : "! " + error.message();
}

} // namespace

SUITE(Patch)
{
    TEST(EveryCaseGivesWhatTheCaseFileSays)
    {
        CHECK(forEachCase(CPARAMETERS_CASES "/patch.txt", 5, [](const Case& c) {
                  CParameters parameters;
                  CHECK(parameters.deSerialiseAsJSON(c[1]));
                  const std::string before = parameters.serialiseAsJSON();
                  const std::string result = apply(c, parameters);
                  checkCase(c, c[4], result);
                  if (result[0] == '!') {
                      checkCase(c, "unchanged " + before, "unchanged " + parameters.serialiseAsJSON());
                  }
              }) > 100);
    }

    // The patch given as a value, not a text: the same operations, and a
    // change spread over many parameters undone whole by its last operation.
    TEST(PatchValuesApplyAsTheirTexts)
    {
        CParameters parameters;
        CHECK(parameters.deSerialiseAsJSON("{\"a\":1,\"b\":{\"c\":[1]}}"));
        CParameters::TextError error;
        CHECK(CParameterPatch::mergePatch(parameters, valueOf("{\"a\":null,\"b\":{\"d\":2}}"), error));
        CHECK_EQUAL("{\"b\":{\"c\":[1],\"d\":2}}", parameters.serialiseAsJSON());
        CHECK(!CParameterPatch::jsonPatch(parameters,
                                          valueOf("[{\"op\":\"add\",\"path\":\"/x\",\"value\":1},"
                                                  "{\"op\":\"remove\",\"path\":\"/b\"},"
                                                  "{\"op\":\"add\",\"path\":\"\",\"value\":{\"y\":2}},"
                                                  "{\"op\":\"test\",\"path\":\"/y\",\"value\":3}]"),
                                          error));
        CHECK_EQUAL("operation 3 (test): not the value at \"/y\"", error.message());
        CHECK_EQUAL("{\"b\":{\"c\":[1],\"d\":2}}", parameters.serialiseAsJSON());
        CHECK(CParameterPatch::jsonPatch(parameters,
                                         valueOf("[{\"op\":\"add\",\"path\":\"\",\"value\":{\"y\":2}},"
                                                 "{\"op\":\"copy\",\"from\":\"/y\",\"path\":\"/b\"}]"),
                                         error));
        CHECK_EQUAL("{\"b\":2,\"y\":2}", parameters.serialiseAsJSON());
        CHECK(error.reason.empty());
    }
}
