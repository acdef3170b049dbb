// Benchmarks of the portable core: one check of a 5000-message mailbox with
// unique ids (LIST and UIDL against a seen set of 5000 ids, none or all of
// them listed), the receiver alone on a long listing, and the password
// encoding. Server replies are fed in reads of RECEIVE_CHUNK bytes, as the
// connection layer reads them. Each benchmark has a floor beside it: a plain
// memchr split of the same bytes into CR LF lines, the least that any reader
// of those lines must do.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "pop3/net.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "pop3/uidl_store.h"
#include "settings/password.h"
#include "settings/settings.h"

namespace
{

const int MAILBOX = 5000;
const int LONG_LISTING = 200000; // lines: some 2.5 MB

// The server's sends of one conversation, each answering one command.
struct Transcript {
    std::vector<std::string> sends;
    std::string bytes; // all of them, for the floor
};

std::string dovecot_id(int number, char prefix)
{
    char id[32];
    snprintf(id, sizeof id, "%c%07x6b15be5f", prefix, number);
    return id;
}

// Greeting, login and STAT as Dovecot answers them, then the listings.
Transcript conversation(int messages, bool with_uidl)
{
    Transcript t;
    t.sends.push_back(
        "+OK Dovecot (Debian) ready. <5991.1.6b15be5f.dW4keB9fMog5QTkrcIV8dg==@vm>\r\n");
    t.sends.push_back("+OK Logged in.\r\n");
    t.sends.push_back("+OK " + std::to_string(messages) + " 99999999\r\n");
    std::string list = "+OK " + std::to_string(messages) + " messages:\r\n";
    std::string uidl = "+OK\r\n";
    for (int i = 1; i <= messages; i++) {
        list += std::to_string(i) + " " + std::to_string(1000 + i * 7 % 90000) + "\r\n";
        uidl += std::to_string(i) + " " + dovecot_id(i, '0') + "\r\n";
    }
    t.sends.push_back(list + ".\r\n");
    if (with_uidl) {
        t.sends.push_back(uidl + ".\r\n");
        t.sends.push_back("+OK Logging out.\r\n");
    }
    for (const std::string& send : t.sends)
        t.bytes += send;
    return t;
}

// One session, each send arriving in reads of at most RECEIVE_CHUNK bytes.
void play(const Transcript& t)
{
    session.error_kind = ERROR_NONE;
    pop_reset();
    for (const std::string& send : t.sends)
        for (size_t at = 0; at < send.size(); at += RECEIVE_CHUNK) {
            size_t length = send.size() - at;
            if (length > RECEIVE_CHUNK)
                length = RECEIVE_CHUNK;
            pop_receive(send.data() + at, (int)length);
        }
}

// Counts the CR LF lines of bytes the cheapest way: the floor.
size_t split_lines(const std::string& bytes)
{
    size_t lines = 0;
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    while (const char* lf = (const char*)memchr(p, '\n', (size_t)(end - p))) {
        lines += lf > bytes.data() && lf[-1] == '\r';
        p = lf + 1;
    }
    return lines;
}

void floor_of(benchmark::State& state, const std::string& bytes)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(split_lines(bytes));
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bytes.size());
}

// A seen set of MAILBOX ids in uidl.txt of a folder of its own, loaded.
void load_seen_set(char prefix)
{
    static char folder[] = "/tmp/corvina_bench_XXXXXX";
    static bool made = mkdtemp(folder) != nullptr;
    if (!made)
        abort();
    text_copy(program_directory, sizeof program_directory, folder);
    text_append(program_directory, sizeof program_directory, "/");
    std::string path = std::string(program_directory) + "uidl.txt";
    FILE* file = fopen(path.c_str(), "wb");
    for (int i = 1; i <= MAILBOX; i++)
        fprintf(file, "%s\r\n", dovecot_id(i, prefix).c_str());
    fclose(file);
    uidl_free();
    uidl_load();
    remove(path.c_str());
}

void set_up_account(bool with_uidl)
{
    settings_reset();
    text_copy(settings.ACCOUNT, sizeof settings.ACCOUNT, "alice");
    text_copy(settings.plain_password, sizeof settings.plain_password, "wonderland");
    settings.USEAPOP = 1;
    settings.USEUIDL = with_uidl;
}

// prefix '0' lists every seen id again; any other prefix lists none of them.
void check_mailbox(benchmark::State& state, const Transcript& t, char seen_prefix)
{
    set_up_account(true);
    load_seen_set(seen_prefix);
    int32_t expected_new = seen_prefix == '0' ? 0 : MAILBOX;
    for (auto _ : state) {
        play(t);
        if (session.error_kind != ERROR_NONE || !pop_quit_sent() ||
            session.message_count != expected_new) {
            state.SkipWithError("the check did not end as expected");
            break;
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)t.bytes.size());
    uidl_free();
}

// Without the store every listing line is accepted as it comes: what remains
// is the receiver's own work and the conversation's dispatch.
void receive_listing(benchmark::State& state, const Transcript& t)
{
    set_up_account(true);
    uidl_free();
    for (auto _ : state) {
        play(t);
        if (session.error_kind != ERROR_NONE || pop_state != POP_UIDL_SENT) {
            state.SkipWithError("the listing was not received whole");
            break;
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)t.bytes.size());
}

const char PASSWORD[] = "wonderland";

std::string encoded_password(void)
{
    char encoded[ENCODED_PASSWORD_MAX + 1];
    password_encode(PASSWORD, encoded);
    return encoded;
}

void encode_password(benchmark::State& state, const std::string& encoded)
{
    char out[ENCODED_PASSWORD_MAX + 1];
    for (auto _ : state) {
        password_encode(PASSWORD, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)encoded.size());
}

void decode_password(benchmark::State& state, const std::string& encoded)
{
    char out[PLAIN_PASSWORD_MAX + 1];
    for (auto _ : state) {
        password_decode(encoded.c_str(), out);
        benchmark::DoNotOptimize(out);
    }
    if (strcmp(out, PASSWORD) != 0)
        state.SkipWithError("the password did not decode");
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)encoded.size());
}

// Each benchmark, then its floor over the same bytes under "floor/".
template <class Run>
void add(const char* name, Run run, const std::string& bytes)
{
    benchmark::RegisterBenchmark(name, run)->Unit(benchmark::kMicrosecond);
    std::string floor_name = std::string("floor/") + name;
    benchmark::RegisterBenchmark(floor_name.c_str(), floor_of, bytes)
        ->Unit(benchmark::kMicrosecond);
}

} // namespace

int main(int argc, char** argv)
{
    static const Transcript mailbox = conversation(MAILBOX, true);
    static const Transcript listing = conversation(LONG_LISTING, false);
    static const std::string encoded = encoded_password();

    add(
        "check_5000_none_seen", [](benchmark::State& state) { check_mailbox(state, mailbox, 'x'); },
        mailbox.bytes);
    add(
        "check_5000_all_seen", [](benchmark::State& state) { check_mailbox(state, mailbox, '0'); },
        mailbox.bytes);
    add(
        "receiver_long_listing", [](benchmark::State& state) { receive_listing(state, listing); },
        listing.bytes);
    add(
        "password_encode", [](benchmark::State& state) { encode_password(state, encoded); },
        encoded);
    add(
        "password_decode", [](benchmark::State& state) { decode_password(state, encoded); },
        encoded);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
