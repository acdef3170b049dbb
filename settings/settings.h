// The settings record and its INI file.
//
// One plain record holds every user setting: fixed-width integers and
// fixed-capacity byte strings, no pointers, so the settings sheet can take a
// byte copy and put it back on Cancel. Fields that have an INI key carry the
// key as their name.
#pragma once

#include <stdint.h>

#include "tray/icon_slot.h"

enum {
    NAME_CAPACITY = 65,             // server, user name, password: 64 bytes + NUL
    PATH_CAPACITY = 261,            // paths and command lines: 260 bytes + NUL
    STORED_PASSWORD_CAPACITY = 1025 // the encoded password: 1024 bytes + NUL
};

// How the connection to the server is protected.
enum Security {
    SECURITY_NONE = 0, // clear text on port 110
    SECURITY_TLS = 1,  // TLS from the first byte, port 995
    SECURITY_STLS = 2  // clear text on port 110 until STLS, then TLS
};

struct Settings {
    int32_t USEAPOP;
    uint32_t INTERVAL;      // minutes
    int32_t STARTUP_WAIT;   // seconds
    int32_t RETRY_INTERVAL; // seconds
    int32_t RETRY_MAX;
    char SERVER[NAME_CAPACITY];
    char ACCOUNT[NAME_CAPACITY];
    char PASSWORD[STORED_PASSWORD_CAPACITY]; // encoded, exactly as in the file
    char plain_password[NAME_CAPACITY];
    char password_mask[NAME_CAPACITY]; // one '*' per byte of plain_password
    char MAILER[PATH_CAPACITY];
    int32_t USE_SOUND;
    char SOUND_FILE[PATH_CAPACITY];
    int32_t password_edited; // the account page's password box was typed into
    int32_t STOP_IF_MSG;
    int32_t USE_POPUPDLG;
    int32_t USE_BALOON;
    int32_t USEUIDL;
    uint32_t BACK_COLOR; // colours are 0x00BBGGRR
    uint32_t POPUPDLG_TEXT_COLOR;
    uint32_t POPUPDLG_BACK_COLOR;
    int32_t POPUPDLG_X;                             // 0..6, left to right
    int32_t POPUPDLG_Y;                             // 0..6, top to bottom
    char icon_file[ICON_SLOT_COUNT][PATH_CAPACITY]; // empty: the built-in icon
    int32_t AUTO_POPUP_CLOSE;
    int32_t AUTO_POPUP_CLOSE_TIME; // seconds, 1..99
    int32_t USE_SYSTEMCOLOR;
    int32_t SECURITY;     // a Security value
    int32_t SHOW_HEADERS; // the announcement names the sender and subject of new mail
};

extern Settings settings;
extern char program_directory[PATH_CAPACITY]; // ends in a path separator
extern char ini_path[PATH_CAPACITY];
extern int32_t settings_applied; // a settings page stored its fields on OK

// Sets program_directory from the program file's full path and ini_path to
// "corvina.ini" in it.
void settings_locate(const char* program_file);

void settings_reset(void);
// What the first start proposes where there is no INI file yet, over the
// defaults: the popup on, TLS on port 995, no APOP. A file's missing keys
// keep the defaults, which files of earlier versions rely on.
void settings_first_start(void);
void settings_load(void);
// Writes every key, or nothing: returns a SaveResult, and a save that fails
// leaves the file as it was and settings_applied set.
int settings_save(void);
void update_password_mask(void);
