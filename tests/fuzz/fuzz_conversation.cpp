// Fuzz target: the response receiver, the conversation and the seen-message
// store, fed server replies the way the connection layer feeds them.
//
// Input: byte 0 holds the options (bit 0 USEUIDL, bit 1 USEAPOP, bit 2
// acknowledge after each session, bit 3 credentials of the full 64 bytes);
// byte 1 the chunking (bits 0-2 the largest chunk, bits 3-7 the seed of the
// chunk lengths). Then come the content of uidl.txt and the server's sends,
// all separated by two NUL bytes; a single NUL is an ordinary byte. Each send
// arrives in chunks after the conversation has answered the one before it;
// an empty send is the server closing, and the next send opens a new session.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "core/text.h"
#include "pop3/md5.h"
#include "pop3/net.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_files.h"
#include "tests/fuzz/stand_ins.h"

enum {
    SESSIONS_MAX = 4,
    ERROR_TEXT_POISON = 0x7F,
    SAVED_FILE_MAX = UIDL_MAX_IDS * (UIDL_ID_MAX + 2)
};

enum Option { USE_UIDL = 1, USE_APOP = 2, ACKNOWLEDGE = 4, LONG_CREDENTIALS = 8 };

// The largest chunk per chunking class; the last class reads exactly
// RECEIVE_CHUNK bytes each time, as the connection layer does.
enum { CHUNK_CLASSES = 8, FULL_READS = CHUNK_CLASSES - 1 };
static const int CHUNK_LIMITS[CHUNK_CLASSES] = {1, 2, 3, 8, 64, 512, 1500, RECEIVE_CHUNK};

// 64 bytes each, with blanks and double-byte characters; never CR or LF,
// which the controller refuses before a session starts.
static const char LONG_ACCOUNT[] =
    "user.name+\x83\x81\x81[\x83\x8b tag with blanks_0123456789_0123456789_012345678";
static const char LONG_PASSWORD[] =
    "\x83p\x83X\x83\x8f\x81[\x83h pass word with blanks ~!@#$%^&*()_+{}|:<>?.0123456789";
static_assert(sizeof LONG_ACCOUNT == NAME_CAPACITY && sizeof LONG_PASSWORD == NAME_CAPACITY,
              "the long credentials fill their fields");

static const char SEPARATOR[2] = {'\0', '\0'};

struct Span {
    const uint8_t* data;
    size_t size;
};

// Cuts the next part off input, up to the separator or the end.
static Span next_part(Span* input)
{
    Span part = {input->data, input->size};
    for (size_t i = 0; i + 1 < input->size; i++) {
        if (memcmp(input->data + i, SEPARATOR, sizeof SEPARATOR) == 0) {
            part.size = i;
            input->data += i + sizeof SEPARATOR;
            input->size -= i + sizeof SEPARATOR;
            return part;
        }
    }
    input->data += input->size;
    input->size = 0;
    return part;
}

struct Chunker {
    uint32_t state;
    int chunk_class;
};

static int next_chunk_length(Chunker* chunker)
{
    int limit = CHUNK_LIMITS[chunker->chunk_class];
    if (chunker->chunk_class == FULL_READS)
        return limit;
    chunker->state ^= chunker->state << 13; // xorshift32
    chunker->state ^= chunker->state >> 17;
    chunker->state ^= chunker->state << 5;
    return 1 + (int)(chunker->state % (uint32_t)limit);
}

// The commands of a whole session, in order; a session sends a prefix of them.
static int expected_commands(int options, const char** verbs)
{
    int count = 0;
    if (options & USE_APOP) {
        verbs[count++] = "APOP";
    } else {
        verbs[count++] = "USER";
        verbs[count++] = "PASS";
    }
    verbs[count++] = "STAT";
    if (options & USE_UIDL) {
        verbs[count++] = "LIST";
        verbs[count++] = "UIDL";
    }
    verbs[count++] = "QUIT";
    return count;
}

// The time stamp of the session's greeting, its first CR LF line across
// the sends, joined with the password: the input of the APOP digest.
static void apop_input(Span session_input, char* out, size_t capacity)
{
    char greeting[RECEIVE_LINE_MAX + 1];
    size_t length = 0;
    bool complete = false;
    while (!complete && session_input.size > 0) {
        Span send = next_part(&session_input);
        if (send.size == 0)
            break;
        for (size_t i = 0; i < send.size && !complete && length < RECEIVE_LINE_MAX; i++) {
            greeting[length++] = (char)send.data[i];
            complete = length >= 2 && greeting[length - 2] == '\r' && greeting[length - 1] == '\n';
        }
    }
    FUZZ_CHECK(complete, "APOP sent before a whole greeting");
    greeting[length] = '\0';
    const char* open = strchr(greeting, '<');
    const char* close = open ? strchr(open, '>') : nullptr;
    FUZZ_CHECK(close != nullptr, "APOP sent for a greeting without a time stamp");
    snprintf(out, capacity, "%.*s%s", (int)(close - open + 1), open, settings.plain_password);
}

