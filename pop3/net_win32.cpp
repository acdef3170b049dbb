// The connection layer on Windows Sockets 2 in window-message mode.
//
// Nothing here blocks: the name lookup runs on a thread of its own, and
// connects and reads complete as messages to the hidden main window. Every
// address of the name, IPv6 and IPv4 in the resolver's order, may be tried:
// a refusal starts the next at once, and an attempt that has not answered
// within two ticks gets the next started beside it. The first to connect
// carries the session and the others are closed; the session's time-out
// covers them all. Messages about a lookup or socket that is no longer
// current are not ours, and a socket's handle is not given to another while
// messages about it may still come. Once TLS is on, reads and sends go
// through the TLS module, which hands the plaintext to the response receiver.
//
// A readable notice reads until the socket is empty: Wine announces data
// once per read, so one read per notice would make a long listing wait a
// message per chunk. Once QUIT has had its "+OK" the check is complete; a
// server that then never closes is closed after a short wait, and the check
// stands as the success it was.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <stdio.h>

#include "core/app_win32.h"
#include "pop3/cert_win32.h"
#include "pop3/lookup_win32.h"
#include "pop3/net.h"
#include "pop3/receiver.h"
#include "pop3/server_address.h"
#include "pop3/session.h"
#include "pop3/tls.h"
#include "settings/settings.h"
#include "ui/session_log.h"

enum {
    ATTEMPT_MAX = 4,         // connection attempts under way at once
    ATTEMPT_DELAY_TICKS = 2, // an attempt's head start over the next: 0.5 to 1 s
    READS_PER_NOTICE = 64,   // a server that never stops still lets other messages in
    RETIRING_MAX = 8         // sockets shut down whose last messages may still wait
};

static SOCKET session_socket = INVALID_SOCKET;
static SOCKET attempts[ATTEMPT_MAX];
static SOCKET retiring[RETIRING_MAX];
static const addrinfo* attempt_addresses[ATTEMPT_MAX];
static Lookup* pending_lookup;
static Lookup* answered_lookup; // the name's addresses, while they are tried
static addrinfo* literal_address;
static const addrinfo* next_address;
static const char* attempt_failure; // the text when no address connects
static int32_t last_attempt_tick;
static bool looked_up; // the log then names the address connected to
static char server_host[NAME_CAPACITY];
static int server_port;
static int32_t timeout_ticks;
static int32_t quit_wait_ticks;

static int fail(const char* text)
{
    set_error_text(text);
    session.error_kind = ERROR_FAILED;
    return -1;
}

void net_init(void)
{
    session_socket = INVALID_SOCKET;
    for (int slot = 0; slot < ATTEMPT_MAX; slot++)
        attempts[slot] = INVALID_SOCKET;
    for (int slot = 0; slot < RETIRING_MAX; slot++)
        retiring[slot] = INVALID_SOCKET;
    pending_lookup = NULL;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        MessageBoxA(NULL, "WSAStartup() Error.", "ERROR", MB_OK);
}

static int retiring_slot(SOCKET socket_handle)
{
    for (int slot = 0; slot < RETIRING_MAX; slot++) {
        if (retiring[slot] == socket_handle)
            return slot;
    }
    return -1;
}

void net_cleanup(void)
{
    net_close();
    cert_cleanup();
    for (int slot = 0; slot < RETIRING_MAX; slot++) {
        if (retiring[slot] != INVALID_SOCKET)
            closesocket(retiring[slot]);
        retiring[slot] = INVALID_SOCKET;
    }
    WSACleanup();
}

// Windows gives a closed socket's handle to the next socket made, while
// messages about the old one may still wait in the queue; they would be taken
// for the new one's. So a socket is silenced and shut down at once, but closed
// only when a message of no event, posted behind its last ones, comes back.
static void close_socket(SOCKET* socket_handle)
{
    SOCKET closing = *socket_handle;
    if (closing == INVALID_SOCKET)
        return;
    *socket_handle = INVALID_SOCKET;
    WSAAsyncSelect(closing, main_window, 0, 0);
    shutdown(closing, SD_BOTH);
    int slot = retiring_slot(INVALID_SOCKET);
    if (slot >= 0 && PostMessageA(main_window, WM_SOCKET_NOTIFY, (WPARAM)closing, 0))
        retiring[slot] = closing;
    else
        closesocket(closing);
}

// Whatever comes for a retiring socket is over; its own last message closes it.
static int on_retiring_message(int slot, uint32_t event)
{
    if (event == 0) {
        closesocket(retiring[slot]);
        retiring[slot] = INVALID_SOCKET;
    }
    return NET_HANDLED;
}

