// Fuzz target: the receiver, the conversation and the seen-message store, fed server replies the
// way the connection layer feeds them. Input: byte 0 the options (bit 0 USEUIDL, 1 USEAPOP, 2
// acknowledge after each session, 3 credentials of the full 64 bytes, 4 STLS with a handshake that
// succeeds, 5 SHOW_HEADERS); byte 1 the chunking (bits 0-2 the largest chunk, 3-7 the seed of the lengths). Then
// uidl.txt and the server's sends, separated by two NUL bytes. Each send arrives in chunks after
// the answer to the one before; an empty send is the server closing, the next a new session.
#include "core/text.h"
#include "pop3/net.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "pop3/top.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz.h"

enum { USE_UIDL = 1, USE_APOP = 2, ACKNOWLEDGE = 4, LONG_NAMES = 8, USE_STLS = 16, HEADERS = 32 };

// The largest chunk per class; the last is the connection layer's own read.
static const int CHUNK_LIMITS[8] = {1, 2, 3, 8, 64, 512, 1500, RECEIVE_CHUNK};

// 64 bytes each, with blanks and double-byte characters, never CR or LF.
static const char LONG_ACCOUNT[] =
    "user.name+\x83\x81\x81[\x83\x8b tag with blanks_0123456789_0123456789_012345678";
static const char LONG_PASSWORD[] =
    "\x83p\x83X\x83\x8f\x81[\x83h pass word with blanks ~!@#$%^&*()_+{}|:<>?.0123456789";

struct Span {
    const uint8_t* data;
    size_t size;
};

// Cuts the next part off input, up to two NUL bytes or the end.
static Span next_part(Span* input)
{
    const uint8_t* end = (const uint8_t*)memmem(input->data, input->size, "\0\0", 2);
    Span part = {input->data, end ? (size_t)(end - input->data) : input->size};
    size_t skip = end ? part.size + 2 : part.size;
    *input = {input->data + skip, input->size - skip};
    return part;
}

// Every id is one line of uidl.txt, as its hash says; saved and loaded again, it is the same.
static void check_ids(bool reload)
{
    static UidlGeneration before;
    int32_t count = uidl_store.count[uidl_store.current];
    memcpy(before.ids, uidl_store.generations[uidl_store.current].ids,
           (size_t)count * UIDL_ID_CAPACITY);
    if (reload) {
        uidl_save();
        uidl_free();
        uidl_load();
        FUZZ_CHECK(uidl_store.count[0] == count, "%d ids saved, %d loaded", (int)count,
                   (int)uidl_store.count[0]);
    }
    for (int g = 0; g < 2; g++)
        for (int32_t i = 0; i < uidl_store.count[g]; i++) {
            const char* id = uidl_store.generations[g].ids[i];
            FUZZ_CHECK(fuzz_terminated(id, UIDL_ID_CAPACITY) && !strchr(id, '\n') &&
                           uidl_store.generations[g].hashes[i] == uidl_hash(id) &&
                           (!reload || g > 0 || strcmp(id, before.ids[i]) == 0),
                       "id %d of generation %d cannot be stored as it is", (int)i, g);
        }
}

// A command that may share a send: never STLS, the login or CAPA, whose answers decide what follows.
static bool may_go_together(const char* command)
{
    static const char* const verbs[] = {"STAT\r\n", "LIST\r\n", "UIDL\r\n", "TOP ", "QUIT\r\n"};
    for (const char* verb : verbs)
        if (strncmp(command, verb, strlen(verb)) == 0)
            return true;
    return false;
}