static void check_command(int slot, const char* verb, Span session_input)
{
    int length = wire.length[slot];
    const char* sent = wire.sent[slot];
    FUZZ_CHECK(length >= 2 && length < WIRE_TEXT_CAPACITY, "%s command of %d bytes", verb, length);
    FUZZ_CHECK(sent[length - 2] == '\r' && sent[length - 1] == '\n', "%s without CR LF", verb);
    for (int i = 0; i < length - 2; i++)
        FUZZ_CHECK(sent[i] != '\r' && sent[i] != '\n', "%s holds a line break at %d", verb, i);

    char command[WIRE_TEXT_CAPACITY], logged[WIRE_TEXT_CAPACITY];
    if (strcmp(verb, "USER") == 0) {
        snprintf(command, sizeof command, "USER %s\r\n", settings.ACCOUNT);
        snprintf(logged, sizeof logged, "%s", command);
    } else if (strcmp(verb, "PASS") == 0) {
        snprintf(command, sizeof command, "PASS %s\r\n", settings.plain_password);
        snprintf(logged, sizeof logged, "PASS *****\r\n");
    } else if (strcmp(verb, "APOP") == 0) {
        char input[RECEIVE_LINE_MAX + NAME_CAPACITY], digest[MD5_HEX_CAPACITY];
        apop_input(session_input, input, sizeof input);
        md5_hex(digest, input);
        snprintf(command, sizeof command, "APOP %s %s\r\n", settings.ACCOUNT, digest);
        snprintf(logged, sizeof logged, "APOP %s *****\r\n", settings.ACCOUNT);
    } else {
        snprintf(command, sizeof command, "%s\r\n", verb);
        snprintf(logged, sizeof logged, "%s", command);
    }
    FUZZ_CHECK((size_t)length == strlen(command) && memcmp(sent, command, (size_t)length) == 0,
               "sent %.*s where %s was due", length, sent, command);
    FUZZ_CHECK(strcmp(wire.logged[slot], logged) == 0, "logged %s after sending %s",
               wire.logged[slot], verb);
}

static void check_receiver_and_store(void)
{
    FUZZ_CHECK(line_length >= 0 && line_length <= RECEIVE_LINE_MAX, "line_length %d",
               (int)line_length);
    for (int g = 0; g < 2; g++)
        FUZZ_CHECK(uidl_store.count[g] >= 0 && uidl_store.count[g] <= UIDL_MAX_IDS,
                   "generation %d holds %d ids", g, (int)uidl_store.count[g]);
    FUZZ_CHECK(uidl_store.list_position >= 0 && uidl_store.list_position <= UIDL_MAX_IDS,
               "LIST position %d", (int)uidl_store.list_position);
}

static void check_store_ids(void)
{
    if (!uidl_store.generations)
        return;
    for (int g = 0; g < 2; g++) {
        const UidlGeneration& generation = uidl_store.generations[g];
        for (int32_t i = 0; i < uidl_store.count[g]; i++) {
            FUZZ_CHECK(fuzz_terminated(generation.ids[i], UIDL_ID_CAPACITY),
                       "id %d of generation %d is not terminated", (int)i, g);
            FUZZ_CHECK(generation.hashes[i] == uidl_hash(generation.ids[i]),
                       "hash of id %d of generation %d is stale", (int)i, g);
        }
    }
}

static void check_error_text(void)
{
    if (session.error_kind == ERROR_NONE) {
        for (size_t i = 0; i < sizeof session.error_text; i++)
            FUZZ_CHECK(session.error_text[i] == ERROR_TEXT_POISON,
                       "error_text written by a session that did not fail");
        return;
    }
    FUZZ_CHECK(session.error_kind == ERROR_FAILED, "error_kind %d", (int)session.error_kind);
    FUZZ_CHECK(fuzz_terminated(session.error_text, sizeof session.error_text),
               "error_text is not terminated");
}

