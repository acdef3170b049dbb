// Why a file of the settings could not be written, as the settings sheet
// tells the user when OK cannot save: the INI file, or the shortcut in the
// Startup folder.
#pragma once

enum SaveResult {
    SAVE_DONE = 0,
    SAVE_IS_FOLDER, // a folder has the file's name
    SAVE_READ_ONLY, // the file is marked read-only
    SAVE_DENIED,    // the folder takes no new files: Program Files, a zip's temporary folder
    SAVE_NO_FOLDER, // the folder does not exist
    SAVE_DISK_FULL,
    SAVE_FAILED // anything else
};

// The reason as the user reads it, in one sentence with what to do.
const char* save_result_text(int result);
