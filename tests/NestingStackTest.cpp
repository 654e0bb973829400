// SPDX-License-Identifier: MIT
// Measures the stack that the deepest accepted JSON text costs in every
// operation that walks a value recursively, on a thread with a 128 KiB
// stack: musl's default thread stack, which a musl build (CPARAMETERS_MUSL)
// gets as it is and other builds ask for. The stack below the thread's first
// frame is filled with a pattern; the lowest byte that lost it marks the
// deepest use. Fails unless the deepest text fits with a quarter to spare.

#include <UnitTest++/UnitTest++.h>

#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CParameters.h"

namespace {

const std::size_t stackSize = 128 * 1024;
const unsigned char unused = 0xa5;

std::string nested(int depth)
{
    std::string text = "{}";
    for (int level = 1; level < depth; ++level) {
        text = "{\"k\":" + text + "}";
    }
    return text;
}

struct Measurement {
    std::string text;
    std::size_t used = 0;
    std::size_t size = 0;
};

void everyRecursiveOperation(const std::string& text)
{
    CParameters parameters;
    if (!parameters.deSerialiseAsJSON(text)) {
        std::abort();
    }
    CParameters copy;
    copy.setParam("x", "y");
    copy.append(parameters);
    if (copy.serialiseAsJSON().empty() || copy.serialise("=", ";").empty()) {
        std::abort();
    }
}

// Fills the thread's stack below this frame, does the work, and measures.
// The stores are volatile so that no call of memset, with a frame of its own
// down there, replaces the loop.
void* onThread(void* argument)
{
    Measurement& run = *static_cast<Measurement*>(argument);
    pthread_attr_t attributes;
    void* low = nullptr;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0 ||
        pthread_attr_getstack(&attributes, &low, &run.size) != 0) {
        std::abort();
    }
    pthread_attr_destroy(&attributes);
    volatile unsigned char* const bottom = static_cast<unsigned char*>(low);
    const std::size_t below =
        reinterpret_cast<std::uintptr_t>(&attributes) - 1024 - reinterpret_cast<std::uintptr_t>(low);
    for (std::size_t i = 0; i < below; ++i) {
        bottom[i] = unused;
    }
    everyRecursiveOperation(run.text);
    std::size_t untouched = 0;
    while (untouched < run.size && bottom[untouched] == unused) {
        ++untouched;
    }
    run.used = run.size - untouched;
    return nullptr;
}

// The stack that everyRecursiveOperation uses on a document of depth.
Measurement stackUse(int depth)
{
    Measurement run;
    run.text = nested(depth);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
#ifndef CPARAMETERS_MUSL
    pthread_attr_setstacksize(&attributes, stackSize);
#endif
    pthread_t thread;
    if (pthread_create(&thread, &attributes, onThread, &run) != 0 || pthread_join(thread, nullptr) != 0) {
        std::abort();
    }
    pthread_attr_destroy(&attributes);
    return run;
}

} // namespace

SUITE(NestingStack)
{
    TEST(DeepestTextFitsTheThreadStackWithAQuarterToSpare)
    {
        const int deepest = CParameters::maxJSONDepth;
        const Measurement shallow = stackUse(1);
        const Measurement deep = stackUse(deepest);
        std::printf("stack used: %zu bytes at depth 1, %zu bytes at depth %d, %zu bytes a level, of %zu\n",
                    shallow.used, deep.used, deepest, (deep.used - shallow.used) / (deepest - 1), deep.size);
        // The C library may round the size up to whole pages with the thread's
        // own data; anything larger means a bigger stack was asked for (as a
        // musl program marked for one would get).
        CHECK(deep.size >= stackSize && deep.size < stackSize + 8 * 1024);
        CHECK(deep.used <= stackSize * 3 / 4);
    }
}
