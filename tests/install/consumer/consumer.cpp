// SPDX-License-Identifier: MIT
// Uses the installed header and library the way a user's program would:
// reads settings, and says where a text with a deliberate fault went wrong.
#include <CParameters/CParameters.h>

#include <iostream>

bool legacyIncludeWorks();

int main()
{
    CParameters parameters;
    parameters.setParam("port", "8080");
    const bool read = parameters.deSerialiseAsJSON("{\"host\":\"h\",\"debug\":true}");
    const std::string text = parameters.serialise("=", ";");
    std::cout << text << std::endl;

    CParameters::TextError error;
    const bool faulty = parameters.deSerialiseAsJSON("{\n  \"host\": \"h\",\n  \"port\": 1, \"port\": 2\n}", error);
    std::cout << error.message() << std::endl;

    return legacyIncludeWorks() && read && !faulty && text == "debug=true;host=h;port=8080" && parameters.getParamAsInt64("port", 0) == 8080 &&
                   parameters.getParamAsBool("debug", false) && error.line == 3 && error.column == 14 &&
                   error.reason == "duplicate name \"port\""
               ? 0
               : 1;
}
