// The library contract, grouped by operation. Every rejected input must
// leave the container exactly as it was, compared through its JSON form.

#include <UnitTest++/UnitTest++.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "CParameters.h"

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
        CHECK_EQUAL("{}", parameters.serialiseAsJSON());
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
        CHECK(parameters.exists(binary));
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
        CHECK(!parameters.removeParam(""));
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

    TEST(DeSerialiseMergesStringsAndSplitsAtTheFirstSeparator)
    {
        CParameters parameters;
        fill(parameters);
        CHECK(parameters.deSerialise(";;n=8;url=http://h:1=2;blank=;url=last;", "=", ";"));
        CHECK_EQUAL("8", parameters.getParamAsString("n", ""));
        CHECK_EQUAL("last", parameters.getParamAsString("url", ""));
        CHECK_EQUAL("", parameters.getParamAsString("blank", "dflt"));
        CHECK_EQUAL("x", parameters.getParamAsString("a", ""));
        CHECK(parameters.deSerialise("", "=", ";"));
        CHECK(parameters.deSerialise("k := v, w;; j := 2", " := ", ";; "));
        CHECK_EQUAL("v, w", parameters.getParamAsString("k", ""));
        CHECK_EQUAL(8, parameters.size());
    }

    TEST(RejectedTextChangesNothing)
    {
        // Equal separators reject even the empty text, which is otherwise read.
        const char* const cases[][3] = {{"a=1;b", "=", ";"}, {"a=1;=2", "=", ";"}, {"a=1", "", ";"},
                                        {"a=1", "=", ""},    {"", "=", "="},       {"a=1;;b;", "=", ";"}};
        for (const auto& bad : cases) {
            CParameters parameters;
            fill(parameters);
            const std::string before = parameters.serialiseAsJSON();
            CHECK(!parameters.deSerialise(bad[0], bad[1], bad[2]));
            CHECK_EQUAL(before, parameters.serialiseAsJSON());
        }
    }

    TEST(ErrorRecordSaysWhereAndWhy)
    {
        CParameters parameters;
        CParameters::TextError error;
        CHECK(!parameters.deSerialise("a=1;b=2\nc=3;d;e=5", "=", ";", error));
        CHECK_EQUAL("line 2, column 5: entry 3 has no \"=\" separator", error.message());
        CHECK_EQUAL(12u, error.offset);
        CHECK(!parameters.deSerialise(";;a=1;;=2", "=", ";", error));
        CHECK_EQUAL("line 1, column 8: entry 2 has an empty name", error.message());
        CHECK(!parameters.deSerialise("a=1", "=", "=", error));
        CHECK_EQUAL("equal separators", error.message());
        CHECK(!parameters.deSerialise("a=1", "", ";", error));
        CHECK_EQUAL(0u, error.line + error.column + error.offset);
        CHECK_EQUAL("empty separator", error.reason);
        CHECK(parameters.deSerialise("a=1", "=", ";", error));
        CHECK(error.reason.empty() && error.line == 0);
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
    TEST(WritesOneCompactLineAndReadsEveryByteBack)
    {
        CParameters source;
        fill(source);
        source.setParam("u", "\xc3\xa9t\xc3\xa9");
        CHECK_EQUAL("{\"a\":\"x\",\"empty\":\"\",\"n\":7,\"obj\":{\"k\":[true]},\"u\":\"\xc3\xa9t\xc3\xa9\"}",
                    source.serialiseAsJSON());
        source.setParam(binary, binary.c_str());
        source.setParam("bytes", Json::Value(binary.data(), binary.data() + binary.size()));
        CParameters copy;
        CHECK(copy.deSerialiseAsJSON(source.serialiseAsJSON()));
        CHECK_EQUAL(binary, copy.getParamAsString("bytes", ""));
        CHECK(copy.getParam("obj") == source.getParam("obj"));
        CHECK_EQUAL(source.serialiseAsJSON(), copy.serialiseAsJSON());
    }

    TEST(ErrorRecordSaysWhereAndWhy)
    {
        std::string deep(CParameters::maxJSONDepth + 1, '[');
        deep = "{\"k\":" + deep.substr(1);
        const struct {
            std::string text;
            const char* message;
        } cases[] = {{"{\n  \"host\": \"h\",\n  \"port\": 1, \"port\": 2}", "line 3, column 14: duplicate name \"port\""},
                     {"{\"a\":1/**/}", "line 1, column 7: comment"},
                     {"{\"a\":[1,]}", "line 1, column 9: trailing comma"},
                     {"{\"a\":01}", "line 1, column 6: leading zero"},
                     {"{\"a\":\"\\uD800\"}", "line 1, column 7: unpaired surrogate"},
                     {"{} x", "line 1, column 4: text after the root object"},
                     {"[]", "line 1, column 1: the root must be an object"},
                     {"{\"a\":", "line 1, column 6: unexpected end of text"},
                     {deep, "line 1, column 69: nesting deeper than 64 levels"}};
        for (const auto& c : cases) {
            CParameters parameters;
            CParameters::TextError error;
            CHECK(!parameters.deSerialiseAsJSON(c.text, error));
            CHECK_EQUAL(c.message, error.message());
        }
        CParameters parameters;
        CParameters::TextError error;
        CHECK(!parameters.deSerialiseAsJSON("\r\n\t{\"a\":tru}", error));
        CHECK_EQUAL(8u, error.offset);
        CHECK(parameters.deSerialiseAsJSON("{}", error));
        CHECK(error.reason.empty() && error.offset == 0 && error.line == 0 && error.column == 0);
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
    TEST(ReadsIntegersAndDecimalTextOnly)
    {
        CParameters parameters;
        CHECK(parameters.deSerialiseAsJSON(
            R"({"i":-12,"r":3.0,"e":1E+2,"m":-0.5e-3,"q":"\"1-","big":2147483648,"frac":1.5,"b":true,"z":null,"arr":[1],"o":{},)"
            R"("s":"8080","neg":"-2147483648","plus":"+7","over":"2147483648","junk":"12abc",)"
            R"("space":" 5","empty":"","signs":"+-5","sign":"-"})"));
        const struct {
            const char* name;
            int expected;
        } cases[] = {{"i", -12},       {"e", 100},   {"m", 99},     {"q", 99},    {"r", 3},      {"big", 99},
                     {"frac", 99},     {"b", 99},    {"z", 99},     {"arr", 99},  {"o", 99},     {"s", 8080},
                     {"neg", INT_MIN}, {"plus", 7},  {"over", 99},  {"junk", 99}, {"space", 99}, {"empty", 99},
                     {"signs", 99},    {"sign", 99}, {"absent", 99}};
        for (const auto& c : cases) {
            CHECK_EQUAL(c.expected, parameters.getParamAsInt(c.name, 99));
        }
    }

    TEST(Int64ReadsTheWholeRange)
    {
        CParameters parameters;
        CHECK(parameters.deSerialiseAsJSON(
            R"({"min":-9223372036854775808,"max":9223372036854775807,"over":9223372036854775808,"r":-4.0,)"
            R"("s":"-9223372036854775808","plus":"+12","sover":"9223372036854775808","frac":"1.5","b":true})"));
        const struct {
            const char* name;
            std::int64_t expected;
        } cases[] = {{"min", INT64_MIN}, {"max", INT64_MAX}, {"over", 99}, {"r", -4},      {"s", INT64_MIN},
                     {"plus", 12},       {"sover", 99},      {"frac", 99}, {"b", 99},      {"absent", 99}};
        for (const auto& c : cases) {
            CHECK_EQUAL(c.expected, parameters.getParamAsInt64(c.name, 99));
        }
    }

    TEST(DoubleReadsNumbersAndExactNumberText)
    {
        CParameters parameters;
        CHECK(parameters.deSerialiseAsJSON(
            R"({"i":-3,"u":18446744073709551615,"r":0.1,"s":"2.5e-3","si":"42","neg":"-0.0","inf":"1e400",)"
            R"("space":" 1","comma":"1,5","plus":"+1","hex":"0x10","nan":"NaN","b":false,"o":{}})"));
        parameters.setParam("stored inf", Json::Value(HUGE_VAL));
        const struct {
            const char* name;
            double expected;
        } cases[] = {{"i", -3},      {"u", 18446744073709551615.0}, {"r", 0.1},      {"s", 2.5e-3},
                     {"si", 42},     {"neg", -0.0},                 {"inf", 7.5},    {"space", 7.5},
                     {"comma", 7.5}, {"plus", 7.5},                 {"hex", 7.5},    {"nan", 7.5},
                     {"b", 7.5},     {"o", 7.5},                    {"absent", 7.5}, {"stored inf", 7.5}};
        for (const auto& c : cases) {
            CHECK_EQUAL(c.expected, parameters.getParamAsDouble(c.name, 7.5));
        }
    }

    TEST(BoolReadsBooleansAndExactWords)
    {
        CParameters parameters;
        CHECK(parameters.deSerialiseAsJSON(
            R"({"t":true,"f":false,"st":"true","sf":"false","caps":"True","one":1,"yes":"yes","pad":"true ","z":null})"));
        const struct {
            const char* name;
            bool expected;
        } cases[] = {{"t", true},    {"f", false},  {"st", true},  {"sf", false}, {"caps", true},
                     {"one", true},  {"yes", true}, {"pad", true}, {"z", true},   {"absent", true}};
        for (const auto& c : cases) {
            CHECK_EQUAL(c.expected, parameters.getParamAsBool(c.name, true));
        }
        CHECK(!parameters.getParamAsBool("caps", false) && parameters.getParamAsBool("st", false));
    }
}

int main() { return UnitTest::RunAllTests(); }
