// The settings record, its defaults and the keys of the INI file.
//
// The keys are read and written in one fixed order, the order of the table
// below; a new file therefore lists them in that order. Text values are cut
// at their field's capacity; some numbers are held to their ranges on load.
// SECURITY, the last key, is written only when it is not its default, so a
// file saved with the default holds the same 29 keys, byte for byte. Read
// back, it is one of its values written exactly or else STLS: a damaged or
// hand-written line never turns protection off, and a check then either runs
// protected or fails with a text the user sees.
#include "settings/settings.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "core/text.h"
#include "settings/ini.h"
#include "settings/password.h"

Settings settings;
char program_directory[PATH_CAPACITY];
char ini_path[PATH_CAPACITY];
int32_t settings_applied;

static const char SECTION[] = "CONFIG";
static const char INI_FILE_NAME[] = "corvina.ini";
enum { INT_TEXT_CAPACITY = 16 }; // a 32-bit number in decimal, with its sign

enum KeyKind {
    KEY_TEXT,     // byte string of the field's capacity
    KEY_PASSWORD, // encoded password, decoded into plain_password on load
    KEY_BOOL,     // read as an integer, written as "1" or "0"
    KEY_INT,      // signed decimal; colours too
    KEY_CHOICE    // one of min to max; the default removes the key, anything but
                  // a missing key or an exact value reads as max
};

// A range applied on load; min > max means none.
struct KeyRange {
    int32_t min, max;
    bool is_unsigned_floor;    // INTERVAL: only a lower bound, compared unsigned
    bool negative_is_fallback; // a time or count below zero: the default instead
};

struct KeySpec {
    const char* key;
    KeyKind kind;
    size_t offset;
    size_t capacity; // texts only
    int32_t fallback;
    KeyRange range;
};

#define FIELD(name) offsetof(Settings, name), sizeof(Settings::name)
#define NUMBER(name) offsetof(Settings, name), 0
#define ICON(slot) offsetof(Settings, icon_file) + (slot)*PATH_CAPACITY, PATH_CAPACITY

static const KeyRange NO_RANGE = {1, 0, false, false};
// A wait or a retry count cannot be negative; above the sheet's range a
// hand-written value may be meant and stays.
static const KeyRange NOT_NEGATIVE = {1, 0, false, true};

static const KeySpec KEYS[] = {
    {"SERVER", KEY_TEXT, FIELD(SERVER), 0, NO_RANGE},
    {"ACCOUNT", KEY_TEXT, FIELD(ACCOUNT), 0, NO_RANGE},
    {"PASSWORD", KEY_PASSWORD, FIELD(PASSWORD), 0, NO_RANGE},
    {"USEAPOP", KEY_BOOL, NUMBER(USEAPOP), 1, NO_RANGE},
    {"USEUIDL", KEY_BOOL, NUMBER(USEUIDL), 0, NO_RANGE},
    {"INTERVAL", KEY_INT, NUMBER(INTERVAL), 5, {3, 0, true, false}},
    {"STARTUP_WAIT", KEY_INT, NUMBER(STARTUP_WAIT), 3, NOT_NEGATIVE},
    {"RETRY_MAX", KEY_INT, NUMBER(RETRY_MAX), 3, NOT_NEGATIVE},
    {"RETRY_INTERVAL", KEY_INT, NUMBER(RETRY_INTERVAL), 10, NOT_NEGATIVE},
    {"MAILER", KEY_TEXT, FIELD(MAILER), 0, NO_RANGE},
    {"USE_SOUND", KEY_BOOL, NUMBER(USE_SOUND), 0, NO_RANGE},
    {"SOUND_FILE", KEY_TEXT, FIELD(SOUND_FILE), 0, NO_RANGE},
    {"BACK_COLOR", KEY_INT, NUMBER(BACK_COLOR), 65280, NO_RANGE}, // green
    {"STOP_IF_MSG", KEY_BOOL, NUMBER(STOP_IF_MSG), 0, NO_RANGE},
    {"USE_POPUPDLG", KEY_BOOL, NUMBER(USE_POPUPDLG), 0, NO_RANGE},
    {"POPUPDLG_TEXT_COLOR", KEY_INT, NUMBER(POPUPDLG_TEXT_COLOR), 0, NO_RANGE},     // black
    {"POPUPDLG_BACK_COLOR", KEY_INT, NUMBER(POPUPDLG_BACK_COLOR), 65535, NO_RANGE}, // yellow
    {"USE_SYSTEMCOLOR", KEY_BOOL, NUMBER(USE_SYSTEMCOLOR), 0, NO_RANGE},
    {"POPUPDLG_X", KEY_INT, NUMBER(POPUPDLG_X), 6, {0, 6, false, false}},
    {"POPUPDLG_Y", KEY_INT, NUMBER(POPUPDLG_Y), 6, {0, 6, false, false}},
    {"USE_BALOON", KEY_BOOL, NUMBER(USE_BALOON), 0, NO_RANGE},
    {"POPUP_ICON", KEY_TEXT, ICON(POPUP_ICON), 0, NO_RANGE},
    {"NORMAL_ICON", KEY_TEXT, ICON(NORMAL_ICON), 0, NO_RANGE},
    {"CHECK_ICON", KEY_TEXT, ICON(CHECK_ICON), 0, NO_RANGE},
    {"ARRIVE_ICON", KEY_TEXT, ICON(ARRIVE_ICON), 0, NO_RANGE},
    {"ERROR_ICON", KEY_TEXT, ICON(ERROR_ICON), 0, NO_RANGE},
    {"WAIT_ICON", KEY_TEXT, ICON(WAIT_ICON), 0, NO_RANGE},
    {"AUTO_POPUP_CLOSE", KEY_BOOL, NUMBER(AUTO_POPUP_CLOSE), 0, NO_RANGE},
    {"AUTO_POPUP_CLOSE_TIME", KEY_INT, NUMBER(AUTO_POPUP_CLOSE_TIME), 30, {1, 99, false, false}},
    {"SECURITY", KEY_CHOICE, NUMBER(SECURITY), SECURITY_NONE,
     {SECURITY_NONE, SECURITY_STLS, false, false}},
};

