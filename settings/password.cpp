// Password encoding: seed section, bit section, MD5 check, then 100 seeded
// transpositions of everything after the seed.
//
// Each bit is stored as (r + bit) AND 63 for a generator word r; the decoder
// recovers it as the parity of value - r, which is the parity of the bit.
#include "settings/password.h"

#include <string.h>

#include "core/clock.h"
#include "pop3/md5.h"

static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

enum {
    SEED_CHARS = 4,
    CHECK_CHARS = 32,
    SHUFFLE_SWAPS = 100,
    MSEQ_WORDS = 521, // the trinomial's degree
    MSEQ_TAP = 32
};

// Multiplier of the linear congruential sequence s = s * M + 1 that fills
// the generator's first 17 words. With the increment 1, any M with
// M mod 4 == 1 gives the full period of 2^32 (Hull and Dobell), so the top
// bit that the seeding samples runs through all its states; 1566083941 also
// scores well in Knuth's spectral test (TAOCP vol. 2, 3.3.4), so successive
// seeds do not fall on few hyperplanes. Changing it makes every stored
// password unreadable.
static const uint32_t MSEQ_MULTIPLIER = 1566083941u;

static uint32_t mseq_state[MSEQ_WORDS];
static int mseq_position;

void mseq_refresh(void)
{
    for (int i = 0; i < MSEQ_TAP; i++)
        mseq_state[i] ^= mseq_state[i + MSEQ_WORDS - MSEQ_TAP];
    for (int i = MSEQ_TAP; i < MSEQ_WORDS; i++)
        mseq_state[i] ^= mseq_state[i - MSEQ_TAP];
}

void mseq_seed(uint32_t seed)
{
    uint32_t s = seed;
    uint32_t u = 0;
    for (int i = 0; i <= 16; i++) {
        for (int bit = 0; bit < 32; bit++) {
            s = s * MSEQ_MULTIPLIER + 1;
            u = (u >> 1) | (s & 0x80000000u);
        }
        mseq_state[i] = u;
    }
    mseq_state[16] = (mseq_state[16] << 23) ^ (mseq_state[0] >> 9) ^ mseq_state[15];
    for (int i = 17; i < MSEQ_WORDS; i++)
        mseq_state[i] = (mseq_state[i - 17] << 23) ^ (mseq_state[i - 16] >> 9) ^ mseq_state[i - 1];
    mseq_refresh();
    mseq_refresh();
    mseq_refresh();
    mseq_position = MSEQ_WORDS - 1;
}

uint32_t mseq_next(void)
{
    if (++mseq_position >= MSEQ_WORDS) {
        mseq_refresh();
        mseq_position = 0;
    }
    return mseq_state[mseq_position];
}

int symbol_index(char c)
{
    const char* found = c != '\0' ? strchr(ALPHABET, c) : nullptr;
    return found ? (int)(found - ALPHABET) : 0;
}

// The transpositions depend only on the seed and the text length, so the
// decoder draws the same pairs and undoes them last to first.
static void draw_swaps(uint32_t seed, uint32_t length, int pairs[SHUFFLE_SWAPS][2])
{
    uint32_t span = length - SEED_CHARS;
    mseq_seed(seed + 2);
    for (int i = 0; i < SHUFFLE_SWAPS; i++) {
        pairs[i][0] = SEED_CHARS + (int)(mseq_next() % span);
        pairs[i][1] = SEED_CHARS + (int)(mseq_next() % span);
    }
}

static void swap_chars(char* text, const int pair[2])
{
    char held = text[pair[0]];
    text[pair[0]] = text[pair[1]];
    text[pair[1]] = held;
}

void password_encode(const char* plain, char* out)
{
    uint32_t seed = clock_ticks() & 0xFFFF;
    size_t length = 0;

    mseq_seed(seed);
    for (int k = 0; k < SEED_CHARS; k++)
        out[length++] = ALPHABET[((seed >> (4 * k)) & 15) | (mseq_next() & 0x30)];

    mseq_seed(seed + 1);
    for (const unsigned char* p = (const unsigned char*)plain; *p != '\0'; p++)
        for (int k = 0; k < 8; k++)
            out[length++] = ALPHABET[(mseq_next() + ((*p >> k) & 1)) & 63];

    md5_hex(out + length, plain);
    length += CHECK_CHARS;

    int pairs[SHUFFLE_SWAPS][2];
    draw_swaps(seed, (uint32_t)length, pairs);
    for (int i = 0; i < SHUFFLE_SWAPS; i++)
        swap_chars(out, pairs[i]);
}

void password_decode(const char* stored, char* out)
{
    out[0] = '\0';
    size_t length = strlen(stored);
    // Below 44 characters there is not one byte to decode; above 548 the bit
    // section would not fit plain_password, and no encoder writes such a text.
    if (length < SEED_CHARS + 8 + CHECK_CHARS || length > ENCODED_PASSWORD_MAX)
        return;

    uint32_t seed = 0;
    for (int k = 0; k < SEED_CHARS; k++)
        seed |= (uint32_t)(symbol_index(stored[k]) & 15) << (4 * k);

    char text[ENCODED_PASSWORD_MAX + 1];
    memcpy(text, stored, length + 1);
    int pairs[SHUFFLE_SWAPS][2];
    draw_swaps(seed, (uint32_t)length, pairs);
    for (int i = SHUFFLE_SWAPS - 1; i >= 0; i--)
        swap_chars(text, pairs[i]);

    char candidate[PLAIN_PASSWORD_MAX + 1];
    size_t count = (length - SEED_CHARS - CHECK_CHARS) / 8;
    const char* bits = text + SEED_CHARS;
    mseq_seed(seed + 1);
    for (size_t i = 0; i < count; i++) {
        unsigned byte = 0;
        for (int k = 0; k < 8; k++) {
            uint32_t v = (uint32_t)symbol_index(*bits++) - mseq_next();
            byte = (byte >> 1) | ((v & 1) ? 0x80 : 0);
        }
        candidate[i] = (char)byte;
    }
    candidate[count] = '\0';

    char check[MD5_HEX_CAPACITY];
    md5_hex(check, candidate);
    if (memcmp(check, text + length - CHECK_CHARS, CHECK_CHARS) == 0)
        memcpy(out, candidate, count + 1);
}
