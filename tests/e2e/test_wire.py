"""The wire as the servers see it and the tray as the shell shows it:
checks against Dovecot and the scripted server, hostile replies, the
30-second time-out in clear text and in a TLS handshake, and many checks in
a row (CORVINA_SOAK_CHECKS of them, 30 unless told: the long run is 1000)."""
import random

from harness import *

MIB = 1024 * 1024


def test_dovecot_checks_announce_acknowledge_and_remember(desktop, mailbox):
    probe = desktop.probe
    app = start(desktop, dovecot_settings(mailbox, USEAPOP=1, USEUIDL=1, USE_POPUPDLG=1,
                                          USE_BALOON=1))
    tray_shows(probe, "新着メールはありません", NORMAL)
    for sizes, tip in (((1500,), "1 通のメール (1500 バイト)"), ((MIB, MIB), "3 通のメール (3Mバイト)")):
        for size in sizes:
            mailbox.add_message(size)
        check_ends_with(probe, tip, ARRIVE)
        since = probe.seq()
        wait_for(probe.popup, lambda p: popup_on_screen(p) and p["text"] == tip, what="popup")
        assert probe.icon()["balloons"][-1] == ["新着メールがあります", tip]
    # Unseen mail blinks: the icon alternates until taken note of.
    blinks = wait_for(lambda: [e["icon"] for e in probe.events(since) if e["flags"] & 2],
                      lambda icons: len(icons) >= 4, what="four blinks")
    assert all({a, b} == {NORMAL, ARRIVE} for a, b in zip(blinks, blinks[1:4]))
    probe.click_icon()
    wait_for(app.uidl_lines, lambda lines: lines == mailbox.uidl(), what="uidl.txt")
    tray_shows(probe, "corvina", NORMAL)
    settled = probe.seq()
    holds_for(lambda: probe.events(settled), lambda events: events == [], 1.5, "the icon at rest")
    # Restarted with USER and PASS: the seen ids hold, and only new mail counts.
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    app.start(dovecot_settings(mailbox, USEUIDL=1))
    tray_shows(probe, "新着メールはありません", NORMAL)
    mailbox.add_message(500)
    check_ends_with(probe, "1 通のメール (500 バイト)", ARRIVE)
    assert len(app.uidl_lines()) == 3  # until taken note of, the file keeps the last listing
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    app.start(dovecot_settings(mailbox, ACCOUNT="nobody-here"))
    tray_shows(probe, "-ERR [AUTH] Authentication failed.", ERROR)


DIGEST = hashlib.md5(TIME_STAMP + b"secret").hexdigest().encode()
WIRE = [  # settings, what the server receives; a text: nothing, as the tool tip says
    ({"USEAPOP": 1}, [b"APOP alice " + DIGEST + b"\r\n", b"STAT\r\n", b"QUIT\r\n"]),
    ({"USEUIDL": 1}, [b"USER alice\r\n", b"PASS secret\r\n", b"STAT\r\n", b"LIST\r\n",
                      b"UIDL\r\n", b"QUIT\r\n"]),
    ({"PASSWORD": SECRET_CRLF}, "ﾕｰｻﾞｰ名かﾊﾟｽﾜｰﾄﾞに改行が含まれています。"),
    ({"PASSWORD": SECRET[:10] + "AB"[SECRET[10] == "A"] + SECRET[11:]}, "ﾊﾟｽﾜｰﾄﾞを設定してください。"),
]
SEEN = b"old-1\r\nold-2\r\n"
HOSTILE = [  # the server's behaviour, the tool tip; taking note after it commits nothing
    (Behaviour(greeting=Action(b"+OK " + b"g" * 1_000_000)), "受信バッファオーバーフロー"),
    (Behaviour(messages=(10, 20), faults={"UIDL": reply(b"+OK", b"1 a", close=True)}),
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
    app = Corvina(desktop, desktop.folder / "hostile")
    app.uidl_file.write_bytes(SEEN)
    app.start(scripted_settings(pop3, USEUIDL=1))
    ini = app.ini.read_bytes()
    for row, (_, tip) in enumerate(HOSTILE):
        (check_ends_with if row else tray_shows)(probe, tip, ERROR)
        probe.click_icon()
        tray_shows(probe, "corvina", NORMAL)
        assert (app.uidl_file.read_bytes(), app.ini.read_bytes()) == (SEEN, ini), row
    check_ends_with(probe, "6 通のメール (21 バイト)")
    probe.click_icon()
    wait_for(app.uidl_file.read_bytes, lambda data: data == b"\r\n".join(ODD_IDS[:5] + (b"ab",))
             + b"\r\n", what="uidl.txt with the odd ids")


def test_a_silent_server_times_out_after_30_seconds(desktop, pop3, case):
    # In clear text the greeting never comes; over TLS the handshake never
    # ends. Both programs run at once, each on a desktop of its own.
    tls, second = ScriptedPop3((HOST, 0)), Desktop(case.folder / "tls")
    pop3.play(Behaviour(greeting=SILENT))
    tls.play(Behaviour(greeting=SILENT))
    try:
        start(desktop, scripted_settings(pop3))
        start(second, scripted_settings(pop3, SERVER=tls.server, SECURITY=1))
        for server, probe in ((pop3, desktop.probe), (tls, second.probe)):
            tray_shows(probe, "タイムアウト発生", ERROR, timeout=40)
            assert 29 <= time.monotonic() - server.connection(0).accepted_at <= 35
        assert pop3.connection(0).lines == []
    finally:
        second.close()
        tls.close()


def test_many_checks_in_a_row(desktop, mailbox):
    # Mail arrives and leaves between checks, the user takes note now and then:
    # each check ends with the right tip, and uidl.txt holds the listing last noted.
    probe = desktop.probe
    rng = random.Random(20261206)
    keys = [mailbox.add_message(size=rng.randint(200, 5000)) for _ in range(3)]
    app = start(desktop, dovecot_settings(mailbox, USEUIDL=1, USEAPOP=1, STARTUP_WAIT=60))
    seen, acknowledged = set(), None  # the listing the user last took note of
    for number in range(int(os.environ.get("CORVINA_SOAK_CHECKS", "30"))):
        for _ in range(rng.choice((0, 0, 1, 2))):
            keys.append(mailbox.add_message(rng.randint(200, 3_000_000 if number % 50 == 7
                                                        else 5000)))
        if keys and rng.random() < 0.3:
            mailbox.delete_message(keys.pop(rng.randrange(len(keys))))
        current = mailbox.listing()
        unseen = [size for uid, size in current if uid not in seen]
        check_ends_with(probe, outcome_text(len(unseen), sum(unseen)), timeout=30)
        if rng.random() < 0.2:
            probe.click_icon()
            seen, acknowledged = {uid for uid, _ in current}, [uid for uid, _ in current]
            wait_for(app.uidl_lines, lambda lines: lines == acknowledged,
                     what=f"uidl.txt after taking note at check {number}")
            tray_shows(probe, "corvina")
        assert app.uidl_lines() == acknowledged, number
