// SPDX-License-Identifier: MIT
// Runs each library operation that allocates with its k-th allocation
// failing, for k = 1, 2, ... until it completes: every failure must reach the
// caller as std::bad_alloc and leave the container exactly as it was; a
// writer must give its whole text or nothing. With FailingMalloc preloaded
// (every build but the sanitizers') malloc fails, so jsoncpp's own strings
// fail too; without it operator new alone.

#include <UnitTest++/UnitTest++.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <new>
#include <streambuf>
#include <string>
#include <vector>

#include <dlfcn.h>

#include "CParameterFile.h"
#include "CParameters.h"
#include "Patch.h"
#include "Schema.h"

namespace {

long newsLeft = -1; // operator new calls that succeed before one fails; -1: none fails

// The count of allocations that succeed before one fails: malloc's when
// FailingMalloc is preloaded (operator new calls it), else operator new's.
long* const mallocsLeft = static_cast<long*>(dlsym(RTLD_DEFAULT, "cparameters_mallocs_left"));
long& allocationsLeft = mallocsLeft != nullptr ? *mallocsLeft : newsLeft;

// Standard output caught in memory allocated beforehand, so that writing to
// it allocates nothing.
struct CaughtOutput : std::streambuf {
    CaughtOutput() : buffer(1 << 16, '\0'), saved(std::cout.rdbuf(this))
    {
        setp(&buffer[0], &buffer[0] + buffer.size());
    }
    ~CaughtOutput() override { std::cout.rdbuf(saved); }
    std::string text() const { return std::string(pbase(), pptr()); }
    std::string buffer;
    std::streambuf* const saved;
};

} // namespace

void* operator new(std::size_t size)
{
    if (!(newsLeft >= 0 && newsLeft-- == 0)) {
        if (void* memory = std::malloc(size ? size : 1)) {
            return memory;
        }
    }
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

void fill(CParameters& parameters)
{
    parameters.setParam("name", "a value long enough to live on the heap");
    parameters.setParam("shared", "old");
    Json::Value object(Json::objectValue);
    object["list"].append("x");
    object["list"].append(2.5);
    object["n"] = Json::Value::UInt64(1) << 63;
    parameters.setParam("object", object);
    parameters.setParam("zz", std::string(300, 'z').c_str()); // a longer last line to print
}

using Operation = std::function<std::string(CParameters&)>;

// What operation gives on a filled container: the text it returns and
// prints, then the container and world() as they are afterwards.
std::string outcome(const Operation& operation, const std::function<std::string()>& world)
{
    CParameters parameters;
    fill(parameters);
    CaughtOutput output;
    const std::string text = operation(parameters);
    return text + output.text() + parameters.serialiseAsJSON() + world();
}

// Runs operation on a fresh filled container with its k-th allocation
// failing, k = 0, 1, ..., until no allocation fails: each failure that
// reaches the caller must be std::bad_alloc, having printed nothing and left
// the container and world() (what the operation does outside the container)
// as they were; a run that completes, whether a failure was absorbed on the
// way (the C library's, say) or none happened, must give what a run without
// failures gives. Says how many failures reached the caller.
int failEachAllocation(
    const Operation& operation, const std::function<std::string()>& world = [] { return ""; })
{
    const std::string expected = outcome(operation, world);
    int thrown = 0;
    for (long k = 0;; ++k) {
        CParameters parameters;
        fill(parameters);
        const std::string before = parameters.serialiseAsJSON() + world();
        CaughtOutput output;
        std::string text;
        allocationsLeft = k;
        try {
            text = operation(parameters);
        } catch (const std::bad_alloc&) {
            allocationsLeft = -1;
            ++thrown;
            CHECK_EQUAL(before, output.text() + parameters.serialiseAsJSON() + world());
            continue;
        } catch (...) {
            allocationsLeft = -1;
            CHECK(!"an exception other than std::bad_alloc");
            return thrown;
        }
        const bool failed = allocationsLeft < 0;
        allocationsLeft = -1;
        CHECK_EQUAL(expected, text + output.text() + parameters.serialiseAsJSON() + world());
        if (!failed) {
            return thrown;
        }
    }
}

} // namespace

