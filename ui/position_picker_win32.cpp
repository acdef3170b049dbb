// The popup position picker: a miniature screen of 7 x 7 cells in which a
// click chooses where the new-mail popup appears.
//
// The picture is drawn in client pixels, not dialog units: the screen from
// (10, 10) to (95, 74), cells 12 pixels wide and 9 high, the chosen cell
// filled black, all at 96 DPI and scaled by the picker's DPI. The template
// is in dialog units, so its size follows the font, which can leave it
// narrower than the picture: the window is sized to hold the picture.
// A click writes POPUPDLG_X and POPUPDLG_Y straight into the settings;
// Cancel on the sheet undoes it. Only OK closes the picker.
#include <windows.h>

#include "core/app_win32.h"
#include "core/dpi_win32.h"
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
    GRID_CELLS = 7, // per row and per column
    WM_FIT_TO_PICTURE = WM_APP + 1
};

// The picture's geometry in the picker's pixels.
struct Grid {
    int left, top, right, bottom, cell_width, cell_height;
};

// The cells are scaled and the frame built around them, so that it ends
// one pixel past the last line at every scale, as it does at 96 DPI.
static Grid grid_of(HWND picker)
{
    int dpi = dpi_of_window(picker);
    Grid grid;
    grid.left = dpi_scale(GRID_LEFT, dpi);
    grid.top = dpi_scale(GRID_TOP, dpi);
    grid.cell_width = dpi_scale(CELL_WIDTH, dpi);
    grid.cell_height = dpi_scale(CELL_HEIGHT, dpi);
    grid.right = grid.left + grid.cell_width * GRID_CELLS + GRID_RIGHT - GRID_LEFT -
                 CELL_WIDTH * GRID_CELLS;
    grid.bottom = grid.top + grid.cell_height * GRID_CELLS + GRID_BOTTOM - GRID_TOP -
                  CELL_HEIGHT * GRID_CELLS;
    return grid;
}

static void draw_picture(HWND picker, HDC dc)
{
    Grid grid = grid_of(picker);
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(BLACK_PEN));
    HGDIOBJ old_brush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Rectangle(dc, grid.left, grid.top, grid.right, grid.bottom);
    for (int i = 0; i <= GRID_CELLS; i++) {
        int x = grid.left + grid.cell_width * i;
        MoveToEx(dc, x, grid.top, NULL);
        LineTo(dc, x, grid.bottom);
        int y = grid.top + grid.cell_height * i;
        MoveToEx(dc, grid.left, y, NULL);
        LineTo(dc, grid.right, y);
    }
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    int column = settings.POPUPDLG_X;
    int row = settings.POPUPDLG_Y;
    Rectangle(dc, grid.left + grid.cell_width * column, grid.top + grid.cell_height * row,
              grid.left + grid.cell_width * (column + 1), grid.top + grid.cell_height * (row + 1));
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
    Grid grid = grid_of(picker);
    unsigned x = LOWORD(point);
    unsigned y = HIWORD(point);
    if (x < (unsigned)grid.left || x > (unsigned)grid.right || y < (unsigned)grid.top ||
        y > (unsigned)grid.bottom)
        return;
    settings.POPUPDLG_X = clamp_cell((int)(x - grid.left) / grid.cell_width);
    settings.POPUPDLG_Y = clamp_cell((int)(y - grid.top) / grid.cell_height);
    HDC dc = GetDC(picker);
    draw_picture(picker, dc);
    ReleaseDC(picker, dc);
}

// Where the template's client area does not hold the picture (its dialog
// units follow the font, the picture's pixels the DPI), the window widens to
// the picture with its margin on both sides, the OK button centred below it.
static void fit_to_picture(HWND picker)
{
    Grid grid = grid_of(picker);
    HWND ok = GetDlgItem(picker, IDOK);
    RECT window, client, button;
    GetWindowRect(picker, &window);
    GetClientRect(picker, &client);
    GetWindowRect(ok, &button);
    MapWindowPoints(NULL, picker, (POINT*)&button, 2);
    int width = client.right, left = button.left, top = button.top;
    if (width < grid.right) {
        width = grid.right + grid.left;
        left = (width - (button.right - button.left)) / 2;
    }
    if (top < grid.bottom + grid.top)
        top = grid.bottom + grid.top;
    SetWindowPos(ok, NULL, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(picker, NULL, 0, 0, width + (window.right - window.left) - client.right,
                 client.bottom + top - button.top + (window.bottom - window.top) - client.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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
        fit_to_picture(picker);
        place_below(picker, (HWND)lparam);
        return TRUE;
    case WM_DPICHANGED:
        // Once the dialog manager has scaled the button to the new DPI.
        PostMessageW(picker, WM_FIT_TO_PICTURE, 0, 0);
        return FALSE;
    case WM_FIT_TO_PICTURE:
        fit_to_picture(picker);
        InvalidateRect(picker, NULL, TRUE);
        return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(picker, &paint);
        draw_picture(picker, dc);
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
    DialogBoxParamW(app_instance, MAKEINTRESOURCEW(IDD_POSITION_PICKER), page, picker_proc,
                    (LPARAM)position_button);
}
