// One reply line of the probe: a JSON object written field by field.
//
// Texts reach the probe as UTF-16 (Wine's shell32 and window manager convert
// the program's code page 932 on the way), and leave it as UTF-8, so the
// harness compares them with ordinary Japanese string literals.
#pragma once

#include <windows.h>

#include <string>

class Json
{
  public:
    Json& begin_object(const char* key = nullptr);
    Json& end_object();
    Json& begin_array(const char* key = nullptr);
    Json& end_array();
    Json& text(const char* key, const std::wstring& value);
    Json& text(const char* key, const char* ascii);
    Json& number(const char* key, long long value);
    Json& boolean(const char* key, bool value);
    Json& null(const char* key);
    Json& rect(const char* key, const RECT& value);
    // Writes the object as one line on standard output and flushes it.
    void send() const;

  private:
    void key(const char* name);
    std::string out_;
    bool need_comma_ = false;
};

std::string utf8(const std::wstring& text);
std::wstring from_utf8(const std::string& text);
