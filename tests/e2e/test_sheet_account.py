"""The account page's connection test, run as a person runs it: what the log
shows of each login against Dovecot and what it never shows, how a failure
reads, and how the sheet is locked while a test runs and aborted with
"中止"."""
import hashlib
import re

from harness import (ACCOUNT, ACCOUNT_INPUTS, CANCEL, ERROR, LOG, OK, PASSWORD, SERVER, SILENT,
                     TEST_BUTTON, TIMING, USEAPOP, USEUIDL, Behaviour, dovecot_settings,
                     find_sheet, open_from_menu, popup_on_screen, run_connection_test,
                     scripted_settings, start, tray_shows, wait_for)


GREETING = r"\+OK .*(<[^>]+>)"  # Dovecot's, with the APOP time stamp
POSITIVE = r"\+OK.*"


def test_the_log_shows_each_login_but_never_the_password(desktop, mailbox):
    probe = desktop.probe
    mailbox.add_message(size=1500)
    summary = "1 通のメール (1500 バイト)"
    app = start(desktop, dovecot_settings(mailbox, USEAPOP=1, USEUIDL=1, USE_POPUPDLG=1,
                                          USE_BALOON=1))
    tray_shows(probe, summary)
    wait_for(probe.popup, popup_on_screen, what="the popup announcing the mail")
    wait_for(probe.icon, lambda icon: len(icon["balloons"]) == 1, what="the balloon")

    # Opening the sheet takes note of the mail: its id is seen from now on.
    sheet = open_from_menu(desktop)
    assert app.uidl_lines() == mailbox.uidl()
    sheet.show(ACCOUNT)
    assert sheet.text(TEST_BUTTON, ACCOUNT) == "通信テスト"
    assert sheet.text(PASSWORD, ACCOUNT) == "*" * len(mailbox.password)
    name = re.escape(mailbox.name)
    # The listings' own lines ("1 1500", "1 <uid>", ".") never reach the log.
    apop = run_connection_test(sheet, [
        GREETING, rf"APOP {name} \*\*\*\*\*", POSITIVE, "STAT", r"\+OK 1 1500", "LIST", POSITIVE,
        "UIDL", POSITIVE, "QUIT", POSITIVE, "新着メールはありません"])

    sheet.click(USEAPOP, ACCOUNT)
    sheet.click(USEUIDL, ACCOUNT)
    wait_for(lambda: [sheet.control(i, ACCOUNT)["checked"] for i in (USEAPOP, USEUIDL)],
             lambda checks: checks == [0, 0], what="APOP and leave on server off")
    # Without the seen ids every message in the mailbox counts.
    user_pass = run_connection_test(sheet, [
        GREETING, rf"USER {name}", POSITIVE, r"PASS \*\*\*\*\*", POSITIVE, "STAT", r"\+OK 1 1500",
        "QUIT", POSITIVE, re.escape(summary)])

    time_stamp = re.fullmatch(GREETING, apop[0]).group(1)
    digest = hashlib.md5((time_stamp + mailbox.password).encode()).hexdigest()
    for log in (apop, user_pass):
        assert not any(mailbox.password in entry or digest in entry for entry in log), log
    # A test reports in the tray and the log only: no popup, no balloon.
    assert probe.icon()["tip"] == summary
    assert len(probe.icon()["balloons"]) == 1
    assert not popup_on_screen(probe.popup())
    sheet.close(CANCEL)


def test_leave_on_server_ticked_for_a_test_counts_the_unseen_mail(desktop, mailbox):
    mailbox.add_message(size=1500)
    start(desktop, dovecot_settings(mailbox, USEAPOP=1))
    tray_shows(desktop.probe, "1 通のメール (1500 バイト)")
    sheet = open_from_menu(desktop)
    sheet.show(ACCOUNT)
    sheet.click(USEUIDL, ACCOUNT)
    wait_for(lambda: sheet.control(USEUIDL, ACCOUNT)["checked"], lambda checked: checked == 1,
             what="leave mail on the server ticked")
    # The seen ids load with the test: nothing is seen yet, so the message counts.
    run_connection_test(sheet, [
        GREETING, rf"APOP {re.escape(mailbox.name)} \*\*\*\*\*", POSITIVE, "STAT", r"\+OK 1 1500",
        "LIST", POSITIVE, "UIDL", POSITIVE, "QUIT", POSITIVE, re.escape("1 通のメール (1500 バイト)")])
    sheet.close(CANCEL)


