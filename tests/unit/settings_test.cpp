// The settings record against real INI files. Natively these go through the
// program's own INI reader and writer, under Wine through the Windows profile
// functions: the same rows hold both to one behaviour.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "settings/password.h"
#include "settings/settings.h"
#include "tests/fakes/fakes.h"

namespace
{

std::string temp_file(const std::string& name)
{
    std::string path = testing::TempDir() + "corvina_" + name + ".ini";
    remove(path.c_str());
    return path;
}

void write_file(const std::string& path, const std::string& text)
{
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_TRUE(file) << path;
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
}

std::string read_file(const std::string& path)
{
    std::string text;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return text;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, count);
    fclose(file);
    return text;
}

// Field by field: bytes behind a text's NUL do not matter.
void expect_same(const Settings& a, const Settings& b, const std::string& context)
{
    SCOPED_TRACE(context);
#define SAME_NUMBER(field) EXPECT_EQ(a.field, b.field) << #field
#define SAME_TEXT(field) EXPECT_STREQ(a.field, b.field) << #field
    SAME_NUMBER(USEAPOP);
    SAME_NUMBER(INTERVAL);
    SAME_NUMBER(STARTUP_WAIT);
    SAME_NUMBER(RETRY_INTERVAL);
    SAME_NUMBER(RETRY_MAX);
    SAME_TEXT(SERVER);
    SAME_TEXT(ACCOUNT);
    SAME_TEXT(PASSWORD);
    SAME_TEXT(plain_password);
    SAME_TEXT(password_mask);
    SAME_TEXT(MAILER);
    SAME_NUMBER(USE_SOUND);
    SAME_TEXT(SOUND_FILE);
    SAME_NUMBER(password_edited);
    SAME_NUMBER(STOP_IF_MSG);
    SAME_NUMBER(USE_POPUPDLG);
    SAME_NUMBER(USE_BALOON);
    SAME_NUMBER(USEUIDL);
    SAME_NUMBER(BACK_COLOR);
    SAME_NUMBER(POPUPDLG_TEXT_COLOR);
    SAME_NUMBER(POPUPDLG_BACK_COLOR);
    SAME_NUMBER(POPUPDLG_X);
    SAME_NUMBER(POPUPDLG_Y);
    for (int slot = 0; slot < ICON_SLOT_COUNT; slot++)
        SAME_TEXT(icon_file[slot]);
    SAME_NUMBER(AUTO_POPUP_CLOSE);
    SAME_NUMBER(AUTO_POPUP_CLOSE_TIME);
    SAME_NUMBER(USE_SYSTEMCOLOR);
    SAME_NUMBER(SECURITY);
#undef SAME_NUMBER
#undef SAME_TEXT
}

Settings defaults()
{
    settings_reset();
    return settings;
}

void load_from(const std::string& path)
{
    strcpy(ini_path, path.c_str());
    memset(&settings, 0x5A, sizeof settings); // load must set every field
    settings_reset();
    settings_load();
}

// The key names of a file, in order.
std::vector<std::string> keys_of(const std::string& text)
{
    std::vector<std::string> keys;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            keys.push_back(line.substr(0, equals));
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return keys;
}

const std::vector<std::string> KEY_ORDER = {
    "SERVER",
    "ACCOUNT",
    "PASSWORD",
    "USEAPOP",
    "USEUIDL",
    "INTERVAL",
    "STARTUP_WAIT",
    "RETRY_MAX",
    "RETRY_INTERVAL",
    "MAILER",
    "USE_SOUND",
    "SOUND_FILE",
    "BACK_COLOR",
    "STOP_IF_MSG",
    "USE_POPUPDLG",
    "POPUPDLG_TEXT_COLOR",
    "POPUPDLG_BACK_COLOR",
    "USE_SYSTEMCOLOR",
    "POPUPDLG_X",
    "POPUPDLG_Y",
    "USE_BALOON",
    "POPUP_ICON",
    "NORMAL_ICON",
    "CHECK_ICON",
    "ARRIVE_ICON",
    "ERROR_ICON",
    "WAIT_ICON",
    "AUTO_POPUP_CLOSE",
    "AUTO_POPUP_CLOSE_TIME",
};

