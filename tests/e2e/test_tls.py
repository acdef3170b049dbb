"""POP3 over TLS: Dovecot on 995 and with STLS on 110, the connection
test's log of it, and servers whose certificate or TLS is wrong."""
from harness import *

UNTRUSTED, NAME, EXPIRED, HANDSHAKE = ("サーバー証明書が信頼できません", "証明書の名前がサーバー名と一致しません",
                                       "サーバー証明書の有効期限切れ", "TLSハンドシェイク失敗")
DOVECOT = [  # SERVER, SECURITY, USEAPOP, USEUIDL
    ("localhost", 1, 1, 1), ("127.0.0.1:995", 1, 0, 0), ("127.0.0.1", 2, 1, 0),
    ("localhost", 2, 0, 1)]


def test_dovecot_over_tls_and_the_connection_test_log(desktop, mailbox):
    probe = desktop.probe
    for size in (1000, 1200, 1300):
        mailbox.add_message(size)
    for row, (server, security, apop, uidl) in enumerate(DOVECOT):
        if row:
            probe.command(IDM_EXIT)
            assert app.wait_exit() == 0
        app = start(desktop, dovecot_settings(mailbox, SERVER=server, SECURITY=security,
                                              USEAPOP=apop, USEUIDL=uidl))
        tray_shows(probe, "3 通のメール (4Kバイト)")
    sheet = Sheet(desktop)
    sheet.show(ACCOUNT)
    run_connection_test(sheet, [r"接続先 127\.0\.0\.1:110", r"\+OK Dovecot.*", "STLS",
                                r"\+OK Begin TLS negotiation now\.",
                                "証明書の対象: CN=good", "証明書の発行者: CN=ca",
                                r"証明書の有効期間: \d{4}-\d\d-\d\d \d\d:\d\d から .* まで \(UTC\)",
                                "TLS 1.2で保護された接続", r"暗号: TLS 1\.2, TLS_\w+.*",
                                f"USER {mailbox.name}", r"\+OK", r"PASS \*+", r"\+OK Logged in\.",
                                "STAT", r"\+OK 3 3500", "LIST", r"\+OK .*", "UIDL", r"\+OK", "QUIT",
                                r"\+OK Logging out\.", "新着メールはありません"])  # the check before took note


ONE, TWO = "1 通のメール (1000 バイト)", "2 通のメール (300 バイト)"
TLS = {"SECURITY": 1}
ROWS = [  # settings besides the scripted server's, its behaviour, the tool tip
    (TLS, Behaviour(implicit=True, cert="unknown"), UNTRUSTED),
    (TLS, Behaviour(implicit=True, cert="wrongname"), NAME),
    (TLS, Behaviour(implicit=True, cert="expired"), EXPIRED),
    (TLS, Behaviour(implicit=True, cert="revoked"), "サーバー証明書は失効しています"),
    (TLS, Behaviour(implicit=True, cert="smime-issued"), UNTRUSTED),  # the issuer's usage
    (TLS, Behaviour(implicit=True, cert="clientauth-issued"), UNTRUSTED),
    (TLS, Behaviour(greeting=Action(b"\x16\x03\x03\x00\x60\x02\x00", close=True)), HANDSHAKE),
    (TLS, Behaviour(implicit=True, step=3, messages=(100, 200)), TWO),
    (TLS, Behaviour(implicit=True, cert="many"), ONE),  # 300 names, then the address
    (TLS, Behaviour(implicit=True, cert="unanswered"), ONE),  # its list never comes
    (TLS, Behaviour(implicit=True, records={"USER+": ["empty"], "STAT": ["empty"]}), ONE),
    (TLS, Behaviour(implicit=True, records={"USER+": ["hello"], "STAT": ["hello"]}), ONE),
    *((TLS, Behaviour(implicit=True, records={"USER+": ["hello"] * n, "STAT": ["hello"] * n}), ONE)
      for n in (2, 3, 10)),  # in one write, between replies and before one
    (TLS, Behaviour(implicit=True, records={"USER": ["close_notify"]}), "通信エラー発生"),  # "+OK" behind
    (TLS, Behaviour(implicit=True, faults={"QUIT": reply(b"+OK bye")}), ONE),  # and never closes
    ({"SECURITY": 1, "SERVER": "example.test"}, Behaviour(implicit=True, cert="wildcard"), NAME),
    ({"SECURITY": 1, "SERVER": "example.test"}, Behaviour(implicit=True, cert="wildcard-cn"), NAME),
    ({"SECURITY": 1, "SERVER": "localhost."}, Behaviour(implicit=True), ONE),
    ({"SECURITY": 2}, Behaviour(faults={"STLS": reply(b"-ERR not now")}),
     "サーバーがSTLSを受け付けません"),
    ({"SECURITY": 2}, Behaviour(faults={"STLS": reply(b"+OK Begin TLS", b"+OK clear text")}),
     HANDSHAKE),
    ({"SECURITY": 2}, Behaviour(step=3, messages=(100, 200)), TWO),
    ({"SECURITY": "tls"}, Behaviour(), ONE),  # never clear text from a damaged line
    ({"SECURITY": "-1"}, Behaviour(), ONE),
]


def test_wrong_certificates_and_hostile_servers(desktop):
    probe, pop3 = desktop.probe, ScriptedPop3((HOST, 0))  # 127.0.0.1, named in the certificates
    serve_crl()
    pop3.play(*(behaviour for _, behaviour, _ in ROWS))
    app, running = None, None
    for row, (settings, behaviour, tip) in enumerate(ROWS):
        began = time.monotonic()
        if settings != running:
            if app:
                probe.command(IDM_EXIT)
                assert app.wait_exit() == 0
            host = settings.get("SERVER", HOST)
            app = start(desktop, scripted_settings(pop3) | settings | {
                "SERVER": "%s:%d" % (host, pop3.address[1])})
            tray_shows(probe, tip)
            running = settings
        else:
            check_ends_with(probe, tip)
        connection = pop3.connection(row)
        # A revocation list that never comes holds a check 3 s, not until the
        # session's 30-s time-out: a start and a check take over 8 s when loaded.
        assert time.monotonic() - began < 20, f"row {row}"
        if tip in (ONE, TWO):  # every command seen, the stream ended by both sides
            assert connection.lines[-1:] == [b"QUIT\r\n"], f"row {row}: {connection.lines}"
            assert wait_for(lambda: connection.ended, what="the end") == "close_notify", (row, connection.ended)
        if settings.get("SECURITY") != 1:
            assert connection.lines[0] == b"STLS\r\n", f"row {row}: {connection.lines}"
        if host.endswith("."):  # a final dot is no part of the name sent
            assert connection.sni == host[:-1]
    probe.command(IDM_EXIT)
    assert app.wait_exit() == 0
