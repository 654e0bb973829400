// SPDX-License-Identifier: MIT
// Parameters in layers: the cases of cases/layers.txt, then the typed reads
// of the merged view and what a failed layer load leaves.

#include <UnitTest++/UnitTest++.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CaseFile.h"
#include "Layers.h"

namespace {

CParameters fromJSON(const std::string& text)
{
    CParameters values;
    CHECK(values.deSerialiseAsJSON(text));
    return values;
}

std::string json(const Json::Value& value)
{
    CParameters one;
    one.setParam("", value);
    const std::string text = one.serialiseAsJSON();
    return text.substr(4, text.size() - 5);
}

// The layers "LABEL=JSON LABEL=JSON ..." under the device layer, with
// "update LABEL=JSON" applied as a new firmware image would bring it.
CParameterLayers build(const std::string& layers, const std::string& device, const std::string& update)
{
    CParameterLayers result;
    std::istringstream words(layers);
    for (std::string word; words >> word;) {
        const std::string label = word.substr(0, word.find('='));
        const bool replaced = update.compare(0, label.size() + 1, label + "=") == 0;
        result.addLayer(label, fromJSON((replaced ? update : word).substr(label.size() + 1)));
    }
    result.append(fromJSON(device));
    return result;
}

} // namespace

SUITE(Layers)
{
    TEST(EveryCaseReadsAsTheCaseFileSays)
    {
        const int count = forEachCase(CPARAMETERS_CASES "/layers.txt", 8, [](const Case& c) {
            const std::string& operation = c[2];
            const std::string argument = operation.substr(std::min(operation.size(), operation.find(' ') + 1));
            CParameterLayers layers = build(c[0], c[1], operation.compare(0, 7, "update ") == 0 ? argument : "");
            if (operation.compare(0, 4, "set ") == 0) {
                layers.append(fromJSON(argument));
            } else if (operation.compare(0, 6, "reset ") == 0) {
                std::istringstream names(argument);
                for (std::string name; names >> name;) {
                    layers.reset(name);
                }
            } else if (operation == "reset-all") {
                layers.resetAll();
            }
            const std::string& name = c[3];
            checkCase(c, "value " + c[4], "value " + (layers.exists(name) ? json(layers.getParam(name)) : "-"));
            checkCase(c, "origin " + c[5], "origin " + (layers.exists(name) ? layers.origin(name) : "-"));
            checkCase(c, "device " + c[6], "device " + layers.device().serialiseAsJSON());
            checkCase(c, "changes " + c[7], "changes " + layers.changes().serialiseAsJSON());
            // Whatever the operation, the merged view is every layer's names,
            // each with its effective value.
            const CParameters merged = layers.merged();
            for (auto it = merged.begin(); it != merged.end(); ++it) {
                const std::string key = CParameters::getKey(it);
                checkCase(c, "merged " + key + " " + json(layers.getParam(key)), "merged " + key + " " + json(*it));
            }
        });
        CHECK(count >= 20);
    }

    TEST(TypedReadsSeeTheMergedView)
    {
        CParameterLayers layers("FILE");
        layers.addLayer("schema", fromJSON(R"({"port":"80","rate":0.5,"on":"false","big":4294967296})"));
        layers.addLayer("fw", fromJSON(R"({"port":8080,"name":"fw"})"));
        layers.setParam("on", Json::Value(true));
        CHECK_EQUAL(8080, layers.getParamAsInt("port", -1));
        CHECK_EQUAL(4294967296LL, static_cast<long long>(layers.getParamAsInt64("big", -1)));
        CHECK_EQUAL(-1, layers.getParamAsInt("big", -1));
        CHECK_EQUAL(0.5, layers.getParamAsDouble("rate", -1));
        CHECK(layers.getParamAsBool("on", false));
        CHECK_EQUAL("fw", layers.getParamAsString("name", "-"));
        CHECK_EQUAL("-", layers.getParamAsString("port", "-"));
        CHECK_EQUAL(-1, layers.getParamAsInt("absent", -1));
        CHECK_EQUAL("FILE", layers.origin("on"));
        CHECK_EQUAL("fw", layers.origin("port"));
        CHECK_EQUAL("", layers.origin("absent"));
        CHECK(!layers.reset("port")); // only in a read-only layer: nothing to take out
        CHECK_EQUAL("fw", layers.origin("port"));
    }

    TEST(AFileThatFailsToLoadAddsNoLayer)
    {
        CParameterLayers layers;
        CParameters::TextError error;
        CHECK(!layers.loadLayer("/nonexistent/defaults.json", error));
        CHECK_EQUAL(ENOENT, error.systemError);
        CHECK(!layers.loadDevice("/nonexistent/device.json", error));
        CHECK(layers.layers().empty());
        CHECK_EQUAL(0u, layers.merged().size());
    }

    // Each file checked where it is read, at its place, whether read whole
    // or for one name; the merged view's required names across layers.
    TEST(TheSchemaChecksEachLayerAndTheMergedView)
    {
        CParameterSchema schema;
        CParameters::TextError error;
        CHECK(schema.load(R"({"required":["a","b"],"properties":{"a":{"type":"integer","default":1},)"
                          R"("b":{"type":"integer"},"c":{"maximum":5}}})",
                          error));
        const char* const path = "LayersTest.defaults.json"; // in the build tree
        std::ofstream(path) << "{\"b\":2,\n \"c\":9}\n";
        for (const bool one : {false, true}) {
            CParameterLayers layers("FILE");
            layers.setSchema(schema);
            const std::string name = "a";
            CHECK(layers.loadLayer(path, error, one ? &name : nullptr));
            std::string found;
            for (const CParameterLayers::Violation& v : layers.check()) {
                found += v.origin + ":" + std::to_string(v.violation.line) + ":" + std::to_string(v.violation.column) +
                         ": " + v.violation.reason + ";";
            }
            CHECK_EQUAL(std::string(path) + ":2:6: c: 9 is above the maximum 5;", found);
            CHECK_EQUAL(1, layers.getParamAsInt("a", -1));
            CHECK_EQUAL("schema", layers.origin("a"));
            if (!one) { // with no layer that holds b, the merged view lacks it
                CParameterLayers bare("FILE");
                bare.setSchema(schema);
                CHECK_EQUAL(1u, bare.check().size());
                CHECK_EQUAL("FILE", bare.check().front().origin);
            }
        }
        std::remove(path);
    }
}
