// A fresh, empty directory per test under the test runner's temp folder.
#pragma once

#include <string>

// Returns the directory's path with a trailing separator.
std::string make_temp_dir(const std::string& name);
