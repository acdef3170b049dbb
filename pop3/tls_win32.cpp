// TLS through SChannel (secur32) with the certificate checked through the
// chain engine (crypt32).
//
// Non-blocking like the rest of the connection layer: each readable event
// reads once into a fixed buffer that holds at least one whole record, and
// every complete record in it is handled at once. A handshake's last token
// may carry application bytes behind it (the greeting, with TLS from the
// first byte); no further event announces them, so they are decrypted
// straight away.
//
// SChannel is asked not to judge the certificate (Wine's judges nothing at
// all); after the handshake the chain must reach a trusted root with no
// error in its status, and the SSL policy must accept the host name. The
// status test closes a gap of Wine's policy check, which passes a chain
// whose issuer is unknown; an address is matched against the certificate's
// IP entries here, because Wine's policy check matches DNS names only.
//
// Only TLS 1.2 and later are enabled. Wine honours only the enabled mask of
// the old credentials record and ignores the disabled list of the new one;
// current Windows offers TLS 1.3 only through the new one. So the old
// record goes first, and the negotiated version is checked as well.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <windows.h>

#include <winsock.h>

#include <security.h>

#include <schannel.h> // after security.h
#include <wincrypt.h>

#include "core/text.h"
#include "pop3/receiver.h"
#include "pop3/session.h"
#include "pop3/tls.h"
#include "settings/settings.h" // NAME_CAPACITY
#include "ui/session_log.h"

enum {
    RECORD_MAX = 5 + 16384 + 2048, // header, largest fragment, largest expansion
    READ_MAX = 4096,
    INCOMING_CAPACITY = RECORD_MAX + READ_MAX,
    OUTGOING_CAPACITY = 2048, // commands are short: each is sent in pieces that fit
    ALT_NAME_CAPACITY = 4096  // the decoded subjectAltName
};

// An address skips the policy's name check: wininet's SECURITY_FLAG_IGNORE_CERT_CN_INVALID.
static const DWORD IGNORE_NAME = 0x00001000;
static const DWORD TLS12_AND_LATER = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
static const DWORD CONTEXT_REQUEST = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                     ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                     ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;

static const char UNTRUSTED_TEXT[] = "サーバー証明書が信頼できません";
static const char NAME_MISMATCH_TEXT[] = "証明書の名前がサーバー名と一致しません";
static const char EXPIRED_TEXT[] = "サーバー証明書の有効期限切れ";
static const char HANDSHAKE_TEXT[] = "TLSハンドシェイク失敗";

enum Phase {
    PHASE_OFF,
    PHASE_HANDSHAKE,
    PHASE_OPEN,
    PHASE_OVER // the server ended the stream; nothing more is read
};

enum Step { STEP_AGAIN, STEP_WAIT, STEP_OVER };

static Phase phase = PHASE_OFF;
static bool renegotiating; // TLS 1.3 messages after the handshake (tickets)
static SOCKET tls_socket = INVALID_SOCKET;
static CredHandle credentials;
static CtxtHandle context;
static bool have_credentials, have_context;
static char host_name[NAME_CAPACITY];
static u_long address = INADDR_NONE; // the host as an address, if it is one
static char target[NAME_CAPACITY];   // the name sent to the server: none for an address
static SecPkgContext_StreamSizes sizes;
static char incoming[INCOMING_CAPACITY];
static int incoming_length;
static char outgoing[OUTGOING_CAPACITY];

static void fail(const char* text)
{
    set_error_text(text);
    session.error_kind = ERROR_FAILED;
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
        if (AcquireCredentialsHandleA(NULL, (SEC_CHAR*)UNISP_NAME_A, SECPKG_CRED_OUTBOUND, NULL,
                                      record, NULL, NULL, &credentials, NULL) == SEC_E_OK) {
            have_credentials = true;
            return true;
        }
    }
    return false;
}

static bool certificate_has_address(PCCERT_CONTEXT certificate)
{
    PCERT_EXTENSION extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                          certificate->pCertInfo->rgExtension);
    if (!extension)
        return false;
    static DWORD decoded[ALT_NAME_CAPACITY / sizeof(DWORD)]; // aligned for the structures
    DWORD size = sizeof decoded;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                             extension->Value.cbData, 0, NULL, decoded, &size))
        return false;
    const CERT_ALT_NAME_INFO* names = (const CERT_ALT_NAME_INFO*)decoded;
    for (DWORD i = 0; i < names->cAltEntry; i++) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
            memcmp(entry.IPAddress.pbData, &address, 4) == 0)
            return true;
    }
    return false;
}

