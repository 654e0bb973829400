// SPDX-License-Identifier: MIT
// What the file tests share: a scratch directory, the versions they save,
// and looks at a directory that go around the library.
#ifndef CPARAMETERS_TESTS_FILE_FILETEST_H
#define CPARAMETERS_TESTS_FILE_FILETEST_H

#include <CParameters.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <unistd.h>

namespace filetest {

namespace fs = std::filesystem;

// Iteration counts are scaled down under qemu-arm, where every call costs
// some ten times more, and under the sanitizers, whose fork is slow.
#ifdef CPARAMETERS_SLOW
const int scale = 5;
#else
const int scale = 1;
#endif

// A fresh directory under the working directory (the build tree, a real
// disk), removed with everything in it at the end.
struct Scratch {
    Scratch() : dir(fs::absolute("file-test-" + std::to_string(::getpid()) + "-" + std::to_string(next++)))
    {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Scratch() { fs::remove_all(dir); }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
    static inline int next = 0;
};

inline std::string readFile(const std::string& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

using Files = std::map<std::string, std::string>; // name -> content

inline void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Temp files of a save are "." + name + ".tmp-" + 12 characters.
inline long countTemps(const fs::path& dir)
{
    return std::count_if(fs::directory_iterator(dir), fs::directory_iterator(), [](const fs::directory_entry& entry) {
        const std::string name = entry.path().filename().string();
        return name[0] == '.' && name.size() > 17 && name.compare(name.size() - 17, 5, ".tmp-") == 0;
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
