// Runs each library operation that allocates with its k-th allocation
// failing, for k = 1, 2, ... until it completes: every failure must reach the
// caller as std::bad_alloc and leave the container exactly as it was; a
// writer must give its whole text or nothing. Natively on glibc malloc fails
// too (jsoncpp allocates its strings with it); elsewhere operator new only.

#include <UnitTest++/UnitTest++.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>

#include "CParameters.h"

namespace {

long allocationsLeft = -1; // fail when it reaches zero; -1: never

bool failNow() { return allocationsLeft >= 0 && allocationsLeft-- == 0; }

} // namespace

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CPARAMETERS_SANITIZED_MALLOC
#endif
#endif
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(CPARAMETERS_SANITIZED_MALLOC)
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* malloc(std::size_t size) { return failNow() ? nullptr : __libc_malloc(size); }
const bool operatorNewCounts = false; // it calls malloc
#else
const bool operatorNewCounts = true;
#endif

void* operator new(std::size_t size)
{
    if (!(operatorNewCounts && failNow())) {
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
        allocationsLeft = k;
        try {
            operation(parameters);
        } catch (const std::bad_alloc&) {
            allocationsLeft = -1;
            CHECK_EQUAL(before, parameters.serialiseAsJSON());
            continue;
        } catch (...) {
            allocationsLeft = -1;
            CHECK(!"an exception other than std::bad_alloc");
        }
        allocationsLeft = -1;
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
