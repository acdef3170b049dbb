// Fuzz target: uidl_load on any content of uidl.txt, and the file that
// uidl_save writes from what was loaded, loaded again.
//
// Input: the file's content. Files beyond the 5000-entry limit take too
// long to load for a fuzzer; the unit tests load one.
#include <stdint.h>
#include <string.h>

#include "core/text.h"
#include "pop3/uidl_store.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/fuzz_files.h"

static void check_loaded(void)
{
    FUZZ_CHECK(uidl_store.generations != nullptr, "the store was not allocated");
    FUZZ_CHECK(uidl_store.current == 0 && uidl_store.count[1] == 0 && !uidl_store.listing_complete,
               "a load left current %d, listing %d, complete %d", uidl_store.current,
               (int)uidl_store.count[1], uidl_store.listing_complete);
    FUZZ_CHECK(uidl_store.count[0] >= 0 && uidl_store.count[0] <= UIDL_MAX_IDS, "%d ids loaded",
               (int)uidl_store.count[0]);
    const UidlGeneration& seen = uidl_store.generations[0];
    for (int32_t i = 0; i < uidl_store.count[0]; i++) {
        FUZZ_CHECK(fuzz_terminated(seen.ids[i], UIDL_ID_CAPACITY), "id %d is not terminated",
                   (int)i);
        FUZZ_CHECK(strchr(seen.ids[i], '\n') == nullptr, "id %d holds a LF", (int)i);
        FUZZ_CHECK(seen.hashes[i] == uidl_hash(seen.ids[i]), "hash of id %d is stale", (int)i);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    text_copy(program_directory, sizeof program_directory, fuzz_temp_dir());
    char path[PATH_CAPACITY];
    fuzz_write_file("uidl.txt", data, size, path, sizeof path);
    uidl_free();
    uidl_load();
    check_loaded();

    // Saving and loading again gives back the same entries in the same order.
    static UidlGeneration first;
    int32_t first_count = uidl_store.count[0];
    memcpy(first.ids, uidl_store.generations[0].ids, (size_t)first_count * UIDL_ID_CAPACITY);
    uidl_save();
    uidl_free();
    uidl_load();
    check_loaded();
    FUZZ_CHECK(uidl_store.count[0] == first_count, "%d ids loaded, %d after a save",
               (int)first_count, (int)uidl_store.count[0]);
    for (int32_t i = 0; i < first_count; i++)
        FUZZ_CHECK(strcmp(first.ids[i], uidl_store.generations[0].ids[i]) == 0,
                   "id %d changed by a save", (int)i);
    return 0;
}
