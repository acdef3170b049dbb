"""A desktop starts clean: the probe owns the task bar and sees no program.

The probe checks on start that Wine's shell32 delivers Shell_NotifyIcon
calls to it; these tests check what a desktop offers a test before any
program runs, so a broken desktop fails here and not in a program's test.
"""
import struct
from pathlib import Path

from harness.desktop import Desktop


def test_a_new_desktop_has_an_empty_tray_and_no_program(desktop):
    probe = desktop.probe
    assert probe.ready["tray"] != 0
    assert probe.state()["icons"] == []
    assert probe.events() == []
    assert probe.process() == {"running": False, "windows": 0, "hwnd": 0, "pid": 0}
    assert probe.popup() == {"exists": False, "work_area": [0, 0, 1024, 768]}
    assert probe.menu()["open"] is False
    assert probe.dialogs() == []


def test_the_probe_counts_a_process_s_handles_and_gdi_objects(desktop):
    counts = desktop.probe.resources(desktop.probe.ready["pid"])
    # The probe itself holds files, events and threads, and its window's DC objects.
    assert counts["handles"] > 0, counts
    assert counts["gdi"] > 0, counts


def test_a_screenshot_shows_the_whole_screen(desktop):
    picture = desktop.screenshot("empty").read_bytes()
    assert picture[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = struct.unpack(">II", picture[16:24])
    assert (width, height) == (1024, 768)


def _processes_of(prefix):
    """Every process that runs in the Wine prefix (they all carry it in their environment)."""
    needle = b"WINEPREFIX=" + str(prefix).encode() + b"\0"
    found = []
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and needle in (entry / "environ").read_bytes() + b"\0":
                found.append(int(entry.name))
        except OSError:
            pass
    return found


def test_nothing_of_a_desktop_reaches_the_next_in_its_slot(slot, case):
    with Desktop(slot, case.folder) as first:
        assert _processes_of(first.prefix), "the probe does not run in the slot's prefix"
        (first.prefix / "drive_c" / "left-behind.txt").write_text("from the first desktop")
        display = first.display
    assert _processes_of(first.prefix) == []
    assert not Path(f"/tmp/.X11-unix/X{display[1:]}").exists(), "Xvfb still runs"

    with Desktop(slot, case.folder) as second:
        assert not (second.prefix / "drive_c" / "left-behind.txt").exists()
        assert second.probe.state()["icons"] == []
