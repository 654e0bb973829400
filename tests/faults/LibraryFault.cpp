// SPDX-License-Identifier: MIT
// One faulty library operation, chosen by its CPARAMETERS_FAULT_* macro. The
// fault-detection tests preload this object over the real library, so the
// test program calls this operation and the library's for all the others.

#include "CParameters.h"

#include <stdexcept>

#if defined(CPARAMETERS_FAULT_SERIALISE_TRAILING_SEPARATOR)
std::string CParameters::serialise(const std::string& nameValueSeparator, const std::string& entrySeparator) const
{
    std::string text;
    for (Json::Value::const_iterator it = begin(); it != end(); ++it) {
        text += getKey(it) + nameValueSeparator + getValueAsString(it) + entrySeparator;
    }
    return text;
}
#elif defined(CPARAMETERS_FAULT_DESERIALISE_RESTORES_NOTHING)
bool CParameters::deSerialise(const std::string&, const std::string&, const std::string&) { return true; }
#elif defined(CPARAMETERS_FAULT_JSON_READS_NOTHING)
bool CParameters::deSerialiseAsJSON(const std::string&) { return false; }
#elif defined(CPARAMETERS_FAULT_APPEND_KEEPS_RECEIVER)
void CParameters::append(const CParameters& other)
{
    for (Json::Value::const_iterator it = other.begin(); it != other.end(); ++it) {
        if (!exists(getKey(it))) {
            setParam(getKey(it), *it);
        }
    }
}
#elif defined(CPARAMETERS_FAULT_INT_IGNORES_DEFAULT)
int CParameters::getParamAsInt(const std::string& name, int) const
{
    return getParam(name).isInt() ? getParam(name).asInt() : 0;
}
#elif defined(CPARAMETERS_FAULT_PRINT_THROWS)
void CParameters::print() const { throw std::runtime_error("print failed"); }
#endif
