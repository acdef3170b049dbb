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


NO_MAILER = ("メールソフトが設定されていません。"
             "設定シートの「動作設定」のページの「メールソフト」で選んでください。")
WM_LBUTTONDBLCLK = 0x0203
MAIL_CLIENTS = r"HKCU\Software\Clients\Mail"
os.environ["CORVINA_E2E_MARK"] = "started by corvina"


def test_windows_default_mail_program_when_none_is_set(desktop, pop3):
    probe = desktop.probe
    app = start(desktop, scripted_settings(pop3))
    tray_shows(probe, "1 通のメール (1000 バイト)", ARRIVE)
    probe.click_icon(WM_LBUTTONDBLCLK)  # none registered: where to choose one
    box = wait_for(probe.message_boxes, what="the message box")[0]
    assert (box["caption"], box["text"]) == ("corvina エラー", NO_MAILER)
    probe.press(box["hwnd"], IDOK)
    tray_shows(probe, "ﾒｰﾙｿﾌﾄが指定されていません", ERROR)
    # The user's own default, its variables expanded; checking rests until it ends.
    mark, client = app.folder / "started.txt", "corvina e2e mail"
    command = rf"C:\windows\system32\cmd.exe /c echo %CORVINA_E2E_MARK%>{windows_path(mark)}"
    (reg := app.folder / "mail.reg").write_text(
        f"REGEDIT4\n\n[{MAIL_CLIENTS}]\n@=\"{client}\"\n\n"
        f"[{MAIL_CLIENTS}\\{client}\\shell\\open\\command]\n"  # REG_EXPAND_SZ, as Windows' own
        f"@=hex(2):{','.join(f'{b:02x}' for b in command.encode() + bytes(1))}\n")
    subprocess.run([WINE_RUN, desktop.prefix, "reg", "import", windows_path(reg)], check=True,
                   capture_output=True, env=dict(os.environ, DISPLAY=desktop.display))
    since = probe.seq()
    probe.click_icon(WM_LBUTTONDBLCLK)
    wait_for(lambda: mark.exists() and mark.read_text().strip(),
             lambda text: text == "started by corvina", what="the mail program's mark")
    tray_shows(probe, "corvina", NORMAL)  # seen to end
    assert [e["tip"] for e in probe.events(since) if e["flags"] & 4][-2:] == [
        "メールソフトを起動中です", "corvina"] and not probe.message_boxes()
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0


# The display scale, the tray's small icon at it, and what is drawn in pixels
# at 96 DPI scaled: the popup, the sheet's pages, the position picker.
SCALES = [(96, 16), (144, 24), (192, 32)]
POSITION = 1039  # the notification page's button that opens the picker


def holds(a, b):
    return a[0] <= b[0] and a[1] <= b[1] and b[2] <= a[2] and b[3] <= a[3]


def overlapping(controls):
    """Pairs that overlap, but for one holding the other whole (a group box);
    an up-down control stands on the edge of the box it belongs to, and
    controls that meet in dialog units may share the pixel they round to."""
    cross = lambda a, b: all(min(a[i + 2], b[i + 2]) - max(a[i], b[i]) > 1 for i in (0, 1))
    controls = [c for c in controls if c["class"] != "msctls_updown32"]
    return [(a["id"], b["id"]) for i, a in enumerate(controls) for b in controls[i + 1:]
            if cross(a["rect"], b["rect"]) and not holds(a["rect"], b["rect"])
            and not holds(b["rect"], a["rect"])]


