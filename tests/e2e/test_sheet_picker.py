"""The popup position picker, clicked as a person clicks it: the cell under
the click is chosen, a click beside the grid changes nothing, Esc does not
close it; OK on the sheet stores the place and the next popup stands there,
Cancel forgets it."""

from harness import (CANCEL, IDM_CHECK, NOTIFY, OK, POSITION, open_from_menu, popup_on_screen,
                     region, scripted_settings, start, wait_for)


GRID = 7
BLACK, WHITE = (0, 0, 0), (255, 255, 255)

# A click at a client point of the picker, and the cell it chooses (None:
# nothing changes). Columns are 12 pixels wide and rows 9 high from (10, 10);
# the last ones reach to x 95 and y 74.
CLICKS = [
    ((10, 10), (0, 0)),
    ((9, 40), None),
    ((95, 74), (6, 6)),
    ((96, 40), None),
    ((40, 75), None),
    ((40, 9), None),
    ((22, 19), (1, 1)),
    ((21, 18), (0, 0)),
    ((33, 27), (1, 1)),
]


def find_picker(probe, sheet):
    """The picker: the sheet's dialog with nothing but its OK button."""
    for dialog in probe.dialogs():
        controls = [(c["class"], c["id"], c["text"]) for c in dialog["controls"]]
        if dialog["owner"] == sheet.hwnd and controls == [("Button", OK, "OK")]:
            return dialog
    return None


def chosen_cell(png, client):
    """The one black cell of the grid as drawn on the screen; None while the
    grid is not (yet) drawn there."""
    pixels = region(png, client)
    black = []
    for column in range(GRID):
        for row in range(GRID):
            colour = pixels[10 + 9 * row + 4][10 + 12 * column + 6]
            if colour == BLACK:
                black.append((column, row))
            elif colour != WHITE:
                return None
    return black[0] if len(black) == 1 else None


class Picker:
    def __init__(self, desktop, sheet):
        self.desktop, self.sheet = desktop, sheet
        sheet.click(POSITION, NOTIFY)
        self.record = wait_for(lambda: find_picker(desktop.probe, sheet),
                               what="the position picker")

    def cell(self):
        return chosen_cell(self.desktop.grab(), self.record["client"])

    def wait_cell(self, cell):
        return wait_for(self.cell, lambda seen: seen == cell, what=f"cell {cell} drawn")

    def click(self, x, y):
        left, top = self.record["client"][:2]
        self.desktop.click(left + x, top + y)

    def close(self):
        ok = next(c for c in self.record["controls"] if c["id"] == OK)
        self.desktop.click_centre(ok["rect"])
        wait_for(lambda: find_picker(self.desktop.probe, self.sheet) is None,
                 what="the picker closed")


def popup_place(popup):
    """The popup's column and row on the 7 x 7 grid of the work area."""
    left, top, right, bottom = popup["rect"]
    area_left, area_top, area_right, area_bottom = popup["work_area"]
    free_x = (area_right - area_left) - (right - left)
    free_y = (area_bottom - area_top) - (bottom - top)
    for column in range(GRID):
        for row in range(GRID):
            if (left, top) == (area_left + free_x * column // 6, area_top + free_y * row // 6):
                return column, row
    return None


def announced_at(probe, place):
    """Asks for a check (the menu's command); waits for the popup to appear at place."""
    probe.command(IDM_CHECK)
    return wait_for(probe.popup, lambda p: popup_on_screen(p) and popup_place(p) == place,
                    what=f"the popup at {place}")


def test_the_picker_chooses_the_cell_under_the_click(desktop, pop3):
    probe = desktop.probe
    app = start(desktop, scripted_settings(pop3, USE_POPUPDLG=1))
    wait_for(probe.popup, lambda p: popup_on_screen(p) and popup_place(p) == (6, 6),
             what="the popup in its default place")
    sheet = open_from_menu(desktop)
    picker = Picker(desktop, sheet)
    button = sheet.control(POSITION, NOTIFY)["rect"]
    assert picker.record["rect"][:2] == [button[0], button[3]]  # just below the button
    picker.wait_cell((6, 6))
    desktop.grab("picker")

    chosen = (6, 6)
    for row, ((x, y), cell) in enumerate(CLICKS):
        picker.click(x, y)
        if cell:
            picker.wait_cell(cell)
            chosen = cell
        else:
            # Clicks are handled in order: once OK has closed the picker, the
            # click before it has been handled too; opened again, the picker
            # shows what is chosen.
            picker.close()
            picker = Picker(desktop, sheet)
            assert picker.wait_cell(chosen) == chosen, f"row {row}"
    desktop.key("Escape")  # ignored: the next click still reaches the picker
    picker.click(10, 74)
    picker.wait_cell((0, 6))
    picker.click(33, 27)
    picker.wait_cell((1, 1))
    picker.close()
    sheet.close(OK)
    values = dict(app.ini_entries())
    assert (values["POPUPDLG_X"], values["POPUPDLG_Y"]) == ("1", "1")
    announced_at(probe, (1, 1))

    ini = app.default_ini.read_bytes()
    sheet = open_from_menu(desktop)
    picker = Picker(desktop, sheet)
    picker.wait_cell((1, 1))
    picker.click(90, 12)
    picker.wait_cell((6, 0))
    picker.close()
    sheet.close(CANCEL)
    assert app.default_ini.read_bytes() == ini
    announced_at(probe, (1, 1))
