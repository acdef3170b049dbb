"""The program's life: one copy per desktop, the INI file named on the
command line, the icon through a task bar restart, and exit."""

from harness import (ERROR, IDM_EXIT, IDOK, WAIT, Behaviour, reply, scripted_settings, start,
                     tray_shows, wait_for)



def program_icons(probe):
    return [i for i in probe.state()["icons"] if i["owner_class"] == "corvinaClass"]


def test_a_second_copy_ends_without_a_second_icon(desktop, pop3):
    app = start(desktop, scripted_settings(pop3))
    tray_shows(desktop.probe, "1 通のメール (1000 バイト)")
    second = desktop.start(app.exe, log="second")
    assert second.wait(15) == 0
    icons = program_icons(desktop.probe)
    assert len(icons) == 1 and icons[0]["adds"] == 1, icons
    assert desktop.probe.dialogs() == []


def test_an_ini_file_named_on_the_command_line_must_exist(desktop):
    app = desktop.corvina()
    desktop.probe.load_exe(app.exe)
    app.start(app.folder / "missing.ini")
    assert app.wait_exit(15) == 0
    assert [i["present"] for i in program_icons(desktop.probe)] in ([], [False])
    assert not app.default_ini.exists()


def test_the_s_option_changes_nothing(desktop, pop3):
    app = desktop.corvina()
    desktop.probe.load_exe(app.exe)
    app.start(app.write_ini(scripted_settings(pop3)), ["/S", "/s"])
    tray_shows(desktop.probe, "1 通のメール (1000 バイト)")


def test_the_icon_comes_back_when_the_task_bar_restarts(desktop, pop3):
    pop3.play(Behaviour(faults={"PASS": reply(b"-ERR [IN-USE] mailbox locked")}))
    start(desktop, scripted_settings(pop3))
    tray_shows(desktop.probe, "-ERR [IN-USE] mailbox locked", ERROR)
    desktop.probe.taskbar_created("forget")
    icon = wait_for(desktop.probe.icon, lambda i: i["present"] and i["adds"] == 2,
                    what="the icon added again")
    assert (icon["tip"], icon["icon"], icon["callback"]) == (
        "-ERR [IN-USE] mailbox locked", ERROR, 0x8003)


def test_exit_removes_the_icon(desktop, pop3):
    app = start(desktop, scripted_settings(pop3))
    tray_shows(desktop.probe, "1 通のメール (1000 バイト)")
    desktop.probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    icon = program_icons(desktop.probe)[0]
    assert icon["present"] is False and icon["deletes"] == 1


def test_a_shell_that_refuses_the_icon(desktop, pop3):
    probe = desktop.probe
    probe.refuse_adds(3)
    app = desktop.corvina()
    probe.load_exe(app.exe)
    app.start(app.write_ini(scripted_settings(pop3)))
    box = wait_for(probe.message_boxes, lambda boxes: boxes, timeout=20,
                   what="the registration message")[0]
    assert box["caption"] == "corvina : エラー発生"
    assert box["text"].split() == ["corvinaのエラー", "アイコンの登録ができませんでした。"]
    probe.press(box["hwnd"], IDOK)
    assert app.wait_exit() == 0
    assert pop3.connections == []


def test_the_first_start_opens_the_settings(desktop):
    probe = desktop.probe
    app = desktop.corvina()
    probe.load_exe(app.exe)
    app.start()  # no corvina.ini beside the program
    sheets = wait_for(probe.dialogs,
                      lambda dialogs: [d for d in dialogs if d["caption"] == "corvina のプロパティ"],
                      timeout=20, what="the settings sheet")
    sheet = sheets[0]
    assert probe.icon()["icon"] == WAIT
    probe.press(sheet["hwnd"], 2)  # Cancel: the defaults stay, no file is written
    tray_shows(probe, "ｻｰﾊﾞｰ名を設定してください。", ERROR, timeout=20)
    assert not app.default_ini.exists()
