"""What corvina sends and shows for each kind of server reply, against the
scripted server: the exact bytes on the wire, every failure text a reply
can cause, and the receiver's line limit."""
import hashlib

from harness import (CLOSE, RESET, TIME_STAMP, Behaviour, encode_password, long_line, raw,
                     reply, wait_for)
from steps import ARRIVE, ERROR, check_ends_with, scripted_settings, start, tray_shows

ALLOWED = (b"USER ", b"PASS ", b"APOP ", b"STAT\r\n", b"LIST\r\n", b"UIDL\r\n", b"QUIT\r\n")


def lines_of(pop3, number):
    """The lines of a finished connection, once corvina has closed it."""
    connection = pop3.connection(number)
    wait_for(lambda: connection.closed_by, what=f"connection {number} to close")
    return connection.lines


def only_allowed_commands(pop3):
    for connection in pop3.connections:
        for line in connection.lines:
            assert line.startswith(ALLOWED) and line.endswith(b"\r\n"), line
            assert line.count(b"\n") == 1 and line.count(b"\r") == 1, line


def test_the_wire_holds_exactly_the_commands_of_each_login(desktop, pop3):
    probe = desktop.probe
    digest = hashlib.md5(TIME_STAMP + b"secret").hexdigest().encode()
    cases = [
        ({"USEAPOP": 1}, [b"APOP alice " + digest + b"\r\n", b"STAT\r\n", b"QUIT\r\n"]),
        ({"USEAPOP": 0}, [b"USER alice\r\n", b"PASS secret\r\n", b"STAT\r\n", b"QUIT\r\n"]),
        ({"USEAPOP": 0, "USEUIDL": 1},
         [b"USER alice\r\n", b"PASS secret\r\n", b"STAT\r\n", b"LIST\r\n", b"UIDL\r\n",
          b"QUIT\r\n"]),
    ]
    pop3.play(Behaviour(messages=(700, 800)))
    for number, (settings, expected) in enumerate(cases):
        app = start(desktop, scripted_settings(pop3, **settings))
        tray_shows(probe, "2 通のメール (1500 バイト)")
        assert lines_of(pop3, number) == expected
        probe.command(2003)
        assert app.wait_exit() == 0
    only_allowed_commands(pop3)


def test_a_negative_reply_to_any_command_ends_the_check_with_it(desktop, pop3):
    probe = desktop.probe
    verbs = [b"USER", b"PASS", b"STAT", b"LIST", b"UIDL", b"QUIT"]
    pop3.play(*[Behaviour(faults={verb.decode(): reply(b"-ERR " + verb + b" refused")})
                for verb in verbs])
    start(desktop, scripted_settings(pop3, USEUIDL=1))
    for number, verb in enumerate(verbs):
        tip = "-ERR %s refused" % verb.decode()
        if number == 0:
            tray_shows(probe, tip, ERROR)
        else:
            check_ends_with(probe, tip, ERROR)
        lines = lines_of(pop3, number)
        # Nothing is sent after the refused command: the session is over.
        assert lines[-1].startswith(verb), (verb, lines)
    only_allowed_commands(pop3)


def test_closes_and_resets_before_quit(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(greeting=raw(b"+OK bye already\r\n", close=True)),
              Behaviour(faults={"PASS": CLOSE}),
              Behaviour(faults={"STAT": raw(b"+OK 1 10", close=True)}),  # mid-line
              Behaviour(faults={"STAT": RESET}))
    start(desktop, scripted_settings(pop3))
    tray_shows(probe, "通信エラー発生", ERROR)
    check_ends_with(probe, "通信エラー発生", ERROR)
    check_ends_with(probe, "通信エラー発生", ERROR)
    # Windows reports a reset as a close carrying WSAECONNRESET, which reads
    # "ｿｹｯﾄｲﾍﾞﾝﾄ通知ｴﾗｰ"; Wine 8 reports it as a plain close.
    check_ends_with(probe, "通信エラー発生", ERROR)
    assert pop3.connection(3).closed_by == "server"


def test_apop_needs_a_time_stamp_and_never_falls_back(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(greeting=b"+OK ready, no stamp"), Behaviour(greeting=b"+OK ready> <nope"))
    start(desktop, scripted_settings(pop3, USEAPOP=1))
    tray_shows(probe, "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ", ERROR)
    check_ends_with(probe, "APOP非対応ｻｰﾊﾞｰまたは受信ﾃﾞｰﾀｴﾗｰ", ERROR)
    assert lines_of(pop3, 0) == [] and lines_of(pop3, 1) == []


def test_a_line_of_8191_bytes_is_taken_and_one_more_byte_is_not(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(greeting=long_line(8191)), Behaviour(greeting=long_line(8192)))
    start(desktop, scripted_settings(pop3))
    tray_shows(probe, "1 通のメール (1000 バイト)")
    check_ends_with(probe, "受信バッファオーバーフロー", ERROR)
    assert lines_of(pop3, 1) == []


def test_replies_dribbled_byte_by_byte(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(messages=(10, 20, 30), dribble=True))
    start(desktop, scripted_settings(pop3, USEUIDL=1))
    tray_shows(probe, "3 通のメール (60 バイト)", timeout=40)


def test_a_listing_of_5001_messages_is_refused(desktop, pop3):
    probe = desktop.probe
    pop3.play(Behaviour(messages=(1,) * 5001), Behaviour(messages=(1,) * 5000))
    start(desktop, scripted_settings(pop3, USEUIDL=1))
    tray_shows(probe, "LISTエラー", ERROR)
    assert b"UIDL\r\n" not in lines_of(pop3, 0)
    check_ends_with(probe, "5000 通のメール (5Kバイト)", ARRIVE)


def test_an_unknown_host(desktop):
    start(desktop, {"SERVER": "no-such-host.invalid", "ACCOUNT": "alice",
                    "PASSWORD": encode_password("secret"), "STARTUP_WAIT": 0, "RETRY_MAX": 0})
    tray_shows(desktop.probe, "ｻｰﾊﾞIPｱﾄﾞﾚｽ取得失敗", ERROR)


def test_a_damaged_stored_password_counts_as_none(desktop, pop3):
    damaged = encode_password("secret")
    damaged = damaged[:10] + ("B" if damaged[10] == "A" else "A") + damaged[11:]
    start(desktop, scripted_settings(pop3, PASSWORD=damaged))
    tray_shows(desktop.probe, "ﾊﾟｽﾜｰﾄﾞを設定してください。", ERROR)
    assert pop3.connections == []
