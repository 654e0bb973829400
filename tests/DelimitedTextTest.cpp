// SPDX-License-Identifier: MIT
// The delimited text form: what serialise writes, what deSerialise reads
// (tests/cases/delimited.txt, case by case, with the fault it names). Every
// rejected text must leave the container exactly as it was, compared through
// its JSON form. The round trip the header promises is the fuzz target
// deserialise's, over its seeds; names of 2^30 bytes are JsonTextTest's.

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
}
