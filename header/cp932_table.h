// The code page 932 double-byte table, generated at build time from
// Python's cp932 codec (header/make_cp932_table.py).
#pragma once

enum {
    CP932_ROWS = 45,    // lead bytes 81-84, 87-9F, E0-EA, ED-EE, FA-FC
    CP932_TRAILS = 188, // trail bytes 40-7E and 80-FC
    CP932_NO_ROW = 0xFF
};

// Row of the table for lead byte 0x80 + index, or CP932_NO_ROW.
extern const unsigned char cp932_row_of_lead[128];

// UTF-16 of each double-byte character, 0 where the code has none.
extern const unsigned short cp932_rows[CP932_ROWS][CP932_TRAILS];
