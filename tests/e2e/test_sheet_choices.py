"""The sheet's choosers, used as a person uses them: the popup position
picker, the icon page, and the box that puts a shortcut to the program into
the Startup folder."""
import struct

from harness import (CANCEL, ICONS, IDM_CHECK, IDM_EXIT, NORMAL, NOTIFY, OK, POSITION, QUICK,
                     STARTUP, count, open_from_menu, popup_on_screen, region, scripted_settings,
                     start, tray_shows, wait_for, windows_path)

# A click at a client point of the picker, and the cell it chooses (None:
# nothing changes). Columns are 12 pixels wide and rows 9 high from (10, 10);
# the last ones reach to x 95 and y 74.
CLICKS = [((10, 10), (0, 0)), ((9, 40), None), ((95, 74), (6, 6)), ((96, 40), None),
          ((40, 75), None), ((40, 9), None), ((22, 19), (1, 1)), ((21, 18), (0, 0)),
          ((33, 27), (1, 1))]


class Picker:
    """The sheet's dialog with nothing but its OK button; the chosen cell is
    the grid's one black cell as drawn on the screen."""

    def __init__(self, desktop, sheet):
        self.desktop, self.sheet = desktop, sheet
        sheet.click(POSITION, NOTIFY)
        self.record = wait_for(self._find, what="the position picker")

    def _find(self):
        return next((d for d in self.desktop.probe.dialogs() if d["owner"] == self.sheet.hwnd and
                     [(c["class"], c["id"]) for c in d["controls"]] == [("Button", OK)]), None)

    def cell(self):
        pixels = region(self.desktop.grab(), self.record["client"])
        colours = {(x, y): pixels[14 + 9 * y][16 + 12 * x] for x in range(7) for y in range(7)}
        black = [cell for cell, colour in colours.items() if colour == (0, 0, 0)]
        ok = set(colours.values()) <= {(0, 0, 0), (255, 255, 255)} and len(black) == 1
        return black[0] if ok else None  # None while the grid is not drawn

    def wait_cell(self, cell):
        return wait_for(self.cell, lambda seen: seen == cell, what=f"cell {cell} drawn")

    def click(self, x, y):
        self.desktop.click(self.record["client"][0] + x, self.record["client"][1] + y)

    def close(self):
        self.desktop.click_centre(self.record["controls"][0]["rect"])
        wait_for(lambda: self._find() is None, what="the picker closed")


