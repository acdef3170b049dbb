// The seen-message store's block, kept from one run of a target to the next.
//
// uidl_load allocates both generations, some 830 KB, in every run.
// AddressSanitizer maps, poisons and unmaps a block that large each time,
// which took most of the fuzzers' time. Targets that load the store link
// with --wrap=calloc and --wrap=free: the block is mapped once, and freeing
// it gives its pages back, so that the next calloc finds it zeroed and only
// the pages a run touches cost anything. While freed it stays poisoned, so a
// use after uidl_free is still reported.
#include <sanitizer/asan_interface.h>
#include <stddef.h>
#include <sys/mman.h>

#include "pop3/uidl_store.h"

extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void __real_free(void* block);

static const size_t STORE_SIZE = 2 * sizeof(UidlGeneration);

static void* store_block;
static bool store_block_in_use;

extern "C" void* __wrap_calloc(size_t count, size_t size)
{
    size_t total;
    if (__builtin_mul_overflow(count, size, &total) || total != STORE_SIZE || store_block_in_use)
        return __real_calloc(count, size);
    if (!store_block) {
        void* mapped =
            mmap(nullptr, STORE_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
            return nullptr;
        store_block = mapped;
    }
    ASAN_UNPOISON_MEMORY_REGION(store_block, STORE_SIZE);
    store_block_in_use = true;
    return store_block;
}

extern "C" void __wrap_free(void* block)
{
    if (!block || block != store_block) {
        __real_free(block);
        return;
    }
    // Anonymous pages read as zero again after MADV_DONTNEED.
    madvise(store_block, STORE_SIZE, MADV_DONTNEED);
    ASAN_POISON_MEMORY_REGION(store_block, STORE_SIZE);
    store_block_in_use = false;
}
