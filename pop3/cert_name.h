// Whether a name a server's certificate carries covers the host a check
// connects to, by the rules browsers and mail clients share: letters
// compared without case, a final dot on either side ignored, and a wildcard
// only as the whole left-most label, standing for exactly one label, with at
// least two labels after it, so that "*.example.jp" covers
// "mail.example.jp" but "*.jp" covers nothing.
#pragma once

bool cert_name_matches(const char* pattern, const char* host);
