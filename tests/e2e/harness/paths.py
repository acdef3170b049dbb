"""Where things are: the build passes every path through the environment."""
import os
from pathlib import Path


def _required(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(f"{name} is not set: run the end-to-end tests through ctest")
    return Path(value)


def corvina_exe():
    return _required("CORVINA_EXE")


def trayprobe_exe():
    return _required("TRAYPROBE_EXE")


def wine_run():
    """cmake/wine-run.sh: runs a Windows program in a given prefix, Japanese locale."""
    return _required("WINE_RUN")


def work_dir():
    """The e2e layer's folder in the build tree: prefixes, servers, test runs."""
    path = _required("E2E_WORK_DIR")
    path.mkdir(parents=True, exist_ok=True)
    return path


def windows_path(path):
    """A Unix path as Wine's Z: drive shows it."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")
