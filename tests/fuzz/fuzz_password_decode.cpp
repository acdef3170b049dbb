// Fuzz target: password_decode on any text, and the encoding round trip.
//
// Input: bytes 0 and 1 are the clock the encoder takes its seed from; the
// rest, up to a NUL, is the stored text to decode. A text too short to
// decode is encoded as a password of its own instead.
#include "settings/password.h"
#include "tests/fuzz/fuzz.h"

enum { ENCODED_STORED_MAX = 1024 }; // the INI field's capacity

static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The result must fit the 65 bytes the caller gives.
static void decode(const char* stored, char out[PLAIN_PASSWORD_MAX + 1])
{
    memset(out, 0x7F, PLAIN_PASSWORD_MAX + 1);
    password_decode(stored, out);
    FUZZ_CHECK(fuzz_terminated(out, PLAIN_PASSWORD_MAX + 1), "decoded password not terminated");
}

static void check_round_trip(const char* plain)
{
    size_t length = strlen(plain);
    char encoded[ENCODED_PASSWORD_MAX + 1], decoded[PLAIN_PASSWORD_MAX + 1];
    memset(encoded, 0x7F, sizeof encoded);
    password_encode(plain, encoded);
    FUZZ_CHECK(fuzz_terminated(encoded, sizeof encoded) && strlen(encoded) == 36 + 8 * length &&
                   strspn(encoded, ALPHABET) == strlen(encoded),
               "%zu bytes encoded as %s", length, encoded);
    decode(encoded, decoded);
    FUZZ_CHECK(strcmp(decoded, plain) == 0, "%zu-byte password decoded as %zu bytes", length,
               strlen(decoded));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size - 2 > ENCODED_STORED_MAX)
        return 0;
    fuzz_ticks = (uint32_t)data[0] | (uint32_t)data[1] << 8;
    char stored[ENCODED_STORED_MAX + 1], decoded[PLAIN_PASSWORD_MAX + 1];
    memcpy(stored, data + 2, size - 2);
    stored[size - 2] = '\0';
    decode(stored, decoded);
    if (decoded[0] != '\0')
        check_round_trip(decoded);
    if (strlen(stored) < 44 && stored[0] != '\0') // shorter than any encoding
        check_round_trip(stored);
    return 0;
}
