// SPDX-License-Identifier: MIT
// The JSON text form: what deSerialiseAsJSON accepts and how it reads it
// (tests/cases/json.txt, case by case, nesting included, with the fault it
// names), what serialiseAsJSON writes, and that neither depends on the
// global locale. Every rejected text must leave the container exactly as it
// was, compared through its JSON form.

#include <UnitTest++/UnitTest++.h>

#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <locale>
#include <new>
#include <stdexcept>
#include <string>

#include "CParameters.h"
#include "CaseFile.h"
#include "TestMain.h"

SUITE(JsonGrammar)
{
    TEST(EveryCaseReadsAsTheCaseFileSays)
    {
        CHECK(forEachCase(CPARAMETERS_CASES "/json.txt", 2, [](const Case& c) {
                  checkReading(c, [&](CParameters& parameters, CParameters::TextError& error) {
                      return parameters.deSerialiseAsJSON(c[0], error);
                  });
              }) > 100);
    }
}

SUITE(JsonLimits)
{
    std::string readAsJSON(const std::string& text)
    {
        CParameters parameters;
        CParameters::TextError error;
        return parameters.deSerialiseAsJSON(text, error) ? parameters.serialiseAsJSON() : error.message();
    }

    // Literals longer than any fixed bound on their exponent: the verdict
    // comes from the value, not from where a count stopped.
    TEST(NumberVerdictsHoldWhateverTheLiteralsLength)
    {
        const std::string zeros(100000, '0');
        CHECK_EQUAL("line 1, column 6: number out of range", readAsJSON("{\"v\":0." + zeros + "1e100400}"));
        CHECK_EQUAL("{\"v\":1e299}", readAsJSON("{\"v\":0." + zeros + "1e100300}"));
        CHECK_EQUAL("{\"v\":0.0}", readAsJSON("{\"v\":1" + zeros + "e-100400}"));
        CHECK_EQUAL("{\"v\":1e-300}", readAsJSON("{\"v\":1" + zeros + "e-100300}"));
        CHECK_EQUAL("line 1, column 6: number out of range", readAsJSON("{\"v\":1" + zeros + "}"));
        CHECK_EQUAL("{\"v\":-0.0}", readAsJSON("{\"v\":-1e-1" + zeros + "}"));
        CHECK_EQUAL("line 1, column 6: number out of range", readAsJSON("{\"v\":0.1e1" + zeros + "}"));
    }
}

// jsoncpp keeps a name's length in 30 bits: a name of 2^30 bytes would be
// stored as "". The one name of that length, made once, goes in every way
// there is; a byte shorter, it is the longest name stored. Where there is no
// room for it (32-bit strings end below 2^30 bytes) the test skips.
SUITE(HugeNames)
{
    TEST(NamesOfTwoToTheThirtyBytesAreNeverStored)
    {
        const std::size_t length = std::size_t(1) << 30;
        std::string text;
        try {
            text.reserve(length + 16);
        } catch (const std::exception&) { // no memory, or longer than max_size()
            skipTest("no room for a name of 2^30 bytes here");
            return;
        }
        text.assign(length, 'n');
        CParameters parameters;
        parameters.setParam("", "empty");
        parameters.setParam(text, "x");
        parameters.setParam(text, Json::Value(1));
        CHECK_EQUAL("{\"\":\"empty\"}", parameters.serialiseAsJSON());
        CParameters::TextError error;
        text += "=x;a=1";
        CHECK(!parameters.deSerialise(text, "=", ";", error));
        CHECK_EQUAL("line 1, column 1: entry 1 has a name too long", error.message());
        text.replace(length, std::string::npos, "\":2}").insert(0, "{\"a\":1,\"");
        CHECK(!parameters.deSerialiseAsJSON(text, error));
        CHECK_EQUAL("line 1, column 8: name too long", error.message());
        CHECK_EQUAL("{\"\":\"empty\"}", parameters.serialiseAsJSON());
        text.replace(text.size() - 5, 1, "\":3,\""); // one byte shorter: the longest name
        try {
            const bool read = parameters.deSerialiseAsJSON(text, error); // outside CHECK, which catches
            CHECK(read);
            CHECK_EQUAL(3u, parameters.size());
            CHECK_EQUAL(length - 1, CParameters::getKey(--parameters.end()).size());
        } catch (const std::bad_alloc&) {
            skipTest("no room to store a name of 2^30 - 1 bytes here");
        }
    }
}

SUITE(JsonWriter)
{
    // Strings are scanned many bytes at a time, in blocks that overlap at
    // the end: each byte that needs an escape must be found at every place
    // in strings of every length, by the writer and by the reader.
    TEST(EscapesAtEveryPlaceOfEveryLength)
    {
        for (std::size_t length = 1; length <= 40; ++length) {
            for (std::size_t at = 0; at < length; ++at) {
                for (const char* escape : {"\\\"", "\\\\", "\\n", "\\u001f"}) {
                    std::string text(length, '\xe9');
                    text[at] = escape[1] == 'u' ? '\x1f' : escape[1] == 'n' ? '\n' : escape[1];
                    const std::string json = "{\"" + text.substr(0, at) + escape + text.substr(at + 1) + "\":\"" +
                                             text.substr(0, at) + escape + text.substr(at + 1) + "\"}";
                    CParameters parameters;
                    parameters.setParam(text, text.c_str());
                    CHECK_EQUAL(json, parameters.serialiseAsJSON());
                    CParameters copy;
                    CHECK(copy.deSerialiseAsJSON(json));
                    CHECK_EQUAL(text, copy.getParamAsString(text, ""));
                }
            }
        }
    }

    // Finite doubles are written shortest (tests/cases/json.txt); JSON has
    // no word for the others.
    TEST(WritesPlainJSONOnly)
    {
        Json::Value value("x\x01\x7f\xc3\xa9\xff");
        value.setComment(std::string("// a comment"), Json::commentBefore);
        value.setComment(std::string("// another"), Json::commentAfterOnSameLine);
        CParameters parameters;
        parameters.setParam("c", value);
        for (const double number : {HUGE_VAL, -HUGE_VAL, std::nan("")}) {
            parameters.setParam("d", Json::Value(number));
            CHECK_EQUAL("{\"c\":\"x\\u0001\x7f\xc3\xa9\xff\",\"d\":null}", parameters.serialiseAsJSON());
        }
    }
}

SUITE(JsonLocale)
{
    // A decimal-comma locale made by the test set-up (LOCPATH); where none
    // can be had (a cross build's C library may have no such locale), the
    // test skips.
    TEST(NumbersIgnoreTheGlobalLocale)
    {
        const std::locale original;
        bool decimalComma = false;
        try {
            std::locale::global(std::locale("de_DE.UTF-8"));
            char formatted[16];
            std::snprintf(formatted, sizeof formatted, "%.1f", 1.5);
            decimalComma = std::string(formatted) == "1,5";
        } catch (const std::runtime_error&) {
        }
        if (!decimalComma) {
            std::locale::global(original);
            skipTest("no decimal-comma locale here (de_DE.UTF-8)");
            return;
        }
        CParameters parameters;
        CHECK(parameters.deSerialiseAsJSON("{\"rate\":1.5,\"big\":1e300,\"n\":-12}"));
        CHECK_EQUAL("{\"big\":1e300,\"n\":-12,\"rate\":1.5}", parameters.serialiseAsJSON());
        CHECK_EQUAL("big=1e300;n=-12;rate=1.5", parameters.serialise("=", ";"));
        CHECK_EQUAL(1.5, parameters.getParam("rate").asDouble());
        std::locale::global(original);
    }
}
