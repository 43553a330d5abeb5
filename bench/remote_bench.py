#!/usr/bin/env python3
"""Remote files: requests, bytes fetched and wall time of `mediadetect URL`, `ffprobe URL` and `mediainfo URL` for
large files served by nginx behind a slow link, side by side, as a markdown table.

The link is a TCP proxy of this script's own between the tools and nginx: it holds every chunk DELAY_S in each
direction (a 20 ms round trip; this kernel has no netem) and lets at most RATE_BYTES_S through per direction and
connection (200 Mbit/s). Requests and bytes are counted from nginx's access log ($request, $body_bytes_sent): what
left nginx, for every tool alike. Usage (bench/remote.sh runs it):
    remote_bench.py --tool build/mediadetect [--runs N] FILE...
"""
import argparse
import asyncio
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "remote"))
from nginx_fixture import NginxFixture, free_port, missing_tools  # noqa: E402

DELAY_S = 0.010  # each direction: a 20 ms round trip
RATE_BYTES_S = 200_000_000 / 8  # 200 Mbit/s
CHUNK = 64 * 1024
# At most this much in flight inside the proxy per direction, about the link's bandwidth-delay product, so that
# a client that closes a connection early leaves little sent but never received.
QUEUE_CHUNKS = 8
SOCKET_BUFFER = 256 * 1024  # nginx's send buffer and the proxy's upstream receive buffer
COMMAND_TIMEOUT_S = 600
CONNECT_TIMEOUT_S = 10


async def _pump(reader, writer):
    """Copies one direction: each chunk leaves DELAY_S after it arrived, and no faster than RATE_BYTES_S."""
    queue = asyncio.Queue(QUEUE_CHUNKS)

    async def read():
        while True:
            data = await reader.read(CHUNK)
            await queue.put((time.monotonic() + DELAY_S, data))
            if not data:
                return

    async def write():
        free_at = time.monotonic()  # when the link has carried everything before
        while True:
            due, data = await queue.get()
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            # The chunk starts across the link when it is due and the link is free, and is across when its last
            # byte is.
            free_at = max(free_at, due) + len(data) / RATE_BYTES_S
            delay = free_at - time.monotonic()
            if delay > 0:
                await asyncio.sleep(delay)
            writer.write(data)
            await writer.drain()

    tasks = [asyncio.ensure_future(read()), asyncio.ensure_future(write())]
    try:
        await asyncio.gather(*tasks)
    except (ConnectionError, OSError):
        pass
    finally:
        for t in tasks:
            t.cancel()


async def _serve_connection(client_reader, client_writer, upstream_port):
    try:
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, SOCKET_BUFFER)
        sock.setblocking(False)
        await asyncio.wait_for(asyncio.get_running_loop().sock_connect(sock, ("127.0.0.1", upstream_port)),
                               CONNECT_TIMEOUT_S)
        up_reader, up_writer = await asyncio.open_connection(sock=sock)
    except (OSError, asyncio.TimeoutError):
        client_writer.close()
        return
    try:
        await asyncio.gather(_pump(client_reader, up_writer), _pump(up_reader, client_writer))
    finally:
        for w in (client_writer, up_writer):
            w.close()


class SlowLink:
    """The proxy, on its own thread and event loop, listening on 127.0.0.1:port."""

    def __init__(self, upstream_port):
        self.upstream_port = upstream_port
        self.port = free_port()
        self.loop = asyncio.new_event_loop()
        self.ready = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.connections = set()  # the loop holds its tasks weakly: these are held here until they end

    def _connected(self, reader, writer):
        task = self.loop.create_task(_serve_connection(reader, writer, self.upstream_port))
        self.connections.add(task)
        task.add_done_callback(self.connections.discard)

    def _run(self):
        asyncio.set_event_loop(self.loop)

        async def start():
            return await asyncio.start_server(self._connected, "127.0.0.1", self.port)

        self.server = self.loop.run_until_complete(start())
        self.ready.set()
        self.loop.run_forever()

    def __enter__(self):
        self.thread.start()
        if not self.ready.wait(CONNECT_TIMEOUT_S):
            raise RuntimeError("the proxy did not start")
        return self

    async def _shutdown(self):
        """Stops listening and ends every open connection's pumps, so that the loop stops with no task pending."""
        self.server.close()
        tasks = [t for t in asyncio.all_tasks() if t is not asyncio.current_task()]
        for t in tasks:
            t.cancel()
        await asyncio.gather(*tasks, return_exceptions=True)

    def __exit__(self, *exc):
        asyncio.run_coroutine_threadsafe(self._shutdown(), self.loop).result(CONNECT_TIMEOUT_S)
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join(CONNECT_TIMEOUT_S)
        self.loop.close()


def measure(command, web, runs):
    """(requests, bytes) nginx logged for the first run, the median wall time of all runs, and whether every run
    succeeded."""
    walls, counted, ok = [], None, True
    for _ in range(runs):
        mark = web.log_mark()
        start = time.monotonic()
        try:
            result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                    timeout=COMMAND_TIMEOUT_S)
            ok &= result.returncode == 0
        except subprocess.TimeoutExpired:
            ok = False
        walls.append(time.monotonic() - start)
        time.sleep(0.2)  # connections the tool left open are closed, and their log lines written
        logged = web.requests_since(mark)
        if counted is None:
            counted = (len(logged), sum(e.body_bytes for e in logged))
    return counted[0], counted[1], statistics.median(walls), ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("files", nargs="+", help="LABEL=PATH")
    args = parser.parse_args()
    why = missing_tools()
    if why:
        print(f"remote_bench: {why}", file=sys.stderr)
        return 1
    tools = [("mediadetect", [os.path.abspath(args.tool)])]
    if shutil.which("ffprobe"):
        tools.append(("ffprobe", ["ffprobe", "-v", "error", "-show_format", "-show_streams"]))
    if shutil.which("mediainfo"):
        tools.append(("mediainfo", ["mediainfo", "--Output=JSON"]))
    with tempfile.TemporaryDirectory(prefix="mediadetect-bench-") as served:
        entries = []
        for i, spec in enumerate(args.files):
            label, path = spec.split("=", 1)
            name = f"{i}_{os.path.basename(path)}"
            os.symlink(os.path.abspath(path), os.path.join(served, name))
            entries.append((label, name, os.path.getsize(path)))
        with NginxFixture(served, send_buffer=SOCKET_BUFFER) as web, SlowLink(web.http_port) as link:
            print(f"link: {DELAY_S * 2e3:.0f} ms round trip, {RATE_BYTES_S * 8 / 1e6:.0f} Mbit/s; "
                  f"{args.runs} runs each, median wall time; requests and bytes from nginx's access log\n")
            header = "| file | size | " + " | ".join(f"{t} requests | {t} MB | {t} s" for t, _ in tools)
            print(header + " | × " + " | × ".join(t for t, _ in tools[1:]) + " |")
            print("|---" * (2 + 3 * len(tools) + len(tools) - 1) + "|")
            for label, name, size in entries:
                url = f"http://127.0.0.1:{link.port}/{urllib.parse.quote(name)}"
                cells, walls = [], []
                for tool, command in tools:
                    requests, fetched, wall, ok = measure(command + [url], web, args.runs)
                    mark = "" if ok else " (failed)"
                    cells += [f"{requests}{mark}", f"{fetched / 1e6:.2f}", f"{wall:.3f}"]
                    walls.append(wall)
                ratios = [f"{w / walls[0]:.1f}" for w in walls[1:]]
                print(f"| {label} | {size / 1e6:.0f} MB | " + " | ".join(cells) + " | " + " | ".join(ratios) + " |",
                      flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
