// SPDX-License-Identifier: MIT
// A user's program against the installed header and library: the header by
// both its names (the bare one of earlier releases too) and a call into the
// library. What the calls give in detail is the other tests' to check.
#include <CParameters.h>
#include <CParameters/CParameters.h>

int main()
{
    CParameters parameters;
    return parameters.deSerialiseAsJSON("{\"port\":8080}") && parameters.serialise("=", ";") == "port=8080" ? 0 : 1;
}