TEST(Settings, DefaultsOfAFreshRecord)
{
    Settings record = defaults();
    EXPECT_EQ(1, record.USEAPOP);
    EXPECT_EQ(0, record.USEUIDL);
    EXPECT_EQ(5u, record.INTERVAL);
    EXPECT_EQ(3, record.STARTUP_WAIT);
    EXPECT_EQ(3, record.RETRY_MAX);
    EXPECT_EQ(10, record.RETRY_INTERVAL);
    EXPECT_EQ(65280u, record.BACK_COLOR);
    EXPECT_EQ(0u, record.POPUPDLG_TEXT_COLOR);
    EXPECT_EQ(65535u, record.POPUPDLG_BACK_COLOR);
    EXPECT_EQ(6, record.POPUPDLG_X);
    EXPECT_EQ(6, record.POPUPDLG_Y);
    EXPECT_EQ(30, record.AUTO_POPUP_CLOSE_TIME);
    EXPECT_STREQ("", record.SERVER);
    EXPECT_STREQ("", record.password_mask);
    for (const char* file : record.icon_file)
        EXPECT_STREQ("", file);
}

TEST(Settings, EmptySectionlessAndMissingFilesGiveTheDefaults)
{
    const Settings expected = defaults();
    const struct {
        const char* name;
        const char* text; // nullptr: no file at all
    } rows[] = {
        {"missing", nullptr},
        {"empty", ""},
        {"sectionless", "SERVER=pop.example.com\r\nINTERVAL=9\r\n"},
        {"other_section", "[OTHER]\r\nSERVER=pop.example.com\r\nUSEAPOP=0\r\n"},
    };
    for (const auto& row : rows) {
        std::string path = temp_file(row.name);
        if (row.text)
            write_file(path, row.text);
        load_from(path);
        expect_same(expected, settings, row.name);
    }
}

TEST(Settings, ValuesAreHeldToTheirRangesOnLoad)
{
    const struct {
        const char* line;
        int32_t Settings::*field;
        int32_t expected;
    } rows[] = {
        {"POPUPDLG_X=-1", &Settings::POPUPDLG_X, 0},
        {"POPUPDLG_X=7", &Settings::POPUPDLG_X, 6},
        {"POPUPDLG_Y=3", &Settings::POPUPDLG_Y, 3},
        {"POPUPDLG_Y=100", &Settings::POPUPDLG_Y, 6},
        {"AUTO_POPUP_CLOSE_TIME=0", &Settings::AUTO_POPUP_CLOSE_TIME, 1},
        {"AUTO_POPUP_CLOSE_TIME=100", &Settings::AUTO_POPUP_CLOSE_TIME, 99},
        {"AUTO_POPUP_CLOSE_TIME=99", &Settings::AUTO_POPUP_CLOSE_TIME, 99},
        {"STARTUP_WAIT=0", &Settings::STARTUP_WAIT, 0},
        {"RETRY_MAX=-4", &Settings::RETRY_MAX, -4},
        {"USEAPOP=2", &Settings::USEAPOP, 2},
        {"USEAPOP=0", &Settings::USEAPOP, 0},
        {"RETRY_INTERVAL= 42 ", &Settings::RETRY_INTERVAL, 42},
        {"RETRY_INTERVAL=12abc", &Settings::RETRY_INTERVAL, 12},
        {"RETRY_INTERVAL=abc", &Settings::RETRY_INTERVAL, 0},
        {"RETRY_INTERVAL=", &Settings::RETRY_INTERVAL, 10},
        {"RETRY_INTERVAL=\"25\"", &Settings::RETRY_INTERVAL, 25},
        {"SECURITY=2", &Settings::SECURITY, SECURITY_STLS},
        {"SECURITY=3", &Settings::SECURITY, SECURITY_STLS},
        {"SECURITY=-1", &Settings::SECURITY, SECURITY_NONE},
    };
    int n = 0;
    for (const auto& row : rows) {
        std::string path = temp_file("range" + std::to_string(n++));
        write_file(path, std::string("[CONFIG]\r\n") + row.line + "\r\n");
        load_from(path);
        EXPECT_EQ(row.expected, settings.*(row.field)) << row.line;
    }
}

