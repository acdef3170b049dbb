"""The end-to-end harness (see README.md): python3 -m harness setup | teardown |
test_x.py [names...]. Everything listens in a network namespace of its own."""
import contextlib, datetime, fcntl, hashlib, hmac, importlib.util, inspect, ipaddress, json, os
import poplib, re, select, shutil, signal, socket, ssl, subprocess, sys, threading, time, traceback
import uuid
from dataclasses import dataclass, field
from pathlib import Path

WORK = Path(os.environ.get("E2E_WORK_DIR", "/tmp/corvina-e2e")).resolve()
CERTS, WINE_RUN, HOST, PORT = WORK / "certs", os.environ.get("WINE_RUN", ""), "127.0.0.1", 110
KEYLOG = WORK / f"keylog-{os.getpid()}"  # the TLS keys of this process's scripted servers
# Certificate revocation lists: served at the first address, never answered at the second.
CRL_SERVED, CRL_SILENT = (HOST, 8080), (HOST, 8081)
# The namespace's own hosts file (ip netns exec mounts it over /etc/hosts).
HOSTS = "127.0.0.1 localhost localhost. example.test\n"
IDM_SETTINGS, IDM_CHECK, IDM_EXIT, IDOK = 2000, 2001, 2003, 1
WM_LBUTTONUP = 0x0202
NORMAL, CHECK, ARRIVE, ERROR = "109", "106", "105", "108"  # the tray's icons
QUICK = {"STARTUP_WAIT": 0, "RETRY_MAX": 0, "USEAPOP": 0}  # the first check at once
# The stored form of the password "secret" (and of one holding CR LF), as the
# settings sheet writes it; every account here has that password.
SECRET = "EzCx92Zal7z2Sep9lnN26c/D8Cd9Fbf8be0bb42d05B06X+SSk2d6ai00n6ebmF8eef87R02zxgace0euk29"
SECRET_CRLF = ("EzCxyepi8u2x3DD0YnSDRR9Fj5ZSc80h52abm00e41dB0G9101X+0zncb3Rk9cl16CDf032wN8a1Elfra"
               "d784b/aHb2fa5f3aa7R")
INI_KEYS = [  # then SECURITY, only when not 0
    "SERVER", "ACCOUNT", "PASSWORD", "USEAPOP", "USEUIDL", "INTERVAL", "STARTUP_WAIT",
    "RETRY_MAX", "RETRY_INTERVAL", "MAILER", "USE_SOUND", "SOUND_FILE", "BACK_COLOR",
    "STOP_IF_MSG", "USE_POPUPDLG", "POPUPDLG_TEXT_COLOR", "POPUPDLG_BACK_COLOR",
    "USE_SYSTEMCOLOR", "POPUPDLG_X", "POPUPDLG_Y", "USE_BALOON", "POPUP_ICON", "NORMAL_ICON",
    "CHECK_ICON", "ARRIVE_ICON", "ERROR_ICON", "WAIT_ICON", "AUTO_POPUP_CLOSE",
    "AUTO_POPUP_CLOSE_TIME"]


def wait_for(observe, condition=bool, timeout=10.0, what="the condition"):
    """Polls observe() until condition holds; fails with the last value seen."""
    deadline = time.monotonic() + timeout
    while not condition(value := observe()):
        if time.monotonic() >= deadline:
            raise AssertionError(f"waited {timeout:g} s for {what}; last seen: {value!r}")
        time.sleep(0.05)
    return value


def holds_for(observe, condition, seconds, what):
    """For what must not happen: condition holds throughout the next seconds."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        assert condition(value := observe()), f"{what} did not hold: {value!r}"
        time.sleep(0.1)


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def make_certificates():
    """A CA the template prefix trusts, one nobody trusts, and server certificates;
    the server sends the intermediate behind a certificate issued by one."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization as form
    from cryptography.hazmat.primitives.asymmetric import rsa
    from cryptography.x509.oid import ExtendedKeyUsageOID as usage, NameOID
    now, day = datetime.datetime.now(datetime.timezone.utc), datetime.timedelta(days=1)

    def issue(name, issuer=None, names=(), first=-1, last=3650, ca=False, uses=(), crl=None,
              cn=None):
        key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
        subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, cn or name)])
        builder = x509.CertificateBuilder(issuer[1].subject if issuer else subject, subject,
                                          key.public_key(), x509.random_serial_number(),
                                          now + first * day, now + last * day)
        if ca or not issuer:
            builder = builder.add_extension(x509.BasicConstraints(True, None), True)
        if names:
            builder = builder.add_extension(x509.SubjectAlternativeName(names), False)
        if uses:
            builder = builder.add_extension(x509.ExtendedKeyUsage(uses), False)
        if crl:
            builder = builder.add_extension(x509.CRLDistributionPoints([x509.DistributionPoint(
                [x509.UniformResourceIdentifier("http://%s:%d/ca.crl" % crl)], None, None,
                None)]), False)
        cert = builder.sign(issuer[0] if issuer else key, hashes.SHA256())
        (CERTS / f"{name}.key").write_bytes(key.private_bytes(
            form.Encoding.PEM, form.PrivateFormat.PKCS8, form.NoEncryption()))
        chain = [cert] + ([issuer[1]] if issuer and len(issuer) > 2 else [])
        (CERTS / f"{name}.pem").write_bytes(b"".join(c.public_bytes(form.Encoding.PEM)
                                                     for c in chain))
        (CERTS / f"{name}.der").write_bytes(cert.public_bytes(form.Encoding.DER))
        return key, cert, "intermediate" if ca and issuer else None

    CERTS.mkdir(parents=True, exist_ok=True)
    here = [x509.DNSName("localhost"), x509.DNSName("ip6-localhost"),
            *(x509.IPAddress(ipaddress.ip_address(a)) for a in (HOST, "::1"))]
    ca = issue("ca")[:2]
    issue("good", ca, here), issue("expired", ca, here, -30, -2)
    issue("wrongname", ca, [x509.DNSName("mail.example.org")])
    issue("unknown", issue("other")[:2], here)
    for limited, uses in (("smime", [usage.EMAIL_PROTECTION]), ("clientauth", [usage.CLIENT_AUTH])):
        issue(f"{limited}-issued", issue(f"{limited}-ca", ca, ca=True, uses=uses), here)
    issue("wildcard", ca, [x509.DNSName("*.test")]), issue("wildcard-cn", ca, cn="*.test")
    issue("many", ca, [x509.DNSName(f"name{i}.example.test") for i in range(300)] + here[1:])
    revoked = issue("revoked", ca, here, crl=CRL_SERVED)[1]
    issue("unanswered", ca, here, crl=CRL_SILENT)
    (CERTS / "ca.crl").write_bytes(x509.CertificateRevocationListBuilder().issuer_name(
        ca[1].subject).last_update(now - day).next_update(now + 30 * day).add_revoked_certificate(
        x509.RevokedCertificateBuilder().serial_number(revoked.serial_number).revocation_date(
            now - day).build()).sign(ca[0], hashes.SHA256()).public_bytes(form.Encoding.DER))