def test_a_failed_test_shows_why_and_cancel_keeps_the_file(desktop, mailbox):
    probe = desktop.probe
    app = start(desktop, dovecot_settings(mailbox, USEAPOP=1))
    tray_shows(probe, "新着メールはありません")
    ini = app.default_ini.read_bytes()

    sheet = open_from_menu(desktop)
    sheet.show(ACCOUNT)
    sheet.enter(PASSWORD, ACCOUNT, "not-the-password")
    run_connection_test(sheet, [
        GREETING, rf"APOP {re.escape(mailbox.name)} \*\*\*\*\*",
        re.escape("-ERR [AUTH] Authentication failed."), ""])
    tray_shows(probe, "-ERR [AUTH] Authentication failed.", ERROR)

    sheet.enter(SERVER, ACCOUNT, "")
    run_connection_test(sheet, [re.escape("ｻｰﾊﾞｰ名を設定してください。")])
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。", ERROR)
    assert all(sheet.control(i, ACCOUNT)["enabled"] for i in ACCOUNT_INPUTS)

    sheet.close(CANCEL)
    assert app.default_ini.read_bytes() == ini


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


def test_a_running_test_locks_the_sheet_until_aborted(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(greeting=SILENT))
    # The start-up check waits long enough not to meet the silent server first.
    start(desktop, scripted_settings(pop3, STARTUP_WAIT=120))
    sheet = open_from_menu(desktop)
    sheet.show(ACCOUNT)
    assert lock_state(sheet) == unlocked("通信テスト", "")

    sheet.click(TEST_BUTTON, ACCOUNT)
    pop3.connection(0)
    # The page locks itself at the click, the sheet's buttons follow when
    # the test has started: the whole of it is awaited.
    locked = {"tabs": False, "ok": False, "cancel": False, "inputs": [False] * 5,
              "button": ("中止", True), "log": ("", True)}
    wait_for(lambda: lock_state(sheet), lambda state: state == locked, what="the sheet locked")
    desktop.grab("test-running")
    # A click on a locked tab does nothing; input is handled in order, so by
    # the time the abort below is seen, this click has been handled too.
    desktop.click_centre(sheet.tabs()["items"][TIMING]["rect"])

    sheet.click(TEST_BUTTON, ACCOUNT)
    aborted = unlocked("テスト", "処理を中止しました")
    wait_for(lambda: lock_state(sheet), lambda state: state == aborted,
             what="the test aborted and the sheet unlocked")
    assert sheet.tabs()["current"] == ACCOUNT
    tray_shows(probe, "処理を中止しました", ERROR)
    wait_for(lambda: pop3.connection(0).closed_by, lambda by: by == "client",
             what="the aborted connection closed by corvina")
    assert pop3.connection(0).lines == []
    sheet.show(TIMING)
    sheet.close(CANCEL)


def close_box(sheet):
    """The centre of the close box at the right end of the sheet's caption."""
    record = sheet.record()
    left, top, right, _ = record["rect"]
    client_left, client_top = record["client"][:2]
    border = client_left - left
    caption = client_top - top - border
    return right - border - caption // 2 - 1, top + border + caption // 2


# Ways a person closes a window; none may leave the test's session behind.
CLOSING = [
    ("Esc", lambda sheet: sheet.desktop.key("Escape")),
    ("Alt+F4", lambda sheet: sheet.desktop.key("alt+F4")),
    ("close box", lambda sheet: sheet.desktop.click(*close_box(sheet))),
]


def test_closing_the_sheet_during_a_test_leaves_no_session_behind(desktop, pop3):
    # The server never answers after the greeting: the test holds the
    # connection open until it ends. Either the sheet stays and the test
    # can still be aborted, or the sheet goes and its connection with it.
    pop3.play(Behaviour(faults={"USER": SILENT}))
    start(desktop, scripted_settings(pop3, STARTUP_WAIT=120))
    for number, (how, close) in enumerate(CLOSING):
        sheet = open_from_menu(desktop)
        sheet.show(ACCOUNT)
        sheet.click(TEST_BUTTON, ACCOUNT)
        wait_for(lambda: pop3.connection(number).lines, lambda lines: lines == [b"USER alice\r\n"],
                 what=f"{how}: the test's USER")
        wait_for(lambda: sheet.control(OK)["enabled"], lambda enabled: not enabled,
                 what=f"{how}: the sheet locked")
        close(sheet)
        closed = pop3.connection(number)
        try:
            wait_for(lambda: closed.closed_by, timeout=1.0, what=f"{how}: the connection closed")
        except AssertionError:
            assert find_sheet(desktop.probe), f"{how}: the sheet went and the session stayed"
            sheet.click(TEST_BUTTON, ACCOUNT)  # 中止
            wait_for(lambda: closed.closed_by, what=f"{how}: the aborted test's connection")
            sheet.close(CANCEL)
            continue
        assert closed.closed_by == "client", how
        wait_for(lambda: find_sheet(desktop.probe), lambda found: found is None,
                 what=f"{how}: the sheet to close")
