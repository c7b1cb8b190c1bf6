"""HTTP servers for the download tests, on 127.0.0.1 only.

Nginx: a stock nginx of the machine with plain HTTP, HTTPS for "localhost" signed by a test
authority, HTTPS with a certificate for another host name (same authority) and HTTPS signed by an
authority nobody trusts. Everything it writes (config, certificates, logs, temp files, pid file)
stays in the folder of the caller.

TrustedAuthority: a test certificate authority put into the machine's certificate store for as
long as it is needed. Wine takes its trusted roots from the machine's store, not from the
prefix, so this is what makes the HTTPS server trusted by the stub under Wine (and by curl).
Installing and removing runs update-ca-certificates, which takes a while: one per test module.

FaultServer: a small HTTP/1.1 server of our own that misbehaves on purpose (no length, cut-off
bodies, reset connections, slow bodies, changing dates), for what nginx will not do."""
import atexit
import ctypes
import email.utils
import errno
import fcntl
import glob
import http.server
import os
import secrets
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
STORE_DIR = "/usr/local/share/ca-certificates"
STORE_PREFIX = "ulvtest-"


def free_ports(count):
    """`count` distinct ports of 127.0.0.1 that were free a moment ago (all bound at once, so
    that the kernel hands out different ones)."""
    sockets = []
    try:
        for _ in range(count):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.bind(("127.0.0.1", 0))
            sockets.append(s)
        return [s.getsockname()[1] for s in sockets]
    finally:
        for s in sockets:
            s.close()


def _run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        raise RuntimeError("%s failed (%d): %s%s" % (command[0], result.returncode, result.stdout, result.stderr))
    return result.stdout


