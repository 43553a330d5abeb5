#!/usr/bin/env python3
"""The tool over HTTP and HTTPS against a real nginx: every corpus file (and the real-world samples when present)
gives the same --json from a URL as from the disk, "file" and "stats" aside; HTTPS without the test CA fails
clearly; --stats counts what nginx logged; a missing object, scan and the time table over a URL.
Usage: http_check.py TOOL SOURCE_DIR. Exits 77 (skipped) when nginx or openssl is missing."""
import json
import os
import subprocess
import sys
import tempfile
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from nginx_fixture import NginxFixture, missing_tools  # noqa: E402

SKIPPED = 77
TOOL_TIMEOUT_S = 300  # the whole corpus in one process: seconds, bounded in case a request hangs
# The environment variables that could make an untrusted certificate pass.
TRUST_VARIABLES = ("MEDIADETECT_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR", "CURL_CA_BUNDLE")
SKIP_SUFFIXES = (".md", ".sh", ".json", ".txt", ".csv")


def media_files(source):
    """(folder name under the served root, file name) of every corpus and real-world file."""
    folders = {"data": os.path.join(source, "tests", "data"),
               "realworld": os.environ.get("MEDIADETECT_TEST_REALWORLD",
                                           os.path.join(source, "..", "shared", "realworld"))}
    files = []
    for name, folder in folders.items():
        if os.path.isdir(folder):
            files += [(name, f) for f in sorted(os.listdir(folder))
                      if os.path.isfile(os.path.join(folder, f)) and not f.endswith(SKIP_SUFFIXES)]
    return folders, files


def run_tool(tool, args, env):
    result = subprocess.run([tool, *args], capture_output=True, text=True, env=env, timeout=TOOL_TIMEOUT_S)
    return result.returncode, [json.loads(line) for line in result.stdout.splitlines()], result.stderr


def without_location(obj):
    return {k: v for k, v in obj.items() if k not in ("file", "stats")}


class Checker:
    def __init__(self):
        self.problems = 0

    def expect(self, condition, message):
        if not condition:
            self.problems += 1
            print("FAIL:", message)
        return condition


def main():
    why = missing_tools()
    if why:
        print(f"skipped: {why}")
        return SKIPPED
    tool, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    folders, files = media_files(source)
    check = Checker()
    base_env = {k: v for k, v in os.environ.items() if k not in TRUST_VARIABLES}
    with tempfile.TemporaryDirectory(prefix="mediadetect-http-") as served:
        # One root for both folders: a link to each.
        for name, folder in folders.items():
            if os.path.isdir(folder):
                os.symlink(os.path.abspath(folder), os.path.join(served, name))
        with NginxFixture(served) as web:
            trusted = dict(base_env, MEDIADETECT_CA_BUNDLE=web.ca_pem)
            paths = [os.path.join(folders[d], f) for d, f in files]
            names = [f"{d}/{urllib.parse.quote(f)}" for d, f in files]

            # The same records from the disk, over HTTP and over HTTPS.
            _, disk, _ = run_tool(tool, ["--json", *paths], base_env)
            check.expect(len(disk) == len(files), f"{len(disk)} objects from disk for {len(files)} files")
            for tls in (False, True):
                urls = [web.url(n, tls) for n in names]
                _, remote, err = run_tool(tool, ["--json", *urls], trusted)
                scheme = "https" if tls else "http"
                if not check.expect(len(remote) == len(files), f"{scheme}: {len(remote)} objects: {err[-500:]}"):
                    continue
                for path, mine, theirs in zip(paths, remote, disk):
                    check.expect(without_location(mine) == without_location(theirs),
                                 f"{scheme}: {os.path.basename(path)}: {json.dumps(mine)[:300]} "
                                 f"!= {json.dumps(theirs)[:300]}")

            # HTTPS without the CA that signed the server's certificate: a clear failure, never a success.
            sample = names[0]
            status, untrusted, err = run_tool(tool, ["--json", web.url(sample, True)], base_env)
            reason = untrusted[0].get("error", "") if untrusted else ""
            check.expect(status == 2 and "kind" not in (untrusted or [{}])[0],
                         f"an untrusted certificate was accepted: {untrusted}")
            check.expect("certificate" in reason.lower(), f"the reason does not name the certificate: {reason!r}")

            # --stats counts every request and body byte nginx logged for the examination.
            for d, f in files[:: max(1, len(files) // 12)]:
                mark = web.log_mark()
                _, objects, _ = run_tool(tool, ["--json", "--stats", web.url(f"{d}/{urllib.parse.quote(f)}")],
                                         base_env)
                logged = web.requests_since(mark)
                stats = objects[0].get("stats", {}) if objects else {}
                check.expect(stats.get("requests") == len(logged) and len(logged) >= 1 and
                             stats.get("bytesFetched") == sum(e.body_bytes for e in logged),
                             f"{f}: stats {stats} against {len(logged)} logged requests of "
                             f"{sum(e.body_bytes for e in logged)} bytes")
                check.expect(all(e.range.startswith("bytes=") for e in logged), f"{f}: a request without a range")

            # A missing object: the file error of a missing file, the server's reason, and never the query string
            # (where a presigned URL carries its signature).
            secret = "Signature=0123456789abcdef0123456789abcdef"
            status, objects, err = run_tool(tool, ["--json", web.url("data/missing.ts?X-Amz-" + secret)], base_env)
            reason = objects[0].get("error", "") if objects else ""
            check.expect(status == 2 and "0x80070002" in reason, f"a missing object: {objects} {err!r}")
            check.expect("0123456789abcdef" not in reason + err, f"the query string is printed: {reason!r}")

            # scan examines URLs as the single-file tool does, in input order.
            urls = [web.url(n) for n in names[:6]]
            _, single, _ = run_tool(tool, ["--json", *urls], base_env)
            _, scanned, _ = run_tool(tool, ["scan", "--json", "--jobs", "3", *urls], base_env)
            check.expect(scanned == single and len(single) == len(urls), "scan of URLs differs from single files")

            # The time table over a URL is the one from the disk.
            vob = "dvd_mpeg2video_720x576_16x9_25i_tff_ac3_48k_5.1.vob"
            with tempfile.TemporaryDirectory() as store:
                env = dict(base_env, MEDIADETECT_REGISTRY=os.path.join(store, "registry.reg"),
                           MEDIADETECT_TIMEINDEX_DB=os.path.join(store, "index.sqlite"))
                subprocess.run([tool, "register"], env=env, check=True, capture_output=True, timeout=60)
                tables = [run_tool(tool, ["--json", "--time-table", where], env)[1]
                          for where in (os.path.join(folders["data"], vob), web.url("data/" + vob))]
                entries = [t[0].get("timeTable", {}).get("entries") if t else None for t in tables]
                check.expect(entries[0] and entries[0] == entries[1],
                             f"time table over HTTP: {str(entries[1])[:300]} != {str(entries[0])[:300]}")
    print(f"{len(files)} files over HTTP and HTTPS, {check.problems} problems")
    return 1 if check.problems else 0


if __name__ == "__main__":
    sys.exit(main())