def test_the_popup_tray_and_sheet_at_every_scale(desktop, pop3):
    probe, sizes = desktop.probe, []
    for dpi, small in SCALES:
        desktop.set_dpi(dpi)
        app = start(desktop, scripted_settings(pop3, USE_POPUPDLG=1), name=f"program-{dpi}")
        probe.icon_size(small)
        probe.load_exe(windows_path(app.exe))  # the tray's icons are named at this size only
        wait_for(probe.icon, lambda i: i["icon"] in (ARRIVE, NORMAL), what=f"{small}-pixel icons")
        popup = wait_for(probe.popup, popup_on_screen, what=f"the popup at {dpi} DPI")
        rect, area = popup["rect"], popup["work_area"]
        assert rect[2:] == area[2:], f"{dpi} DPI: {popup}"  # the bottom-right corner still
        sizes.append((rect[2] - rect[0], rect[3] - rect[1]))
        assert all(abs(now - at96 * dpi / 96) <= at96 * dpi / 960 for now, at96 in zip(
            sizes[-1], sizes[0])), f"{dpi} DPI: the popup {sizes}"
        look = desktop.grab if dpi == 144 else lambda name: None  # for a person to look at
        look("popup-144")
        sheet = Sheet(desktop)
        for tab in range(5):
            sheet.show(tab)
            page = next(c for c in sheet.record()["controls"] if c["hwnd"] == sheet.pages[tab])
            shown = [c for c in sheet.controls(tab) if c["visible"]]
            outside = [c["id"] for c in shown if not holds(page["rect"], c["rect"])]
            assert (outside, overlapping(shown)) == ([], []), f"{dpi} DPI, tab {tab}: {shown}"
            look(f"sheet-144-{tab}")
        sheet.show(NOTIFY)
        sheet.click(POSITION, NOTIFY)
        picker = wait_for(lambda: [d for d in probe.dialogs() if d["visible"] and
                                   d["caption"] == ""], what="the position picker")[0]
        client, (ok,) = picker["client"], picker["controls"]
        # The picture ends at 95 pixels of 96 DPI, the OK button below it.
        assert client[2] - client[0] > 95 * dpi // 96 and ok["rect"][1] - client[1] >= 74 * dpi // 96
        assert holds(client, ok["rect"]), f"{dpi} DPI: {picker}"
        # Drawn at the scale: the chosen cell, the far corner (6, 6), is black at its middle.
        middle = (client[0] + 88 * dpi // 96, client[1] + 68 * dpi // 96)
        wait_for(lambda: desktop.pixel(*middle), lambda colour: colour == "000000",
                 what=f"the chosen cell drawn at {dpi} DPI")
        look("picker-144")
        probe.press(picker["hwnd"], IDOK)
        wait_for(lambda: picker["hwnd"] not in [d["hwnd"] for d in probe.dialogs()],
                 what="the picker to close")
        desktop.key("Escape")  # at 192 DPI the sheet runs past the bottom of 1024 x 768
        wait_for(lambda: find_sheet(probe) is None, what="the sheet to close")
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


NORMAL_DARK, QUIET_TIME_INFO = "209", 0x81  # NIIF_INFO | NIIF_RESPECT_QUIET_TIME


def test_quiet_while_busy_and_icons_for_the_task_bar_and_scale(desktop, pop3):
    """The build whose user is busy while a file exists: popup (and sound)
    wait and come once the user is free; the icon and balloon go at once.
    Then the task bar turns dark and light again, and the scale changes."""
    probe, busy = desktop.probe, desktop.folder / "busy"
    busy.write_bytes(b"")
    os.environ["CORVINA_BUSY_FILE"] = windows_path(busy)
    app = start(desktop, scripted_settings(pop3, USE_POPUPDLG=1, USE_BALOON=1),
                exe=os.environ["CORVINA_BUSY_STAND_IN_EXE"])
    icon = tray_shows(probe, "1 通のメール (1000 バイト)")
    wait_for(probe.icon, lambda i: i["balloon_flags"] == [QUIET_TIME_INFO], what="the balloon")
    wait_for(lambda: [e["icon"] for e in probe.events(0)], lambda seen: seen.count(ARRIVE) >= 3,
             what="the icon blinking while the user is busy")
    assert not popup_on_screen(probe.popup()), "the popup came while the user was busy"
    busy.unlink()
    wait_for(probe.popup, lambda p: popup_on_screen(p) and p["text"] == icon["tip"],
             what="the popup once the user is free")
    probe.click_icon()
    tray_shows(probe, "corvina", NORMAL)

    probe.theme(0)
    tray_shows(probe, "corvina", NORMAL_DARK)
    probe.theme(1)
    tray_shows(probe, "corvina", NORMAL)

    probe.icon_size(24)
    probe.load_exe(windows_path(app.exe))  # names the 24-pixel icons only
    probe.dpi(144)
    assert tray_shows(probe, "corvina", NORMAL)["width"] == 24
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
