#include "tests/unit/temp_dir.h"

#include <gtest/gtest.h>
#include <stdio.h>

#ifdef _WIN32
#include <direct.h>
static const char SEPARATOR[] = "\\";
static int make_dir(const std::string& path)
{
    return _mkdir(path.c_str());
}
#else
#include <sys/stat.h>
static const char SEPARATOR[] = "/";
static int make_dir(const std::string& path)
{
    return mkdir(path.c_str(), 0755);
}
#endif

std::string make_temp_dir(const std::string& name)
{
    std::string dir = testing::TempDir() + "corvina_" + name;
    make_dir(dir);
    // Empty it of what an earlier run left behind.
    for (const char* file : {"uidl.txt", "uidl.txt.new", "corvina.ini"}) {
        std::string path = dir + SEPARATOR + file;
        remove(path.c_str());
#ifdef _WIN32
        _rmdir(path.c_str());
#else
        rmdir(path.c_str());
#endif
    }
    return dir + SEPARATOR;
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
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return "<missing>";
    std::string text;
    char buffer[4096];
    for (size_t count; (count = fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, count);
    fclose(file);
    return text;
}
