"""What the settings sheet leaves in the INI file: OK writes every setting
in its fixed order, with the password in its stored form; Cancel after a
connection test leaves the file and the program's settings as they were."""
import hashlib
import re

from harness import (ACCOUNT, AUTO_CLOSE, AUTO_CLOSE_TIME, CANCEL, IDM_CHECK, IDM_EXIT, INI_KEYS,
                     INTERVAL, MAILER, NOTIFY, OK, PASSWORD, SERVER, STOP_IF_MSG, TIME_STAMP,
                     TIMING, USE_BALLOON, USE_POPUP, USEAPOP, USER, USEUIDL, WM_RBUTTONUP,
                     dovecot_settings, open_from_menu, run_connection_test, Sheet, start,
                     tray_shows, wait_for)



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
    sheet.enter(SERVER, ACCOUNT, "127.0.0.1")
    sheet.enter(USER, ACCOUNT, mailbox.name)
    sheet.enter(PASSWORD, ACCOUNT, mailbox.password)
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
    stored = values.pop("PASSWORD")
    # The stored form: the program logs in with it after the restart below.
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

    # After the first start's sheet the start-up wait runs with the new
    # settings; and the program reads its own file when it starts again.
    tray_shows(probe, "1 通のメール (700 バイト)")
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    app.start()
    # The new icon, not the record of the one that just went.
    wait_for(probe.icon, lambda icon: icon["present"], what="the icon of the restarted program")
    tray_shows(probe, "1 通のメール (700 バイト)")


def test_cancel_after_a_test_keeps_the_file_and_the_settings(desktop, mailbox, pop3):
    probe = desktop.probe
    mailbox.add_message(size=1500)
    app = start(desktop, dovecot_settings(mailbox))
    tray_shows(probe, "1 通のメール (1500 バイト)")
    ini = app.default_ini.read_bytes()

    sheet = open_from_menu(desktop)
    sheet.show(ACCOUNT)
    sheet.enter(SERVER, ACCOUNT, pop3.address[0])
    sheet.enter(USER, ACCOUNT, "alice")
    sheet.enter(PASSWORD, ACCOUNT, "secret")
    sheet.click(USEAPOP, ACCOUNT)
    run_connection_test(sheet, [
        re.escape("+OK corvina test server ready " + TIME_STAMP.decode()),
        re.escape("APOP alice *****"), re.escape("+OK logged in"), "STAT", re.escape("+OK 1 1000"),
        "QUIT", re.escape("+OK bye"), re.escape("1 通のメール (1000 バイト)")])
    digest = hashlib.md5(TIME_STAMP + b"secret").hexdigest().encode()
    assert pop3.connection(0).lines == [b"APOP alice " + digest + b"\r\n", b"STAT\r\n",
                                        b"QUIT\r\n"]
    sheet.close(CANCEL)
    assert app.default_ini.read_bytes() == ini

    # A check from the menu uses the settings from before the sheet opened.
    probe.click_icon(WM_RBUTTONUP)
    wait_for(probe.menu, lambda menu: menu["open"], what="the tray menu")
    probe.menu_choose(IDM_CHECK)
    tray_shows(probe, "1 通のメール (1500 バイト)")
    assert len(pop3.connections) == 1

    sheet = open_from_menu(desktop)
    sheet.show(ACCOUNT)
    fields = {c["id"]: c for c in sheet.controls(ACCOUNT)}
    assert [fields[i]["text"] for i in (SERVER, USER, PASSWORD)] == [
        "127.0.0.1", mailbox.name, "*" * len(mailbox.password)]
    assert [fields[i]["checked"] for i in (USEAPOP, USEUIDL)] == [0, 0]
    sheet.close(CANCEL)
