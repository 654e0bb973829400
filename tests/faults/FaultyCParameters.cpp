// A deliberately plain build of the eight library operations, with at most one
// fault compiled in (CPARAMETERS_FAULT_*). The fault-detection tests put it
// under the test program in place of the real library and expect exactly the
// failures that the fault must cause.

#include "CParameters.h"

#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>

const int CParameters::maxJSONDepth;

std::string CParameters::serialise(const std::string& nameValueSeparator, const std::string& entrySeparator) const
{
    std::string text;
    for (auto it = m_params.begin(); it != m_params.end(); ++it) {
        text += it.name() + nameValueSeparator + it->asString();
#ifndef CPARAMETERS_FAULT_SERIALISE_TRAILING_SEPARATOR
        if (std::next(it) != m_params.end())
#endif
            text += entrySeparator;
    }
    return text;
}

bool CParameters::deSerialise(const std::string& text, const std::string& nameValueSeparator,
                              const std::string& entrySeparator)
{
    std::map<std::string, std::string> entries;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t stop = text.find(entrySeparator, start);
        stop = stop == std::string::npos ? text.size() : stop;
        const std::string entry = text.substr(start, stop - start);
        start = stop + entrySeparator.size();
        const std::size_t split = entry.find(nameValueSeparator);
        if (split != std::string::npos) {
            entries[entry.substr(0, split)] = entry.substr(split + nameValueSeparator.size());
        }
    }
#ifndef CPARAMETERS_FAULT_DESERIALISE_RESTORES_NOTHING
    for (const auto& entry : entries) {
        m_params[entry.first] = entry.second;
    }
#endif
    return true;
}

std::string CParameters::serialiseAsJSON() const
{
    Json::StreamWriterBuilder builder;
    return Json::writeString(builder, m_params);
}

bool CParameters::deSerialiseAsJSON(const std::string& text)
{
#ifdef CPARAMETERS_FAULT_JSON_READS_NOTHING
    (void)text;
    return false;
#else
    Json::Value parsed;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!reader->parse(text.data(), text.data() + text.size(), &parsed, &errors)) {
        return false;
    }
    for (const std::string& name : parsed.getMemberNames()) {
        m_params[name] = parsed[name];
    }
    return true;
#endif
}

void CParameters::append(const CParameters& other)
{
    for (const std::string& name : other.m_params.getMemberNames()) {
#ifdef CPARAMETERS_FAULT_APPEND_KEEPS_RECEIVER
        if (m_params.isMember(name)) {
            continue;
        }
#endif
        m_params[name] = other.m_params[name];
    }
}

Json::Value::const_iterator CParameters::find(const std::string& name) const
{
    auto it = m_params.begin();
    while (it != m_params.end() && it.name() != name) {
        ++it;
    }
    return it;
}

int CParameters::getParamAsInt(const std::string& name, int defaultValue) const
{
#ifdef CPARAMETERS_FAULT_INT_IGNORES_DEFAULT
    defaultValue = 0;
#endif
    const Json::Value& value = m_params[name];
    return value.isInt() ? value.asInt() : defaultValue;
}

void CParameters::print() const
{
#ifdef CPARAMETERS_FAULT_PRINT_THROWS
    throw std::runtime_error("print failed");
#else
    std::cout << m_params << std::endl;
#endif
}
