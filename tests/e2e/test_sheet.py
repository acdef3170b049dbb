"""The settings sheet driven by real input: its pages, the numbers each box
corrects, what OK writes to the INI file and Cancel leaves, and the
connection test: its log, the locked sheet, abort, and closing the sheet."""
import hashlib
import re

from harness import (ABOUT, ACCOUNT, ACCOUNT_INPUTS, AUTO_CLOSE, AUTO_CLOSE_TIME, CANCEL,
                     DEFAULTS, ERROR, IDM_CHECK, IDM_EXIT, INI_KEYS, INTERVAL, LOG, MAILER, NOTIFY,
                     OK, PASSWORD, QUICK, RETRY_INTERVAL, RETRY_MAX, SAMPLE, SERVER, SILENT,
                     SOUND_TEST, STARTUP_WAIT, STOP_IF_MSG, TABS, TEST_BUTTON, TIME_STAMP, TIMING,
                     USE_BALLOON, USE_POPUP, USEAPOP, USER, USEUIDL, Behaviour, Sheet, count,
                     find_sheet, holds_for, open_from_menu, popup_on_screen, region,
                     run_connection_test, scripted_settings, start, tray_shows, wait_for)

NAVY, WHITE = (0x00, 0x00, 0x80), (0xFF, 0xFF, 0xFF)
NO_SERVER = "ｻｰﾊﾞｰ名を設定してください。"


def layout_faults(sheet, tab):
    """What a person would see wrong: controls cut off by the page's edge or
    on each other, a page outside the frame, tabs in more than one row."""
    inside = lambda a, b: b[0] <= a[0] and b[1] <= a[1] and a[2] <= b[2] and a[3] <= b[3]
    record = sheet.record()
    page = next(c for c in record["controls"] if c["hwnd"] == sheet.pages[tab])
    faults = [] if inside(page["rect"], record["client"]) else [f"page {page['rect']} outside"]
    if len({item["rect"][1] for item in sheet.tabs()["items"]}) != 1:
        faults.append("tabs in more than one row")
    controls = [c for c in record["controls"] if c["parent"] == page["hwnd"] and c["visible"]]
    faults += [f"{c['id']} {c['text']!r} cut off" for c in controls
               if not inside(c["rect"], page["rect"])]
    # An up-down lies on its edit's border, and a group box frames its rows.
    laid_out = [c for c in controls if c["class"] != "msctls_updown32" and c["id"] != -1]
    faults += [f"{a['id']} on {b['id']}" for i, a in enumerate(laid_out) for b in laid_out[i + 1:]
               if a["rect"][0] < b["rect"][2] and b["rect"][0] < a["rect"][2]
               and a["rect"][1] < b["rect"][3] and b["rect"][1] < a["rect"][3]]
    return faults


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
WIDE = {"INTERVAL": "120", "RETRY_MAX": "10", "RETRY_INTERVAL": "100"}  # wider than the boxes


