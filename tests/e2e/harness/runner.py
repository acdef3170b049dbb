"""Runs the test functions of one module, each with the fixtures it names.

A test is a function named test_*; its parameters say what it needs, and
the runner makes each fresh for it and ends it afterwards:

    case     the test's name and its own folder (case.folder) for files and logs
    slot     one of the two test slots (its loopback address: slot.address)
    desktop  Xvfb, a fresh Wine prefix and the probe, in the test's slot
    pop3     the scripted POP3 server on the slot's address, port 110
    mailbox  a new Dovecot user with an empty maildir

When a test fails, the runner saves a screenshot and what the probe and the
servers saw into the test's folder before it tears anything down.
"""
import contextlib
import importlib.util
import inspect
import json
import shutil
import sys
import time
import traceback
from pathlib import Path

from . import dovecot
from .desktop import Desktop, Slot
from .paths import work_dir
from .pop3_script import ScriptedPop3


class Case:
    def __init__(self, module, name):
        self.name = name
        self.folder = work_dir() / "runs" / module / name
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir(parents=True)


def _slot(stack):
    slot = Slot()
    stack.callback(slot.release)
    return slot


def _fixtures(function, case, stack):
    """Makes the fixtures the test names, in an order that lets each use the slot."""
    wanted = inspect.signature(function).parameters
    made = {"case": case}
    if {"slot", "desktop", "pop3"} & set(wanted):
        made["slot"] = _slot(stack)
    if "desktop" in wanted:
        made["desktop"] = stack.enter_context(Desktop(made["slot"], case.folder))
    if "pop3" in wanted:
        made["pop3"] = stack.enter_context(ScriptedPop3(made["slot"].address))
    if "mailbox" in wanted:
        made["mailbox"] = dovecot.Mailbox(case.name)
    unknown = set(wanted) - set(made)
    if unknown:
        raise TypeError(f"{function.__name__} asks for unknown fixtures {sorted(unknown)}")
    return {name: made[name] for name in wanted}


def _save_diagnostics(case, fixtures):
    """What a person needs to see why the test failed."""
    seen = {}
    desktop = fixtures.get("desktop")
    if desktop and desktop.probe:
        with contextlib.suppress(Exception):
            print(f"  screenshot: {desktop.screenshot('failure')}")
        for query in ("state", "events", "process", "popup", "menu", "dialogs"):
            try:
                seen[query] = desktop.probe.call(query)
            except Exception as error:
                seen[query] = f"{type(error).__name__}: {error}"
    pop3 = fixtures.get("pop3")
    if pop3:
        seen["pop3"] = [{"accepted_at": c.accepted_at, "closed_by": c.closed_by,
                         "lines": [line.decode("latin-1") for line in c.lines]}
                        for c in pop3.connections]
    if seen:
        path = case.folder / "diagnostics.json"
        path.write_text(json.dumps(seen, ensure_ascii=False, indent=1))
        print(f"  diagnostics: {path}")


def _run_one(module_name, function):
    case = Case(module_name, function.__name__)
    started = time.monotonic()
    with contextlib.ExitStack() as stack:
        fixtures = {}
        try:
            fixtures = _fixtures(function, case, stack)
            function(**fixtures)
        except Exception:
            print(f"FAIL {case.name} ({time.monotonic() - started:.1f} s)")
            traceback.print_exc(file=sys.stdout)
            _save_diagnostics(case, fixtures)
            return False
    extra = ""
    if "desktop" in fixtures:
        extra = f", desktop started in {fixtures['desktop'].start_seconds:.1f} s"
    print(f"PASS {case.name} ({time.monotonic() - started:.1f} s{extra})")
    return True


def main(argv):
    path = Path(argv[1])
    only = argv[2:]
    module_spec = importlib.util.spec_from_file_location(path.stem, path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    tests = sorted((f for name, f in inspect.getmembers(module, inspect.isfunction)
                    if name.startswith("test_") and f.__module__ == module.__name__),
                   key=lambda f: f.__code__.co_firstlineno)
    if only:
        tests = [f for f in tests if f.__name__ in only]
    results = [_run_one(path.stem, test) for test in tests]
    passed = sum(results)
    print(f"{path.stem}: {passed} passed, {len(results) - passed} failed")
    return 0 if tests and passed == len(results) else 1
