"""The settings sheet driven by real input: its pages, the numbers each box
corrects, what OK writes to the INI file, and closing the sheet during a
connection test."""
from harness import *

INTERVAL, STARTUP_WAIT, RETRY_MAX, RETRY_INTERVAL = 1008, 1024, 1025, 1006
AUTO_CLOSE_TIME, MAILER, SOUND_TEST, USE_POPUP = 1041, 1005, 1017, 1007
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
    desktop.xdotool("mousemove", 900, 100)  # the sheet opens on the pointer's monitor
    app = Corvina(desktop, desktop.folder / "program").start()  # no INI file: the sheet first
    sheet = Sheet(desktop, from_menu=False)
    # It opens on the account page, proposing TLS without APOP, and the popup.
    assert sheet.tab(0)["current"] == ACCOUNT
    assert (sheet.text(SECURITY, ACCOUNT), sheet.control(USEAPOP, ACCOUNT)["checked"]) == (
        "TLS (995)", False)
    opened_at = sheet.record()["rect"]
    for box, text in ((SERVER, "localhost"), (USER, mailbox.name), (PASSWORD, "secret")):
        sheet.type_into(box, ACCOUNT, text, leave=True)
    sheet.click(SECURITY, ACCOUNT)  # the drop-down list, its third item
    desktop.key("Home", "Down", "Down", "Return")
    sheet.wait_text(SECURITY, ACCOUNT, "STLS (110)")
    sheet.click(USEUIDL, ACCOUNT)
    wait_for(lambda: sheet.control(USEUIDL, ACCOUNT)["checked"], what="UIDL ticked")
    sheet.show(NOTIFY)
    assert sheet.control(USE_POPUP, NOTIFY)["checked"]
    sheet.show(TIMING)
    sheet.type_into(INTERVAL, TIMING, "7", leave=True)
    sheet.close(OK)
    values = dict(entries := app.ini_entries())
    stored = values.pop("PASSWORD")  # the program logs in with it below
    assert [key for key, _ in entries] == INI_KEYS + ["SECURITY"] and len(stored) == 36 + 8 * 6
    assert values == dict(zip(INI_KEYS[:2] + INI_KEYS[3:] + ["SECURITY"], [
        "localhost", mailbox.name, "0", "1", "7", "3", "3", "10", "", "0", "", "65280", "0", "1",
        "0", "65535", "0", "6", "6", "0", "", "", "", "", "", "", "0", "30", "2"], strict=True))
    # The start-up wait runs with the new settings, over STLS; a restart reads the file.
    tray_shows(probe, "1 通のメール (700 バイト)")
    # The sheet stood in the middle of the work area the popup shows in.
    area = wait_for(probe.popup, popup_on_screen, what="the popup")["work_area"]
    assert all(abs((opened_at[i] + opened_at[i + 2]) - (area[i] + area[i + 2])) <= 2
               for i in (0, 1)), f"the sheet at {opened_at}, the work area {area}"
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    app.start()
    wait_for(probe.icon, lambda i: i["present"] and i["tip"] == "1 通のメール (700 バイト)",
             timeout=20, what="the check after a restart")


FOLDER, READ_ONLY = ("同じ名前のフォルダーがあるため、ファイルを作れません。",
                     "ファイルが読み取り専用です。ファイルのプロパティで「読み取り専用」を外してください。")


