// Fuzz target: settings_load on any INI file, through the native INI code,
// and the password encoding round trip of what it loaded.
//
// Input: the file's content; but when byte 0 is 0xFF, byte 1 gives a count
// of 256-byte comment lines that stand before the content from byte 2 on,
// so that files around the reader's 64 KiB limit stay in reach of small
// inputs.
#include "settings/password.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz.h"

enum { FILLER_LINE = 256, CONTENT_MAX = 64 * 1024 };

static uint8_t file_content[255 * FILLER_LINE + CONTENT_MAX];

// Encodes plain (1 to 64 bytes) and checks that the text decodes back to it.
static void check_round_trip(const char* plain)
{
    static const char ALPHABET[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    char encoded[ENCODED_PASSWORD_MAX + 1], decoded[PLAIN_PASSWORD_MAX + 1];
    memset(encoded, 0x7F, sizeof encoded);
    memset(decoded, 0x7F, sizeof decoded);
    password_encode(plain, encoded);
    size_t length = strlen(plain);
    FUZZ_CHECK(fuzz_terminated(encoded, sizeof encoded) && strlen(encoded) == 36 + 8 * length &&
                   strspn(encoded, ALPHABET) == strlen(encoded),
               "%zu bytes encoded as %s", length, encoded);
    password_decode(encoded, decoded);
    FUZZ_CHECK(fuzz_terminated(decoded, sizeof decoded) && strcmp(decoded, plain) == 0,
               "%zu-byte password decoded wrong", length);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t filler = 0;
    if (size >= 2 && data[0] == 0xFF) {
        filler = (size_t)data[1] * FILLER_LINE;
        data += 2, size -= 2;
    }
    if (size > CONTENT_MAX)
        return 0;
    fuzz_ticks = (uint32_t)size * 2654435761u; // the encoder's seed
    for (size_t at = 0; at < filler; at += FILLER_LINE) {
        memset(file_content + at, 'x', FILLER_LINE);
        file_content[at] = ';';
        memcpy(file_content + at + FILLER_LINE - 2, "\r\n", 2);
    }
    memcpy(file_content + filler, data, size);
    strcpy(ini_path, fuzz_file("corvina.ini", file_content, filler + size));

    memset(&settings, 0xA5, sizeof settings); // no field may keep it: every one is loaded
    settings_applied = 1;
    settings_load();

    const Settings& s = settings;
    FUZZ_CHECK(s.INTERVAL >= 3 && s.POPUPDLG_X >= 0 && s.POPUPDLG_X <= 6 && s.POPUPDLG_Y >= 0 &&
                   s.POPUPDLG_Y <= 6 && s.AUTO_POPUP_CLOSE_TIME >= 1 &&
                   s.AUTO_POPUP_CLOSE_TIME <= 99 && s.STARTUP_WAIT >= 0 && s.RETRY_MAX >= 0 &&
                   s.RETRY_INTERVAL >= 0,
               "a number out of its range");
    const char* const texts[] = {s.SERVER,        s.ACCOUNT, s.PASSWORD,  s.plain_password,
                                 s.password_mask, s.MAILER,  s.SOUND_FILE};
    const size_t capacities[] = {NAME_CAPACITY, NAME_CAPACITY, STORED_PASSWORD_CAPACITY,
                                 NAME_CAPACITY, NAME_CAPACITY, PATH_CAPACITY,
                                 PATH_CAPACITY};
    for (size_t i = 0; i < sizeof texts / sizeof texts[0]; i++)
        FUZZ_CHECK(fuzz_terminated(texts[i], capacities[i]), "text %zu is not terminated", i);
    for (const char* icon : s.icon_file)
        FUZZ_CHECK(fuzz_terminated(icon, PATH_CAPACITY), "an icon file is not terminated");
    size_t plain_length = strlen(s.plain_password);
    FUZZ_CHECK(strlen(s.password_mask) == plain_length &&
                   strspn(s.password_mask, "*") == plain_length && s.password_edited == 0 &&
                   settings_applied == 0,
               "mask %s for a password of %zu bytes", s.password_mask, plain_length);
    // The decoded password, and any account name taken as one, survive an
    // encoding of their own.
    if (s.plain_password[0] != '\0')
        check_round_trip(s.plain_password);
    if (s.ACCOUNT[0] != '\0')
        check_round_trip(s.ACCOUNT);
    return 0;
}
