// Recording stand-ins for what the portable core calls outside itself.
// Tests read what was recorded and reset it with fakes_reset.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct FakeWorld {
    std::string log;  // everything log_append received since the last log_clear
    std::string sent; // every byte given to net_send
    uint32_t ticks;   // what clock_ticks answers

    // The seen-message store's line handlers: what they were given.
    std::vector<std::string> list_lines, uidl_lines;
    int listings_begun, listings_ended;
    int refuse_list_line_at; // -1: accept all; n: refuse the n-th (0-based)
    int refuse_uidl_line_at;
};

extern FakeWorld fake;

void fakes_reset(void);
