// The JSON text form: what deSerialiseAsJSON accepts and how it reads it
// (tests/cases/json.txt, case by case, nesting included, with the fault it
// names), what serialiseAsJSON writes, and that neither depends on the
// global locale. Every rejected text must leave the container exactly as it
// was, compared through its JSON form.

#include <UnitTest++/UnitTest++.h>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <locale>
#include <stdexcept>
#include <string>

#include "CParameters.h"
#include "CaseFile.h"
#include "Samples.h"

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

SUITE(JsonReader)
{
    TEST(ReadsEveryByteOfNamesAndValuesBack)
    {
        CParameters source;
        fill(source);
        source.setParam(binary, binary.c_str());
        source.setParam("bytes", Json::Value(binary.data(), binary.data() + binary.size()));
        CParameters copy;
        CHECK(copy.deSerialiseAsJSON(source.serialiseAsJSON()));
        CHECK_EQUAL(binary, copy.getParamAsString("bytes", ""));
        CHECK_EQUAL(source.serialiseAsJSON(), copy.serialiseAsJSON());
    }

    TEST(ErrorRecordSaysWhereAndWhy)
    {
        CParameters parameters;
        CParameters::TextError error;
        CHECK(!parameters.deSerialiseAsJSON("\r\n\t{\"a\":tru}", error));
        CHECK_EQUAL(8u, error.offset);
        CHECK(parameters.deSerialiseAsJSON("{}", error));
        CHECK(error.reason.empty() && error.offset == 0 && error.line == 0 && error.column == 0);
    }
}

SUITE(JsonWriter)
{
    TEST(WritesShortestDoublesAndNullForNonFinite)
    {
        CParameters parameters;
        const double infinity = std::numeric_limits<double>::infinity();
        const double values[] = {0.1,
                                 100.0,
                                 -0.0,
                                 1e21,
                                 5e-324,
                                 1.7976931348623157e308,
                                 0.30000000000000004,
                                 1e-7,
                                 1e15,
                                 1373428634809579008.0,
                                 infinity,
                                 -infinity,
                                 std::nan("")};
        Json::Value array(Json::arrayValue);
        for (double value : values) {
            array.append(value);
        }
        parameters.setParam("d", array);
        CHECK_EQUAL("{\"d\":[0.1,100.0,-0.0,1e21,5e-324,1.7976931348623157e308,0.30000000000000004,1e-7,"
                    "1e15,1.373428634809579e18,null,null,null]}",
                    parameters.serialiseAsJSON());
        CParameters copy;
        CHECK(copy.deSerialiseAsJSON(parameters.serialiseAsJSON()));
        for (Json::ArrayIndex i = 0; i < 10; ++i) {
            CHECK(copy.getParam("d")[i] == array[i]);
        }
    }

    TEST(WritesNoCommentsAndEscapesOnlyWhatItMust)
    {
        Json::Value value("x\x01\x7f\xc3\xa9\xff");
        value.setComment(std::string("// a comment"), Json::commentBefore);
        value.setComment(std::string("// another"), Json::commentAfterOnSameLine);
        CParameters parameters;
        parameters.setParam("c", value);
        CHECK_EQUAL("{\"c\":\"x\\u0001\x7f\xc3\xa9\xff\"}", parameters.serialiseAsJSON());
    }
}

SUITE(JsonLocale)
{
    // A decimal-comma locale made by the test set-up (LOCPATH); where none
    // can be had the test says so and checks the "C" locale only.
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
            std::cout << "JsonLocale: no decimal-comma locale here; checked in the \"C\" locale only\n";
        }
        CParameters parameters;
        CHECK(parameters.deSerialiseAsJSON("{\"rate\":1.5,\"big\":1e300,\"n\":-12}"));
        CHECK_EQUAL("{\"big\":1e300,\"n\":-12,\"rate\":1.5}", parameters.serialiseAsJSON());
        CHECK_EQUAL("big=1e300;n=-12;rate=1.5", parameters.serialise("=", ";"));
        CHECK_EQUAL(1.5, parameters.getParam("rate").asDouble());
        std::locale::global(original);
    }
}
