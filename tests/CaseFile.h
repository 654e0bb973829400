// Case files of the project's tests: one case a line, its fields separated
// by tabs, %HH standing for the byte HH in any field (for bytes below 0x20,
// from 0x7F, and % itself), and lines starting with # left out.
#ifndef CPARAMETERS_TESTS_CASEFILE_H
#define CPARAMETERS_TESTS_CASEFILE_H

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::string decodeField(const std::string& text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes += text[i] == '%' ? static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)) : text[i];
        i += text[i] == '%' ? 2 : 0;
    }
    return bytes;
}

// Calls check(fields) for every case of the file; says how many there were.
template <typename Check> int forEachCase(const char* path, Check check)
{
    std::ifstream file(path);
    int count = 0;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) {
            fields.push_back(decodeField(field));
        }
        check(fields);
        ++count;
    }
    return count;
}

#endif
