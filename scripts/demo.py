"""Runs corvina.exe under Wine against a demo mailbox it serves itself.

Dovecot on 127.0.0.1:110 with three messages, an INI file written for it,
and the program in a Wine virtual desktop with its task bar. On a display
the program runs until the user chooses "終了" from its tray menu; without
one it runs in Xvfb until its first check is over and leaves a screenshot.
With arguments (for example /IZ:\\home\\me\\corvina.ini) the program runs
with them instead, against whatever server that INI file names.

usage: demo.py <corvina.exe> <build folder> [program arguments...]
"""
import os
import shutil
import socket
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

CORVINA = Path(sys.argv[1])
FOLDER = Path(sys.argv[2]) / "demo"
ARGUMENTS = sys.argv[3:]
SCREENSHOT = FOLDER / "screenshot.png"
WINE_RUN = ROOT / "cmake" / "wine-run.sh"

os.environ.setdefault("E2E_WORK_DIR", str(FOLDER))
import harness  # noqa: E402
from harness import Mailbox, encode_password, ini_bytes, wait_for  # noqa: E402


def demo_mailbox():
    """Dovecot with a user of three messages; returns the INI settings for it."""
    harness.start_dovecot()
    mailbox = Mailbox("demo")
    for size, subject in ((1200, "ようこそ"), (5000, "meeting notes"), (30000, "photos")):
        mailbox.add_message(size=size, subject=subject)
    return {"SERVER": "127.0.0.1", "ACCOUNT": mailbox.name,
            "PASSWORD": encode_password(mailbox.password), "USEAPOP": 1, "USEUIDL": 1,
            "STARTUP_WAIT": 1, "USE_POPUPDLG": 1, "POPUPDLG_Y": 5, "USE_BALOON": 1}


def start_program(program, display):
    env = dict(os.environ, DISPLAY=display)
    command = [str(WINE_RUN), str(FOLDER / "prefix"), "explorer", "/desktop=corvina,1024x768",
               str(program), *ARGUMENTS]
    return subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                            stderr=open(FOLDER / "wine.log", "wb"))


def check_over(log, logins):
    """Dovecot logs a line when a session ends; True once one more has."""
    return log.exists() and log.read_text(errors="replace").count("Disconnected") > logins


def port_taken():
    try:
        socket.create_connection(("127.0.0.1", 110), timeout=2).close()
        return True
    except OSError:
        return False


def into_namespace_if_needed():
    """When something else serves 127.0.0.1:110, the demo mailbox is served
    in a network namespace of its own, with Wine's server in it too. A local
    display is still reached there through its socket file."""
    if ARGUMENTS or os.environ.get("CORVINA_DEMO_NETNS") or not port_taken():
        return
    print("127.0.0.1:110 is taken: the demo runs in a network namespace of its own.")
    os.environ["CORVINA_DEMO_NETNS"] = "1"
    os.execvp("unshare", ["unshare", "--net", "sh", "-c", 'ip link set lo up && exec "$@"', "sh",
                          sys.executable, __file__, *sys.argv[1:]])


def main():
    into_namespace_if_needed()
    FOLDER.mkdir(parents=True, exist_ok=True)
    program = FOLDER / "program" / "corvina.exe"
    program.parent.mkdir(exist_ok=True)
    shutil.copy2(CORVINA, program)
    (program.parent / "uidl.txt").unlink(missing_ok=True)
    if ARGUMENTS:  # the user's own INI file, or the first start's settings sheet
        (program.parent / "corvina.ini").unlink(missing_ok=True)
    else:
        (program.parent / "corvina.ini").write_bytes(ini_bytes(demo_mailbox()))
    log = harness.dovecot_folder() / "dovecot.log"
    logins = log.read_text(errors="replace").count("Disconnected") if log.exists() else 0

    if os.environ.get("DISPLAY"):
        print("corvina runs in a Wine desktop window; quit it from its tray menu (終了).")
        start_program(program, os.environ["DISPLAY"]).wait()
    else:
        with open(FOLDER / "xvfb.log", "ab") as xvfb_log:
            xvfb, display = harness.start_xvfb(xvfb_log)  # a display no one has claimed
        try:
            wine = start_program(program, display)
            if not ARGUMENTS:
                wait_for(lambda: check_over(log, logins), timeout=60, what="the first check")
            time.sleep(2)  # a picture for a person: let the popup and balloon draw
            subprocess.run(["import", "-window", "root", "-display", display, str(SCREENSHOT)],
                           check=True)
            print(f"No display: corvina ran in Xvfb; see {SCREENSHOT}")
        finally:
            harness.stop_wine(FOLDER / "prefix")
            wine.wait()
            xvfb.terminate()
    if not ARGUMENTS:
        harness.stop_dovecot()


main()
