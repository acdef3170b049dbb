"""Checks against a real POP3 server (Dovecot): what the tray, the popup and
the balloon show for mailboxes of 0, 1 and 3 messages, both logins, and the
seen ids kept in uidl.txt."""

from harness import (ARRIVE, ERROR, IDM_EXIT, NORMAL, check_ends_with, dovecot_settings,
                     encode_password, holds_for, popup_on_screen, popup_put_away, start,
                     tray_shows, wait_for)


MIB = 1024 * 1024


def test_mailboxes_of_0_1_and_3_messages(desktop, mailbox):
    probe = desktop.probe
    start(desktop, dovecot_settings(mailbox, USE_POPUPDLG=1, USE_BALOON=1))
    tray_shows(probe, "新着メールはありません", NORMAL)
    assert not popup_on_screen(probe.popup())

    mailbox.add_message(size=1500)
    check_ends_with(probe, "1 通のメール (1500 バイト)", ARRIVE)
    popup = wait_for(probe.popup, popup_on_screen, what="the popup on the screen")
    assert (popup["heading"], popup["text"]) == ("新着メールがあります。", "1 通のメール (1500 バイト)")
    assert popup["topmost"]
    balloon = probe.icon()["balloons"][-1]
    assert (balloon["title"], balloon["text"]) == ("新着メールがあります", "1 通のメール (1500 バイト)")

    mailbox.add_message(size=MIB)
    mailbox.add_message(size=MIB)  # 2 098 652 bytes in all: just over 2 MiB
    check_ends_with(probe, "3 通のメール (3Mバイト)", ARRIVE)
    wait_for(probe.popup, lambda p: p["text"] == "3 通のメール (3Mバイト)", what="the popup's text")
    assert len(probe.icon()["balloons"]) == 2


def test_announced_mail_blinks_until_acknowledged(desktop, mailbox):
    probe = desktop.probe
    mailbox.add_message(size=3000)
    start(desktop, dovecot_settings(mailbox, USE_POPUPDLG=1))
    tray_shows(probe, "1 通のメール (3Kバイト)")
    since = probe.state()["seq"]
    # The icon alternates between the resting and the arrival icon every 500 ms.
    changes = wait_for(lambda: [e["icon"] for e in probe.events(since)["events"] if e["flags"] & 2],
                       lambda icons: len(icons) >= 4, what="four blinks")
    assert set(changes[:4]) == {NORMAL, ARRIVE}, changes
    assert all(a != b for a, b in zip(changes, changes[1:4])), changes

    probe.click_icon()
    tray_shows(probe, "corvina", NORMAL)
    wait_for(probe.popup, popup_put_away, what="the popup hidden")
    settled = probe.state()["seq"]
    # Acknowledged: no more blinking, for three blink periods.
    holds_for(lambda: probe.events(settled)["events"], lambda events: events == [], seconds=1.5,
              what="the icon at rest")


def test_both_logins_reach_the_mailbox(desktop, mailbox):
    probe = desktop.probe
    mailbox.add_message(size=200)
    for apop in (1, 0):
        app = start(desktop, dovecot_settings(mailbox, USEAPOP=apop))
        tray_shows(probe, "1 通のメール (200 バイト)", ARRIVE)
        probe.command(IDM_EXIT)
        assert app.wait_exit() == 0


def test_a_wrong_password_shows_the_servers_reply(desktop, mailbox):
    probe = desktop.probe
    settings = dovecot_settings(mailbox, PASSWORD=encode_password(mailbox.password + "-wrong"))
    start(desktop, settings)
    tray_shows(probe, "-ERR [AUTH] Authentication failed.", ERROR)


def test_seen_ids_are_kept_across_a_restart(desktop, mailbox):
    probe = desktop.probe
    mailbox.add_message(size=1000)
    mailbox.add_message(size=1040)
    settings = dovecot_settings(mailbox, USEUIDL=1)
    app = start(desktop, settings)
    tray_shows(probe, "2 通のメール (2040 バイト)", ARRIVE)
    assert app.uidl_lines() is None  # written only when the user takes note

    probe.click_icon()
    wait_for(app.uidl_lines, lambda lines: lines == mailbox.uidl(), what="uidl.txt")
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0

    app.start(app.default_ini)
    tray_shows(probe, "新着メールはありません", NORMAL)
    mailbox.add_message(size=500)
    check_ends_with(probe, "1 通のメール (500 バイト)", ARRIVE)
    # Until acknowledged, the file keeps the listing the user took note of.
    assert len(app.uidl_lines()) == 2
