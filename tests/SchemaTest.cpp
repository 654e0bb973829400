// SPDX-License-Identifier: MIT
// Declared parameters: every keyword from cases/schema.txt, then what the
// case file cannot show: places in a checked text, checked writes leaving
// the container as it was, defaults, readOnly, a schema of 300 parameters.

#include <UnitTest++/UnitTest++.h>

#include <string>
#include <vector>

#include "CParameters.h"
#include "CaseFile.h"
#include "Schema.h"

namespace {

using Violations = std::vector<CParameterSchema::Violation>;

std::string joined(const Violations& violations)
{
    std::string text;
    for (const CParameterSchema::Violation& v : violations) {
        text += (text.empty() ? "" : " | ") + v.keyword + "@" + v.pointer + " " + v.reason;
    }
    return text;
}

CParameterSchema schemaOf(const std::string& text)
{
    CParameterSchema schema;
    CParameters::TextError error;
    CHECK_EQUAL("", error.reason);
    CHECK(schema.load(text, error));
    CHECK_EQUAL("", error.reason);
    return schema;
}

const char* const device = R"({ "$schema": "https://json-schema.org/draft/2020-12/schema",
  "type": "object",
  "properties": {
    "port":   { "type": "integer", "minimum": 1, "maximum": 65535, "default": 8080, "description": "HTTP port" },
    "mode":   { "enum": ["ap", "station"], "default": "station" },
    "serial": { "type": "string", "readOnly": true } },
  "additionalProperties": false })";

} // namespace

SUITE(SchemaCases)
{
    TEST(EveryCaseChecksAsTheCaseFileSays)
    {
        const int count = forEachCase(CPARAMETERS_CASES "/schema.txt", 4, [](const Case& c) {
            CParameterSchema schema;
            CParameters::TextError error;
            if (!schema.load(c[0], error)) {
                checkCase(c, c[2] + " " + c[3], "rejected " + error.message());
                return;
            }
            CParameters wrapper; // the instance read as the container reads values
            CHECK(wrapper.deSerialiseAsJSON("{\"v\":" + c[1] + "}"));
            const Violations found = schema.checkValue(wrapper.getParam("v"));
            const std::string verdict = c[2].substr(0, c[2].find('*'));
            checkCase(c, verdict + " " + c[3], (found.empty() ? "valid -" : "invalid " + joined(found)));
        });
        CHECK(count > 150);
    }
}

SUITE(SchemaChecks)
{
    TEST(ViolationsOfATextArePlacedAtTheirValues)
    {
        const CParameterSchema schema = schemaOf(device);
        Violations found;
        CParameters::TextError error;
        CHECK(schema.checkJSON("{\"mode\": \"x\",\n \"extra\": [1],\n \"port\": 70000}", found, error));
        CHECK_EQUAL("additionalProperties@/extra extra: not allowed | enum@/mode mode: \"x\" is not one of \"ap\", "
                    "\"station\" | maximum@/port port: 70000 is above the maximum 65535",
                    joined(found));
        REQUIRE CHECK_EQUAL(3u, found.size());
        CHECK_EQUAL("extra 2:2 mode 1:10 port 3:10",
                    found[0].name + " " + std::to_string(found[0].line) + ":" + std::to_string(found[0].column) + " " +
                        found[1].name + " " + std::to_string(found[1].line) + ":" + std::to_string(found[1].column) +
                        " " + found[2].name + " " + std::to_string(found[2].line) + ":" +
                        std::to_string(found[2].column));

        const CParameterSchema nested =
            schemaOf(R"({"required":["a"],"properties":{"n":{"items":{"required":["b"]}}}})");
        CHECK(nested.checkJSON("{\"n\": [{}, {\"b\":1},\n  {} ]}", found, error));
        REQUIRE CHECK_EQUAL(3u, found.size());
        CHECK_EQUAL("/n/0 1:8 /n/2 2:3  1:1",
                    found[0].pointer + " " + std::to_string(found[0].line) + ":" + std::to_string(found[0].column) +
                        " " + found[1].pointer + " " + std::to_string(found[1].line) + ":" +
                        std::to_string(found[1].column) + " " + found[2].pointer + " " + std::to_string(found[2].line) +
                        ":" + std::to_string(found[2].column));
        CHECK(!nested.checkJSON("{\"n\": 01}", found, error));
        CHECK_EQUAL("line 1, column 7: leading zero", error.message());
    }

    TEST(AContainerIsCheckedWholeAndDefaultsAndReadOnlyAreRead)
    {
        const CParameterSchema schema = schemaOf(device);
        CParameters parameters;
        parameters.setParam("port", Json::Value(0));
        parameters.setParam("zz", "x");
        CHECK_EQUAL("minimum@/port port: 0 is below the minimum 1 | additionalProperties@/zz zz: not allowed",
                    joined(schema.check(parameters)));
        CHECK_EQUAL("{\"mode\":\"station\",\"port\":8080}", schema.defaults().serialiseAsJSON());
        CHECK(schema.readOnly("serial") && !schema.readOnly("port") && !schema.readOnly("nothing"));
        CHECK(CParameterSchema().check(parameters).empty());
        CHECK_EQUAL("{}", CParameterSchema().defaults().serialiseAsJSON());
    }

    TEST(ARejectedSchemaLeavesTheOldOne)
    {
        CParameterSchema schema = schemaOf(device);
        CParameters::TextError error;
        CHECK(!schema.load("{\"properties\":{\"port\":{\"pattern\":\"x\"}}}", error));
        CHECK_EQUAL("line 1, column 24: unsupported keyword \"pattern\"", error.message());
        CHECK_EQUAL(8080, schema.defaults().getParamAsInt("port", 0));
        CHECK(!schema.loadFile("/nonexistent/schema.json", error));
        CHECK_EQUAL("open: No such file or directory", error.message());
        CHECK(!schema.loadFile("/", error));
        CHECK_EQUAL("open: not a regular file but a directory", error.message());
        CHECK_EQUAL(8080, schema.defaults().getParamAsInt("port", 0));
    }

    TEST(AWideSchemaChecksEveryParameter)
    {
        std::string text = "{\"type\":\"object\",\"additionalProperties\":false,\"properties\":{";
        CParameters parameters;
        for (int i = 0; i < 300; ++i) {
            const std::string name = "p" + std::to_string(i);
            text += (i ? "," : "") + ("\"" + name + "\":{\"type\":\"integer\",\"minimum\":" + std::to_string(i) +
                                      ",\"default\":" + std::to_string(i) + "}");
            parameters.setParam(name, Json::Value(i % 100 == 7 ? i - 1 : i));
        }
        const CParameterSchema schema = schemaOf(text + "}}");
        CHECK_EQUAL("minimum@/p107 p107: 106 is below the minimum 107 | minimum@/p207 p207: 206 is below the minimum "
                    "207 | minimum@/p7 p7: 6 is below the minimum 7",
                    joined(schema.check(parameters)));
        CHECK_EQUAL(300u, schema.defaults().size());
        CHECK_EQUAL(299, schema.defaults().getParamAsInt("p299", 0));
    }
}

