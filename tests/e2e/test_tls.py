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
                                r"\+OK Begin TLS negotiation now\.", "TLS 1.2で保護された接続",
                                f"USER {mailbox.name}", r"\+OK", r"PASS \*+", r"\+OK Logged in\.",
                                "STAT", r"\+OK 3 3500", "LIST", r"\+OK .*", "UIDL", r"\+OK", "QUIT",
                                r"\+OK Logging out\.", "新着メールはありません"])  # the check before took note


TLS_ROWS = [  # the scripted server's behaviour over TLS from the first byte, the tool tip
    (Behaviour(implicit=True, cert="unknown"), UNTRUSTED),
    (Behaviour(implicit=True, cert="wrongname"), NAME),
    (Behaviour(implicit=True, cert="expired"), EXPIRED),
    (Behaviour(greeting=Action(b"\x16\x03\x03\x00\x60\x02\x00", close=True)), HANDSHAKE),
    (Behaviour(implicit=True, step=3, messages=(100, 200)), "2 通のメール (300 バイト)"),
]
STLS_ROWS = [  # the same with STLS
    (Behaviour(faults={"STLS": reply(b"-ERR not now")}), "サーバーがSTLSを受け付けません"),
    (Behaviour(faults={"STLS": reply(b"+OK Begin TLS", b"+OK clear text")}), HANDSHAKE),
    (Behaviour(step=3, messages=(100, 200)), "2 通のメール (300 バイト)"),
]


def test_wrong_certificates_and_hostile_servers(desktop):
    probe, pop3 = desktop.probe, ScriptedPop3((HOST, 0))  # 127.0.0.1, named in the certificates
    for security, rows in ((1, TLS_ROWS), (2, STLS_ROWS)):
        pop3.play(*(behaviour for behaviour, _ in rows))
        pop3.connections.clear()
        app = start(desktop, dict(scripted_settings(pop3), SERVER=pop3.server, SECURITY=security))
        for row, (_, tip) in enumerate(rows):
            (check_ends_with if row else tray_shows)(probe, tip)
        assert pop3.connections[-1].lines[-1:] == [b"QUIT\r\n"]  # over TLS, a few bytes at a time
        probe.command(IDM_EXIT)
        assert app.wait_exit() == 0
