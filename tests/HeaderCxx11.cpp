// Compiled as C++11 only: the public header must not need anything newer.
#include "CParameters.h"

std::string headerCxx11(CParameters& parameters)
{
    parameters.setParam("name", "value");
    return parameters.getParamAsString("name", "");
}
