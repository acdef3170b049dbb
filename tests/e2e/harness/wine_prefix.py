"""Wine prefixes: one template made once per build tree, a fresh copy per test.

Making a prefix takes about ten seconds; a copy whose files are hard links
to the template's takes a few milliseconds. Wine writes its registry files
by replacing them, but they are copied anyway, so nothing a test does can
reach the template.
"""
import fcntl
import json
import os
import shutil
import subprocess
from pathlib import Path

from .paths import wine_run, work_dir

WINESERVER = "/usr/lib/wine/wineserver"
STOP_SECONDS = 10  # the server ends within a second once its processes are killed
STOP_ATTEMPTS = 3

# Every program of a test runs in a Wine virtual desktop of the screen's size.
# There Wine manages the windows itself, as Windows does; directly on Xvfb,
# with no window manager, a minimised window can come back by itself when
# Wine syncs it with the X server.
VIRTUAL_DESKTOP = (
    ["reg", "add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d", "Default", "/f"],
    ["reg", "add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "Default", "/d",
     "1024x768", "/f"],
)

# The fonts a Japanese Windows has are mapped by cmake/wine-run.sh for every prefix.
SETTINGS = VIRTUAL_DESKTOP


def _template():
    """The template prefix, made through the build's own Wine runner.

    A marker keeps the settings the template was given: when SETTINGS
    change, an existing template gets them too.
    """
    path = work_dir() / "prefix-template"
    marker = path / ".e2e-settings"
    wanted = json.dumps(SETTINGS)
    # Not "<prefix>.lock": the runner takes that one while it makes the prefix.
    with open(work_dir() / "prefix-template.guard", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not marker.exists() or marker.read_text() != wanted:
            for command in SETTINGS:
                subprocess.run([str(wine_run()), str(path), *command],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            stop(path)  # quiet, with its registry written out, before it is copied
            marker.write_text(wanted)
    return path


def _link_or_copy(source, target):
    if source.endswith(".reg"):
        shutil.copy2(source, target)
    else:
        os.link(source, target)


def fresh(path: Path):
    """Replaces whatever is at path with a new copy of the template."""
    template = _template()
    stop(path)
    shutil.rmtree(path, ignore_errors=True)
    # "wineserver" names the server's folder under /tmp: each prefix gets its own.
    shutil.copytree(template, path, symlinks=True, copy_function=_link_or_copy,
                    ignore=shutil.ignore_patterns("wineserver"))


def _server_folder(path: Path):
    """Debian's Wine keeps the server's socket in /tmp/<name>/server-<dev>-<inode>."""
    try:
        name = (path / "wineserver").read_text().strip()
        info = path.stat()
    except OSError:
        return None
    return Path("/tmp") / name / f"server-{info.st_dev:x}-{info.st_ino:x}"


def stop(path: Path):
    """Ends every process of the prefix and its server, and removes the server's folder."""
    if not path.exists():
        return
    env = dict(os.environ, WINEPREFIX=str(path))
    # A program that was still starting when the server killed the others
    # escapes the kill and keeps the server alive: it is killed next time.
    for _ in range(STOP_ATTEMPTS):
        subprocess.run([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
        try:
            subprocess.run([WINESERVER, "-w"], env=env, stderr=subprocess.DEVNULL,
                           timeout=STOP_SECONDS)
            break
        except subprocess.TimeoutExpired:
            pass
    else:
        raise RuntimeError(f"the Wine server of {path} did not end")
    folder = _server_folder(path)
    if folder and folder.exists():
        shutil.rmtree(folder, ignore_errors=True)
        try:
            folder.parent.rmdir()
        except OSError:
            pass  # another prefix's server lives there too
