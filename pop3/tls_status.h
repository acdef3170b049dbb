// The status codes of SChannel and the certificate check, named as Windows'
// headers name them, for the connection test's log: a user who reports a TLS
// problem on a Windows we cannot run can say exactly what happened.
#pragma once

#include <stddef.h>
#include <stdint.h>

// "SEC_E_ILLEGAL_MESSAGE 0x80090326"; a code without a name here is given
// in hexadecimal alone.
void tls_status_text(uint32_t status, char* out, size_t capacity);
