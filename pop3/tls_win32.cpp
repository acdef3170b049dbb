// TLS through SChannel (secur32) with the certificate checked through the
// chain engine (crypt32).
//
// Non-blocking like the rest of the connection layer: each read takes what
// fits into a fixed buffer that holds at least one whole record and a
// largest fragment more, and every complete record in it is handled at once.
// A handshake's last token may carry application bytes behind it (the
// greeting, with TLS from the first byte); no further event announces them,
// so they are decrypted straight away.
//
// SChannel is asked not to judge the certificate (Wine's judges nothing at
// all); cert_win32.cpp does, once the handshake is through.
//
// After the handshake the server may send handshake messages again: TLS 1.3
// session tickets and key updates, or a TLS 1.2 request to renegotiate.
// SChannel reports each as SEC_I_RENEGOTIATE and takes the bytes behind it
// through InitializeSecurityContext, which hands back what it did not use;
// servers send two tickets at once, so any number may stand in one read.
// Commands sent meanwhile wait and go out when it is through. A TLS 1.2
// request that anything follows in the read (data, or more requests), or
// that SChannel cannot take up on its own (Wine renegotiates only from
// handshake bytes it is given), is declined by going on, as TLS 1.2 allows:
// a server that wants a new handshake waits for the client's hello.
//
// The server's close_notify ends the stream at once, whatever stands behind
// it in the read: nothing after it is taken as a reply.
//
// Only TLS 1.2 and later are enabled. Wine honours only the enabled mask of
// the old credentials record and ignores the disabled list of the new one;
// current Windows offers TLS 1.3 only through the new one. So the old
// record goes first, and the negotiated version is checked as well.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <winsock2.h>

#include <windows.h>
#include <ws2tcpip.h>

#include <security.h>

#include <schannel.h> // after security.h
#include <stdio.h>
#include <wincrypt.h>

#include "core/text.h"
#include "core/wide_win32.h"
#include "pop3/cert_win32.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "pop3/tls.h"
#include "pop3/tls_status.h"
#include "settings/settings.h" // NAME_CAPACITY
#include "ui/session_log.h"

enum {
    RECORD_MAX = 5 + 16384 + 2048, // header, largest fragment, largest expansion
    READ_MAX = 16384, // room at least, behind a partial record
    INCOMING_CAPACITY = RECORD_MAX + READ_MAX,
    OUTGOING_CAPACITY = 2048, // commands are short: each is sent in pieces that fit
    HELD_CAPACITY = 512       // commands waiting for a renegotiation: one at a time
};

enum { RECORD_ALERT = 21 }; // a record's content type, its first byte

static const DWORD TLS12_AND_LATER = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
static const DWORD CONTEXT_REQUEST = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                     ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                     ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

static const char UNTRUSTED_TEXT[] = "サーバー証明書が信頼できません";
static const char NAME_MISMATCH_TEXT[] = "証明書の名前がサーバー名と一致しません";
static const char EXPIRED_TEXT[] = "サーバー証明書の有効期限切れ";
static const char REVOKED_TEXT[] = "サーバー証明書は失効しています";
static const char HANDSHAKE_TEXT[] = "TLSハンドシェイク失敗";

enum Phase {
    PHASE_OFF,
    PHASE_HANDSHAKE,
    PHASE_OPEN,
    PHASE_OVER // the server ended the stream; nothing more is read
};

enum Step { STEP_AGAIN, STEP_WAIT, STEP_OVER };

static Phase phase = PHASE_OFF;
static bool renegotiating; // handshake messages after the handshake
static SOCKET tls_socket = INVALID_SOCKET;
static CredHandle credentials;
static CtxtHandle context;
static bool have_credentials, have_context;
static DWORD context_request;        // grows by USE_SUPPLIED_CREDS when a server asks for one
static char host_name[NAME_CAPACITY]; // without a final dot
static char target[NAME_CAPACITY];   // the name sent to the server: none for an address
static SecPkgContext_StreamSizes sizes;
static char incoming[INCOMING_CAPACITY];
static int incoming_length;
static char outgoing[OUTGOING_CAPACITY];
static char held[HELD_CAPACITY]; // commands sent while a renegotiation runs
static int held_length;

static void fail(const char* text)
{
    set_error_text(text);
    session.error_kind = ERROR_FAILED;
}

