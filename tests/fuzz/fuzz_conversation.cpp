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
#include "core/text.h"
#include "pop3/net.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz.h"

enum { USE_UIDL = 1, USE_APOP = 2, ACKNOWLEDGE = 4, LONG_CREDENTIALS = 8, SESSIONS_MAX = 4 };

// The largest chunk per class; the last reads RECEIVE_CHUNK bytes each time,
// as the connection layer does.
static const int CHUNK_LIMITS[8] = {1, 2, 3, 8, 64, 512, 1500, RECEIVE_CHUNK};

// 64 bytes each, with blanks and double-byte characters; never CR or LF,
// which the controller refuses before a session starts.
static const char LONG_ACCOUNT[] =
    "user.name+\x83\x81\x81[\x83\x8b tag with blanks_0123456789_0123456789_012345678";
static const char LONG_PASSWORD[] =
    "\x83p\x83X\x83\x8f\x81[\x83h pass word with blanks ~!@#$%^&*()_+{}|:<>?.0123456789";
static_assert(sizeof LONG_ACCOUNT == NAME_CAPACITY && sizeof LONG_PASSWORD == NAME_CAPACITY,
              "the long credentials fill their fields");

struct Span {
    const uint8_t* data;
    size_t size;
};

// Cuts the next part off input, up to two NUL bytes or the end.
static Span next_part(Span* input)
{
    Span part = *input;
    for (size_t i = 0; i + 1 < input->size; i++) {
        if (input->data[i] == 0 && input->data[i + 1] == 0) {
            part.size = i;
            *input = {input->data + i + 2, input->size - i - 2};
            return part;
        }
    }
    *input = {input->data + input->size, 0};
    return part;
}

static void check_ids(void)
{
    for (int g = 0; uidl_store.generations && g < 2; g++) {
        FUZZ_CHECK(uidl_store.count[g] >= 0 && uidl_store.count[g] <= UIDL_MAX_IDS, "%d ids",
                   (int)uidl_store.count[g]);
        for (int32_t i = 0; i < uidl_store.count[g]; i++) {
            const char* id = uidl_store.generations[g].ids[i];
            FUZZ_CHECK(fuzz_terminated(id, UIDL_ID_CAPACITY) && !strchr(id, '\n') &&
                           uidl_store.generations[g].hashes[i] == uidl_hash(id),
                       "id %d of generation %d cannot be stored as it is", (int)i, g);
        }
    }
}

// The seen set survives uidl.txt: saved and loaded again, it is the same.
static void check_reload(void)
{
    static UidlGeneration before;
    int32_t count = uidl_store.count[uidl_store.current];
    memcpy(before.ids, uidl_store.generations[uidl_store.current].ids,
           (size_t)count * UIDL_ID_CAPACITY);
    uidl_save();
    uidl_free();
    uidl_load();
    check_ids();
    FUZZ_CHECK(uidl_store.count[0] == count, "%d ids saved, %d loaded", (int)count,
               (int)uidl_store.count[0]);
    for (int32_t i = 0; i < count; i++)
        FUZZ_CHECK(strcmp(before.ids[i], uidl_store.generations[0].ids[i]) == 0,
                   "id %d changed by a save", (int)i);
}

// Each command exactly as due, in order, and logged with the secret masked.
static void check_commands(int options, int first)
{
    const char* due[6];
    int count = 0;
    if (options & USE_APOP)
        due[count++] = "APOP";
    else
        due[count++] = "USER", due[count++] = "PASS";
    due[count++] = "STAT";
    if (options & USE_UIDL)
        due[count++] = "LIST", due[count++] = "UIDL";
    due[count++] = "QUIT";
    int sent = wire.count - first;
    FUZZ_CHECK(sent <= count && !wire.log_pending, "%d commands, the last logged: %d", sent,
               !wire.log_pending);
    for (int i = 0; i < sent; i++) {
        char command[WIRE_TEXT], logged[WIRE_TEXT];
        const char* verb = due[i];
        snprintf(command, sizeof command, "%s\r\n", verb);
        snprintf(logged, sizeof logged, "%s\r\n", verb);
        if (strcmp(verb, "USER") == 0) {
            snprintf(command, sizeof command, "USER %s\r\n", settings.ACCOUNT);
            snprintf(logged, sizeof logged, "%s", command);
        } else if (strcmp(verb, "PASS") == 0) {
            snprintf(command, sizeof command, "PASS %s\r\n", settings.plain_password);
            snprintf(logged, sizeof logged, "PASS *****\r\n");
        } else if (strcmp(verb, "APOP") == 0) {
            // The digest itself is the unit tests' business; here its form.
            const char* digest = wire.sent[first + i] + strlen(settings.ACCOUNT) + 6;
            FUZZ_CHECK(strspn(digest, "0123456789abcdef") == 32, "APOP digest %s", digest);
            snprintf(command, sizeof command, "APOP %s %.32s\r\n", settings.ACCOUNT, digest);
            snprintf(logged, sizeof logged, "APOP %s *****\r\n", settings.ACCOUNT);
        }
        FUZZ_CHECK(strcmp(wire.sent[first + i], command) == 0 &&
                       strcmp(wire.logged[first + i], logged) == 0,
                   "sent %s logged %s where %s was due", wire.sent[first + i],
                   wire.logged[first + i], command);
    }
    // With unique ids, a session that asked UIDL has a complete listing exactly
    // when it went on to QUIT, and counts no more ids than it listed.
    if ((options & USE_UIDL) && sent >= count - 1) {
        FUZZ_CHECK(uidl_store.listing_complete == (sent == count), "complete %d after %d of %d",
                   uidl_store.listing_complete, sent, count);
        FUZZ_CHECK(session.message_count >= 0 &&
                       session.message_count <= uidl_store.count[1 - uidl_store.current],
                   "%d new", (int)session.message_count);
    }
}

