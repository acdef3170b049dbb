// The popup's place: the 7 x 7 grid of the work area, and clear of the
// balloon's toast in the bottom-right corner.
#include <gtest/gtest.h>

#include "tray/popup_place.h"

namespace
{

TEST(PopupPlace, GridAndToast)
{
    const ScreenBox screen = {0, 0, 1024, 768};
    const ScreenBox left_bar = {60, 0, 1024, 768}; // the task bar at the left
    const ScreenBox low = {0, 0, 1024, 200};
    const struct {
        ScreenBox work;
        int column, row, toast_width, toast_height;
        ScreenBox expected;
    } rows[] = {
        {screen, 0, 0, 0, 0, {0, 0, 190, 60}},
        {screen, 6, 6, 0, 0, {834, 708, 1024, 768}},
        {screen, 3, 0, 0, 0, {417, 0, 607, 60}},
        {left_bar, 0, 3, 0, 0, {60, 354, 250, 414}},
        {left_bar, 6, 6, 0, 0, {834, 708, 1024, 768}},
        // With the toast: the corner's popup stands just above it.
        {screen, 6, 6, 396, 172, {834, 536, 1024, 596}},
        {screen, 5, 6, 396, 172, {695, 536, 885, 596}},
        // Places that leave the toast's area free stay as they are.
        {screen, 6, 4, 396, 172, {834, 472, 1024, 532}},
        {screen, 3, 6, 396, 172, {417, 708, 607, 768}},
        {screen, 0, 6, 396, 172, {0, 708, 190, 768}},
        // Too low a work area for above: left of the toast.
        {low, 6, 6, 396, 172, {438, 140, 628, 200}},
        // No room either way: the place as chosen.
        {{0, 0, 400, 200}, 6, 6, 396, 172, {210, 140, 400, 200}},
    };
    for (const auto& row : rows) {
        ScreenBox box =
            popup_place(row.work, 190, 60, row.column, row.row, row.toast_width, row.toast_height);
        EXPECT_EQ((std::vector<int>{row.expected.left, row.expected.top, row.expected.right,
                                    row.expected.bottom}),
                  (std::vector<int>{box.left, box.top, box.right, box.bottom}))
            << "column " << row.column << ", row " << row.row << ", toast " << row.toast_width
            << " x " << row.toast_height << ", work area from " << row.work.left;
    }
}

} // namespace
