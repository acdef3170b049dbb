"""Measures, never tests: a check of a 5000-message mailbox by corvina under
Wine beside Python's poplib doing the same commands, in clear text and over
TLS on 995; a check that announces 10 new messages with their senders and
subjects beside poplib asking STAT, UIDL and 10 x TOP n 0; the TLS
handshake; the program's footprint. With
CORVINA_SOAK_CHECKS set it also runs that many checks in a row against a
mailbox that changes between them (the soak). Prints one JSON object;
scripts/bench.sh makes it a table.

A check is timed from the tool tip "サーバーとの通信中..." to the tool tip
with the result, as the probe saw both arrive; unique-id tracking is on and
nothing is seen yet, the worst case for the seen-message store.
"""
import base64
import json
import os
import poplib
import random
import ssl
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "e2e"))
import harness  # noqa: E402
from harness import (CERTS, HOST, PORT, Desktop, Mailbox, check_ends_with,  # noqa: E402
                     dovecot_settings, start, tray_shows, wait_for)

MESSAGES = 5000
ROUNDS = 15  # Dovecot's login alone varies by several milliseconds
SIZE = 200
TLS_PORT = 995
HEADED = 10  # messages announced with their headers
HEADER_FIELDS = (b"From: =?ISO-2022-JP?B?" + base64.b64encode("山田".encode("iso2022_jp")) +
                 b"?= <yamada@example.jp>\r\nSubject: =?UTF-8?B?" +
                 base64.b64encode("来週の会議について".encode()) + b"?=\r\n")


def outcome_text(count, size):
    """The tool tip after a check that found count messages of size bytes."""
    if count == 0:
        return "新着メールはありません"
    if size < 2048:
        return f"{count} 通のメール ({size} バイト)"
    unit, name = (1024, "K") if size < 2 * 1024 * 1024 else (1024 * 1024, "M")
    return f"{count} 通のメール ({-(-size // unit)}{name}バイト)"


def fill(mailbox):
    """5000 messages, written straight into the maildir; Dovecot indexes them on first use."""
    for _ in range(MESSAGES):
        mailbox.add_message(size=SIZE)
    mailbox.listing()


def tls_context():
    return ssl.create_default_context(cafile=str(CERTS / "ca.pem"))


def poplib_seconds(mailbox, tls=False):
    started = time.perf_counter()
    if tls:
        pop = poplib.POP3_SSL(HOST, TLS_PORT, context=tls_context())
    else:
        pop = poplib.POP3(HOST, PORT)
    pop.user(mailbox.name)
    pop.pass_("secret")
    pop.stat()
    pop.list()
    pop.uidl()
    pop.quit()
    return time.perf_counter() - started


def poplib_headers_seconds(mailbox):
    started = time.perf_counter()
    pop = poplib.POP3(HOST, PORT)
    pop.user(mailbox.name)
    pop.pass_("secret")
    pop.stat()
    pop.uidl()
    for number in range(HEADED, 0, -1):
        pop.top(number, 0)
    pop.quit()
    return time.perf_counter() - started


def handshake_seconds():
    """TCP connect, the TLS handshake and the greeting, as poplib does them."""
    started = time.perf_counter()
    pop = poplib.POP3_SSL(HOST, TLS_PORT, context=tls_context())
    seconds = time.perf_counter() - started
    pop.quit()
    return seconds


def corvina_seconds(probe, expected):
    since = probe.seq()
    check_ends_with(probe, expected, timeout=60)
    events = probe.events(since)
    begun = next(e["tick"] for e in events if e["tip"] == "サーバーとの通信中...")
    ended = next(e["tick"] for e in reversed(events) if e["tip"] == expected)
    return (ended - begun) / 1000


def corvina_median(desktop, settings, expected):
    """The median of ROUNDS checks after one to warm Dovecot's index and Wine's code."""
    return paired_medians(desktop, settings, expected, None)[0]


def paired_medians(desktop, settings, expected, poplib_check):
    """Medians of ROUNDS checks by corvina and, each right after one of those, by
    poplib: taken in turn, both meet Dovecot in the same state."""
    app = start(desktop, settings)
    corvina_seconds(desktop.probe, expected)
    times = [(corvina_seconds(desktop.probe, expected), poplib_check and poplib_check())
             for _ in range(ROUNDS)]
    desktop.probe.command(harness.IDM_EXIT)
    app.wait_exit()
    corvina, poplib = zip(*times)
    return statistics.median(corvina), poplib_check and statistics.median(poplib)


def private_bytes(exe_name):
    """Private memory of the Wine process running the program, from Linux's view."""
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and exe_name.encode() in (entry / "cmdline").read_bytes():
                rollup = (entry / "smaps_rollup").read_text().split("\n")
                return sum(int(line.split()[1]) * 1024 for line in rollup
                           if line.startswith(("Private_Clean:", "Private_Dirty:")))
        except OSError:
            pass
    return None


