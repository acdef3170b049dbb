"""A scripted POP3 server for what a real server will not do on demand.

It answers like a small, correct server by default, and a Behaviour changes
that: a greeting with or without a time stamp or none at all, a chosen
reply to any command, closing the connection at any point, a line longer
than the program accepts, replies dribbled one byte at a time, any number of
messages. Every byte it receives is kept, line by line, exactly as sent.

    server = ScriptedPop3(slot.address)
    server.play(Behaviour(faults={"STAT": CLOSE}), Behaviour())  # first, then every later connection
    with server:
        ...
        assert server.connection(0).lines == [b"USER alice\\r\\n", ...]
"""
import hashlib
import os
import re
import selectors
import socket
import struct
import threading
import time
from dataclasses import dataclass, field

from .waiting import wait_for


@dataclass(frozen=True)
class Action:
    """What the server does instead of its normal answer."""
    data: bytes = b""  # sent first
    close: bool = False  # then the server closes the connection
    silent: bool = False  # then it answers nothing more, but keeps reading
    reset: bool = False  # then it aborts the connection: the client sees a reset


CLOSE = Action(close=True)
SILENT = Action(silent=True)
RESET = Action(close=True, reset=True)


def reply(*lines):
    """Sends the given lines, each with CR LF."""
    return Action(data=b"".join(line + b"\r\n" for line in lines))


def raw(data, close=False):
    """Sends exactly these bytes."""
    return Action(data=data, close=close)


def long_line(length, start=b"+OK "):
    """A reply line of `length` bytes including its CR LF."""
    return raw(start + b"x" * (length - len(start) - 2) + b"\r\n")


TIME_STAMP = b"<1896.697170952@corvina.test>"


@dataclass
class Behaviour:
    """How the server acts on one connection.

    greeting: the first line, or an Action (CLOSE, SILENT, raw(...)).
    messages: the sizes of the mailbox's messages; uids: their unique ids
    (default "uid-1", "uid-2", ...). faults: command word -> Action, used
    instead of the normal answer every time that command comes.
    dribble: every byte of every answer is sent on its own.
    """
    greeting: object = b"+OK corvina test server ready " + TIME_STAMP
    user: bytes = b"alice"
    password: bytes = b"secret"
    messages: tuple = (1000,)
    uids: tuple = None
    faults: dict = field(default_factory=dict)
    dribble: bool = False

    def uid(self, index):
        return self.uids[index] if self.uids else b"uid-%d" % (index + 1)


@dataclass
class Line:
    at: float  # time.monotonic() when the line's last byte arrived
    data: bytes


class Connection:
    def __init__(self, number, accepted_at):
        self.number = number
        self.accepted_at = accepted_at
        self.received = []  # Line, every line exactly as sent, CR LF included
        self.closed_by = None  # "client" or "server"

    @property
    def lines(self):
        return [line.data for line in self.received]


class ScriptedPop3:
    def __init__(self, host, port=110):
        self.address = (host, port)
        self.connections = []
        self._behaviours = [Behaviour()]
        self._lock = threading.Lock()
        self._threads = []
        self._sockets = []
        self._listener = None
        self._wake = None

    def connection(self, number, timeout=10):
        """Connection `number` (0 for the first), waiting until it has come."""
        return wait_for(lambda: self.connections[number:], timeout=timeout,
                        what=f"connection {number} to the scripted server")[0]

    def play(self, *behaviours):
        """Connection i gets behaviours[i]; the last one serves every later connection."""
        self._behaviours = list(behaviours)

    def __enter__(self):
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind(self.address)
        self._listener.listen()
        self._wake = os.pipe()
        self._start(self._accept_loop)
        return self

    def __exit__(self, *exc):
        os.write(self._wake[1], b"x")
        with self._lock:
            for connection in self._sockets:
                try:
                    connection.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        for thread in self._threads:
            thread.join()
        self._listener.close()
        for end in self._wake:
            os.close(end)
        return False

    def _start(self, target, *args):
        thread = threading.Thread(target=target, args=args, daemon=True)
        self._threads.append(thread)
        thread.start()

    def _accept_loop(self):
        selector = selectors.DefaultSelector()
        selector.register(self._listener, selectors.EVENT_READ)
        selector.register(self._wake[0], selectors.EVENT_READ)
        while True:
            for key, _ in selector.select():
                if key.fileobj is not self._listener:
                    selector.close()
                    return
                sock, _ = self._listener.accept()
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                with self._lock:
                    connection = Connection(len(self.connections), time.monotonic())
                    self.connections.append(connection)
                    self._sockets.append(sock)
                    behaviour = self._behaviours[min(connection.number,
                                                     len(self._behaviours) - 1)]
                self._start(_Session(sock, connection, behaviour).run)


