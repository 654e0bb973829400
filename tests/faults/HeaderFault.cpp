// SPDX-License-Identifier: MIT
// One faulty inline operation of the header, chosen by its CPARAMETERS_FAULT_*
// macro. The header is read under another class name, and a class of the
// real name derived from it declares the one operation again; its definition
// here, out of line and so a strong symbol, has the name of the header's
// inline one and replaces it in a test program that calls it out of line
// (see CMakeLists.txt). The two classes of one name break the one-definition
// rule on purpose: that is the fault.

#include <json/json.h>

#include <cstddef>
#include <string>

#define CParameters CParametersAsDeclared
#include "CParameters.h"
#undef CParameters

#if defined(CPARAMETERS_FAULT_SIZE_COUNTS_ONE_MORE)
struct CParameters : CParametersAsDeclared {
    std::size_t size() const;
};
std::size_t CParameters::size() const { return CParametersAsDeclared::size() + 1; }
#elif defined(CPARAMETERS_FAULT_EXISTS_INVERTED)
struct CParameters : CParametersAsDeclared {
    bool exists(const std::string& name) const;
};
bool CParameters::exists(const std::string& name) const { return !CParametersAsDeclared::exists(name); }
#elif defined(CPARAMETERS_FAULT_STRING_TESTS_NULL)
struct CParameters : CParametersAsDeclared {
    std::string getParamAsString(const std::string& name, const std::string& defaultValue) const;
};
std::string CParameters::getParamAsString(const std::string& name, const std::string& defaultValue) const
{
    const Json::Value& value = getParam(name);
    return value.isNull() ? value.asString() : defaultValue;
}
#elif defined(CPARAMETERS_FAULT_VALUE_GIVES_NAME)
struct CParameters : CParametersAsDeclared {
    static std::string getValueAsString(Json::Value::const_iterator it);
};
std::string CParameters::getValueAsString(Json::Value::const_iterator it)
{
    return it->isString() ? it.key().asString() : std::string();
}
#endif
