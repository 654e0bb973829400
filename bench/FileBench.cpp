// SPDX-License-Identifier: MIT
#include "FileBench.h"

#include <cstdio>
#include <fstream>
#include <map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace filebench {

namespace {

// Removes the files at exit; the bench runs in the checkout's root.
struct Files : std::map<std::size_t, std::string> {
    ~Files()
    {
        for (const auto& file : *this) {
            for (const char* suffix : {"", ".saved", ".floor"}) {
                std::remove((file.second + suffix).c_str());
            }
        }
    }
};

} // namespace

const std::string& fileOf(const std::string& json)
{
    static Files files;
    std::string& path = files[json.size()];
    if (path.empty()) {
        path = "bench-" + std::to_string(json.size()) + ".json";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << json << '\n';
    }
    return path;
}

bool saveFloor(const CParameters& parameters, const std::string& path)
{
    std::string text = parameters.serialiseAsJSON();
    text += '\n';
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    written = fd >= 0 && ::fsync(fd) == 0 && written;
    return fd >= 0 && ::close(fd) == 0 && written;
}

bool loadFloor(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        return false;
    }
    std::string text(static_cast<std::size_t>(status.st_size), '\0');
    const bool read = ::read(fd, &text[0], text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return read && CParameters().deSerialiseAsJSON(text);
}

} // namespace filebench
