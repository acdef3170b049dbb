// Fuzz target: settings_load on any INI file, through the native INI code.
//
// Input: the file's content; but when byte 0 is 0xFF, byte 1 gives a count
// of 256-byte comment lines that stand before the content from byte 2 on,
// so that files around the reader's 64 KiB limit stay in reach of small
// inputs. Such files take long to read, so only one first byte asks for them.
#include <stdint.h>
#include <string.h>

#include "settings/settings.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_files.h"

enum {
    FILLER_MARK = 0xFF,
    FILLER_LINE = 256,
    CONTENT_MAX = 64 * 1024,
    FILE_MAX = 255 * FILLER_LINE + CONTENT_MAX,
    RECORD_POISON = 0xA5 // no field may keep it: every one is loaded
};

static uint8_t file_content[FILE_MAX];

static void check_text(const char* field, size_t capacity, const char* name)
{
    FUZZ_CHECK(fuzz_terminated(field, capacity), "%s is not terminated within %zu bytes", name,
               capacity);
}

#define CHECK_TEXT(field) check_text(settings.field, sizeof settings.field, #field)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t filler = 0;
    if (size >= 2 && data[0] == FILLER_MARK) {
        filler = (size_t)data[1] * FILLER_LINE;
        data += 2;
        size -= 2;
    }
    if (size > CONTENT_MAX)
        return 0;
    for (size_t at = 0; at < filler; at += FILLER_LINE) {
        memset(file_content + at, 'x', FILLER_LINE);
        file_content[at] = ';';
        memcpy(file_content + at + FILLER_LINE - 2, "\r\n", 2);
    }
    memcpy(file_content + filler, data, size);
    fuzz_write_file("corvina.ini", file_content, filler + size, ini_path, sizeof ini_path);

    memset(&settings, RECORD_POISON, sizeof settings);
    settings_applied = 1;
    settings_load();

    FUZZ_CHECK(settings.INTERVAL >= 3, "INTERVAL %u", settings.INTERVAL);
    FUZZ_CHECK(settings.POPUPDLG_X >= 0 && settings.POPUPDLG_X <= 6, "POPUPDLG_X %d",
               (int)settings.POPUPDLG_X);
    FUZZ_CHECK(settings.POPUPDLG_Y >= 0 && settings.POPUPDLG_Y <= 6, "POPUPDLG_Y %d",
               (int)settings.POPUPDLG_Y);
    FUZZ_CHECK(settings.AUTO_POPUP_CLOSE_TIME >= 1 && settings.AUTO_POPUP_CLOSE_TIME <= 99,
               "AUTO_POPUP_CLOSE_TIME %d", (int)settings.AUTO_POPUP_CLOSE_TIME);

    CHECK_TEXT(SERVER);
    CHECK_TEXT(ACCOUNT);
    CHECK_TEXT(PASSWORD);
    CHECK_TEXT(plain_password);
    CHECK_TEXT(password_mask);
    CHECK_TEXT(MAILER);
    CHECK_TEXT(SOUND_FILE);
    for (const char* icon : settings.icon_file)
        check_text(icon, PATH_CAPACITY, "an icon file");

    size_t plain_length = strlen(settings.plain_password);
    FUZZ_CHECK(strlen(settings.password_mask) == plain_length &&
                   strspn(settings.password_mask, "*") == plain_length,
               "mask %s for a password of %zu bytes", settings.password_mask, plain_length);
    FUZZ_CHECK(settings.password_edited == 0 && settings_applied == 0,
               "a load left password_edited %d, settings_applied %d", (int)settings.password_edited,
               (int)settings_applied);
    FUZZ_CHECK(fuzz_terminated(ini_path, PATH_CAPACITY), "ini_path is not terminated");
    return 0;
}
