"""The program's life: one copy per desktop, the icon through a task bar
restart, exit, start-up without an icon or settings, the mail program it
starts, the tray menu that follows the state, and the popup's buttons."""
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


def test_start_up_without_an_icon_or_settings(desktop, pop3):
    probe = desktop.probe
    probe.refuse_adds(1)  # a shell that cannot take the icon (refused once, not retried)
    app = Corvina(desktop, desktop.folder / "refused").start(scripted_settings(pop3))
    box = wait_for(probe.message_boxes, timeout=20, what="the registration message")[0]
    assert (box["caption"], box["text"].split()) == (
        "corvina : エラー発生", ["corvinaのエラー", "アイコンの登録ができませんでした。"])
    probe.press(box["hwnd"], IDOK)
    assert app.wait_exit() == 0 and pop3.connections == []
    app = Corvina(desktop, desktop.folder / "named").start(args=["/IZ:\\no\\such.ini"])
    assert app.wait_exit(15) == 0  # an INI file named on the command line must exist
    assert not any(i["present"] for i in probe.icons(0)["icons"]) and not app.ini.exists()
    app = Corvina(desktop, desktop.folder / "first").start()  # no corvina.ini: the sheet first
    sheet = wait_for(lambda: find_sheet(probe), timeout=20, what=CAPTION)
    assert probe.icon()["icon"] == WAIT
    probe.press(sheet["hwnd"], CANCEL)  # the defaults stay, no file is written
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。", ERROR)
    assert not app.ini.exists()


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
    # program (it waits for a file "release") outlives corvina.
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
        wait_for(probe.popup, lambda p: not p["visible"] and not p["enabled"], what="popup away")
        probe.command(IDM_CHECK)  # ignored while the mail program runs
        holds_for(lambda: len(pop3.connections), lambda n: n == connections, 1.5, "no check")
        if ending == "release":
            (case.folder / "release").write_text("")
            tray_shows(probe, "corvina", NORMAL)
            wait_for(probe.popup, lambda p: p["enabled"], what="the popup usable again")
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0 and not (case.folder / "ended").exists()
    (case.folder / "release").write_text("")
    wait_for((case.folder / "ended").exists, what="the mail program to end")


MENUS = [  # the tool tip, then the menu's items (text, enabled, checked) and the choice
    ("1 通のメール (1000 バイト)", [("設定", 1, 0), ("チェック", 1, 0), ("一時停止", 1, 0),
                              ("終了", 1, 0)], IDM_PAUSE),
    ("サーバーとの通信中...", [("設定", 0, 0), ("中止", 1, 0), ("一時停止", 0, 1), ("終了", 1, 0)],
     IDM_CHECK),
    ("処理を中止しました", [("設定", 1, 0), ("チェック", 1, 0), ("一時停止", 1, 1), ("終了", 1, 0)],
     IDM_PAUSE),
]


def test_the_menu_follows_the_state(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(), Behaviour(greeting=SILENT))  # the second check goes on
    start(desktop, scripted_settings(pop3))
    for row, (tip, items, choice) in enumerate(MENUS):
        tray_shows(probe, tip)
        probe.click_icon(WM_RBUTTONUP)
        menu = wait_for(probe.menu, what="the tray menu")
        assert [(text, 1 - grayed, checked) for _, grayed, checked, *_, text in menu] == items, row
        desktop.click_centre(next(item[3:7] for item in menu if item[0] == choice))
        if row == 0:
            tray_shows(probe, "定期ﾁｪｯｸ停止中", WAIT)
            probe.command(IDM_CHECK)
    tray_shows(probe, "定期ﾁｪｯｸ再開", NORMAL)


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