def test_pages_fit_and_their_numbers_fall_back(desktop):
    probe = desktop.probe
    # White on navy: the sample shows them even with the system colours on.
    app = start(desktop, dict(QUICK, USE_SYSTEMCOLOR=1, POPUPDLG_BACK_COLOR=0x800000,
                              POPUPDLG_TEXT_COLOR=0xFFFFFF, USE_SOUND=1,
                              SOUND_FILE="C:\\no\\such.wav", **WIDE))
    tray_shows(probe, NO_SERVER)
    sheet = open_from_menu(desktop)
    assert [item["text"] for item in sheet.tabs()["items"]] == TABS
    assert [c["text"] for c in sheet.controls() if c["visible"] and c["class"] == "Button"] == [
        "OK", "キャンセル"]
    # The sound test locks the page while the sound starts, and gives it back
    # whole with the focus still on its button; an unplayable file is not reported.
    before = {c["id"]: c["enabled"] for c in sheet.controls(NOTIFY)}
    button = sheet.control(SOUND_TEST, NOTIFY)["hwnd"]
    sheet.click(SOUND_TEST, NOTIFY)
    focus = lambda: probe.focus()["focus"]["hwnd"]
    wait_for(focus, lambda hwnd: hwnd == button, what="the focus on the sound test")
    holds_for(focus, lambda hwnd: hwnd == button, 1, "the focus on the sound test")
    sheet.focus_on(MAILER, NOTIFY)  # input is handled in order: the click is over
    assert all(before.values())
    assert {c["id"]: c["enabled"] for c in sheet.controls(NOTIFY)} == before
    for tab in range(len(TABS)):
        if tab != NOTIFY:
            sheet.show(tab)
        desktop.grab(f"page-{tab}")
        assert layout_faults(sheet, tab) == [], TABS[tab]
    assert sheet.text(1002, ABOUT) == "corvina v0.18"
    # A stored number wider than its box shows whole, and OK keeps it so.
    assert [sheet.text(box, TIMING) for box in (INTERVAL, RETRY_MAX, RETRY_INTERVAL)] == [
        "120", "10", "100"]
    sheet.close(OK)
    assert {key: dict(app.ini_entries())[key] for key in WIDE} == WIDE

    sheet = open_from_menu(desktop)
    sample = region(desktop.grab(), sheet.control(SAMPLE, NOTIFY)["rect"])
    assert count(sample, NAVY) > len(sample) * len(sample[0]) // 2 and count(sample, WHITE) > 0
    for row, (tab, box, typed, shown) in enumerate(FALLBACKS):
        if sheet.tabs()["current"] != tab:
            sheet.show(tab)
        sheet.enter(box, tab, typed)
        sheet.wait_text(box, tab, lambda text: text == shown, what=f"row {row}: {shown!r}")
    sheet.close(OK)
    assert {key: dict(app.ini_entries())[key] for key in STORED} == STORED

    # "初期値に戻す" puts back the four defaults and leaves the stop switch alone.
    ini = app.default_ini.read_bytes()
    sheet = open_from_menu(desktop)
    sheet.show(TIMING)
    sheet.click(STOP_IF_MSG, TIMING)
    sheet.click(DEFAULTS, TIMING)
    boxes = (INTERVAL, STARTUP_WAIT, RETRY_MAX, RETRY_INTERVAL)
    wait_for(lambda: [sheet.text(box, TIMING) for box in boxes],
             lambda texts: texts == ["5", "3", "3", "10"], what="the defaults")
    assert sheet.control(STOP_IF_MSG, TIMING)["checked"] == 1
    sheet.close(CANCEL)
    assert app.default_ini.read_bytes() == ini


# An entry the box would correct on leaving it, still in the box when Enter
# presses OK: what is stored is what leaving the box would have shown.
ENTER_WITH_FOCUS = [  # tab, box, typed, INI key, stored
    (TIMING, RETRY_INTERVAL, "60", "RETRY_INTERVAL", "60"),
    (TIMING, RETRY_INTERVAL, "-1", "RETRY_INTERVAL", "10"),
    (TIMING, STARTUP_WAIT, "-9", "STARTUP_WAIT", "3"),
    (NOTIFY, AUTO_CLOSE_TIME, "-1", "AUTO_POPUP_CLOSE_TIME", "30"),
]


def test_enter_in_a_box_stores_what_leaving_it_would_show(desktop):
    app = start(desktop, QUICK)
    tray_shows(desktop.probe, NO_SERVER)
    for row, (tab, box, typed, key, stored) in enumerate(ENTER_WITH_FOCUS):
        sheet = open_from_menu(desktop)
        if tab != NOTIFY:
            sheet.show(tab)
        sheet.type_into(box, tab, typed)
        sheet.wait_text(box, tab, lambda text: text == typed, what=f"row {row}: typed")
        sheet.close(OK, key="Return")
        assert dict(app.ini_entries())[key] == stored, f"row {row}: {app.ini_entries()}"


