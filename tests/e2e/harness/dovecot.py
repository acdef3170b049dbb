"""Dovecot as the real POP3 server of the end-to-end tests, on 127.0.0.1:110
of the layer's own network namespace (see fixture.py).

CTest starts it once for all tests and stops it after them, by its own
configuration's pid file. Both slots share it: each test adds a user of its
own and fills that user's maildir.

Dovecot will not run its login process as root, so it runs as the package's
users dovecot and dovenull, and mail belongs to nobody. Its configuration
and log live in the build tree; its sockets, users and mail too, unless
those users cannot reach the build tree (a checkout under /root): then they
live in /tmp/corvina-e2e-dovecot-<namespace>.
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
  {listeners}
}}
"""


def _folder():
    return work_dir() / "dovecot"


def _config():
    return _folder() / "dovecot.conf"


def _reachable(folder):
    """Whether other users can enter the folder: every parent needs o+x."""
    return all(parent.stat().st_mode & 0o001 for parent in [folder, *folder.parents])


def _runtime():
    """Where Dovecot's own users find its sockets, its users and the mail."""
    if _reachable(work_dir()):
        return _folder()
    return Path(f"/tmp/corvina-e2e-dovecot-{os.environ.get('E2E_NETNS', 'demo')}")


def _our_master():
    """The pid of the master started with our configuration, or None."""
    try:
        pid = int((_runtime() / "run" / "master.pid").read_text())
        argv = Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")
    except (OSError, ValueError):
        return None
    return pid if str(_config()).encode() in argv else None


def _greeting():
    """The server's first line on 127.0.0.1:110, or None while nothing answers."""
    try:
        with socket.create_connection((HOST, PORT), timeout=2) as connection:
            return connection.makefile("rb").readline()
    except OSError:
        return None


def write_config(listeners=f"inet_listener pop3 {{\n    address = {HOST}\n    port = {PORT}\n  }}"):
    """Our configuration; `listeners` is the body of the pop3-login service."""
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
    _config().write_text(CONFIG.format(host=HOST, listeners=listeners, folder=folder,
                                       runtime=runtime))


def start():
    """Starts our Dovecot; a server of ours left by an aborted run is stopped
    first. Anything else on the port is left alone: the run stops instead."""
    stop()
    write_config()
    holder = _greeting()
    if holder is not None:
        sys.exit(f"something else answers on {HOST}:{PORT}: {holder!r}; "
                 "the tests run their servers in a network namespace of their own")
    # The daemon must not keep CTest's output pipes open: CTest waits for them.
    subprocess.run(["dovecot", "-c", str(_config())], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    line = wait_for(_greeting, timeout=SECONDS, what=f"Dovecot to answer on {HOST}:{PORT}")
    print(f"Dovecot answers: {line!r}")


def stop():
    """Stops the master started with our configuration, and only that one."""
    pid = _our_master()
    if pid is None:
        return
    subprocess.run(["doveadm", "-c", str(_config()), "stop"], stderr=subprocess.DEVNULL)
    try:
        wait_for(lambda: not Path(f"/proc/{pid}").exists(), timeout=SECONDS,
                 what=f"our Dovecot {pid} to stop")
    except AssertionError:
        os.kill(pid, signal.SIGTERM)
        wait_for(lambda: not Path(f"/proc/{pid}").exists(), timeout=SECONDS,
                 what=f"our Dovecot {pid} to end")


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
