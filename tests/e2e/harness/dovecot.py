"""Dovecot as the real POP3 server of the end-to-end tests, on 127.0.0.1:110.

CTest starts it once for all tests (`python3 -m harness.fixture
dovecot-start`, a fixture setup test) and stops it after them. Both slots share
it: each test adds a user of its own and fills that user's maildir.

Dovecot will not run its login process as root, so it runs as the package's
users dovecot and dovenull, and mail belongs to nobody. Its configuration
and log live in the build tree; its sockets, users and mail too, unless
those users cannot reach the build tree (a checkout under /root): then they
live in /tmp/corvina-e2e-dovecot.
"""
import fcntl
import grp
import itertools
import os
import poplib
import pwd
import re
import secrets
import signal
import socket
import subprocess
import sys
import time
import uuid
from pathlib import Path

from .paths import work_dir
from .waiting import wait_for

HOST, PORT = "127.0.0.1", 110
SECONDS = 20

CONFIG = """\
protocols = pop3
listen = {host}
base_dir = {runtime}/run
state_dir = {runtime}/state
log_path = {folder}/dovecot.log
ssl = no
disable_plaintext_auth = no
# apop puts a time stamp into the greeting; plain gives USER and PASS.
auth_mechanisms = plain apop
# Tests fail logins on purpose, one after another: a failure answers at
# once (the users' "nodelay" field; USER and PASS still take half a second)
# and no penalty slows down the next login from the address (the closed
# anvil listener; the auth process then takes five seconds to start).
auth_failure_delay = 0
default_internal_user = dovecot
default_login_user = dovenull
mail_location = maildir:{runtime}/mail/%u
pop3_uidl_format = %08Xu%08Xv
passdb {{
  driver = passwd-file
  args = scheme=PLAIN {runtime}/passwd
}}
userdb {{
  driver = static
  args = uid=nobody gid=nogroup home={runtime}/mail/%u
}}
service anvil {{
  unix_listener anvil-auth-penalty {{
    mode = 0
  }}
}}
service pop3-login {{
  inet_listener pop3 {{
    address = {host}
    port = {port}
  }}
}}
"""


def _folder():
    return work_dir() / "dovecot"


def _config():
    return _folder() / "dovecot.conf"


def _masters():
    """(pid, command line) of every running Dovecot master process."""
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            argv = (entry / "cmdline").read_bytes().split(b"\0")
        except OSError:
            continue
        if argv and os.path.basename(argv[0]) == b"dovecot":
            found.append((int(entry.name), [a.decode(errors="replace") for a in argv if a]))
    return found


def _gone(pid):
    return not Path(f"/proc/{pid}").exists()


def _stop_master(pid, argv):
    """Stops one master: politely with doveadm and its own configuration, else SIGTERM."""
    config = argv[argv.index("-c") + 1] if "-c" in argv else "/etc/dovecot/dovecot.conf"
    subprocess.run(["doveadm", "-c", config, "stop"], stderr=subprocess.DEVNULL)
    try:
        wait_for(lambda: _gone(pid), timeout=SECONDS, what=f"Dovecot {pid} to stop")
    except AssertionError:
        os.kill(pid, signal.SIGTERM)
        wait_for(lambda: _gone(pid), timeout=SECONDS, what=f"Dovecot {pid} to end")


def _greeting():
    """The server's first line on 127.0.0.1:110, or None while nothing answers."""
    try:
        with socket.create_connection((HOST, PORT), timeout=2) as connection:
            return connection.makefile("rb").readline()
    except OSError:
        return None


def _reachable(folder):
    """Whether other users can enter the folder: every parent needs o+x."""
    return all(parent.stat().st_mode & 0o001 for parent in [folder, *folder.parents])


def _runtime():
    """Where Dovecot's own users find its sockets, its users and the mail."""
    if _reachable(work_dir()):
        return _folder()
    return Path("/tmp/corvina-e2e-dovecot")


