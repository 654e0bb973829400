// The library contract, grouped by operation. Every rejected input must
// leave the container exactly as it was, compared through its JSON form.

#include <UnitTest++/UnitTest++.h>

#include <cmath>
#include <cstdint>
#include <exception>
#include <iostream>
#include <new>
#include <sstream>
#include <string>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

#include "CParameters.h"
#include "CaseFile.h"

namespace {

// A container holding a text, an empty text, a number and an object.
void fill(CParameters& parameters)
{
    parameters.setParam("a", "x");
    parameters.setParam("empty", "");
    parameters.setParam("n", Json::Value(7));
    Json::Value object(Json::objectValue);
    object["k"][0] = true;
    parameters.setParam("obj", object);
}

const std::string binary("n\0ul \x01 \xff\xfe \xc3\xa9 \"\\/\r\n", 17);

} // namespace

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
        CHECK(forEachCase(CPARAMETERS_CASES "/delimited.txt", [](const std::vector<std::string>& c) {
                  CParameters parameters;
                  parameters.setParam("keep", "me");
                  CParameters::TextError error;
                  const bool read = parameters.deSerialise(c[0], c[1], c[2], error);
                  const std::string written = parameters.serialiseAsJSON();
                  CHECK_EQUAL(c[0] + " -> " + c[3], c[0] + " -> " + (read ? "= " + written : "! " + error.message()));
                  CHECK(read || written == "{\"keep\":\"me\"}");
              }) > 10);
    }

    // jsoncpp keeps a name's length in 30 bits: a name of 2^30 bytes would
    // be stored as "". Skipped under valgrind (slow) and where the 1 GiB
    // name cannot be had (no room, or strings that end before 2^30 bytes).
    TEST(NamesOfTwoToTheThirtyBytesAreNeverStored)
    {
        if (RUNNING_ON_VALGRIND) {
            return;
        }
        std::string text;
        try {
            text.reserve((std::size_t(1) << 30) + 8);
        } catch (const std::exception&) { // no memory, or longer than max_size()
            std::cout << "Delimited: no room for a 1 GiB name here; not checked\n";
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

SUITE(JSON)
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
        error.systemError = 5;
        CHECK(parameters.deSerialiseAsJSON("{}", error));
        CHECK(error.reason.empty() && error.offset == 0 && error.line == 0 && error.column == 0);
        CHECK_EQUAL(0, error.systemError);
    }

    // A program built against an older, shorter record: the library writes
    // nothing beyond the size it was given.
    TEST(ErrorRecordIsWrittenOnlyWithinItsSize)
    {
        CParameters parameters;
        CParameters::TextError error;
        error.size = static_cast<std::size_t>(reinterpret_cast<char*>(&error.line) - reinterpret_cast<char*>(&error));
        error.reason = "untouched";
        error.systemError = 5;
        CHECK(!parameters.deSerialiseAsJSON("{\n\"a\":tru}", error));
        CHECK_EQUAL(6u, error.offset);
        CHECK(error.line == 0 && error.column == 0 && error.reason == "untouched" && error.systemError == 5);
        CHECK(!parameters.deSerialise("a", "=", ";", error));
        CHECK(error.offset == 0 && error.line == 0 && error.reason == "untouched");
        error.size =
            static_cast<std::size_t>(reinterpret_cast<char*>(&error.systemError) - reinterpret_cast<char*>(&error));
        error.systemError = 5;
        CHECK(!parameters.deSerialiseAsJSON("{\n\"a\":tru}", error));
        CHECK_EQUAL("line 2, column 5: expected a value", error.message());
        CHECK_EQUAL(5, error.systemError);
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
        CHECK(forEachCase(CPARAMETERS_CASES "/typed-reads.txt", [](const std::vector<std::string>& c) {
                  CParameters parameters;
                  CHECK(parameters.deSerialiseAsJSON("{\"v\":" + c[0] + "}"));
                  const std::string read[] = {readAs(parameters, &CParameters::getParamAsInt, 99, -99),
                                              readAs<std::int64_t>(parameters, &CParameters::getParamAsInt64, 99, -99),
                                              readAs(parameters, &CParameters::getParamAsDouble, 7.5, -7.5),
                                              readAs(parameters, &CParameters::getParamAsBool, true, false)};
                  for (int i = 0; i < 4; ++i) {
                      CHECK_EQUAL(c[0] + " -> " + c[i + 1], c[0] + " -> " + read[i]);
                  }
              }) > 40);
        CParameters parameters;
        parameters.setParam("v", Json::Value(HUGE_VAL));
        CHECK_EQUAL("-", readAs(parameters, &CParameters::getParamAsDouble, 7.5, -7.5));
    }
}

int main() { return UnitTest::RunAllTests(); }
