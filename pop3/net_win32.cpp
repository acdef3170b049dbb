// The connection layer on Windows Sockets 1.1 in window-message mode.
//
// Nothing here blocks: the name lookup, the connect and every read complete
// as messages to the hidden main window. Connection completion is asked for
// only with TLS from the first byte, where the client speaks first; its
// failure is left to the session time-out, as a refused clear-text
// connection is. Messages about a lookup or socket that is no longer
// current are not ours. Once TLS is on, reads and sends go through the TLS
// module, which hands the plaintext to the response receiver.
#include <windows.h>

#include <winsock.h>

#include "core/app_win32.h"
#include "pop3/net.h"
#include "pop3/receiver.h"
#include "pop3/server_address.h"
#include "pop3/session.h"
#include "pop3/tls.h"
#include "settings/settings.h"

static SOCKET session_socket = INVALID_SOCKET;
static HANDLE lookup_task;
static u_long server_address; // network byte order
static char server_host[NAME_CAPACITY];
static int server_port;
static char host_entry[MAXGETHOSTSTRUCT + 1];
static int32_t timeout_ticks;

static int fail(const char* text)
{
    set_error_text(text);
    session.error_kind = ERROR_FAILED;
    return -1;
}

void net_init(void)
{
    session_socket = INVALID_SOCKET;
    lookup_task = NULL;
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        MessageBoxA(NULL, "WSAStartup() Error.", "ERROR", MB_OK);
}

void net_cleanup(void)
{
    net_close();
    WSACleanup();
}

void net_close(void)
{
    if (lookup_task) {
        WSACancelAsyncRequest(lookup_task);
        lookup_task = NULL;
    }
    tls_end(); // its close_notify goes out before the socket closes
    if (session_socket != INVALID_SOCKET) {
        WSAAsyncSelect(session_socket, main_window, 0, 0);
        shutdown(session_socket, 2); // both directions
        closesocket(session_socket);
        session_socket = INVALID_SOCKET;
    }
}

static int net_connect(void)
{
    pop_reset();
    session_socket = socket(AF_INET, SOCK_STREAM, 0);
    if (session_socket == INVALID_SOCKET) {
        net_close();
        return fail("ソケット作成失敗");
    }
    // Also makes the socket non-blocking.
    long events = FD_READ | FD_CLOSE | (settings.SECURITY == SECURITY_TLS ? FD_CONNECT : 0);
    if (WSAAsyncSelect(session_socket, main_window, WM_SOCKET_NOTIFY, events) != 0) {
        net_close();
        return fail("WSAAsyncSelect() ｴﾗｰ");
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)server_port);
    address.sin_addr.s_addr = server_address;
    if (connect(session_socket, (sockaddr*)&address, sizeof address) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        net_close();
        return fail("サーバへの接続失敗");
    }
    return 0;
}

int net_start(void)
{
    net_close();
    timeout_ticks = 0;
    server_port = server_split(settings.SERVER, server_default_port(settings.SECURITY), server_host,
                               sizeof server_host);
    u_long address = inet_addr(server_host);
    if (address != INADDR_NONE) {
        server_address = address;
        return net_connect();
    }
    lookup_task = WSAAsyncGetHostByName(main_window, WM_LOOKUP_DONE, server_host, host_entry,
                                        sizeof host_entry);
    if (!lookup_task) {
        net_close();
        return fail("ｻｰﾊﾞIPｱﾄﾞﾚｽの取得失敗");
    }
    return 0;
}

int net_on_lookup(uintptr_t task, uint32_t status)
{
    if (!lookup_task || (HANDLE)task != lookup_task)
        return NET_NOT_MINE;
    lookup_task = NULL;
    const hostent* host = (const hostent*)host_entry;
    if (WSAGETASYNCERROR(status) != 0 || !host->h_addr_list || !host->h_addr_list[0]) {
        fail("ｻｰﾊﾞIPｱﾄﾞﾚｽ取得失敗");
        return NET_SESSION_OVER;
    }
    server_address = *(const u_long*)host->h_addr_list[0];
    return net_connect() == 0 ? NET_HANDLED : NET_SESSION_OVER;
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
    if (session_socket == INVALID_SOCKET || (SOCKET)socket_handle != session_socket)
        return NET_NOT_MINE;
    if (WSAGETSELECTEVENT(event) == FD_CONNECT) {
        if (WSAGETSELECTERROR(event) != 0 || tls_begin(session_socket, server_host) == 0)
            return NET_HANDLED;
        net_close();
        return NET_SESSION_OVER;
    }
    if (WSAGETSELECTERROR(event) != 0) {
        // A reset while the handshake runs is the handshake's failure,
        // whichever event the system reports it with.
        const char* text = tls_in_handshake() ? "TLSハンドシェイク失敗" : "ｿｹｯﾄｲﾍﾞﾝﾄ通知ｴﾗｰ";
        net_close();
        fail(text);
        return NET_SESSION_OVER;
    }
    switch (WSAGETSELECTEVENT(event)) {
    case FD_READ: {
        // A failed read is ignored: the next event comes. A clear-text read
        // of 0 bytes waits for the close event; TLS may end the stream first.
        bool tls = tls_is_on();
        if (read_chunk() == 0 && tls)
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
    if (++timeout_ticks < SESSION_TIMEOUT_TICKS)
        return 0;
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
