// The popup's place in the work area.
#include "tray/popup_place.h"

static bool overlap(ScreenBox a, ScreenBox b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

static ScreenBox box_at(int x, int y, int width, int height)
{
    return ScreenBox{x, y, x + width, y + height};
}

ScreenBox popup_place(ScreenBox work, int width, int height, int column, int row, int toast_width,
                      int toast_height)
{
    int free_width = (work.right - work.left) - width;
    int free_height = (work.bottom - work.top) - height;
    ScreenBox popup = box_at(work.left + free_width * column / 6, work.top + free_height * row / 6,
                             width, height);
    if (toast_width <= 0 || toast_height <= 0)
        return popup;
    ScreenBox toast = {work.right - toast_width, work.bottom - toast_height, work.right,
                       work.bottom};
    if (!overlap(popup, toast))
        return popup;
    if (toast.top - height >= work.top)
        return box_at(popup.left, toast.top - height, width, height);
    if (toast.left - width >= work.left)
        return box_at(toast.left - width, popup.top, width, height);
    return popup;
}
