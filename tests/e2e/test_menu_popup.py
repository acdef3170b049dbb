"""The tray menu and the new-mail popup as a person uses them: items that
follow the state, the popup's buttons and surface, its colours."""
from harness import (ERROR, IDM_CHECK, IDM_EXIT, IDM_PAUSE, IDOK, NORMAL, POPUP_CLOSE_BUTTON,
                     POPUP_MAIL_BUTTON, SILENT, WAIT, WM_RBUTTONUP, Behaviour, check_ends_with,
                     popup_on_screen, popup_put_away, region, scripted_settings, start,
                     tray_shows, wait_for)

MENUS = [  # the tool tip, then the menu's items (text, enabled, checked) and the choice
    ("1 通のメール (1000 バイト)", [("設定", True, False), ("チェック", True, False),
                              ("一時停止", True, False), ("終了", True, False)], IDM_PAUSE),
    ("サーバーとの通信中...", [("設定", False, False), ("中止", True, False),
                        ("一時停止", False, True), ("終了", True, False)], IDM_CHECK),
    ("処理を中止しました", [("設定", True, False), ("チェック", True, False),
                     ("一時停止", True, True), ("終了", True, False)], IDM_PAUSE),
]


def test_the_menu_follows_the_state(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(), Behaviour(greeting=SILENT))  # the second check goes on
    start(desktop, scripted_settings(pop3))
    for row, (tip, items, choice) in enumerate(MENUS):
        tray_shows(probe, tip)
        probe.mouse_move(1000, 760)  # where a tray icon would be: the menu opens there
        probe.click_icon(WM_RBUTTONUP)
        menu = wait_for(probe.menu, lambda menu: menu["open"], what="the tray menu")
        assert [(i["text"], not i["grayed"], i["checked"]) for i in menu["items"]] == items, row
        assert menu["rect"][2] == menu["cursor"][0], menu  # its right edge at the pointer
        probe.menu_choose(choice)
        if row == 0:
            desktop.grab("tray-menu")
            tray_shows(probe, "定期ﾁｪｯｸ停止中", WAIT)
            probe.command(IDM_CHECK)
    tray_shows(probe, "定期ﾁｪｯｸ再開", NORMAL)


def test_the_popup_buttons_surface_and_colours(desktop, pop3):
    probe = desktop.probe
    usable = lambda p: popup_on_screen(p) and p["mail_button"]["enabled"]
    # Clicks are posted: under Wine a real click on a popup shown again under
    # the resting pointer is at times lost. The program's answer is checked.
    app = start(desktop, scripted_settings(pop3, USE_POPUPDLG=1))
    for target in (POPUP_CLOSE_BUTTON, "surface"):
        wait_for(probe.popup, usable, what="the popup")
        probe.popup_click(target)
        tray_shows(probe, "corvina", NORMAL)
        wait_for(probe.popup, popup_put_away, what="the popup put away")
        check_ends_with(probe, "1 通のメール (1000 バイト)")
    wait_for(probe.popup, usable, what="the popup")
    probe.popup_click(POPUP_MAIL_BUTTON)  # no mail program is set
    box = wait_for(probe.message_boxes, what="the message box")[0]
    assert (box["caption"], box["text"]) == ("corvina エラー", "メールソフトが設定されていません。")
    probe.press(box["hwnd"], IDOK)
    tray_shows(probe, "ﾒｰﾙｿﾌﾄが指定されていません", ERROR)
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0

    # White on navy (0x00BBGGRR), unless the system's colours are asked for.
    for system_colours in (0, 1):
        app = start(desktop, scripted_settings(pop3, USE_POPUPDLG=1, POPUPDLG_X=3, POPUPDLG_Y=3,
                                               USE_SYSTEMCOLOR=system_colours,
                                               POPUPDLG_BACK_COLOR=0x800000,
                                               POPUPDLG_TEXT_COLOR=0xFFFFFF))
        left, top = wait_for(probe.popup, popup_on_screen, what="the popup")["rect"][:2]
        pixel = lambda x, y: region(desktop.grab(), (x, y, x + 1, y + 1))[0][0]
        background = pixel(5, 5)  # the desktop's
        # The window is placed before it is drawn: wait for its face.
        drawn = wait_for(lambda: pixel(left + 3, top + 3), lambda c: c != background,
                         what="the popup drawn")
        assert (drawn == (0, 0, 0x80)) != bool(system_colours), (system_colours, drawn)
        desktop.grab("popup-system-colours" if system_colours else "popup-navy")
        probe.command(IDM_EXIT)
        assert app.wait_exit() == 0
