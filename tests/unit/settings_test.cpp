// The settings record against real INI files. Natively these go through the
// program's own INI reader and writer, under Wine through the Windows profile
// functions: the same rows hold both to one behaviour.
#include <gtest/gtest.h>

#include <stddef.h>
#include <string.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <string>

#include "settings/ini.h"
#include "settings/password.h"
#include "settings/save_result.h"
#include "settings/settings.h"
#include "tests/fakes/fakes.h"
#include "tests/unit/temp_dir.h"

namespace
{

// Loads the text as the whole file (nullptr: no file at all) into a record
// that load must set field by field.
void load_text(const std::string& name, const char* text)
{
    std::string path = temp_path(name);
    if (text)
        write_file(path, text);
    strcpy(ini_path, path.c_str());
    memset(&settings, 0x5A, sizeof settings);
    settings_reset();
    settings_applied = 1;
    settings_load();
}

// The record as a fresh file shows it: every saved field, in the saved order.
std::string saved_fresh(const char* name)
{
    std::string path = temp_path(name);
    strcpy(ini_path, path.c_str());
    settings_save();
    return read_file(path);
}

const char DEFAULT_FILE[] =
    "[CONFIG]\r\nSERVER=\r\nACCOUNT=\r\nPASSWORD=\r\nUSEAPOP=1\r\nUSEUIDL=0\r\nINTERVAL=5\r\n"
    "STARTUP_WAIT=3\r\nRETRY_MAX=3\r\nRETRY_INTERVAL=10\r\nMAILER=\r\nUSE_SOUND=0\r\n"
    "SOUND_FILE=\r\nBACK_COLOR=65280\r\nSTOP_IF_MSG=0\r\nUSE_POPUPDLG=0\r\n"
    "POPUPDLG_TEXT_COLOR=0\r\nPOPUPDLG_BACK_COLOR=65535\r\nUSE_SYSTEMCOLOR=0\r\nPOPUPDLG_X=6\r\n"
    "POPUPDLG_Y=6\r\nUSE_BALOON=0\r\nPOPUP_ICON=\r\nNORMAL_ICON=\r\nCHECK_ICON=\r\n"
    "ARRIVE_ICON=\r\nERROR_ICON=\r\nWAIT_ICON=\r\nAUTO_POPUP_CLOSE=0\r\n"
    "AUTO_POPUP_CLOSE_TIME=30\r\n";

TEST(Settings, FilesWithoutTheSectionGiveTheDefaultsAndAFreshSaveWritesThemInOrder)
{
    const struct {
        const char* name;
        const char* text;
    } rows[] = {
        {"missing", nullptr},
        {"empty", ""},
        {"sectionless", "SERVER=pop.example.com\r\nINTERVAL=9\r\n"},
        {"other_section", "[OTHER]\r\nSERVER=pop.example.com\r\nUSEAPOP=0\r\n"},
    };
    memset(&settings, 0x5A, sizeof settings);
    settings_reset(); // a fresh record, before any file
    EXPECT_EQ(DEFAULT_FILE, saved_fresh("reset"));
    EXPECT_STREQ("", settings.password_mask);
    for (const auto& row : rows) {
        load_text(row.name, row.text);
        EXPECT_EQ(0, settings_applied);
        settings_applied = 1;
        EXPECT_EQ(DEFAULT_FILE, saved_fresh("fresh")) << row.name;
        EXPECT_EQ(0, settings_applied);
        EXPECT_STREQ("", settings.plain_password);
        EXPECT_STREQ("", settings.password_mask);
    }
}

TEST(Settings, NumbersAreHeldToTheirRangesOnLoad)
{
    const struct {
        const char* line;
        size_t field; // every number is 32 bits wide
        uint32_t expected;
    } rows[] = {
        {"POPUPDLG_X=-1", offsetof(Settings, POPUPDLG_X), 0},
        {"POPUPDLG_X=7", offsetof(Settings, POPUPDLG_X), 6},
        {"POPUPDLG_Y=100", offsetof(Settings, POPUPDLG_Y), 6},
        {"POPUPDLG_Y=-1", offsetof(Settings, POPUPDLG_Y), 0},
        {"AUTO_POPUP_CLOSE_TIME=0", offsetof(Settings, AUTO_POPUP_CLOSE_TIME), 1},
        {"AUTO_POPUP_CLOSE_TIME=100", offsetof(Settings, AUTO_POPUP_CLOSE_TIME), 99},
        // INTERVAL has only a floor of three, compared unsigned.
        {"INTERVAL=2", offsetof(Settings, INTERVAL), 3},
        {"INTERVAL=1000", offsetof(Settings, INTERVAL), 1000},
        {"INTERVAL=-1", offsetof(Settings, INTERVAL), 4294967295u},
        // A negative wait or retry count gets its default; a large one stays.
        {"STARTUP_WAIT=-1", offsetof(Settings, STARTUP_WAIT), 3},
        {"STARTUP_WAIT=0", offsetof(Settings, STARTUP_WAIT), 0},
        {"STARTUP_WAIT=100", offsetof(Settings, STARTUP_WAIT), 100},
        {"RETRY_MAX=-4", offsetof(Settings, RETRY_MAX), 3},
        {"RETRY_INTERVAL=-99", offsetof(Settings, RETRY_INTERVAL), 10},
        {"RETRY_INTERVAL=100000", offsetof(Settings, RETRY_INTERVAL), 100000},
        // Read as the profile reader reads a number.
        {"USEAPOP=2", offsetof(Settings, USEAPOP), 2},
        {"RETRY_INTERVAL= 42 ", offsetof(Settings, RETRY_INTERVAL), 42},
        {"RETRY_INTERVAL=12abc", offsetof(Settings, RETRY_INTERVAL), 12},
        {"RETRY_INTERVAL=abc", offsetof(Settings, RETRY_INTERVAL), 0},
        {"RETRY_INTERVAL=", offsetof(Settings, RETRY_INTERVAL), 10},
        {"RETRY_INTERVAL=\" 25\"", offsetof(Settings, RETRY_INTERVAL), 25},
        {"BACK_COLOR=0xAbG", offsetof(Settings, BACK_COLOR), 171},
        {"BACK_COLOR=-0o17", offsetof(Settings, BACK_COLOR), 4294967281u},
        {"BACK_COLOR=\t0b1012", offsetof(Settings, BACK_COLOR), 5},
        {"BACK_COLOR=7x3", offsetof(Settings, BACK_COLOR), 7},
        {"BACK_COLOR=4294967295", offsetof(Settings, BACK_COLOR), 4294967295u},
        // Protection is never turned off by a value that is not exactly one.
        {"SECURITY=1", offsetof(Settings, SECURITY), SECURITY_TLS},
        {"SECURITY=0", offsetof(Settings, SECURITY), SECURITY_NONE},
        {"SECURITY=3", offsetof(Settings, SECURITY), SECURITY_STLS},
        {"SECURITY=-1", offsetof(Settings, SECURITY), SECURITY_STLS},
        {"SECURITY=tls", offsetof(Settings, SECURITY), SECURITY_STLS},
        {"SECURITY=", offsetof(Settings, SECURITY), SECURITY_STLS},
        {"SECURITY=0x1", offsetof(Settings, SECURITY), SECURITY_STLS},
        {"SECURITYX=0", offsetof(Settings, SECURITY), SECURITY_NONE},
        // Showing headers is read as any other switch.
        {"SHOW_HEADERS=1", offsetof(Settings, SHOW_HEADERS), 1},
        {"SHOW_HEADERS=2", offsetof(Settings, SHOW_HEADERS), 2},
        {"SHOW_HEADERS=0", offsetof(Settings, SHOW_HEADERS), 0},
        {"SHOW_HEADERS=", offsetof(Settings, SHOW_HEADERS), 0},
    };
    for (const auto& row : rows) {
        load_text("range", (std::string("[CONFIG]\r\n") + row.line + "\r\n").c_str());
        uint32_t value;
        memcpy(&value, (const char*)&settings + row.field, sizeof value);
        EXPECT_EQ(row.expected, value) << row.line;
    }
}

TEST(Settings, TextsOnLoad)
{
    const std::string long_text(300, 'm');
    const struct {
        std::string file;
        size_t field;
        std::string expected;
    } rows[] = {
        {"SERVER=" + long_text, offsetof(Settings, SERVER), long_text.substr(0, 64)},
        {"MAILER=" + long_text, offsetof(Settings, MAILER), long_text.substr(0, 260)},
        {"WAIT_ICON=" + long_text, offsetof(Settings, icon_file[WAIT_ICON]),
         long_text.substr(0, 260)},
        // Quotes around a whole value are dropped, others stay.
        {"MAILER=\"C:\\Mail\\mail.exe\" /check", offsetof(Settings, MAILER),
         "\"C:\\Mail\\mail.exe\" /check"},
        {"SOUND_FILE=\"C:\\ding.wav\"", offsetof(Settings, SOUND_FILE), "C:\\ding.wav"},
        {"SERVER", offsetof(Settings, SERVER), ""}, // a key without "=" has no value
        {"SERVER='pop.example.com'", offsetof(Settings, SERVER), "pop.example.com"},
        {"SERVER=\"\"", offsetof(Settings, SERVER), ""},
        // Section and key compare without case, every byte; blanks around them go.
        {"[other]\r\n[config]\r\nxerver=x\r\n  server = pop.example.com  ",
         offsetof(Settings, SERVER), "pop.example.com"},
    };
    for (const auto& row : rows) {
        std::string file = row.file.rfind("[", 0) == 0 ? row.file : "[CONFIG]\r\n" + row.file;
        load_text("texts", (file + "\r\n").c_str());
        EXPECT_EQ(row.expected, (const char*)&settings + row.field) << row.file;
    }
}

// A key with an empty value as the last bytes of a 64 KiB file, as much as
// the native reader holds: the value is empty, and nothing past the file is read.
TEST(Settings, AnEmptyValueAtTheVeryEndOfALargeFile)
{
    std::string head = "[CONFIG]\r\nACCOUNT=bob\r\n;";
    std::string filler(64 * 1024 - head.size() - strlen("\r\nSERVER="), 'f');
    load_text("large", (head + filler + "\r\nSERVER=").c_str());
    EXPECT_STREQ("", settings.SERVER);
    EXPECT_STREQ("bob", settings.ACCOUNT);
}

TEST(Settings, PasswordIsDecodedAndMasked)
{
    fake.ticks = 0x1234;
    char stored[ENCODED_PASSWORD_MAX + 1];
    password_encode("hunter2", stored);
    std::string altered = stored;
    altered[10] = altered[10] == 'A' ? 'B' : 'A';
    const struct {
        std::string value;
        const char* plain;
    } rows[] = {
        {stored, "hunter2"},
        {altered, ""},
        {std::string(600, 'A'), ""}, // longer than any encoder writes
    };
    for (const auto& row : rows) {
        load_text("password", ("[CONFIG]\r\nPASSWORD=" + row.value + "\r\n").c_str());
        EXPECT_EQ(row.value, settings.PASSWORD);
        EXPECT_STREQ(row.plain, settings.plain_password) << row.value;
        EXPECT_EQ(std::string(strlen(row.plain), '*'), settings.password_mask);
        EXPECT_EQ(0, settings.password_edited);
    }
}

TEST(Settings, SaveAndLoadGiveTheSameRecord)
{
    load_text("roundtrip", nullptr);
    strcpy(settings.SERVER, "pop.example.com");
    strcpy(settings.ACCOUNT, "山田");
    fake.ticks = 77;
    strcpy(settings.plain_password, "パスワード");
    password_encode(settings.plain_password, settings.PASSWORD);
    strcpy(settings.MAILER, "\"C:\\メール\\mail.exe\" /s");
    strcpy(settings.icon_file[ARRIVE_ICON], "C:\\icons\\arrive.ico");
    settings.INTERVAL = 12;
    settings.BACK_COLOR = 0x00123456;
    settings.POPUPDLG_TEXT_COLOR = 0x00FFFFFF;
    settings.POPUPDLG_X = 0;
    settings.USEUIDL = settings.STOP_IF_MSG = 1;
    settings.USE_SOUND = -7; // booleans are saved as 1 or 0
    settings.AUTO_POPUP_CLOSE_TIME = 45;
    settings.SECURITY = SECURITY_STLS;
    std::string path = ini_path;
    settings_save();
    std::string text = read_file(path);
    EXPECT_NE(std::string::npos, text.find("USE_SOUND=1\r\n")) << text;
    settings.USE_SOUND = 1;
    std::string expected = saved_fresh("expected");

    load_text("reloaded", text.c_str());
    EXPECT_STREQ("パスワード", settings.plain_password);
    EXPECT_STREQ("**********", settings.password_mask);
    EXPECT_EQ(expected, saved_fresh("actual"));
}

// With no protection and no headers shown the file is the one saved before
// the keys existed; each key follows the others while it is set, and goes again.
TEST(Settings, OptionalKeysAreWrittenOnlyWhenSet)
{
    load_text("optional", nullptr);
    std::string path = ini_path;
    const struct {
        int32_t security, show_headers;
        std::string tail;
    } rows[] = {
        {SECURITY_TLS, 0, "SECURITY=1\r\n"},
        {SECURITY_STLS, -3, "SECURITY=2\r\nSHOW_HEADERS=1\r\n"},
        {SECURITY_NONE, 1, "SHOW_HEADERS=1\r\n"},
        {SECURITY_NONE, 0, ""},
    };
    for (const auto& row : rows) {
        settings.SECURITY = row.security;
        settings.SHOW_HEADERS = row.show_headers;
        settings_save();
        EXPECT_EQ(DEFAULT_FILE + row.tail, read_file(path)) << row.tail;
    }
}

// The first start proposes the popup, TLS and no APOP: the same file as any
// record with those values.
TEST(Settings, FirstStartProposals)
{
    load_text("first", nullptr);
    settings_first_start();
    std::string expected = DEFAULT_FILE;
    for (auto [from, to] : {std::pair{"USEAPOP=1", "USEAPOP=0"}, {"USE_POPUPDLG=0", "USE_POPUPDLG=1"}})
        expected.replace(expected.find(from), strlen(from), to);
    EXPECT_EQ(expected + "SECURITY=1\r\n", saved_fresh("first-saved"));
}

// A save that cannot be done says why and leaves the file, and no copy of
// it, behind as it was; settings_applied stays set for the sheet to see.
TEST(Settings, SaveThatFailsSaysWhyAndLeavesTheFile)
{
    const std::string before = "[CONFIG]\r\nSERVER=kept\r\n";
    const struct {
        const char* name;
        int expected;
    } rows[] = {
        {"folder", SAVE_IS_FOLDER},
        {"read-only", SAVE_READ_ONLY},
        {"no-folder", SAVE_NO_FOLDER},
#ifndef _WIN32
        // Past the native writer's limit half-way through the keys.
        {"outgrown", SAVE_FAILED},
#endif
        {"writable", SAVE_DONE},
        {"longest", SAVE_DONE}, // a path of 259 bytes, the longest Windows opens
    };
    std::string folder = make_temp_dir("save");
    for (const auto& row : rows) {
        std::string path = folder + row.name;
        if (strcmp(row.name, "longest") == 0)
            path += std::string(PATH_CAPACITY - 2 - path.size(), 'x');
        std::string text = before;
        if (row.expected == SAVE_IS_FOLDER)
            make_temp_dir(std::string("save/") + row.name);
        else if (row.expected == SAVE_NO_FOLDER)
            path = folder + "missing/corvina.ini";
        else if (row.expected == SAVE_FAILED)
            text += ";" + std::string(64 * 1024 - 200, 'f') + "\r\n";
        if (row.expected != SAVE_IS_FOLDER && row.expected != SAVE_NO_FOLDER)
            write_file(path, text);
        if (row.expected == SAVE_READ_ONLY)
            chmod(path.c_str(), 0444);
        strcpy(ini_path, path.c_str());
        settings_reset();
        strcpy(settings.SERVER, "new");
        settings_applied = 1;
        EXPECT_EQ(row.expected, settings_save()) << row.name;
        EXPECT_EQ(row.expected != SAVE_DONE, settings_applied != 0) << row.name;
        EXPECT_EQ("<missing>", read_file(path.substr(0, path.size() - 1) + "~")) << row.name;
        if (row.expected == SAVE_DONE) {
            EXPECT_EQ(0u, read_file(path).find("[CONFIG]\r\nSERVER=new\r\nACCOUNT=")) << row.name;
        } else if (row.expected != SAVE_IS_FOLDER && row.expected != SAVE_NO_FOLDER) {
            EXPECT_TRUE(read_file(path) == text) << row.name;
        }
        chmod(path.c_str(), 0644);
    }
}

TEST(Settings, SaveKeepsTheRestOfTheFile)
{
    load_text("keep", "[OTHER]\r\nkeep=me\r\n[CONFIG]\r\nSERVER=old\r\nEXTRA=stays");
    std::string path = ini_path;
    strcpy(settings.SERVER, "  new"); // written without the leading blanks
    settings_save();
    std::string text = read_file(path);
    EXPECT_EQ(0u, text.find("[OTHER]\r\nkeep=me\r\n[CONFIG]\r\nSERVER=new\r\nEXTRA=stays\r\n"
                            "ACCOUNT=\r\n"))
        << text;
}

// The INI writer holds no more than its reader, 64 KiB: a file it cannot
// hold whole is left as it is rather than cut, and one that just fits is
// written. A new section starts on a line of its own.
TEST(Settings, WriterLimits)
{
    const std::string head = "[CONFIG]\r\nK=\r\n;";
    const std::string fits = head + std::string(64 * 1024 - 1 - head.size() - 2, 'f') + "\r\n";
    const struct {
        std::string before, after; // after: empty when the file stays as it was
    } rows[] = {
        {fits, head.substr(0, 12) + "v" + fits.substr(12)}, // 64 KiB after the write
        {fits + ";", ""},
        {"[CONFIG]\r\nK=old\r\n;" + std::string(64 * 1024, 'f'), ""},
        {"[OTHER]\r\nk=v\r\n", "[OTHER]\r\nk=v\r\n[CONFIG]\r\nK=v\r\n"},
        {"[OTHER]\r\nk=v", "[OTHER]\r\nk=v\r\n[CONFIG]\r\nK=v\r\n"},
    };
    std::string path = temp_path("limits");
    for (const auto& row : rows) {
        write_file(path, row.before);
        ini_write_text(path.c_str(), "CONFIG", "K", " v");
        EXPECT_TRUE(read_file(path) == (row.after.empty() ? row.before : row.after))
            << row.before.substr(0, 20) << " of " << row.before.size() << " bytes";
    }
}

} // namespace
