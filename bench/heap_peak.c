// SPDX-License-Identifier: MIT
/* Counts the bytes a program has asked the heap for and not given back, and
 * writes the highest count to standard error when the program ends: the
 * figure valgrind's massif reports as the peak of mem_heap_B, for targets
 * that valgrind cannot run (musl under qemu-arm). Preload it:
 *
 *   qemu-arm -L <tree> -E LD_PRELOAD=<this library> <program>
 *
 * Each block carries its size, and where the C library's block starts, in a
 * header of its own just ahead of what the program sees; the C library's
 * allocator does the rest. It finds that allocator with dlsym, which
 * allocates nothing on musl (glibc's does, so it is not for glibc), and it
 * must be linked with heap_peak.map. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef union {
    struct {
        size_t size;
        size_t offset; /* from the C library's block to the program's */
    } block;
    max_align_t alignment;
} header;

static void* (*real_malloc)(size_t);
static void* (*real_realloc)(void*, size_t);
static void (*real_free)(void*);
static size_t live, peak;

static void find_real(void)
{
    if (!real_malloc) {
        /* POSIX promises that a function's address survives the trip
         * through void*; ISO C does not, hence the copies. */
        void* found = dlsym(RTLD_NEXT, "malloc");
        memcpy(&real_malloc, &found, sizeof found);
        found = dlsym(RTLD_NEXT, "realloc");
        memcpy(&real_realloc, &found, sizeof found);
        found = dlsym(RTLD_NEXT, "free");
        memcpy(&real_free, &found, sizeof found);
    }
}

/* The program's memory in the C library's block start, offset bytes in. */
static void* counted(char* start, size_t offset, size_t size)
{
    if (!start) {
        return NULL;
    }
    header* const program = (header*)(start + offset);
    program[-1].block.size = size;
    program[-1].block.offset = offset;
    live += size;
    if (live > peak) {
        peak = live;
    }
    return program;
}

static header* header_of(void* memory)
{
    return (header*)memory - 1;
}

void* malloc(size_t size)
{
    find_real();
    if (size > SIZE_MAX - sizeof(header)) {
        return NULL;
    }
    return counted(real_malloc(sizeof(header) + size), sizeof(header), size);
}

void* calloc(size_t count, size_t size)
{
    if (size && count > SIZE_MAX / size) {
        return NULL;
    }
    void* memory = malloc(count * size);
    return memory ? memset(memory, 0, count * size) : NULL;
}

void free(void* memory)
{
    if (memory) {
        live -= header_of(memory)->block.size;
        find_real();
        real_free((char*)memory - header_of(memory)->block.offset);
    }
}

/* Keeps the header's offset: only malloc's alignment is promised here. */
void* realloc(void* memory, size_t size)
{
    if (!memory) {
        return malloc(size);
    }
    const size_t old = header_of(memory)->block.size, offset = header_of(memory)->block.offset;
    if (size > SIZE_MAX - offset) {
        return NULL;
    }
    find_real();
    char* const moved = real_realloc((char*)memory - offset, offset + size);
    if (!moved) {
        return NULL;
    }
    live -= old;
    return counted(moved, offset, size);
}

/* From malloc too, the program's memory placed at the first aligned address
 * after the header: the C library's own aligned allocation may call malloc,
 * which here would be this one. */
void* aligned_alloc(size_t alignment, size_t size)
{
    if (alignment < sizeof(header)) {
        alignment = sizeof(header);
    }
    if (size > SIZE_MAX - sizeof(header) - alignment) {
        return NULL;
    }
    find_real();
    char* const start = real_malloc(sizeof(header) + alignment + size);
    if (!start) {
        return NULL;
    }
    const uintptr_t first = (uintptr_t)(start + sizeof(header));
    const uintptr_t aligned = (first + alignment - 1) / alignment * alignment;
    return counted(start, sizeof(header) + (aligned - first), size);
}

void* memalign(size_t alignment, size_t size)
{
    return aligned_alloc(alignment, size);
}

int posix_memalign(void** memory, size_t alignment, size_t size)
{
    void* const aligned = aligned_alloc(alignment, size);
    if (!aligned) {
        return ENOMEM;
    }
    *memory = aligned;
    return 0;
}

size_t malloc_usable_size(void* memory)
{
    return memory ? header_of(memory)->block.size : 0;
}

__attribute__((destructor)) static void report(void)
{
    fprintf(stderr, "heap peak: %zu bytes\n", peak);
}