def _end_with_parent():
    """In the child before exec: the kernel sends it TERM when the test process dies, even by
    KILL (a timed-out test), so that no server outlives its test."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def _as_root(command):
    return command if os.geteuid() == 0 else ["sudo", "-n", *command]


class CertificateAuthority:
    """A certificate authority of its own, made with the openssl command line in `folder`; it
    issues server certificates. Nobody trusts it unless it is installed (TrustedAuthority)."""

    def __init__(self, folder, name="ulvtest"):
        self.folder = os.path.abspath(folder)
        os.makedirs(self.folder, exist_ok=True)
        self.token = "%d-%s" % (os.getpid(), secrets.token_hex(4))
        # A subject of its own for every authority, so that two of them never look alike.
        self.subject = "/O=ulvtest/CN=%s authority %s" % (name, self.token)
        self.cert = os.path.join(self.folder, name + "-ca.crt")
        self.key = os.path.join(self.folder, name + "-ca.key")
        self._config = os.path.join(self.folder, name + "-openssl.cnf")
        with open(self._config, "w") as f:
            f.write("[req]\ndistinguished_name = dn\nprompt = no\n[dn]\n"
                    "[authority]\nbasicConstraints = critical, CA:TRUE\n"
                    "keyUsage = critical, keyCertSign, cRLSign\n"
                    "subjectKeyIdentifier = hash\n")
        _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
              "-subj", self.subject, "-config", self._config, "-extensions", "authority",
              "-keyout", self.key, "-out", self.cert])

    def issue(self, name, dns=(), ips=()):
        """A server certificate and key for the given names; returns (cert path, key path)."""
        base = os.path.join(self.folder, name)
        names = ["DNS:" + d for d in dns] + ["IP:" + i for i in ips]
        extensions = base + ".ext"
        with open(extensions, "w") as f:
            f.write("basicConstraints = critical, CA:FALSE\n"
                    "keyUsage = critical, digitalSignature, keyEncipherment\n"
                    "extendedKeyUsage = serverAuth\n"
                    "subjectKeyIdentifier = hash\n"
                    "authorityKeyIdentifier = keyid, issuer\n"
                    "subjectAltName = %s\n" % ", ".join(names))
        common_name = (list(dns) + list(ips))[0]
        _run(["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-sha256", "-config", self._config,
              "-subj", "/O=ulvtest/CN=" + common_name, "-keyout", base + ".key", "-out", base + ".csr"])
        _run(["openssl", "x509", "-req", "-sha256", "-days", "30", "-in", base + ".csr",
              "-CA", self.cert, "-CAkey", self.key, "-set_serial", "0x" + secrets.token_hex(8),
              "-extfile", extensions, "-out", base + ".crt"])
        return base + ".crt", base + ".key"


class TrustedAuthority(CertificateAuthority):
    """A CertificateAuthority that is in the machine's trusted store between install() and
    remove() (or inside `with`). Its store file carries this process's id, so that parallel test
    processes leave each other's alone, and a crashed run's file is recognised by its dead
    process and cleared at the next install."""

    # update-ca-certificates rewrites one bundle file; two runs at once would spoil it.
    LOCK = os.path.join(tempfile.gettempdir(), "ulvtest-ca-store.lock")

    def __init__(self, folder, name="ulvtest"):
        super().__init__(folder, name)
        self.store_file = os.path.join(STORE_DIR, "%s%s.crt" % (STORE_PREFIX, self.token))
        self.installed = False

    def _locked(self, work):
        with open(self.LOCK, "a") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            try:
                return work()
            finally:
                fcntl.flock(lock, fcntl.LOCK_UN)

    @staticmethod
    def _stale_files():
        stale = []
        for path in glob.glob(os.path.join(STORE_DIR, STORE_PREFIX + "*.crt")):
            pid = os.path.basename(path)[len(STORE_PREFIX):].split("-")[0]
            try:
                os.kill(int(pid), 0)
            except ValueError:
                stale.append(path)
            except OSError as e:
                if e.errno == errno.ESRCH:
                    stale.append(path)
        return stale

    def install(self):
        if self.installed:
            return self

        def work():
            for path in self._stale_files():
                subprocess.run(_as_root(["rm", "-f", path]), check=True)
            subprocess.run(_as_root(["install", "-m", "644", self.cert, self.store_file]), check=True)
            _run(_as_root(["update-ca-certificates"]))

        self._locked(work)
        self.installed = True
        atexit.register(self.remove)
        return self

    def remove(self):
        if not self.installed:
            return

        def work():
            subprocess.run(_as_root(["rm", "-f", self.store_file]), check=True)
            # A plain update would keep the removed authority in the bundle; --fresh rebuilds it.
            _run(_as_root(["update-ca-certificates", "--fresh"]))

        self._locked(work)
        self.installed = False

    def __enter__(self):
        return self.install()

    def __exit__(self, *exc):
        self.remove()


class Nginx:
    """The machine's nginx with the folder `folder` as its whole world. `authority` signs the
    "localhost" and wrong-host certificates; without one, the server makes and installs its own
    TrustedAuthority and removes it again at stop(). Files to serve go into `root`."""

    def __init__(self, folder, authority=None, worker_processes=1):
        self.folder = os.path.abspath(folder)
        self.root = os.path.join(self.folder, "root")
        self.authority = authority
        self.worker_processes = worker_processes
        self._own_authority = None
        self.proc = None
        self.error_log = os.path.join(self.folder, "error.log")
        self.access_log = os.path.join(self.folder, "access.log")
        self.pid_file = os.path.join(self.folder, "nginx.pid")
        self.http_port = self.https_port = self.https_wrong_host_port = self.https_untrusted_port = None

    @property
    def http_url(self):
        return "http://127.0.0.1:%d/" % self.http_port

    @property
    def https_url(self):
        return "https://localhost:%d/" % self.https_port

    @property
    def wrong_host_url(self):
        return "https://localhost:%d/" % self.https_wrong_host_port

    @property
    def untrusted_url(self):
        return "https://localhost:%d/" % self.https_untrusted_port

    def _certificates(self):
        certs = os.path.join(self.folder, "certs")
        if self.authority is None:
            self._own_authority = TrustedAuthority(certs).install()
            self.authority = self._own_authority
        self._good = self.authority.issue("localhost-" + self.authority.token, dns=["localhost"], ips=["127.0.0.1"])
        self._wrong = self.authority.issue("wrong-host-" + self.authority.token, dns=["wrong.example"])
        self._untrusted = CertificateAuthority(certs, "untrusted").issue("untrusted-localhost", dns=["localhost"],
                                                                          ips=["127.0.0.1"])

    def _config(self):
        temp = os.path.join(self.folder, "temp")
        quote = lambda path: '"%s"' % path

        def server(port, cert=None):
            lines = ["    server {"]
            if cert:
                lines += ["        listen 127.0.0.1:%d ssl;" % port,
                          "        ssl_certificate %s;" % quote(cert[0]),
                          "        ssl_certificate_key %s;" % quote(cert[1])]
            else:
                lines.append("        listen 127.0.0.1:%d;" % port)
            lines += ["        server_name localhost;", "        root %s;" % quote(self.root), "    }"]
            return "\n".join(lines)

        # As root, nginx would hand the workers to "nobody", who cannot read the test folders.
        user = "user root root;\n" if os.geteuid() == 0 else ""
        return (
            "%s"
            "daemon off;\n"
            "master_process on;\n"
            "worker_processes %d;\n"
            "pid %s;\n"
            "error_log %s warn;\n"
            "events { worker_connections 256; }\n"
            "http {\n"
            "    access_log %s;\n"
            "    client_body_temp_path %s;\n"
            "    proxy_temp_path %s;\n"
            "    fastcgi_temp_path %s;\n"
            "    uwsgi_temp_path %s;\n"
            "    scgi_temp_path %s;\n"
            "    types { text/html html htm; text/plain txt; }\n"
            "    default_type application/octet-stream;\n"
            "    sendfile on;\n"
            "    tcp_nopush on;\n"
            "    keepalive_timeout 30;\n"
            "    server_tokens off;\n"
            "    ssl_protocols TLSv1.2 TLSv1.3;\n"
            "%s\n%s\n%s\n%s\n"
            "}\n" % (
                user, self.worker_processes, quote(self.pid_file), quote(self.error_log), quote(self.access_log),
                *[quote(os.path.join(temp, t)) for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi")],
                server(self.http_port), server(self.https_port, self._good),
                server(self.https_wrong_host_port, self._wrong), server(self.https_untrusted_port, self._untrusted)))

    def _ports(self):
        return (self.http_port, self.https_port, self.https_wrong_host_port, self.https_untrusted_port)

    def _listening(self):
        for port in self._ports():
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
            except OSError:
                return False
        return True

    def start(self):
        os.makedirs(self.root, exist_ok=True)
        os.makedirs(os.path.join(self.folder, "temp"), exist_ok=True)
        self._certificates()
        conf = os.path.join(self.folder, "nginx.conf")
        # The ports are free when picked but may be taken before nginx binds them: a few tries.
        for attempt in range(5):
            (self.http_port, self.https_port, self.https_wrong_host_port,
             self.https_untrusted_port) = free_ports(4)
            with open(conf, "w") as f:
                f.write(self._config())
            out = open(os.path.join(self.folder, "nginx.out"), "ab")
            # Own session: at the very end the whole group (master and workers) can be killed.
            self.proc = subprocess.Popen([NGINX, "-p", self.folder, "-c", conf, "-e", self.error_log],
                                         stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True,
                                         preexec_fn=_end_with_parent)
            out.close()
            deadline = time.monotonic() + 20
            while self.proc.poll() is None and time.monotonic() < deadline and not self._listening():
                time.sleep(0.05)
            if self.proc.poll() is None and self._listening():
                return self
            log = self._log_text()
            self.stop()
            if "Address already in use" not in log:
                raise RuntimeError("nginx did not start:\n" + log)
        raise RuntimeError("nginx found no free ports:\n" + self._log_text())

    def _log_text(self):
        text = ""
        for name in ("nginx.out", "error.log"):
            try:
                with open(os.path.join(self.folder, name), errors="replace") as f:
                    text += f.read()
            except FileNotFoundError:
                pass
        return text

    def stop(self):
        if self.proc is not None:
            # QUIT lets answers in flight finish, TERM cuts them, and a group kill is the last word.
            for sig, wait in ((signal.SIGQUIT, 5), (signal.SIGTERM, 5), (signal.SIGKILL, 10)):
                if self.proc.poll() is not None:
                    break
                try:
                    os.killpg(self.proc.pid, sig) if sig == signal.SIGKILL else self.proc.send_signal(sig)
                except ProcessLookupError:
                    break
                try:
                    self.proc.wait(wait)
                except subprocess.TimeoutExpired:
                    pass
            # Workers left behind by a killed master would still hold the ports.
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                pass
            self.proc = None
        if self._own_authority is not None:
            self._own_authority.remove()
            self._own_authority = None
            self.authority = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class Request:
    """One request as the FaultServer received it."""

    def __init__(self, method, path, headers):
        self.method = method
        self.path = path
        self.headers = headers  # http.client.HTTPMessage: get() ignores case

    @property
    def user_agent(self):
        return self.headers.get("User-Agent")

    def __repr__(self):
        return "Request(%s %s)" % (self.method, self.path)


NOT_FOUND = (b"<html><head><title>404 Not Found</title></head>"
             b"<body><h1>404 Not Found</h1><p>The requested file was not found on this server.</p></body></html>")
SERVER_ERROR = (b"<html><head><title>500 Internal Server Error</title></head>"
                b"<body><h1>Internal Server Error</h1><p>The server could not complete the request.</p></body></html>")
FIXED_DATE = email.utils.formatdate(1700000000, usegmt=True)


class _FaultHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "ulvtest"
    # A client that keeps a connection open and says nothing must not hold the server forever.
    timeout = 30

    def log_message(self, *args):
        pass

    def version_string(self):
        return self.server_version

    def setup(self):
        super().setup()
        self.fault = self.server.fault
        self.fault._connection_opened(self.connection)
        self._send_reset = False

    def finish(self):
        try:
            super().finish()
        except OSError:
            pass
        self.fault._connection_closed(self.connection)
        if self._send_reset:
            # No linger: close() sends a reset instead of the end of the stream. The server's own
            # shutdown afterwards fails quietly on the closed socket.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()

    def do_HEAD(self):
        self._answer(send_body=False)

    def do_GET(self):
        self._answer(send_body=True)

    def _head(self, status, headers):
        self.send_response(status)
        for key, value in headers:
            self.send_header(key, value)
        self.end_headers()

    def _answer(self, send_body):
        self.fault._record(Request(self.command, self.path, self.headers))
        parts = self.path.split("?", 1)[0].lstrip("/").split("/", 1)
        kind, name = (parts + [""])[:2]
        body = self.fault.files.get(name)
        try:
            if body is None or kind not in FaultServer.KINDS:
                self._head(404, [("Content-Type", "text/html"), ("Content-Length", str(len(NOT_FOUND)))])
                if send_body:
                    self.wfile.write(NOT_FOUND)
                return
            getattr(self, "kind_" + kind)(body, send_body)
        except (BrokenPipeError, ConnectionResetError, socket.timeout):
            self.close_connection = True

    def _sized(self, body, send_body, last_modified=FIXED_DATE, content_type="application/octet-stream"):
        self._head(200, [("Content-Type", content_type), ("Content-Length", str(len(body))),
                         ("Last-Modified", last_modified)])
        if send_body:
            self.wfile.write(body)

    def kind_plain(self, body, send_body):
        self._sized(body, send_body)

    def kind_zero(self, body, send_body):
        self._sized(b"", send_body)

    def kind_errorpage(self, body, send_body):
        self._sized(NOT_FOUND, send_body, content_type="text/html")

    def kind_lastmod(self, body, send_body):
        self._sized(body, send_body, last_modified=self.fault._next_date())

    def kind_nolength(self, body, send_body):
        self._head(200, [("Content-Type", "application/octet-stream"), ("Connection", "close")])
        if send_body:
            self.wfile.write(body)
        self.close_connection = True

    def kind_short(self, body, send_body):
        self._head(200, [("Content-Type", "application/octet-stream"), ("Content-Length", str(len(body)))])
        if send_body:
            self.wfile.write(body[:len(body) // 2])
        self.close_connection = True

    def kind_reset(self, body, send_body):
        self.kind_short(body, send_body)
        self.wfile.flush()
        # A moment for the half body to reach the client before the reset overtakes it.
        time.sleep(0.2)
        self._send_reset = True

    def kind_slow(self, body, send_body):
        self._head(200, [("Content-Type", "application/octet-stream"), ("Content-Length", str(len(body))),
                         ("Last-Modified", FIXED_DATE)])
        if not send_body:
            return
        piece = max(1, int(self.fault.slow_piece))
        for start in range(0, len(body), piece):
            if start and self.fault._stopping.wait(self.fault.slow_delay):
                self.close_connection = True
                return
            self.wfile.write(body[start:start + piece])
            self.wfile.flush()


    def kind_servererror(self, body, send_body):
        self._head(500, [("Content-Type", "text/html"), ("Content-Length", str(len(SERVER_ERROR)))])
        if send_body:
            self.wfile.write(SERVER_ERROR)

    def kind_endless(self, body, send_body):
        """The file's bytes over and over, without a length, until the client gives up."""
        self._head(200, [("Content-Type", "application/octet-stream"), ("Connection", "close")])
        self.close_connection = True
        if not send_body:
            return
        piece = (body or b"x") * max(1, 65536 // max(1, len(body)))
        while not self.fault._stopping.is_set():
            self.wfile.write(piece)

    def kind_silent(self, body, send_body):
        """Takes the request and never answers it."""
        self.fault._stopping.wait(self.fault.silent_seconds)
        self.close_connection = True

    def kind_redirect(self, body, send_body):
        """Sends the client on to `redirect_to` + the file's name (another host)."""
        name = self.path.split("?", 1)[0].lstrip("/").split("/", 1)[1]
        self._head(302, [("Location", self.fault.redirect_to + name), ("Content-Length", "0")])


class _FaultHTTPServer(http.server.ThreadingHTTPServer):
    daemon_threads = False
    block_on_close = True  # server_close() joins the request threads


class FaultServer:
    """A threaded HTTP/1.1 server on 127.0.0.1 whose paths are /KIND/NAME, NAME a key of
    `files`. KIND: plain, nolength, errorpage, short, reset, slow, lastmod, zero, servererror (a 500
    page), endless (the file repeated without end), silent (no answer at all), redirect (a 302 to
    `redirect_to` + NAME); anything else is a 404. Every request is appended to `requests`
    (Request objects, in arrival order)."""

    KINDS = ("plain", "nolength", "errorpage", "short", "reset", "slow", "lastmod", "zero", "servererror",
             "endless", "silent", "redirect")

    def __init__(self):
        self.files = {}
        self.requests = []
        self.slow_piece = 1024
        self.slow_delay = 0.2
        self.silent_seconds = 60
        self.redirect_to = ""
        self._lock = threading.Lock()
        self._connections = set()
        self._stopping = threading.Event()
        self._date = 1700000000
        self._httpd = None
        self._thread = None
        self.port = None

    @property
    def url(self):
        return "http://127.0.0.1:%d/" % self.port

    def start(self):
        self._stopping.clear()
        self._httpd = _FaultHTTPServer(("127.0.0.1", 0), _FaultHandler)
        self._httpd.fault = self
        self.port = self._httpd.server_address[1]
        self._thread = threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.1},
                                        name="FaultServer", daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._httpd is None:
            return
        self._stopping.set()
        self._httpd.shutdown()
        self._thread.join()
        # Connections kept alive by clients would keep their threads waiting for a next request.
        with self._lock:
            for connection in list(self._connections):
                try:
                    connection.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        self._httpd.server_close()
        self._httpd = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def _record(self, request):
        with self._lock:
            self.requests.append(request)

    def _next_date(self):
        with self._lock:
            self._date += 1
            return email.utils.formatdate(self._date, usegmt=True)

    def _connection_opened(self, connection):
        with self._lock:
            self._connections.add(connection)

    def _connection_closed(self, connection):
        with self._lock:
            self._connections.discard(connection)


class TestServers:
    """What a test module of downloads needs, started once for the module: a trusted authority,
    nginx with its certificates, and a fault server, all below `folder`."""

    def __init__(self, folder):
        self.folder = folder
        self.authority = self.nginx = self.fault = None

    def start(self):
        os.makedirs(self.folder, exist_ok=True)
        self.authority = TrustedAuthority(os.path.join(self.folder, "ca")).install()
        self.nginx = Nginx(os.path.join(self.folder, "nginx"), authority=self.authority).start()
        self.fault = FaultServer().start()
        return self

    def stop(self):
        for stop in (self.fault and self.fault.stop, self.nginx and self.nginx.stop,
                     self.authority and self.authority.remove):
            if stop:
                stop()
