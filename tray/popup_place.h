// Where the new-mail popup stands: one of 7 x 7 places in the work area,
// clear of the balloon when there is one.
#pragma once

struct ScreenBox {
    int left, top, right, bottom;
};

// The balloon of Windows 10 and 11 is a toast in the bottom-right corner of
// the work area, about this big at 96 DPI with its margins.
enum { TOAST_WIDTH = 396, TOAST_HEIGHT = 172 };

// Column 0 is the left edge of the work area, 6 the right edge; rows
// likewise. With a toast of the given size (0 x 0: no balloon), a popup
// that would cover it stands above it instead, or left of it when the work
// area is too low for that: neither hides the other's buttons.
ScreenBox popup_place(ScreenBox work, int width, int height, int column, int row, int toast_width,
                      int toast_height);
