// The command line as the start-up code reads it.
#include <gtest/gtest.h>

#include <string>

#include "core/cmdline.h"
#include "core/text.h"
#include "settings/settings.h"

namespace
{

TEST(CommandLine, IniPathOption)
{
    const struct {
        const char* line;
        const char* ini_path; // nullptr: left as it was
    } rows[] = {
        {"", nullptr},
        {"/I C:\\x.ini", nullptr}, // the value starts right behind the letter
        {"/IC:\\mail\\corvina.ini", "C:\\mail\\corvina.ini"},
        {"/ix.ini other", "x.ini"},
        {"/I\"C:\\Program Files\\corvina\\my.ini\" /s", "C:\\Program Files\\corvina\\my.ini"},
        {"/I\"%CORVINA_TEST%\\a.ini\"", "C:\\test dir\\a.ini"},
        {"/I\"unterminated path", "unterminated path"},
        {"/I\"\"", nullptr},
        {"/s /x /I", nullptr},
        {"/Ifirst.ini /Isecond.ini", "second.ini"},
        {"/I\"C:\\ソフト\\表.ini\"", "C:\\ソフト\\表.ini"},
    };
    for (const auto& row : rows) {
        text_copy(ini_path, sizeof ini_path, "C:\\default\\corvina.ini");
        ini_path_given = false;
        parse_command_line(row.line);
        EXPECT_STREQ(row.ini_path ? row.ini_path : "C:\\default\\corvina.ini", ini_path)
            << row.line;
        EXPECT_EQ(row.ini_path != nullptr, ini_path_given) << row.line;
    }
}

} // namespace
