// The seen-message store.
//
// Two generations live in one block allocated once: the seen set and the
// listing of the running check. Committing swaps their roles. The search is
// linear, comparing a 32-bit hash before the id. uidl.txt is written whole
// into a temporary file and put in place in one step, so a failed write
// leaves the previous seen set on disk; the seen set in memory stands, and
// goes out again at the next acknowledge, or at exit, until it is written.
#include "pop3/uidl_store.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/file_replace.h"
#include "core/text.h"
#include "pop3/session.h"
#include "settings/settings.h"

UidlStore uidl_store;

enum { FILE_READ_UNIT = 510 }; // a longer line is read as several entries

static const char FILE_NAME[] = "uidl.txt";
static const char TEMP_NAME[] = "uidl.txt.new";

static bool save_pending; // the seen set is newer than uidl.txt

static UidlGeneration* seen(void)
{
    return &uidl_store.generations[uidl_store.current];
}

static UidlGeneration* listing(void)
{
    return &uidl_store.generations[1 - uidl_store.current];
}

static void file_path(char* out, size_t capacity, const char* name)
{
    text_copy(out, capacity, program_directory);
    text_append(out, capacity, name);
}

uint32_t uidl_hash(const char* id)
{
    uint32_t hash = 0;
    for (const unsigned char* p = (const unsigned char*)id; *p != '\0'; p++)
        hash = ((hash << 1) | (hash >> 31)) + *p;
    return hash;
}

// Sizes are what the server claims: their sum stops at the 64-bit range.
static int64_t add_size(int64_t total, int64_t size)
{
    return total > INT64_MAX - size ? INT64_MAX : total + size;
}

static void store_id(UidlGeneration* generation, int32_t slot, const char* id, uint32_t hash)
{
    text_copy(generation->ids[slot], UIDL_ID_CAPACITY, id);
    generation->hashes[slot] = hash;
}

void uidl_load(void)
{
    if (uidl_store.generations)
        return;
    uidl_store.listing_complete = false;
    uidl_store.current = 0;
    uidl_store.count[0] = uidl_store.count[1] = 0;
    uidl_store.generations = (UidlGeneration*)calloc(2, sizeof(UidlGeneration));
    if (!uidl_store.generations)
        return;

    char path[PATH_CAPACITY];
    file_path(path, sizeof path, FILE_NAME);
    FILE* file = file_open(path, "rb");
    if (!file)
        return;
    char line[FILE_READ_UNIT + 1];
    while (uidl_store.count[0] < UIDL_MAX_IDS && fgets(line, sizeof line, file)) {
        size_t length = strlen(line);
        if (length > 0 && line[length - 1] == '\n') {
            line[--length] = '\0';
            if (length > 0 && line[length - 1] == '\r')
                line[--length] = '\0';
        }
        if (length > UIDL_ID_MAX)
            continue;
        store_id(&uidl_store.generations[0], uidl_store.count[0]++, line, uidl_hash(line));
    }
    fclose(file);
}

void uidl_free(void)
{
    if (save_pending)
        uidl_save();
    save_pending = false;
    free(uidl_store.generations);
    uidl_store.generations = nullptr;
}

void uidl_begin_listing(void)
{
    uidl_store.count[1 - uidl_store.current] = 0;
    uidl_store.list_position = 0;
    uidl_store.listing_complete = false;
    uidl_store.newest_unseen_count = 0;
}

// Keeps the highest message numbers, in order, each once: a broken server
// may list a number twice, and its header is still asked for only once.
static void note_unseen(int32_t number)
{
    int32_t* kept = uidl_store.newest_unseen;
    int32_t count = uidl_store.newest_unseen_count;
    int32_t at = count;
    while (at > 0 && kept[at - 1] < number)
        at--;
    if (at >= UIDL_NEWEST_KEPT || (at > 0 && kept[at - 1] == number))
        return;
    int32_t moved = (count < UIDL_NEWEST_KEPT ? count : UIDL_NEWEST_KEPT - 1) - at;
    memmove(kept + at + 1, kept + at, (size_t)moved * sizeof *kept);
    kept[at] = number;
    if (count < UIDL_NEWEST_KEPT)
        uidl_store.newest_unseen_count++;
}

