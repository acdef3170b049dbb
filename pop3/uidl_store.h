// The seen-message store: the POP3 unique ids of mail the user has taken
// note of, kept in uidl.txt beside the program, and the listing of the
// running check. A listing replaces the seen set only when the user
// acknowledges, so uidl.txt always holds the last acknowledged listing.
#pragma once

#include <stdint.h>

enum {
    UIDL_MAX_IDS = 5000,
    UIDL_ID_MAX = 70, // bytes of one unique id
    UIDL_ID_CAPACITY = UIDL_ID_MAX + 1,
    UIDL_NEWEST_KEPT = 10 // unseen message numbers noted per listing
};

struct UidlGeneration {
    int64_t sizes[UIDL_MAX_IDS];   // from the n-th LIST line
    uint32_t hashes[UIDL_MAX_IDS]; // uidl_hash of ids[n]
    char ids[UIDL_MAX_IDS][UIDL_ID_CAPACITY];
};

struct UidlStore {
    UidlGeneration* generations; // two, one allocation; null while absent
    int32_t count[2];
    int current;           // the seen set; the other one takes the running listing
    bool listing_complete; // the other one holds a whole listing up to UIDL's "."
    int32_t list_position; // next LIST line
    int32_t newest_unseen[UIDL_NEWEST_KEPT]; // the running listing's, highest first
    int32_t newest_unseen_count;
};

extern UidlStore uidl_store;

uint32_t uidl_hash(const char* id);

// Reads uidl.txt into the seen set unless the store is there already.
void uidl_load(void);
// At exit; writes only a seen set whose saving failed.
void uidl_free(void);

// Called by the conversation around the LIST and UIDL listings. The line
// handlers take one listing line without its CR LF and return 0 when it is
// accepted, -1 when it is refused; an unseen id adds to message_count and
// total_size.
void uidl_begin_listing(void);
int uidl_on_list_line(const char* line);
int uidl_on_uidl_line(const char* line);
void uidl_end_listing(void);

// The message numbers of the running listing whose ids are not seen, the
// highest first, at most capacity of them; returns how many.
int32_t uidl_newest_unseen(int32_t* numbers, int32_t capacity);

// On acknowledge: a complete listing becomes the seen set and is saved; with
// none, a seen set whose saving failed is saved again.
void uidl_commit(void);
// Writes the seen set to uidl.txt. A failure keeps it in memory, marked to
// be written at the next acknowledge or at exit.
void uidl_save(void);
