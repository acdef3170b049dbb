"""The program's life: one copy per desktop, the icon through a task bar
restart, exit, and the popup's buttons."""
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
# would start the mail program (here one that exists) with a wrong argument.
os.environ["CORVINA_E2E_LONG"] = "あ" * 400
TOO_LONG = "C:\\windows\\system32\\hostname.exe x %CORVINA_E2E_LONG%"


def test_the_popup_buttons_and_a_mail_command_too_long(desktop, pop3):
    probe = desktop.probe
    usable = lambda p: popup_on_screen(p) and p["mail_enabled"]
    # Clicks are posted: under Wine a real click on a popup shown again under
    # the resting pointer is at times lost. The program's answer is checked.
    app = start(desktop, scripted_settings(pop3, USE_POPUPDLG=1, MAILER=TOO_LONG))
    wait_for(probe.popup, lambda p: usable(p) and p["text"] == "1 通のメール (1000 バイト)")
    probe.press(probe.popup()["hwnd"], 1032)  # the close button takes note
    tray_shows(probe, "corvina", NORMAL)
    wait_for(probe.popup, lambda p: not p["visible"], what="the popup put away")
    check_ends_with(probe, "1 通のメール (1000 バイト)")
    wait_for(probe.popup, usable, what="the popup")
    probe.press(probe.popup()["hwnd"], 1031)  # the mail button
    box = wait_for(probe.message_boxes, what="the message box")[0]
    assert (box["caption"], box["text"]) == ("corvina エラー", "メールソフトが起動できません。")
    probe.press(box["hwnd"], IDOK)
    tray_shows(probe, "ﾒｰﾙｿﾌﾄが起動できません", ERROR)
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0


SUSPEND, RESUME, WAIT = 4, 18, "118"


def test_sleep_during_a_check_and_while_idle(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(greeting=SILENT), Behaviour())
    app = start(desktop, scripted_settings(pop3, INTERVAL=30))
    pop3.connection(0)  # the first check waits for a greeting that never comes
    since = probe.seq()
    probe.power(SUSPEND)  # dropped without a word, the tray as before it
    tray_shows(probe, "起動時ウェイト中...", WAIT)
    wait_for(lambda: pop3.connections[0].closed_by, what="the connection closed")
    probe.power(RESUME)  # and checked again at once
    tray_shows(probe, "1 通のメール (1000 バイト)", ARRIVE)
    assert ERROR not in [e["icon"] for e in probe.events(since)]
    probe.power(SUSPEND)
    probe.power(RESUME)  # nothing was due
    holds_for(lambda: len(pop3.connections), lambda count: count == 2, 2, "no check")
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
