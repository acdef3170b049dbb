"""The program's life: one copy per desktop, the icon through a task bar
restart, exit, the mail program it starts, the tray menu, and the popup's
buttons."""
from harness import *

LOCKED = "-ERR [IN-USE] mailbox locked"


def test_one_copy_a_task_bar_restart_and_exit(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(faults={"PASS": reply(LOCKED.encode())}))
    app = start(desktop, scripted_settings(pop3), args=["/S", "/s"])  # /S changes nothing
    tray_shows(probe, LOCKED, ERROR)
    assert desktop.start(app.exe, log="second").wait(15) == 0
    assert [i["adds"] for i in probe.icons(0)["icons"]] == [1] and probe.dialogs() == []
    probe.taskbar_created()
    icon = wait_for(probe.icon, lambda i: i["present"] and i["adds"] == 2, what="the icon again")
    assert (icon["tip"], icon["icon"], icon["callback"]) == (LOCKED, ERROR, 0x8003)
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    assert [(i["present"], i["deletes"]) for i in probe.icons(0)["icons"]] == [(False, 1)]


# 400 characters but 800 bytes in code page 932: cut to fit, the command
# would start the mail program with a wrong argument.
os.environ["CORVINA_E2E_LONG"] = "あ" * 400
os.environ["CORVINA_E2E_MAILER"] = windows_path(os.environ.get("MAILER_STUB_EXE", "/"))
TOO_LONG = '"%CORVINA_E2E_MAILER%" x %CORVINA_E2E_LONG%'


def test_the_mail_program(desktop, pop3, case):
    probe = desktop.probe
    app = start(desktop, scripted_settings(pop3, MAILER=TOO_LONG))
    tray_shows(probe, "1 通のメール (1000 バイト)")
    probe.click_icon(WM_LBUTTONDBLCLK)
    box = wait_for(probe.message_boxes, what="the message")[0]
    assert (box["caption"], box["text"]) == ("corvina エラー", "メールソフトが起動できません。")
    tray_shows(probe, "ﾒｰﾙｿﾌﾄが起動できません", ERROR)
    probe.press(box["hwnd"], IDOK)
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    # Checking rests while the mail program runs (it waits for a file
    # "release"), then resumes.
    mailer = f'"%CORVINA_E2E_MAILER%" {windows_path(case.folder)}'
    app = start(desktop, scripted_settings(pop3, MAILER=mailer, USE_POPUPDLG=1))
    tray_shows(probe, "1 通のメール (1000 バイト)")
    connections = len(pop3.connections)
    probe.click_icon(WM_LBUTTONDBLCLK)
    tray_shows(probe, "メールソフトを起動中です", WAIT)
    wait_for((case.folder / "started").exists, what="the mail program to start")
    wait_for(probe.popup, lambda p: not p["visible"] and not p["enabled"], what="popup away")
    probe.command(IDM_CHECK)  # ignored while the mail program runs
    holds_for(lambda: len(pop3.connections), lambda n: n == connections, 1.5, "no check")
    (case.folder / "release").write_text("")
    wait_for((case.folder / "ended").exists, what="the mail program to end")
    tray_shows(probe, "corvina", NORMAL)
    wait_for(probe.popup, lambda p: p["enabled"], what="the popup usable again")
    check_ends_with(probe, "1 通のメール (1000 バイト)")
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0


MENU = [  # the item chosen with the keyboard, the tool tip it leads to
    (IDM_PAUSE, "定期ﾁｪｯｸ停止中", WAIT),
    (IDM_CHECK, "サーバーとの通信中...", CHECK),  # the server never greets: the check goes on
    (IDM_CHECK, "処理を中止しました", ERROR),  # the item now reads 中止
    (IDM_PAUSE, "定期ﾁｪｯｸ再開", NORMAL),
]


def test_the_tray_menu_acts(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(), Behaviour(greeting=SILENT))
    app = start(desktop, scripted_settings(pop3))
    tray_shows(probe, "1 通のメール (1000 バイト)")
    for command, tip, icon in MENU:
        choose_from_menu(desktop, command)
        tray_shows(probe, tip, icon)
    assert len(pop3.connections) == 2
    choose_from_menu(desktop, IDM_EXIT)
    assert app.wait_exit() == 0


def test_the_popup_buttons_and_surface(desktop, pop3):
    probe = desktop.probe
    usable = lambda p: popup_on_screen(p) and p["mail_enabled"]
    # Clicks are posted: under Wine a real click on a popup shown again under
    # the resting pointer is at times lost. The program's answer is checked.
    app = start(desktop, scripted_settings(pop3, USE_POPUPDLG=1))
    for target in (1032, 0):  # the close button, then the surface
        wait_for(probe.popup, usable, what="the popup")
        probe.press(probe.popup()["hwnd"], target)
        tray_shows(probe, "corvina", NORMAL)
        wait_for(probe.popup, lambda p: not p["visible"], what="the popup put away")
        check_ends_with(probe, "1 通のメール (1000 バイト)")
    wait_for(probe.popup, usable, what="the popup")
    probe.press(probe.popup()["hwnd"], 1031)  # the mail button; no mail program is set
    box = wait_for(probe.message_boxes, what="the message box")[0]
    assert (box["caption"], box["text"]) == ("corvina エラー", "メールソフトが設定されていません。")
    probe.press(box["hwnd"], IDOK)
    tray_shows(probe, "ﾒｰﾙｿﾌﾄが指定されていません", ERROR)
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