// What acknowledging a complete listing leaves in uidl.txt: the new seen set,
// one id per line with CR LF.
static void check_saved_file(void)
{
    static char expected[SAVED_FILE_MAX], saved[SAVED_FILE_MAX + 1];
    size_t expected_length = 0;
    const UidlGeneration& ids = uidl_store.generations[uidl_store.current];
    for (int32_t i = 0; i < uidl_store.count[uidl_store.current]; i++) {
        size_t length = strlen(ids.ids[i]);
        memcpy(expected + expected_length, ids.ids[i], length);
        memcpy(expected + expected_length + length, "\r\n", 2);
        expected_length += length + 2;
    }
    char path[PATH_CAPACITY];
    snprintf(path, sizeof path, "%suidl.txt", program_directory);
    FILE* file = fopen(path, "rb");
    FUZZ_CHECK(file != nullptr, "no uidl.txt after a commit");
    size_t saved_length = fread(saved, 1, sizeof saved, file);
    fclose(file);
    FUZZ_CHECK(saved_length == expected_length && memcmp(saved, expected, saved_length) == 0,
               "uidl.txt holds %zu bytes, not the %zu bytes of the seen set", saved_length,
               expected_length);
}

// One session, from the connect to the close or the first failure; returns
// the input after it.
static Span run_session(int options, Chunker* chunker, Span input)
{
    static const char CLOSE_READ[1] = {0};
    session.error_kind = ERROR_NONE;
    memset(session.error_text, ERROR_TEXT_POISON, sizeof session.error_text);
    int first_command = wire.count;
    pop_reset();

    Span session_input = input;
    bool closed = false;
    while (input.size > 0 && !closed) {
        Span send = next_part(&input);
        closed = send.size == 0;
        for (size_t at = 0; at < send.size && session.error_kind == ERROR_NONE;) {
            size_t length = (size_t)next_chunk_length(chunker);
            if (length > send.size - at)
                length = send.size - at;
            int before = wire.count;
            pop_receive((const char*)send.data + at, (int)length);
            at += length;
            FUZZ_CHECK(wire.count - before <= 1, "%d commands for one chunk", wire.count - before);
            check_receiver_and_store();
        }
        if (session.error_kind != ERROR_NONE) {
            // The client has closed: what the server sends up to its own close is lost.
            while (input.size > 0 && next_part(&input).size > 0)
                ;
            break;
        }
    }
    if (session.error_kind == ERROR_NONE)
        pop_receive(CLOSE_READ, 0); // the read that finds the connection closed

    const char* verbs[6];
    int due = expected_commands(options, verbs);
    int sent = wire.count - first_command;
    FUZZ_CHECK(sent <= due, "%d commands in one session", sent);
    for (int i = 0; i < sent; i++)
        check_command(first_command + i, verbs[i], session_input);
    FUZZ_CHECK(!wire.log_pending, "a command was never logged");
    check_error_text();
    check_store_ids();
    // With unique ids, a session that asked LIST has a complete listing
    // exactly when it went on to QUIT, and counts no more ids than it listed.
    if ((options & USE_UIDL) && sent >= due - 2) {
        FUZZ_CHECK(uidl_store.listing_complete == (sent == due),
                   "listing complete: %d after %d of %d commands", uidl_store.listing_complete,
                   sent, due);
        FUZZ_CHECK(session.message_count >= 0 &&
                       session.message_count <= uidl_store.count[1 - uidl_store.current],
                   "%d new of %d listed", (int)session.message_count,
                   (int)uidl_store.count[1 - uidl_store.current]);
    }

    if ((options & ACKNOWLEDGE) && (options & USE_UIDL)) {
        bool complete = uidl_store.listing_complete;
        uidl_commit();
        session.message_count = 0;
        session.total_size = 0;
        if (complete)
            check_saved_file();
    }
    return input;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    int options = data[0];
    Chunker chunker = {0x9E3779B9u ^ (uint32_t)(data[1] >> 3), data[1] % CHUNK_CLASSES};
    Span input = {data + 2, size - 2};

    text_copy(program_directory, sizeof program_directory, fuzz_temp_dir());
    settings_reset();
    settings.USEUIDL = (options & USE_UIDL) != 0;
    settings.USEAPOP = (options & USE_APOP) != 0;
    bool long_credentials = (options & LONG_CREDENTIALS) != 0;
    text_copy(settings.ACCOUNT, sizeof settings.ACCOUNT, long_credentials ? LONG_ACCOUNT : "alice");
    text_copy(settings.plain_password, sizeof settings.plain_password,
              long_credentials ? LONG_PASSWORD : "wonderland");
    stand_ins_reset();
    session.message_count = 0;
    session.total_size = 0;

    Span seen = next_part(&input);
    char path[PATH_CAPACITY];
    if (seen.size > 0)
        fuzz_write_file("uidl.txt", seen.data, seen.size, path, sizeof path);
    else
        fuzz_remove_file("uidl.txt");
    uidl_free();
    if (settings.USEUIDL)
        uidl_load();
    check_store_ids();

    for (int s = 0; s < SESSIONS_MAX && input.size > 0; s++)
        input = run_session(options, &chunker, input);
    return 0;
}
