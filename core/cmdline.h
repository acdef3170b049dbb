// The command line: /I <ini file> selects the INI file; /S is accepted and
// changes nothing (the startup shortcut passes it).
#pragma once

extern bool ini_path_given;

void parse_command_line(const char* text);
