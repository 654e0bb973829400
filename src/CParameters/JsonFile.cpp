// Saving the container to a file and loading it back. A first cut: the
// temp-file-and-rename save without the durability and clean-up work yet.
#include "CParameters.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool systemFault(const char* call, CParameters::TextError& error)
{
    const int number = errno;
    error.offset = 0;
    error.line = 0;
    error.column = 0;
    error.reason = std::string(call) + ": " + std::strerror(number);
    const char* const base = reinterpret_cast<const char*>(&error);
    if (static_cast<std::size_t>(reinterpret_cast<const char*>(&error.systemError + 1) - base) <= error.size) {
        error.systemError = number;
    }
    return false;
}

} // namespace

bool CParameters::saveJSONFile(const std::string& path) const
{
    TextError error;
    return saveJSONFile(path, error);
}

bool CParameters::saveJSONFile(const std::string& path, TextError& error) const
{
    const std::string text = serialiseAsJSON() + '\n';
    const std::string temp = path + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return systemFault("open", error);
    }
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        systemFault("write", error);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    ::close(fd);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        systemFault("rename", error);
        ::unlink(temp.c_str());
        return false;
    }
    error = TextError();
    return true;
}

bool CParameters::loadJSONFile(const std::string& path)
{
    TextError error;
    return loadJSONFile(path, error);
}

bool CParameters::loadJSONFile(const std::string& path, TextError& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return systemFault("open", error);
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            systemFault("read", error);
            ::close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return deSerialiseAsJSON(text, error);
}
