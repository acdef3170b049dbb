"""The sheet's pages as a person sees and fills them: every page fits its
frame, the sample shows the popup's colours, and numbers outside their range
fall back when their box is left. Screenshots of all five pages are kept."""

from harness import (ABOUT, AUTO_CLOSE_TIME, CANCEL, DEFAULTS, INTERVAL, MAILER, NOTIFY, OK, QUICK,
                     RETRY_INTERVAL, RETRY_MAX, SAMPLE, SOUND_TEST, STARTUP_WAIT, STOP_IF_MSG,
                     TABS, TIMING, count, holds_for, open_from_menu, region, start, tray_shows,
                     wait_for)


VERSION = 1002  # the About page's version text
NAVY, WHITE = (0x00, 0x00, 0x80), (0xFF, 0xFF, 0xFF)
SHOT_NAMES = ["notify", "account", "timing", "icons", "about"]


def inside(inner, outer):
    return (outer[0] <= inner[0] and outer[1] <= inner[1] and inner[2] <= outer[2]
            and inner[3] <= outer[3])


def overlap(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


def layout_faults(sheet, tab):
    """What a person would see wrong on the page: controls cut off by the
    page's edge or lying on each other, a page outside the frame, tabs in
    more than one row."""
    record = sheet.record()
    page = next(c for c in record["controls"] if c["hwnd"] == sheet.pages[tab])
    faults = []
    if not inside(page["rect"], record["client"]):
        faults.append(f"page {page['rect']} outside the frame {record['client']}")
    tabs = sheet.tabs()["items"]
    if len({item["rect"][1] for item in tabs}) != 1:
        faults.append(f"tabs in more than one row: {tabs}")
    controls = [c for c in record["controls"] if c["parent"] == page["hwnd"] and c["visible"]]
    for control in controls:
        if not inside(control["rect"], page["rect"]):
            faults.append(f"control {control['id']} {control['text']!r} cut off: {control['rect']}")
    # An up-down lies on its edit's border, and a group box frames its rows.
    laid_out = [c for c in controls if c["class"] != "msctls_updown32"
                and not (c["class"] == "Button" and c["id"] == -1)]
    for i, first in enumerate(laid_out):
        for second in laid_out[i + 1:]:
            if overlap(first["rect"], second["rect"]):
                faults.append(f"{first['id']} {first['text']!r} on {second['id']} "
                              f"{second['text']!r}")
    return faults


def test_every_page_fits_and_shows_its_settings(desktop):
    probe = desktop.probe
    # White on navy; the sample shows them even with the system colours on.
    start(desktop, dict(QUICK, USE_SYSTEMCOLOR=1, POPUPDLG_BACK_COLOR=0x800000,
                        POPUPDLG_TEXT_COLOR=0xFFFFFF))
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。")
    sheet = open_from_menu(desktop)
    assert [item["text"] for item in sheet.tabs()["items"]] == TABS
    assert [c["text"] for c in sheet.controls() if c["visible"] and c["class"] == "Button"] == [
        "OK", "キャンセル"]  # no Apply, no Help
    for tab, name in enumerate(SHOT_NAMES):
        if tab != NOTIFY:
            sheet.show(tab)
        shot = desktop.grab(f"page-{name}")
        faults = layout_faults(sheet, tab)
        assert faults == [], (TABS[tab], faults)
        if tab == NOTIFY:
            sample = region(shot, sheet.control(SAMPLE, NOTIFY)["rect"])
            area = len(sample) * len(sample[0])
            assert count(sample, NAVY) > area // 2, sample[len(sample) // 2]
            assert count(sample, WHITE) > 0, "no white text on the sample"
    assert sheet.text(VERSION, ABOUT) == "corvina v0.18"
    sheet.close(CANCEL)


# Typed into a box and the box left: what it shows then. Each box's last row
# leaves the value OK stores.
FALLBACKS = [
    (TIMING, INTERVAL, "2", "5"),
    (TIMING, INTERVAL, "61", "5"),
    (TIMING, INTERVAL, "123", "12"),  # the box takes two digits
    (TIMING, STARTUP_WAIT, "0", "3"),
    (TIMING, STARTUP_WAIT, "120", "120"),
    (TIMING, RETRY_MAX, "95", "9"),  # one digit
    (TIMING, RETRY_MAX, "x", "x"),  # not a number reads 0, which is in range
    (TIMING, RETRY_INTERVAL, "61", "10"),
    (TIMING, RETRY_INTERVAL, "9", "10"),
    (TIMING, RETRY_INTERVAL, "60", "60"),
    (NOTIFY, AUTO_CLOSE_TIME, "0", "30"),
    (NOTIFY, AUTO_CLOSE_TIME, "100", "10"),
]
STORED = {"INTERVAL": "12", "STARTUP_WAIT": "120", "RETRY_MAX": "0", "RETRY_INTERVAL": "60",
          "AUTO_POPUP_CLOSE_TIME": "10"}


def test_numbers_out_of_range_fall_back_when_their_box_is_left(desktop):
    app = start(desktop, QUICK)
    tray_shows(desktop.probe, "ｻｰﾊﾞｰ名を設定してください。")
    sheet = open_from_menu(desktop)
    sheet.show(TIMING)
    for row, (tab, box, typed, shown) in enumerate(FALLBACKS):
        if sheet.tabs()["current"] != tab:
            sheet.show(tab)
        sheet.enter(box, tab, typed)
        sheet.wait_text(box, tab, lambda text: text == shown, what=f"row {row}: {shown!r}")
    sheet.close(OK)
    values = dict(app.ini_entries())
    assert {key: values[key] for key in STORED} == STORED

    # The page opens with what was stored; "初期値に戻す" puts back the four
    # defaults and leaves the stop switch alone.
    ini = app.default_ini.read_bytes()
    sheet = open_from_menu(desktop)
    sheet.show(TIMING)
    boxes = (INTERVAL, STARTUP_WAIT, RETRY_MAX, RETRY_INTERVAL)
    assert [sheet.text(box, TIMING) for box in boxes] == ["12", "120", "0", "60"]
    sheet.click(STOP_IF_MSG, TIMING)
    sheet.click(DEFAULTS, TIMING)
    wait_for(lambda: [sheet.text(box, TIMING) for box in boxes],
             lambda texts: texts == ["5", "3", "3", "10"], what="the defaults")
    assert sheet.control(STOP_IF_MSG, TIMING)["checked"] == 1
    sheet.close(CANCEL)
    assert app.default_ini.read_bytes() == ini


def test_stored_numbers_wider_than_their_boxes_stay_whole(desktop):
    # A box's width limits typing only: values from the INI file show as
    # they are and OK stores them so, as long as nobody edits the box.
    wide = {"INTERVAL": "120", "RETRY_MAX": "10", "RETRY_INTERVAL": "100"}
    app = start(desktop, dict(QUICK, **wide))
    tray_shows(desktop.probe, "ｻｰﾊﾞｰ名を設定してください。")
    sheet = open_from_menu(desktop)
    sheet.show(TIMING)
    assert [sheet.text(box, TIMING) for box in (INTERVAL, RETRY_MAX, RETRY_INTERVAL)] == [
        "120", "10", "100"]
    sheet.close(OK)
    values = dict(app.ini_entries())
    assert {key: values[key] for key in wide} == wide


def test_the_sound_test_gives_the_page_back(desktop):
    # The page is locked while the sound starts; a file that cannot be
    # played is not reported, and afterwards every control is usable and the
    # focus is still on the button, although disabling it took the focus.
    probe = desktop.probe
    start(desktop, dict(QUICK, USE_SOUND=1, SOUND_FILE="C:\\no\\such.wav"))
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。")
    sheet = open_from_menu(desktop)
    before = {c["id"]: c["enabled"] for c in sheet.controls(NOTIFY)}
    assert all(before.values()), before
    button = sheet.control(SOUND_TEST, NOTIFY)["hwnd"]
    sheet.click(SOUND_TEST, NOTIFY)
    focus = lambda: probe.focus()["focus"]["hwnd"]
    wait_for(focus, lambda hwnd: hwnd == button, what="the focus on the sound test")
    holds_for(focus, lambda hwnd: hwnd == button, seconds=1, what="the focus on the sound test")
    sheet.focus_on(MAILER, NOTIFY)  # input is handled in order: the click is over
    assert {c["id"]: c["enabled"] for c in sheet.controls(NOTIFY)} == before
    sheet.close(CANCEL)


# An entry the box would correct on leaving it, still in the box when Enter
# presses OK: what is stored is what leaving the box would have shown.
ENTER_WITH_FOCUS = [  # tab, box, typed, INI key, stored
    (TIMING, RETRY_INTERVAL, "-1", "RETRY_INTERVAL", "10"),
    (TIMING, STARTUP_WAIT, "-9", "STARTUP_WAIT", "3"),
    (TIMING, RETRY_INTERVAL, "60", "RETRY_INTERVAL", "60"),
    (NOTIFY, AUTO_CLOSE_TIME, "-1", "AUTO_POPUP_CLOSE_TIME", "30"),
]


def test_enter_in_a_box_stores_what_leaving_it_would_show(desktop):
    app = start(desktop, QUICK)
    tray_shows(desktop.probe, "ｻｰﾊﾞｰ名を設定してください。")
    for row, (tab, box, typed, key, stored) in enumerate(ENTER_WITH_FOCUS):
        sheet = open_from_menu(desktop)
        if tab != NOTIFY:
            sheet.show(tab)
        sheet.type_into(box, tab, typed)
        sheet.wait_text(box, tab, lambda text: text == typed, what=f"row {row}: typed")
        sheet.close(OK, key="Return")
        assert dict(app.ini_entries())[key] == stored, f"row {row}: {app.ini_entries()}"
