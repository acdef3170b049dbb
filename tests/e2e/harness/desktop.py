"""A desktop for one test: a slot, a fresh Wine prefix, an X display, the probe.

Two tests run at once (ctest -j2), so there are two slots, taken with
flock. Slot N owns the Wine prefix under slotN/, an Xvfb on a free display
and the loopback address 127.0.0.(2+N) for the scripted POP3 server. When
the desktop closes, every process of its prefix, the probe and Xvfb end, so
nothing of one test reaches the next in the same slot.
"""
import fcntl
import os
import select
import subprocess
import time

from . import wine_prefix
from .corvina import Corvina
from .paths import trayprobe_exe, wine_run, work_dir
from .probe import Probe
from .xinput import XInput

SLOTS = 2
FIRST_DISPLAY = 70  # the first display number tried
SCREEN = "1024x768x24"
START_SECONDS = 60  # Wine's first start in a fresh prefix takes a few seconds
PROCESS_END_SECONDS = 10


class Slot:
    """One of the places a test can run in; held until release()."""

    def __init__(self, timeout=1800):
        folder = work_dir() / "slots"
        folder.mkdir(exist_ok=True)
        deadline = time.monotonic() + timeout
        while True:
            for index in range(SLOTS):
                lock = open(folder / f"slot{index}.lock", "w")
                try:
                    fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                except BlockingIOError:
                    lock.close()
                    continue
                self.index, self._lock = index, lock
                self.folder = folder / f"slot{index}"
                self.folder.mkdir(exist_ok=True)
                self.address = f"127.0.0.{2 + index}"
                return
            if time.monotonic() > deadline:
                raise TimeoutError(f"no free test slot within {timeout} s")
            time.sleep(0.1)

    def release(self):
        self._lock.close()


def _free_displays():
    """Display numbers no X server has claimed: no lock file, no socket."""
    for number in range(FIRST_DISPLAY, FIRST_DISPLAY + 200):
        if not (os.path.exists(f"/tmp/.X{number}-lock") or
                os.path.exists(f"/tmp/.X11-unix/X{number}")):
            yield f":{number}"


def _start_xvfb(log):
    """Starts Xvfb on a display of its own; returns (process, display) once it
    accepts clients.

    Xvfb claims a display by creating its lock file, which fails when
    another server got there first: then it ends, and the next free number
    is tried. Xvfb writes the number and its line end in two writes when
    it is ready, and dies if the pipe is closed before the second: so the
    number is read up to the line end.
    """
    for display in _free_displays():
        read_end, write_end = os.pipe()
        process = subprocess.Popen(
            ["Xvfb", display, "-displayfd", str(write_end), "-screen", "0", SCREEN,
             "-nolisten", "tcp"],
            pass_fds=[write_end], stdout=log, stderr=log,
            env=dict(os.environ, LANG="ja_JP.UTF-8"))
        os.close(write_end)
        number = b""
        try:
            while not number.endswith(b"\n"):
                if not select.select([read_end], [], [], START_SECONDS)[0]:
                    break
                chunk = os.read(read_end, 64)
                if not chunk:
                    break
                number += chunk
        finally:
            os.close(read_end)
        if number.endswith(b"\n"):
            return process, display
        process.kill()
        process.wait()
    raise RuntimeError("Xvfb did not start: see xvfb.log")


class Desktop:
    """Use as a context manager; artifacts is the test's folder for logs and pictures."""

    def __init__(self, slot: Slot, artifacts):
        self.slot = slot
        self.artifacts = artifacts
        self.prefix = slot.folder / "prefix"
        self._processes = []
        self.display = None
        self.probe = None
        self.input = None  # XInput: the mouse and keyboard on the display
        self._xvfb = None
        self._shots = 0

    def __enter__(self):
        started = time.monotonic()
        try:
            wine_prefix.fresh(self.prefix)
            with self._log("xvfb") as log:
                self._xvfb, self.display = _start_xvfb(log)
            self.input = XInput(self.display)
            probe_process = self.start(trayprobe_exe(), log="trayprobe",
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            self.probe = Probe(probe_process, START_SECONDS)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        self.start_seconds = time.monotonic() - started
        return self

    def __exit__(self, *exc):
        if self.probe:
            self.probe.quit()
        wine_prefix.stop(self.prefix)
        for process in self._processes:
            try:
                process.wait(PROCESS_END_SECONDS)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        if self._xvfb:
            self._xvfb.terminate()
            self._xvfb.wait()
        return False

    def _log(self, name):
        return open(self.artifacts / f"{name}.log", "ab")

    def start(self, program, *args, log, stdin=subprocess.DEVNULL, stdout=None):
        """Starts a Windows program on this desktop; its output goes to <log>.log."""
        env = dict(os.environ, DISPLAY=self.display, LANG="ja_JP.UTF-8")
        with self._log(log) as log_file:
            process = subprocess.Popen(
                [str(wine_run()), str(self.prefix), str(program), *map(str, args)],
                stdin=stdin, stdout=stdout or log_file, stderr=log_file, env=env)
        self._processes.append(process)
        return process

    def screenshot(self, name=None):
        """Saves the whole screen as a PNG in the test's folder; returns its path."""
        self._shots += 1
        path = self.artifacts / f"{self._shots:02d}-{name or 'screen'}.png"
        subprocess.run(["import", "-window", "root", "-display", self.display, str(path)],
                       check=True, stderr=subprocess.DEVNULL)
        return path

    def corvina(self, folder_name="program"):
        """A fresh program folder with a copy of corvina.exe, on this desktop."""
        return Corvina(self, self.artifacts / folder_name)
