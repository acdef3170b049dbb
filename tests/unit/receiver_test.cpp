// The response receiver's line assembly: where lines end, what is dropped,
// and the 8191-byte limit of its buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pop3/receiver.h"
#include "pop3/session.h"
#include "tests/fakes/fakes.h"

namespace
{

const std::string LONGEST = "+OK " + std::string(RECEIVE_LINE_MAX - 6, 'g') + "\r\n";

TEST(Receiver, ChunksToLines)
{
    const struct {
        std::vector<std::string> chunks; // each fed whole; "RESET" calls pop_reset
        std::string sent, log, error_text;
        int returned; // by the last chunk
    } rows[] = {
        {{LONGEST}, "USER bob\r\n", LONGEST + "USER bob\r\n", "", 0},
        // The byte beyond the buffer fails the check, logging nothing.
        {{std::string(RECEIVE_LINE_MAX, 'x'), "y"}, "", "", "受信バッファオーバーフロー", -1},
        // Only CR LF ends a line.
        {{"+OK a\nb\rc\r", "\n"}, "USER bob\r\n", "+OK a\nb\rc\r\nUSER bob\r\n", "", 0},
        // Once a command is sent, the rest of the chunk is dropped.
        {{"+OK hello\r\n+OK early\r\n-ERR noise\r\n", "+OK\r\n"},
         "USER bob\r\nPASS secret\r\n",
         "+OK hello\r\nUSER bob\r\n+OK\r\nPASS *****\r\n",
         "",
         0},
        {{"+OK half a gree", "RESET", "+OK\r\n"}, "USER bob\r\n", "+OK\r\nUSER bob\r\n", "", 0},
        {{"\r\n"}, "", "\r\n", "\r\n", -1},
    };
    for (const auto& row : rows) {
        fakes_reset();
        int returned = 0;
        for (const std::string& chunk : row.chunks)
            if (chunk == "RESET")
                pop_reset();
            else
                returned = pop_receive(chunk.data(), (int)chunk.size());
        EXPECT_EQ(row.sent, fake.sent) << row.chunks[0].substr(0, 20);
        EXPECT_EQ(row.log, fake.log) << row.chunks[0].substr(0, 20);
        EXPECT_EQ(row.error_text, session.error_text) << row.chunks[0].substr(0, 20);
        EXPECT_EQ(row.error_text.empty() ? ERROR_NONE : ERROR_FAILED, session.error_kind);
        EXPECT_EQ(row.returned, returned);
    }
}

} // namespace
