// SPDX-License-Identifier: MIT
// The floors of saveJSONFile and loadJSONFile: the least a program can do
// to write its text durably and to read it back, without their guarantees.
#ifndef CPARAMETERS_BENCH_FILEBENCH_H
#define CPARAMETERS_BENCH_FILEBENCH_H

#include <string>

#include "CParameters.h"

namespace filebench {

// A file in the working directory holding json and a newline, written once
// per text size and removed at exit, with the files saved beside it.
const std::string& fileOf(const std::string& json);

// serialiseAsJSON() and a newline written into the file in place and synced.
bool saveFloor(const CParameters& parameters, const std::string& path);

// The file read whole and given to deSerialiseAsJSON().
bool loadFloor(const std::string& path);

} // namespace filebench

#endif