def test_a_save_that_fails_is_shown_and_the_sheet_stays_open(desktop):
    probe = desktop.probe
    app = start(desktop, QUICK)
    tray_shows(probe, NO_SERVER)
    sheet = Sheet(desktop)
    sheet.type_into(MAILER, NOTIFY, "mail.exe")
    app.ini.unlink()
    app.ini.mkdir()
    for row, reason in enumerate((FOLDER, READ_ONLY)):
        sheet.click(OK)
        box = wait_for(lambda: [b for b in probe.message_boxes() if b["caption"] == "corvina エラー"],
                       what=f"row {row}: the message box")[0]
        assert [line for line in box["text"].splitlines() if line] == [
            "設定を保存できませんでした。", windows_path(app.ini), reason], f"row {row}: {box}"
        probe.press(box["hwnd"], IDOK)
        wait_for(lambda: box["hwnd"] not in [d["hwnd"] for d in probe.dialogs()],
                 what=f"row {row}: the box to close")
        assert find_sheet(probe) and sheet.text(MAILER, NOTIFY) == "mail.exe", f"row {row}"
        if reason == FOLDER:  # then a file Windows marks read-only
            app.ini.rmdir()
            app.ini.write_bytes(b"[CONFIG]\r\nSTARTUP_WAIT=0\r\n")
            app.ini.chmod(0o444)
    app.ini.chmod(0o644)
    sheet.close(OK)  # writable again: saved, with what was entered before
    assert dict(app.ini_entries())["MAILER"] == "mail.exe"
    assert not app.ini.with_name(app.ini.name[:-1] + "~").exists()


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


# Western European (1252), and UTF-8, which Wine gives a locale without an
# ANSI code page of its own (Hindi) as Windows 11 does with "ベータ: Unicode
# UTF-8 を使用": the program's code page 932 reaches neither as it is.
LOCALES = ["en_US.UTF-8", "hi_IN.UTF-8"]
WM_LBUTTONDBLCLK, LOG, USE_POPUP = 0x0203, 1027, 1007


def test_the_same_texts_and_ini_bytes_under_other_ansi_code_pages(desktop, mailbox):
    probe = desktop.probe
    mailbox.add_message(size=900)
    seen = []
    for locale in LOCALES:
        # The program's folder, named partly outside code page 932 (é).
        folder = desktop.folder / "Hélène-メール①" / locale
        texts = {"MAILER": "C:\\メール\\ﾒｰﾗｰ髙.exe", "SOUND_FILE": "C:\\音\\着信.wav"}
        app = start(desktop, dovecot_settings(mailbox, USEUIDL=1, USE_BALOON=1, **texts),
                    folder=folder, locale=locale)
        tip = tray_shows(probe, "1 通のメール (900 バイト)", ARRIVE)["tip"]
        probe.click_icon()  # takes note: uidl.txt in the folder of the Japanese name
        wait_for(app.uidl_lines, lambda lines: lines == mailbox.uidl(), what="uidl.txt")
        probe.click_icon(WM_LBUTTONDBLCLK)  # a mail program that is not there
        box = wait_for(probe.message_boxes, what="the message box")[0]
        probe.press(box["hwnd"], IDOK)
        sheet = Sheet(desktop)  # found by its caption
        notify = {c["id"]: c["text"] for c in sheet.controls(NOTIFY)}
        sheet.show(ACCOUNT)
        account = {c["id"]: c["text"] for c in sheet.controls(ACCOUNT) if c["id"] != LOG}
        run_connection_test(sheet, [r"\+OK Dovecot.*", f"USER {mailbox.name}", r"\+OK",
                                    r"PASS \*+", r"\+OK Logged in\.", "STAT", r"\+OK 1 900",
                                    "LIST", r"\+OK .*", "UIDL", r"\+OK", "QUIT",
                                    r"\+OK Logging out\.", "新着メールはありません"])
        sheet.close(OK)
        # Every value read back from its box and written in code page 932, byte for byte.
        assert {key: dict(app.ini_entries())[key] for key in texts} == texts, locale
        probe.command(IDM_EXIT)
        assert app.wait_exit() == 0
        shown = (probe.icon()["balloons"], box["caption"], box["text"], notify[MAILER],
                 notify[USE_POPUP], account[TEST], account[SECURITY])
        assert shown == ([["新着メールがあります", tip]], "corvina エラー",
                         "メールソフトが起動できません。", texts["MAILER"], "ポップアップ通知する",
                         "通信テスト", "なし"), f"{locale}: {shown}"
        seen.append(({k: v for k, v in notify.items() if k != MAILER}, account))
    assert seen[1] == seen[0]  # every label of both pages
