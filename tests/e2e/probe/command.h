// The probe's commands: one line of words in, one JSON object out.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "json.h"

struct Args {
    std::string line;
    std::vector<std::string> words; // words[0] is the command
    std::vector<size_t> starts;     // where each word starts in the line

    std::string word(size_t index) const
    {
        return index < words.size() ? words[index] : "";
    }
    long long number(size_t index) const
    {
        return std::strtoll(word(index).c_str(), nullptr, 0);
    }
    // The line from word `index` on, spaces kept: a path.
    std::string rest_from(size_t index) const
    {
        return index < starts.size() ? line.substr(starts[index]) : "";
    }
};

// A handler adds its fields to the reply, or returns false with a reason.
typedef bool (*Handler)(const Args& args, Json& reply, std::string* error);
