// Expansion of environment-variable references (%NAME%) in paths and
// command lines.
#pragma once

// Writes the expanded text into out (capacity bytes with the NUL). Returns
// 0, or -1 when it did not fit and out holds it cut at the capacity.
int env_expand(const char* text, char* out, int capacity);
