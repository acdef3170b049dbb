"""Broken and hostile servers: what the user sees, and that the seen ids in
uidl.txt and the INI file stay as they were unless the user took note."""
from harness import Behaviour, raw, reply, wait_for
from steps import ERROR, NORMAL, check_ends_with, scripted_settings, start, tray_shows

SEEN = b"old-1\r\nold-2\r\n"


def start_with_seen_ids(desktop, pop3):
    """corvina with unique-id tracking and two ids already seen."""
    return start_prepared(desktop, pop3, USEUIDL=1)


def start_prepared(desktop, pop3, **settings):
    """corvina with uidl.txt holding SEEN; remembers its INI file's bytes."""
    app = desktop.corvina()
    desktop.probe.load_exe(app.exe)
    app.uidl_file.write_bytes(SEEN)
    ini = app.write_ini(scripted_settings(pop3, **settings))
    app.ini_bytes = ini.read_bytes()
    app.start(ini)
    return app


def unchanged(app):
    assert app.uidl_file.read_bytes() == SEEN
    assert (app.folder / "corvina.ini").read_bytes() == app.ini_bytes


def test_a_greeting_of_a_million_bytes_without_a_line_end(desktop, pop3):
    pop3.play(Behaviour(greeting=raw(b"+OK " + b"g" * 1_000_000)))
    app = start_with_seen_ids(desktop, pop3)
    tray_shows(desktop.probe, "受信バッファオーバーフロー", ERROR)
    desktop.probe.click_icon()  # taking note commits nothing: no listing came
    tray_shows(desktop.probe, "corvina", NORMAL)
    unchanged(app)


def test_a_close_in_the_middle_of_a_listing(desktop, pop3):
    pop3.play(Behaviour(messages=(10, 20), faults={"UIDL": raw(b"+OK\r\n1 a\r\n", close=True)}))
    app = start_with_seen_ids(desktop, pop3)
    tray_shows(desktop.probe, "通信エラー発生", ERROR)
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


def test_stat_figures_out_of_any_mailbox(desktop, pop3):
    pop3.play(Behaviour(faults={"STAT": reply(b"+OK -1 0")}),
              Behaviour(faults={"STAT": reply(b"+OK 4294967296 100")}),
              Behaviour(faults={"STAT": reply(b"+OK 1 99999999999999999999")}))
    app = start_prepared(desktop, pop3)
    tray_shows(desktop.probe, "受信データエラー", ERROR)
    # Figures beyond the range are held at its end.
    check_ends_with(desktop.probe, "2147483647 通のメール (100 バイト)")
    check_ends_with(desktop.probe, "1 通のメール (8796093022208Mバイト)")
    unchanged(app)


def test_a_negative_size_in_a_listing(desktop, pop3):
    pop3.play(Behaviour(faults={"LIST": reply(b"+OK", b"1 10", b"2 -10", b".")}))
    app = start_with_seen_ids(desktop, pop3)
    tray_shows(desktop.probe, "LISTエラー", ERROR)
    desktop.probe.click_icon()
    unchanged(app)