def test_ok_at_first_start_writes_every_setting_in_order(desktop, mailbox):
    probe = desktop.probe
    mailbox.add_message(size=700)
    app = desktop.corvina()
    probe.load_exe(app.exe)
    app.start()  # no INI file: the sheet opens by itself
    sheet = Sheet(desktop)
    for box in (USE_POPUP, USE_BALLOON, AUTO_CLOSE):
        sheet.click(box, NOTIFY)
    sheet.enter(AUTO_CLOSE_TIME, NOTIFY, "12")
    sheet.enter(MAILER, NOTIFY, "C:\\mail\\mailer.exe /x")
    sheet.show(ACCOUNT)
    for box, text in ((SERVER, "127.0.0.1"), (USER, mailbox.name), (PASSWORD, mailbox.password)):
        sheet.enter(box, ACCOUNT, text)
    sheet.click(USEAPOP, ACCOUNT)  # on by default
    sheet.click(USEUIDL, ACCOUNT)
    sheet.show(TIMING)
    sheet.enter(INTERVAL, TIMING, "7")
    sheet.click(STOP_IF_MSG, TIMING)
    wait_for(lambda: [sheet.control(STOP_IF_MSG, TIMING)["checked"],
                      sheet.control(USEUIDL, ACCOUNT)["checked"]],
             lambda checks: checks == [1, 1], what="the last clicks taken")
    sheet.close(OK)
    entries = app.ini_entries()
    assert [key for key, _ in entries] == list(INI_KEYS)
    values = dict(entries)
    stored = values.pop("PASSWORD")  # the program logs in with it below
    assert len(stored) == 36 + 8 * len(mailbox.password) and mailbox.password not in stored
    assert values == {
        "SERVER": "127.0.0.1", "ACCOUNT": mailbox.name, "USEAPOP": "0", "USEUIDL": "1",
        "INTERVAL": "7", "STARTUP_WAIT": "3", "RETRY_MAX": "3", "RETRY_INTERVAL": "10",
        "MAILER": "C:\\mail\\mailer.exe /x", "USE_SOUND": "0", "SOUND_FILE": "",
        "BACK_COLOR": "65280", "STOP_IF_MSG": "1", "USE_POPUPDLG": "1",
        "POPUPDLG_TEXT_COLOR": "0", "POPUPDLG_BACK_COLOR": "65535", "USE_SYSTEMCOLOR": "0",
        "POPUPDLG_X": "6", "POPUPDLG_Y": "6", "USE_BALOON": "1", "POPUP_ICON": "",
        "NORMAL_ICON": "", "CHECK_ICON": "", "ARRIVE_ICON": "", "ERROR_ICON": "",
        "WAIT_ICON": "", "AUTO_POPUP_CLOSE": "1", "AUTO_POPUP_CLOSE_TIME": "12"}
    # The start-up wait runs with the new settings; a restart reads the file.
    tray_shows(probe, "1 通のメール (700 バイト)")
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    app.start()
    wait_for(probe.icon, lambda icon: icon["present"], what="the restarted program's icon")
    tray_shows(probe, "1 通のメール (700 バイト)")


def lock_state(sheet):
    """What a running test locks: tabs, OK, Cancel and the inputs; and what it leaves."""
    controls = {c["id"]: c for c in sheet.controls(ACCOUNT)}
    return {"tabs": sheet.tabs()["enabled"],
            "ok": sheet.control(OK)["enabled"], "cancel": sheet.control(CANCEL)["enabled"],
            "inputs": [controls[i]["enabled"] for i in ACCOUNT_INPUTS],
            "button": (controls[TEST_BUTTON]["text"], controls[TEST_BUTTON]["enabled"]),
            "log": (controls[LOG]["text"], controls[LOG]["enabled"])}


def unlocked(button, log):
    return {"tabs": True, "ok": True, "cancel": True, "inputs": [True] * 5,
            "button": (button, True), "log": (log, True)}


