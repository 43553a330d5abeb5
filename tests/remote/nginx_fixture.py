#!/usr/bin/env python3
"""A real nginx serving one folder over HTTP and HTTPS on 127.0.0.1, for the remote-input tests and the benchmark.

    with NginxFixture("/path/to/media") as web:
        web.url("clip.ts")              # http://127.0.0.1:PORT/clip.ts
        web.url("clip.ts", tls=True)    # https://127.0.0.1:PORT/clip.ts
        web.ca_pem                      # the throwaway CA that signed the server's certificate
        mark = web.log_mark()
        ...                             # requests
        web.requests_since(mark)        # [LogEntry(request, status, body_bytes, range), ...]

Every file nginx writes (configuration, pid, logs, temp folders) and the certificates lie in one temporary folder,
removed at the end; nginx runs as one foreground process (no master, no workers), so it needs no privileges and
never changes its user: it works as root and as a plain user alike. The certificates are made with openssl at each
start: a CA and a server certificate for 127.0.0.1 and localhost, valid for two days.

Run as a program it serves a folder until interrupted: nginx_fixture.py serve FOLDER
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass

NGINX = os.environ.get("MEDIADETECT_NGINX", "/usr/sbin/nginx")  # Debian's nginx unless told otherwise
START_TIMEOUT_S = 10  # nginx and openssl each start in well under a second
STOP_TIMEOUT_S = 5

# One line per request: the request line, the status, the body bytes sent and the Range header asked for.
LOG_FORMAT = '"$request" $status $body_bytes_sent "$http_range"'


def missing_tools():
    """Why the fixture cannot run here (nginx or openssl absent), or None."""
    if not os.access(NGINX, os.X_OK):
        return f"nginx is not installed ({NGINX})"
    if shutil.which("openssl") is None:
        return "openssl is not installed"
    return None


@dataclass
class LogEntry:
    request: str  # "GET /clip.ts HTTP/1.1"
    status: int
    body_bytes: int
    range: str  # the Range header, "-" when none


def parse_log_line(line):
    """A LogEntry of one access-log line in LOG_FORMAT, or None for a line that is not one."""
    parts = line.rstrip("\n").split('"')
    # ['', request, ' status bytes ', range, '']
    if len(parts) != 5:
        return None
    fields = parts[2].split()
    if len(fields) != 2 or not fields[0].isdigit() or not fields[1].isdigit():
        return None
    return LogEntry(parts[1], int(fields[0]), int(fields[1]), parts[3])


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True, timeout=START_TIMEOUT_S)


def make_certificates(folder):
    """A throwaway CA (ca.pem) and a server certificate it signed for 127.0.0.1 and localhost (server.pem,
    server.key), in folder. EC P-256 keys: made in milliseconds."""
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    _openssl("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
             "-subj", "/CN=mediadetect test CA", "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    _openssl("req", *ec, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1", cwd=folder)
    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n"
                "subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    _openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
             "-out", "server.pem", "-days", "2", "-extfile", "server.ext", cwd=folder)


def _config(folder, root, http_port, https_port, send_buffer):
    # A small send buffer keeps what nginx counts as sent close to what a client that closes early received.
    listen = f" sndbuf={send_buffer}" if send_buffer else ""
    temp = {name: os.path.join(folder, name) for name in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi")}
    return f"""daemon off;
master_process off;
pid {folder}/nginx.pid;
error_log {folder}/error.log warn;
events {{ worker_connections 256; }}
http {{
    log_format ranges '{LOG_FORMAT}';
    access_log {folder}/access.log ranges;
    client_body_temp_path {temp["client_body"]};
    proxy_temp_path {temp["proxy"]};
    fastcgi_temp_path {temp["fastcgi"]};
    uwsgi_temp_path {temp["uwsgi"]};
    scgi_temp_path {temp["scgi"]};
    default_type application/octet-stream;
    sendfile on;
    keepalive_requests 10000;
    server {{
        listen 127.0.0.1:{http_port}{listen};
        root {root};
    }}
    server {{
        listen 127.0.0.1:{https_port} ssl{listen};
        ssl_certificate {folder}/server.pem;
        ssl_certificate_key {folder}/server.key;
        root {root};
    }}
}}
"""


def _wait_for_port(port, process, deadline):
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.02)
    return False


class NginxFixture:
    def __init__(self, root, send_buffer=None):
        """root: the folder served; send_buffer: the listening sockets' send buffer in bytes (None: the system's)."""
        self.root = os.path.abspath(root)
        self.send_buffer = send_buffer
        self.folder = None
        self.process = None
        self.http_port = self.https_port = None

    @property
    def ca_pem(self):
        return os.path.join(self.folder, "ca.pem")

    @property
    def access_log(self):
        return os.path.join(self.folder, "access.log")

    def url(self, name, tls=False):
        scheme, port = ("https", self.https_port) if tls else ("http", self.http_port)
        return f"{scheme}://127.0.0.1:{port}/{name}"

    def start(self):
        why = missing_tools()
        if why:
            raise RuntimeError(why)
        self.folder = tempfile.mkdtemp(prefix="mediadetect-nginx-")
        try:
            make_certificates(self.folder)
            for attempt in range(5):  # another process may take a free port before nginx binds it
                self.http_port, self.https_port = free_port(), free_port()
                if self.http_port == self.https_port:
                    continue
                conf = os.path.join(self.folder, "nginx.conf")
                with open(conf, "w") as f:
                    f.write(_config(self.folder, self.root, self.http_port, self.https_port, self.send_buffer))
                log = open(os.path.join(self.folder, "stderr.log"), "w")
                self.process = subprocess.Popen([NGINX, "-p", self.folder, "-c", conf, "-e",
                                                 os.path.join(self.folder, "error.log")],
                                                stdin=subprocess.DEVNULL, stdout=log, stderr=log)
                log.close()
                deadline = time.monotonic() + START_TIMEOUT_S
                if _wait_for_port(self.http_port, self.process, deadline) and \
                        _wait_for_port(self.https_port, self.process, deadline):
                    return self
                self._stop_process()
            raise RuntimeError("nginx did not start: " + self._errors())
        except BaseException:
            self.stop()
            raise

    def _errors(self):
        text = ""
        for name in ("stderr.log", "error.log"):
            path = os.path.join(self.folder, name)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    text += f.read()[-2000:]
        return text.strip() or "no message"

    def _stop_process(self):
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)  # graceful: finishes the log lines of open requests
            try:
                self.process.wait(STOP_TIMEOUT_S)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def stop(self):
        self._stop_process()
        if self.folder:
            shutil.rmtree(self.folder, ignore_errors=True)
            self.folder = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def log_mark(self):
        """The access log's size now: requests_since(mark) gives the requests logged after this point."""
        return os.path.getsize(self.access_log) if os.path.exists(self.access_log) else 0

    def requests_since(self, mark):
        """The requests logged after mark. nginx writes a request's line when the request ends, before the
        client has seen the end of its answer; a short wait lets the last line land."""
        time.sleep(0.05)
        if not os.path.exists(self.access_log):
            return []
        with open(self.access_log, errors="replace") as f:
            f.seek(mark)
            return [e for e in map(parse_log_line, f) if e is not None]


def main(argv):
    if len(argv) != 3 or argv[1] != "serve":
        print("usage: nginx_fixture.py serve FOLDER", file=sys.stderr)
        return 2
    with NginxFixture(argv[2]) as web:
        print(f"http  {web.url('')}\nhttps {web.url('', tls=True)}\nca    {web.ca_pem}\nlog   {web.access_log}",
              flush=True)
        try:
            signal.pause()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
