// Measures the stack that the deepest accepted JSON text costs in every
// operation that walks a value recursively, on a thread whose 128 KiB stack
// (musl's default thread stack size) is ours to inspect. Fails if the
// deepest text does not fit with a quarter of that stack to spare.

#include <pthread.h>

#include <cstdio>
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

void* everyRecursiveOperation(void* text)
{
    CParameters parameters;
    if (!parameters.deSerialiseAsJSON(*static_cast<const std::string*>(text))) {
        std::abort();
    }
    CParameters copy;
    copy.setParam("x", "y");
    copy.append(parameters);
    std::ostringstream sink;
    std::streambuf* const original = std::cout.rdbuf(sink.rdbuf());
    copy.print();
    std::cout.rdbuf(original);
    return new std::string(copy.serialiseAsJSON() + copy.serialise("=", ";"));
}

// Bytes of stack used by everyRecursiveOperation on a document of depth.
std::size_t stackUse(int depth)
{
    std::vector<unsigned char> stack(stackSize, unused);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stack.data(), stack.size());
    const std::string text = nested(depth);
    pthread_t thread;
    void* result = nullptr;
    if (pthread_create(&thread, &attributes, everyRecursiveOperation, const_cast<std::string*>(&text)) != 0 ||
        pthread_join(thread, &result) != 0) {
        std::abort();
    }
    pthread_attr_destroy(&attributes);
    delete static_cast<std::string*>(result);
    std::size_t untouched = 0;
    while (untouched < stack.size() && stack[untouched] == unused) {
        ++untouched;
    }
    return stack.size() - untouched;
}

} // namespace

int main()
{
    const int deepest = CParameters::maxJSONDepth;
    const std::size_t shallow = stackUse(1);
    const std::size_t deep = stackUse(deepest);
    std::printf("stack used: %zu bytes at depth 1, %zu bytes at depth %d, %zu bytes a level, of %zu\n", shallow, deep,
                deepest, (deep - shallow) / (deepest - 1), stackSize);
    return deep <= stackSize * 3 / 4 ? 0 : 1;
}
