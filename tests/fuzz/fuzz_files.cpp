#include "tests/fuzz/fuzz_files.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "tests/fuzz/fuzz_check.h"

enum { DIR_CAPACITY = 200 };

static char temp_dir[DIR_CAPACITY];

// Every name a target or the core writes there.
static const char* const FILE_NAMES[] = {"uidl.txt", "uidl.txt.new", "corvina.ini"};

static void remove_temp_dir(void)
{
    for (const char* name : FILE_NAMES)
        fuzz_remove_file(name);
    temp_dir[strlen(temp_dir) - 1] = '\0';
    rmdir(temp_dir);
}

const char* fuzz_temp_dir(void)
{
    if (temp_dir[0] != '\0')
        return temp_dir;
    // A memory file system, where there is one, spares the disk the fuzzers'
    // millions of writes and makes the store's fsync cheap.
    const char* base = getenv("TMPDIR");
    if (!base || !*base)
        base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    snprintf(temp_dir, sizeof temp_dir, "%s/corvina_fuzz_XXXXXX", base);
    FUZZ_CHECK(mkdtemp(temp_dir) != nullptr, "cannot make a directory from %s", temp_dir);
    strcat(temp_dir, "/");
    atexit(remove_temp_dir);
    return temp_dir;
}

static void path_of(const char* name, char* path, size_t capacity)
{
    int length = snprintf(path, capacity, "%s%s", fuzz_temp_dir(), name);
    FUZZ_CHECK(length > 0 && (size_t)length < capacity, "path of %s too long", name);
}

void fuzz_write_file(const char* name, const uint8_t* data, size_t size, char* path,
                     size_t capacity)
{
    path_of(name, path, capacity);
    FILE* file = fopen(path, "wb");
    FUZZ_CHECK(file != nullptr, "cannot write %s", path);
    FUZZ_CHECK(fwrite(data, 1, size, file) == size && fclose(file) == 0, "cannot write %s", path);
}

void fuzz_remove_file(const char* name)
{
    char path[DIR_CAPACITY + 20];
    path_of(name, path, sizeof path);
    remove(path);
}
