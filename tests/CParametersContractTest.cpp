// SPDX-License-Identifier: MIT
// The container's operations, grouped by operation; its two text forms have
// test programs of their own (DelimitedTextTest, JsonTextTest).

#include <UnitTest++/UnitTest++.h>

#include <cmath>
#include <cstdint>
#include <exception>
#include <iostream>
#include <new>
#include <sstream>
#include <string>

#include "CParameters.h"
#include "CaseFile.h"
#include "Samples.h"

SUITE(HeaderOperations)
{
    TEST(ReadsNeverInsertAndAnswerDefaults)
    {
        CParameters parameters;
        CHECK_EQUAL("dflt", parameters.getParamAsString("p", "dflt"));
        CHECK(parameters.getParam("p").isNull());
        CHECK(!parameters.exists("p"));
        CHECK_EQUAL(-1, parameters.getParamAsInt("p", -1));
        CHECK(parameters.find("p") == parameters.end());
        CHECK_EQUAL(0u, parameters.size());
    }

    TEST(StoresTextsAndCopiesOfValues)
    {
        CParameters parameters;
        fill(parameters);
        parameters.setParam("a", "y");
        parameters.setParam("b", nullptr);
        parameters.setParam("null", Json::Value());
        CHECK_EQUAL(5u, parameters.size());
        CHECK(parameters.exists("null"));
        CHECK_EQUAL("y", parameters.getParamAsString("a", ""));
        CHECK_EQUAL("", parameters.getParamAsString("empty", "dflt"));
        CHECK_EQUAL("dflt", parameters.getParamAsString("n", "dflt"));
        CHECK(!parameters.exists("A") && !parameters.exists("b"));

        Json::Value value(Json::arrayValue);
        value.append(1);
        parameters.setParam(binary, value);
        value.append(2);
        CHECK_EQUAL(1u, parameters.getParam(binary).size());
    }

    TEST(RemoveErasesOneEntryAndKeepsOtherIterators)
    {
        CParameters parameters;
        fill(parameters);
        const Json::Value::const_iterator a = parameters.find("a");
        const Json::Value::const_iterator obj = parameters.find("obj");
        CHECK(parameters.removeParam("n"));
        CHECK(!parameters.removeParam("n"));
        CHECK(!parameters.removeParam("N"));
        CHECK(!parameters.exists("n"));
        CHECK_EQUAL(3u, parameters.size());
        CHECK_EQUAL("a", CParameters::getKey(a));
        CHECK(obj->isObject());
        CHECK(++Json::Value::const_iterator(parameters.find("empty")) == obj);
    }

    TEST(IteratorsGiveNameAndText)
    {
        CParameters parameters;
        fill(parameters);
        CHECK_EQUAL("n", CParameters::getKey(parameters.find("n")));
        CHECK_EQUAL("", CParameters::getValueAsString(parameters.find("n")));
        CHECK_EQUAL("x", CParameters::getValueAsString(parameters.find("a")));
        CHECK(parameters.find("a") == parameters.begin());
        CHECK(parameters.find("b") == parameters.end());
    }
}

SUITE(ErrorRecord)
{
    TEST(SaysWhereAndWhyAndIsClearedOnSuccess)
    {
        CParameters parameters;
        CParameters::TextError error;
        CHECK(!parameters.deSerialiseAsJSON("\r\n\t{\"a\":tru}", error));
        CHECK_EQUAL(8u, error.offset);
        CHECK_EQUAL("line 2, column 7: expected a value", error.message());
        error.systemError = 5;
        CHECK(parameters.deSerialiseAsJSON("{}", error));
        CHECK(error.reason.empty() && error.offset == 0 && error.line == 0 && error.column == 0);
        CHECK_EQUAL(0, error.systemError);
    }

    // A program built against an older, shorter record (one that ends
    // before line, or before systemError as in 0.2): the library writes
    // nothing beyond the size it was given, for text and file faults alike.
    TEST(IsWrittenOnlyWithinItsSize)
    {
        CParameters parameters;
        CParameters::TextError error;
        const auto sizeUpTo = [&](const void* member) {
            return static_cast<std::size_t>(static_cast<const char*>(member) - reinterpret_cast<char*>(&error));
        };
        error.size = sizeUpTo(&error.line);
        error.reason = "untouched";
        error.systemError = 5;
        CHECK(!parameters.deSerialiseAsJSON("{\n\"a\":tru}", error));
        CHECK(error.offset == 6 && error.line == 0 && error.column == 0 && error.reason == "untouched");
        CHECK(!parameters.deSerialise("a", "=", ";", error));
        CHECK(error.offset == 0 && error.line == 0 && error.reason == "untouched");
        error.size = sizeUpTo(&error.systemError);
        CHECK(!parameters.deSerialiseAsJSON("{\n\"a\":tru}", error));
        CHECK_EQUAL("line 2, column 5: expected a value", error.message());
        CHECK(!parameters.loadJSONFile("no such folder/file", error));
        CHECK_EQUAL("open: No such file or directory", error.reason);
        CHECK_EQUAL(5, error.systemError);
    }
}