TEST(Settings, IntervalHasAFloorOfThreeComparedUnsigned)
{
    const struct {
        const char* value;
        uint32_t expected;
    } rows[] = {{"0", 3},   {"1", 3},       {"2", 3},           {"3", 3},
                {"60", 60}, {"1000", 1000}, {"-1", 4294967295u}};
    int n = 0;
    for (const auto& row : rows) {
        std::string path = temp_file("interval" + std::to_string(n++));
        write_file(path, std::string("[CONFIG]\r\nINTERVAL=") + row.value + "\r\n");
        load_from(path);
        EXPECT_EQ(row.expected, settings.INTERVAL) << row.value;
    }
}

TEST(Settings, TextsAreCutAtTheirCapacity)
{
    std::string path = temp_file("cut");
    std::string server(70, 's'), mailer(300, 'm');
    write_file(path, "[CONFIG]\r\nSERVER=" + server + "\r\nMAILER=" + mailer +
                         "\r\nWAIT_ICON=" + mailer + "\r\n");
    load_from(path);
    EXPECT_EQ(server.substr(0, 64), settings.SERVER);
    EXPECT_EQ(mailer.substr(0, 260), settings.MAILER);
    EXPECT_EQ(mailer.substr(0, 260), settings.icon_file[WAIT_ICON]);
}

TEST(Settings, QuotesAroundAWholeValueAreDropped)
{
    std::string path = temp_file("quotes");
    write_file(path, "[CONFIG]\r\nMAILER=\"C:\\Program Files\\Mail\\mail.exe\" /check\r\n"
                     "SOUND_FILE=\"C:\\ding.wav\"\r\nSERVER='pop.example.com'\r\n");
    load_from(path);
    EXPECT_STREQ("\"C:\\Program Files\\Mail\\mail.exe\" /check", settings.MAILER);
    EXPECT_STREQ("C:\\ding.wav", settings.SOUND_FILE);
    EXPECT_STREQ("pop.example.com", settings.SERVER);
}

// A key with an empty value as the last bytes of a 64 KiB file, as much as
// the native reader holds: the value is empty, and nothing past the file is read.
TEST(Settings, AnEmptyValueAtTheVeryEndOfALargeFile)
{
    std::string path = temp_file("large");
    std::string head = "[CONFIG]\r\nACCOUNT=bob\r\n;";
    std::string filler(64 * 1024 - head.size() - strlen("\r\nSERVER="), 'f');
    write_file(path, head + filler + "\r\nSERVER=");
    load_from(path);
    EXPECT_STREQ("", settings.SERVER);
    EXPECT_STREQ("bob", settings.ACCOUNT);
}

#ifndef _WIN32
// The program's own writer holds no more than the reader: a file it cannot
// hold whole is left as it is rather than cut at the limit.
TEST(Settings, SavingLeavesAFileTooLargeToHoldWhole)
{
    std::string path = temp_file("too_large");
    std::string text = "[CONFIG]\r\nSERVER=old\r\n;" + std::string(64 * 1024, 'f') + "\r\n";
    write_file(path, text);
    load_from(path);
    strcpy(settings.SERVER, "new");
    settings_save();
    EXPECT_TRUE(read_file(path) == text);
}
#endif

TEST(Settings, KeysAndSectionCompareWithoutCase)
{
    std::string path = temp_file("case");
    write_file(path, "[config]\r\n  server = pop.example.com  \r\nuseapop=0\r\n");
    load_from(path);
    EXPECT_STREQ("pop.example.com", settings.SERVER);
    EXPECT_EQ(0, settings.USEAPOP);
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
        const char* mask;
    } rows[] = {
        {stored, "hunter2", "*******"},
        {altered, "", ""},
        {"", "", ""},
        {std::string(600, 'A'), "", ""}, // longer than any encoder writes
    };
    int n = 0;
    for (const auto& row : rows) {
        std::string path = temp_file("password" + std::to_string(n++));
        write_file(path, "[CONFIG]\r\nPASSWORD=" + row.value + "\r\n");
        load_from(path);
        EXPECT_EQ(row.value.substr(0, 1024), settings.PASSWORD);
        EXPECT_STREQ(row.plain, settings.plain_password) << row.value;
        EXPECT_STREQ(row.mask, settings.password_mask);
        EXPECT_EQ(0, settings.password_edited);
    }
}