def test_the_connection_test_logs_locks_aborts_and_cancels(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(), Behaviour(), Behaviour(), Behaviour(greeting=SILENT))
    app = start(desktop, scripted_settings(pop3, USEUIDL=1, USE_POPUPDLG=1, USE_BALOON=1))
    tray_shows(probe, "1 通のメール (1000 バイト)")
    wait_for(probe.popup, popup_on_screen, what="the popup")
    ini = app.default_ini.read_bytes()
    sheet = open_from_menu(desktop)  # opening the sheet takes note of the mail
    assert app.uidl_lines() == ["uid-1"]
    sheet.show(ACCOUNT)
    assert lock_state(sheet) == unlocked("通信テスト", "")
    assert sheet.text(PASSWORD, ACCOUNT) == "*" * len("secret")
    sheet.click(USEAPOP, ACCOUNT)
    wait_for(lambda: sheet.control(USEAPOP, ACCOUNT)["checked"], what="APOP ticked")
    # The listings' own lines never reach the log, nor does the password;
    # the test uses the seen ids, and reports in the tray and the log only.
    greeting = re.escape("+OK corvina test server ready " + TIME_STAMP.decode())
    log = run_connection_test(sheet, [greeting, r"APOP alice \*\*\*\*\*", r"\+OK logged in",
                                      "STAT", r"\+OK 1 1000", "LIST", r"\+OK", "UIDL", r"\+OK",
                                      "QUIT", r"\+OK bye", "新着メールはありません"])
    digest = hashlib.md5(TIME_STAMP + b"secret").hexdigest()
    assert pop3.connection(1).lines[0] == f"APOP alice {digest}\r\n".encode()
    assert not any("secret" in line or digest in line for line in log)
    assert probe.icon()["tip"] == "新着メールはありません" and len(probe.icon()["balloons"]) == 1
    assert not popup_on_screen(probe.popup())

    # Cancel keeps the file and the settings from before: a check logs in with USER.
    sheet.close(CANCEL)
    assert app.default_ini.read_bytes() == ini
    probe.command(IDM_CHECK)
    wait_for(lambda: pop3.connection(2).lines[:1], lambda l: l == [b"USER alice\r\n"], what="USER")

    sheet = open_from_menu(desktop)
    sheet.show(ACCOUNT)
    sheet.click(TEST_BUTTON, ACCOUNT)
    # The page locks at the click, the sheet's buttons once the test runs.
    locked = {"tabs": False, "ok": False, "cancel": False, "inputs": [False] * 5,
              "button": ("中止", True), "log": ("", True)}
    wait_for(lambda: lock_state(sheet), lambda state: state == locked, what="the sheet locked")
    desktop.grab("test-running")
    # A click on a locked tab does nothing; input is handled in order, so by
    # the time the abort is seen, this click has been handled too.
    desktop.click_centre(sheet.tabs()["items"][TIMING]["rect"])
    sheet.click(TEST_BUTTON, ACCOUNT)
    aborted = unlocked("テスト", "処理を中止しました")
    wait_for(lambda: lock_state(sheet), lambda state: state == aborted, what="the test aborted")
    assert sheet.tabs()["current"] == ACCOUNT
    tray_shows(probe, "処理を中止しました", ERROR)
    wait_for(lambda: pop3.connection(3).closed_by, lambda by: by == "client", what="closed")
    assert pop3.connection(3).lines == []
    sheet.close(CANCEL)


def close_box(sheet):
    """The centre of the close box at the right end of the sheet's caption."""
    record = sheet.record()
    left, top, right, _ = record["rect"]
    border = record["client"][0] - left
    caption = record["client"][1] - top - border
    return right - border - caption // 2 - 1, top + border + caption // 2


CLOSING = [  # ways a person closes a window; none may leave the test's session behind
    ("Esc", lambda sheet: sheet.desktop.key("Escape")),
    ("Alt+F4", lambda sheet: sheet.desktop.key("alt+F4")),
    ("close box", lambda sheet: sheet.desktop.click(*close_box(sheet))),
]


def test_closing_the_sheet_during_a_test_leaves_no_session_behind(desktop, pop3):
    # The server never answers the login: the test holds the connection open.
    # Either the sheet stays and the test can still be aborted, or the sheet
    # goes and its connection with it, within a second.
    pop3.play(Behaviour(faults={"USER": SILENT}))
    start(desktop, scripted_settings(pop3, STARTUP_WAIT=120))
    for number, (how, close) in enumerate(CLOSING):
        sheet = open_from_menu(desktop)
        sheet.show(ACCOUNT)
        sheet.click(TEST_BUTTON, ACCOUNT)
        wait_for(lambda: pop3.connection(number).lines, what=f"{how}: the test's USER")
        wait_for(lambda: not sheet.control(OK)["enabled"], what=f"{how}: the sheet locked")
        close(sheet)
        connection = pop3.connection(number)
        try:
            wait_for(lambda: connection.closed_by, timeout=1.0, what=f"{how}: the close")
        except AssertionError:
            assert find_sheet(desktop.probe), f"{how}: the sheet went and the session stayed"
            sheet.click(TEST_BUTTON, ACCOUNT)  # 中止
            wait_for(lambda: connection.closed_by, what=f"{how}: the aborted test's connection")
            sheet.close(CANCEL)
            continue
        assert connection.closed_by == "client", how
        wait_for(lambda: find_sheet(desktop.probe) is None, what=f"{how}: the sheet closed")
