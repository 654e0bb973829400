// SPDX-License-Identifier: MIT
// Earlier users include the header by its bare name; that keeps working
// through the package's include folders.
#include <CParameters.h>

bool legacyIncludeWorks()
{
    CParameters parameters;
    parameters.setParam("legacy", "yes");
    return parameters.getParamAsString("legacy", "") == "yes";
}