SUITE(AllocationFailure)
{
#ifdef CPARAMETERS_FAILING_MALLOC
    TEST(MallocFailsTooWhereTheTestIsSetUpSo) { CHECK(mallocsLeft != nullptr); }
#endif

    TEST(WritersGiveTheWholeTextOrThrow)
    {
        const std::string equals = "=", semicolon = ";";
        CHECK(failEachAllocation([](CParameters& parameters) { return parameters.serialiseAsJSON(); }) > 0);
        CHECK(failEachAllocation([&](CParameters& parameters) { return parameters.serialise(equals, semicolon); }) > 0);
        CHECK(failEachAllocation([](CParameters& parameters) {
                  parameters.print();
                  return std::string();
              }) > 0);
    }

    // The texts are made before allocations fail, so that only the readers'
    // own allocations count: a reader that did nothing would allocate none.
    TEST(ReadersApplyWholeOrNotAtAll)
    {
        const std::string json = "{\"new\":{\"a\":[1,\"two\"]},\"shared\":\"new text\",\"z\":\"last\"}";
        const std::string delimited = "shared=new text;extra=1;more=2", equals = "=", semicolon = ";";
        CHECK(failEachAllocation(
                  [&](CParameters& parameters) { return std::to_string(parameters.deSerialiseAsJSON(json)); }) > 0);
        CHECK(failEachAllocation([&](CParameters& parameters) {
                  return std::to_string(parameters.deSerialise(delimited, equals, semicolon));
              }) > 0);
    }

    TEST(AppendAppliesWholeOrNotAtAll)
    {
        CParameters other;
        other.setParam("shared", "new text");
        Json::Value value(Json::objectValue);
        value["a"].append(1);
        value["a"].append("two");
        other.setParam("new", value);
        other.setParam("z", "last"); // copied after "shared" has been replaced
        CHECK(failEachAllocation([&](CParameters& parameters) {
                  parameters.append(other);
                  return std::string();
              }) > 0);
    }

    // Reading a schema, checking, and checked writes.
    TEST(SchemasAndCheckedWritesApplyWholeOrNotAtAll)
    {
        const std::string text = R"({"properties":{"shared":{"enum":["old","new"],"default":"old"},
            "object":{"properties":{"list":{"items":{"type":"string"}}}}},"required":["r"]})";
        CParameters::TextError error;
        CParameterSchema schema;
        CHECK(schema.load(text, error));
        std::vector<CParameterSchema::Violation> found;
        const auto listed = [&](bool result) {
            std::string reasons = std::to_string(result);
            for (const CParameterSchema::Violation& v : found) {
                reasons += v.reason + ";";
            }
            return reasons;
        };
        CHECK(failEachAllocation([&](CParameters& parameters) {
                  found = schema.check(parameters);
                  return listed(true);
              }) > 0);
        for (const char* const change : {R"({"shared":"new","x":[1]})", R"({"shared":"bad"})"}) {
            CHECK(failEachAllocation([&](CParameters& parameters) {
                      return listed(schema.deSerialiseAsJSON(parameters, change, error, found));
                  }) > 0);
        }
        CHECK(failEachAllocation([&](CParameters&) {
                  CParameterSchema other;
                  const bool loaded = other.load(text, error);
                  return std::to_string(loaded) + other.defaults().serialiseAsJSON();
              }) > 0);
        CHECK(failEachAllocation([&](CParameters&) {
                  return listed(schema.checkJSON(R"({"object":{"list":[1]}})", found, error));
              }) > 0);
    }

    // Each change touches a parameter the container holds and adds one. The
    // texts are made before allocations fail, so that a do-nothing change
    // fails the test.
    TEST(PatchesApplyWholeOrNotAtAll)
    {
        CParameters::TextError error;
        const Json::Value text("text");
        const std::string merge = "{\"object\":{\"list\":null,\"m\":{\"x\":[1]}},\"name\":null,\"new\":\"v\"}";
        const std::string patch = "[{\"op\":\"add\",\"path\":\"/object/list/0\",\"value\":\"first\"},"
                                  "{\"op\":\"move\",\"from\":\"/shared\",\"path\":\"/moved\"},"
                                  "{\"op\":\"copy\",\"from\":\"\",\"path\":\"/all\"},"
                                  "{\"op\":\"test\",\"path\":\"/all/object/n\",\"value\":9223372036854775808}]";
        const std::string created = "/object/a/b", element = "/object/list/1", list = "/object/list";
        CHECK(failEachAllocation([&](CParameters& parameters) {
                  return std::to_string(CParameterPatch::mergePatchText(parameters, merge, error));
              }) > 0);
        CHECK(failEachAllocation([&](CParameters& parameters) {
                  return std::to_string(CParameterPatch::jsonPatchText(parameters, patch, error));
              }) > 0);
        CHECK(failEachAllocation([&](CParameters& parameters) {
                  return std::to_string(CParameterPatch::set(parameters, created, text, true, error));
              }) > 0);
        CHECK(failEachAllocation([&](CParameters& parameters) {
                  return std::to_string(CParameterPatch::remove(parameters, element, error));
              }) > 0);
        CHECK(failEachAllocation([&](CParameters& parameters) {
                  return std::to_string(CParameterPatch::get(parameters, list, text).size());
              }) > 0);
    }

    // A save that throws leaves the file as it was and no temp file behind.
    TEST(FilesAreSavedAndLoadedWholeOrNotAtAll)
    {
        const std::string path = "AllocationFailureTest.json"; // in the build tree
        CParameters saved;
        saved.setParam("shared", "from the file");
        CHECK(saved.saveJSONFile(path));
        const auto files = [&] { // the file, and its temps by name
            std::string names;
            for (const auto& entry : std::filesystem::directory_iterator(".")) {
                const std::string name = entry.path().filename().string();
                names += name.find(path) != std::string::npos ? name + " " : "";
            }
            std::ifstream file(path);
            return names + std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        };
        CHECK(failEachAllocation(
                  [&](CParameters& parameters) { return std::to_string(parameters.loadJSONFile(path)); }) > 0);
        CHECK(failEachAllocation([&](CParameters& parameters) { return std::to_string(parameters.saveJSONFile(path)); },
                                 files) > 0);
        std::ofstream(path) << "{\"shared\":"; // damaged: the last good version serves
        CHECK(failEachAllocation([&](CParameters& parameters) {
                  CParameterFile::Report report;
                  return std::to_string(CParameterFile::load(path, parameters, report)) + report.message();
              }) > 0);
        std::remove(path.c_str());
        std::remove((path + ".last-good").c_str());
    }
}
