#!/usr/bin/env python3
"""An HTTP server that misbehaves on purpose, for the remote input tests.

    fault_server.py ROOT

Binds 127.0.0.1 on a free port, prints "PORT <n>" on its first line and serves the files of ROOT under
/<behaviour>/<file name>, each behaviour a way servers answer range requests:

    range      honours Range (206 and Content-Range; 416 past the end; 200 without Range)
    norange    ignores Range: 200 and the whole body
    closeonce  the first request of each file sends half its body and closes the connection
    fail500once  the first request of each file gets 500, the later ones are served
    fail500    always 500
    failafterfirst  the first request of each file is served, every later one gets 500
    badrange   206 with a Content-Range one byte off the range asked
    stall      206 headers, then no byte for a minute
    missing    404 with an S3 NoSuchKey document
    denied     403
    signed     checks the request's AWS SigV4 signature (access key AKIDMEDIADETECT, secret FAULTSERVERSECRET,
               region us-east-1, service s3; a session token must be signed too): 403 SignatureDoesNotMatch
               when it is wrong, else as range
    redirect/N/<file>  302 to redirect/N-1/<file>, and redirect/1/<file> to range/<file>: N redirects
"""
import hashlib
import hmac
import os
import re
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit

ROOT = sys.argv[1] if len(sys.argv) > 1 else "."
STALL_SECONDS = 60
LOCK = threading.Lock()
FAILED = set()  # (behaviour, file) that already failed once


ACCESS_KEY = "AKIDMEDIADETECT"
SECRET_KEY = "FAULTSERVERSECRET"


def sigv4_ok(method, target, headers):
    """Whether the Authorization header is the SigV4 signature of the request, as S3 computes it: the path as
    sent, the query sorted, the signed headers in lower case, and x-amz-content-sha256 as the payload hash."""
    match = re.fullmatch(r"AWS4-HMAC-SHA256 Credential=([^/]+)/(\d{8})/([^/]+)/s3/aws4_request, "
                         r"SignedHeaders=([a-z0-9;-]+), Signature=([0-9a-f]{64})", headers.get("Authorization", ""))
    if not match or match.group(1) != ACCESS_KEY:
        return False
    date, region, signed, signature = match.group(2), match.group(3), match.group(4).split(";"), match.group(5)
    payload = headers.get("x-amz-content-sha256")
    if payload is None or "host" not in signed or "x-amz-content-sha256" not in signed:
        return False
    if "x-amz-security-token" in headers and "x-amz-security-token" not in signed:
        return False
    parts = urlsplit(target)
    query = "&".join(sorted(p for p in parts.query.split("&") if p))
    canonical_headers = "".join("%s:%s\n" % (h, " ".join(headers.get(h, "").split())) for h in signed)
    canonical = "\n".join([method, parts.path, query, canonical_headers, ";".join(signed), payload])
    scope = "%s/%s/s3/aws4_request" % (date, region)
    to_sign = "\n".join(["AWS4-HMAC-SHA256", headers.get("x-amz-date", ""), scope,
                         hashlib.sha256(canonical.encode()).hexdigest()])
    key = ("AWS4" + SECRET_KEY).encode()
    for part in (date, region, "s3", "aws4_request"):
        key = hmac.new(key, part.encode(), hashlib.sha256).digest()
    return hmac.compare_digest(hmac.new(key, to_sign.encode(), hashlib.sha256).hexdigest(), signature)


def first_time(key):
    with LOCK:
        if key in FAILED:
            return False
        FAILED.add(key)
        return True


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_body(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except OSError:
            pass

    def send_file(self, status, path, first, length, headers=()):
        """Sends length bytes of the file from first on, a piece at a time (a client may leave early)."""
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(length))
        self.end_headers()
        with open(path, "rb") as f:
            f.seek(first)
            while length > 0:
                piece = f.read(min(length, 1 << 16))
                if not piece:
                    break
                try:
                    self.wfile.write(piece)
                except OSError:
                    break
                length -= len(piece)

    def requested_range(self, size):
        match = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
        if not match:
            return None
        first = int(match.group(1))
        last = int(match.group(2)) if match.group(2) else size - 1
        return first, min(last, size - 1)

    def do_GET(self):
        parts = urlsplit(self.path).path.lstrip("/").split("/")
        behaviour = parts[0]
        if behaviour == "redirect" and len(parts) == 3 and parts[1].isdigit():
            hops = int(parts[1])
            target = "/range/" + parts[2] if hops <= 1 else "/redirect/%d/%s" % (hops - 1, parts[2])
            self.send_body(302, b"", [("Location", target)])
            return
        name = parts[-1]
        path = os.path.join(ROOT, os.path.basename(name))
        if behaviour == "missing" or not os.path.isfile(path):
            body = b"<?xml version=\"1.0\"?><Error><Code>NoSuchKey</Code><Message>gone</Message></Error>"
            self.send_body(404, body, [("Content-Type", "application/xml")])
            return
        if behaviour == "signed" and not sigv4_ok("GET", self.path, self.headers):
            self.send_body(403, b"<Error><Code>SignatureDoesNotMatch</Code></Error>")
            return
        if behaviour == "denied":
            self.send_body(403, b"<Error><Code>AccessDenied</Code></Error>")
            return
        refused_later = behaviour == "failafterfirst" and not first_time((behaviour, name))
        if behaviour == "fail500" or refused_later or (behaviour == "fail500once" and first_time((behaviour, name))):
            self.send_body(500, b"internal error")
            return
        size = os.path.getsize(path)
        asked = self.requested_range(size)
        if behaviour == "norange" or asked is None:
            self.send_file(200, path, 0, size)
            return
        first, last = asked
        if first >= size:
            self.send_body(416, b"", [("Content-Range", "bytes */%d" % size)])
            return
        with open(path, "rb") as f:
            f.seek(first)
            body = f.read(last + 1 - first)
        shown = (first + 1, last + 1) if behaviour == "badrange" else (first, last)
        headers = [("Content-Range", "bytes %d-%d/%d" % (shown[0], shown[1], size))]
        if behaviour == "stall":
            self.send_response(206)
            for name_, value in headers:
                self.send_header(name_, value)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.flush()
            time.sleep(STALL_SECONDS)
            self.close_connection = True
            return
        if behaviour == "closeonce" and len(body) > 1 and first_time((behaviour, name)):
            self.send_response(206)
            for name_, value in headers:
                self.send_header(name_, value)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            half = body[:len(body) // 2]
            self.wfile.write(half)
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
            return
        self.send_file(206, path, first, last + 1 - first, headers)


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that leaves mid-answer is what the tests do on purpose


def main():
    server = Server(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
