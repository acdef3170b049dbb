"""The settings sheet driven by real input: its pages, the numbers each box
corrects, what OK writes to the INI file, and closing the sheet during a
connection test."""
from harness import *

INTERVAL, STARTUP_WAIT, RETRY_MAX, RETRY_INTERVAL = 1008, 1024, 1025, 1006
AUTO_CLOSE_TIME, MAILER, SOUND_TEST = 1041, 1005, 1017
TEST, SERVER, SECURITY, USER, PASSWORD, USEAPOP, USEUIDL = (
    1000, 1004, 1028, 1021, 1022, 1023, 1007)
NO_SERVER = "ｻｰﾊﾞｰ名を設定してください。"


WIDE = {"INTERVAL": "120", "RETRY_MAX": "10", "RETRY_INTERVAL": "100"}  # wider than the boxes


ENTER = [  # an entry still in its box when Enter presses OK: stored as leaving the box shows
    (TIMING, RETRY_INTERVAL, "60", "RETRY_INTERVAL", "60"),
    (TIMING, RETRY_INTERVAL, "-1", "RETRY_INTERVAL", "10"),
    (TIMING, STARTUP_WAIT, "-9", "STARTUP_WAIT", "3"),
    (NOTIFY, AUTO_CLOSE_TIME, "-1", "AUTO_POPUP_CLOSE_TIME", "30")]


def test_the_sound_test_wide_numbers_and_enter_in_a_box(desktop):
    probe = desktop.probe
    app = start(desktop, dict(QUICK, USE_SOUND=1, SOUND_FILE="C:\\no\\such.wav", **WIDE))
    tray_shows(probe, NO_SERVER)
    sheet = Sheet(desktop)
    # The sound test locks the page while the sound starts, and gives it back
    # whole with the focus on its button; an unplayable file is not reported.
    # Input is handled in order: the Tab comes after the click, and moves the focus
    # from the button to the next box only if the button has it back. (Polling the
    # focus could take the click's own for the test's, on a loaded machine.)
    sheet.click(SOUND_TEST, NOTIFY)
    desktop.key("Tab")
    mailer = sheet.control(MAILER, NOTIFY)["hwnd"]
    wait_for(probe.focus, lambda hwnd: hwnd == mailer, what="the focus past the sound test")
    sheet.type_into(MAILER, NOTIFY, "")  # input is handled in order: the click is over
    assert all(c["enabled"] for c in sheet.controls(NOTIFY))
    sheet.show(TIMING)
    # A stored number wider than its box shows whole, and OK keeps it so, entered or not.
    assert [sheet.text(box, TIMING) for box in (INTERVAL, RETRY_MAX, RETRY_INTERVAL)] == [
        "120", "10", "100"]
    sheet.focus(INTERVAL, TIMING), sheet.focus(RETRY_MAX, TIMING)
    sheet.close(OK, key="Return")
    assert {key: dict(app.ini_entries())[key] for key in WIDE} == WIDE
    for row, (tab, box, typed, key, stored) in enumerate(ENTER):
        sheet = Sheet(desktop)
        sheet.show(tab)
        sheet.type_into(box, tab, typed)
        sheet.wait_text(box, tab, typed)
        sheet.close(OK, key="Return")
        assert dict(app.ini_entries())[key] == stored, f"row {row}: {app.ini_entries()}"


def test_ok_at_first_start_writes_every_setting_in_order(desktop, mailbox):
    probe = desktop.probe
    mailbox.add_message(size=700)
    app = Corvina(desktop, desktop.folder / "program").start()  # no INI file: the sheet first
    sheet = Sheet(desktop, from_menu=False)
    sheet.show(ACCOUNT)
    for box, text in ((SERVER, "localhost"), (USER, mailbox.name), (PASSWORD, "secret")):
        sheet.type_into(box, ACCOUNT, text, leave=True)
    sheet.click(SECURITY, ACCOUNT)  # the drop-down list, its third item
    desktop.key("Home", "Down", "Down", "Return")
    sheet.wait_text(SECURITY, ACCOUNT, "STLS (110)")
    sheet.click(USEAPOP, ACCOUNT)  # on by default
    sheet.click(USEUIDL, ACCOUNT)
    wait_for(lambda: sheet.control(USEUIDL, ACCOUNT)["checked"], what="UIDL ticked")
    sheet.show(TIMING)
    sheet.type_into(INTERVAL, TIMING, "7", leave=True)
    sheet.close(OK)
    values = dict(entries := app.ini_entries())
    stored = values.pop("PASSWORD")  # the program logs in with it below
    assert [key for key, _ in entries] == INI_KEYS + ["SECURITY"] and len(stored) == 36 + 8 * 6
    assert values == dict(zip(INI_KEYS[:2] + INI_KEYS[3:] + ["SECURITY"], [
        "localhost", mailbox.name, "0", "1", "7", "3", "3", "10", "", "0", "", "65280", "0", "0",
        "0", "65535", "0", "6", "6", "0", "", "", "", "", "", "", "0", "30", "2"], strict=True))
    # The start-up wait runs with the new settings, over STLS; a restart reads the file.
    tray_shows(probe, "1 通のメール (700 バイト)")
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    app.start()
    wait_for(probe.icon, lambda i: i["present"] and i["tip"] == "1 通のメール (700 バイト)",
             timeout=20, what="the check after a restart")


def close_box(sheet):
    """The centre of the close box at the right end of the sheet's caption."""
    (left, top, right, _), client = (record := sheet.record())["rect"], record["client"]
    border, caption = client[0] - left, client[1] - top - (client[0] - left)
    return right - border - caption // 2 - 1, top + border + caption // 2


def test_closing_the_sheet_during_a_test_leaves_no_session_behind(desktop, pop3):
    # The server never answers the login: the test holds the connection open.
    # Either the sheet stays and the test can still be aborted, or the sheet
    # goes and its connection with it, within a second.
    pop3.play(Behaviour(faults={"USER": SILENT}))
    start(desktop, scripted_settings(pop3, STARTUP_WAIT=120))
    for number, how in enumerate(("Escape", "alt+F4", "close box")):
        sheet = Sheet(desktop)
        sheet.show(ACCOUNT)
        sheet.click(TEST, ACCOUNT)
        wait_for(lambda: pop3.connection(number).lines, what=f"{how}: the test's USER")
        wait_for(lambda: not sheet.control(OK)["enabled"], what=f"{how}: the sheet locked")
        desktop.click(*close_box(sheet)) if how == "close box" else desktop.key(how)
        connection = pop3.connection(number)
        try:
            wait_for(lambda: connection.closed_by, timeout=1.0, what=f"{how}: the close")
        except AssertionError:
            assert find_sheet(desktop.probe), f"{how}: the sheet went and the session stayed"
            sheet.click(TEST, ACCOUNT)  # 中止
            wait_for(lambda: connection.closed_by, what=f"{how}: the aborted test's connection")
            sheet.close(CANCEL)
            continue
        assert connection.closed_by == "client", how
        wait_for(lambda: find_sheet(desktop.probe) is None, what=f"{how}: the sheet closed")
