"""Broken and hostile servers: what the user sees, and that the seen ids in
uidl.txt and the INI file stay as they were unless the user took note."""

from harness import (ERROR, NORMAL, Behaviour, check_ends_with, raw, reply, scripted_settings,
                     tray_shows, wait_for)


SEEN = b"old-1\r\nold-2\r\n"


def start_with_seen_ids(desktop, pop3):
    """corvina with uidl.txt holding SEEN; remembers its INI file's bytes."""
    app = desktop.corvina()
    desktop.probe.load_exe(app.exe)
    app.uidl_file.write_bytes(SEEN)
    ini = app.write_ini(scripted_settings(pop3, USEUIDL=1))
    app.ini_bytes = ini.read_bytes()
    app.start(ini)
    return app


def unchanged(app):
    assert app.uidl_file.read_bytes() == SEEN
    assert (app.folder / "corvina.ini").read_bytes() == app.ini_bytes


HOSTILE = [  # the server's behaviour, the tool tip it leads to
    (Behaviour(greeting=raw(b"+OK " + b"g" * 1_000_000)), "受信バッファオーバーフロー"),
    (Behaviour(messages=(10, 20), faults={"UIDL": raw(b"+OK\r\n1 a\r\n", close=True)}),
     "通信エラー発生"),
    (Behaviour(faults={"LIST": reply(b"+OK", b"1 10", b"2 -10", b".")}), "LISTエラー"),
]


def test_hostile_servers_leave_the_files_as_they_were(desktop, pop3):
    # Taking note after a failed check commits nothing: no listing came.
    pop3.play(*(behaviour for behaviour, _ in HOSTILE))
    app = start_with_seen_ids(desktop, pop3)
    for row, (_, tip) in enumerate(HOSTILE):
        if row:
            check_ends_with(desktop.probe, tip, ERROR, timeout=40)
        tray_shows(desktop.probe, tip, ERROR, timeout=40)
        desktop.probe.click_icon()
        tray_shows(desktop.probe, "corvina", NORMAL)
        unchanged(app)


def test_odd_unique_ids_are_kept_byte_for_byte(desktop, pop3):
    # An empty id, DEL, bytes above 0x7F, the same id twice, and a NUL,
    # which ends an id: "ab\0cd" is kept as "ab".
    ids = (b"", b"x\x7fy", b"\x80\xfe\xff", b"dup", b"dup", b"ab\x00cd")
    pop3.play(Behaviour(messages=(1, 2, 3, 4, 5, 6), uids=ids))
    app = start_with_seen_ids(desktop, pop3)
    tray_shows(desktop.probe, "6 通のメール (21 バイト)")
    desktop.probe.click_icon()
    wait_for(lambda: app.uidl_file.read_bytes(),
             lambda data: data == b"\r\n".join(ids[:5] + (b"ab",)) + b"\r\n",
             what="uidl.txt with the listing")
    check_ends_with(desktop.probe, "新着メールはありません", NORMAL)