// 0 when the server's certificate passes, else the reason as a CERT_E_ code.
static HRESULT judge_certificate(void)
{
    PCCERT_CONTEXT certificate = NULL;
    if (QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
            SEC_E_OK ||
        !certificate)
        return CERT_E_UNTRUSTEDROOT;

    LPSTR usages[] = {(LPSTR)szOID_PKIX_KP_SERVER_AUTH, (LPSTR)szOID_SERVER_GATED_CRYPTO,
                      (LPSTR)szOID_SGC_NETSCAPE};
    CERT_CHAIN_PARA chain_para = {};
    chain_para.cbSize = sizeof chain_para;
    chain_para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chain_para.RequestedUsage.Usage.cUsageIdentifier = 3;
    chain_para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = NULL;
    if (!CertGetCertificateChain(NULL, certificate, NULL, certificate->hCertStore, &chain_para, 0,
                                 NULL, &chain)) {
        CertFreeCertificateContext(certificate);
        return CERT_E_UNTRUSTEDROOT;
    }

    WCHAR wide_host[NAME_CAPACITY];
    MultiByteToWideChar(CP_ACP, 0, host_name, -1, wide_host, NAME_CAPACITY);
    HTTPSPolicyCallbackData https = {};
    https.cbStruct = sizeof https;
    https.dwAuthType = AUTHTYPE_SERVER;
    https.fdwChecks = address != INADDR_NONE ? IGNORE_NAME : 0;
    https.pwszServerName = wide_host;
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &https;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    HRESULT verdict = CERT_E_UNTRUSTEDROOT;
    if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
        verdict = (HRESULT)status.dwError;
    DWORD chain_errors = chain->TrustStatus.dwErrorStatus;
    if (verdict == 0 && chain_errors != 0)
        verdict =
            chain_errors & CERT_TRUST_IS_NOT_TIME_VALID ? CERT_E_EXPIRED : CERT_E_UNTRUSTEDROOT;
    if (verdict == 0 && address != INADDR_NONE && !certificate_has_address(certificate))
        verdict = CERT_E_CN_NO_MATCH;
    CertFreeCertificateChain(chain);
    CertFreeCertificateContext(certificate);
    return verdict;
}

// The handshake is through: the certificate, the version, the record sizes.
static Step finish_handshake(void)
{
    HRESULT verdict = judge_certificate();
    if (verdict != 0) {
        fail(verdict == CERT_E_EXPIRED       ? EXPIRED_TEXT
             : verdict == CERT_E_CN_NO_MATCH ? NAME_MISMATCH_TEXT
                                             : UNTRUSTED_TEXT);
        return STEP_OVER;
    }
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

static Step handshake_step(void)
{
    if (incoming_length == 0)
        return STEP_WAIT;
    if (!begins_like_a_record()) {
        fail(HANDSHAKE_TEXT);
        return STEP_OVER;
    }
    SecBuffer in[2] = {{(unsigned long)incoming_length, SECBUFFER_TOKEN, incoming},
                       {0, SECBUFFER_EMPTY, NULL}};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, NULL}};
    SecBufferDesc in_desc = {SECBUFFER_VERSION, 2, in};
    SecBufferDesc out_desc = {SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    SECURITY_STATUS status = InitializeSecurityContextA(
        &credentials, &context, target[0] ? target : NULL, CONTEXT_REQUEST, 0, 0, &in_desc, 0, NULL,
        &out_desc, &attributes, NULL);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return STEP_WAIT;
    bool sent = send_token(&out[0]);
    if ((status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) || !sent) {
        fail(HANDSHAKE_TEXT);
        return STEP_OVER;
    }
    keep_extra(in, 2);
    if (status == SEC_I_CONTINUE_NEEDED)
        return STEP_AGAIN;
    if (renegotiating) {
        renegotiating = false;
        phase = PHASE_OPEN;
        return STEP_AGAIN;
    }
    return finish_handshake();
}

static Step decrypt_step(void)
{
    if (incoming_length == 0)
        return STEP_WAIT;
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
        fail("通信エラー発生");
        return STEP_OVER;
    }
    const SecBuffer* data = NULL;
    bool has_extra = false;
    for (const SecBuffer& buffer : buffers) {
        if (buffer.BufferType == SECBUFFER_DATA)
            data = &buffer;
        has_extra |= buffer.BufferType == SECBUFFER_EXTRA;
    }
    // Wine reports the server's close_notify as an empty record.
    if (status == SEC_E_OK && (!data || data->cbBuffer == 0) && !has_extra) {
        phase = PHASE_OVER;
        return STEP_OVER;
    }
    if (data && data->cbBuffer > 0)
        pop_receive((const char*)data->pvBuffer, (int)data->cbBuffer);
    keep_extra(buffers, 4);
    if (session.error_kind != ERROR_NONE)
        return STEP_OVER;
    if (status == SEC_I_RENEGOTIATE) {
        renegotiating = true;
        phase = PHASE_HANDSHAKE;
    }
    return STEP_AGAIN;
}

int tls_begin(uintptr_t socket_handle, const char* host)
{
    tls_end();
    tls_socket = (SOCKET)socket_handle;
    text_copy(host_name, sizeof host_name, host);
    address = inet_addr(host);
    text_copy(target, sizeof target, address == INADDR_NONE ? host : "");
    if (!acquire_credentials()) {
        fail(HANDSHAKE_TEXT);
        return -1;
    }
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, NULL}};
    SecBufferDesc out_desc = {SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    SECURITY_STATUS status =
        InitializeSecurityContextA(&credentials, NULL, target[0] ? target : NULL, CONTEXT_REQUEST,
                                   0, 0, NULL, 0, &context, &out_desc, &attributes, NULL);
    if (status == SEC_I_CONTINUE_NEEDED)
        have_context = true;
    if (!send_token(&out[0]) || status != SEC_I_CONTINUE_NEEDED) {
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
    int room = INCOMING_CAPACITY - incoming_length;
    int count = recv(tls_socket, incoming + incoming_length, room < READ_MAX ? room : READ_MAX, 0);
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

void tls_end(void)
{
    if (have_context)
        DeleteSecurityContext(&context);
    if (have_credentials)
        FreeCredentialsHandle(&credentials);
    have_context = have_credentials = false;
    phase = PHASE_OFF;
    renegotiating = false;
    incoming_length = 0;
    tls_socket = INVALID_SOCKET;
}