// A call that failed names its status in the log, for whoever reads the
// log to a helper: "InitializeSecurityContext: SEC_E_ILLEGAL_MESSAGE 0x80090326".
static void log_status(const char* call, long status)
{
    char name[64], line[128];
    tls_status_text((uint32_t)status, name, sizeof name);
    snprintf(line, sizeof line, "%s: %s\r\n", call, name);
    log_append(line);
}

static bool send_all(const char* bytes, int length)
{
    while (length > 0) {
        int sent = send(tls_socket, bytes, length, 0);
        if (sent == SOCKET_ERROR)
            return false;
        bytes += sent;
        length -= sent;
    }
    return true;
}

static bool send_token(SecBuffer* token)
{
    if (!token->pvBuffer)
        return true;
    bool sent = send_all((const char*)token->pvBuffer, (int)token->cbBuffer);
    FreeContextBuffer(token->pvBuffer);
    token->pvBuffer = NULL;
    return sent;
}

// Keeps the bytes SChannel did not use at the start of the buffer.
static void keep_extra(const SecBuffer* buffers, int count)
{
    int extra = 0;
    for (int i = 0; i < count; i++)
        if (buffers[i].BufferType == SECBUFFER_EXTRA)
            extra = (int)buffers[i].cbBuffer;
    memmove(incoming, incoming + incoming_length - extra, (size_t)extra);
    incoming_length = extra;
}

// The old record with the enabled mask, then the new one with everything
// older disabled, then TLS 1.2 alone for systems that know no TLS 1.3.
static bool acquire_credentials(void)
{
    const DWORD enabled_masks[] = {TLS12_AND_LATER, 0, SP_PROT_TLS1_2_CLIENT};
    SECURITY_STATUS status = SEC_E_OK;
    for (DWORD enabled : enabled_masks) {
        SCHANNEL_CRED old_record = {};
        old_record.dwVersion = SCHANNEL_CRED_VERSION;
        old_record.grbitEnabledProtocols = enabled;
        old_record.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        TLS_PARAMETERS parameters = {};
        parameters.grbitDisabledProtocols = ~TLS12_AND_LATER;
        SCH_CREDENTIALS new_record = {};
        new_record.dwVersion = SCH_CREDENTIALS_VERSION;
        new_record.dwFlags = old_record.dwFlags;
        new_record.cTlsParameters = 1;
        new_record.pTlsParameters = &parameters;
        void* record = enabled ? (void*)&old_record : (void*)&new_record;
        status = AcquireCredentialsHandleA(NULL, (SEC_CHAR*)UNISP_NAME_A, SECPKG_CRED_OUTBOUND,
                                           NULL, record, NULL, NULL, &credentials, NULL);
        if (status == SEC_E_OK) {
            have_credentials = true;
            return true;
        }
    }
    log_status("AcquireCredentialsHandle", status);
    return false;
}

// Judges the server's certificate; false, with the reason as the check's
// text, when it does not pass. Its facts are logged after the first
// handshake only: TLS 1.3 brings session tickets through here again.
static bool certificate_passes(bool log_facts)
{
    PCCERT_CONTEXT certificate = NULL;
    HRESULT verdict = CERT_E_UNTRUSTEDROOT;
    if (QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) ==
            SEC_E_OK &&
        certificate) {
        if (log_facts)
            cert_log_facts(certificate);
        verdict = cert_judge(certificate, host_name);
        CertFreeCertificateContext(certificate);
    }
    if (verdict != 0) {
        log_status("証明書の検証", verdict);
        pop_certificate_refused(verdict == CERT_E_EXPIRED       ? EXPIRED_TEXT
                                : verdict == CERT_E_CN_NO_MATCH ? NAME_MISMATCH_TEXT
                                : verdict == CRYPT_E_REVOKED    ? REVOKED_TEXT
                                                                : UNTRUSTED_TEXT);
    }
    return session.error_kind == ERROR_NONE;
}

