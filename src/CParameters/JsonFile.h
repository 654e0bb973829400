// SPDX-License-Identifier: MIT
// Reading a file's text as loadJSONFile() reads it, for the library's other
// readers of files. Internal to the library.
#ifndef CPARAMETERS_JSONFILE_H
#define CPARAMETERS_JSONFILE_H

#include "CParameters.h"

#include <string>

namespace cparameters {

// Reads the regular file at path whole into text (which it replaces); false,
// with the failed call in error, as loadJSONFile() reports it.
bool readFile(const std::string& path, std::string& text, CParameters::TextError& error);

} // namespace cparameters

#endif
