"""The harness's own pieces that tests build on: the INI file, the test
messages, paths on Wine's Z: drive and waiting. A fault here would make a
program's test pass or fail for the wrong reason."""
import re

from harness import WaitTimeout, ini_bytes, message_bytes, wait_for, windows_path


def test_ini_file_is_code_page_932_with_cr_lf():
    table = [
        ({"SERVER": "127.0.0.1"}, b"[CONFIG]\r\nSERVER=127.0.0.1\r\n"),
        ({"ACCOUNT": "山田", "USEAPOP": True, "USEUIDL": False, "INTERVAL": 5},
         b"[CONFIG]\r\nACCOUNT=\x8eR\x93c\r\nUSEAPOP=1\r\nUSEUIDL=0\r\nINTERVAL=5\r\n"),
        ({"MAILER": b"\x81\xff raw"}, b"[CONFIG]\r\nMAILER=\x81\xff raw\r\n"),
        ({"POPUPDLG_BACK_COLOR": 0x00FFEEDD}, b"[CONFIG]\r\nPOPUPDLG_BACK_COLOR=16772829\r\n"),
        ({}, b"[CONFIG]\r\n"),
    ]
    for row, (settings, expected) in enumerate(table):
        assert ini_bytes(settings) == expected, f"row {row}: {ini_bytes(settings)!r}"


def test_ini_file_refuses_a_key_the_program_does_not_know():
    try:
        ini_bytes({"USE_BALLOON": 1})  # the program's key is USE_BALOON
    except KeyError:
        return
    raise AssertionError("a misspelt key was written")


def test_messages_have_exactly_the_size_pop3_reports():
    head = message_bytes(1000).index(b"\r\n\r\n") + 4  # the header, without a body
    # Around the empty body and the 78-byte line length, where a byte is easily lost.
    for size in [head, head + 1, head + 2, head + 3, head + 78, head + 79, head + 80,
                 head + 157, 4096, 100_000]:
        data = message_bytes(size)
        assert len(data) == size, f"size {size}: got {len(data)}"
        assert re.fullmatch(rb"([^\r\n]*\r\n)*", data), f"size {size}: a bare CR or LF"
        assert b"\r\n\r\n" in data, f"size {size}: no end of the header"
    try:
        message_bytes(head - 1)
    except ValueError:
        return
    raise AssertionError("a message shorter than its header was made")


def test_unix_paths_map_to_the_z_drive():
    assert windows_path("/tmp/a b/corvina.ini") == "Z:\\tmp\\a b\\corvina.ini"


def test_a_wait_that_times_out_names_what_it_last_saw():
    seen = iter(range(1000))
    try:
        wait_for(lambda: next(seen), lambda n: n < 0, timeout=0.2, what="a negative number")
    except WaitTimeout as timeout:
        assert "a negative number" in str(timeout)
        assert re.search(r"last seen: \d+$", str(timeout)), str(timeout)
        return
    raise AssertionError("the wait did not time out")
