"""The box "スタートアップに登録する": OK puts one shortcut to this very
program into the Startup folder, or takes it away, and only when the box was
clicked; a shortcut to another copy of the program counts as absent."""
import struct

from harness import (CANCEL, IDM_EXIT, NOTIFY, OK, QUICK, STARTUP, open_from_menu, start,
                     tray_shows, wait_for, windows_path)


LINK_NAME = "メールチェッカー.lnk"


def read_link(data):
    """The fields of a shell link file (MS-SHLLINK) a test needs: the target's
    local path, the strings and the show command. Wine 8 counts a NUL into
    each string's length, which the format does not have: it is dropped."""
    flags = struct.unpack_from("<I", data, 20)[0]
    link = {"show_command": struct.unpack_from("<I", data, 0x3C)[0], "target": None}
    offset = 0x4C
    if flags & 0x01:  # an item id list
        offset += 2 + struct.unpack_from("<H", data, offset)[0]
    if flags & 0x02:  # link info: base path and suffix, Unicode ones when present
        info = data[offset:]
        header, info_flags, _, base, _, suffix = struct.unpack_from("<IIIIII", info, 4)
        if info_flags & 1:
            if header >= 0x24:
                base, suffix = struct.unpack_from("<II", info, 28)
                text = lambda at: info[at:].decode("utf-16-le", "replace").split("\0")[0]
            else:
                text = lambda at: info[at:].split(b"\0")[0].decode("cp932")
            link["target"] = text(base) + text(suffix)
        offset += struct.unpack_from("<I", info, 0)[0]
    wide = bool(flags & 0x80)
    for flag, name in ((0x04, "description"), (0x08, "relative_path"), (0x10, "working_dir"),
                       (0x20, "arguments"), (0x40, "icon_location")):
        if flags & flag:
            length = struct.unpack_from("<H", data, offset)[0] * (2 if wide else 1)
            raw = data[offset + 2:offset + 2 + length]
            link[name] = raw.decode("utf-16-le" if wide else "cp932").rstrip("\0")
            offset += 2 + length
    return link


def startup_files(desktop):
    """The files in the user's Startup folder of the desktop's prefix (Wine
    spells it "StartUp" and makes it when it is first asked for)."""
    programs = desktop.prefix.glob(
        "drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/*")
    return sorted(file for folder in programs if folder.name.lower() == "startup"
                  for file in folder.iterdir())


def the_link(desktop):
    """The one shortcut in the Startup folder: its file and its fields."""
    files = startup_files(desktop)
    assert [file.name for file in files] == [LINK_NAME], files
    return files[0], read_link(files[0].read_bytes())


def set_box(desktop, shown, clicks, button=OK):
    """Opens the sheet, checks what the box shows, clicks it and closes the sheet."""
    sheet = open_from_menu(desktop)
    assert sheet.control(STARTUP, NOTIFY)["checked"] == shown
    for click in range(clicks):
        sheet.click(STARTUP, NOTIFY)
        wait_for(lambda: sheet.control(STARTUP, NOTIFY)["checked"],
                 lambda checked: checked == (shown + click + 1) % 2, what="the box clicked")
    sheet.close(button)


def test_the_box_makes_one_shortcut_to_this_program_and_takes_it_away(desktop):
    app = start(desktop, QUICK)
    tray_shows(desktop.probe, "ｻｰﾊﾞｰ名を設定してください。")
    set_box(desktop, shown=0, clicks=1)
    made, link = the_link(desktop)
    fields = ("target", "arguments", "description", "working_dir", "icon_location",
              "show_command")
    assert {key: link[key] for key in fields} == {
        "target": windows_path(app.exe), "arguments": "/s",
        "description": "メールチェッカー", "working_dir": "", "icon_location": "",
        "show_command": 0}  # 0: hidden
    first_write = made.stat().st_mtime_ns

    # Clicked twice, back to ticked: OK writes the shortcut again, still one.
    set_box(desktop, shown=1, clicks=2)
    again, link = the_link(desktop)
    assert link["target"] == windows_path(app.exe)
    assert again.stat().st_mtime_ns != first_write

    set_box(desktop, shown=1, clicks=1)
    assert startup_files(desktop) == []
    set_box(desktop, shown=0, clicks=0)


def test_a_shortcut_to_another_copy_counts_as_absent(desktop):
    probe = desktop.probe
    other = desktop.corvina("other")
    probe.load_exe(other.exe)
    other.start(other.write_ini(QUICK))
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。")
    set_box(desktop, shown=0, clicks=1)
    probe.command(IDM_EXIT)
    assert other.wait_exit() == 0
    made, link = the_link(desktop)
    assert link["target"] == windows_path(other.exe)
    written = made.stat().st_mtime_ns

    app = start(desktop, QUICK)
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。")
    # Shown unticked; neither Cancel nor OK without a click touches the file.
    set_box(desktop, shown=0, clicks=0, button=CANCEL)
    set_box(desktop, shown=0, clicks=0)
    made, link = the_link(desktop)
    assert (link["target"], made.stat().st_mtime_ns) == (windows_path(other.exe), written)

    set_box(desktop, shown=0, clicks=1)
    assert the_link(desktop)[1]["target"] == windows_path(app.exe)
    set_box(desktop, shown=1, clicks=0)