def private_bytes_after_checks(desktop, checks=100):
    """A program against a mailbox of three messages, after that many checks."""
    small = Mailbox("bench-small")
    for size in (300, 3000, 30000):
        small.add_message(size=size)
    app = start(desktop, dovecot_settings(small, USEUIDL=1, STARTUP_WAIT=60))
    for _ in range(checks):
        check_ends_with(desktop.probe, outcome_text(3, 33300))
    bytes_used = private_bytes("corvina.exe")
    desktop.probe.command(harness.IDM_EXIT)
    app.wait_exit()
    return bytes_used


def soak(desktop, checks):
    """Mail arrives and leaves between checks, the user takes note now and then:
    each check must end with the right tip, and uidl.txt hold the listing last noted."""
    probe, rng, mailbox = desktop.probe, random.Random(20261206), Mailbox("soak")
    keys = [mailbox.add_message(size=rng.randint(200, 5000)) for _ in range(3)]
    app = start(desktop, dovecot_settings(mailbox, USEUIDL=1, USEAPOP=1, STARTUP_WAIT=60))
    seen, acknowledged = set(), None  # the listing the user last took note of
    for number in range(checks):
        for _ in range(rng.choice((0, 0, 1, 2))):
            largest = 3_000_000 if number % 50 == 7 else 5000
            keys.append(mailbox.add_message(rng.randint(200, largest)))
        if keys and rng.random() < 0.3:
            for path in mailbox.maildir.glob(f"*/{keys.pop(rng.randrange(len(keys)))},*"):
                path.unlink()
        current = mailbox.listing()
        unseen = [size for uid, size in current if uid not in seen]
        check_ends_with(probe, outcome_text(len(unseen), sum(unseen)), timeout=30)
        if rng.random() < 0.2:
            probe.click_icon()
            seen, acknowledged = {uid for uid, _ in current}, [uid for uid, _ in current]
            wait_for(app.uidl_lines, lambda lines: lines == acknowledged,
                     what=f"uidl.txt after taking note at check {number}")
            tray_shows(probe, "corvina")
        assert app.uidl_lines() == acknowledged, number
    probe.command(harness.IDM_EXIT)
    app.wait_exit()
    return checks


def imports(exe):
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True,
                          text=True, check=True).stdout
    return [line.split(":", 1)[1].strip() for line in dump.splitlines() if "DLL Name:" in line]


def main():
    results = {}
    exe = Path(os.environ["CORVINA_EXE"])
    results["exe_bytes"] = exe.stat().st_size
    results["imports"] = imports(exe)
    folder = Path(os.environ["E2E_WORK_DIR"]) / "bench"
    folder.mkdir(parents=True, exist_ok=True)
    if not (CERTS / "ca.der").exists():  # the benchmark's prefix trusts this CA
        harness.make_certificates()
    harness.start_dovecot()
    try:
        mailbox = Mailbox("bench")
        fill(mailbox)
        desktop = Desktop(folder)
        try:
            expected = outcome_text(MESSAGES, MESSAGES * SIZE)
            results["check_5000_corvina_s"], results["check_5000_poplib_s"] = paired_medians(
                desktop, dovecot_settings(mailbox, USEUIDL=1, STARTUP_WAIT=60), expected,
                lambda: poplib_seconds(mailbox))
            headed = Mailbox("bench-headers")
            for _ in range(HEADED):
                headed.add_message(size=SIZE * 10, fields=HEADER_FIELDS)
            results["check_headers_corvina_s"], results["check_headers_poplib_s"] = \
                paired_medians(desktop, dovecot_settings(headed, USEUIDL=1, STARTUP_WAIT=60,
                                                         SHOW_HEADERS=1),
                               outcome_text(HEADED, HEADED * SIZE * 10),
                               lambda: poplib_headers_seconds(headed))
            results["check_5000_tls_corvina_s"], results["check_5000_tls_poplib_s"] = \
                paired_medians(desktop, dovecot_settings(mailbox, USEUIDL=1, STARTUP_WAIT=60,
                                                         SECURITY=1), expected,
                               lambda: poplib_seconds(mailbox, tls=True))
            results["handshake_poplib_s"] = statistics.median(
                handshake_seconds() for _ in range(ROUNDS))
            results["check_empty_tls_corvina_s"] = corvina_median(
                desktop, dovecot_settings(Mailbox("bench-empty"), STARTUP_WAIT=60, SECURITY=1),
                outcome_text(0, 0))
            results["private_bytes_after_100_checks"] = private_bytes_after_checks(desktop)
            if checks := int(os.environ.get("CORVINA_SOAK_CHECKS", "0")):
                results["soak_checks"] = soak(desktop, checks)
        finally:
            desktop.close()
    finally:
        harness.stop_dovecot()
    print(json.dumps(results))


main()
