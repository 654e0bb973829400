// Measures the stack that the deepest accepted JSON text costs in every
// operation that walks a value recursively, on a thread with a 128 KiB stack,
// musl's default thread stack size. Fails if the deepest text does not fit
// with a quarter of that stack to spare.
//
// Built for musl (CPARAMETERS_MUSL) the thread gets the C library's default
// stack, which must be that size; elsewhere it runs on a buffer of ours.
// Either way the unused part of the stack is filled with a pattern first, and
// the lowest byte that no longer holds it marks the deepest use.

#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

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

struct Run {
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
    std::ostringstream sink;
    std::streambuf* const original = std::cout.rdbuf(sink.rdbuf());
    copy.print();
    std::cout.rdbuf(original);
    if (copy.serialiseAsJSON().empty() || copy.serialise("=", ";").empty()) {
        std::abort();
    }
}

// Bytes from the top of the stack [low, low + size) down to the lowest one
// that no longer holds the pattern.
std::size_t usedOf(const unsigned char* low, std::size_t size)
{
    std::size_t untouched = 0;
    while (untouched < size && low[untouched] == unused) {
        ++untouched;
    }
    return size - untouched;
}

#ifdef CPARAMETERS_MUSL
// Runs on musl's default stack: fills it from the bottom to a little below
// this frame, then does the work. The stores are volatile so that no call of
// memset, with a frame of its own down there, replaces the loop.
void* onThread(void* argument)
{
    Run& run = *static_cast<Run*>(argument);
    pthread_attr_t attributes;
    void* low = nullptr;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0 ||
        pthread_attr_getstack(&attributes, &low, &run.size) != 0) {
        std::abort();
    }
    pthread_attr_destroy(&attributes);
    const std::uintptr_t limit = reinterpret_cast<std::uintptr_t>(&attributes) - 1024;
    for (volatile unsigned char* byte = static_cast<unsigned char*>(low);
         reinterpret_cast<std::uintptr_t>(byte) < limit; ++byte) {
        *byte = unused;
    }
    everyRecursiveOperation(run.text);
    run.used = usedOf(static_cast<unsigned char*>(low), run.size);
    return nullptr;
}
#else
void* onThread(void* argument)
{
    everyRecursiveOperation(static_cast<Run*>(argument)->text);
    return nullptr;
}
#endif

// Bytes of stack used by everyRecursiveOperation on a document of depth, and
// the size of the stack it ran on.
Run stackUse(int depth)
{
    Run run;
    run.text = nested(depth);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
#ifndef CPARAMETERS_MUSL
    std::vector<unsigned char> stack(stackSize, unused);
    pthread_attr_setstack(&attributes, stack.data(), stack.size());
#endif
    pthread_t thread;
    if (pthread_create(&thread, &attributes, onThread, &run) != 0 || pthread_join(thread, nullptr) != 0) {
        std::abort();
    }
    pthread_attr_destroy(&attributes);
#ifndef CPARAMETERS_MUSL
    run.size = stack.size();
    run.used = usedOf(stack.data(), stack.size());
#endif
    return run;
}

} // namespace

int main()
{
    const int deepest = CParameters::maxJSONDepth;
    const Run shallow = stackUse(1);
    const Run deep = stackUse(deepest);
    std::printf("stack used: %zu bytes at depth 1, %zu bytes at depth %d, %zu bytes a level, of %zu\n", shallow.used,
                deep.used, deepest, (deep.used - shallow.used) / (deepest - 1), deep.size);
    // musl rounds its default up to whole pages, with what the thread's own
    // data takes; anything larger means the program asked for a bigger one.
    if (deep.size < stackSize || deep.size >= stackSize + 8 * 1024) {
        std::printf("the thread stack is %zu bytes, not %zu\n", deep.size, stackSize);
        return 1;
    }
    return deep.used <= stackSize * 3 / 4 ? 0 : 1;
}
