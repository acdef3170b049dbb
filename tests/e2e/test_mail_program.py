"""Starting the user's mail program from the tray: checking rests while it
runs, and it outlives corvina."""
import os

from harness import (ERROR, IDM_CHECK, IDM_EXIT, IDOK, NORMAL, WAIT, WM_LBUTTONDBLCLK, holds_for,
                     popup_put_away, scripted_settings, start, tray_shows, wait_for, windows_path)



def mailer_settings(pop3, case, **extra):
    """MAILER through an environment variable, as users write it."""
    os.environ["CORVINA_E2E_MAILER"] = windows_path(os.environ["MAILER_STUB_EXE"])
    return scripted_settings(pop3, MAILER=f"\"%CORVINA_E2E_MAILER%\" {windows_path(case.folder)}",
                             **extra)


# 400 characters but 800 bytes in code page 932: cut to fit, the command
# would start the mail program with a wrong argument.
os.environ["CORVINA_E2E_LONG"] = "あ" * 400
REFUSED = [  # MAILER (None: the stub's), the message box, the tool tip
    ("", "メールソフトが設定されていません。", "ﾒｰﾙｿﾌﾄが指定されていません"),
    ("C:\\no\\such\\mailer.exe", "メールソフトが起動できません。", "ﾒｰﾙｿﾌﾄが起動できません"),
    (None, "メールソフトが起動できません。", "ﾒｰﾙｿﾌﾄが起動できません"),
]


def test_a_mail_program_that_cannot_start_is_reported(desktop, pop3, case):
    probe = desktop.probe
    for row, (mailer, text, tip) in enumerate(REFUSED):
        settings = mailer_settings(pop3, case)
        settings["MAILER"] = settings["MAILER"] + " %CORVINA_E2E_LONG%" if mailer is None else mailer
        app = start(desktop, settings)
        tray_shows(probe, "1 通のメール (1000 バイト)")
        probe.click_icon(WM_LBUTTONDBLCLK)
        box = wait_for(probe.message_boxes, lambda boxes: boxes, what=f"row {row}: a message")[0]
        assert (box["caption"], box["text"]) == ("corvina エラー", text), row
        tray_shows(probe, tip, ERROR)
        probe.press(box["hwnd"], IDOK)
        probe.command(IDM_EXIT)
        assert app.wait_exit() == 0
    assert not (case.folder / "started").exists()


def test_checking_rests_while_the_mail_program_runs(desktop, pop3, case):
    probe = desktop.probe
    start(desktop, mailer_settings(pop3, case, USE_POPUPDLG=1))
    tray_shows(probe, "1 通のメール (1000 バイト)")
    probe.click_icon(WM_LBUTTONDBLCLK)
    tray_shows(probe, "メールソフトを起動中です", WAIT)
    wait_for(lambda: (case.folder / "started").exists(), what="the mail program to start")
    wait_for(probe.popup, lambda p: popup_put_away(p) and not p["enabled"],
             what="the popup put away and disabled")

    probe.command(IDM_CHECK)  # ignored while the mail program runs
    holds_for(lambda: len(pop3.connections), lambda n: n == 1, seconds=1.5, what="no check")
    (case.folder / "release").write_text("")
    tray_shows(probe, "corvina", NORMAL)
    assert wait_for(probe.popup, lambda p: p["enabled"], what="the popup usable again")


def test_the_mail_program_outlives_corvina(desktop, pop3, case):
    probe = desktop.probe
    app = start(desktop, mailer_settings(pop3, case))
    tray_shows(probe, "1 通のメール (1000 バイト)")
    probe.click_icon(WM_LBUTTONDBLCLK)
    wait_for(lambda: (case.folder / "started").exists(), what="the mail program to start")
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    holds_for(lambda: mailer_processes(), lambda pids: pids, seconds=1, what="the mail program")
    (case.folder / "release").write_text("")
    wait_for(mailer_processes, lambda pids: not pids, what="the mail program to end")


def mailer_processes():
    found = []
    for entry in os.listdir("/proc"):
        try:
            if entry.isdigit() and b"mailer_stub.exe" in open(f"/proc/{entry}/cmdline", "rb").read():
                found.append(entry)
        except OSError:
            pass
    return found
