// The seen-message store with real uidl.txt files, fed by whole checks that
// an in-process server answers.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "core/text.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tests/fakes/fakes.h"
#include "tests/fakes/pop3_peer.h"
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
        uidl_free();
        settings_reset();
        settings.USEAPOP = 0;
        settings.USEUIDL = 1;
        strcpy(settings.ACCOUNT, "bob");
        strcpy(settings.plain_password, "secret");
        dir = make_temp_dir(testing::UnitTest::GetInstance()->current_test_info()->name());
        text_copy(program_directory, sizeof program_directory, dir.c_str());
    }

    void TearDown() override
    {
        uidl_free();
    }

    void write_uidl(const std::string& text)
    {
        FILE* file = fopen((dir + "uidl.txt").c_str(), "wb");
        ASSERT_TRUE(file);
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }

    std::string read_uidl(const char* name = "uidl.txt")
    {
        std::string text;
        FILE* file = fopen((dir + name).c_str(), "rb");
        if (!file)
            return "<missing>";
        int c;
        while ((c = fgetc(file)) != EOF)
            text += (char)c;
        fclose(file);
        return text;
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

TEST_F(SeenStore, SeenIdsAreNotCountedUnseenOnesWithTheirListSize)
{
    write_uidl("uid-a\r\nuid-c\r\n");
    uidl_load();
    ASSERT_TRUE(check(mailbox({{"uid-a", 100}, {"uid-b", 200}, {"uid-c", 300}, {"uid-d", 400}})));
    EXPECT_EQ(2, session.message_count);
    EXPECT_EQ(600, session.total_size);
    EXPECT_TRUE(uidl_store.listing_complete);
}

TEST_F(SeenStore, IdsCompareByteForByte)
{
    // "ab" and "b`" share a hash; "AbC" differs from "abc" only in case.
    write_uidl("AbC\r\nwith inner space\r\nab\r\n");
    uidl_load();
    ASSERT_TRUE(check(mailbox({{"abc", 1}, {"AbC", 2}, {"with inner space", 4}, {"b`", 8}})));
    EXPECT_EQ(2, session.message_count);
    EXPECT_EQ(9, session.total_size);
    EXPECT_EQ(uidl_hash("ab"), uidl_hash("b`"));
}

TEST_F(SeenStore, IdOfSeventyBytesIsAcceptedSeventyOneIsNot)
{
    uidl_load();
    std::string id70(70, 'i');
    EXPECT_TRUE(check(mailbox({{id70, 10}})));
    EXPECT_EQ(1, session.message_count);
    EXPECT_FALSE(check(mailbox({{id70 + "j", 10}})));
    EXPECT_STREQ("UIDLエラー", session.error_text);
    EXPECT_FALSE(uidl_store.listing_complete);
}

TEST_F(SeenStore, ListingOfMoreThan5000MessagesIsRefused)
{
    uidl_load();
    Pop3Peer peer;
    for (int i = 0; i < 5000; i++)
        peer.messages.push_back({"m" + std::to_string(i), 1});
    EXPECT_TRUE(check(peer));
    EXPECT_EQ(5000, session.message_count);
    peer.messages.push_back({"m5000", 1});
    EXPECT_FALSE(check(peer));
    EXPECT_STREQ("LISTエラー", session.error_text);
    EXPECT_EQ(std::string::npos, fake.sent.find("UIDL"));
}

TEST_F(SeenStore, CommittedFileIsTheListingInServerOrder)
{
    write_uidl("gone\r\nb\r\n");
    uidl_load();
    ASSERT_TRUE(check(mailbox({{"c", 1}, {"a", 1}, {"b", 1}})));
    uidl_commit();
    EXPECT_EQ("c\r\na\r\nb\r\n", read_uidl());
    EXPECT_EQ((std::vector<std::string>{"c", "a", "b"}), seen_ids());
    EXPECT_EQ("<missing>", read_uidl("uidl.txt.new"));

    ASSERT_TRUE(check(mailbox({{"c", 1}, {"a", 1}, {"b", 1}, {"d", 5}})));
    EXPECT_EQ(1, session.message_count);
    EXPECT_EQ(5, session.total_size);
}

TEST_F(SeenStore, EmptyListingGivesAnEmptyFile)
{
    write_uidl("old\r\n");
    uidl_load();
    ASSERT_TRUE(check(mailbox({})));
    EXPECT_EQ(0, session.message_count);
    uidl_commit();
    EXPECT_EQ("", read_uidl());
}

TEST_F(SeenStore, AcknowledgeWithoutACompleteListingLeavesTheFile)
{
    write_uidl("old\r\n");
    uidl_load();
    uidl_commit(); // no check at all
    EXPECT_EQ("old\r\n", read_uidl());

    Pop3Peer failing = mailbox({{"new", 1}});
    failing.refuse = "UIDL";
    EXPECT_FALSE(check(failing));
    uidl_commit();
    EXPECT_EQ("old\r\n", read_uidl());

    // A complete listing is lost once the next check sends LIST.
    ASSERT_TRUE(check(mailbox({{"new", 1}})));
    failing.refuse = "QUIT";
    EXPECT_FALSE(check(failing));
    EXPECT_TRUE(uidl_store.listing_complete); // its listing did complete
    failing.refuse = "LIST";
    EXPECT_FALSE(check(failing));
    uidl_commit();
    EXPECT_EQ("old\r\n", read_uidl());
}

TEST_F(SeenStore, ChecksWithoutAcknowledgeReportTheSameMail)
{
    write_uidl("a\r\n");
    uidl_load();
    for (int i = 0; i < 3; i++) {
        ASSERT_TRUE(check(mailbox({{"a", 1}, {"b", 20}})));
        EXPECT_EQ(1, session.message_count);
        EXPECT_EQ(20, session.total_size);
    }
}

TEST_F(SeenStore, FileOfMoreThan5000LinesLoadsTheFirst5000)
{
    std::string text;
    for (int i = 0; i < 5003; i++)
        text += "id" + std::to_string(i) + "\r\n";
    write_uidl(text);
    uidl_load();
    EXPECT_EQ(5000, uidl_store.count[0]);
    ASSERT_TRUE(check(mailbox({{"id4999", 1}, {"id5000", 2}})));
    EXPECT_EQ(1, session.message_count);
    EXPECT_EQ(2, session.total_size);
}

TEST_F(SeenStore, FileLinesAreReadAlikeWhateverTheirEnds)
{
    const std::vector<std::string> expected = {"one", "two", "", "three"};
    for (const char* text :
         {"one\r\ntwo\r\n\r\nthree\r\n", "one\ntwo\n\nthree\n", "one\ntwo\r\n\nthree"}) {
        uidl_free();
        write_uidl(text);
        uidl_load();
        EXPECT_EQ(expected, seen_ids()) << text;
    }
}

TEST_F(SeenStore, LongFileLinesAreSkippedInUnitsOf510Bytes)
{
    write_uidl(std::string(71, 'x') + "\r\n" + std::string(510, 'y') + "tail\r\nlast\r\n");
    uidl_load();
    EXPECT_EQ((std::vector<std::string>{"tail", "last"}), seen_ids());
}

TEST_F(SeenStore, MissingFileMeansEverythingIsNew)
{
    uidl_load();
    ASSERT_TRUE(check(mailbox({{"a", 1}, {"b", 2}})));
    EXPECT_EQ(2, session.message_count);
    uidl_commit();
    EXPECT_EQ("a\r\nb\r\n", read_uidl());
}

TEST_F(SeenStore, AbsentStoreAcceptsListingsAndCountsNothing)
{
    ASSERT_TRUE(check(mailbox({{"a", 1}, {"b", 2}})));
    EXPECT_EQ(0, session.message_count);
    uidl_commit();
    EXPECT_EQ("<missing>", read_uidl());
}

TEST_F(SeenStore, LoadTwiceKeepsTheStore)
{
    write_uidl("a\r\n");
    uidl_load();
    ASSERT_TRUE(check(mailbox({{"b", 1}})));
    uidl_commit();
    write_uidl("z\r\n");
    uidl_load(); // already there: the file is not read again
    EXPECT_EQ(std::vector<std::string>{"b"}, seen_ids());
}

TEST_F(SeenStore, UidlLineWithoutAListLineAddsNoSize)
{
    uidl_load();
    fake.sent.clear();
    session = SessionResult();
    pop_reset();
    for (const char* reply : {"+OK\r\n", "+OK\r\n", "+OK\r\n", "+OK 2 3\r\n", "+OK\r\n1 3\r\n.\r\n",
                              "+OK\r\n1 a\r\n2 b\r\n.\r\n"})
        pop_receive(reply, (int)strlen(reply));
    EXPECT_EQ(0, session.error_kind);
    EXPECT_EQ(2, session.message_count);
    EXPECT_EQ(3, session.total_size);
}

// A server may claim any sizes: their sum stops at the 64-bit range.
TEST_F(SeenStore, SizesAddUpWithoutOverflow)
{
    uidl_load();
    ASSERT_TRUE(check(mailbox({{"a", INT64_MAX}, {"b", 1}, {"c", INT64_MAX}})));
    EXPECT_EQ(3, session.message_count);
    EXPECT_EQ(INT64_MAX, session.total_size);
}

// No message is smaller than empty: a negative size fails the check.
TEST_F(SeenStore, NegativeListSizeIsRefused)
{
    uidl_load();
    EXPECT_FALSE(check(mailbox({{"a", 5}, {"b", -5}})));
    EXPECT_STREQ("LISTエラー", session.error_text);
    EXPECT_TRUE(check(mailbox({{"a", 5}, {"b", 0}})));
}

// A save that fails leaves the old file whole; the seen set in memory has
// moved on all the same.
TEST_F(SeenStore, FailedSaveLeavesTheOldFile)
{
    write_uidl("old-1\r\nold-2\r\n");
    uidl_load();
    Pop3Peer peer;
    for (int i = 0; i < 200; i++)
        peer.messages.push_back({"a-rather-long-unique-id-" + std::to_string(i), 1});
    ASSERT_TRUE(check(peer));

#ifdef _WIN32
    // The temporary file cannot be made: a directory stands in its place.
    ASSERT_EQ(0, _mkdir((dir + "uidl.txt.new").c_str()));
    uidl_commit();
    _rmdir((dir + "uidl.txt.new").c_str());
#else
    // The write fails part-way: the file size limit stops it at 1000 bytes.
    struct rlimit old_limit, limit;
    getrlimit(RLIMIT_FSIZE, &old_limit);
    limit = old_limit;
    limit.rlim_cur = 1000;
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    uidl_commit();
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
#endif
    EXPECT_EQ("old-1\r\nold-2\r\n", read_uidl());
    EXPECT_EQ("<missing>", read_uidl("uidl.txt.new"));
    EXPECT_EQ(200u, seen_ids().size());
}

} // namespace
