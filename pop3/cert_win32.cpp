// Judging a server's certificate, with the chain engine (crypt32).
//
// The chain must reach a trusted root with no error in its status, every
// certificate in it must allow server authentication or leave its use open,
// the SSL policy must accept the host name, and one of the certificate's own
// names must cover the host by the rules of cert_name.h. These close gaps of
// Wine's chain engine, which passes a chain whose issuer is unknown, checks
// the usage of the server's certificate alone and lets "*.test" cover
// "example.test"; an address is matched against the IP entries here,
// because Wine's policy matches DNS names only.
//
// Revocation is checked as Windows' mail clients do: a certificate known to
// be revoked fails, one whose status cannot be had passes. Fetching a list
// (or an issuer the server did not send) can hang on the network, and Wine
// heeds no time-out for it, so that chain is built on a thread of its own;
// the window's thread waits a few seconds for it at most and then builds the
// chain from what it has, its revocation unknown. A thread that outlives its
// wait owns everything it touches; a few are kept track of, no more are
// started while they run, and exit waits for them a moment.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <winsock2.h>

#include <windows.h>
#include <ws2tcpip.h>

#include <wincrypt.h>

#include <stdio.h>

#include "core/wide_win32.h"
#include "pop3/cert_name.h"
#include "pop3/cert_win32.h"
#include "settings/settings.h" // NAME_CAPACITY
#include "ui/session_log.h"

enum {
    URL_WAIT_MS = 3000, // every fetch of one check together
    LINGERING_MAX = 4,  // chain threads past their wait, at most
    EXIT_WAIT_MS = 1000 // for them at exit
};

// Policy flags of wininet's: an address skips the policy's name check
// (SECURITY_FLAG_IGNORE_CERT_CN_INVALID); revocation is judged from the
// chain's status, where "revoked" and "unknown" differ, since Wine's policy
// fails both alike (SECURITY_FLAG_IGNORE_REVOCATION).
static const DWORD IGNORE_NAME = 0x00001000;
static const DWORD IGNORE_REVOCATION = 0x00000080;
// A revocation status that cannot be had is no verdict.
static const DWORD REVOCATION_UNKNOWN =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
static const DWORD WITH_REVOCATION =
    CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT;

static unsigned char address[16]; // the host as an address, if it is one
static int address_length;        // 4 or 16 then, else 0
static HANDLE lingering[LINGERING_MAX]; // chain threads that outlived their wait

// Decodes one extension of a certificate into memory of LocalAlloc's, or NULL.
static void* decode_extension(PCCERT_CONTEXT certificate, const char* oid, const char* type)
{
    PCERT_EXTENSION extension = CertFindExtension(oid, certificate->pCertInfo->cExtension,
                                                  certificate->pCertInfo->rgExtension);
    void* decoded = NULL;
    DWORD size = 0;
    if (!extension || !CryptDecodeObjectEx(X509_ASN_ENCODING, type, extension->Value.pbData,
                                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG,
                                           NULL, &decoded, &size))
        return NULL;
    return decoded;
}

// The address among the IP entries, or the host covered by a DNS entry, or
// by the common name when there is no DNS entry.
static bool certificate_covers_host(PCCERT_CONTEXT certificate, const char* host)
{
    CERT_ALT_NAME_INFO* names = (CERT_ALT_NAME_INFO*)decode_extension(
        certificate, szOID_SUBJECT_ALT_NAME2, X509_ALTERNATE_NAME);
    bool covered = false, has_dns_name = false;
    for (DWORD i = 0; names && i < names->cAltEntry && !covered; i++) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS)
            covered = address_length && entry.IPAddress.cbData == (DWORD)address_length &&
                      memcmp(entry.IPAddress.pbData, address, (size_t)address_length) == 0;
        else if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
            has_dns_name = true;
            char name[NAME_CAPACITY * 4];
            covered = !address_length &&
                      WideCharToMultiByte(CP_ACP, 0, entry.pwszDNSName, -1, name, sizeof name,
                                          NULL, NULL) > 0 &&
                      cert_name_matches(name, host);
        }
    }
    LocalFree(names);
    if (covered || has_dns_name || address_length)
        return covered;
    char common_name[NAME_CAPACITY * 4];
    return CertGetNameStringA(certificate, CERT_NAME_ATTR_TYPE, 0, (void*)szOID_COMMON_NAME,
                              common_name, sizeof common_name) > 1 &&
           cert_name_matches(common_name, host);
}