// One session, from the connect to the close or the first failure; returns the input after it.
static Span run_session(int options, uint32_t* seed, int limit, Span input)
{
    session.error_kind = ERROR_NONE;
    int first = wire.count;
    pop_reset();
    for (bool closed = false; input.size > 0 && !closed && session.error_kind == ERROR_NONE;) {
        Span send = next_part(&input);
        closed = send.size == 0;
        for (size_t at = 0; at < send.size && session.error_kind == ERROR_NONE;) {
            *seed ^= *seed << 13, *seed ^= *seed >> 17, *seed ^= *seed << 5; // xorshift32
            size_t length = limit == RECEIVE_CHUNK ? limit : 1 + *seed % (uint32_t)limit;
            length = length < send.size - at ? length : send.size - at;
            pop_receive((const char*)send.data + at, (int)length);
            at += length;
            if (pop_state == POP_TLS_HANDSHAKE) { // the rest of the send is TLS
                at = send.size;
                pop_tls_ready();
            }
        }
    }
    // After a failure the client has closed: the rest of the server's sends are lost.
    while (session.error_kind != ERROR_NONE && input.size > 0 && next_part(&input).size > 0)
        ;
    // Each command is one line, whatever the server sent; STLS goes first;
    // only those after the login are sent together.
    for (int i = first; i < wire.count; i++) {
        const char* end = strpbrk(wire.sent[i], "\r\n");
        FUZZ_CHECK(end && strcmp(end, "\r\n") == 0 &&
                       (!(options & USE_STLS) || i > first || !strcmp(wire.sent[i], "STLS\r\n")) &&
                       (!wire.together[i] || may_go_together(wire.sent[i])),
                   "command %s", wire.sent[i]);
    }
    // At most ten headers are asked for, of distinct messages, newest first;
    // what is read of them is text that fits its field.
    int32_t tops = 0;
    int64_t previous = INT64_MAX;
    for (int i = first; i < wire.count; i++) {
        if (strncmp(wire.sent[i], "TOP ", 4) != 0)
            continue;
        int64_t number = text_parse_decimal(wire.sent[i] + 4);
        FUZZ_CHECK((options & HEADERS) && ++tops <= TOP_MESSAGES_MAX && number > 0 &&
                       number < previous,
                   "%s after %d of them", wire.sent[i], (int)(tops - 1));
        previous = number;
    }
    for (int32_t i = 0; i < top_series.read; i++)
        FUZZ_CHECK(fuzz_terminated(top_series.summaries[i].sender, HEADER_TEXT_CAPACITY) &&
                       fuzz_terminated(top_series.summaries[i].subject, HEADER_TEXT_CAPACITY),
                   "header %d", (int)i);
    // A session that has read every reply before QUIT's has a complete
    // listing, and counts no more ids than it listed; QUIT is the last command.
    bool quit = pop_quit_sent();
    FUZZ_CHECK(!quit || strcmp(wire.sent[wire.count - 1], "QUIT\r\n") == 0, "QUIT not last");
    FUZZ_CHECK(!quit || !(options & USE_UIDL) ||
                   (uidl_store.listing_complete && session.message_count >= 0 &&
                    session.message_count <= uidl_store.count[1 - uidl_store.current]),
               "%d new after QUIT", (int)session.message_count);
    if (uidl_store.generations)
        check_ids(false);
    if ((options & ACKNOWLEDGE) && uidl_store.generations) {
        uidl_commit();
        check_ids(true);
        session = SessionResult();
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
    settings.SECURITY = options & USE_STLS ? SECURITY_STLS : SECURITY_NONE;
    settings.SHOW_HEADERS = (options & HEADERS) != 0;
    pop_pipelining_server[0] = '\0'; // learnt afresh by each input's first session
    top_announced(0, 0);
    bool long_names = (options & LONG_NAMES) != 0;
    text_copy(settings.ACCOUNT, NAME_CAPACITY, long_names ? LONG_ACCOUNT : "alice");
    text_copy(settings.plain_password, NAME_CAPACITY, long_names ? LONG_PASSWORD : "wonderland");
    wire.count = 0;
    session = SessionResult();

    Span seen = next_part(&input);
    const char* path = fuzz_file("uidl.txt", seen.data, seen.size);
    if (seen.size == 0)
        remove(path);
    text_copy(program_directory, PATH_CAPACITY, path);
    program_directory[strlen(path) - strlen("uidl.txt")] = '\0';
    uidl_free();
    if (settings.USEUIDL) {
        uidl_load();
        if (uidl_store.generations)
            check_ids(true);
    }
    for (int s = 0; s < 4 && input.size > 0; s++)
        input = run_session(options, &seed, limit, input);
    return 0;
}