SUITE(Append)
{
    TEST(OtherWinsAndIsCopiedDeeply)
    {
        CParameters receiver;
        CParameters other;
        fill(receiver);
        other.setParam("a", "new");
        other.setParam("arr", Json::Value(Json::arrayValue));
        receiver.append(other);
        other.setParam("arr", "changed");
        CHECK_EQUAL(5u, receiver.size());
        CHECK_EQUAL("new", receiver.getParamAsString("a", ""));
        CHECK(receiver.getParam("arr").isArray());

        const std::string before = receiver.serialiseAsJSON();
        receiver.append(receiver);
        CHECK_EQUAL(before, receiver.serialiseAsJSON());
    }
}

SUITE(TypedReads)
{
    // Each read with two defaults, so that a default given back is told
    // from a value read.
    template <typename T>
    std::string readAs(const CParameters& parameters, T (CParameters::*read)(const std::string&, T) const, T one,
                       T other)
    {
        const T value = (parameters.*read)("v", one);
        if (value == one && (parameters.*read)("v", other) == other) {
            return "-";
        }
        std::ostringstream text;
        text.precision(17);
        text << std::boolalpha << value;
        return text.str();
    }

    TEST(EveryValueReadsAsTheCaseFileSays)
    {
        CHECK(forEachCase(CPARAMETERS_CASES "/typed-reads.txt", 5, [](const Case& c) {
                  CParameters parameters;
                  CHECK(parameters.deSerialiseAsJSON("{\"v\":" + c[0] + "}"));
                  const std::string read[] = {readAs(parameters, &CParameters::getParamAsInt, 99, -99),
                                              readAs<std::int64_t>(parameters, &CParameters::getParamAsInt64, 99, -99),
                                              readAs(parameters, &CParameters::getParamAsDouble, 7.5, -7.5),
                                              readAs(parameters, &CParameters::getParamAsBool, true, false)};
                  const char* const names[] = {"getParamAsInt ", "getParamAsInt64 ", "getParamAsDouble ",
                                               "getParamAsBool "};
                  for (int i = 0; i < 4; ++i) {
                      checkCase(c, names[i] + c[i + 1], names[i] + read[i]);
                  }
              }) > 40);
        CParameters parameters;
        parameters.setParam("v", Json::Value(HUGE_VAL));
        CHECK_EQUAL("-", readAs(parameters, &CParameters::getParamAsDouble, 7.5, -7.5));
    }
}

SUITE(Print)
{
    // Names are written as they are but for control characters, escaped as
    // in JSON strings, so that each entry is one line.
    TEST(OneLinePerEntryWhateverTheName)
    {
        CParameters parameters;
        parameters.setParam("two\nlines", "x");
        parameters.setParam(std::string("nul\0\x1f\t\r", 7), "y");
        parameters.setParam("quote\"back\\slash \xc3\xa9", Json::Value(1));
        std::ostringstream output;
        std::streambuf* const saved = std::cout.rdbuf(output.rdbuf());
        parameters.print();
        std::cout.rdbuf(saved);
        CHECK_EQUAL("nul\\u0000\\u001f\\t\\r = \"y\"\n"
                    "quote\"back\\slash \xc3\xa9 = 1\n"
                    "two\\nlines = \"x\"\n",
                    output.str());
    }
}
