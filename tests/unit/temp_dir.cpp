#include "tests/unit/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

// This process's own folder, so that test runs side by side never share a
// file; removed at exit.
static const fs::path& own_folder(void)
{
    static struct Folder {
        fs::path path = fs::path(testing::TempDir()) /
                        ("corvina_" + std::to_string(std::random_device()()));
        ~Folder()
        {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } folder;
    fs::create_directories(folder.path);
    return folder.path;
}

std::string temp_path(const std::string& name)
{
    fs::path path = own_folder() / name;
    fs::remove_all(path);
    return path.string();
}

std::string make_temp_dir(const std::string& name)
{
    std::string dir = temp_path(name);
    fs::create_directories(dir);
    return dir + (char)fs::path::preferred_separator;
}

void write_file(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return "<missing>";
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