// One session, from the connect to the close or the first failure; returns
// the input after it.
static Span run_session(int options, uint32_t* seed, int limit, Span input)
{
    session.error_kind = ERROR_NONE;
    memset(session.error_text, 0x7F, sizeof session.error_text);
    int first = wire.count;
    pop_reset();
    for (bool closed = false; input.size > 0 && !closed && session.error_kind == ERROR_NONE;) {
        Span send = next_part(&input);
        closed = send.size == 0;
        for (size_t at = 0; at < send.size && session.error_kind == ERROR_NONE;) {
            *seed ^= *seed << 13, *seed ^= *seed >> 17, *seed ^= *seed << 5; // xorshift32
            size_t length = limit == RECEIVE_CHUNK ? limit : 1 + *seed % (uint32_t)limit;
            length = length < send.size - at ? length : send.size - at;
            int before = wire.count;
            pop_receive((const char*)send.data + at, (int)length);
            at += length;
            FUZZ_CHECK(wire.count - before <= 1, "%d commands for one chunk", wire.count - before);
            FUZZ_CHECK(line_length >= 0 && line_length <= RECEIVE_LINE_MAX, "line_length %d",
                       (int)line_length);
        }
    }
    // After a failure the client has closed: the rest of the server's sends are lost.
    while (session.error_kind != ERROR_NONE && input.size > 0 && next_part(&input).size > 0)
        ;
    check_commands(options, first);
    check_ids();
    bool failed = session.error_kind != ERROR_NONE;
    FUZZ_CHECK(failed ? session.error_kind == ERROR_FAILED &&
                            fuzz_terminated(session.error_text, ERROR_TEXT_CAPACITY)
                      : session.error_text[0] == 0x7F,
               "error_kind %d with its text", (int)session.error_kind);
    if ((options & ACKNOWLEDGE) && (options & USE_UIDL)) {
        uidl_commit();
        check_reload();
        session.message_count = 0;
        session.total_size = 0;
    }
    return input;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    int options = data[0];
    uint32_t seed = 0x9E3779B9u ^ (uint32_t)(data[1] >> 3);
    int limit = CHUNK_LIMITS[data[1] % 8];
    Span input = {data + 2, size - 2};

    settings_reset();
    settings.USEUIDL = (options & USE_UIDL) != 0;
    settings.USEAPOP = (options & USE_APOP) != 0;
    bool long_credentials = (options & LONG_CREDENTIALS) != 0;
    text_copy(settings.ACCOUNT, NAME_CAPACITY, long_credentials ? LONG_ACCOUNT : "alice");
    text_copy(settings.plain_password, NAME_CAPACITY,
              long_credentials ? LONG_PASSWORD : "wonderland");
    wire.count = 0;
    session.message_count = 0;
    session.total_size = 0;

    Span seen = next_part(&input);
    const char* path = fuzz_file("uidl.txt", seen.data, seen.size);
    if (seen.size == 0)
        remove(path);
    text_copy(program_directory, PATH_CAPACITY, path);
    program_directory[strlen(path) - strlen("uidl.txt")] = '\0';
    uidl_free();
    if (settings.USEUIDL) {
        uidl_load();
        check_ids();
        check_reload();
    }
    for (int s = 0; s < SESSIONS_MAX && input.size > 0; s++)
        input = run_session(options, &seed, limit, input);
    return 0;
}
