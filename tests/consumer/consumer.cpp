// Uses the installed header and library the way a user's program would.
#include <CParameters.h>

#include <iostream>

int main()
{
    CParameters parameters;
    parameters.setParam("port", "8080");
    const bool read = parameters.deSerialiseAsJSON("{\"host\":\"h\"}");
    const std::string text = parameters.serialise("=", ";");
    std::cout << text << std::endl;
    return read && text == "host=h;port=8080" && parameters.getParamAsInt("port", 0) == 8080 ? 0 : 1;
}
