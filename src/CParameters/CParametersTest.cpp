// SPDX-License-Identifier: MIT
// The container's console test program: eight tests, run once in the order
// they are registered. Their output and failure messages are read by people
// and by the project's golden-output tests, so every banner, value line and
// checked expression is written out exactly as it must appear.

#include <UnitTest++/UnitTest++.h>

#include <cstring>
#include <iostream>
#include <string>

#include "CParameters.h"

namespace {

// Reads, prints and checks the three values that PassByReference stores.
bool printAndCheck(const CParameters& parameters)
{
    const std::string first = parameters.getParamAsString("param1", "");
    const std::string second = parameters.getParamAsString("param2", "");
    const std::string third = parameters.getParamAsString("param3", "");
    std::cout << "Param 1:<" << first << ">" << std::endl;
    std::cout << "Param 2:<" << second << ">" << std::endl;
    std::cout << "Param 3:<" << third << ">" << std::endl;
    return strcmp(first.c_str(), "test1") == 0 && strcmp(second.c_str(), "test2") == 0 &&
           strcmp(third.c_str(), "test3") == 0;
}

bool passByRef(CParameters& parameters) { return printAndCheck(parameters); }

bool passByConstRef(const CParameters& parameters) { return printAndCheck(parameters); }

Json::Value createJsonValueA()
{
    Json::Value result(Json::objectValue);
    Json::Value array(Json::arrayValue);
    array.append(11);
    array.append(12);
    result["t1"] = 42;
    result["t2"] = "foobar";
    result["t3"] = array;
    return result;
}

// Names the first way in which value differs from createJsonValueA().
bool checkJsonValueA(const Json::Value& value)
{
    const char* fault = nullptr;
    if (!value.isObject()) {
        fault = "not an object.";
    } else if (!value.isMember("t1")) {
        fault = "not a member: t1.";
    } else if (!value["t1"].isInt()) {
        fault = "not an integer: t1.";
    } else if (value["t1"].asInt() != 42) {
        fault = "bad value: t1.";
    } else if (!value.isMember("t2")) {
        fault = "not a member: t2.";
    } else if (!value["t2"].isString()) {
        fault = "not an string: t2.";
    } else if (value["t2"].asString() != "foobar") {
        fault = "bad value: t2.";
    } else if (!value.isMember("t3")) {
        fault = "not a member: t3.";
    } else if (!value["t3"].isArray()) {
        fault = "not an array: t3.";
    } else if (value["t3"].size() != 2) {
        fault = "array has wrong size: t3.";
    } else if (value["t3"][0] != Json::Value(11)) {
        fault = "array element 0: bad value: t3.";
    } else if (value["t3"][1] != Json::Value(12)) {
        fault = "array element 1: bad value: t3.";
    }
    if (fault != nullptr) {
        std::cout << "checkJsonValueA: " << fault << std::endl;
        return false;
    }
    return true;
}

} // namespace

// clang-format off
// The checked expressions are the failure messages: keep them as written.

TEST(CParametersSetGet)
{
    std::cout << "TEST: CParametersSetGet" << std::endl;
    CParameters parameters;
    parameters.setParam("param1", "test1");
    parameters.setParam("param2", "test2");
    parameters.setParam("param3", "test3");
    CHECK(parameters.size() == 3);
    std::string param1 = parameters.getParamAsString("param1", "");
    std::string param2 = parameters.getParamAsString("param2", "");
    std::string param3 = parameters.getParamAsString("param3", "");
    CHECK(strcmp( param1.c_str(),"test1" ) == 0);
    CHECK(strcmp( param2.c_str(),"test2" ) == 0);
    CHECK(strcmp( param3.c_str(),"test3" ) == 0);
}

TEST(CParametersSerialise)
{
    std::cout << "TEST: CParametersSerialise" << std::endl;
    CParameters parameters;
    parameters.setParam("param1", "test1");
    parameters.setParam("param2", "test2");
    parameters.setParam("param3", "test3");
    parameters.print();

    std::string test;
    test = parameters.serialise(":", ",");
    CHECK(strcmp( test.c_str(), "param1:test1,param2:test2,param3:test3" ) == 0);

    CParameters restored;
    restored.deSerialise(test, ":", ",");
    restored.print();
    std::string param1 = restored.getParamAsString("param1", "");
    std::string param2 = restored.getParamAsString("param2", "");
    std::string param3 = restored.getParamAsString("param3", "");
    CHECK(strcmp( param1.c_str(),"test1" ) == 0);
    CHECK(strcmp( param2.c_str(),"test2" ) == 0);
    CHECK(strcmp( param3.c_str(),"test3" ) == 0);

    test = parameters.serialise("/", ";");
    CHECK(strcmp( test.c_str(), "param1/test1;param2/test2;param3/test3" ) == 0);

    restored.deSerialise(test, "/", ";");
    restored.print();
    param1 = restored.getParamAsString("param1", "");
    param2 = restored.getParamAsString("param2", "");
    param3 = restored.getParamAsString("param3", "");
    CHECK(strcmp( param1.c_str(),"test1" ) == 0);
    CHECK(strcmp( param2.c_str(),"test2" ) == 0);
    CHECK(strcmp( param3.c_str(),"test3" ) == 0);
}