static void close_attempts(void)
{
    for (int slot = 0; slot < ATTEMPT_MAX; slot++)
        close_socket(&attempts[slot]);
}

void net_close(void)
{
    pending_lookup = NULL; // freed when its answer arrives
    close_attempts();
    next_address = NULL;
    if (answered_lookup) {
        lookup_free(answered_lookup);
        answered_lookup = NULL;
    }
    if (literal_address) {
        freeaddrinfo(literal_address);
        literal_address = NULL;
    }
    tls_end(); // its close_notify goes out before the socket closes
    close_socket(&session_socket);
}

static int attempt_slot(SOCKET socket_handle)
{
    for (int slot = 0; slot < ATTEMPT_MAX; slot++) {
        if (attempts[slot] == socket_handle)
            return slot;
    }
    return -1;
}

// Starts connecting to the next address that takes a connect, in a free
// slot; false when there is no slot or no such address.
static bool start_next_attempt(void)
{
    int slot = attempt_slot(INVALID_SOCKET);
    while (slot >= 0 && next_address) {
        const addrinfo* address = next_address;
        next_address = address->ai_next;
        SOCKET attempt = socket(address->ai_family, SOCK_STREAM, IPPROTO_TCP);
        if (attempt == INVALID_SOCKET) {
            attempt_failure = "ソケット作成失敗";
            continue;
        }
        // Also makes the socket non-blocking.
        if (WSAAsyncSelect(attempt, main_window, WM_SOCKET_NOTIFY,
                           FD_CONNECT | FD_READ | FD_CLOSE) != 0) {
            close_socket(&attempt);
            attempt_failure = "WSAAsyncSelect() ｴﾗｰ";
            continue;
        }
        if (connect(attempt, address->ai_addr, (int)address->ai_addrlen) == SOCKET_ERROR &&
            WSAGetLastError() != WSAEWOULDBLOCK) {
            close_socket(&attempt);
            attempt_failure = "サーバへの接続失敗";
            continue;
        }
        attempts[slot] = attempt;
        attempt_addresses[slot] = address;
        last_attempt_tick = timeout_ticks;
        return true;
    }
    return false;
}

// The session fails once no attempt is under way and none can start.
static int go_on_connecting(void)
{
    if (start_next_attempt())
        return NET_HANDLED;
    for (int slot = 0; slot < ATTEMPT_MAX; slot++) {
        if (attempts[slot] != INVALID_SOCKET)
            return NET_HANDLED;
    }
    net_close();
    fail(attempt_failure);
    return NET_SESSION_OVER;
}

static int begin_connecting(const addrinfo* addresses)
{
    pop_reset();
    next_address = addresses;
    attempt_failure = "サーバへの接続失敗";
    return go_on_connecting();
}

int net_start(void)
{
    net_close();
    timeout_ticks = quit_wait_ticks = 0;
    server_port = server_split(settings.SERVER, server_default_port(settings.SECURITY), server_host,
                               sizeof server_host);
    char port[8];
    snprintf(port, sizeof port, "%d", server_port);
    addrinfo hints = {};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (getaddrinfo(server_host, port, &hints, &literal_address) == 0) {
        looked_up = false;
        return begin_connecting(literal_address) == NET_SESSION_OVER ? -1 : 0;
    }
    literal_address = NULL;
    pending_lookup = lookup_start(server_host, server_port);
    if (!pending_lookup) {
        net_close();
        return fail("ｻｰﾊﾞIPｱﾄﾞﾚｽの取得失敗");
    }
    return 0;
}

// Only this layer posts the message: an answer nobody waits for any more
// is freed here.
int net_on_lookup(uintptr_t task, uint32_t)
{
    Lookup* lookup = (Lookup*)task;
    if (!pending_lookup || lookup != pending_lookup) {
        if (lookup)
            lookup_free(lookup);
        return NET_NOT_MINE;
    }
    pending_lookup = NULL;
    answered_lookup = lookup;
    if (!lookup_addresses(lookup)) {
        fail("ｻｰﾊﾞIPｱﾄﾞﾚｽ取得失敗");
        return NET_SESSION_OVER;
    }
    looked_up = true;
    return begin_connecting(lookup_addresses(lookup));
}

static void log_connected_to(const addrinfo* address)
{
    char host[NI_MAXHOST];
    if (getnameinfo(address->ai_addr, (socklen_t)address->ai_addrlen, host, sizeof host, NULL, 0,
                    NI_NUMERICHOST) != 0)
        return;
    char line[NI_MAXHOST + 32];
    snprintf(line, sizeof line,
             address->ai_family == AF_INET6 ? "接続先 [%s]:%d\r\n" : "接続先 %s:%d\r\n", host,
             server_port);
    log_append(line);
}

