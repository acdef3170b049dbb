// Invariant checks of the fuzz targets. A broken invariant aborts with its
// message; libFuzzer reports the abort as a crash and keeps the input.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "invariant broken (%s:%d): ", __FILE__, __LINE__);                     \
            fprintf(stderr, __VA_ARGS__);                                                          \
            fputc('\n', stderr);                                                                   \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// True when a NUL stands within the field's capacity.
inline bool fuzz_terminated(const char* field, size_t capacity)
{
    return memchr(field, '\0', capacity) != nullptr;
}
