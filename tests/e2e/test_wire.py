"""The wire as the servers see it and the tray as the shell shows it:
checks against Dovecot, the exact commands a scripted server receives, and
the 30-second time-out in clear text and in a TLS handshake."""
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
        wait_for(probe.popup, lambda p: popup_on_screen(p) and p["text"] == tip, what="popup")
        wait_for(probe.icon, lambda i: i["balloons"][-1:] == [["新着メールがあります", tip]],
                 what="the balloon")  # it may follow the popup
    probe.click_icon()
    wait_for(app.uidl_lines, lambda lines: lines == mailbox.uidl(), what="uidl.txt")
    tray_shows(probe, "corvina", NORMAL)
    # Restarted with USER and PASS: the seen ids hold, and only new mail counts.
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    app.start(dovecot_settings(mailbox, USEUIDL=1))
    tray_shows(probe, "新着メールはありません", NORMAL)
    mailbox.add_message(500)
    check_ends_with(probe, "1 通のメール (500 バイト)", ARRIVE)
    # uidl.txt held open by another program: a short hold is waited out; past a
    # long one the seen ids stay in memory, and go out at exit.
    probe.hold(500, windows_path(app.uidl_file))
    probe.click_icon()
    wait_for(app.uidl_lines, lambda lines: lines == mailbox.uidl(), what="uidl.txt past a hold")
    mailbox.add_message(600)
    check_ends_with(probe, "1 通のメール (600 バイト)", ARRIVE)
    probe.hold(3000, windows_path(app.uidl_file))
    probe.click_icon()
    check_ends_with(probe, "新着メールはありません", NORMAL)
    assert app.uidl_lines() == mailbox.uidl()[:-1]
    wait_for(probe.held, lambda held: held == 0, what="the hold's end")
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
    assert app.uidl_lines() == mailbox.uidl()


DIGEST = hashlib.md5(TIME_STAMP + b"secret").hexdigest().encode()
WIRE = [  # settings, what the server receives; a text: nothing, as the tool tip says
    ({"USEAPOP": 1}, [b"APOP alice " + DIGEST + b"\r\n", b"STAT\r\n", b"QUIT\r\n"]),
    ({"USEUIDL": 1}, [b"USER alice\r\n", b"PASS secret\r\n", b"STAT\r\n", b"LIST\r\n",
                      b"UIDL\r\n", b"QUIT\r\n"]),
    # A server without TOP that takes commands together: both TOPs go in one
    # send, both refusals are read, and the count is announced.
    ({"SHOW_HEADERS": 1, "USEUIDL": 1}, [b"USER alice\r\n", b"PASS secret\r\n", b"STAT\r\n",
                                         b"LIST\r\n", b"UIDL\r\n", b"CAPA\r\n", b"TOP 2 0\r\n",
                                         b"TOP 1 0\r\n", b"QUIT\r\n"]),
    ({"PASSWORD": SECRET_CRLF}, "ﾕｰｻﾞｰ名かﾊﾟｽﾜｰﾄﾞに改行が含まれています。"),
]


def test_the_exact_commands_on_the_wire(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(messages=(700, 800), capa=(b"UIDL", b"PIPELINING")))
    for row, (settings, seen) in enumerate(WIRE):
        app = start(desktop, scripted_settings(pop3, **settings))
        tray_shows(probe, "2 通のメール (1500 バイト)" if isinstance(seen, list) else seen)
        probe.command(IDM_EXIT)
        assert app.wait_exit() == 0
        lines = [c.lines for c in pop3.connections]
        assert lines[row:] == ([seen] if isinstance(seen, list) else []), f"row {row}: {lines}"


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


REFUSED, ONE = "サーバへの接続失敗", "1 通のメール (1000 バイト)"
REFUSING, DROPPING = "127.255.0.1", "127.254.0.1"  # a server closed there; packets vanish
ADDRESSES = [  # SERVER ({v6}, {tls}: the IPv6 servers), SECURITY, the tip
    ("127.0.0.1:1", 0, REFUSED), ("127.0.0.1:1", 1, REFUSED), ("127.0.0.1:1", 2, REFUSED),
    ("refusing-first.test", 0, ONE), ("dropping-first.test", 0, ONE),
    ("{v6}", 0, ONE), ("ip6-localhost:{v6port}", 0, ONE),
    ("ip6-localhost:{tlsport}", 1, ONE), ("{tls}", 1, ONE)]
# Each tip comes within half the session's time-out, and long before the system's
# own for a connect that gets no answer: a bound a loaded machine keeps, where the
# second or two a row takes there (a TLS row up to five) would not keep a tighter.
SOON = 15


def test_refusals_names_of_several_addresses_and_ipv6(desktop, pop3, case):
    probe, v6, tls = desktop.probe, ScriptedPop3(("::1", 0)), ScriptedPop3(("::1", 0))
    tls.play(Behaviour(implicit=True))
    closed = ScriptedPop3((REFUSING, PORT))  # refuses from now on, never answers "1 1"
    closed.play(Behaviour(messages=(1,)))
    with socket.create_connection(closed.address) as served:  # its accept waits again
        served.recv(100)
    closed.close()
    names = [(name, address) for name, first in (("refusing-first.test", REFUSING), (
        "dropping-first.test", DROPPING)) for address in (first, pop3.address[0])]
    names.append(("ip6-localhost", "::1"))
    try:
        with host_names(case.folder, names), dropping(DROPPING):
            for server, security, tip in ADDRESSES:
                server = server.format(v6=v6.server, v6port=v6.address[1], tlsport=tls.address[1],
                                       tls=tls.server)
                since = probe.seq()
                app = start(desktop, scripted_settings(pop3, SERVER=server, SECURITY=security),
                            debug="+winsock")
                tray_shows(probe, tip)
                ticks = [next(e["tick"] for e in probe.events(since) if e["tip"] == t)
                         for t in ("サーバーとの通信中...", tip)]
                print(f"{server} ({security}): {tip} after {ticks[1] - ticks[0]} ms, "
                      f"connects {app.connects()}")
                assert ticks[1] - ticks[0] <= SOON * 1000, server
                probe.command(IDM_EXIT)
                assert app.wait_exit() == 0
                # The refused socket's handle is not given to the next attempt, which
                # would take the refused one's late messages for its own.
                made = app.sockets_made()
                assert made and len(set(made)) == len(made), (server, made)
                # Every connect went to an address of the name (or to the literal).
                host, port = re.fullmatch(r"\[?(.*?)\]?(?::(\d+))?", server).groups()
                port = int(port or (995 if security == 1 else PORT))
                allowed = {(a, port) for a in {a for n, a in names if n == host} or {host}}
                assert app.connects() and set(app.connects()) <= allowed, (server, app.connects())
    finally:
        v6.close()
        tls.close()