// Each certificate of the chain either leaves its use open or allows
// server authentication, as Windows itself demands.
static bool chain_allows_server_use(PCCERT_CHAIN_CONTEXT chain)
{
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    for (DWORD i = 0; i < simple->cElement; i++) {
        PCCERT_CONTEXT certificate = simple->rgpElement[i]->pCertContext;
        if (!CertFindExtension(szOID_ENHANCED_KEY_USAGE, certificate->pCertInfo->cExtension,
                               certificate->pCertInfo->rgExtension))
            continue;
        CERT_ENHKEY_USAGE* usage = (CERT_ENHKEY_USAGE*)decode_extension(
            certificate, szOID_ENHANCED_KEY_USAGE, X509_ENHANCED_KEY_USAGE);
        bool allowed = false;
        for (DWORD j = 0; usage && j < usage->cUsageIdentifier; j++)
            allowed |= strcmp(usage->rgpszUsageIdentifier[j], szOID_PKIX_KP_SERVER_AUTH) == 0;
        LocalFree(usage);
        if (!allowed)
            return false;
    }
    return true;
}

static CERT_CHAIN_PARA chain_para(void)
{
    static LPSTR usages[] = {(LPSTR)szOID_PKIX_KP_SERVER_AUTH, (LPSTR)szOID_SERVER_GATED_CRYPTO,
                             (LPSTR)szOID_SGC_NETSCAPE};
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 3;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    para.dwUrlRetrievalTimeout = URL_WAIT_MS;
    return para;
}

// One chain built on its own thread. The thread and the waiter each hold
// the job; whichever lets go last frees it, so a thread that outlives its
// waiter never touches freed memory.
struct ChainJob {
    PCCERT_CONTEXT certificate; // the job's own reference
    PCCERT_CHAIN_CONTEXT chain;
    LONG holders;
};

static void release_job(ChainJob* job)
{
    if (InterlockedDecrement(&job->holders) != 0)
        return;
    if (job->chain)
        CertFreeCertificateChain(job->chain);
    CertFreeCertificateContext(job->certificate);
    HeapFree(GetProcessHeap(), 0, job);
}

static DWORD WINAPI build_chain_with_revocation(void* parameter)
{
    ChainJob* job = (ChainJob*)parameter;
    CERT_CHAIN_PARA para = chain_para();
    // Wine answers a certificate's second check from a cache that says "not
    // revoked", so under Wine only the first check in a prefix refuses a
    // revoked certificate. Windows keeps no such cache; the verdict reads the
    // status as the chain engine gives it.
    CertGetCertificateChain(NULL, job->certificate, NULL, job->certificate->hCertStore, &para,
                            WITH_REVOCATION, NULL, &job->chain);
    release_job(job);
    return 0;
}

// A free place for a thread that may outlive its wait, once those that
// have ended are let go; -1 when all are still running.
static int free_lingering_slot(void)
{
    int free_slot = -1;
    for (int slot = 0; slot < LINGERING_MAX; slot++) {
        if (lingering[slot] && WaitForSingleObject(lingering[slot], 0) == WAIT_OBJECT_0) {
            CloseHandle(lingering[slot]);
            lingering[slot] = NULL;
        }
        if (!lingering[slot])
            free_slot = slot;
    }
    return free_slot;
}

// The chain with revocation checked, or, when that takes too long, from
// what is at hand without it.
static PCCERT_CHAIN_CONTEXT build_chain(PCCERT_CONTEXT certificate)
{
    PCCERT_CHAIN_CONTEXT chain = NULL;
    int slot = free_lingering_slot();
    ChainJob* job =
        slot < 0 ? NULL : (ChainJob*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *job);
    if (job) {
        job->certificate = CertDuplicateCertificateContext(certificate);
        job->holders = 2;
        HANDLE thread = CreateThread(NULL, 0, build_chain_with_revocation, job, 0, NULL);
        if (!thread)
            release_job(job);
        else if (WaitForSingleObject(thread, URL_WAIT_MS) == WAIT_OBJECT_0) {
            chain = job->chain;
            job->chain = NULL;
            CloseHandle(thread);
        } else
            lingering[slot] = thread;
        release_job(job);
    }
    CERT_CHAIN_PARA para = chain_para();
    if (!chain)
        CertGetCertificateChain(NULL, certificate, NULL, certificate->hCertStore, &para,
                                CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, NULL, &chain);
    return chain;
}

