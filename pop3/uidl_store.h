// The seen-message store: unique ids already reported to the user, kept in
// uidl.txt, and the listing of the running check.
#pragma once

// Called by the conversation around the LIST and UIDL listings. The line
// handlers take one listing line without its CR LF and return 0 when it is
// accepted, -1 when it is refused.
void uidl_begin_listing(void);
int uidl_on_list_line(const char* line);
int uidl_on_uidl_line(const char* line);
void uidl_end_listing(void);
