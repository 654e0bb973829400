// SPDX-License-Identifier: MIT
// What a schema check costs beside a load: bench/SchemaBench ENTRIES MODE
// loads a 10,000-property schema (each property a string of 1 to 100
// characters, no other member allowed) and, by MODE, nothing more ("schema"),
// a container of ENTRIES such strings from its JSON text ("load"), or that
// and a check of it ("check"). Run under callgrind, the differences of the
// three counts are the load's and the check's instructions (bench/README.md).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CParameters.h"
#include "Schema.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: SchemaBench ENTRIES schema|load|check\n");
        return 2;
    }
    const int entries = std::atoi(argv[1]);
    const std::string mode = argv[2];
    // Names param<i>, texts of 5 to 100 characters, as the other benchmarks have them.
    std::string schemaText = "{\"type\":\"object\",\"additionalProperties\":false,\"properties\":{";
    std::string text = "{";
    for (int i = 0; i < 10000; ++i) {
        const std::string name = "\"param" + std::to_string(i) + "\"";
        schemaText += (i ? "," : "") + name + ":{\"type\":\"string\",\"minLength\":1,\"maxLength\":100}";
        if (i < entries) {
            text += (i ? "," : "") + name + ":\"" + std::string(5 + i % 96, 'a' + i % 26) + "\"";
        }
    }
    schemaText += "}}";
    text += "}";
    CParameterSchema schema;
    CParameters::TextError error;
    if (!schema.load(schemaText, error)) {
        std::fprintf(stderr, "%s\n", error.message().c_str());
        return 1;
    }
    if (mode == "schema") {
        return 0;
    }
    CParameters parameters;
    if (!parameters.deSerialiseAsJSON(text)) {
        return 1;
    }
    if (mode == "check") {
        return schema.check(parameters).empty() ? 0 : 1;
    }
    return 0;
}
