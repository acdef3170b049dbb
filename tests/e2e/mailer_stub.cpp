// Stands in for the user's mail program: it leaves a file named "started"
// in the folder it is given and runs until a file named "release" appears
// there. A window program, as mail programs are.
#include <windows.h>

#include <stdio.h>

static bool exists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR folder, int)
{
    char started[MAX_PATH], release[MAX_PATH];
    snprintf(started, sizeof started, "%s\\started", folder);
    snprintf(release, sizeof release, "%s\\release", folder);
    FILE* file = fopen(started, "w");
    if (!file)
        return 2;
    fclose(file);
    while (!exists(release))
        Sleep(50);
    return 0;
}
