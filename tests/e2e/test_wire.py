"""The wire as the servers see it and the tray as the shell shows it:
checks against Dovecot and the scripted server, hostile replies, the
30-second time-out."""
import hashlib
import time

from harness import (ARRIVE, CLOSE, ERROR, IDM_EXIT, NORMAL, SILENT, TIME_STAMP, Behaviour,
                     check_ends_with, dovecot_settings, encode_password, holds_for,
                     popup_on_screen, raw, reply, scripted_settings, start, tray_shows, wait_for)

MIB = 1024 * 1024


def test_dovecot_checks_announce_acknowledge_and_remember(desktop, mailbox):
    probe = desktop.probe
    app = start(desktop, dovecot_settings(mailbox, USEAPOP=1, USEUIDL=1, USE_POPUPDLG=1,
                                          USE_BALOON=1))
    tray_shows(probe, "新着メールはありません", NORMAL)
    assert not popup_on_screen(probe.popup())
    for sizes, tip in (((1500,), "1 通のメール (1500 バイト)"),
                       ((MIB, MIB), "3 通のメール (3Mバイト)")):  # just over 2 MiB in all
        for size in sizes:
            mailbox.add_message(size)
        check_ends_with(probe, tip, ARRIVE)
        since = probe.state()["seq"]
        popup = wait_for(probe.popup, lambda p: popup_on_screen(p) and p["text"] == tip,
                         what="the popup")
        assert popup["heading"] == "新着メールがあります。" and popup["topmost"], popup
        assert probe.icon()["balloons"][-1] == {"title": "新着メールがあります", "text": tip}
    # Unseen mail blinks: the icon alternates every 500 ms until taken note of.
    blinks = wait_for(lambda: [e["icon"] for e in probe.events(since)["events"] if e["flags"] & 2],
                      lambda icons: len(icons) >= 4, what="four blinks")
    assert all(a != b and {a, b} == {NORMAL, ARRIVE} for a, b in zip(blinks, blinks[1:4]))
    probe.click_icon()
    wait_for(app.uidl_lines, lambda lines: lines == mailbox.uidl(), what="uidl.txt")
    tray_shows(probe, "corvina", NORMAL)
    settled = probe.state()["seq"]
    holds_for(lambda: probe.events(settled)["events"], lambda events: events == [], 1.5,
              "the icon at rest")

    # Restarted with USER and PASS: the seen ids hold, and only new mail counts.
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    app.start(app.write_ini(dovecot_settings(mailbox, USEUIDL=1)))
    tray_shows(probe, "新着メールはありません", NORMAL)
    mailbox.add_message(500)
    check_ends_with(probe, "1 通のメール (500 バイト)", ARRIVE)
    assert len(app.uidl_lines()) == 3  # until taken note of, the file keeps the last listing
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    app.start(app.write_ini(dovecot_settings(mailbox, PASSWORD=encode_password("wrong"))))
    tray_shows(probe, "-ERR [AUTH] Authentication failed.", ERROR)


STORED = encode_password("secret")
DIGEST = hashlib.md5(TIME_STAMP + b"secret").hexdigest().encode()
WIRE = [  # settings, what the server receives; None: nothing, as the tool tip says
    ({"USEAPOP": 1}, [b"APOP alice " + DIGEST + b"\r\n", b"STAT\r\n", b"QUIT\r\n"]),
    ({"USEUIDL": 1}, [b"USER alice\r\n", b"PASS secret\r\n", b"STAT\r\n", b"LIST\r\n",
                      b"UIDL\r\n", b"QUIT\r\n"]),
    ({"PASSWORD": encode_password(b"sec\r\nret")}, "ﾕｰｻﾞｰ名かﾊﾟｽﾜｰﾄﾞに改行が含まれています。"),
    ({"PASSWORD": STORED[:10] + "AB"[STORED[10] == "A"] + STORED[11:]},  # damaged
     "ﾊﾟｽﾜｰﾄﾞを設定してください。"),
]
SEEN = b"old-1\r\nold-2\r\n"
HOSTILE = [  # the server's behaviour, the tool tip; taking note after it commits nothing
    (Behaviour(greeting=raw(b"+OK " + b"g" * 1_000_000)), "受信バッファオーバーフロー"),
    (Behaviour(messages=(10, 20), faults={"UIDL": raw(b"+OK\r\n1 a\r\n", close=True)}),
     "通信エラー発生"),
    (Behaviour(faults={"LIST": reply(b"+OK", b"1 10", b"2 -10", b".")}), "LISTエラー"),
    (Behaviour(faults={"PASS": CLOSE}), "通信エラー発生"),
]
# An empty id, DEL, bytes above 0x7F, the same id twice, and a NUL, which ends an id.
ODD_IDS = (b"", b"x\x7fy", b"\x80\xfe\xff", b"dup", b"dup", b"ab\x00cd")


def test_scripted_wire_and_hostile_servers(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(messages=(700, 800)))
    for row, (settings, seen) in enumerate(WIRE):
        app = start(desktop, scripted_settings(pop3, **settings))
        tray_shows(probe, "2 通のメール (1500 バイト)" if isinstance(seen, list) else seen)
        probe.command(IDM_EXIT)
        assert app.wait_exit() == 0
        lines = [c.lines for c in pop3.connections]
        assert lines[row:] == ([seen] if isinstance(seen, list) else []), f"row {row}: {lines}"

    pop3.play(*[Behaviour()] * 2, *(behaviour for behaviour, _ in HOSTILE),
              Behaviour(messages=(1, 2, 3, 4, 5, 6), uids=ODD_IDS))
    app = desktop.corvina()
    probe.load_exe(app.exe)
    app.uidl_file.write_bytes(SEEN)
    ini = app.write_ini(scripted_settings(pop3, USEUIDL=1)).read_bytes()
    app.start(app.default_ini)
    for row, (_, tip) in enumerate(HOSTILE):
        (check_ends_with if row else tray_shows)(probe, tip, ERROR)
        probe.click_icon()
        tray_shows(probe, "corvina", NORMAL)
        assert (app.uidl_file.read_bytes(), app.default_ini.read_bytes()) == (SEEN, ini), row
    check_ends_with(probe, "6 通のメール (21 バイト)")
    probe.click_icon()
    wait_for(app.uidl_file.read_bytes, lambda data: data == b"\r\n".join(ODD_IDS[:5] + (b"ab",))
             + b"\r\n", what="uidl.txt with the odd ids")


def test_a_silent_server_times_out_after_30_seconds(desktop, pop3):
    pop3.play(Behaviour(greeting=SILENT))
    start(desktop, scripted_settings(pop3))
    connected = pop3.connection(0).accepted_at
    tray_shows(desktop.probe, "タイムアウト発生", ERROR, timeout=40)
    assert 29 <= time.monotonic() - connected <= 35
    assert pop3.connection(0).lines == []
