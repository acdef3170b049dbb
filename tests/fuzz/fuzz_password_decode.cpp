// Fuzz target: password_decode on any text, and the encoding round trip.
//
// Input: bytes 0 and 1 are the clock the encoder takes its seed from; the
// rest, up to a NUL, is the stored text to decode. A text too short to
// decode is encoded as a password of its own instead, which keeps the round
// trip busy without doubling the cost of every run.
#include <stdint.h>
#include <string.h>

#include "settings/password.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/stand_ins.h"

enum {
    STORED_MAX = 1024,      // the INI field's capacity
    SHORTEST_ENCODING = 44, // of a one-byte password
    OUT_POISON = 0x7F
};

static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decodes stored; the result must fit the 65 bytes the caller gives.
static void decode(const char* stored, char out[PLAIN_PASSWORD_MAX + 1])
{
    memset(out, OUT_POISON, PLAIN_PASSWORD_MAX + 1);
    password_decode(stored, out);
    FUZZ_CHECK(fuzz_terminated(out, PLAIN_PASSWORD_MAX + 1), "decoded password not terminated");
}

// Encodes plain (1 to 64 bytes) and checks that the text decodes back to it.
static void check_round_trip(const char* plain)
{
    size_t length = strlen(plain);
    char encoded[ENCODED_PASSWORD_MAX + 1];
    memset(encoded, OUT_POISON, sizeof encoded);
    password_encode(plain, encoded);
    FUZZ_CHECK(fuzz_terminated(encoded, sizeof encoded), "encoded text not terminated");
    size_t encoded_length = strlen(encoded);
    FUZZ_CHECK(encoded_length == 36 + 8 * length, "%zu bytes encoded as %zu", length,
               encoded_length);
    FUZZ_CHECK(strspn(encoded, ALPHABET) == encoded_length, "encoded text %s leaves the alphabet",
               encoded);
    char decoded[PLAIN_PASSWORD_MAX + 1];
    decode(encoded, decoded);
    FUZZ_CHECK(strcmp(decoded, plain) == 0, "%zu-byte password decoded as %zu bytes", length,
               strlen(decoded));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size - 2 > STORED_MAX)
        return 0;
    stand_in_ticks = (uint32_t)data[0] | (uint32_t)data[1] << 8;
    char stored[STORED_MAX + 1];
    memcpy(stored, data + 2, size - 2);
    stored[size - 2] = '\0';

    char decoded[PLAIN_PASSWORD_MAX + 1];
    decode(stored, decoded);
    if (decoded[0] != '\0')
        check_round_trip(decoded);

    if (strlen(stored) < SHORTEST_ENCODING && stored[0] != '\0')
        check_round_trip(stored);
    return 0;
}
