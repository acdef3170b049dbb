#include "tests/unit/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

std::string make_temp_dir(const std::string& name)
{
    std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / ("corvina_" + name);
    std::filesystem::remove_all(dir); // what an earlier run left behind
    std::filesystem::create_directories(dir);
    return dir.string() + (char)std::filesystem::path::preferred_separator;
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
