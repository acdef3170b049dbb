"""The account page's "自動設定" against Dovecot (TLS on 995), a server with
STLS alone, one in clear text with APOP and an address where nothing
listens; and the connection test's log explaining three failures."""
from harness import *

SERVER_BOX, TEST, APOP, SECURITY, LOG, FIND = 1004, 1000, 1023, 1028, 1027, 1029
ALERT = b"\x15\x03\x03\x00\x02\x02\x28"  # a fatal handshake_failure instead of a ServerHello


def follows(lines, *expected):
    """The expected lines stand in the log one after another."""
    return any(lines[at:at + len(expected)] == list(expected) for at in range(len(lines)))


def test_finding_settings_and_explained_failures(case, desktop):
    probe = desktop.probe
    stls_only = ScriptedPop3()  # 127.0.0.2: nothing on 995
    stls_only.play(Behaviour(cert="wrongname", capa=(b"STLS", b"UIDL", b"SASL PLAIN")))
    clear = ScriptedPop3()  # 127.0.0.3
    clear.play(Behaviour(capa=(b"TOP", b"UIDL")))
    alert = ScriptedPop3((HOST, 0))
    # As a server that refuses the client's hello: after it, so no reset overtakes the alert.
    alert.play(Behaviour(greeting=Action(ALERT, heard=True, close=True)))
    with host_names(case.folder, [("mail.example.org", stls_only.address[0])]):
        start(desktop, scripted_settings(clear, STARTUP_WAIT=120))
        sheet = Sheet(desktop)
        sheet.show(ACCOUNT)

        def log_lines():
            return sheet.text(LOG, ACCOUNT).split("\r\n")

        def find(server, item, apop, *patterns):
            sheet.type_into(SERVER_BOX, ACCOUNT, server)
            sheet.click(FIND, ACCOUNT)
            lines = wait_for(log_lines, lambda lines: sheet.text(TEST, ACCOUNT) == "テスト" and all(
                any(re.fullmatch(p, line) for line in lines) for p in patterns), timeout=40,
                what=f"the search of {server} to find {patterns}")
            assert (sheet.text(SECURITY, ACCOUNT), sheet.control(APOP, ACCOUNT)["checked"]) == \
                (item, apop), (server, lines)
            return lines

        def test(server, *explained):
            sheet.type_into(SERVER_BOX, ACCOUNT, server)
            sheet.click(TEST, ACCOUNT)
            wait_for(log_lines, lambda lines: sheet.text(TEST, ACCOUNT) == "テスト" and
                     follows(lines, *explained), timeout=40, what=f"the log to explain {explained}")

        lines = find("localhost", "TLS (995)", 0, "■ TLS \\(995\\) を試します",
                     r"証明書の対象: CN=good", r"証明書の発行者: CN=ca",
                     r"証明書の有効期間: \d{4}-\d\d-\d\d \d\d:\d\d から \d{4}-.* まで \(UTC\)",
                     "TLS 1.2で保護された接続", r"暗号: TLS 1\.2, \S.*", r"\+OK Dovecot.*",
                     "暗号化は「TLS \\(995\\)」にしました: .*", "APOP にも対応していますが.*",
                     r"サーバーの機能: .*UIDL.*", "UIDL に対応しています: .*", "次に、.*「通信テスト」.*",
                     "証明書は信頼でき、サーバー名とも一致しています。")
        assert not any("ポート 110" in line for line in lines), "995 answered: 110 is not tried"
        # A failed TLS call names its status; every failure is followed by what to do.
        test("%s:%d" % alert.address, "TLSハンドシェイク失敗",
             "対処: 暗号化の選択とポートを確かめてください（「自動設定」が調べます）。")
        assert any(re.fullmatch(r"InitializeSecurityContext: (SEC_E_\w+ )?0x8009[0-9A-F]{4}", line)
                   for line in log_lines()), log_lines()

        find("mail.example.org", "STLS (110)", 0, "サーバへの接続失敗", "■ ポート 110 を試します.*",
             "STLS", r"\+OK Begin TLS", "証明書の対象: CN=wrongname",
             "暗号化は「STLS \\(110\\)」にしました: .*", "サーバーの機能: STLS, UIDL, SASL PLAIN")
        assert stls_only.connection(0).lines == [b"CAPA\r\n", b"STLS\r\n", b"CAPA\r\n", b"QUIT\r\n"]
        test(stls_only.address[0], "証明書の検証: CERT_E_CN_NO_MATCH 0x800B010F",
             "証明書の名前がサーバー名と一致しません",
             "対処: プロバイダーの案内どおりのサーバー名を入れてください。")

        find(clear.address[0], "なし", 1, "暗号化は「なし」にしました: .*", ".*安全ではありません.*",
             "APOP に対応しています。.*", "サーバーの機能: TOP, UIDL")
        assert clear.connection(0).lines == [b"CAPA\r\n", b"QUIT\r\n"]  # never a name or password
        sheet.type_into(1021, ACCOUNT, "bob")
        test(clear.address[0], "-ERR [AUTH] invalid password",
             "対処: ユーザー名とパスワード（アプリ パスワードが要るか）を確かめてください。")

        # Nothing answers: one line, and the choices stay as they were. The
        # address is outside the 127.0.0.x that scripted servers of the modules
        # running beside this one take.
        lines = find("127.255.0.9", "なし", 1,
                     "サーバーはポート 995 にも 110 にも POP3 で応答しませんでした。.*")
        assert lines[-2:] == ["サーバーはポート 995 にも 110 にも POP3 で応答しませんでした。"
                              "サーバー名とインターネット接続を確かめてください。", ""], lines
        sheet.close(CANCEL)