// "暗号: TLS 1.2, TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384". Where the system
// gives no suite name (older Windows), its number, or the key's strength.
static void log_cipher(const SecPkgContext_ConnectionInfo& connection)
{
    const char* protocol = connection.dwProtocol & SP_PROT_TLS1_3_CLIENT ? "TLS 1.3" : "TLS 1.2";
    char suite[SZ_ALG_MAX_SIZE * 2] = "";
    SecPkgContext_CipherInfo cipher = {};
    cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    if (QueryContextAttributesA(&context, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK) {
        cipher.szCipherSuite[SZ_ALG_MAX_SIZE - 1] = L'\0';
        cp932_from_wide(cipher.szCipherSuite, suite, sizeof suite);
        if (suite[0] == '\0' && cipher.dwCipherSuite != 0)
            snprintf(suite, sizeof suite, "0x%04X", (unsigned)cipher.dwCipherSuite);
    }
    if (suite[0] == '\0')
        snprintf(suite, sizeof suite, "%u ビット", (unsigned)connection.dwCipherStrength);
    char line[sizeof suite + 32];
    snprintf(line, sizeof line, "暗号: %s, %s\r\n", protocol, suite);
    log_append(line);
}

// The handshake is through: the certificate, the version, the record sizes.
static Step finish_handshake(void)
{
    if (!certificate_passes(true))
        return STEP_OVER;
    SecPkgContext_ConnectionInfo connection = {};
    if (QueryContextAttributesA(&context, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK ||
        (connection.dwProtocol & TLS12_AND_LATER) == 0 ||
        QueryContextAttributesA(&context, SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK ||
        sizes.cbHeader + sizes.cbTrailer >= OUTGOING_CAPACITY) {
        fail(HANDSHAKE_TEXT);
        return STEP_OVER;
    }
    phase = PHASE_OPEN;
    log_append(connection.dwProtocol & SP_PROT_TLS1_3_CLIENT ? "TLS 1.3で保護された接続\r\n"
                                                             : "TLS 1.2で保護された接続\r\n");
    log_cipher(connection);
    pop_tls_ready();
    return session.error_kind == ERROR_NONE ? STEP_AGAIN : STEP_OVER;
}

// A record begins with its content type (20 to 24) and the major version 3.
// Anything else is no TLS at all, such as clear text after STLS or from a
// clear-text port; SChannel would wait for the length that its first bytes
// seem to give, up to the time-out.
static bool begins_like_a_record(void)
{
    unsigned char type = (unsigned char)incoming[0];
    return type >= 20 && type <= 24 && (incoming_length < 2 || incoming[1] == 3);
}

// Sends the commands that waited for a renegotiation.
static bool send_held(void)
{
    int length = held_length;
    held_length = 0;
    return length == 0 || tls_send(held, length) == length;
}

// A renegotiation is through: the server's certificate may be a new one.
static Step finish_renegotiation(void)
{
    renegotiating = false;
    phase = PHASE_OPEN;
    if (!certificate_passes(false))
        return STEP_OVER;
    if (QueryContextAttributesA(&context, SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK ||
        sizes.cbHeader + sizes.cbTrailer >= OUTGOING_CAPACITY || !send_held()) {
        fail(HANDSHAKE_TEXT);
        return STEP_OVER;
    }
    return STEP_AGAIN;
}

// One call of InitializeSecurityContext on the bytes received so far.
static SECURITY_STATUS continue_handshake(void)
{
    SecBuffer in[2] = {{(unsigned long)incoming_length, SECBUFFER_TOKEN, incoming},
                       {0, SECBUFFER_EMPTY, NULL}};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, NULL}};
    SecBufferDesc in_desc = {SECBUFFER_VERSION, 2, in};
    SecBufferDesc out_desc = {SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    SECURITY_STATUS status = InitializeSecurityContextA(
        &credentials, &context, target[0] ? target : NULL, context_request, 0, 0, &in_desc, 0,
        NULL, &out_desc, &attributes, NULL);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return status;
    // A server that asks for a certificate of the client's: go on without one.
    if (status == SEC_I_INCOMPLETE_CREDENTIALS && !(context_request & ISC_REQ_USE_SUPPLIED_CREDS)) {
        if (out[0].pvBuffer)
            FreeContextBuffer(out[0].pvBuffer);
        context_request |= ISC_REQ_USE_SUPPLIED_CREDS;
        return continue_handshake();
    }
    if (!send_token(&out[0]))
        return SEC_E_INTERNAL_ERROR;
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)
        keep_extra(in, 2);
    return status;
}

// Where a call of InitializeSecurityContext leaves the handshake.
static Step handshake_went(SECURITY_STATUS status)
{
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return STEP_WAIT;
    if (status == SEC_I_CONTINUE_NEEDED)
        return STEP_AGAIN;
    if (status != SEC_E_OK) {
        log_status("InitializeSecurityContext", status);
        fail(HANDSHAKE_TEXT);
        return STEP_OVER;
    }
    return renegotiating ? finish_renegotiation() : finish_handshake();
}

static Step handshake_step(void)
{
    if (incoming_length == 0)
        return STEP_WAIT;
    if (!begins_like_a_record()) {
        fail(HANDSHAKE_TEXT);
        return STEP_OVER;
    }
    return handshake_went(continue_handshake());
}

// The server sent a handshake message after the handshake; incoming holds
// what came behind it. TLS 1.3 hands all of it to SChannel, which takes the
// message and leaves the rest for decrypting. TLS 1.2 takes up only a
// request with nothing behind it, and declines one that SChannel cannot take
// up from what it was given.
static Step renegotiate(void)
{
    SecPkgContext_ConnectionInfo connection = {};
    bool tls13 = QueryContextAttributesA(&context, SECPKG_ATTR_CONNECTION_INFO, &connection) ==
                     SEC_E_OK &&
                 (connection.dwProtocol & SP_PROT_TLS1_3_CLIENT);
    if (!tls13 && incoming_length > 0)
        return STEP_AGAIN;
    renegotiating = true;
    phase = PHASE_HANDSHAKE;
    SECURITY_STATUS status = continue_handshake();
    if (status == SEC_E_INCOMPLETE_MESSAGE && incoming_length == 0) {
        renegotiating = false; // nothing to take it from: decline
        phase = PHASE_OPEN;
        return STEP_AGAIN;
    }
    return handshake_went(status);
}

static Step decrypt_step(void)
{
    if (incoming_length == 0)
        return STEP_WAIT;
    // Wine reports the server's close_notify as an empty alert record, and
    // what follows it as more data; an empty record of application data is
    // legal and means nothing.
    bool alert = incoming[0] == RECORD_ALERT;
    SecBuffer buffers[4] = {{(unsigned long)incoming_length, SECBUFFER_DATA, incoming},
                            {0, SECBUFFER_EMPTY, NULL},
                            {0, SECBUFFER_EMPTY, NULL},
                            {0, SECBUFFER_EMPTY, NULL}};
    SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS status = DecryptMessage(&context, &desc, 0, NULL);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return STEP_WAIT;
    if (status == SEC_I_CONTEXT_EXPIRED) {
        phase = PHASE_OVER;
        return STEP_OVER;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
        log_status("DecryptMessage", status);
        fail("通信エラー発生");
        return STEP_OVER;
    }
    const SecBuffer* data = NULL;
    for (const SecBuffer& buffer : buffers) {
        if (buffer.BufferType == SECBUFFER_DATA)
            data = &buffer;
    }
    if (status == SEC_E_OK && (!data || data->cbBuffer == 0) && alert) {
        phase = PHASE_OVER;
        return STEP_OVER;
    }
    if (data && data->cbBuffer > 0)
        pop_receive((const char*)data->pvBuffer, (int)data->cbBuffer);
    keep_extra(buffers, 4);
    if (session.error_kind != ERROR_NONE)
        return STEP_OVER;
    return status == SEC_I_RENEGOTIATE ? renegotiate() : STEP_AGAIN;
}

int tls_begin(uintptr_t socket_handle, const char* host)
{
    tls_end();
    tls_socket = (SOCKET)socket_handle;
    // A fully qualified name's final dot belongs neither in the server name
    // sent nor in the name the certificate must carry.
    text_copy(host_name, sizeof host_name, host);
    size_t length = strlen(host_name);
    if (length > 1 && host_name[length - 1] == '.')
        host_name[length - 1] = '\0';
    // An address is no server name: nothing is sent for it.
    in6_addr any_address;
    bool is_address = inet_pton(AF_INET, host_name, &any_address) == 1 ||
                      inet_pton(AF_INET6, host_name, &any_address) == 1;
    text_copy(target, sizeof target, is_address ? "" : host_name);
    context_request = CONTEXT_REQUEST;
    if (!acquire_credentials()) {
        fail(HANDSHAKE_TEXT);
        return -1;
    }
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, NULL}};
    SecBufferDesc out_desc = {SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    SECURITY_STATUS status =
        InitializeSecurityContextA(&credentials, NULL, target[0] ? target : NULL, context_request,
                                   0, 0, NULL, 0, &context, &out_desc, &attributes, NULL);
    if (status == SEC_I_CONTINUE_NEEDED)
        have_context = true;
    if (!send_token(&out[0]) || status != SEC_I_CONTINUE_NEEDED) {
        if (status != SEC_I_CONTINUE_NEEDED)
            log_status("InitializeSecurityContext", status);
        fail(HANDSHAKE_TEXT);
        return -1;
    }
    phase = PHASE_HANDSHAKE;
    return 0;
}

int tls_read(void)
{
    if (phase == PHASE_OVER)
        return 0;
    int count = recv(tls_socket, incoming + incoming_length, INCOMING_CAPACITY - incoming_length, 0);
    if (count == SOCKET_ERROR)
        return -1;
    if (count == 0) {
        if (phase == PHASE_HANDSHAKE && session.error_kind == ERROR_NONE)
            fail(HANDSHAKE_TEXT);
        phase = PHASE_OVER;
        return 0;
    }
    incoming_length += count;
    Step step = STEP_AGAIN;
    while (step == STEP_AGAIN && session.error_kind == ERROR_NONE)
        step = phase == PHASE_HANDSHAKE ? handshake_step() : decrypt_step();
    if (step == STEP_WAIT && incoming_length == INCOMING_CAPACITY)
        fail(phase == PHASE_HANDSHAKE ? HANDSHAKE_TEXT : "受信バッファオーバーフロー");
    return phase == PHASE_OVER ? 0 : 1;
}

int tls_send(const char* bytes, int length)
{
    if (renegotiating) {
        if (length > HELD_CAPACITY - held_length)
            return -1;
        memcpy(held + held_length, bytes, (size_t)length);
        held_length += length;
        return length;
    }
    if (phase != PHASE_OPEN)
        return -1;
    int piece_max = OUTGOING_CAPACITY - (int)(sizes.cbHeader + sizes.cbTrailer);
    if (piece_max > (int)sizes.cbMaximumMessage)
        piece_max = (int)sizes.cbMaximumMessage;
    for (int at = 0; at < length;) {
        int piece = length - at < piece_max ? length - at : piece_max;
        memcpy(outgoing + sizes.cbHeader, bytes + at, (size_t)piece);
        SecBuffer buffers[4] = {
            {sizes.cbHeader, SECBUFFER_STREAM_HEADER, outgoing},
            {(unsigned long)piece, SECBUFFER_DATA, outgoing + sizes.cbHeader},
            {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, outgoing + sizes.cbHeader + piece},
            {0, SECBUFFER_EMPTY, NULL}};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&context, 0, &desc, 0) != SEC_E_OK ||
            !send_all(outgoing,
                      (int)(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer)))
            return -1;
        at += piece;
    }
    return length;
}

