// SPDX-License-Identifier: MIT
// What the file tests share: a scratch directory, the versions they save,
// and looks at a directory that go around the library.
#ifndef CPARAMETERS_TESTS_FILE_FILETEST_H
#define CPARAMETERS_TESTS_FILE_FILETEST_H

#include <CParameters.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace filetest {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>; // name -> content

// A fresh directory under the working directory (the build tree, a real
// disk) holding files, removed with everything in it at the end.
struct Scratch {
    explicit Scratch(const Files& files = {})
    {
        char name[] = "file-test-XXXXXX";
        dir = fs::absolute(::mkdtemp(name));
        for (const auto& file : files) {
            std::ofstream(path(file.first)) << file.second;
        }
    }
    ~Scratch() { fs::remove_all(dir); }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
};

inline std::string readFile(const std::string& path)
{
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

// Temp files of a save have ".tmp-" in their names.
inline long countTemps(const fs::path& dir)
{
    return std::count_if(fs::directory_iterator(dir), {}, [](const fs::directory_entry& entry) {
        return entry.path().filename().string().find(".tmp-") != std::string::npos;
    });
}

// A container of entries "p<i>" holding tag and i, about 20 bytes each.
inline CParameters version(int entries, const std::string& tag)
{
    CParameters parameters;
    for (int i = 0; i < entries; ++i) {
        parameters.setParam("p" + std::to_string(i), (tag + "-" + std::to_string(i)).c_str());
    }
    return parameters;
}

// The file's container as text, or "" when it does not load.
inline std::string loaded(const std::string& path)
{
    CParameters parameters;
    return parameters.loadJSONFile(path) ? parameters.serialiseAsJSON() : std::string();
}

} // namespace filetest

#endif
