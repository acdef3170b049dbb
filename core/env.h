// Expansion of environment-variable references (%NAME%) in paths and
// command lines.
#pragma once

// Writes the expanded text into out (capacity bytes with the NUL). When it
// does not fit, out holds the text cut at the capacity.
void env_expand(const char* text, char* out, int capacity);
