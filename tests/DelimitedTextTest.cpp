// The delimited text form: what serialise writes, what deSerialise reads
// (tests/cases/delimited.txt, case by case, with the fault it names), and
// the round trip that the header promises. Every rejected text must leave
// the container exactly as it was, compared through its JSON form.

#include <UnitTest++/UnitTest++.h>

#include <string>

#include "CParameters.h"
#include "CaseFile.h"
#include "Samples.h"

SUITE(Delimited)
{
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
