"""What corvina sends, as the scripted server receives it: exactly the
commands of each login, and nothing at all for settings it must refuse."""
import hashlib

from harness import (ERROR, TIME_STAMP, Behaviour, encode_password, scripted_settings, start,
                     tray_shows, wait_for)


DIGEST = hashlib.md5(TIME_STAMP + b"secret").hexdigest().encode()
WIRE = [  # settings, the lines the server receives
    ({"USEAPOP": 1}, [b"APOP alice " + DIGEST + b"\r\n", b"STAT\r\n", b"QUIT\r\n"]),
    ({"USEAPOP": 0}, [b"USER alice\r\n", b"PASS secret\r\n", b"STAT\r\n", b"QUIT\r\n"]),
    ({"USEAPOP": 0, "USEUIDL": 1},
     [b"USER alice\r\n", b"PASS secret\r\n", b"STAT\r\n", b"LIST\r\n", b"UIDL\r\n", b"QUIT\r\n"]),
]
LINE_BREAK = "ﾕｰｻﾞｰ名かﾊﾟｽﾜｰﾄﾞに改行が含まれています。"
STORED = encode_password("secret")
DAMAGED = STORED[:10] + ("B" if STORED[10] == "A" else "A") + STORED[11:]
REFUSED = [  # settings, tool tip; the server must receive nothing
    ({"PASSWORD": encode_password(b"sec\r\nret")}, LINE_BREAK),
    ({"PASSWORD": DAMAGED}, "ﾊﾟｽﾜｰﾄﾞを設定してください。"),
]


def lines_of(pop3, number):
    """The lines of a finished connection, once corvina has closed it."""
    connection = pop3.connection(number)
    wait_for(lambda: connection.closed_by, what=f"connection {number} to close")
    return connection.lines


def test_the_wire_holds_exactly_the_commands_of_each_login(desktop, pop3):
    pop3.play(Behaviour(messages=(700, 800)))
    for number, (settings, expected) in enumerate(WIRE):
        app = start(desktop, scripted_settings(pop3, **settings))
        tray_shows(desktop.probe, "2 通のメール (1500 バイト)")
        assert lines_of(pop3, number) == expected, number
        desktop.probe.command(2003)
        assert app.wait_exit() == 0
    for row, (settings, tip) in enumerate(REFUSED):
        app = start(desktop, scripted_settings(pop3, **settings))
        tray_shows(desktop.probe, tip, ERROR)
        desktop.probe.command(2003)
        assert app.wait_exit() == 0
        assert len(pop3.connections) == len(WIRE), f"row {row}: the server was reached"
