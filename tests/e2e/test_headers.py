"""Who wrote and about what: the headers Japanese mailers write, read from
Dovecot with TOP, in the popup's lines (as a screen reader gets them) and in
the balloon; only the newest unseen messages are asked for."""
import base64

from harness import *


def jis(text):
    """ISO-2022-JP as Windows mailers write it: JIS X 0208 with NEC's row 13."""
    pairs = bytearray()
    for lead, trail in (c.encode("cp932") for c in text):
        lead = (lead - 0x40 if lead >= 0xE0 else lead) - 0x81
        row, column = 0x21 + 2 * lead, trail - (0x1F if trail < 0x7F else 0x20)
        if trail >= 0x9F:
            row, column = row + 1, trail - 0x7E
        pairs += bytes((row, column))
    return b"\x1b$B" + bytes(pairs) + b"\x1b(B"


def word(charset, data):
    return b"=?" + charset + b"?B?" + base64.b64encode(data) + b"?="


LONG = "請求書の件（十二月分）について、ご確認のほどよろしくお願いいたします"
MEETING = jis("会議①のお知らせ")  # ① split across the two words, folded between
MAILERS = [  # header fields, the popup's line
    (b"From: " + word(b"ISO-2022-JP", jis("佐藤")) + b" <sato@example.jp>\r\nSubject: " +
     word(b"ISO-2022-JP", MEETING[:8]) + b"\r\n " + word(b"ISO-2022-JP", MEETING[8:]) + b"\r\n",
     "佐藤  会議①のお知らせ"),
    (b"From: " + word(b"x-sjis", "髙橋".encode("cp932")) + b" <takahashi@example.jp>\r\n" +
     b"Subject: " + word(b"x-sjis", "見積もり".encode("cp932")) + b"\r\n", "髙橋  見積もり"),
    (b"From: " + word(b"UTF-8", "鈴木".encode()) + b" <suzuki@example.jp>\r\nSubject: " +
     word(b"UTF-8", "お祝い🎉".encode()) + b"\r\n", "鈴木  お祝い🎉"),
    (b"From: tanaka@example.jp\r\nSubject: " + LONG.encode("cp932") + b"\r\n",
     "tanaka@example.jp  " + LONG),  # raw 8-bit, wider than the popup: drawn ending in "…"
]


def test_japanese_mailers_in_the_popup_and_balloon(desktop, mailbox):
    probe = desktop.probe
    # Listed after each, so that Dovecot numbers them in this order.
    for fields in [b"Subject: e2e\r\n"] * 3 + [fields for fields, _ in MAILERS]:
        mailbox.add_message(fields=fields)
        mailbox.listing()
    app = start(desktop, dovecot_settings(mailbox, USEUIDL=1, USE_POPUPDLG=1, USE_BALOON=1,
                                          SHOW_HEADERS=1))
    tip = "7 通のメール (7Kバイト)"
    tray_shows(probe, tip, ARRIVE)
    newest_first = [line for _, line in reversed(MAILERS)]
    popup = wait_for(probe.popup, lambda p: popup_on_screen(p) and p["lines"], what="popup")
    desktop.grab("popup")
    assert popup["text"] == tip
    assert popup["lines"] == newest_first + ["e2e", "ほか 2 通"], popup["lines"]
    assert probe.icon()["balloons"][-1] == ["新着メールがあります", f"{newest_first[0]}\n{tip}"]
    # Taken note of: the next check asks only for the one that came since.
    probe.click_icon()
    wait_for(app.uidl_lines, lambda lines: lines == mailbox.uidl(), what="uidl.txt")
    mailbox.add_message(fields=MAILERS[2][0])
    check_ends_with(probe, "1 通のメール (1000 バイト)", ARRIVE)
    wait_for(probe.popup, lambda p: popup_on_screen(p) and p["lines"] == [MAILERS[2][1]],
             what="popup with one line")
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