static char* text_field(const KeySpec& entry)
{
    return (char*)&settings + entry.offset;
}

// Every numeric field is 32 bits wide; INTERVAL and the colours are unsigned.
static int32_t* number_field(const KeySpec& entry)
{
    return (int32_t*)((char*)&settings + entry.offset);
}

static int32_t apply_range(int32_t value, const KeySpec& entry)
{
    KeyRange range = entry.range;
    if (range.negative_is_fallback && value < 0)
        return entry.fallback;
    if (range.is_unsigned_floor)
        return (uint32_t)value < (uint32_t)range.min ? range.min : value;
    if (range.min > range.max)
        return value;
    if (value < range.min)
        return range.min;
    if (value > range.max)
        return range.max;
    return value;
}

static int32_t read_choice(const KeySpec& entry)
{
    char text[INT_TEXT_CAPACITY];
    ini_read_text(ini_path, SECTION, entry.key, text, sizeof text);
    if (text[0] == '\0' && !ini_key_present(ini_path, SECTION, entry.key))
        return entry.fallback;
    for (int32_t value = entry.range.min; value <= entry.range.max; value++) {
        char digits[INT_TEXT_CAPACITY];
        snprintf(digits, sizeof digits, "%d", (int)value);
        if (strcmp(text, digits) == 0)
            return value;
    }
    return entry.range.max;
}

void settings_locate(const char* program_file)
{
    // The directory part ends at the last separator; a trail byte of a
    // double-byte character may look like a backslash and is stepped over.
    size_t end = 0;
    for (size_t i = 0; program_file[i] != '\0'; i++) {
        unsigned char c = (unsigned char)program_file[i];
        if (text_is_lead_byte(c) && program_file[i + 1] != '\0')
            i++;
        else if (c == '\\' || c == '/' || (c == ':' && i == 1))
            end = i + 1;
    }
    if (end > PATH_CAPACITY - 1)
        end = PATH_CAPACITY - 1;
    memcpy(program_directory, program_file, end);
    program_directory[end] = '\0';
    text_copy(ini_path, sizeof ini_path, program_directory);
    text_append(ini_path, sizeof ini_path, INI_FILE_NAME);
}

void settings_reset(void)
{
    for (const KeySpec& entry : KEYS) {
        if (entry.kind == KEY_TEXT || entry.kind == KEY_PASSWORD)
            text_field(entry)[0] = '\0';
        else
            *number_field(entry) = entry.fallback;
    }
    settings.plain_password[0] = '\0';
    update_password_mask();
}

void settings_load(void)
{
    for (const KeySpec& entry : KEYS) {
        switch (entry.kind) {
        case KEY_TEXT:
            ini_read_text(ini_path, SECTION, entry.key, text_field(entry), (int)entry.capacity);
            break;
        case KEY_PASSWORD:
            ini_read_text(ini_path, SECTION, entry.key, settings.PASSWORD,
                          sizeof settings.PASSWORD);
            if (settings.PASSWORD[0] != '\0')
                password_decode(settings.PASSWORD, settings.plain_password);
            else
                settings.plain_password[0] = '\0';
            update_password_mask();
            settings.password_edited = 0;
            break;
        case KEY_BOOL:
        case KEY_INT:
            *number_field(entry) =
                apply_range(ini_read_int(ini_path, SECTION, entry.key, entry.fallback), entry);
            break;
        case KEY_CHOICE:
            *number_field(entry) = read_choice(entry);
            break;
        }
    }
    settings_applied = 0;
}

void settings_save(void)
{
    for (const KeySpec& entry : KEYS) {
        char number[INT_TEXT_CAPACITY];
        const char* value = number;
        switch (entry.kind) {
        case KEY_TEXT:
        case KEY_PASSWORD:
            value = text_field(entry);
            break;
        case KEY_BOOL:
            snprintf(number, sizeof number, "%d", *number_field(entry) != 0);
            break;
        case KEY_INT:
        case KEY_CHOICE:
            snprintf(number, sizeof number, "%d", (int)*number_field(entry));
            if (entry.kind == KEY_CHOICE && *number_field(entry) == entry.fallback)
                value = nullptr;
            break;
        }
        // A file another program holds past the wait takes no further key.
        if (ini_write_text(ini_path, SECTION, entry.key, value) != 0)
            break;
    }
    settings_applied = 0;
}

void update_password_mask(void)
{
    size_t length = strlen(settings.plain_password);
    memset(settings.password_mask, '*', length);
    settings.password_mask[length] = '\0';
}
