// The response receiver's line assembly: where lines end, what is dropped,
// and the 8191-byte limit of its buffer.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "core/text.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tests/fakes/fakes.h"
#include "tests/unit/temp_dir.h"

namespace
{

// The running check's listing sizes, as the seen-message store holds them.
std::vector<int64_t> listed_sizes()
{
    const UidlGeneration& listing = uidl_store.generations[1 - uidl_store.current];
    return std::vector<int64_t>(listing.sizes, listing.sizes + uidl_store.list_position);
}

void prepare(bool uidl = false)
{
    uidl_free();
    if (uidl) {
        std::string dir = make_temp_dir("receiver");
        text_copy(program_directory, sizeof program_directory, dir.c_str());
        uidl_load();
    }
    fakes_reset();
    settings_reset();
    settings.USEAPOP = 0;
    settings.USEUIDL = uidl;
    strcpy(settings.ACCOUNT, "bob");
    strcpy(settings.plain_password, "secret");
    session = SessionResult();
    pop_reset();
}

void feed(const std::string& bytes)
{
    pop_receive(bytes.data(), (int)bytes.size());
}

// A greeting of exactly `length` bytes, CR LF included.
std::string greeting_of_length(size_t length)
{
    return "+OK " + std::string(length - 6, 'g') + "\r\n";
}

TEST(Receiver, LineOfBufferSizeLessOneIsAccepted)
{
    for (size_t chunk : {(size_t)8191, (size_t)1, (size_t)4096}) {
        SCOPED_TRACE(chunk);
        prepare();
        std::string line = greeting_of_length(RECEIVE_LINE_MAX);
        for (size_t at = 0; at < line.size(); at += chunk)
            pop_receive(line.data() + at, (int)std::min(chunk, line.size() - at));
        EXPECT_EQ(0, session.error_kind);
        EXPECT_EQ("USER bob\r\n", fake.sent);
        EXPECT_EQ(line + "USER bob\r\n", fake.log);
    }
}

TEST(Receiver, ByteBeyondTheBufferFailsUnlogged)
{
    prepare();
    std::string line = greeting_of_length(RECEIVE_LINE_MAX + 1);
    EXPECT_EQ(0, pop_receive(line.data(), RECEIVE_LINE_MAX));
    EXPECT_EQ(-1, pop_receive(line.data() + RECEIVE_LINE_MAX, 1));
    EXPECT_EQ(1, session.error_kind);
    EXPECT_STREQ("受信バッファオーバーフロー", session.error_text);
    EXPECT_EQ("", fake.log);
    EXPECT_EQ("", fake.sent);
}

TEST(Receiver, OnlyCarriageReturnLineFeedEndsALine)
{
    prepare();
    feed("+OK a\nb\rc\r");
    EXPECT_EQ("", fake.log);
    feed("\n");
    EXPECT_EQ("+OK a\nb\rc\r\nUSER bob\r\n", fake.log);
}

TEST(Receiver, RestOfTheChunkIsDroppedAfterACommand)
{
    prepare();
    feed("+OK hello\r\n+OK early\r\n-ERR noise\r\n");
    EXPECT_EQ("USER bob\r\n", fake.sent);
    EXPECT_EQ("+OK hello\r\nUSER bob\r\n", fake.log);
    EXPECT_EQ(0, session.error_kind);
    feed("+OK\r\n");
    EXPECT_EQ("USER bob\r\nPASS secret\r\n", fake.sent);
}

TEST(Receiver, WholeListingInOneChunkAndTheTailDropped)
{
    prepare(true);
    feed("+OK\r\n");
    feed("+OK\r\n");
    feed("+OK\r\n");
    feed("+OK 2 3\r\n");
    ASSERT_EQ(POP_LIST_SENT, pop_state);
    feed("+OK 2 messages\r\n1 1\r\n-2 2\r\n.\r\n+OK stray\r\n");
    EXPECT_EQ((std::vector<int64_t>{1, 2}), listed_sizes());
    EXPECT_EQ(POP_UIDL_SENT, pop_state);
    EXPECT_EQ(0, line_length);
    EXPECT_EQ(std::string::npos, fake.log.find("stray"));
    feed("+OK\r\n1 a\r\n.\r\n");
    EXPECT_EQ(POP_QUIT_SENT, pop_state);
    EXPECT_EQ(1, uidl_store.count[1 - uidl_store.current]);
    EXPECT_STREQ("a", uidl_store.generations[1 - uidl_store.current].ids[0]);
}

TEST(Receiver, ResetForgetsAHalfLine)
{
    prepare();
    feed("+OK half a gree");
    pop_reset();
    feed("+OK\r\n");
    EXPECT_EQ("+OK\r\nUSER bob\r\n", fake.log);
}

TEST(Receiver, ShortNegativeLines)
{
    const char* lines[] = {"\r\n", "+\r\n", "+O\r\n", "-\r\n"};
    for (const char* line : lines) {
        prepare();
        feed(line);
        EXPECT_EQ(1, session.error_kind) << line;
        EXPECT_STREQ(line, session.error_text);
        EXPECT_EQ(line, fake.log);
    }
}

} // namespace
