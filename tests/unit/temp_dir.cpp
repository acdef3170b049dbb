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
