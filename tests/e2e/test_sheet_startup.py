"""The box "スタートアップに登録する": OK puts one shortcut to this very
program into the Startup folder, or takes it away, and only when the box was
clicked; a shortcut to another copy of the program counts as absent."""
from harness import IDM_EXIT, wait_for, windows_path
from harness.shell_link import read_link
from sheet import CANCEL, NOTIFY, OK, STARTUP, open_from_menu
from steps import QUICK, start, tray_shows

LINK_NAME = "メールチェッカー.lnk"


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