def serve_crl():
    """The CA's revocation list over HTTP at CRL_SERVED; CRL_SILENT takes connections and
    never answers. Both for the life of the test process."""
    import http.server
    crl = (CERTS / "ca.crl").read_bytes()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "application/pkix-crl")
            self.send_header("Content-Length", str(len(crl)))
            self.end_headers()
            self.wfile.write(crl)

        def log_message(self, *args):
            pass
    server = http.server.ThreadingHTTPServer(CRL_SERVED, Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    silent, held = socket.create_server(CRL_SILENT), []

    def take_and_hold():
        while True:
            held.append(silent.accept())
    threading.Thread(target=take_and_hold, daemon=True).start()


def trust_reg():
    """The test CA in Wine's root store: properties 3 (its SHA-1) and 32 (itself)."""
    der = (CERTS / "ca.der").read_bytes()
    sha1 = hashlib.sha1(der).digest()
    blob = b"".join(prop.to_bytes(4, "little") + b"\1\0\0\0" + len(data).to_bytes(4, "little")
                    + data for prop, data in ((3, sha1), (32, der)))
    return (f"REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Microsoft\\SystemCertificates\\Root\\"
            f"Certificates\\{sha1.hex().upper()}]\n\"Blob\"=hex:{blob.hex(',')}\n")


def dovecot_folder():
    """Dovecot's users must reach it: every parent needs o+x (not so under /root)."""
    if all(p.stat().st_mode & 0o001 for p in [WORK, *WORK.parents]):
        return WORK / "dovecot"
    return Path(f"/tmp/corvina-e2e-dovecot-{os.environ.get('E2E_NETNS', 'demo')}")


def start_dovecot():
    folder = dovecot_folder()
    for sub in ("run", "state", "mail"):
        (folder / sub).mkdir(parents=True, exist_ok=True)
    folder.chmod(0o755), (folder / "run").chmod(0o755)
    shutil.chown(folder / "mail", "nobody", "nogroup")
    (folder / "passwd").touch(0o644)
    version = subprocess.run(["dovecot", "--version"], capture_output=True, text=True).stdout
    newer = tuple(int(n) for n in version.split(".")[:2]) >= (2, 4)  # a configuration of its own
    template = (Path(__file__).parent / f"dovecot-{'2.4' if newer else '2.3'}.conf").read_text()
    (folder / "dovecot.conf").write_text(template.replace("{host}", HOST).replace(
        "{runtime}", str(folder)).replace("{certs}", str(CERTS)))
    # The daemon must not keep CTest's output pipes open: CTest waits for them.
    subprocess.run(["dovecot", "-c", folder / "dovecot.conf"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Mailbox:
    """A Dovecot user of one test, with its maildir and the password "secret"."""

    def __init__(self, hint="user"):
        self.name = f"{re.sub(r'[^a-z0-9]+', '-', hint.lower())[:40]}-{uuid.uuid4().hex[:8]}"
        self.maildir = dovecot_folder() / "mail" / self.name
        for sub in ("", "new", "cur", "tmp"):
            (self.maildir / sub).mkdir(parents=True, exist_ok=True)
            shutil.chown(self.maildir / sub, "nobody", "nogroup")
        with open(dovecot_folder() / "passwd", "a") as passwd:
            fcntl.flock(passwd, fcntl.LOCK_EX)
            passwd.write(f"{self.name}:{{PLAIN}}secret::::::nodelay=y\n")
        wait_for(self.listing, lambda seen: seen is not None, timeout=20, what="Dovecot")

    def add_message(self, size=1000, fields=b"Subject: e2e\r\n"):
        """Delivers a message of exactly size bytes as LIST counts them, its header
        fields (bytes, CR LF each) given; returns its key."""
        head = fields + f"Message-ID: <{uuid.uuid4()}@corvina.test>\r\n\r\n".encode()
        data, key = head + b"x" * (size - len(head) - 2) + b"\r\n", uuid.uuid4().hex
        temporary = self.maildir / "tmp" / f"{key},S={len(data)},W={len(data)}"
        temporary.write_bytes(data)
        shutil.chown(temporary, "nobody", "nogroup")
        temporary.rename(self.maildir / "new" / temporary.name)
        return key

    def listing(self):
        """Dovecot's own (id, size) of each message, in order; None while it cannot log in."""
        try:
            pop = poplib.POP3(HOST, PORT, timeout=20)
            pop.user(self.name), pop.pass_("secret")
        except (poplib.error_proto, OSError):
            return None
        ids, sizes = ([line.split()[1] for line in answer[1]]
                      for answer in (pop.uidl(), pop.list()))
        pop.quit()
        return [(uid.decode(), int(size)) for uid, size in zip(ids, sizes)]

    def uidl(self):
        return [uid for uid, _ in self.listing()]


# The scripted POP3 server: a small correct server (user alice, password
# secret) unless a Behaviour says otherwise; it keeps every line it receives.

@dataclass(frozen=True)
class Action:
    data: bytes = b""  # sent first
    heard: bool = False  # the data only once the client has sent something
    close: bool = False  # then the server closes the connection
    silent: bool = False  # then it answers nothing more, but keeps reading


SILENT, TIME_STAMP = Action(silent=True), b"<1896.69717@corvina.test>"


def reply(*lines, close=False):
    return Action(b"".join(line + b"\r\n" for line in lines), close)


@dataclass
class Behaviour:
    """faults: command word -> Action instead of the answer; TLS from the first byte
    when implicit, else after STLS, step bytes per write; records: command word ->
    TLS records of our own making ("empty" application data, a "hello" request to
    renegotiate, a "close_notify") sent just before its answer, or after it when the
    word ends in "+"."""
    greeting: object = b"+OK corvina test server ready " + TIME_STAMP
    messages: tuple = (1000,)
    faults: dict = field(default_factory=dict)
    cert: str = "good"
    implicit: bool = False
    step: int = 1 << 16
    records: dict = field(default_factory=dict)
    capa: tuple = None  # CAPA's lines; without them CAPA is refused, as by an older server


@dataclass
class Connection:
    accepted_at: float
    reached: tuple  # the address the client connected to, and the client's own
    client: tuple
    lines: list = field(default_factory=list)
    closed_by: str = None
    sni: str = None
    ended: str = None  # over TLS: "close_notify" when the client answered ours, else "bare"


def p_sha256(secret, seed, size):
    """TLS 1.2's pseudo-random function with SHA-256."""
    a, out = seed, b""
    while len(out) < size:
        a = hmac.new(secret, a, hashlib.sha256).digest()
        out += hmac.new(secret, a + seed, hashlib.sha256).digest()
    return out[:size]


class Tls:
    """TLS through memory, so that the records can go out a few bytes at a time. With
    records to make, the server writes every record itself after the handshake (TLS 1.2,
    AES-128-GCM, keys from the key log), since OpenSSL makes neither kind."""

    def __init__(self, sock, behaviour, connection):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(CERTS / f"{behaviour.cert}.pem", CERTS / f"{behaviour.cert}.key")
        context.sni_callback = lambda _, name, __: setattr(connection, "sni", name)
        self.own_records = bool(behaviour.records)
        if self.own_records:
            context.maximum_version = ssl.TLSVersion.TLSv1_2
            context.set_ciphers("ECDHE-RSA-AES128-GCM-SHA256")
            context.keylog_filename = KEYLOG
        self.sock, self.step, self.incoming = sock, behaviour.step, ssl.MemoryBIO()
        self.tls = context.wrap_bio(self.incoming, outgoing := ssl.MemoryBIO(), server_side=True)
        self.outgoing, self.received, self.sent, self.key, self.eof = outgoing, b"", b"", None, False
        self._pump(self.tls.do_handshake)
        if self.own_records:
            client_random, server_random = self.received[11:43], self.sent[11:43]
            master = next(bytes.fromhex(line.split()[2]) for line in open(
                context.keylog_filename) if line.split()[1] == client_random.hex())
            block = p_sha256(master, b"key expansion" + server_random + client_random, 40)
            self.key, self.iv, self.sequence = block[16:32], block[36:40], 1  # after Finished

    def record(self, kind, payload):
        from cryptography.hazmat.primitives.ciphers.aead import AESGCM
        nonce, header = self.sequence.to_bytes(8, "big"), bytes([kind, 3, 3])
        sealed = AESGCM(self.key).encrypt(self.iv + nonce, payload, nonce + header +
                                          len(payload).to_bytes(2, "big"))
        self.sequence += 1
        return header + (8 + len(sealed)).to_bytes(2, "big") + nonce + sealed

    def _pump(self, operation):
        while True:
            try:
                result = operation()
                self.sendall(b"")
                return result
            except ssl.SSLWantReadError:
                self.sendall(b"")
                if not (data := self.sock.recv(65536)):
                    self.eof = True
                    return b""
                self.received += data[:64 - len(self.received)]
                self.incoming.write(data)

    def sendall(self, data, made=False):
        if data and self.key:
            data = data if made else self.record(23, data)
        elif data:
            self._pump(lambda: self.tls.write(data))
            data = b""
        data = data or self.outgoing.read()
        self.sent += data[:64 - len(self.sent)]
        for at in range(0, len(data), self.step):
            self.sock.sendall(data[at:at + self.step])
            time.sleep(0.001 if self.step < 100 else 0)

    def recv(self, size):
        return self._pump(lambda: self.tls.read(size))

    def finish(self):
        """Our close_notify; "close_notify" when the client answers with its own."""
        if self.key:
            self.sendall(self.record(21, b"\1\0"), made=True)
        else:
            try:
                self.tls.unwrap()
            except ssl.SSLWantReadError:
                self.sendall(b"")
        self.sock.settimeout(10)
        try:
            while self.recv(65536):
                pass
        except ssl.SSLZeroReturnError:
            return "close_notify"
        except (OSError, ssl.SSLError):
            return "bare"
        return "bare" if self.eof else "close_notify"  # read gives b"" for it too


class ScriptedPop3:
    """On 127.0.0.2 and up, port 110, or at the address given (port 0: any)."""

    def __init__(self, address=None):
        self.connections, self._behaviours = [], [Behaviour()]
        self._listener = socket.socket(socket.AF_INET6 if address and ":" in address[0] else
                                       socket.AF_INET)
        for last in range(2, 255):
            try:
                self._listener.bind(address or (f"127.0.0.{last}", PORT))
                break
            except OSError:
                continue
        self.address = self._listener.getsockname()[:2]
        self.server = ("[%s]:%d" if ":" in self.address[0] else "%s:%d") % self.address  # SERVER
        self._listener.listen()
        self._conversations, self._lock = {}, threading.Lock()  # open socket -> its thread
        self._accepting = threading.Thread(target=self._accept, daemon=True)
        self._accepting.start()

    def play(self, *behaviours):
        """Connection i gets behaviours[i]; the last serves every later one."""
        self._behaviours = list(behaviours)

    def connection(self, number, timeout=10):
        return wait_for(lambda: self.connections[number:], timeout=timeout,
                        what=f"connection {number}")[0]

    def close(self):
        """Leaves nothing behind: a later connection to the address is refused, never
        answered the old way. Closing alone would not do: the accept waiting in the
        kernel keeps the listener alive and takes one more connection, and a signal
        restarts it on whichever listener has the descriptor's number by then (see
        README.md). Conversations still open are cut."""
        self._listener.shutdown(socket.SHUT_RDWR)  # the waiting accept fails at once
        self._accepting.join()
        self._listener.close()
        with self._lock:
            for sock in self._conversations:
                with contextlib.suppress(OSError):  # the client's reset came first
                    sock.shutdown(socket.SHUT_RDWR)
            threads = list(self._conversations.values())
        for thread in threads:
            thread.join(15)
        assert not self._conversations, f"{self.server}: conversations left open"

    def _accept(self):
        while True:
            try:
                sock, _ = self._listener.accept()
            except OSError:
                return
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            behaviour = self._behaviours[min(len(self.connections), len(self._behaviours) - 1)]
            self.connections.append(connection := Connection(
                time.monotonic(), sock.getsockname()[:2], sock.getpeername()[:2]))
            with self._lock:
                self._conversations[sock] = threading.Thread(
                    target=self._serve, args=(sock, connection, behaviour), daemon=True)
                self._conversations[sock].start()

    def _serve(self, sock, connection, behaviour):
        try:
            self._converse(sock, connection, behaviour)
        except (OSError, ssl.SSLError):
            pass
        connection.closed_by = connection.closed_by or "client"
        with self._lock:  # never closed while close() shuts it down
            del self._conversations[sock]
            sock.close()

    def _converse(self, sock, connection, behaviour):
        def act(action):
            stream.sendall(action.data)
            connection.closed_by = "server" if action.close else None
            if action.close and stream is not sock:
                connection.ended = stream.finish()
            return "closed" if action.close else "silent" if action.silent else "on"

        def made(word):  # the records the behaviour makes at this word
            kinds = behaviour.records.get(word, ())
            return b"".join(stream.record(*{"empty": (23, b""), "hello": (22, b"\0" * 4),
                                            "close_notify": (21, b"\1\0")}[k]) for k in kinds)
        stream = Tls(sock, behaviour, connection) if behaviour.implicit else sock
        greeting = behaviour.greeting
        greeting = greeting if isinstance(greeting, Action) else Action(greeting + b"\r\n")
        if greeting.heard:
            stream.recv(65536)
        state, stamp = act(greeting), (re.findall(rb"<[^>]*>", greeting.data[:200]) or [b""])[0]
        user, logged_in, pending, sizes = None, False, b"", behaviour.messages
        uids = [b"uid-%d" % (i + 1) for i in range(len(sizes))]
        while state != "closed":
            if not (chunk := stream.recv(65536)):
                connection.lines += [pending] if pending else []
                if stream is not sock and not stream.eof:  # the client's close_notify, unasked
                    connection.ended = "close_notify"
                return
            pending += chunk
            while b"\n" in pending and state != "closed":
                line, pending = pending.split(b"\n", 1)
                connection.lines.append(line + b"\n")
                words = line.rstrip(b"\r").split() or [b""]
                verb, answer = words[0].upper().decode("latin-1"), b"-ERR not logged in"
                if state == "silent":
                    continue
                elif verb in behaviour.faults:
                    state = act(behaviour.faults[verb])
                    continue
                elif verb == "USER":
                    user, answer = words[1:], b"+OK"
                elif verb in ("PASS", "APOP"):
                    digest = hashlib.md5(stamp + b"secret").hexdigest().encode()
                    logged_in = (user, words[1:]) == ([b"alice"], [b"secret"]) or (
                        verb == "APOP" and stamp and words[1:] == [b"alice", digest])
                    answer = b"+OK logged in" if logged_in else b"-ERR [AUTH] invalid password"
                elif verb == "STLS":
                    stream.sendall(b"+OK Begin TLS\r\n")
                    stream = Tls(sock, behaviour, connection)
                    continue
                elif verb == "QUIT":
                    state = act(reply(b"+OK bye", close=True))
                    continue
                elif verb == "CAPA" and behaviour.capa is not None:
                    answer = b"\r\n".join([b"+OK", *behaviour.capa, b"."])
                elif logged_in and verb == "STAT":
                    answer = b"+OK %d %d" % (len(sizes), sum(sizes))
                elif logged_in and verb in ("LIST", "UIDL"):
                    values = [b"%d" % s for s in sizes] if verb == "LIST" else uids
                    answer = b"\r\n".join([b"+OK"] + [b"%d %s" % (i + 1, v)
                                                      for i, v in enumerate(values)] + [b"."])
                if before := made(verb):
                    stream.sendall(before + stream.record(23, answer + b"\r\n"), made=True)
                else:
                    stream.sendall(answer + b"\r\n")
                if after := made(verb + "+"):
                    stream.sendall(after, made=True)


# The desktop: a fresh Wine prefix, Xvfb on a display of its own, and the
# probe, which owns the task bar that Wine's shell32 reports to.

def _template():
    """Made once: Wine's virtual desktop (windows managed as on Windows), the CA trusted."""
    path = WORK / "prefix-template"
    with open(WORK / "prefix-template.guard", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        # Prefixes the runner made before it mapped the dialogs' font lack it.
        commands = (["add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d", "Default",
                     "/f"], ["add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "Default",
                             "/d", "1024x768", "/f"],
                    ["add", "HKCU\\Software\\Wine\\Fonts\\Replacements", "/v", "Yu Gothic UI",
                     "/d", "IPAPGothic", "/f"], ["import", windows_path(WORK / "trust.reg")])
        made_of = (CERTS / "ca.der").read_bytes() + repr(commands).encode()
        ready = path / f".e2e-{hashlib.sha1(made_of).hexdigest()}"
        if not ready.exists():
            (WORK / "trust.reg").write_text(trust_reg())
            for command in commands:
                subprocess.run([WINE_RUN, path, "reg", *command], check=True, capture_output=True)
            stop_wine(path)  # its registry written out before it is copied
            ready.touch()
    return path


def locale_environment(name):
    """Runs a program under this Unix locale (Wine takes its ANSI code page from it), made once
    in the work folder: the system has ja_JP only."""
    folder = WORK / "locales"
    with open(WORK / "locales.guard", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (folder / name).exists():
            folder.mkdir(exist_ok=True)
            language, charset = name.split(".")
            subprocess.run(["localedef", "-i", language, "-f", charset, folder / name],
                           capture_output=True)
    assert (folder / name).exists(), f"localedef could not make {name}"
    return {"CORVINA_LANG": name, "LOCPATH": str(folder)}


def stop_wine(prefix):
    """Ends our prefix's server, and its folder /tmp/<name>/server-<dev>-<inode>. A server
    that hangs cannot end its programs: whatever still runs with this prefix is killed."""
    env = dict(os.environ, WINEPREFIX=str(prefix))
    for _ in range(3):  # a program still starting escapes one kill
        subprocess.run(["timeout", "10", "/usr/lib/wine/wineserver", "-k"], env=env,
                       stderr=subprocess.DEVNULL)
        if not subprocess.run(["timeout", "10", "/usr/lib/wine/wineserver", "-w"],
                              env=env).returncode:
            break
    for pid in _processes_of(prefix):
        with contextlib.suppress(OSError):
            os.kill(pid, signal.SIGKILL)
    try:
        folder = Path("/tmp", (prefix / "wineserver").read_text().strip())
        shutil.rmtree(folder / f"server-{prefix.stat().st_dev:x}-{prefix.stat().st_ino:x}")
        folder.rmdir()  # unless another prefix's server lives there too
    except OSError:
        pass


def _processes_of(prefix):
    for environ in Path("/proc").glob("[0-9]*/environ"):
        with contextlib.suppress(OSError):
            if f"WINEPREFIX={prefix}".encode() in environ.read_bytes().split(b"\0"):
                yield int(environ.parent.name)


def _threads(pid, pipes):
    """A process's name, and per thread its state, kernel wait and system call; a read
    names the pipe or file read."""
    threads = []
    for task in sorted(Path(f"/proc/{pid}/task").glob("*")):
        with contextlib.suppress(OSError):
            state = (task / "stat").read_text().rsplit(")", 1)[1].split()[0]
            call = (task / "syscall").read_text().split()
            if call[0] == "0":  # read(fd, ...)
                target = os.readlink(f"/proc/{pid}/fd/{int(call[1], 16)}")
                call = ["read", pipes.get(target, target)]
            threads.append(f"{task.name} {state} {(task / 'wchan').read_text()} {call[0]} "
                           f"{' '.join(call[1:2])}")
    with contextlib.suppress(OSError):
        return f"{pid} {Path(f'/proc/{pid}/comm').read_text().strip()}", threads
    return str(pid), threads


class Probe:
    """One command line out, one JSON line back (null: the command failed)."""

    def __init__(self, process, log, prefix):
        self._process, self._log, self._prefix = process, log, prefix
        if (ready := self._read(180, "start")) != "ready":  # a loaded machine takes long
            raise RuntimeError(f"the probe did not start: {ready!r}; {self._whereabouts()}")

    def _read(self, timeout, command):
        if not select.select([self._process.stdout], [], [], timeout)[0]:
            raise RuntimeError(f"the probe gave no answer to {command!r} within {timeout} s; "
                               f"{self._whereabouts()}")
        return self._process.stdout.readline().decode(errors="replace").strip()

    def _whereabouts(self):
        """Whether it lives, its last words (its watchdog names a command stuck in it, and
        it names a window of the program that did not answer), and where each thread of
        every process of the prefix waits in the kernel: a read of the probe's stdin is a
        command not yet seen, any other pipe a wait on Wine's server."""
        pipes = {f"pipe:[{os.fstat(end.fileno()).st_ino}]": name for end, name in (
            (self._process.stdin, "its stdin"), (self._process.stdout, "its stdout"))}
        words = self._log.read_text(errors="replace").splitlines()[-6:]
        return (f"exit status {self._process.poll()}, last words {words}, threads "
                f"{dict(_threads(pid, pipes) for pid in _processes_of(self._prefix))}")

    def call(self, *words):
        command = " ".join(map(str, words))
        self._process.stdin.write(command.encode() + b"\n")
        self._process.stdin.flush()
        if (answer := json.loads(self._read(30, command))) is None:
            raise RuntimeError(f"the probe could not: {words}")
        return answer

    def __getattr__(self, verb):  # probe.popup() is probe.call("popup")
        return lambda *words: self.call(verb, *words)

    def icon(self):
        """The program's icon: the one present, else the last that was."""
        icons = self.icons(1 << 30)["icons"]
        return ([i for i in icons if i["present"]] or icons or [None])[-1]

    def events(self, since=0):
        return self.icons(since)["events"]

    def seq(self):
        return self.icons(1 << 30)["seq"]

    def message_boxes(self):
        return [{"hwnd": d["hwnd"], "caption": d["caption"], "text": "\n".join(texts)}
                for d in self.dialogs() if d["visible"] and "Button" in [
                    c["class"] for c in d["controls"]] and (texts := [
                        c["text"] for c in d["controls"] if c["class"] == "Static" and c["text"]])]

    def click_icon(self, message=WM_LBUTTONUP):
        return self.call("notify", message)


class Corvina:
    """corvina.exe in a folder of its own, with its INI file and uidl.txt beside it."""

    def __init__(self, desktop, folder, exe=None):
        self.desktop, self.folder = desktop, folder
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        self.exe, self.ini, self.uidl_file = (folder / name for name in (
            "corvina.exe", "corvina.ini", "uidl.txt"))
        shutil.copy2(exe or os.environ["CORVINA_EXE"], self.exe)
        desktop.probe.load_exe(windows_path(self.exe))

    def start(self, settings=None, args=(), locale=None, debug=None):
        """The settings go to the INI file (code page 932, CR LF), named with /I; locale
        names another system locale, debug Wine's trace channels (WINEDEBUG) for this run."""
        if settings is not None:
            self.ini.write_bytes(b"[CONFIG]\r\n" + b"".join(key.encode() + b"=" + str(
                value).encode("cp932") + b"\r\n" for key, value in settings.items()))
            args = ["/I" + windows_path(self.ini), *args]
        self.log = self.desktop.folder / "corvina.log"
        self.log_from = self.log.stat().st_size if self.log.exists() else 0
        self.process = self.desktop.start(self.exe, *args, log="corvina",
                                          env=locale and locale_environment(locale), debug=debug)
        return self

    def _trace(self):
        with open(self.log, "rb") as log:
            log.seek(self.log_from)
            return log.read()

    def sockets_made(self):
        """The handle of each socket this run made, in order (debug "+winsock")."""
        return re.findall(rb"winsock:WSASocketW created (0x[0-9a-f]+)", self._trace())

    def connects(self):
        """The address and port of each connect this run made (debug "+winsock")."""
        return [(address.decode(), int(port)) for address, port in re.findall(
            rb"winsock:connect socket 0x[0-9a-f]+, addr \{ family AF_INET6?, address ([^,]+),"
            rb"(?: flow label \d+,)? port (\d+)", self._trace())]

    def ini_entries(self):
        """The CONFIG section's (key, value) lines in file order."""
        text = self.ini.read_bytes().decode("cp932").split("[CONFIG]\r\n", 1)[1]
        return [tuple(line.split("=", 1)) for line in text.split("\r\n") if "=" in line]

    def uidl_lines(self):
        if self.uidl_file.exists():
            return self.uidl_file.read_bytes().decode("latin-1").splitlines()

    def wait_exit(self, timeout=10):
        return self.process.wait(timeout)


class Desktop:
    def __init__(self, folder):
        self.folder, self.prefix, self._processes = folder, folder / "prefix", []
        template = _template()
        shutil.rmtree(self.prefix, ignore_errors=True)
        # Hard links are quick; the registry files are copied, as Wine replaces them.
        shutil.copytree(template, self.prefix, symlinks=True, ignore=shutil.ignore_patterns(
            "wineserver"), copy_function=lambda s, t: (shutil.copy2 if s.endswith(".reg")
                                                       else os.link)(s, t))
        # Xvfb takes the first display free and names it on the pipe.
        read_end, write_end = os.pipe()
        self._xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                       "1024x768x24", "-nolisten", "tcp"], pass_fds=[write_end],
                                      stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            self.display = ":" + pipe.readline().strip()
        try:
            self.probe = Probe(self.start(os.environ["TRAYPROBE_EXE"], log="probe",
                                          stdin=subprocess.PIPE, stdout=subprocess.PIPE),
                               folder / "probe.log", self.prefix)
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
        self._xvfb.terminate()
        self._xvfb.wait()

    def start(self, program, *args, log, stdin=subprocess.DEVNULL, stdout=None, env=None,
              debug=None):
        env = dict(os.environ, DISPLAY=self.display, **env or {}) | (
            {"WINEDEBUG": debug} if debug else {})
        with open(self.folder / f"{log}.log", "ab") as log_file:
            process = subprocess.Popen([WINE_RUN, str(self.prefix), str(program), *map(str, args)],
                                       stdin=stdin, stdout=stdout or log_file, stderr=log_file,
                                       env=env)
        self._processes.append(process)
        return process

    def set_dpi(self, dpi):
        """The display scale of the programs started from now on, as Wine reads it."""
        subprocess.run([WINE_RUN, self.prefix, "reg", "add", r"HKCU\Control Panel\Desktop", "/v",
                        "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"], check=True,
                       capture_output=True, env=dict(os.environ, DISPLAY=self.display))

    def pixel(self, x, y):
        """The colour of one point of the screen, as RRGGBB."""
        return subprocess.run(["import", "-window", "root", "-display", self.display, "-crop",
                               f"1x1+{x}+{y}", "-format", "%[hex:p{0,0}]", "info:"], check=True,
                              capture_output=True, text=True).stdout.strip()[:6]

    def grab(self, name):
        """The screen as a PNG, kept for a person to look at."""
        subprocess.run(["import", "-window", "root", "-display", self.display,
                        self.folder / f"{name}.png"], check=True)

    def xdotool(self, *args):
        """Real input through the X server: Wine takes it as a person's."""
        subprocess.run(["xdotool", *map(str, args)], env=dict(os.environ, DISPLAY=self.display),
                       check=True, timeout=15, stdout=subprocess.DEVNULL)

    _last_click = (0.0, 0, 0)

    def click(self, x, y):
        """A second click at the same spot waits out the double-click time."""
        at, last_x, last_y = self._last_click
        if abs(x - last_x) <= 4 and abs(y - last_y) <= 4:
            time.sleep(max(0.0, at + 0.6 - time.monotonic()))
        self.xdotool("mousemove", x, y, "click", 1)
        self._last_click = (time.monotonic(), x, y)

    def click_centre(self, rect):
        self.click((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)

    def key(self, *names):
        self.xdotool("key", "--delay", 20, *names)


def dovecot_settings(mailbox, **extra):
    return dict(QUICK, SERVER=HOST, ACCOUNT=mailbox.name, PASSWORD=SECRET) | extra


def scripted_settings(pop3, **extra):
    return dict(QUICK, SERVER=pop3.address[0], ACCOUNT="alice", PASSWORD=SECRET) | extra


def start(desktop, settings, args=(), name="program", exe=None, debug=None, folder=None,
          locale=None):
    """A fresh copy of corvina (or of another build of it) with these settings, in the
    desktop's folder name or in folder, its icon in the tray. A loaded machine can take
    half a minute to start a Wine program."""
    app = Corvina(desktop, folder or desktop.folder / name, exe).start(
        settings, args, locale=locale, debug=debug)
    wait_for(desktop.probe.icon, lambda icon: icon and icon["present"], timeout=60,
             what="corvina's tray icon")
    return app


def tray_shows(probe, tip, icon=None, timeout=20):
    return wait_for(probe.icon, lambda i: i and i["tip"] == tip and icon in (None, i["icon"]),
                    timeout=timeout, what=f"tip {tip!r}, icon {icon}")


def check_ends_with(probe, tip, icon=None, timeout=20):
    """Asks for a check and waits for it to start and end with this tip."""
    since = probe.seq()
    probe.command(IDM_CHECK)
    wait_for(lambda: probe.events(since), lambda events: any(
        (e["tip"], e["icon"]) == ("サーバーとの通信中...", CHECK) for e in events),
        timeout=timeout, what="the check to start")
    return tray_shows(probe, tip, icon, timeout)


def popup_on_screen(popup):
    """Shown and inside the work area (it waits off the screen between announcements)."""
    rect, area = popup.get("rect"), popup.get("work_area")
    return popup["visible"] and area[0] <= rect[0] and area[1] <= rect[1] and \
        rect[2] <= area[2] and rect[3] <= area[3]


# The settings sheet as a person uses it: tabs and controls clicked, text
# typed. Each page numbers its controls on its own, so a control is named by
# its tab and id; the sheet's own buttons (OK, Cancel) by id alone.
CAPTION, OK, CANCEL = "corvina のプロパティ", 1, 2
NOTIFY, ACCOUNT, TIMING = range(3)


def find_sheet(probe):
    return next((d for d in probe.dialogs() if d["caption"] == CAPTION and d["visible"]), None)


class Sheet:
    """Opened by the tray menu's command "設定", or by the program itself at first start."""

    def __init__(self, desktop, from_menu=True):
        self.desktop, self.probe = desktop, desktop.probe
        if from_menu:
            self.probe.command(IDM_SETTINGS)
        self.hwnd = wait_for(lambda: find_sheet(self.probe), timeout=20, what=CAPTION)["hwnd"]
        self.pages = {}
        self.show(self.tab(0)["current"])

    def record(self):
        return next(d for d in self.probe.dialogs() if d["hwnd"] == self.hwnd)

    def tab(self, index):
        return self.probe.tab(self.hwnd, index)

    def show(self, tab):
        if self.tab(tab)["current"] != tab:
            self.desktop.click_centre(self.tab(tab)["rect"])
        self.pages[tab] = wait_for(lambda: self.tab(tab)["current"] == tab and [
            c["hwnd"] for c in self.record()["controls"] if c["class"] == "#32770" and
            c["parent"] == self.hwnd and c["visible"]], lambda pages: pages and len(pages) == 1,
            what=f"the page of tab {tab}")[0]

    def controls(self, tab=None):
        parent = self.pages.get(tab, self.hwnd)
        return [c for c in self.record()["controls"] if c["parent"] == parent]

    def control(self, id, tab=None):
        (found,) = [c for c in self.controls(tab) if c["id"] == id]
        return found

    def text(self, id, tab=None):
        return self.control(id, tab)["text"]

    def click(self, id, tab=None):
        self.desktop.click_centre(self.control(id, tab)["rect"])

    def focus(self, id, tab):
        self.click(id, tab)
        target = self.control(id, tab)["hwnd"]
        return wait_for(self.probe.focus, lambda hwnd: hwnd == target, what=f"focus in {id}")

    def type_into(self, id, tab, text, leave=False):
        """Replaces the edit's text as typed; leaves it with Tab, as a person fills a form."""
        target = self.focus(id, tab)
        self.desktop.key("End", "shift+Home", "BackSpace")
        self.desktop.xdotool("type", "--delay", 20, "--", text)
        if leave:
            self.desktop.key("Tab")
            wait_for(self.probe.focus, lambda hwnd: hwnd != target, what=f"focus to leave {id}")

    def wait_text(self, id, tab, text, timeout=10):
        return wait_for(lambda: self.text(id, tab), lambda seen: seen == text, timeout=timeout,
                        what=f"{text!r} in {id}")

    def close(self, button, key=None):
        """Then waits for the tip "corvina": the program sets it after writing the INI file."""
        since = self.probe.seq()
        self.desktop.key(key) if key else self.click(button)
        wait_for(lambda: find_sheet(self.probe) is None, timeout=20, what="the sheet to close")
        wait_for(lambda: self.probe.events(since), lambda events: any(
            e["flags"] & 4 and e["tip"] == "corvina" for e in events), what="the tip after OK")


def run_connection_test(sheet, patterns, timeout=20):
    """Waits until the test ends with a log whose lines match the patterns."""
    sheet.click(1000, ACCOUNT)
    return wait_for(lambda: (sheet.text(1000, ACCOUNT), sheet.text(1027, ACCOUNT).split("\r\n")),
                    lambda seen: seen[0] == "テスト" and len(seen[1]) == len(patterns) and all(
                        re.fullmatch(p, line) for p, line in zip(patterns, seen[1])),
                    timeout=timeout, what=f"a test whose log reads {patterns}")[1]


@contextlib.contextmanager
def host_names(folder, lines):
    """Names for the programs started meanwhile, after those there are: a hosts file
    bound over /etc/hosts in the mount namespace of this module's own (ip netns exec)."""
    assert subprocess.run(["ip", "netns", "identify"], capture_output=True, text=True).stdout \
        .strip() == os.environ["E2E_NETNS"], "only inside ip netns exec, which made the namespace"
    (hosts := folder / "hosts").write_text(Path("/etc/hosts").read_text() + "".join(
        f"{address} {name}\n" for name, address in lines))
    subprocess.run(["mount", "--bind", hosts, "/etc/hosts"], check=True)
    try:
        yield
    finally:
        subprocess.run(["umount", "/etc/hosts"], check=True)


@contextlib.contextmanager
def dropping(address):
    """An address whose packets vanish: SYNs unanswered, as behind a dead router."""
    rule = ["OUTPUT", "-d", address, "-j", "DROP"]
    subprocess.run(["iptables", "-A", *rule], check=True)
    try:
        yield
    finally:
        subprocess.run(["iptables", "-D", *rule], check=True)


def _run(module, function):
    """Fresh fixtures; a failure prints what the probe and the server saw, and a screenshot."""
    folder = WORK / "runs" / module / function.__name__
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    made, started, wanted = {}, time.monotonic(), inspect.signature(function).parameters
    try:
        for name, make in (("case", lambda: type("Case", (), {"folder": folder})),
                           ("desktop", lambda: Desktop(folder)), ("pop3", ScriptedPop3),
                           ("mailbox", lambda: Mailbox(function.__name__))):
            if name in wanted:
                made[name] = make()
        function(**made)
        print(f"PASS {function.__name__} ({time.monotonic() - started:.1f} s)")
        return True
    except Exception:
        print(f"FAIL {function.__name__} ({time.monotonic() - started:.1f} s) in {folder}")
        traceback.print_exc(file=sys.stdout)
        if "desktop" in made:
            made["desktop"].grab("failure")
            print(json.dumps([made["desktop"].probe.call(verb) for verb in ("icons 0", "dialogs")],
                             ensure_ascii=False)[-4000:])
        print([(c.reached, c.client, c.closed_by, c.lines) for c in made["pop3"].connections]
              if "pop3" in made else "")
        return False
    finally:
        for name in ("desktop", "pop3"):
            made[name].close() if name in made else None


def run_module(path, only=()):
    found = importlib.util.spec_from_file_location(Path(path).stem, path)
    found.loader.exec_module(module := importlib.util.module_from_spec(found))
    tests = [f for name, f in vars(module).items() if name.startswith("test_") and callable(f)
             and (not only or name in only)]
    tests.sort(key=lambda f: f.__code__.co_firstlineno)
    results = [_run(module.__name__, f) for f in tests]
    KEYLOG.unlink(missing_ok=True)
    print(f"{module.__name__}: {sum(results)} passed, {len(results) - sum(results)} failed")
    return 0 if results and all(results) else 1


def setup():
    teardown()  # ours, left by an aborted run
    good = CERTS / "good.der"  # the template prefix trusts their CA; ::1 and the CRL came later
    if not (CERTS / "ca.crl").exists() or ipaddress.ip_address("::1").packed not in good.read_bytes():
        make_certificates()
    namespace = os.environ["E2E_NETNS"]
    Path("/etc/netns", namespace).mkdir(parents=True, exist_ok=True)
    Path("/etc/netns", namespace, "hosts").write_text(HOSTS)
    subprocess.run(["ip", "netns", "add", namespace], check=True)
    subprocess.run(["ip", "-n", namespace, "link", "set", "lo", "up"], check=True)
    subprocess.run(["ip", "netns", "exec", namespace, sys.executable, "-m", "harness", "dovecot"],
                   check=True)
    wait_for(lambda: subprocess.run(["ip", "netns", "exec", namespace, "bash", "-c",
                                     f"exec 3<>/dev/tcp/{HOST}/{PORT}"]).returncode == 0,
             timeout=20, what="Dovecot to answer")


def stop_dovecot():
    """Stops the Dovecot of our configuration (doveadm finds it by its base_dir)."""
    if (dovecot_folder() / "run" / "master.pid").exists():
        subprocess.run(["doveadm", "-c", dovecot_folder() / "dovecot.conf", "stop"])


def teardown():
    stop_dovecot()
    subprocess.run(["ip", "netns", "delete", os.environ["E2E_NETNS"]], stderr=subprocess.DEVNULL)
    shutil.rmtree(Path("/etc/netns", os.environ["E2E_NETNS"]), ignore_errors=True)


if __name__ == "__main__":
    sys.modules["harness"] = sys.modules["__main__"]  # one copy for the tests to import
    WORK.mkdir(parents=True, exist_ok=True)
    verbs = {"setup": setup, "teardown": teardown, "dovecot": start_dovecot}
    sys.exit(verbs[sys.argv[1]]() if sys.argv[1] in verbs else run_module(*sys.argv[1:2],
                                                                          sys.argv[2:]))
