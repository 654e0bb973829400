// The library contract, grouped by operation. Every rejected input must
// leave the container exactly as it was, compared through its JSON form.

#include <UnitTest++/UnitTest++.h>

#include <climits>
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

    TEST(MergesNestedValuesUpToTheDocumentedDepth)
    {
        std::string deepest = "{}";
        for (int level = 1; level < CParameters::maxJSONDepth; ++level) {
            deepest = "{\"k\":" + deepest + "}";
        }
        CParameters parameters;
        CHECK(parameters.deSerialiseAsJSON(R"({"a:b":"c\":d","e":[{"f":"\\"},{"f":":"}]})"));
        CHECK_EQUAL("c\":d", parameters.getParamAsString("a:b", ""));
        CHECK(parameters.deSerialiseAsJSON(deepest));
        CHECK(!parameters.deSerialiseAsJSON("{\"k\":" + deepest + "}"));
        CHECK(parameters.deSerialiseAsJSON(R"({"a:b":1})"));
        CHECK_EQUAL(1, parameters.getParamAsInt("a:b", 0));
        CHECK_EQUAL(3u, parameters.size());
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

SUITE(GetParamAsInt)
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
}

int main() { return UnitTest::RunAllTests(); }
