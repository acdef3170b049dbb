"""Measures, never tests: a check of a 5000-message mailbox by corvina under
Wine beside Python's poplib doing the same commands, and the program's
footprint. Prints one JSON object; scripts/bench.sh makes it a table.

The check is timed from the tool tip "サーバーとの通信中..." to the tool tip
with the result, as the probe saw both arrive; unique-id tracking is on and
nothing is seen yet, the worst case for the seen-message store.
"""
import json
import os
import poplib
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from harness import (HOST, PORT, Desktop, Mailbox, check_ends_with, dovecot_settings,  # noqa: E402
                     outcome_text, start, wait_for)

MESSAGES = 5000
ROUNDS = 5
SIZE = 200


def fill(mailbox):
    """5000 messages, written straight into the maildir; Dovecot indexes them on first use."""
    for _ in range(MESSAGES):
        mailbox.add_message(size=SIZE)
    mailbox.listing()


def poplib_seconds(mailbox):
    started = time.perf_counter()
    pop = poplib.POP3(HOST, PORT)
    pop.user(mailbox.name)
    pop.pass_(mailbox.password)
    pop.stat()
    pop.list()
    pop.uidl()
    pop.quit()
    return time.perf_counter() - started


def corvina_seconds(probe, expected):
    since = probe.state()["seq"]
    check_ends_with(probe, expected, timeout=60)
    events = probe.events(since)["events"]
    begun = next(e["tick"] for e in events if e["tip"] == "サーバーとの通信中...")
    ended = next(e["tick"] for e in reversed(events) if e["tip"] == expected)
    return (ended - begun) / 1000


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
    start(desktop, dovecot_settings(small, USEUIDL=1, STARTUP_WAIT=60))
    for _ in range(checks):
        check_ends_with(desktop.probe, outcome_text(3, 33300))
    return private_bytes("corvina.exe")


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
    harness.start_dovecot()
    try:
        mailbox = Mailbox("bench")
        fill(mailbox)
        desktop = Desktop(folder)
        try:
            probe = desktop.probe
            start(desktop, dovecot_settings(mailbox, USEUIDL=1, STARTUP_WAIT=60))
            expected = outcome_text(MESSAGES, MESSAGES * SIZE)
            corvina_seconds(probe, expected)  # warm: Dovecot's index, Wine's code
            corvina = [corvina_seconds(probe, expected) for _ in range(ROUNDS)]
            python = [poplib_seconds(mailbox) for _ in range(ROUNDS)]
            results["check_5000_corvina_s"] = statistics.median(corvina)
            results["check_5000_poplib_s"] = statistics.median(python)
            probe.command(2003)
            wait_for(lambda: probe.process()["running"], lambda running: not running,
                     what="the program to end")
            results["private_bytes_after_100_checks"] = private_bytes_after_checks(desktop)
        finally:
            desktop.close()
    finally:
        harness.stop_dovecot()
    print(json.dumps(results))


main()
