// One faulty inline operation of the header, chosen by its CPARAMETERS_FAULT_*
// macro. The header is read under another class name, and a class of the
// real name derived from it declares the one operation again; its definition
// here has the symbol of the header's inline one, so that it replaces that
// one in a test program that calls it out of line (see CMakeLists.txt).

#include <json/json.h>

#include <cstddef>
#include <string>

#define CParameters CParametersAsDeclared
#include "CParameters.h"
#undef CParameters

class CParameters : public CParametersAsDeclared {
public:
#if defined(CPARAMETERS_FAULT_SIZE_COUNTS_ONE_MORE)
    std::size_t size() const;
#elif defined(CPARAMETERS_FAULT_EXISTS_INVERTED)
    bool exists(const std::string& name) const;
#elif defined(CPARAMETERS_FAULT_STRING_TESTS_NULL)
    std::string getParamAsString(const std::string& name, const std::string& defaultValue) const;
#elif defined(CPARAMETERS_FAULT_VALUE_GIVES_NAME)
    static std::string getValueAsString(Json::Value::const_iterator it);
#endif
};

#if defined(CPARAMETERS_FAULT_SIZE_COUNTS_ONE_MORE)
std::size_t CParameters::size() const { return CParametersAsDeclared::size() + 1; }
#elif defined(CPARAMETERS_FAULT_EXISTS_INVERTED)
bool CParameters::exists(const std::string& name) const { return !CParametersAsDeclared::exists(name); }
#elif defined(CPARAMETERS_FAULT_STRING_TESTS_NULL)
std::string CParameters::getParamAsString(const std::string& name, const std::string& defaultValue) const
{
    const Json::Value& value = getParam(name);
    return value.isNull() ? value.asString() : defaultValue;
}
#elif defined(CPARAMETERS_FAULT_VALUE_GIVES_NAME)
std::string CParameters::getValueAsString(Json::Value::const_iterator it)
{
    return it->isString() ? it.key().asString() : std::string();
}
#endif
