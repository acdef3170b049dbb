// Files for the tests: a fresh, empty directory per test under the test
// runner's temp folder, and whole files written and read in one call.
#pragma once

#include <string>

// A path of this process's own under the temp folder, with nothing there yet.
std::string temp_path(const std::string& name);

// Returns the directory's path with a trailing separator.
std::string make_temp_dir(const std::string& name);

void write_file(const std::string& path, const std::string& text);

// The whole file, or "<missing>" when there is none.
std::string read_file(const std::string& path);
