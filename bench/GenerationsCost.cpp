// SPDX-License-Identifier: MIT
// What the generations and the checksum cost a save and a load, counted in
// instructions under callgrind (docs/files.md gives the command): ten saves
// of a 100-entry container over one file in the working directory, each
// followed by a loadJSONFile and a CParameterFile::load of it.
#include <CParameterFile.h>
#include <CParameters.h>

#include <cstdio>
#include <string>

int main()
{
    CParameters parameters;
    for (int i = 0; i < 100; ++i) {
        parameters.setParam("name" + std::to_string(i), ("value-" + std::to_string(i)).c_str());
    }
    const char* const path = "generations-cost.json";
    for (int i = 0; i < 10; ++i) {
        CParameters loaded, served;
        CParameterFile::Report report;
        if (!parameters.saveJSONFile(path) || !loaded.loadJSONFile(path) || !CParameterFile::load(path, served, report)) {
            return 1;
        }
    }
    std::remove(path);
    std::remove("generations-cost.json.last-good");
    std::remove("generations-cost.json.lock");
    return 0;
}
