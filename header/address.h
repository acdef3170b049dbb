// The first mailbox of an address field, taken apart before anything in it
// is decoded, so that an encoded comma or quote cannot move the address.
#pragma once

#include <stddef.h>

enum {
    MAILBOX_NAME_CAPACITY = 8 * 1024, // raw bytes of a display name: far more than the display shows
    MAILBOX_ADDRESS_CAPACITY = 1024   // an address is at most 254 bytes
};

struct Mailbox {
    char name[MAILBOX_NAME_CAPACITY]; // unquoted, still encoded; "" when none
    size_t name_length;
    char address[MAILBOX_ADDRESS_CAPACITY]; // without white space and comments
    size_t address_length;
};

// Reads the first mailbox of a field's value (RFC 5322: "name <address>",
// or "address (comment)", whose comment then serves as the name; a group's
// name is passed over). What does not fit a buffer is dropped.
void address_first_mailbox(const char* value, size_t length, Mailbox* out);
