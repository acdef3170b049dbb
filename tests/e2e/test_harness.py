"""The harness's own pieces that tests build on: the INI file, the test
messages, paths on Wine's Z: drive and waiting. A fault here would make a
program's test pass or fail for the wrong reason."""
import re

from harness import (WaitTimeout, decode_password, encode_password, ini_bytes, message_bytes,
                     wait_for, windows_path)
from harness.password import ALPHABET


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


def test_a_stored_password_decodes_to_what_was_encoded():
    passwords = [b"x", b"secret", "山田ﾊﾟｽ".encode("cp932"), bytes(range(0x80, 0xC0)),
                 b"\xff" * 64, bytes(range(1, 65))]
    for seed in (0, 1, 0x1234, 0xFFFF):
        for password in passwords:
            stored = encode_password(password, seed)
            assert len(stored) == 36 + 8 * len(password), (seed, password)
            assert [ALPHABET.index(c) & 15 for c in stored[:4]] == [
                (seed >> shift) & 15 for shift in (0, 4, 8, 12)], (seed, stored)
            assert decode_password(stored) == password, (seed, password, stored)


def test_a_damaged_stored_password_decodes_to_nothing():
    stored = encode_password("secret", 0x4321)

    def replaced(index, character):
        return stored[:index] + character + stored[index + 1:]

    def other(character, same_low_bits):
        """Another alphabet character, with the same low 4 bits or not."""
        value = ALPHABET.index(character)
        return ALPHABET[value ^ 0x10] if same_low_bits else ALPHABET[value ^ 0x01]

    # Only the seed's low bits count: its filler bits may change freely.
    assert decode_password(replaced(2, other(stored[2], True))) == b"secret"
    for index in (0, 3, 4, 20, len(stored) - 1):
        assert decode_password(replaced(index, other(stored[index], False))) == b"", index
    assert decode_password(stored[:43]) == b""
    assert decode_password(stored[:4]) == b""
    assert decode_password("") == b""
