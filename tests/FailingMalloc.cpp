// SPDX-License-Identifier: MIT
// A malloc that fails once on demand, preloaded under the allocation-failure
// test so that every malloc of the process can fail, jsoncpp's own included,
// on any C library (natively LD_PRELOAD, under qemu-arm QEMU_SET_ENV). The
// test finds the counter with dlsym and sets it; the failure is one-shot.
// Linked with FailingMalloc.map, which exports nothing else.

#include <cstddef>
#include <cstring>

#include <dlfcn.h>

extern "C" {

// malloc calls that succeed before one fails; -1: none fails.
long cparameters_mallocs_left = -1;

#ifdef __GLIBC__
void* __libc_malloc(std::size_t size);
#endif

void* malloc(std::size_t size)
{
    if (cparameters_mallocs_left >= 0 && cparameters_mallocs_left-- == 0) {
        return nullptr;
    }
#ifdef __GLIBC__
    return __libc_malloc(size); // glibc's dlsym may allocate
#else
    static void* (*next)(std::size_t) = nullptr;
    if (next == nullptr) {
        void* const found = dlsym(RTLD_NEXT, "malloc"); // musl's allocates nothing
        std::memcpy(&next, &found, sizeof found);
    }
    return next(size);
#endif
}
}