def start():
    """Stops any Dovecot that holds the port (the package's own one on a fresh
    machine, or ours left from an aborted run), then starts ours."""
    for pid, argv in _masters():
        print(f"stopping Dovecot {pid}: {' '.join(argv)}")
        _stop_master(pid, argv)
    folder, runtime = _folder(), _runtime()
    folder.mkdir(exist_ok=True)
    for sub in ("run", "state", "mail"):
        (runtime / sub).mkdir(parents=True, exist_ok=True)
    for path in (runtime, runtime / "run"):
        path.chmod(0o755)
    os.chown(runtime / "mail", pwd.getpwnam("nobody").pw_uid, grp.getgrnam("nogroup").gr_gid)
    passwd = runtime / "passwd"
    passwd.touch()
    passwd.chmod(0o644)
    _config().write_text(CONFIG.format(host=HOST, port=PORT, folder=folder, runtime=runtime))
    holder = _greeting()
    if holder is not None:
        sys.exit(f"something else answers on {HOST}:{PORT}: {holder!r}")
    # The daemon must not keep CTest's output pipes open: CTest waits for them.
    subprocess.run(["dovecot", "-c", str(_config())], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    line = wait_for(_greeting, timeout=SECONDS, what=f"Dovecot to answer on {HOST}:{PORT}")
    print(f"Dovecot answers: {line!r}")


def stop():
    for pid, argv in _masters():
        if str(_config()) in argv:
            _stop_master(pid, argv)
    wait_for(lambda: _greeting() is None, timeout=SECONDS, what=f"{HOST}:{PORT} to close")


_numbers = itertools.count()


def message_bytes(size, subject="corvina e2e"):
    """A message of exactly `size` bytes with CR LF line ends: what LIST reports."""
    head = (f"From: sender@corvina.test\r\nTo: user@corvina.test\r\nSubject: {subject}\r\n"
            f"Message-ID: <{uuid.uuid4()}@corvina.test>\r\n\r\n").encode()
    remaining = size - len(head)
    if remaining == 1:  # no line fits in one byte: make the subject a byte longer
        return message_bytes(size, subject + ".")
    if remaining < 0:
        raise ValueError(f"a message needs at least {len(head)} bytes")
    body = bytearray()
    while remaining > 0:
        length = min(78, remaining)
        if remaining - length == 1:
            length -= 1
        body += b"x" * (length - 2) + b"\r\n"
        remaining -= length
    return head + bytes(body)


class Mailbox:
    """A Dovecot user of one test, with its maildir."""

    def __init__(self, hint="user"):
        number = next(_numbers)
        self.name = re.sub(r"[^a-z0-9]+", "-", hint.lower())[:40] + f"-{os.getpid()}-{number}"
        self.password = secrets.token_hex(8)
        self.maildir = _runtime() / "mail" / self.name
        owner = (pwd.getpwnam("nobody").pw_uid, grp.getgrnam("nogroup").gr_gid)
        for sub in ("", "new", "cur", "tmp"):
            (self.maildir / sub).mkdir(parents=True, exist_ok=True)
            os.chown(self.maildir / sub, *owner)
        self._owner = owner
        with open(_runtime() / "passwd", "a") as passwd:
            fcntl.flock(passwd, fcntl.LOCK_EX)
            passwd.write(f"{self.name}:{{PLAIN}}{self.password}::::::nodelay=y\n")
        wait_for(self._can_log_in, timeout=SECONDS, what=f"Dovecot to know {self.name}")

    def _can_log_in(self):
        try:
            self.session().quit()
            return True
        except (poplib.error_proto, OSError):
            return False

    def session(self):
        """A POP3 session logged in with USER and PASS."""
        pop = poplib.POP3(HOST, PORT, timeout=SECONDS)
        pop.user(self.name)
        pop.pass_(self.password)
        return pop

    def add_message(self, size=1000, subject="corvina e2e"):
        """Delivers a message of `size` bytes (as LIST counts them); returns its key."""
        data = message_bytes(size, subject)
        key = f"{time.time_ns()}.P{os.getpid()}Q{next(_numbers)}.corvina-e2e"
        name = f"{key},S={len(data)},W={len(data)}"
        temporary = self.maildir / "tmp" / name
        temporary.write_bytes(data)
        os.chown(temporary, *self._owner)
        temporary.rename(self.maildir / "new" / name)
        return key

    def delete_message(self, key):
        """Removes the message from the maildir, as another mail program would."""
        for sub in ("new", "cur"):
            for path in (self.maildir / sub).glob(key + ",*"):
                path.unlink()
                return
        raise KeyError(f"no message {key} in {self.maildir}")

    def uidl(self):
        """Dovecot's own unique ids of the messages, in message-number order."""
        pop = self.session()
        try:
            return [line.split(b" ", 1)[1].decode() for line in pop.uidl()[1]]
        finally:
            pop.quit()

    def stat(self):
        """(message count, total size) as Dovecot's STAT reports them."""
        pop = self.session()
        try:
            return pop.stat()
        finally:
            pop.quit()
