"""The end-to-end harness: corvina.exe under Wine in Xvfb, watched by the probe
(trayprobe.exe), against Dovecot and a scripted POP3 server.

    python3 -m harness setup | teardown       CTest's fixture (the namespace, Dovecot)
    python3 -m harness test_x.py [names...]   runs the test_* functions of a module

The layer runs in a network namespace of its own, named after the build
folder (E2E_NETNS): Dovecot, the scripted servers, Xvfb and every Wine
server of its prefixes listen there, so 127.0.0.1:110 is free whatever the
machine runs, and nothing outside is touched. Wine's sockets belong to the
wineserver, which a test's first Wine program starts inside the namespace.
A test names the fixtures it needs as parameters: case, desktop, pop3, mailbox.
"""
import fcntl
import grp
import hashlib
import importlib.util
import inspect
import itertools
import json
import os
import poplib
import pwd
import re
import secrets
import select
import shutil
import socket
import subprocess
import sys
import threading
import time
import traceback
import uuid
from dataclasses import dataclass, field
from pathlib import Path

WORK = Path(os.environ.get("E2E_WORK_DIR", "/tmp/corvina-e2e")).resolve()
WINE_RUN = os.environ.get("WINE_RUN", "")
WINESERVER = "/usr/lib/wine/wineserver"
HOST, PORT = "127.0.0.1", 110
SCREEN = "1024x768x24"
START_SECONDS = 60  # Wine's first start in a fresh prefix takes a few seconds

IDM_SETTINGS, IDM_CHECK, IDM_PAUSE, IDM_EXIT = 2000, 2001, 2002, 2003
IDOK = 1
POPUP_MAIL_BUTTON, POPUP_CLOSE_BUTTON = 1031, 1032
WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP = 0x0202, 0x0203, 0x0205
NORMAL, CHECK, ARRIVE, ERROR, WAIT = "109", "106", "105", "108", "118"  # the tray's icons
QUICK = {"STARTUP_WAIT": 0, "RETRY_MAX": 0, "USEAPOP": 0}  # the first check at once


# Waiting: every wait polls a cheap query and fails with the last value it saw.

def wait_for(observe, condition=bool, timeout=10.0, what="the condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = observe()
        if condition(value):
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"waited {timeout:g} s for {what}; last seen: {value!r}")
        time.sleep(0.05)


def holds_for(observe, condition, seconds, what):
    """Asserts that condition(observe()) holds throughout the next seconds:
    for what must not happen, such as a check that is not due."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = observe()
        assert condition(value), f"{what} did not hold: {value!r}"
        time.sleep(0.1)


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


# The program's files.

INI_KEYS = (
    "SERVER", "ACCOUNT", "PASSWORD", "USEAPOP", "USEUIDL", "INTERVAL", "STARTUP_WAIT",
    "RETRY_MAX", "RETRY_INTERVAL", "MAILER", "USE_SOUND", "SOUND_FILE", "BACK_COLOR",
    "STOP_IF_MSG", "USE_POPUPDLG", "POPUPDLG_TEXT_COLOR", "POPUPDLG_BACK_COLOR",
    "USE_SYSTEMCOLOR", "POPUPDLG_X", "POPUPDLG_Y", "USE_BALOON", "POPUP_ICON", "NORMAL_ICON",
    "CHECK_ICON", "ARRIVE_ICON", "ERROR_ICON", "WAIT_ICON", "AUTO_POPUP_CLOSE",
    "AUTO_POPUP_CLOSE_TIME")


def ini_bytes(settings):
    """Section CONFIG in code page 932 with CR LF; bytes are written as they are.
    A key the program does not know is refused, so a typo cannot pass unnoticed."""
    lines = [b"[CONFIG]"]
    for key, value in settings.items():
        if key not in INI_KEYS:
            raise KeyError(f"corvina has no setting {key}")
        value = value if isinstance(value, bytes) else str(int(value) if isinstance(
            value, bool) else value).encode("cp932")
        lines.append(key.encode() + b"=" + value)
    return b"\r\n".join(lines) + b"\r\n"


class _Generator:
    """The generator over x^521 + x^32 + 1 that the stored password form uses."""

    def __init__(self, s):
        x, u = [0] * 521, 0
        for i in range(17):
            for _ in range(32):
                s = (s * 1566083941 + 1) & 0xFFFFFFFF
                u = (u >> 1) | (s & 0x80000000)
            x[i] = u
        x[16] = ((x[16] << 23) & 0xFFFFFFFF) ^ (x[0] >> 9) ^ x[15]
        for i in range(17, 521):
            x[i] = ((x[i - 17] << 23) & 0xFFFFFFFF) ^ (x[i - 16] >> 9) ^ x[i - 1]
        self.x, self.j = x, 520
        for _ in range(3):
            self._refresh()

    def _refresh(self):
        for i in range(32):
            self.x[i] ^= self.x[i + 489]
        for i in range(32, 521):
            self.x[i] ^= self.x[i - 32]

    def next(self):
        self.j += 1
        if self.j >= 521:
            self._refresh()
            self.j = 0
        return self.x[self.j]


ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"


def encode_password(plain, seed=0x1234):
    """The stored PASSWORD text, written apart from the program's own encoder:
    a login with it proves that both agree on the form (seed characters, one
    bit per character, MD5 check, 100 seeded transpositions)."""
    data = plain.encode("cp932") if isinstance(plain, str) else plain
    generator = _Generator(seed)
    text = [ALPHABET[((seed >> (4 * k)) & 15) | (generator.next() & 0x30)] for k in range(4)]
    generator = _Generator(seed + 1)
    text += [ALPHABET[(generator.next() + ((byte >> k) & 1)) & 63] for byte in data
             for k in range(8)]
    text += hashlib.md5(data).hexdigest()
    generator = _Generator(seed + 2)
    for _ in range(100):
        a, b = 4 + generator.next() % (len(text) - 4), 4 + generator.next() % (len(text) - 4)
        text[a], text[b] = text[b], text[a]
    return "".join(text)


def outcome_text(count, size):
    """The tool tip after a check that found count messages of size bytes."""
    if count == 0:
        return "新着メールはありません"
    if size < 2048:
        return f"{count} 通のメール ({size} バイト)"
    if size < 2 * 1024 * 1024:
        return f"{count} 通のメール ({-(-size // 1024)}Kバイト)"
    return f"{count} 通のメール ({-(-size // (1024 * 1024))}Mバイト)"


# Dovecot: one for the whole run, on 127.0.0.1:110 of the namespace, as the
# package's users dovecot and dovenull, with mail owned by nobody. Each test
# adds a user of its own.

DOVECOT_CONFIG = """\
protocols = pop3
listen = {host}
base_dir = {runtime}/run
state_dir = {runtime}/state
log_path = {runtime}/dovecot.log
ssl = no
disable_plaintext_auth = no
# apop puts a time stamp into the greeting; plain gives USER and PASS.
auth_mechanisms = plain apop
# Failed logins answer at once ("nodelay" users), and no penalty slows the next.
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
POP3_LISTENER = "  inet_listener pop3 {\n    address = 127.0.0.1\n    port = 110\n  }"


