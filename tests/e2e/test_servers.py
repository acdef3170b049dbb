"""The test servers themselves.

Dovecot must log in both ways the program does and report what a test put
into the maildir; the scripted server must answer as scripted and keep
every byte it receives, or the program's tests would prove nothing.
"""
import hashlib
import poplib
import re
import select
import socket

from harness import CLOSE, SILENT, Behaviour, long_line, reply, wait_for
from harness.pop3_script import TIME_STAMP


def test_dovecot_logs_in_with_apop_and_with_user_and_pass(mailbox):
    pop = poplib.POP3("127.0.0.1", 110, timeout=10)
    assert re.search(rb"<[^>]+@[^>]+>", pop.getwelcome()), pop.getwelcome()
    assert pop.apop(mailbox.name, mailbox.password).startswith(b"+OK")
    pop.quit()
    mailbox.session().quit()  # USER and PASS

    for log_in in (lambda pop: pop.apop(mailbox.name, "wrong"),
                   lambda pop: (pop.user(mailbox.name), pop.pass_("wrong"))):
        pop = poplib.POP3("127.0.0.1", 110, timeout=10)
        try:
            log_in(pop)
            raise AssertionError("a wrong password was accepted")
        except poplib.error_proto:
            pass
        finally:
            pop.close()


def test_dovecot_reports_the_maildir_and_keeps_ids_with_their_messages(mailbox):
    sizes = (300, 1234, 5000)
    keys = {size: mailbox.add_message(size) for size in sizes}
    assert mailbox.stat() == (3, sum(sizes))

    pop = mailbox.session()
    listed = [int(line.split()[1]) for line in pop.list()[1]]
    uid_by_size = dict(zip(listed, mailbox.uidl()))
    pop.quit()
    assert sorted(listed) == list(sizes)
    assert len(set(uid_by_size.values())) == 3

    mailbox.delete_message(keys[1234])
    assert sorted(mailbox.uidl()) == sorted([uid_by_size[300], uid_by_size[5000]])
    mailbox.add_message(777)
    assert len(set(mailbox.uidl()) - set(uid_by_size.values())) == 1


class Client:
    """A raw POP3 client that sees every byte and every close."""

    def __init__(self, address):
        self.sock = socket.create_connection((address, 110), timeout=10)
        self.pending = b""

    def line(self):
        """The next line with its CR LF, or what came before the server closed."""
        while b"\n" not in self.pending:
            chunk = self.sock.recv(65536)
            if not chunk:
                line, self.pending = self.pending, b""
                return line
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line + b"\n"

    def command(self, text):
        self.sock.sendall(text)
        return self.line()

    def nothing_within(self, seconds):
        return not select.select([self.sock], [], [], seconds)[0]


def test_scripted_server_records_every_byte_as_sent(pop3):
    client = Client(pop3.address[0])
    assert client.line() == b"+OK corvina test server ready " + TIME_STAMP + b"\r\n"
    sent = [b"USER alice\r\n", b"PASS secret\r\n", b"STAT\r\n", b"list  1\n", b"QUIT\r\n"]
    answers = [client.command(line) for line in sent]
    assert answers == [b"+OK\r\n", b"+OK logged in\r\n", b"+OK 1 1000\r\n", b"+OK 1 1000\r\n",
                       b"+OK bye\r\n"]
    assert client.line() == b""
    connection = wait_for(lambda: pop3.connection(0), lambda c: c.closed_by,
                          what="the connection to end")
    assert connection.lines == sent
    assert connection.closed_by == "server"


def test_scripted_server_checks_the_apop_digest_against_its_time_stamp(pop3):
    for digest, answer in ((hashlib.md5(TIME_STAMP + b"secret").hexdigest(), b"+OK"),
                           (hashlib.md5(b"<other@host>secret").hexdigest(), b"-ERR")):
        client = Client(pop3.address[0])
        client.line()
        assert client.command(b"APOP alice " + digest.encode() + b"\r\n").startswith(answer)


def test_scripted_server_gives_each_connection_its_behaviour(pop3):
    pop3.play(Behaviour(greeting=b"+OK first"), Behaviour(greeting=b"+OK later"))
    greetings = [Client(pop3.address[0]).line() for _ in range(3)]
    assert greetings == [b"+OK first\r\n", b"+OK later\r\n", b"+OK later\r\n"]


def _logged_in(client):
    client.line()
    client.command(b"USER alice\r\n")
    client.command(b"PASS secret\r\n")


def test_scripted_server_faults(pop3):
    # behaviour, what the client does, what it must see
    table = [
        (Behaviour(greeting=b"+OK no stamp here"),
         lambda c: c.line(), b"+OK no stamp here\r\n"),
        (Behaviour(greeting=CLOSE), lambda c: c.line(), b""),
        (Behaviour(faults={"PASS": reply(b"-ERR locked")}),
         lambda c: (c.line(), c.command(b"USER alice\r\n"), c.command(b"PASS secret\r\n"))[-1],
         b"-ERR locked\r\n"),
        (Behaviour(faults={"STAT": CLOSE}),
         lambda c: (_logged_in(c), c.command(b"STAT\r\n"))[-1], b""),
        (Behaviour(faults={"QUIT": CLOSE}),
         lambda c: (c.line(), c.command(b"QUIT\r\n"))[-1], b""),
        (Behaviour(faults={"UIDL": long_line(9000)}),
         lambda c: len((_logged_in(c), c.command(b"UIDL\r\n"))[-1]), 9000),
        (Behaviour(messages=(100,) * 5001),
         lambda c: (_logged_in(c), c.command(b"STAT\r\n"))[-1], b"+OK 5001 500100\r\n"),
        (Behaviour(messages=(100,) * 5001),
         lambda c: (_logged_in(c), c.sock.sendall(b"LIST\r\n"),
                    [c.line() for _ in range(5003)])[-1][-2:],
         [b"5001 100\r\n", b".\r\n"]),
        (Behaviour(dribble=True),
         lambda c: (c.line(), c.command(b"USER alice\r\n"))[-1], b"+OK\r\n"),
    ]
    for row, (behaviour, act, expected) in enumerate(table):
        pop3.play(behaviour)
        seen = act(Client(pop3.address[0]))
        assert seen == expected, f"row {row}: saw {seen!r}, expected {expected!r}"


def test_scripted_server_dribbles_one_byte_at_a_time(pop3):
    pop3.play(Behaviour(dribble=True))
    client = Client(pop3.address[0])
    first = client.sock.recv(65536)
    assert len(first) < len(b"+OK corvina test server ready ") + len(TIME_STAMP), first


def test_scripted_server_keeps_silent_and_still_records(pop3):
    pop3.play(Behaviour(greeting=SILENT))
    client = Client(pop3.address[0])
    client.sock.sendall(b"USER alice\r\n")
    wait_for(lambda: pop3.connection(0).lines, what="the command to be recorded")
    assert client.nothing_within(0.3)

    pop3.play(Behaviour(faults={"LIST": SILENT}))
    client = Client(pop3.address[0])
    _logged_in(client)
    client.sock.sendall(b"LIST\r\nQUIT\r\nQU")
    client.sock.close()
    connection = wait_for(lambda: pop3.connection(1), lambda c: c.closed_by,
                          what="the client's close")
    assert connection.lines[-3:] == [b"LIST\r\n", b"QUIT\r\n", b"QU"]
    assert connection.closed_by == "client"
