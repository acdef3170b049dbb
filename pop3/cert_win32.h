// The check of a server's certificate for the TLS module.
#pragma once

#include <windows.h>

#include <wincrypt.h>

// 0 when the certificate passes for host (a name without its final dot, or
// an address), else the reason: CERT_E_EXPIRED, CERT_E_CN_NO_MATCH,
// CRYPT_E_REVOKED, or another code for a certificate not to be trusted.
long cert_judge(PCCERT_CONTEXT certificate, const char* host);

// Logs whom the certificate names, who issued it and how long it is valid.
void cert_log_facts(PCCERT_CONTEXT certificate);

// At exit: waits a moment for chains still being built past their check.
void cert_cleanup(void);
