// What the file tests share: a scratch directory, the versions they save,
// and looks at a directory that go around the library.
#ifndef CPARAMETERS_TESTS_FILE_FILETEST_H
#define CPARAMETERS_TESTS_FILE_FILETEST_H

#include <CParameters.h>

#include <filesystem>
#include <fstream>
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
    Scratch() : dir(fs::absolute(fs::path("file-test-" + std::to_string(::getpid()) + "-" + std::to_string(next++))))
    {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Scratch() { fs::remove_all(dir); }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    fs::path dir;
    static int next;
};

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Names a save uses for its temp files: "." + name + ".tmp-" + 12 characters.
inline bool isTemp(const std::string& name)
{
    return name.size() > 17 && name[0] == '.' && name.compare(name.size() - 17, 5, ".tmp-") == 0;
}

inline int countTemps(const fs::path& dir)
{
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        count += isTemp(entry.path().filename().string());
    }
    return count;
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