long cert_judge(PCCERT_CONTEXT certificate, const char* host)
{
    address_length = inet_pton(AF_INET, host, address) == 1    ? 4
                     : inet_pton(AF_INET6, host, address) == 1 ? 16
                                                               : 0;
    PCCERT_CHAIN_CONTEXT chain = build_chain(certificate);
    if (!chain)
        return CERT_E_UNTRUSTEDROOT;

    WCHAR wide_host[NAME_CAPACITY];
    MultiByteToWideChar(CP_ACP, 0, host, -1, wide_host, NAME_CAPACITY);
    HTTPSPolicyCallbackData https = {};
    https.cbStruct = sizeof https;
    https.dwAuthType = AUTHTYPE_SERVER;
    https.fdwChecks = IGNORE_REVOCATION | (address_length ? IGNORE_NAME : 0);
    https.pwszServerName = wide_host;
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    policy.pvExtraPolicyPara = &https;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    HRESULT verdict = CERT_E_UNTRUSTEDROOT;
    if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
        verdict = (HRESULT)status.dwError;
    DWORD chain_errors = chain->TrustStatus.dwErrorStatus & ~REVOCATION_UNKNOWN;
    if (chain_errors & CERT_TRUST_IS_REVOKED)
        verdict = CRYPT_E_REVOKED;
    else if (verdict == 0 && chain_errors != 0)
        verdict =
            chain_errors & CERT_TRUST_IS_NOT_TIME_VALID ? CERT_E_EXPIRED : CERT_E_UNTRUSTEDROOT;
    if (verdict == 0 && !chain_allows_server_use(chain))
        verdict = CERT_E_WRONG_USAGE;
    if (verdict == 0 && !certificate_covers_host(certificate, host))
        verdict = CERT_E_CN_NO_MATCH;
    CertFreeCertificateChain(chain);
    return verdict;
}

enum { FACT_CAPACITY = 256 };

// A name as "CN=mail.example.jp, O=Example", its common name first.
static void log_name(const char* label, CERT_NAME_BLOB* name)
{
    wchar_t wide[FACT_CAPACITY];
    char text[FACT_CAPACITY * 2], line[sizeof text + 32];
    if (CertNameToStrW(X509_ASN_ENCODING, name, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG,
                       wide, FACT_CAPACITY) <= 1)
        return;
    cp932_from_wide(wide, text, sizeof text);
    snprintf(line, sizeof line, "%s: %s\r\n", label, text);
    log_append(line);
}

static void format_date(const FILETIME* time, char* out, size_t capacity)
{
    SYSTEMTIME date;
    if (!FileTimeToSystemTime(time, &date))
        date = SYSTEMTIME();
    snprintf(out, capacity, "%04u-%02u-%02u %02u:%02u", date.wYear, date.wMonth, date.wDay,
             date.wHour, date.wMinute);
}

void cert_log_facts(PCCERT_CONTEXT certificate)
{
    log_name("証明書の対象", &certificate->pCertInfo->Subject);
    log_name("証明書の発行者", &certificate->pCertInfo->Issuer);
    char from[32], until[32], line[128];
    format_date(&certificate->pCertInfo->NotBefore, from, sizeof from);
    format_date(&certificate->pCertInfo->NotAfter, until, sizeof until);
    snprintf(line, sizeof line, "証明書の有効期間: %s から %s まで (UTC)\r\n", from, until);
    log_append(line);
}

void cert_cleanup(void)
{
    HANDLE threads[LINGERING_MAX];
    DWORD count = 0;
    for (HANDLE& thread : lingering) {
        if (thread)
            threads[count++] = thread;
        thread = NULL;
    }
    if (count > 0)
        WaitForMultipleObjects(count, threads, TRUE, EXIT_WAIT_MS);
    for (DWORD i = 0; i < count; i++)
        CloseHandle(threads[i]);
}
