// SPDX-License-Identifier: MIT
// The delimited text form: what serialise writes, what deSerialise reads
// (tests/cases/delimited.txt, case by case, with the fault it names), and
// the round trip that the header promises. Every rejected text must leave
// the container exactly as it was, compared through its JSON form.

#include <UnitTest++/UnitTest++.h>

#include <exception>
#include <iostream>
#include <string>

#include "CParameters.h"
#include "CaseFile.h"
#include "Samples.h"

SUITE(Delimited)
{
    // jsoncpp keeps a name's length in 30 bits: a name of 2^30 bytes would
    // be stored as "".
    TEST(NamesOfTwoToTheThirtyBytesAreNeverStored)
    {
        std::string text;
        if (!roomForHugeName(text, "Delimited")) {
            return;
        }
        text.assign(std::size_t(1) << 30, 'n');
        CParameters parameters;
        parameters.setParam(text, "x");
        parameters.setParam(text, Json::Value(1));
        CHECK(parameters.size() == 0 && !parameters.exists(text) && !parameters.exists(""));
        text += "=x;a=1";
        CParameters::TextError error;
        CHECK(!parameters.deSerialise(text, "=", ";", error));
        CHECK_EQUAL("line 1, column 1: entry 1 has a name too long", error.message());
        CHECK_EQUAL(0u, parameters.size());
    }

    TEST(SerialiseWritesEveryKindOfValue)
    {
        CParameters parameters;
        CHECK_EQUAL("", parameters.serialise("=", ";"));
        fill(parameters);
        parameters.setParam("null", Json::Value());
        parameters.setParam("real", Json::Value(1.5));
        CHECK_EQUAL("a=x;empty=;n=7;null=;obj={\"k\":[true]};real=1.5", parameters.serialise("=", ";"));
    }

    TEST(EveryCaseReadsAsTheCaseFileSays)
    {
        CHECK(forEachCase(CPARAMETERS_CASES "/delimited.txt", 4, [](const Case& c) {
                  checkReading(c, [&](CParameters& parameters, CParameters::TextError& error) {
                      return parameters.deSerialise(c[0], c[1], c[2], error);
                  });
              }) > 10);
    }

    TEST(RoundTripsWithSingleCharacterSeparators)
    {
        CParameters source;
        source.setParam("p1", "a:b c");
        source.setParam(std::string("p\0"
                                    "2",
                                    3),
                        "\xff\n");
        source.setParam("p3", "");
        CParameters copy;
        CHECK(copy.deSerialise(source.serialise(":", ","), ":", ","));
        CHECK_EQUAL(source.serialiseAsJSON(), copy.serialiseAsJSON());
    }
}
