// The popup position picker: a miniature screen of 7 x 7 cells in which a
// click chooses where the new-mail popup appears.
//
// The picture is drawn in client pixels, not dialog units: the screen from
// (10, 10) to (95, 74), cells 12 pixels wide and 9 high, the chosen cell
// filled black. A click writes POPUPDLG_X and POPUPDLG_Y straight into the
// settings; Cancel on the sheet undoes it. Only OK closes the picker.
#include <windows.h>

#include "core/app_win32.h"
#include "res/sheet_resource.h"
#include "settings/settings.h"
#include "ui/pages_win32.h"

enum {
    GRID_LEFT = 10,
    GRID_TOP = 10,
    GRID_RIGHT = 95, // the frame's right and bottom edges, exclusive
    GRID_BOTTOM = 74,
    CELL_WIDTH = 12,
    CELL_HEIGHT = 9,
    GRID_CELLS = 7 // per row and per column
};

static void draw_picture(HDC dc)
{
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(BLACK_PEN));
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Rectangle(dc, GRID_LEFT, GRID_TOP, GRID_RIGHT, GRID_BOTTOM);
    for (int i = 0; i <= GRID_CELLS; i++) {
        int x = GRID_LEFT + CELL_WIDTH * i;
        MoveToEx(dc, x, GRID_TOP, NULL);
        LineTo(dc, x, GRID_BOTTOM);
        int y = GRID_TOP + CELL_HEIGHT * i;
        MoveToEx(dc, GRID_LEFT, y, NULL);
        LineTo(dc, GRID_RIGHT, y);
    }
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    int column = settings.POPUPDLG_X;
    int row = settings.POPUPDLG_Y;
    Rectangle(dc, GRID_LEFT + CELL_WIDTH * column, GRID_TOP + CELL_HEIGHT * row,
              GRID_LEFT + CELL_WIDTH * (column + 1), GRID_TOP + CELL_HEIGHT * (row + 1));
    SelectObject(dc, old_brush);
    SelectObject(dc, old_pen);
}

static int clamp_cell(int cell)
{
    return cell < GRID_CELLS - 1 ? cell : GRID_CELLS - 1;
}

// The far column and row are a few pixels wider than the others: x 94 and
// 95 and y 73 and 74 still belong to cell 6.
static void on_click(HWND picker, LPARAM point)
{
    unsigned x = LOWORD(point);
    unsigned y = HIWORD(point);
    if (x < GRID_LEFT || x > GRID_RIGHT || y < GRID_TOP || y > GRID_BOTTOM)
        return;
    settings.POPUPDLG_X = clamp_cell((int)(x - GRID_LEFT) / CELL_WIDTH);
    settings.POPUPDLG_Y = clamp_cell((int)(y - GRID_TOP) / CELL_HEIGHT);
    HDC dc = GetDC(picker);
    draw_picture(dc);
    ReleaseDC(picker, dc);
}

// Opens just below the notification page's "表示位置" button.
static void place_below(HWND picker, HWND button)
{
    RECT button_rect;
    GetWindowRect(button, &button_rect);
    SetWindowPos(picker, NULL, button_rect.left, button_rect.bottom, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
}

static INT_PTR CALLBACK picker_proc(HWND picker, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG:
        place_below(picker, (HWND)lparam);
        return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(picker, &paint);
        draw_picture(dc);
        EndPaint(picker, &paint);
        return TRUE;
    }
    case WM_LBUTTONDOWN:
        on_click(picker, lparam);
        return TRUE;
    case WM_COMMAND:
        // Esc arrives as IDCANCEL and is ignored: there is nothing to cancel.
        if (LOWORD(wparam) == IDOK) {
            EndDialog(picker, 1);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

void position_picker_run(HWND page, HWND position_button)
{
    DialogBoxParamA(app_instance, MAKEINTRESOURCEA(IDD_POSITION_PICKER), page, picker_proc,
                    (LPARAM)position_button);
}
