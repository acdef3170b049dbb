// What the fuzz targets share: invariant checks, the wire as the stand-in
// connection layer records it, and files in a temporary folder of their own.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// A broken invariant aborts with its message; libFuzzer keeps the input.
#define FUZZ_CHECK(condition, ...)                                                                 \
    ((condition) ? (void)0                                                                         \
                 : (fprintf(stderr, "invariant broken (%s:%d): ", __FILE__, __LINE__),             \
                    fprintf(stderr, __VA_ARGS__), fputc('\n', stderr), abort()))

// True when a NUL stands within the field's capacity.
inline bool fuzz_terminated(const char* field, size_t capacity)
{
    return memchr(field, '\0', capacity) != nullptr;
}

enum { WIRE_MAX = 72, WIRE_TEXT = 256 }; // more than any command the conversation forms

// Each command sent, as text: a send is cut after each CR LF.
struct Wire {
    int count;
    char sent[WIRE_MAX][WIRE_TEXT];
    bool together[WIRE_MAX]; // cut from a send of several lines
};

extern Wire wire;

// Writes the bytes as the named file in the process's temporary folder,
// removed at exit, so that parallel runs never share a file; returns its path.
const char* fuzz_file(const char* name, const uint8_t* data, size_t size);