def popup_at(probe, place):
    """The popup's place on the 7 x 7 grid of the work area."""
    def placed(popup):
        if not popup_on_screen(popup):
            return False
        (left, top, right, bottom), area = popup["rect"], popup["work_area"]
        free = (area[2] - area[0] - right + left, area[3] - area[1] - bottom + top)
        return [left, top] == [area[i] + free[i] * place[i] // 6 for i in (0, 1)]
    return wait_for(probe.popup, placed, what=f"the popup at {place}")


def test_the_picker_chooses_the_cell_under_the_click(desktop, pop3):
    probe = desktop.probe
    app = start(desktop, scripted_settings(pop3, USE_POPUPDLG=1))
    popup_at(probe, (6, 6))
    sheet = open_from_menu(desktop)
    picker = Picker(desktop, sheet)
    button = sheet.control(POSITION, NOTIFY)["rect"]
    assert picker.record["rect"][:2] == [button[0], button[3]]  # just below the button
    picker.wait_cell((6, 6))
    chosen = (6, 6)
    for row, ((x, y), cell) in enumerate(CLICKS):
        picker.click(x, y)
        if cell:
            chosen = picker.wait_cell(cell)
        else:  # clicks are handled in order: closed and opened again, it shows the choice
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
    assert [dict(app.ini_entries())[key] for key in ("POPUPDLG_X", "POPUPDLG_Y")] == ["1", "1"]
    probe.command(IDM_CHECK)
    popup_at(probe, (1, 1))

    ini = app.default_ini.read_bytes()  # Cancel forgets a choice
    sheet = open_from_menu(desktop)
    picker = Picker(desktop, sheet)
    picker.wait_cell((1, 1))
    picker.click(90, 12)
    picker.wait_cell((6, 0))
    picker.close()
    sheet.close(CANCEL)
    assert app.default_ini.read_bytes() == ini
    probe.command(IDM_CHECK)
    popup_at(probe, (1, 1))


def write_icon(path, rgb):
    """An .ico file of one opaque colour at 16 and 32 pixels (32 bits, BGRA
    rows bottom-up, an all-clear mask), so its pixels tell the drawn size."""
    mask = {size: bytes((size + 31) // 32 * 4 * size) for size in (16, 32)}  # rows of 4n bytes
    images = [struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                          size * size * 4 + len(mask[size]), 0, 0, 0, 0)
              + bytes((*rgb[::-1], 255)) * size * size + mask[size] for size in (16, 32)]
    offsets = [6 + 32, 6 + 32 + len(images[0])]
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(struct.pack("<HHH", 0, 1, 2) + b"".join(
        struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        for size, image, offset in zip((16, 32), images, offsets)) + b"".join(images))
    return path


RED, BLUE = (0xFF, 0, 0), (0, 0, 0xFF)
NORMAL_SLOT, POPUP_SLOT = (1028, 1034), (1027, 1038)  # path box, preview
MISSING = "C:\\ico\\missing.ico"


def test_icon_files_show_in_the_preview_and_the_tray(desktop):
    probe = desktop.probe
    for name, rgb in (("red", RED), ("blue", BLUE)):
        write_icon(desktop.prefix / "drive_c" / "ico" / f"{name}.ico", rgb)
    probe.load_ico("red", 16, windows_path(desktop.prefix / "drive_c" / "ico" / "red.ico"))
    app = start(desktop, QUICK)
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。")
    sheet = open_from_menu(desktop)
    sheet.show(ICONS)
    def preview(slot, rgb):
        return count(region(desktop.grab(), sheet.control(slot[1], ICONS)["rect"]), rgb)
    assert preview(NORMAL_SLOT, RED) == 0
    sheet.enter(NORMAL_SLOT[0], ICONS, "C:\\ico\\red.ico")
    wait_for(lambda: preview(NORMAL_SLOT, RED), lambda n: n == 16 * 16, what="red, 16 x 16")
    sheet.enter(POPUP_SLOT[0], ICONS, "C:\\ico\\blue.ico")
    # The popup's icon is the large one; the preview's sunken edge covers its outer ring.
    wait_for(lambda: preview(POPUP_SLOT, BLUE), lambda n: n >= 30 * 30, what="blue, 32 x 32")
    assert probe.icon()["icon"] == "118"  # the tray rests on the waiting icon meanwhile
    sheet.close(OK)
    tray_shows(probe, "corvina", "red")
    values = dict(app.ini_entries())
    assert [values["NORMAL_ICON"], values["POPUP_ICON"]] == ["C:\\ico\\red.ico",
                                                             "C:\\ico\\blue.ico"]

    # A file that is not there gives the built-in icon; Cancel changes nothing.
    ini = app.default_ini.read_bytes()
    for button, icon in ((CANCEL, "red"), (OK, NORMAL)):
        sheet = open_from_menu(desktop)
        sheet.show(ICONS)
        wait_for(lambda: preview(NORMAL_SLOT, RED), lambda n: n == 16 * 16, what="red shown")
        sheet.enter(NORMAL_SLOT[0], ICONS, MISSING)
        wait_for(lambda: preview(NORMAL_SLOT, RED), lambda n: n == 0, what="red gone")
        sheet.close(button)
        tray_shows(probe, "corvina", icon)
        assert (app.default_ini.read_bytes() == ini) == (button == CANCEL)
    assert dict(app.ini_entries())["NORMAL_ICON"] == MISSING  # stored as typed


def read_link(data):
    """What a test needs of a shell link file (MS-SHLLINK): the target's
    local path, the strings, the show command. Wine 8 counts a NUL into each
    string's length, which the format does not have: it is dropped."""
    flags = struct.unpack_from("<I", data, 20)[0]
    link = {"show_command": struct.unpack_from("<I", data, 0x3C)[0], "target": None}
    offset = 0x4C + (2 + struct.unpack_from("<H", data, 0x4C)[0] if flags & 0x01 else 0)
    if flags & 0x02:  # link info: base path and suffix, the Unicode ones when there
        info = data[offset:]
        header, _, _, base, _, suffix = struct.unpack_from("<IIIIII", info, 4)
        if header >= 0x24:
            base, suffix = struct.unpack_from("<II", info, 28)
            text = lambda at: info[at:].decode("utf-16-le", "replace").split("\0")[0]
        else:
            text = lambda at: info[at:].split(b"\0")[0].decode("cp932")
        link["target"] = text(base) + text(suffix)
        offset += struct.unpack_from("<I", info, 0)[0]
    for flag, name in ((0x04, "description"), (0x08, "relative_path"), (0x10, "working_dir"),
                       (0x20, "arguments"), (0x40, "icon_location")):
        if flags & flag:
            length = struct.unpack_from("<H", data, offset)[0] * (2 if flags & 0x80 else 1)
            raw = data[offset + 2:offset + 2 + length]
            link[name] = raw.decode("utf-16-le" if flags & 0x80 else "cp932").rstrip("\0")
            offset += 2 + length
    return link


def shortcuts(desktop):
    """(file, fields) of each shortcut in the Startup folder (Wine spells it
    "StartUp" and makes it when it is first asked for)."""
    folders = desktop.prefix.glob(
        "drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/*")
    return [(file, read_link(file.read_bytes())) for folder in folders
            if folder.name.lower() == "startup" for file in sorted(folder.iterdir())]


# Clicks on the box and the button that closes the sheet; the box's state
# when the sheet opens; the program whose shortcut is there afterwards
# (None: none), and whether the file was written.
STARTUP_ROWS = [
    (1, OK, 0, "other", True),  # another copy's shortcut
    (0, CANCEL, 0, "other", False),  # ... counts as absent, and nothing is touched
    (0, OK, 0, "other", False),  # without a click
    (1, OK, 0, "this", True),
    (2, OK, 1, "this", True),  # clicked twice, back to ticked: written again, still one
    (1, OK, 1, None, True),
    (0, OK, 0, None, False),
]


def test_the_startup_box_makes_one_shortcut_to_this_program(desktop):
    probe = desktop.probe
    programs = {"other": start(desktop, QUICK, name="other")}
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。")
    written = None
    for row, (clicks, button, shown, target, writes) in enumerate(STARTUP_ROWS):
        if row == 1:
            probe.command(IDM_EXIT)
            assert programs["other"].wait_exit() == 0
            programs["this"] = start(desktop, QUICK)
            tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。")
        sheet = open_from_menu(desktop)
        assert sheet.control(STARTUP, NOTIFY)["checked"] == shown, row
        for click in range(clicks):
            sheet.click(STARTUP, NOTIFY)
            wait_for(lambda: sheet.control(STARTUP, NOTIFY)["checked"],
                     lambda checked: checked == (shown + click + 1) % 2, what="the box clicked")
        sheet.close(button)
        found = shortcuts(desktop)
        if target is None:
            assert found == [], row
            continue
        (file, link), = found
        assert file.name == "メールチェッカー.lnk" and link["target"] == windows_path(
            programs[target].exe), row
        assert (file.stat().st_mtime_ns != written) == writes, row
        written = file.stat().st_mtime_ns
        assert {key: link[key] for key in ("arguments", "description", "working_dir",
                                           "icon_location", "show_command")} == {
            "arguments": "/s", "description": "メールチェッカー", "working_dir": "",
            "icon_location": "", "show_command": 0}, row  # 0: hidden