SUITE(CheckedWrites)
{
    TEST(AViolatingWriteChangesNothing)
    {
        const CParameterSchema schema = schemaOf(device);
        CParameters parameters;
        parameters.setParam("mode", "ap");
        const std::string before = parameters.serialiseAsJSON();
        Violations found;
        CParameters::TextError error;

        CHECK(!schema.setParam(parameters, "port", Json::Value(70000), found));
        CHECK_EQUAL("maximum@/port port: 70000 is above the maximum 65535", joined(found));
        CHECK(!schema.setParam(parameters, "port", "80", found));
        CHECK_EQUAL("type@/port port: \"80\" is not of type integer", joined(found));
        CHECK(!schema.setParam(parameters, "other", Json::Value(1), found));
        CHECK_EQUAL("additionalProperties@/other other: not allowed", joined(found));
        CHECK(!schema.deSerialiseAsJSON(parameters, "{\"port\":80,\"mode\":\"x\",\"q\":1}", error, found));
        CHECK_EQUAL("enum@/mode mode: \"x\" is not one of \"ap\", \"station\" | additionalProperties@/q q: not allowed",
                    joined(found));
        CHECK(!schema.deSerialise(parameters, "mode=x;serial=s", "=", ";", error, found));
        CHECK_EQUAL(1u, found.size());
        CHECK(!schema.deSerialise(parameters, "mode", "=", ";", error, found));
        CHECK_EQUAL("line 1, column 1: entry 1 has no \"=\" separator", error.message());
        CHECK(found.empty());
        CParameters other;
        other.setParam("port", Json::Value(1.5));
        CHECK(!schema.append(parameters, other, found));
        CHECK_EQUAL("type@/port port: 1.5 is not of type integer", joined(found));
        CHECK(!schema.loadJSONFile(parameters, "/nonexistent", error, found));
        CHECK_EQUAL(before, parameters.serialiseAsJSON());
    }

    TEST(AConformingWriteIsMade)
    {
        const CParameterSchema schema = schemaOf(device);
        CParameters parameters;
        Violations found;
        CParameters::TextError error;
        CHECK(schema.setParam(parameters, "port", Json::Value(80.0), found));
        CHECK(schema.setParam(parameters, "mode", "ap", found));
        CHECK(schema.deSerialise(parameters, "serial=A1", "=", ";", error, found));
        CHECK(schema.deSerialiseAsJSON(parameters, "{\"port\":443}", error, found));
        CHECK(found.empty() && error.reason.empty());
        CHECK_EQUAL("{\"mode\":\"ap\",\"port\":443,\"serial\":\"A1\"}", parameters.serialiseAsJSON());
        CHECK(!schema.setParam(parameters, "mode", static_cast<const char*>(nullptr), found));
        CHECK(schema.check(parameters).empty());
    }
}