def dovecot_folder():
    """Dovecot's users must reach it: every parent needs o+x (not so under /root)."""
    if all(p.stat().st_mode & 0o001 for p in [WORK, *WORK.parents]):
        return WORK / "dovecot"
    return Path(f"/tmp/corvina-e2e-dovecot-{os.environ.get('E2E_NETNS', 'demo')}")


def write_dovecot_config(listeners=POP3_LISTENER, extra=""):
    """Our configuration: `listeners` go into the pop3-login service."""
    folder = dovecot_folder()
    for sub in ("run", "state", "mail"):
        (folder / sub).mkdir(parents=True, exist_ok=True)
    for path in (folder, folder / "run"):
        path.chmod(0o755)
    os.chown(folder / "mail", pwd.getpwnam("nobody").pw_uid, grp.getgrnam("nogroup").gr_gid)
    (folder / "passwd").touch()
    (folder / "passwd").chmod(0o644)
    config = folder / "dovecot.conf"
    config.write_text(DOVECOT_CONFIG.format(host=HOST, runtime=folder, listeners=listeners)
                      + extra)
    return config


def _greeting():
    try:
        with socket.create_connection((HOST, PORT), timeout=2) as connection:
            return connection.makefile("rb").readline()
    except OSError:
        return None


def start_dovecot(listeners=POP3_LISTENER, extra=""):
    stop_dovecot()
    if _greeting() is not None:
        sys.exit(f"something else answers on {HOST}:{PORT}; run the servers in a namespace")
    config = write_dovecot_config(listeners, extra)
    # The daemon must not keep CTest's output pipes open: CTest waits for them.
    subprocess.run(["dovecot", "-c", str(config)], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    wait_for(_greeting, timeout=20, what="Dovecot to answer")


def stop_dovecot():
    """Stops the master started with our configuration, found by its pid file."""
    folder = dovecot_folder()
    try:
        pid = int((folder / "run" / "master.pid").read_text())
        ours = str(folder / "dovecot.conf").encode() in Path(f"/proc/{pid}/cmdline").read_bytes()
    except (OSError, ValueError):
        return
    if ours:
        subprocess.run(["doveadm", "-c", str(folder / "dovecot.conf"), "stop"])
        wait_for(lambda: not Path(f"/proc/{pid}").exists(), timeout=20, what="Dovecot to stop")


_numbers = itertools.count()


def message_bytes(size, subject="corvina e2e"):
    """A message of exactly size bytes with CR LF line ends, as LIST counts it."""
    head = (f"From: sender@corvina.test\r\nTo: user@corvina.test\r\nSubject: {subject}\r\n"
            f"Message-ID: <{uuid.uuid4()}@corvina.test>\r\n\r\n").encode()
    lines, last = divmod(size - len(head), 78)
    if lines < 0 or (last, lines) == (1, 0):
        raise ValueError(f"no message of {size} bytes")
    if last == 1:  # no line fits in one byte: the line before takes 77
        return head + (b"x" * 76 + b"\r\n") * (lines - 1) + b"x" * 75 + b"\r\n\r\n"
    return head + (b"x" * 76 + b"\r\n") * lines + (b"x" * (last - 2) + b"\r\n" if last else b"")


class Mailbox:
    """A Dovecot user of one test, with its maildir."""

    def __init__(self, hint="user"):
        hint = re.sub(r"[^a-z0-9]+", "-", hint.lower())[:40]
        self.name = f"{hint}-{os.getpid()}-{next(_numbers)}"
        self.password = secrets.token_hex(8)
        self.maildir = dovecot_folder() / "mail" / self.name
        self._owner = (pwd.getpwnam("nobody").pw_uid, grp.getgrnam("nogroup").gr_gid)
        for sub in ("", "new", "cur", "tmp"):
            (self.maildir / sub).mkdir(parents=True, exist_ok=True)
            os.chown(self.maildir / sub, *self._owner)
        with open(dovecot_folder() / "passwd", "a") as passwd:
            fcntl.flock(passwd, fcntl.LOCK_EX)
            passwd.write(f"{self.name}:{{PLAIN}}{self.password}::::::nodelay=y\n")
        wait_for(self._can_log_in, timeout=20, what=f"Dovecot to know {self.name}")

    def _can_log_in(self):
        try:
            self.session().quit()
            return True
        except (poplib.error_proto, OSError):
            return False

    def session(self):
        pop = poplib.POP3(HOST, PORT, timeout=20)
        pop.user(self.name)
        pop.pass_(self.password)
        return pop

    def add_message(self, size=1000, subject="corvina e2e"):
        """Delivers a message of size bytes; returns its key."""
        data = message_bytes(size, subject)
        key = f"{time.time_ns()}.P{os.getpid()}Q{next(_numbers)}.corvina-e2e"
        temporary = self.maildir / "tmp" / f"{key},S={len(data)},W={len(data)}"
        temporary.write_bytes(data)
        os.chown(temporary, *self._owner)
        temporary.rename(self.maildir / "new" / temporary.name)
        return key

    def delete_message(self, key):
        for path in [*self.maildir.glob(f"new/{key},*"), *self.maildir.glob(f"cur/{key},*")]:
            path.unlink()

    def listing(self):
        """Dovecot's own (unique id, size) of each message, in message order."""
        pop = self.session()
        try:
            ids = [line.split(b" ", 1)[1].decode() for line in pop.uidl()[1]]
            sizes = [int(line.split(b" ")[1]) for line in pop.list()[1]]
        finally:
            pop.quit()
        return list(zip(ids, sizes))

    def uidl(self):
        return [uid for uid, _ in self.listing()]


# The scripted POP3 server: a small correct server unless a Behaviour says
# otherwise; it keeps every line it receives exactly as sent.

@dataclass(frozen=True)
class Action:
    data: bytes = b""  # sent first
    close: bool = False  # then the server closes the connection
    silent: bool = False  # then it answers nothing more, but keeps reading


CLOSE, SILENT = Action(close=True), Action(silent=True)
TIME_STAMP = b"<1896.697170952@corvina.test>"


def reply(*lines):
    return Action(data=b"".join(line + b"\r\n" for line in lines))


def raw(data, close=False):
    return Action(data=data, close=close)


@dataclass
class Behaviour:
    """greeting: the first line, or an Action; messages: their sizes; uids:
    their ids (default uid-1, ...); faults: command word -> Action, used
    instead of the normal answer."""
    greeting: object = b"+OK corvina test server ready " + TIME_STAMP
    messages: tuple = (1000,)
    uids: tuple = None
    faults: dict = field(default_factory=dict)


@dataclass
class Connection:
    accepted_at: float
    lines: list = field(default_factory=list)
    closed_by: str = None


class ScriptedPop3:
    """On port 110 of a loopback address of its own (127.0.0.2 and up)."""

    def __init__(self):
        self.connections = []
        self._behaviours = [Behaviour()]
        self._listener = socket.socket()
        for last in range(2, 255):
            try:
                self._listener.bind((f"127.0.0.{last}", PORT))
                break
            except OSError:
                continue
        self.address = self._listener.getsockname()
        self._listener.listen()
        threading.Thread(target=self._accept, daemon=True).start()

    def play(self, *behaviours):
        """Connection i gets behaviours[i]; the last serves every later one."""
        self._behaviours = list(behaviours)

    def connection(self, number, timeout=10):
        return wait_for(lambda: self.connections[number:], timeout=timeout,
                        what=f"connection {number}")[0]

    def close(self):
        self._listener.close()

    def _accept(self):
        while True:
            try:
                sock, _ = self._listener.accept()
            except OSError:
                return
            connection = Connection(time.monotonic())
            behaviour = self._behaviours[min(len(self.connections), len(self._behaviours) - 1)]
            self.connections.append(connection)
            threading.Thread(target=self._serve, args=(sock, connection, behaviour),
                             daemon=True).start()

    def _serve(self, sock, connection, behaviour):
        def act(action):
            sock.sendall(action.data)
            if action.close:
                connection.closed_by = "server"
            return "closed" if action.close else "silent" if action.silent else "on"
        with sock:
            greeting = behaviour.greeting
            if isinstance(greeting, Action):
                state, stamp = act(greeting), None
            else:
                sock.sendall(greeting + b"\r\n")
                state, stamp = "on", (re.findall(rb"<[^>]*>", greeting) or [None])[0]
            user, logged_in, pending = None, False, b""
            while state != "closed":
                chunk = sock.recv(65536)
                if not chunk:
                    if pending:
                        connection.lines.append(pending)
                    connection.closed_by = connection.closed_by or "client"
                    return
                pending += chunk
                while b"\n" in pending and state != "closed":
                    line, pending = pending.split(b"\n", 1)
                    connection.lines.append(line + b"\n")
                    if state == "silent":
                        continue
                    words = line.rstrip(b"\r").split() or [b""]
                    verb = words[0].upper().decode("latin-1")
                    if verb in behaviour.faults:
                        state = act(behaviour.faults[verb])
                        continue
                    sizes = behaviour.messages
                    uids = behaviour.uids or [b"uid-%d" % (i + 1) for i in range(len(sizes))]
                    if verb == "USER":
                        user, answer = words[1:], b"+OK"
                    elif verb in ("PASS", "APOP"):
                        digest = hashlib.md5((stamp or b"") + b"secret").hexdigest().encode()
                        logged_in = (user, words[1:]) == ([b"alice"], [b"secret"]) or (
                            verb == "APOP" and stamp and words[1:] == [b"alice", digest])
                        answer = b"+OK logged in" if logged_in else b"-ERR [AUTH] invalid password"
                    elif verb == "QUIT":
                        sock.sendall(b"+OK bye\r\n")
                        connection.closed_by, state = "server", "closed"
                        continue
                    elif not logged_in:
                        answer = b"-ERR not logged in"
                    elif verb == "STAT":
                        answer = b"+OK %d %d" % (len(sizes), sum(sizes))
                    elif verb in ("LIST", "UIDL"):
                        values = [b"%d" % s for s in sizes] if verb == "LIST" else uids
                        answer = b"\r\n".join([b"+OK"] + [b"%d %s" % (i + 1, v)
                                                          for i, v in enumerate(values)] + [b"."])
                    else:
                        answer = b"-ERR unknown command"
                    sock.sendall(answer + b"\r\n")


# The desktop: a fresh Wine prefix, Xvfb on a display no one has claimed,
# and the probe, which owns the task bar that Wine's shell32 reports to.

def _template():
    """The prefix every test copies: made once, with Wine's virtual desktop
    (there Wine manages the windows as Windows does)."""
    path = WORK / "prefix-template"
    with open(WORK / "prefix-template.guard", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (path / ".e2e-desktop").exists():
            for key, name, value in (("Explorer", "Desktop", "Default"),
                                     ("Explorer\\Desktops", "Default", "1024x768")):
                subprocess.run([WINE_RUN, str(path), "reg", "add", f"HKCU\\Software\\Wine\\{key}",
                                "/v", name, "/d", value, "/f"], check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            stop_wine(path)  # its registry written out before it is copied
            (path / ".e2e-desktop").touch()
    return path


def stop_wine(prefix):
    """Ends every process of our prefix and its server, and removes the
    server's folder (Debian's Wine: /tmp/<name>/server-<dev>-<inode>)."""
    env = dict(os.environ, WINEPREFIX=str(prefix))
    for _ in range(3):  # a program still starting escapes one kill
        subprocess.run([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
        try:
            subprocess.run([WINESERVER, "-w"], env=env, stderr=subprocess.DEVNULL, timeout=10)
            break
        except subprocess.TimeoutExpired:
            pass
    else:
        raise RuntimeError(f"the Wine server of {prefix} did not end")
    try:
        folder = Path("/tmp", (prefix / "wineserver").read_text().strip())
        shutil.rmtree(folder / f"server-{prefix.stat().st_dev:x}-{prefix.stat().st_ino:x}")
        folder.rmdir()  # unless another prefix's server lives there too
    except OSError:
        pass


def start_xvfb(log):
    """Xvfb claims a display by making its lock file, which fails when another
    server was first: then the next free number is tried. It writes the number
    and its line end in two writes, and dies if the pipe closes in between."""
    for number in range(70, 270):
        if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
            continue
        read_end, write_end = os.pipe()
        process = subprocess.Popen(["Xvfb", f":{number}", "-displayfd", str(write_end), "-screen",
                                    "0", SCREEN, "-nolisten", "tcp"], pass_fds=[write_end],
                                   stdout=log, stderr=log)
        os.close(write_end)
        ready = b""
        while not ready.endswith(b"\n") and select.select([read_end], [], [], START_SECONDS)[0]:
            chunk = os.read(read_end, 64)
            if not chunk:
                break
            ready += chunk
        os.close(read_end)
        if ready.endswith(b"\n"):
            return process, f":{number}"
        process.kill()
        process.wait()
    raise RuntimeError("no display for Xvfb")


class Probe:
    """One command line out, one JSON line back; every call answers at once."""

    def __init__(self, process):
        self._process, self._pending = process, b""
        self.ready = self._read(START_SECONDS)
        if not self.ready.get("ready"):
            raise RuntimeError(f"the probe did not start: {self.ready}")

    def _read(self, timeout):
        fd = self._process.stdout.fileno()
        while b"\n" not in self._pending:
            if not select.select([fd], [], [], timeout)[0]:
                raise RuntimeError(f"the probe gave no answer within {timeout} s")
            chunk = os.read(fd, 1 << 16)
            if not chunk:
                raise RuntimeError(f"the probe ended ({self._process.poll()})")
            self._pending += chunk
        line, self._pending = self._pending.split(b"\n", 1)
        return json.loads(line)

    def call(self, *words):
        line = " ".join(map(str, words))
        self._process.stdin.write(line.encode() + b"\n")
        self._process.stdin.flush()
        answer = self._read(30)
        if not answer.pop("ok"):
            raise RuntimeError(f"{line}: {answer.get('error')}")
        return answer

    def __getattr__(self, verb):  # probe.popup() is probe.call("popup")
        return lambda *words: self.call(verb, *words)

    def icon(self):
        """The program's icon: the one present, else the last that was."""
        icons = [i for i in self.call("state")["icons"] if i["owner_class"] == "corvinaClass"]
        return ([i for i in icons if i["present"]] or icons or [None])[-1]

    def dialogs(self):
        return self.call("dialogs")["dialogs"]

    def message_boxes(self):
        boxes = []
        for dialog in self.dialogs():
            texts = [c["text"] for c in dialog["controls"] if c["class"] == "Static" and c["text"]]
            if dialog["visible"] and texts and any(c["class"] == "Button"
                                                   for c in dialog["controls"]):
                boxes.append({"hwnd": dialog["hwnd"], "caption": dialog["caption"],
                              "text": "\n".join(texts)})
        return boxes

    def click_icon(self, message=WM_LBUTTONUP):
        return self.call("tray_notify", message)

    def load_exe(self, path):
        return self.call("load_exe", windows_path(path))


class Corvina:
    """corvina.exe in a folder of its own, with its INI file and uidl.txt beside it."""

    def __init__(self, desktop, folder):
        self.desktop, self.folder = desktop, folder
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        self.exe = folder / "corvina.exe"
        shutil.copy2(os.environ["CORVINA_EXE"], self.exe)
        self.default_ini, self.uidl_file = folder / "corvina.ini", folder / "uidl.txt"

    def write_ini(self, settings):
        self.default_ini.write_bytes(ini_bytes(settings))
        return self.default_ini

    def start(self, ini=None, args=()):
        """With /I<path>: the path follows the option's letter at once."""
        arguments = (["/I" + windows_path(ini)] if ini else []) + list(args)
        self.process = self.desktop.start(self.exe, *arguments, log="corvina")

    def ini_entries(self):
        """The CONFIG section's (key, value) lines in file order."""
        text = self.default_ini.read_bytes().decode("cp932").split("[CONFIG]\r\n", 1)[1]
        return [tuple(line.split("=", 1)) for line in text.split("\r\n") if "=" in line]

    def uidl_lines(self):
        if not self.uidl_file.exists():
            return None
        return self.uidl_file.read_bytes().decode("latin-1").splitlines()

    def wait_exit(self, timeout=10):
        return self.process.wait(timeout)


class Desktop:
    def __init__(self, folder):
        self.folder, self.prefix, self._processes, self._shots = folder, folder / "prefix", [], 0
        template = _template()
        shutil.rmtree(self.prefix, ignore_errors=True)
        # Hard links are quick; the registry files are copied, as Wine replaces them.
        shutil.copytree(template, self.prefix, symlinks=True, ignore=shutil.ignore_patterns(
            "wineserver"), copy_function=lambda s, t: (shutil.copy2 if s.endswith(".reg")
                                                       else os.link)(s, t))
        with open(folder / "xvfb.log", "ab") as log:
            self._xvfb, self.display = start_xvfb(log)
        try:
            self.probe = Probe(self.start(os.environ["TRAYPROBE_EXE"], log="probe",
                                          stdin=subprocess.PIPE, stdout=subprocess.PIPE))
        except BaseException:
            self.close()
            raise

    def close(self):
        stop_wine(self.prefix)
        for process in self._processes:
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self._xvfb.terminate()
        self._xvfb.wait()

    def start(self, program, *args, log, stdin=subprocess.DEVNULL, stdout=None):
        env = dict(os.environ, DISPLAY=self.display)
        with open(self.folder / f"{log}.log", "ab") as log_file:
            process = subprocess.Popen([WINE_RUN, str(self.prefix), str(program), *map(str, args)],
                                       stdin=stdin, stdout=stdout or log_file, stderr=log_file,
                                       env=env)
        self._processes.append(process)
        return process

    def corvina(self, name="program"):
        return Corvina(self, self.folder / name)

    def grab(self, name=None):
        """The screen as a PNG: numbered ones are kept for a person."""
        if name:
            self._shots += 1
        path = self.folder / (f"{self._shots:02d}-{name}.png" if name else "grab.png")
        subprocess.run(["import", "-window", "root", "-display", self.display, str(path)],
                       check=True, stderr=subprocess.DEVNULL)
        return path

    def xdotool(self, *args):
        """Real input through the X server: Wine takes it as a person's."""
        subprocess.run(["xdotool", *map(str, args)], env=dict(os.environ, DISPLAY=self.display),
                       check=True, timeout=15, stdout=subprocess.DEVNULL)

    _last_click = (0.0, 0, 0)

    def click(self, x, y):
        """A single click: a second one at the same spot waits out the
        double-click time, as a person's would."""
        at, last_x, last_y = self._last_click
        if abs(x - last_x) <= 4 and abs(y - last_y) <= 4:
            time.sleep(max(0.0, at + 0.6 - time.monotonic()))
        self.xdotool("mousemove", x, y, "click", 1)
        self._last_click = (time.monotonic(), x, y)

    def click_centre(self, rect):
        self.click((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)

    def key(self, *names):
        self.xdotool("key", "--delay", 20, *names)

    def type(self, text):
        self.xdotool("type", "--delay", 20, "--", text)


def region(png, rect):
    """The pixels of rect (left, top, right, bottom) as rows of (r, g, b)."""
    width, height = rect[2] - rect[0], rect[3] - rect[1]
    data = subprocess.run(["convert", str(png), "-crop", f"{width}x{height}+{rect[0]}+{rect[1]}",
                           "+repage", "-depth", "8", "rgb:-"], capture_output=True,
                          check=True).stdout
    return [[tuple(data[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
            for y in range(height)]


def count(pixels, rgb):
    return sum(row.count(rgb) for row in pixels)


# Steps the tests share.

def dovecot_settings(mailbox, **extra):
    return dict(QUICK, SERVER=HOST, ACCOUNT=mailbox.name,
                PASSWORD=encode_password(mailbox.password)) | extra


def scripted_settings(pop3, **extra):
    """The scripted server's user is alice, with the password secret."""
    return dict(QUICK, SERVER=pop3.address[0], ACCOUNT="alice",
                PASSWORD=encode_password("secret")) | extra


def start(desktop, settings, args=(), name="program"):
    """A fresh copy of corvina with these settings, its icon in the tray."""
    app = desktop.corvina(name)
    desktop.probe.load_exe(app.exe)
    app.start(app.write_ini(settings), args)
    wait_for(desktop.probe.icon, lambda icon: icon and icon["present"], timeout=20,
             what="corvina's tray icon")
    return app


def tray_shows(probe, tip, icon=None, timeout=20):
    return wait_for(probe.icon, lambda i: i and i["tip"] == tip and icon in (None, i["icon"]),
                    timeout=timeout, what=f"tip {tip!r}, icon {icon}")


def check_ends_with(probe, tip, icon=None, timeout=20):
    """Asks for a check and waits for it to start and end with this tip."""
    since = probe.state()["seq"]
    probe.command(IDM_CHECK)
    wait_for(lambda: probe.events(since)["events"],
             lambda events: any((e["tip"], e["icon"]) == ("サーバーとの通信中...", CHECK)
                                for e in events),
             timeout=timeout, what="the check to start")
    return tray_shows(probe, tip, icon, timeout)


def popup_on_screen(popup):
    """Shown: visible, not minimised, inside the work area (it waits off the
    screen between announcements)."""
    if not popup.get("visible") or popup["iconic"]:
        return False
    rect, area = popup["rect"], popup["work_area"]
    return area[0] <= rect[0] and area[1] <= rect[1] and rect[2] <= area[2] and rect[3] <= area[3]


def popup_put_away(popup):
    return not popup.get("visible") or popup["iconic"]


# The settings sheet as a person uses it: tabs and controls clicked, text
# typed. Each page numbers its controls on its own, so a control is named by
# its tab and id; the sheet's own buttons (OK, Cancel) by id alone.

CAPTION = "corvina のプロパティ"
TABS = ["動作設定", "アカウント設定", "通信設定", "アイコン設定", "About"]
NOTIFY, ACCOUNT, TIMING, ICONS, ABOUT = range(5)
OK, CANCEL = 1, 2
TEST_BUTTON, SERVER, USER, PASSWORD, USEAPOP, USEUIDL, LOG = (
    1000, 1004, 1021, 1022, 1023, 1007, 1027)
ACCOUNT_INPUTS = (SERVER, USER, PASSWORD, USEAPOP, USEUIDL)
USE_POPUP, POSITION, SAMPLE, USE_BALLOON, AUTO_CLOSE, AUTO_CLOSE_TIME, MAILER, STARTUP = (
    1007, 1039, 1029, 1030, 1040, 1041, 1005, 1020)
SOUND_TEST = 1017
INTERVAL, STARTUP_WAIT, RETRY_MAX, RETRY_INTERVAL, DEFAULTS, STOP_IF_MSG = (
    1008, 1024, 1025, 1006, 1000, 1026)


def find_sheet(probe):
    sheets = [d for d in probe.dialogs() if d["caption"] == CAPTION and d["visible"]]
    return sheets[0] if sheets else None


def open_from_menu(desktop):
    """Right-click on the tray icon, "設定" in its menu: the sheet."""
    desktop.probe.click_icon(WM_RBUTTONUP)
    wait_for(desktop.probe.menu, lambda menu: menu["open"], what="the tray menu")
    desktop.probe.menu_choose(IDM_SETTINGS)
    return Sheet(desktop)


class Sheet:
    def __init__(self, desktop):
        self.desktop, self.probe = desktop, desktop.probe
        self.hwnd = wait_for(lambda: find_sheet(self.probe), timeout=20,
                             what="the settings sheet")["hwnd"]
        self.pages = {self.tabs()["current"]: wait_for(self._page, what="the first page")}

    def record(self):
        return next(d for d in self.probe.dialogs() if d["hwnd"] == self.hwnd)

    def tabs(self):
        return self.probe.tabs(self.hwnd)

    def _page(self):
        pages = [c["hwnd"] for c in self.record()["controls"]
                 if c["class"] == "#32770" and c["parent"] == self.hwnd and c["visible"]]
        return pages[0] if len(pages) == 1 else None

    def show(self, tab):
        self.desktop.click_centre(self.tabs()["items"][tab]["rect"])
        wait_for(lambda: self.tabs()["current"] == tab, what=f"tab {TABS[tab]}")
        self.pages[tab] = wait_for(self._page, what=f"the page of {TABS[tab]}")

    def controls(self, tab=None):
        parent = self.hwnd if tab is None else self.pages[tab]
        return [c for c in self.record()["controls"] if c["parent"] == parent]

    def control(self, id, tab=None):
        found = [c for c in self.controls(tab) if c["id"] == id]
        assert len(found) == 1, f"{len(found)} controls {id} on tab {tab}"
        return found[0]

    def text(self, id, tab=None):
        return self.control(id, tab)["text"]

    def click(self, id, tab=None):
        self.desktop.click_centre(self.control(id, tab)["rect"])

    def focus_on(self, id, tab):
        target = self.control(id, tab)["hwnd"]
        self.click(id, tab)
        wait_for(lambda: self.probe.focus()["focus"]["hwnd"] == target, what=f"focus in {id}")

    def type_into(self, id, tab, text):
        """Replaces the edit's text as typed; the focus stays in it."""
        self.focus_on(id, tab)
        self.desktop.key("End", "shift+Home", "BackSpace")
        if text:
            self.desktop.type(text)

    def enter(self, id, tab, text):
        """Types into the edit and leaves it with Tab, as a person fills a form."""
        self.type_into(id, tab, text)
        self.desktop.key("Tab")
        edit = self.control(id, tab)["hwnd"]
        wait_for(lambda: self.probe.focus()["focus"]["hwnd"] != edit, what=f"focus to leave {id}")

    def wait_text(self, id, tab, condition, what, timeout=10):
        return wait_for(lambda: self.text(id, tab), condition, timeout=timeout, what=what)

    def close(self, button, key=None):
        """Clicks OK or Cancel (or presses key); waits until the program is done:
        it sets the tool tip "corvina" after the INI file is written."""
        since = self.probe.state()["seq"]
        self.desktop.key(key) if key else self.click(button)
        wait_for(lambda: find_sheet(self.probe) is None, timeout=20, what="the sheet to close")
        wait_for(lambda: self.probe.events(since)["events"],
                 lambda events: any(e["flags"] & 4 and e["tip"] == "corvina" for e in events),
                 what="the tool tip after the settings")


def run_connection_test(sheet, patterns, timeout=20):
    """Clicks the test button; waits until the test ends with a log whose
    lines match the patterns (each test's log differs from the one before)."""
    sheet.click(TEST_BUTTON, ACCOUNT)

    def ended(state):
        button, log = state
        return button == "テスト" and len(log) == len(patterns) and all(
            re.fullmatch(p, line) for p, line in zip(patterns, log))
    return wait_for(lambda: (sheet.text(TEST_BUTTON, ACCOUNT),
                             sheet.text(LOG, ACCOUNT).split("\r\n")), ended, timeout=timeout,
                    what=f"a test whose log reads {patterns}")[1]


# The runner: each test gets fresh fixtures; a failure leaves a screenshot
# and what the probe and the scripted server saw in its folder.

def _run(module, function):
    folder = WORK / "runs" / module / function.__name__
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    made, started = {}, time.monotonic()
    try:
        wanted = inspect.signature(function).parameters
        made["case"] = type("Case", (), {"name": function.__name__, "folder": folder})
        if "desktop" in wanted:
            made["desktop"] = Desktop(folder)
        if "pop3" in wanted:
            made["pop3"] = ScriptedPop3()
        if "mailbox" in wanted:
            made["mailbox"] = Mailbox(function.__name__)
        function(**{name: made[name] for name in wanted})
        print(f"PASS {function.__name__} ({time.monotonic() - started:.1f} s)")
        return True
    except Exception:
        print(f"FAIL {function.__name__} ({time.monotonic() - started:.1f} s)")
        traceback.print_exc(file=sys.stdout)
        seen = {}
        if "desktop" in made:
            for query in ("state", "events 0", "process", "popup", "menu", "dialogs"):
                try:
                    seen[query] = made["desktop"].probe.call(*query.split())
                except Exception as error:
                    seen[query] = repr(error)
            made["desktop"].grab("failure")
        if "pop3" in made:
            seen["pop3"] = [{"closed_by": c.closed_by, "lines": [x.decode("latin-1")
                                                                 for x in c.lines]}
                            for c in made["pop3"].connections]
        (folder / "diagnostics.json").write_text(json.dumps(seen, ensure_ascii=False, indent=1))
        print(f"  diagnostics: {folder}")
        return False
    finally:
        if "desktop" in made:
            made["desktop"].close()
        if "pop3" in made:
            made["pop3"].close()


def run_module(path, only=()):
    found = importlib.util.spec_from_file_location(Path(path).stem, path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    tests = sorted((f for name, f in inspect.getmembers(module, inspect.isfunction)
                    if name.startswith("test_") and f.__module__ == module.__name__
                    and (not only or name in only)), key=lambda f: f.__code__.co_firstlineno)
    results = [_run(Path(path).stem, test) for test in tests]
    print(f"{Path(path).stem}: {sum(results)} passed, {len(results) - sum(results)} failed")
    return 0 if tests and all(results) else 1


def setup():
    teardown()  # ours, left by an aborted run
    namespace = os.environ["E2E_NETNS"]
    subprocess.run(["ip", "netns", "add", namespace], check=True)
    subprocess.run(["ip", "-n", namespace, "link", "set", "lo", "up"], check=True)
    return subprocess.run(["ip", "netns", "exec", namespace, sys.executable, "-m", "harness",
                           "dovecot"]).returncode


def teardown():
    stop_dovecot()
    subprocess.run(["ip", "netns", "delete", os.environ["E2E_NETNS"]], stderr=subprocess.DEVNULL)
    return 0


if __name__ == "__main__":
    sys.modules["harness"] = sys.modules["__main__"]  # one copy for the tests to import
    WORK.mkdir(parents=True, exist_ok=True)
    verbs = {"setup": setup, "teardown": teardown, "dovecot": start_dovecot}
    if sys.argv[1] in verbs:
        sys.exit(verbs[sys.argv[1]]() or 0)
    sys.exit(run_module(sys.argv[1], sys.argv[2:]))
