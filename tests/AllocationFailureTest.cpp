// SPDX-License-Identifier: MIT
// Runs each library operation that allocates with its k-th allocation
// failing, for k = 1, 2, ... until it completes: every failure must reach the
// caller as std::bad_alloc and leave the container exactly as it was; a
// writer must give its whole text or nothing. With FailingMalloc preloaded
// (every build but the sanitizers') malloc fails, so jsoncpp's own strings
// fail too; without it operator new alone.

#include <UnitTest++/UnitTest++.h>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <new>
#include <streambuf>
#include <string>

#include <dlfcn.h>

#include "CParameters.h"

namespace {

long newsLeft = -1; // operator new calls that succeed before one fails; -1: none fails

// Makes the allocation after the next k fail, or none for -1: malloc's when
// FailingMalloc is preloaded (operator new calls it), else operator new's.
long* const mallocsLeft = static_cast<long*>(dlsym(RTLD_DEFAULT, "cparameters_mallocs_left"));

void failAfter(long k) { *(mallocsLeft != nullptr ? mallocsLeft : &newsLeft) = k; }

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
}

// Runs operation with the k-th allocation failing, k = 1, 2, ..., on a fresh
// filled container each time, and checks that each failure changed nothing;
// then checks the container that the operation went through with. Says how
// many failures it saw.
int failEachAllocation(const std::function<void(CParameters&)>& operation,
                       const std::function<void(const CParameters&)>& checkResult)
{
    for (int k = 0;; ++k) {
        CParameters parameters;
        fill(parameters);
        const std::string before = parameters.serialiseAsJSON();
        failAfter(k);
        try {
            operation(parameters);
        } catch (const std::bad_alloc&) {
            failAfter(-1);
            CHECK_EQUAL(before, parameters.serialiseAsJSON());
            continue;
        } catch (...) {
            failAfter(-1);
            CHECK(!"an exception other than std::bad_alloc");
        }
        failAfter(-1);
        checkResult(parameters);
        return k;
    }
}

const char* const merged =
    "{\"name\":\"a value long enough to live on the heap\",\"new\":{\"a\":[1,\"two\"]},"
    "\"object\":{\"list\":[\"x\",2.5],\"n\":9223372036854775808},\"shared\":\"new text\",\"z\":\"last\"}";

} // namespace

SUITE(AllocationFailure)
{
#ifdef CPARAMETERS_FAILING_MALLOC
    TEST(MallocFailsTooWhereTheTestIsSetUpSo) { CHECK(mallocsLeft != nullptr); }
#endif

    TEST(PrintWritesAllOrNothing)
    {
        const auto fillLonger = [](CParameters& parameters) {
            fill(parameters);
            parameters.setParam("zz", std::string(300, 'z').c_str()); // a longer last line
        };
        CParameters reference;
        fillLonger(reference);
        std::string whole;
        {
            CaughtOutput output;
            reference.print();
            whole = output.text();
        }
        int failures = 0;
        for (long k = 0;; ++k) {
            CParameters parameters;
            fillLonger(parameters);
            std::string written;
            bool threw = false;
            {
                CaughtOutput output;
                failAfter(k);
                try {
                    parameters.print();
                } catch (const std::bad_alloc&) {
                    threw = true;
                }
                failAfter(-1);
                written = output.text();
            }
            if (!threw) {
                CHECK_EQUAL(whole, written);
                break;
            }
            ++failures;
            CHECK_EQUAL("", written);
        }
        CHECK(failures > 0);
    }

    TEST(WritersGiveTheWholeTextOrThrow)
    {
        CParameters reference;
        fill(reference);
        const std::string json = reference.serialiseAsJSON();
        const std::string delimited = reference.serialise("=", ";");
        std::string text;
        const auto sameText = [&](const std::string& expected) {
            return [&](const CParameters&) { CHECK_EQUAL(expected, text); };
        };
        CHECK(failEachAllocation([&](CParameters& parameters) { text = parameters.serialiseAsJSON(); },
                                 sameText(json)) > 0);
        CHECK(failEachAllocation([&](CParameters& parameters) { text = parameters.serialise("=", ";"); },
                                 sameText(delimited)) > 0);
    }

    TEST(ReadersApplyWholeOrNotAtAll)
    {
        const char* const json = "{\"new\":{\"a\":[1,\"two\"]},\"shared\":\"new text\",\"z\":\"last\"}";
        CHECK(failEachAllocation(
                  [&](CParameters& parameters) { parameters.deSerialiseAsJSON(json); },
                  [](const CParameters& parameters) { CHECK_EQUAL(merged, parameters.serialiseAsJSON()); }) > 0);
        CHECK(failEachAllocation(
                  [](CParameters& parameters) { parameters.deSerialise("shared=new text;extra=1;more=2", "=", ";"); },
                  [](const CParameters& parameters) {
                      CHECK_EQUAL(
                          "{\"extra\":\"1\",\"more\":\"2\",\"name\":\"a value long enough to live on the heap\","
                          "\"object\":{\"list\":[\"x\",2.5],\"n\":9223372036854775808},\"shared\":\"new text\"}",
                          parameters.serialiseAsJSON());
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
        CHECK(failEachAllocation(
                  [&](CParameters& parameters) { parameters.append(other); },
                  [&](const CParameters& parameters) { CHECK_EQUAL(merged, parameters.serialiseAsJSON()); }) > 0);
    }
}