// The first attempt to connect carries the session; a refused or
// unreachable one gives way to the next address.
static int on_attempt_event(int slot, uint32_t event)
{
    if (WSAGETSELECTEVENT(event) != FD_CONNECT)
        return NET_HANDLED;
    if (WSAGETSELECTERROR(event) != 0) {
        close_socket(&attempts[slot]);
        attempt_failure = "サーバへの接続失敗";
        return go_on_connecting();
    }
    session_socket = attempts[slot];
    attempts[slot] = INVALID_SOCKET;
    close_attempts();
    next_address = NULL;
    if (looked_up)
        log_connected_to(attempt_addresses[slot]);
    if (settings.SECURITY != SECURITY_TLS || tls_begin(session_socket, server_host) == 0)
        return NET_HANDLED;
    net_close();
    return NET_SESSION_OVER;
}

// Reads once into the conversation: more than 0 when bytes were read, 0 when
// the server ended the stream, -1 when nothing could be read.
static int read_chunk(void)
{
    if (tls_is_on())
        return tls_read();
    char chunk[RECEIVE_CHUNK];
    int count = recv(session_socket, chunk, sizeof chunk, 0);
    if (count == SOCKET_ERROR)
        return -1;
    pop_receive(chunk, count);
    return count;
}

// Reads until the socket is empty, the stream ends or the session fails;
// the result of the last read. Whatever is left after the last of
// READS_PER_NOTICE reads is announced again. A clear-text read that did not
// fill the chunk has emptied the socket, and what comes later is announced:
// another read would only cost Wine a round trip to its server. Once QUIT
// is answered, though, one more read finds the server's close at once.
static int read_available(void)
{
    int result = -1;
    for (int reads = 0; reads < READS_PER_NOTICE && session.error_kind == ERROR_NONE; reads++) {
        result = read_chunk();
        if (result <= 0 || (result < RECEIVE_CHUNK && !tls_is_on() && !pop_quit_answered()))
            break;
    }
    return result;
}

// The server ended the stream: a success only after QUIT.
static int end_at_close(void)
{
    if (session.error_kind == ERROR_NONE && !pop_quit_sent())
        fail("通信エラー発生");
    net_close();
    return NET_SESSION_OVER;
}

int net_on_socket_event(uintptr_t socket_handle, uint32_t event)
{
    if ((SOCKET)socket_handle == INVALID_SOCKET)
        return NET_NOT_MINE;
    int retired = retiring_slot((SOCKET)socket_handle);
    if (retired >= 0)
        return on_retiring_message(retired, event);
    int slot = attempt_slot((SOCKET)socket_handle);
    if (slot >= 0)
        return on_attempt_event(slot, event);
    if ((SOCKET)socket_handle != session_socket)
        return NET_NOT_MINE;
    if (WSAGETSELECTERROR(event) != 0) {
        // A reset while the handshake runs is the handshake's failure,
        // whichever event the system reports it with.
        const char* failure_text =
            tls_in_handshake() ? "TLSハンドシェイク失敗" : "ｿｹｯﾄｲﾍﾞﾝﾄ通知ｴﾗｰ";
        net_close();
        fail(failure_text);
        return NET_SESSION_OVER;
    }
    switch (WSAGETSELECTEVENT(event)) {
    case FD_READ: {
        // A failed read is ignored: the next event comes. A read of 0 bytes
        // is the server's close (or TLS's end of stream): it ends the session
        // now rather than when the close event comes, which under Wine can
        // lag it by several milliseconds.
        if (read_available() == 0)
            return end_at_close();
        if (session.error_kind != ERROR_NONE) {
            net_close();
            return NET_SESSION_OVER;
        }
        return NET_HANDLED;
    }
    case FD_CLOSE:
        // What the server sent before closing may still wait unread: a
        // reply to QUIT, or the negative reply that explains the close.
        while (session.error_kind == ERROR_NONE && read_chunk() > 0)
            ;
        return end_at_close();
    }
    return NET_NOT_MINE;
}

int net_timeout_tick(void)
{
    if (pop_quit_answered() && ++quit_wait_ticks >= QUIT_CLOSE_WAIT_TICKS) {
        net_close();
        return 1;
    }
    if (++timeout_ticks < SESSION_TIMEOUT_TICKS) {
        if (next_address && timeout_ticks - last_attempt_tick >= ATTEMPT_DELAY_TICKS)
            start_next_attempt();
        return 0;
    }
    net_close();
    fail("タイムアウト発生");
    return 1;
}

int net_send(const char* bytes, int length)
{
    if (tls_is_on())
        return tls_send(bytes, length);
    return send(session_socket, bytes, length, 0);
}

void net_start_tls(void)
{
    tls_begin(session_socket, server_host);
}
