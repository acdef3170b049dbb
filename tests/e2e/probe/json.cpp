#include "json.h"

#include <cstdio>

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr,
                                   nullptr);
    std::string out((size_t)size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring from_utf8(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring out((size_t)size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size);
    return out;
}

static std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

void Json::key(const char* name)
{
    if (need_comma_)
        out_ += ',';
    if (name) {
        out_ += quoted(name);
        out_ += ':';
    }
    need_comma_ = true;
}

Json& Json::begin_object(const char* name)
{
    key(name);
    out_ += '{';
    need_comma_ = false;
    return *this;
}

Json& Json::end_object()
{
    out_ += '}';
    need_comma_ = true;
    return *this;
}

Json& Json::begin_array(const char* name)
{
    key(name);
    out_ += '[';
    need_comma_ = false;
    return *this;
}

Json& Json::end_array()
{
    out_ += ']';
    need_comma_ = true;
    return *this;
}

Json& Json::text(const char* name, const std::wstring& value)
{
    key(name);
    out_ += quoted(utf8(value));
    return *this;
}

Json& Json::text(const char* name, const char* ascii)
{
    key(name);
    out_ += quoted(ascii);
    return *this;
}

Json& Json::number(const char* name, long long value)
{
    key(name);
    out_ += std::to_string(value);
    return *this;
}

Json& Json::boolean(const char* name, bool value)
{
    key(name);
    out_ += value ? "true" : "false";
    return *this;
}

Json& Json::null(const char* name)
{
    key(name);
    out_ += "null";
    return *this;
}

Json& Json::rect(const char* name, const RECT& value)
{
    begin_array(name);
    number(nullptr, value.left).number(nullptr, value.top);
    number(nullptr, value.right).number(nullptr, value.bottom);
    return end_array();
}

void Json::send() const
{
    fwrite(out_.data(), 1, out_.size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}