int32_t uidl_newest_unseen(int32_t* numbers, int32_t capacity)
{
    int32_t count = uidl_store.newest_unseen_count < capacity ? uidl_store.newest_unseen_count
                                                              : capacity;
    memcpy(numbers, uidl_store.newest_unseen, (size_t)count * sizeof *numbers);
    return count;
}

int uidl_on_list_line(const char* line)
{
    if (!uidl_store.generations)
        return 0;
    if (uidl_store.list_position >= UIDL_MAX_IDS)
        return -1;
    const char* space = strchr(line, ' ');
    if (!space)
        return -1;
    int64_t size = text_parse_decimal(space + 1);
    if (size < 0) // no message is smaller than empty
        return -1;
    listing()->sizes[uidl_store.list_position++] = size;
    return 0;
}

int uidl_on_uidl_line(const char* line)
{
    if (!uidl_store.generations)
        return 0;
    const char* space = strchr(line, ' ');
    if (!space)
        return -1;
    const char* id = space + 1;
    int32_t slot = uidl_store.count[1 - uidl_store.current];
    // A listing longer than the store is refused like an over-long id, and
    // so is an id with a line break: uidl.txt would give it back as two.
    if (strlen(id) > UIDL_ID_MAX || strpbrk(id, "\r\n") || slot >= UIDL_MAX_IDS)
        return -1;

    uint32_t hash = uidl_hash(id);
    const UidlGeneration* old = seen();
    bool found = false;
    for (int32_t i = 0; i < uidl_store.count[uidl_store.current] && !found; i++)
        found = old->hashes[i] == hash && strcmp(old->ids[i], id) == 0;

    UidlGeneration* now = listing();
    store_id(now, slot, id, hash);
    if (!found) {
        // A number TOP could not ask for is never noted, nor one too large to
        // keep: cut down to fit, it would name a message the server never listed.
        int64_t number = text_parse_decimal(line);
        if (number > 0 && number <= INT32_MAX)
            note_unseen((int32_t)number);
        session.message_count++;
        // UIDL and LIST lines pair up by position; a UIDL line without a
        // LIST line of this check adds nothing.
        if (slot < uidl_store.list_position)
            session.total_size = add_size(session.total_size, now->sizes[slot]);
    }
    uidl_store.count[1 - uidl_store.current]++;
    return 0;
}

void uidl_end_listing(void)
{
    uidl_store.listing_complete = true;
}

void uidl_commit(void)
{
    if (!uidl_store.listing_complete) {
        if (save_pending)
            uidl_save();
        return;
    }
    uidl_store.listing_complete = false;
    uidl_store.current = 1 - uidl_store.current;
    uidl_save();
}

static int write_seen_set(void)
{
    char path[PATH_CAPACITY], temp_path[PATH_CAPACITY];
    file_path(path, sizeof path, FILE_NAME);
    file_path(temp_path, sizeof temp_path, TEMP_NAME);
    FILE* temp = file_open(temp_path, "wb");
    if (!temp)
        return -1;
    const UidlGeneration* ids = seen();
    for (int32_t i = 0; i < uidl_store.count[uidl_store.current]; i++) {
        if (fputs(ids->ids[i], temp) == EOF || fputs("\r\n", temp) == EOF)
            break;
    }
    // A failed write leaves an error on the stream; then uidl.txt stays as
    // it was.
    if (ferror(temp)) {
        fclose(temp);
        remove(temp_path);
        return -1;
    }
    return file_replace(temp, temp_path, path);
}

void uidl_save(void)
{
    if (uidl_store.generations)
        save_pending = write_seen_set() != 0;
}
