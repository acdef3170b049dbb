"""The program's life: one copy per desktop, the icon through a task bar
restart, exit, start-up without an icon or settings, and the mail program
it starts."""
import os

from harness import (CAPTION, ERROR, IDM_CHECK, IDM_EXIT, IDOK, NORMAL, WAIT, WM_LBUTTONDBLCLK,
                     Behaviour, find_sheet, holds_for, popup_put_away, reply, scripted_settings,
                     start, tray_shows, wait_for, windows_path)

LOCKED = "-ERR [IN-USE] mailbox locked"


def program_icons(probe):
    return [i for i in probe.state()["icons"] if i["owner_class"] == "corvinaClass"]


def test_one_copy_a_task_bar_restart_and_exit(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(faults={"PASS": reply(LOCKED.encode())}))
    app = start(desktop, scripted_settings(pop3), args=["/S", "/s"])  # /S changes nothing
    tray_shows(probe, LOCKED, ERROR)
    assert desktop.start(app.exe, log="second").wait(15) == 0
    assert [i["adds"] for i in program_icons(probe)] == [1] and probe.dialogs() == []
    probe.taskbar_created()
    icon = wait_for(probe.icon, lambda i: i["present"] and i["adds"] == 2, what="the icon again")
    assert (icon["tip"], icon["icon"], icon["callback"]) == (LOCKED, ERROR, 0x8003)
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    assert [(i["present"], i["deletes"]) for i in program_icons(probe)] == [(False, 1)]


def test_start_up_without_an_icon_or_settings(desktop, pop3):
    probe = desktop.probe
    probe.refuse_adds(1)  # a shell that cannot take the icon (refused once, not retried)
    app = desktop.corvina()
    app.start(app.write_ini(scripted_settings(pop3)))
    box = wait_for(probe.message_boxes, timeout=20, what="the registration message")[0]
    assert (box["caption"], box["text"].split()) == (
        "corvina : エラー発生", ["corvinaのエラー", "アイコンの登録ができませんでした。"])
    probe.press(box["hwnd"], IDOK)
    assert app.wait_exit() == 0 and pop3.connections == []

    app = desktop.corvina("named")
    app.start(app.folder / "missing.ini")  # an INI file named on the command line must exist
    assert app.wait_exit(15) == 0
    assert not any(i["present"] for i in program_icons(probe)) and not app.default_ini.exists()

    app = desktop.corvina("first")
    probe.load_exe(app.exe)
    app.start()  # no corvina.ini beside the program: the settings first
    sheet = wait_for(lambda: find_sheet(probe), timeout=20, what=CAPTION)
    assert probe.icon()["icon"] == WAIT
    probe.press(sheet["hwnd"], 2)  # Cancel: the defaults stay, no file is written
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。", ERROR)
    assert not app.default_ini.exists()


# 400 characters but 800 bytes in code page 932: cut to fit, the command
# would start the mail program with a wrong argument.
os.environ["CORVINA_E2E_LONG"] = "あ" * 400
os.environ["CORVINA_E2E_MAILER"] = windows_path(os.environ.get("MAILER_STUB_EXE", "/"))
REFUSED = [  # MAILER, the message, the tool tip
    ("", "メールソフトが設定されていません。", "ﾒｰﾙｿﾌﾄが指定されていません"),
    ("C:\\no\\such\\mailer.exe", "メールソフトが起動できません。", "ﾒｰﾙｿﾌﾄが起動できません"),
    ('"%CORVINA_E2E_MAILER%" x %CORVINA_E2E_LONG%', "メールソフトが起動できません。",
     "ﾒｰﾙｿﾌﾄが起動できません"),
]


def test_the_mail_program(desktop, pop3, case):
    probe = desktop.probe
    for row, (mailer, text, tip) in enumerate(REFUSED):
        app = start(desktop, scripted_settings(pop3, MAILER=mailer))
        tray_shows(probe, "1 通のメール (1000 バイト)")
        probe.click_icon(WM_LBUTTONDBLCLK)
        box = wait_for(probe.message_boxes, what=f"row {row}: the message")[0]
        assert (box["caption"], box["text"]) == ("corvina エラー", text), row
        tray_shows(probe, tip, ERROR)
        probe.press(box["hwnd"], IDOK)
        probe.command(IDM_EXIT)
        assert app.wait_exit() == 0

    # Checking rests while the mail program runs; then it resumes. The mail
    # program outlives corvina.
    mailer = f'"%CORVINA_E2E_MAILER%" {windows_path(case.folder)}'
    app = start(desktop, scripted_settings(pop3, MAILER=mailer, USE_POPUPDLG=1))
    tray_shows(probe, "1 通のメール (1000 バイト)")
    for ending in ("release", "exit"):
        for name in ("started", "release", "ended"):
            (case.folder / name).unlink(missing_ok=True)
        connections = len(pop3.connections)
        probe.click_icon(WM_LBUTTONDBLCLK)
        tray_shows(probe, "メールソフトを起動中です", WAIT)
        wait_for((case.folder / "started").exists, what="the mail program to start")
        wait_for(probe.popup, lambda p: popup_put_away(p) and not p["enabled"], what="popup away")
        probe.command(IDM_CHECK)  # ignored while the mail program runs
        holds_for(lambda: len(pop3.connections), lambda n: n == connections, 1.5, "no check")
        if ending == "release":
            (case.folder / "release").write_text("")
            tray_shows(probe, "corvina", NORMAL)
            wait_for(probe.popup, lambda p: p["enabled"], what="the popup usable again")
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    assert not (case.folder / "ended").exists()
    (case.folder / "release").write_text("")
    wait_for((case.folder / "ended").exists, what="the mail program to end")
