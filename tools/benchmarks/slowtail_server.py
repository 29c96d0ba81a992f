#!/usr/bin/python3
"""An HTTP/1.1 server for one file, on 127.0.0.1, for benchmarks: every connection is paced at
FAST bytes per second except every third accepted one (the 3rd, 6th, 9th...), which gets a tenth.
A download split into fixed parts waits for its slow connection; one that moves work away from
a slow connection does not.

usage: slowtail_server.py FILE [FAST_BYTES_PER_S]
It prints the port it listens on, then serves until SIGTERM. SIGUSR1 starts the count of
connections anew and is answered with a line "reset", so every run of a tool sees the same
pattern. The bench uses it through SlowTail, which starts and stops it by its pid."""
import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time

CHUNK = 8192  # small, so the pacing is smooth even at the slow rate
RANGE = re.compile(r"bytes=(\d*)-(\d*)$")


def parse_range(value, size):
    """(first, last) of a single byte range, None when there is no usable range (the whole file
    is sent), "unsatisfiable" when it starts past the end."""
    match = RANGE.match(value.strip()) if value else None
    if not match or (not match.group(1) and not match.group(2)):
        return None
    first, last = match.group(1), match.group(2)
    if not first:  # the last N bytes
        count = int(last)
        if count == 0:
            return "unsatisfiable"
        return max(0, size - count), size - 1
    first = int(first)
    last = min(int(last), size - 1) if last else size - 1
    if first >= size:
        return "unsatisfiable"
    if last < first:
        return None
    return first, last


class Server:
    def __init__(self, path, fast):
        self.path = path
        self.size = os.path.getsize(path)
        self.fast = fast
        self.accepted = 0
        self.lock = threading.Lock()
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)

    def reset(self, *_):
        with self.lock:
            self.accepted = 0
        print("reset", flush=True)

    def serve(self):
        while True:
            conn, _ = self.listener.accept()
            with self.lock:
                self.accepted += 1
                slow = self.accepted % 3 == 0
            rate = self.fast / 10 if slow else self.fast
            threading.Thread(target=self.answer, args=(conn, rate), daemon=True).start()

    def answer(self, conn, rate):
        with conn:
            try:
                self.answer_one(conn, rate)
            except OSError:
                pass  # the client went away, as clients that stop a part early do

    def answer_one(self, conn, rate):
        request = b""
        while b"\r\n\r\n" not in request:
            data = conn.recv(4096)
            if not data or len(request) > 65536:
                return
            request += data
        lines = request.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
        method = lines[0].split(" ", 1)[0]
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        if method not in ("GET", "HEAD"):
            conn.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\n"
                         b"Content-Length: 0\r\nConnection: close\r\n\r\n")
            return
        wanted = parse_range(headers.get("range"), self.size)
        if wanted == "unsatisfiable":
            conn.sendall(f"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */{self.size}"
                         f"\r\nContent-Length: 0\r\nConnection: close\r\n\r\n".encode())
            return
        if wanted is None:
            first, last = 0, self.size - 1
            head = "HTTP/1.1 200 OK\r\n"
        else:
            first, last = wanted
            head = (f"HTTP/1.1 206 Partial Content\r\n"
                    f"Content-Range: bytes {first}-{last}/{self.size}\r\n")
        head += (f"Content-Length: {last - first + 1}\r\nAccept-Ranges: bytes\r\n"
                 f"Content-Type: application/octet-stream\r\n"
                 f"Last-Modified: Tue, 01 Dec 2026 00:00:00 GMT\r\nConnection: close\r\n\r\n")
        conn.sendall(head.encode())
        if method == "HEAD":
            return
        self.send_paced(conn, first, last + 1, rate)

    def send_paced(self, conn, start, end, rate):
        # Against the connection's own clock: a late wake-up is made up by the next chunks,
        # so the rate holds on average whatever the sleeps' precision.
        began = time.monotonic()
        sent = 0
        with open(self.path, "rb") as f:
            while start + sent < end:
                due = began + sent / rate
                now = time.monotonic()
                if due > now:
                    time.sleep(due - now)
                chunk = os.pread(f.fileno(), min(CHUNK, end - start - sent), start + sent)
                if not chunk:
                    return
                conn.sendall(chunk)
                sent += len(chunk)


class SlowTail:
    """The server above as a child process, for `with`."""
    def __init__(self, path, fast=2e6):
        self.command = [sys.executable, os.path.abspath(__file__), path, str(fast)]
        self.proc = None
        self.port = None

    def __enter__(self):
        self.proc = subprocess.Popen(self.command, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if not line.strip().isdigit():
            self.__exit__()
            raise RuntimeError("the slow-tail server did not start")
        self.port = int(line)
        return self

    def reset(self):
        """Counts connections from one again; returns once the server has done so."""
        os.kill(self.proc.pid, signal.SIGUSR1)
        if self.proc.stdout.readline().strip() != "reset":
            raise RuntimeError("the slow-tail server did not reset")

    def __exit__(self, *exc):
        if self.proc and self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGTERM)
            self.proc.wait(timeout=10)
        if self.proc:
            self.proc.stdout.close()


def main():
    path = sys.argv[1]
    fast = float(sys.argv[2]) if len(sys.argv) > 2 else 2e6
    server = Server(path, fast)
    signal.signal(signal.SIGUSR1, server.reset)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    print(server.listener.getsockname()[1], flush=True)
    server.serve()


if __name__ == "__main__":
    main()
