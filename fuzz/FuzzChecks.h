// SPDX-License-Identifier: MIT
// Properties that the fuzz targets check on every input.
#ifndef CPARAMETERS_FUZZ_CHECKS_H
#define CPARAMETERS_FUZZ_CHECKS_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "CParameters.h"
#include "Samples.h" // fill: entries of several kinds for a text to be merged into

inline void require(bool holds, const char* property)
{
    if (!holds) {
        std::fprintf(stderr, "property violated: %s\n", property);
        std::abort();
    }
}

// A rejected text leaves the container as it was.
inline void requireUnchanged(const CParameters& parameters, const std::string& before)
{
    require(parameters.serialiseAsJSON() == before, "rejected text leaves the container as it was");
}

// Whatever a container holds comes back unchanged through its JSON form.
inline void requireJSONRoundTrip(const CParameters& parameters)
{
    const std::string text = parameters.serialiseAsJSON();
    CParameters copy;
    require(copy.deSerialiseAsJSON(text), "serialiseAsJSON output is read back");
    require(copy.size() == parameters.size() && copy.serialiseAsJSON() == text, "JSON round trip keeps every entry");
}

#endif
