// Fuzz target: settings_load on any INI file, through the native INI code
// and the password decoder. Input: the file; but when byte 0 is 0xFF, byte 1
// counts 256-byte comment lines put before the rest, so that files around the
// reader's 64 KiB limit stay in reach of small inputs.
#include <initializer_list>

#include "settings/settings.h"
#include "tests/fuzz/fuzz.h"

enum { FILLER_LINE = 256, CONTENT_MAX = 64 * 1024 };

static uint8_t file_content[255 * FILLER_LINE + CONTENT_MAX];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t filler = 0;
    if (size >= 2 && data[0] == 0xFF) {
        filler = (size_t)data[1] * FILLER_LINE;
        data += 2, size -= 2;
    }
    if (size > CONTENT_MAX)
        return 0;
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
                   s.RETRY_INTERVAL >= 0 && s.SECURITY >= SECURITY_NONE &&
                   s.SECURITY <= SECURITY_STLS,
               "a number out of its range");
    for (const char* name : {s.SERVER, s.ACCOUNT, s.plain_password, s.password_mask})
        FUZZ_CHECK(fuzz_terminated(name, NAME_CAPACITY), "a name is not terminated");
    for (const char* path : {s.MAILER, s.SOUND_FILE})
        FUZZ_CHECK(fuzz_terminated(path, PATH_CAPACITY), "a path is not terminated");
    for (const char* icon : s.icon_file)
        FUZZ_CHECK(fuzz_terminated(icon, PATH_CAPACITY), "an icon file is not terminated");
    FUZZ_CHECK(fuzz_terminated(s.PASSWORD, STORED_PASSWORD_CAPACITY) &&
                   strlen(s.password_mask) == strlen(s.plain_password) && settings_applied == 0,
               "mask %s", s.password_mask);
    return 0;
}
