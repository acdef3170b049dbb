// The seen-message store with real uidl.txt files, fed by whole checks that
// an in-process server answers.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "pop3/session.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tests/fakes/fakes.h"
#include "tests/unit/temp_dir.h"

#ifdef _WIN32
#include <direct.h>
#else
#include <signal.h>
#include <sys/resource.h>
#endif

namespace
{

class SeenStore : public testing::Test
{
  protected:
    std::string dir;

    void SetUp() override
    {
        fakes_reset();
        settings.USEUIDL = 1;
        dir = make_temp_dir(testing::UnitTest::GetInstance()->current_test_info()->name());
        text_copy(program_directory, sizeof program_directory, dir.c_str());
    }

    // One check; returns true when it ended with QUIT answered.
    static bool check(const Pop3Peer& peer)
    {
        fake.sent.clear();
        session = SessionResult();
        pop_reset();
        return pop3_peer_serve(peer);
    }

    static Pop3Peer mailbox(std::initializer_list<PeerMessage> messages)
    {
        Pop3Peer peer;
        peer.messages = messages;
        return peer;
    }

    static std::vector<std::string> seen_ids()
    {
        std::vector<std::string> ids;
        const UidlGeneration& seen = uidl_store.generations[uidl_store.current];
        for (int i = 0; i < uidl_store.count[uidl_store.current]; i++)
            ids.push_back(seen.ids[i]);
        return ids;
    }
};

// What a check counts as new against the seen set uidl.txt gives.
TEST_F(SeenStore, UnseenIdsCountWithTheirListSizes)
{
    std::string many;
    for (int i = 0; i < 5003; i++)
        many += "id" + std::to_string(i) + "\r\n";
    const std::string id70(70, 'i');
    const struct {
        std::string file; // "-": no file
        Pop3Peer mailbox;
        int32_t count;
        int64_t size;
    } rows[] = {
        {"uid-a\r\nuid-c\r\n",
         mailbox({{"uid-a", 100}, {"uid-b", 200}, {"uid-c", 300}, {"uid-d", 400}}), 2, 600},
        // Byte for byte: "ab" and "b`" share a hash; "AbC" is not "abc".
        {"AbC\r\nwith inner space\r\nab\r\n",
         mailbox({{"abc", 1}, {"AbC", 2}, {"with inner space", 4}, {"b`", 8}}), 2, 9},
        {"-", mailbox({{"a", 1}, {"b", 2}, {"empty", 0}}), 3, 3},
        // Lines end at LF, CR LF or the end of the file; an empty line is an id.
        {"one\ntwo\r\n\nthree", mailbox({{"one", 1}, {"", 2}, {"three", 4}, {"four", 8}}), 1, 8},
        // Lines over 70 bytes are skipped, in units of 510 bytes.
        {std::string(71, 'x') + "\r\n" + std::string(510, 'y') + "tail\r\n",
         mailbox({{std::string(71, 'x').substr(0, 70), 1}, {"tail", 2}}), 1, 1},
        {id70 + "\r\n", mailbox({{id70, 1}}), 0, 0},
        // The first 5000 lines of a longer file.
        {many, mailbox({{"id4999", 1}, {"id5000", 2}}), 1, 2},
        // A server may claim any sizes: their sum stops at the 64-bit range.
        {"-", mailbox({{"a", INT64_MAX}, {"b", 1}, {"c", INT64_MAX}}), 3, INT64_MAX},
    };
    for (const auto& row : rows) {
        uidl_free();
        remove((dir + "uidl.txt").c_str());
        if (row.file != "-")
            write_file(dir + "uidl.txt", row.file);
        uidl_load();
        for (int check_count = 0; check_count < 2; check_count++) { // no acknowledge between
            EXPECT_TRUE(check(row.mailbox)) << row.file.substr(0, 40);
            EXPECT_EQ(row.count, session.message_count) << row.file.substr(0, 40);
            EXPECT_EQ(row.size, session.total_size) << row.file.substr(0, 40);
            EXPECT_TRUE(uidl_store.listing_complete);
        }
    }
}

// The messages whose headers a check asks for: the highest unseen numbers,
// each once even when a broken server lists it twice, and never a number
// the server did not list.
TEST_F(SeenStore, NewestUnseenNumbersAreDistinctAndHighestFirst)
{
    const struct {
        std::vector<std::string> lines;
        std::vector<int32_t> newest;
    } rows[] = {
        {{"1 a", "3 b", "3 c", "2 d", "3 e"}, {3, 2, 1}},
        {{"0 a", "-1 b", "x c", "3000000136 d", "2 e"}, {2}},
        {{"12 a", "1 b", "2 c", "3 d", "4 e", "5 f", "6 g", "7 h", "8 i", "9 j", "10 k", "12 l",
          "11 m", "1 n"},
         {12, 11, 10, 9, 8, 7, 6, 5, 4, 3}},
    };
    for (const auto& row : rows) {
        uidl_free();
        uidl_load();
        uidl_begin_listing();
        for (const std::string& line : row.lines)
            ASSERT_EQ(0, uidl_on_uidl_line(line.c_str())) << line;
        int32_t numbers[UIDL_NEWEST_KEPT];
        int32_t count = uidl_newest_unseen(numbers, UIDL_NEWEST_KEPT);
        EXPECT_EQ(row.newest, std::vector<int32_t>(numbers, numbers + count)) << row.lines[0];
    }
}

TEST_F(SeenStore, CommittedFileIsTheListingInServerOrder)
{
    write_file(dir + "uidl.txt", "gone\r\nb\r\n");
    uidl_load();
    ASSERT_TRUE(check(mailbox({{"c", 1}, {"a", 1}, {"b", 1}})));
    uidl_commit();
    uidl_commit(); // acknowledged twice: the same seen set
    EXPECT_EQ("c\r\na\r\nb\r\n", read_file(dir + "uidl.txt"));
    EXPECT_EQ((std::vector<std::string>{"c", "a", "b"}), seen_ids());

    ASSERT_TRUE(check(mailbox({{"c", 1}, {"a", 1}, {"b", 1}, {"d", 5}})));
    EXPECT_EQ(1, session.message_count);
    EXPECT_EQ(5, session.total_size);
    EXPECT_FALSE(check(Pop3Peer{"+OK\r\n", {}, "UIDL"})); // a listing cut short is never seen
    uidl_commit();
    EXPECT_EQ("c\r\na\r\nb\r\n", read_file(dir + "uidl.txt"));
    ASSERT_TRUE(check(mailbox({})));
    uidl_commit();
    EXPECT_EQ("", read_file(dir + "uidl.txt"));
}

TEST_F(SeenStore, AbsentStoreAcceptsListingsAndCountsNothing)
{
    ASSERT_TRUE(check(mailbox({{"a", 1}, {"b", 2}})));
    EXPECT_EQ(0, session.message_count);
    uidl_commit();
    EXPECT_EQ("<missing>", read_file(dir + "uidl.txt"));
}

// A save that fails leaves the old file whole; the seen set in memory has
// moved on all the same, and goes out at the next acknowledge or at exit.
TEST_F(SeenStore, FailedSaveLeavesTheOldFileAndIsMadeGoodLater)
{
    Pop3Peer peer;
    std::string all;
    for (int i = 0; i < 200; i++) {
        peer.messages.push_back({"a-rather-long-unique-id-" + std::to_string(i), 1});
        all += peer.messages.back().uid + "\r\n";
    }
    auto failing = [&](void (*acknowledge_or_exit)(void)) {
#ifdef _WIN32
        // The temporary file cannot be made: a directory stands in its place.
        ASSERT_EQ(0, _mkdir((dir + "uidl.txt.new").c_str()));
        acknowledge_or_exit();
        _rmdir((dir + "uidl.txt.new").c_str());
#else
        // The write fails part-way: the file size limit stops it at 1000 bytes.
        struct rlimit old_limit, limit;
        getrlimit(RLIMIT_FSIZE, &old_limit);
        limit = old_limit;
        limit.rlim_cur = 1000;
        void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limit);
        acknowledge_or_exit();
        setrlimit(RLIMIT_FSIZE, &old_limit);
        signal(SIGXFSZ, old_handler);
#endif
    };
    for (void (*later)(void) : {uidl_commit, uidl_free}) {
        write_file(dir + "uidl.txt", "old-1\r\nold-2\r\n");
        uidl_load();
        ASSERT_TRUE(check(peer));
        failing(uidl_commit);
        EXPECT_EQ("old-1\r\nold-2\r\n", read_file(dir + "uidl.txt"));
        EXPECT_EQ("<missing>", read_file(dir + "uidl.txt.new"));
        EXPECT_EQ(200u, seen_ids().size());
        later(); // an acknowledge with nothing new, or exit
        EXPECT_EQ(all, read_file(dir + "uidl.txt"));
        remove((dir + "uidl.txt").c_str());
        later();
        EXPECT_EQ("<missing>", read_file(dir + "uidl.txt")) << "written once only";
        uidl_free();
    }
}

} // namespace