TEST(PassByReference)
{
    std::cout << "TEST: PassByReference" << std::endl;
    CParameters parameters;
    parameters.setParam("param1", "test1");
    parameters.setParam("param2", "test2");
    parameters.setParam("param3", "test3");
    CHECK(passByRef(parameters ));
    CHECK(passByConstRef(parameters ));
}

TEST(Iterators)
{
    std::cout << "TEST: Iterators" << std::endl;
    CParameters parameters;
    parameters.setParam("symbol1", "test1");
    parameters.setParam("symbol2", "test2");
    parameters.setParam("symbol3", "test3");
    std::cout << "exists:symbol1" << parameters.exists("symbol1") << std::endl;
    std::cout << "exists:foobar" << parameters.exists("foobar") << std::endl;
    std::cout << "exists:symbol1" << parameters.exists("symbol1") << std::endl;
    std::cout << "exists:symbol1" << parameters.exists("symbol1") << std::endl;
    CHECK(parameters.exists("symbol1"));
    CHECK(!parameters.exists("foobar"));
    Json::Value::const_iterator it = parameters.find("symbol1");
    std::cout << "find:symbol1" << parameters.getKey(it) << "=" << parameters.getValueAsString(it) << std::endl;
}

TEST(JSONserialize)
{
    std::cout << "TEST: JSONserialize" << std::endl;
    const char* pt1 = "test1: a big long test with lots of characters. The quick brown fox jumped over the lazy dog.";
    const char* pt2 = "test2";
    const char* pt3 = "test3";
    CParameters parameters;
    parameters.setParam("param1", pt1);
    parameters.setParam("param2", pt2);
    parameters.setParam("param3", pt3);
    std::string json = parameters.serialiseAsJSON();
    std::cout << "JSON:<" << json << ">" << std::endl;

    CParameters restored;
    restored.deSerialiseAsJSON(json);
    std::string param1 = restored.getParamAsString("param1", "");
    std::string param2 = restored.getParamAsString("param2", "");
    std::string param3 = restored.getParamAsString("param3", "");
    std::cout << "Param 1:<" << param1 << ">" << std::endl;
    std::cout << "Param 2:<" << param2 << ">" << std::endl;
    std::cout << "Param 3:<" << param3 << ">" << std::endl;
    CHECK(strcmp( param1.c_str(), pt1 ) == 0);
    CHECK(strcmp( param2.c_str(), pt2 ) == 0);
    CHECK(strcmp( param3.c_str(), pt3 ) == 0);
}

TEST(DEFAULTVALS)
{
    std::cout << "TEST: DEFAULTVALS" << std::endl;
    CParameters parameters;
    std::string param1 = parameters.getParamAsString("param1", "test1");
    std::string param2 = parameters.getParamAsString("param2", "test2");
    int param3 = parameters.getParamAsInt("param3", 42);
    std::cout << "Param 1:<" << param1 << ">" << std::endl;
    std::cout << "Param 2:<" << param2 << ">" << std::endl;
    std::cout << "Param 3:<" << param3 << ">" << std::endl;
    CHECK(strcmp( param1.c_str(),"test1" ) == 0);
    CHECK(strcmp( param2.c_str(),"test2" ) == 0);
    CHECK(param3 == 42);
}

TEST(APPEND)
{
    std::cout << "TEST: APPEND" << std::endl;
    CParameters parameters1;
    CParameters parameters2;
    parameters1.setParam("param1", "test1");
    parameters1.setParam("param2", "test2");
    parameters1.setParam("param3", "test3");
    parameters2.setParam("param3", "NEW_test3");
    parameters2.setParam("param4", "test4");
    parameters1.append(parameters2);
    parameters1.print();
    CHECK(parameters1.size() == 4);
    std::string param1 = parameters1.getParamAsString("param1", "");
    std::string param2 = parameters1.getParamAsString("param2", "");
    std::string param3 = parameters1.getParamAsString("param3", "");
    std::string param4 = parameters1.getParamAsString("param4", "");
    CHECK(strcmp( param1.c_str(),"test1" ) == 0);
    CHECK(strcmp( param2.c_str(),"test2" ) == 0);
    CHECK(strcmp( param3.c_str(),"NEW_test3" ) == 0);
    CHECK(strcmp( param4.c_str(),"test4" ) == 0);
}

TEST(JSON_VALUE)
{
    std::cout << "TEST: JSON_VALUE" << std::endl;
    CParameters parameters1;
    parameters1.setParam("param1", "test1");
    parameters1.setParam("param2", "test2");
    parameters1.setParam("param3", createJsonValueA());
    parameters1.print();
    CHECK(parameters1.size() == 3);
    std::string param1 = parameters1.getParamAsString("param1", "");
    std::string param2 = parameters1.getParamAsString("param2", "");
    const Json::Value& v = parameters1.getParam("param3");
    CHECK(strcmp( param1.c_str(),"test1" ) == 0);
    CHECK(strcmp( param2.c_str(),"test2" ) == 0);
    CHECK(checkJsonValueA(v));
}

// clang-format on

int main(int, char**) { return UnitTest::RunAllTests(); }
