// The six state icons, each named after the INI key of its icon file.
#pragma once

enum IconSlot {
    POPUP_ICON,  // shown in the popup window, never in the tray
    NORMAL_ICON, // at rest, periodic checking running
    CHECK_ICON,  // a check is running
    ARRIVE_ICON, // new mail; alternates with the resting icon while unacknowledged
    ERROR_ICON,  // a check or the mail program launch failed
    WAIT_ICON,   // start-up wait, settings, mail program; at rest while paused
    ICON_SLOT_COUNT
};