bool tls_is_on(void)
{
    return phase != PHASE_OFF;
}

bool tls_in_handshake(void)
{
    return phase == PHASE_HANDSHAKE && !renegotiating;
}

// Tells the server the stream ends here (close_notify), so that it sees a
// finished conversation rather than a cut one.
static void send_close_notify(void)
{
    DWORD shutdown_token = SCHANNEL_SHUTDOWN;
    SecBuffer control[1] = {{sizeof shutdown_token, SECBUFFER_TOKEN, &shutdown_token}};
    SecBufferDesc control_desc = {SECBUFFER_VERSION, 1, control};
    if (ApplyControlToken(&context, &control_desc) != SEC_E_OK)
        return;
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, NULL}};
    SecBufferDesc out_desc = {SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    InitializeSecurityContextA(&credentials, &context, target[0] ? target : NULL, context_request,
                               0, 0, NULL, 0, NULL, &out_desc, &attributes, NULL);
    send_token(&out[0]);
}

void tls_end(void)
{
    if (have_context && tls_socket != INVALID_SOCKET &&
        (phase == PHASE_OPEN || phase == PHASE_OVER))
        send_close_notify();
    if (have_context)
        DeleteSecurityContext(&context);
    if (have_credentials)
        FreeCredentialsHandle(&credentials);
    have_context = have_credentials = false;
    phase = PHASE_OFF;
    renegotiating = false;
    incoming_length = held_length = 0;
    tls_socket = INVALID_SOCKET;
}