TEST(Settings, FreshSaveWritesAllKeysInOrder)
{
    std::string path = temp_file("fresh");
    strcpy(ini_path, path.c_str());
    settings_reset();
    settings_applied = 1;
    settings_save();
    EXPECT_EQ(0, settings_applied);
    std::string text = read_file(path);
    EXPECT_EQ(0u, text.find("[CONFIG]")) << text;
    EXPECT_EQ(KEY_ORDER, keys_of(text));
    EXPECT_NE(std::string::npos, text.find("BACK_COLOR=65280\r\n"));
    EXPECT_NE(std::string::npos, text.find("POPUPDLG_BACK_COLOR=65535\r\n"));
    EXPECT_NE(std::string::npos, text.find("USEAPOP=1\r\n"));
}

TEST(Settings, SaveAndLoadGiveTheSameRecord)
{
    std::string path = temp_file("roundtrip");
    strcpy(ini_path, path.c_str());
    settings_reset();
    strcpy(settings.SERVER, "pop.example.com");
    strcpy(settings.ACCOUNT, "山田");
    fake.ticks = 77;
    strcpy(settings.plain_password, "パスワード");
    password_encode(settings.plain_password, settings.PASSWORD);
    update_password_mask();
    strcpy(settings.MAILER, "\"C:\\メール\\mail.exe\" /s");
    strcpy(settings.icon_file[ARRIVE_ICON], "C:\\icons\\arrive.ico");
    settings.INTERVAL = 12;
    settings.BACK_COLOR = 0x00123456;
    settings.POPUPDLG_TEXT_COLOR = 0x00FFFFFF;
    settings.POPUPDLG_X = 0;
    settings.USEUIDL = 1;
    settings.STOP_IF_MSG = 1;
    settings.AUTO_POPUP_CLOSE_TIME = 45;
    settings.SECURITY = SECURITY_STLS;
    const Settings saved = settings;
    settings_save();
    load_from(path);
    expect_same(saved, settings, "after save and load");
    EXPECT_STREQ("パスワード", settings.plain_password);
}

// A file saved with no protection is the file as it was before the key
// existed; the key follows the others while it is set, and goes again.
TEST(Settings, SecurityIsWrittenOnlyWhenSet)
{
    std::string path = temp_file("security");
    strcpy(ini_path, path.c_str());
    settings_reset();
    settings_save();
    const std::string plain = read_file(path);
    ASSERT_EQ(KEY_ORDER, keys_of(plain));
    for (int32_t security : {SECURITY_TLS, SECURITY_STLS}) {
        settings.SECURITY = security;
        settings_save();
        EXPECT_EQ(plain + "SECURITY=" + std::to_string(security) + "\r\n", read_file(path));
    }
    settings.SECURITY = SECURITY_NONE;
    settings_save();
    EXPECT_EQ(plain, read_file(path));
}

TEST(Settings, BooleansAreSavedAsOneOrZero)
{
    std::string path = temp_file("bool");
    write_file(path, "[CONFIG]\r\nUSEAPOP=2\r\nUSE_SOUND=-7\r\n");
    load_from(path);
    EXPECT_NE(0, settings.USEAPOP);
    settings_save();
    std::string text = read_file(path);
    EXPECT_NE(std::string::npos, text.find("USEAPOP=1\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("USE_SOUND=1\r\n")) << text;
}

TEST(Settings, SaveKeepsTheRestOfTheFile)
{
    std::string path = temp_file("keep");
    write_file(path, "[OTHER]\r\nkeep=me\r\n[CONFIG]\r\nSERVER=old\r\nEXTRA=stays\r\n");
    load_from(path);
    strcpy(settings.SERVER, "new");
    settings_save();
    std::string text = read_file(path);
    EXPECT_NE(std::string::npos, text.find("keep=me")) << text;
    EXPECT_NE(std::string::npos, text.find("EXTRA=stays")) << text;
    EXPECT_NE(std::string::npos, text.find("SERVER=new")) << text;
    EXPECT_EQ(std::string::npos, text.find("SERVER=old")) << text;
    load_from(path);
    EXPECT_STREQ("new", settings.SERVER);
}

} // namespace
