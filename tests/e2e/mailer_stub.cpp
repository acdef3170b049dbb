// Stands in for the user's mail program: it leaves a file "started" in the
// folder it is given, runs until a file "release" appears there, and leaves
// "ended" as it goes. A window program, as mail programs are.
#include <windows.h>

#include <stdio.h>

static bool touch(const char* folder, const char* name)
{
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\%s", folder, name);
    FILE* file = fopen(path, "w");
    return file && fclose(file) == 0;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR folder, int)
{
    char release[MAX_PATH];
    snprintf(release, sizeof release, "%s\\release", folder);
    if (!touch(folder, "started"))
        return 2;
    while (GetFileAttributesA(release) == INVALID_FILE_ATTRIBUTES)
        Sleep(50);
    return touch(folder, "ended") ? 0 : 2;
}
