#!/usr/bin/env python3
"""An S3-compatible server (s3rver, from the npm registry as tests/remote/s3/package-lock.json pins it) on
127.0.0.1 with one bucket, for the tool's and the Python package's S3 tests.

    with S3Fixture(build_dir) as s3:
        s3.upload("corpus/clip.ts", "/path/to/clip.ts")
        env = s3.environment()     # AWS_ENDPOINT_URL, AWS_ACCESS_KEY_ID, ... for the module
        "s3://" + s3.bucket + "/corpus/"

s3rver is installed once with `npm ci` into BUILD_DIR/s3rver (the module's own S3 tests install it there too; a
lock keeps parallel installs apart) and keeps its objects in a temporary folder. unavailable() says why it cannot
run here (no node, npm, curl or flock, or no registry), for the tests to skip with that reason.
"""
import os
import queue
import shutil
import subprocess
import tempfile
import threading
import time
import urllib.parse

ACCESS_KEY = SECRET_KEY = "S3RVER"  # s3rver's built-in account
REGION = "us-east-1"
INSTALL_TIMEOUT_S = 300
START_TIMEOUT_S = 30
UPLOAD_TIMEOUT_S = 30
PACKAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "s3")
READY_LINE = "S3rver listening on "


def _install(build_dir):
    """The path of s3rver.js, installed into build_dir/s3rver when missing; raises RuntimeError with the reason."""
    folder = os.path.join(build_dir, "s3rver")
    script = os.path.join(folder, "node_modules", "s3rver", "bin", "s3rver.js")
    if os.path.exists(script):
        return script
    for tool in ("node", "npm", "curl", "flock"):
        if shutil.which(tool) is None:
            raise RuntimeError(f"{tool} is missing")
    if not os.path.exists(os.path.join(PACKAGE, "package-lock.json")):
        raise RuntimeError(f"no s3rver package to install ({PACKAGE}/package-lock.json)")
    os.makedirs(folder, exist_ok=True)
    for name in ("package.json", "package-lock.json"):
        shutil.copyfile(os.path.join(PACKAGE, name), os.path.join(folder, name))
    command = ("flock install.lock sh -c 'test -f node_modules/s3rver/bin/s3rver.js || "
               "npm ci --no-audit --no-fund --loglevel=error' >install.log 2>&1")
    try:
        result = subprocess.run(command, shell=True, cwd=folder, timeout=INSTALL_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        raise RuntimeError("npm ci of s3rver timed out") from None
    if result.returncode != 0 or not os.path.exists(script):
        raise RuntimeError(f"npm ci of s3rver failed (no npm registry?): see {folder}/install.log")
    return script


def unavailable(build_dir):
    """Why the fixture cannot run here, or None (installs s3rver on the way when it can)."""
    for tool in ("node", "curl"):
        if shutil.which(tool) is None:
            return f"{tool} is missing"
    try:
        _install(build_dir)
    except RuntimeError as e:
        return str(e)
    return None


class S3Fixture:
    def __init__(self, build_dir, bucket="media"):
        self.build_dir = build_dir
        self.bucket = bucket
        self.endpoint = None
        self.process = None
        self.drain = None
        self.data = None

    def environment(self, access_key=ACCESS_KEY, secret=SECRET_KEY):
        """The variables the module reads for s3:// paths, for this server. s3rver refuses an unknown access key;
        it does not check signatures, so a wrong secret alone passes."""
        return {"AWS_ENDPOINT_URL": self.endpoint, "AWS_ACCESS_KEY_ID": access_key, "AWS_SECRET_ACCESS_KEY": secret,
                "AWS_REGION": REGION}

    def start(self):
        script = _install(self.build_dir)
        self.data = tempfile.mkdtemp(prefix="mediadetect-s3-")
        # s3rver makes its continuation tokens with DES, which Node.js on OpenSSL 3 offers only from the legacy
        # provider (without it every truncated listing page is an error).
        legacy = subprocess.run(["node", "--openssl-legacy-provider", "-e", "0"], capture_output=True,
                                timeout=START_TIMEOUT_S).returncode == 0
        self.process = subprocess.Popen(
            ["node", "--openssl-legacy-provider" if legacy else "--no-warnings", script, "-d", self.data,
             "-a", "127.0.0.1", "-p", "0", "--silent", "--configure-bucket", self.bucket],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            line = self._wait_for_ready()
            self.endpoint = "http://" + line[line.rindex(" ") + 1:]
        except BaseException:
            self.stop()
            raise
        return self

    def _wait_for_ready(self):
        """s3rver's "listening" line. A thread reads its output to the end, so that the pipe never fills and
        blocks the server; lines it printed before are kept for the error."""
        lines = queue.Queue()

        def drain(stream):
            for line in stream:
                lines.put(line)
            lines.put(None)

        self.drain = threading.Thread(target=drain, args=(self.process.stdout,), daemon=True)
        self.drain.start()
        deadline = time.monotonic() + START_TIMEOUT_S
        seen = []
        while time.monotonic() < deadline:
            try:
                line = lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                break
            if line is None:
                break
            if READY_LINE in line:
                return line.strip()
            seen.append(line)
        raise RuntimeError("s3rver did not start: " + "".join(seen)[-1000:])

    def upload(self, key, path):
        """PUTs the file as the bucket's object key, signed with SigV4."""
        url = f"{self.endpoint}/{self.bucket}/{urllib.parse.quote(key)}"
        subprocess.run(["curl", "-sf", "--max-time", str(UPLOAD_TIMEOUT_S), "--aws-sigv4", f"aws:amz:{REGION}:s3",
                        "--user", f"{ACCESS_KEY}:{SECRET_KEY}", "-H", "x-amz-content-sha256: UNSIGNED-PAYLOAD",
                        "-T", path, url], check=True, stdout=subprocess.DEVNULL, timeout=UPLOAD_TIMEOUT_S + 5)

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            if self.drain is not None:
                self.drain.join(5)  # the output ends with the process
                self.drain = None
            self.process.stdout.close()
            self.process = None
        if self.data:
            shutil.rmtree(self.data, ignore_errors=True)
            self.data = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