class _Session:
    """One connection: greets, then reads lines and answers each."""

    def __init__(self, sock, connection, behaviour):
        self.sock = sock
        self.connection = connection
        self.behaviour = behaviour
        self.user = None
        self.logged_in = False
        self.time_stamp = None
        self.answering = True
        self.commands = {"USER": self._user, "PASS": self._pass, "APOP": self._apop,
                         "STAT": self._stat, "LIST": self._list, "UIDL": self._uidl,
                         "QUIT": self._quit}

    def run(self):
        try:
            if self._greet():
                self._read_lines()
        except OSError:
            pass
        finally:
            self.sock.close()

    def _send(self, data):
        if self.behaviour.dribble:
            for i in range(len(data)):
                self.sock.sendall(data[i:i + 1])
                time.sleep(0.001)  # so that each byte leaves in a packet of its own
        else:
            self.sock.sendall(data)

    def _act(self, action):
        """Carries out an Action; returns whether to keep the connection."""
        self._send(action.data)
        if action.reset:
            # A zero linger time makes close() send RST instead of FIN.
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        if action.close:
            self.connection.closed_by = "server"
            return False
        if action.silent:
            self.answering = False
        return True

    def _greet(self):
        greeting = self.behaviour.greeting
        if isinstance(greeting, Action):
            return self._act(greeting)
        match = re.search(rb"<[^>]*>", greeting)
        self.time_stamp = match.group(0) if match else None
        self._send(greeting + b"\r\n")
        return True

    def _read_lines(self):
        pending = b""
        while True:
            chunk = self.sock.recv(65536)
            if not chunk:
                if pending:
                    self.connection.received.append(Line(time.monotonic(), pending))
                if self.connection.closed_by is None:
                    self.connection.closed_by = "client"
                return
            pending += chunk
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                self.connection.received.append(Line(time.monotonic(), line + b"\n"))
                if self.answering and not self._answer(line.rstrip(b"\r")):
                    return

    def _answer(self, line):
        """Answers one command line; returns whether to go on."""
        words = line.split() or [b""]
        verb = words[0].upper().decode("latin-1")
        fault = self.behaviour.faults.get(verb)
        if fault is not None:
            return self._act(fault)
        handler = self.commands.get(verb)
        if handler is None:
            self._send(b"-ERR unknown command\r\n")
            return True
        return handler(words[1:])

    def _user(self, args):
        self.user = b" ".join(args)
        self._send(b"+OK\r\n")
        return True

    def _pass(self, args):
        self.logged_in = (self.user == self.behaviour.user and
                          b" ".join(args) == self.behaviour.password)
        self._send(b"+OK logged in\r\n" if self.logged_in else b"-ERR [AUTH] invalid password\r\n")
        return True

    def _apop(self, args):
        expected = hashlib.md5((self.time_stamp or b"") + self.behaviour.password).hexdigest()
        self.logged_in = (self.time_stamp is not None and len(args) == 2 and
                          args[0] == self.behaviour.user and args[1] == expected.encode())
        self._send(b"+OK logged in\r\n" if self.logged_in else b"-ERR [AUTH] invalid digest\r\n")
        return True

    def _listing(self, args, value):
        """STAT-like answers for LIST and UIDL: one line for an argument, else all."""
        messages = self.behaviour.messages
        if not self.logged_in:
            self._send(b"-ERR not logged in\r\n")
        elif args:
            number = int(args[0]) if args[0].isdigit() else 0
            if 1 <= number <= len(messages):
                self._send(b"+OK %d %s\r\n" % (number, value(number - 1)))
            else:
                self._send(b"-ERR no such message\r\n")
        else:
            lines = [b"+OK %d messages" % len(messages)]
            lines += [b"%d %s" % (i + 1, value(i)) for i in range(len(messages))]
            self._send(b"".join(line + b"\r\n" for line in lines) + b".\r\n")
        return True

    def _stat(self, args):
        if not self.logged_in:
            self._send(b"-ERR not logged in\r\n")
        else:
            messages = self.behaviour.messages
            self._send(b"+OK %d %d\r\n" % (len(messages), sum(messages)))
        return True

    def _list(self, args):
        return self._listing(args, lambda i: b"%d" % self.behaviour.messages[i])

    def _uidl(self, args):
        return self._listing(args, self.behaviour.uid)

    def _quit(self, args):
        self._send(b"+OK bye\r\n")
        self.connection.closed_by = "server"
        return False
