"""The icon page, used as a person uses it: a path typed into a slot's box
shows that icon in the preview as soon as the box is left, and in the tray
once OK is pressed; a file that is not there gives the built-in icon;
Cancel changes nothing."""
import struct

from harness import (CANCEL, ERROR, ICONS, NORMAL, OK, QUICK, count, open_from_menu, region, start,
                     tray_shows, wait_for)

RED, BLUE = (0xFF, 0x00, 0x00), (0x00, 0x00, 0xFF)
# Path box and preview of a slot.
POPUP_SLOT = (1027, 1038)
NORMAL_SLOT = (1028, 1034)


def write_solid_icon(path, rgb):
    """An .ico file of one opaque colour at 16 and 32 pixels (32 bits, BGRA
    rows bottom-up, an all-clear mask), so its pixels tell the drawn size."""
    images = []
    for size in (16, 32):
        colours = bytes((rgb[2], rgb[1], rgb[0], 0xFF)) * (size * size)
        mask = bytes((size + 31) // 32 * 4 * size)
        images.append(struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                                  len(colours) + len(mask), 0, 0, 0, 0) + colours + mask)
    entries, offset = b"", 6 + 16 * len(images)
    for size, image in zip((16, 32), images):
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(struct.pack("<HHH", 0, 1, len(images)) + entries + b"".join(images))
    return path


def icon_files(desktop):
    """A red and a blue icon on drive C: of the test's prefix, by their Windows paths."""
    folder = desktop.prefix / "drive_c" / "ico"
    files = {}
    for name, rgb in (("red", RED), ("blue", BLUE)):
        files[name] = (write_solid_icon(folder / f"{name}.ico", rgb), f"C:\\ico\\{name}.ico")
    return files


def preview_pixels(desktop, sheet, slot, rgb):
    """How many pixels of the colour the slot's preview shows on the screen."""
    return count(region(desktop.grab(), sheet.control(slot[1], ICONS)["rect"]), rgb)


def wait_preview(desktop, sheet, slot, rgb, condition, what):
    """Waits until the number of pixels of the colour in the slot's preview meets condition."""
    return wait_for(lambda: preview_pixels(desktop, sheet, slot, rgb), condition,
                    what=f"preview {slot[1]}: {what}")


def small(n):
    return n == 16 * 16


def test_a_chosen_icon_shows_at_once_and_in_the_tray_after_ok(desktop):
    probe = desktop.probe
    files = icon_files(desktop)
    app = start(desktop, QUICK)
    probe.load_ico("red", files["red"][0])
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。", ERROR)
    sheet = open_from_menu(desktop)
    sheet.show(ICONS)
    assert preview_pixels(desktop, sheet, NORMAL_SLOT, RED) == 0

    sheet.enter(NORMAL_SLOT[0], ICONS, files["red"][1])
    wait_preview(desktop, sheet, NORMAL_SLOT, RED, small, "the red icon, 16 x 16")
    sheet.enter(POPUP_SLOT[0], ICONS, files["blue"][1])
    # The popup's icon is the large one. Its preview control takes the icon's
    # size, sunken edge included, which covers the icon's outer ring of pixels.
    wait_preview(desktop, sheet, POPUP_SLOT, BLUE, lambda n: n >= 30 * 30,
                 "the blue icon, 32 x 32")
    desktop.grab("icons-chosen")
    assert probe.icon()["icon"] == "118"  # the tray rests on the waiting icon meanwhile

    sheet.close(OK)
    tray_shows(probe, "corvina", "red")
    values = dict(app.ini_entries())
    assert (values["NORMAL_ICON"], values["POPUP_ICON"]) == (files["red"][1], files["blue"][1])


MISSING = "C:\\ico\\missing.ico"


def enter_missing_file(desktop, files):
    """Opens the icon page, where the normal icon is red, and names a missing file instead."""
    sheet = open_from_menu(desktop)
    sheet.show(ICONS)
    assert sheet.text(NORMAL_SLOT[0], ICONS) == files["red"][1]
    wait_preview(desktop, sheet, NORMAL_SLOT, RED, small, "the red icon, 16 x 16")
    sheet.enter(NORMAL_SLOT[0], ICONS, MISSING)
    wait_preview(desktop, sheet, NORMAL_SLOT, RED, lambda n: n == 0, "the red icon gone")
    return sheet


def test_a_missing_file_gives_the_built_in_icon_and_cancel_changes_nothing(desktop):
    probe = desktop.probe
    files = icon_files(desktop)
    app = start(desktop, dict(QUICK, NORMAL_ICON=files["red"][1]))
    probe.load_ico("red", files["red"][0])
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。", ERROR)
    ini = app.default_ini.read_bytes()

    enter_missing_file(desktop, files).close(CANCEL)
    tray_shows(probe, "corvina", "red")
    assert app.default_ini.read_bytes() == ini

    enter_missing_file(desktop, files).close(OK)
    tray_shows(probe, "corvina", NORMAL)
    assert dict(app.ini_entries())["NORMAL_ICON"] == MISSING  # stored as typed
