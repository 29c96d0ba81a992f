#!/usr/bin/python3
"""An HTTP/1.1 server on 127.0.0.1 that misbehaves on purpose, one way per scenario.

Usage: fault_http_server.py LOG

Requests are for /SCENARIO/SIZE/NAME. The body of such a path is SIZE bytes that depend on
SCENARIO and SIZE only: the SHA-256 digests of "SCENARIO/SIZE:0", "SCENARIO/SIZE:1", ...
joined and cut to SIZE (the tests compute the same bytes). "Range: bytes=FIRST-[LAST]" is
honoured unless the scenario says otherwise; one request per connection.

Each request is logged to LOG as "REQ PATH RANGE" (RANGE "-" without one).
Prints its port, then serves until killed.
"""
import hashlib
import os
import socket
import sys
import threading
import time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from loopback_listener import serve_forever  # noqa: E402

LOG_PATH = sys.argv[1]
log_lock = threading.Lock()
state_lock = threading.Lock()
seen = {}  # path -> number of later-range (or segment) requests answered so far
bodies = {}
MAX_REQUEST_HEAD = 65536


def log(*words):
    with log_lock, open(LOG_PATH, "a") as out:
        out.write(" ".join(str(w) for w in words) + "\n")


def body_of(scenario, size):
    key = "%s/%d" % (scenario, size)
    with state_lock:
        if key in bodies:
            return bodies[key]
    out = bytearray()
    i = 0
    while len(out) < size:
        out += hashlib.sha256(("%s:%d" % (key, i)).encode()).digest()
        i += 1
    data = bytes(out[:size])
    with state_lock:
        bodies[key] = data
    return data


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(4096)
        if not piece or len(data) > MAX_REQUEST_HEAD:
            return None
        data += piece
    return data.split(b"\r\n\r\n", 1)[0].decode("latin-1")


def range_header(head):
    for line in head.split("\r\n")[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() == "range":
            return value.strip()
    return None


def parse_range(value, size):
    """(first, last, last_given) asked for, or None."""
    if not value or not value.startswith("bytes="):
        return None
    first, _, last = value[6:].partition("-")
    return int(first), min(int(last), size - 1) if last else size - 1, bool(last)


def count(path):
    with state_lock:
        seen[path] = seen.get(path, 0) + 1
        return seen[path]


def send_head(conn, lines, bytewise=False):
    head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
    if not bytewise:
        conn.sendall(head)
        return
    # Every byte its own segment on the wire, so the client reads the head a byte at a time.
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    for i in range(len(head)):
        conn.sendall(head[i:i + 1])
        time.sleep(0.001)


def send_body(conn, data):
    view = memoryview(data)
    for offset in range(0, len(view), 65536):
        conn.sendall(view[offset:offset + 65536])


COMMON = ["Content-Type: application/octet-stream", "Connection: close"]

# Content-Disposition names, by scenario. Header bytes are latin-1; control characters that a
# header cannot carry raw (a newline) come percent-encoded, which the client decodes.
DISPOSITIONS = {
    "cd-parent": 'attachment; filename="../../.bashrc"',
    "cd-absolute": 'attachment; filename="/etc/passwd"',
    "cd-backslash": 'attachment; filename="a\\..\\b"',
    "cd-dot": 'attachment; filename="."',
    "cd-dotdot": 'attachment; filename=".."',
    "cd-long": 'attachment; filename="%s.bin"' % ("n" * 296),
    "cd-control": 'attachment; filename="a\x01b\x1bc.bin"',
    "cd-encoded": 'attachment; filename="%2e%2e%2f%2e%2e%2fx%01y%1bz%0Aw.bin"',
    "cd-unquoted": "attachment; filename=../../../../tmp/brenloft-escape.bin",
}


def serve_ranged(conn, scenario, path, head, data, extra=(), bytewise=False):
    """A plain answer: 206 for a range, 200 otherwise; `scenario` may bend the later ranges."""
    size = len(data)
    asked = parse_range(range_header(head), size)
    lines_extra = list(extra)
    if asked is None:
        send_head(conn, ["HTTP/1.1 200 OK", "Content-Length: %d" % size] + lines_extra + COMMON,
                  bytewise)
        send_body(conn, data)
        return
    first, last, last_given = asked
    if first >= size:
        send_head(conn, ["HTTP/1.1 416 Range Not Satisfiable", "Content-Range: bytes */%d" % size,
                         "Content-Length: 0"] + COMMON)
        return
    shown_first, shown_last, shown_total = first, last, size
    if first > 0:
        n = count(path)
        if scenario == "whole-later":
            send_head(conn, ["HTTP/1.1 200 OK", "Content-Length: %d" % size] + COMMON)
            send_body(conn, data)
            return
        if n == 1 and scenario == "wrong-start":
            shown_first = first + 1000
        elif n == 1 and scenario == "wrong-end":
            shown_last = last - 1000
        elif n == 1 and scenario == "wrong-total":
            shown_total = size + 1
    body = data[shown_first:shown_last + 1]
    send_head(conn, ["HTTP/1.1 206 Partial Content",
                     "Content-Range: bytes %d-%d/%d" % (shown_first, shown_last, shown_total),
                     "Content-Length: %d" % len(body)] + lines_extra + COMMON, bytewise)
    if scenario == "short-close" and last_given and count(path) == 1:
        # The first segment request (the probe asks "bytes=0-") ends early with a clean close.
        send_body(conn, body[:len(body) // 2])
        time.sleep(0.3)
        return
    send_body(conn, body)


def serve_chunked(conn, scenario, data):
    lines = ["HTTP/1.1 200 OK", "Transfer-Encoding: chunked"] + COMMON
    if scenario == "cl-chunked":
        # A length that disagrees with the chunks: the chunks must win.
        lines.insert(1, "Content-Length: %d" % (len(data) // 2))
    send_head(conn, lines)
    half = len(data) // 2
    conn.sendall(b"%x\r\n" % half + data[:half] + b"\r\n")
    bad = {"chunk-negative": b"-10", "chunk-huge": b"ffffffffffffffffff",
           "chunk-nonhex": b"zz"}.get(scenario)
    if bad is not None:
        conn.sendall(bad + b"\r\n" + data[half:] + b"\r\n0\r\n\r\n")
        return
    conn.sendall(b"%x\r\n" % (len(data) - half) + data[half:] + b"\r\n0\r\n\r\n")


def serve(conn):
    head = read_head(conn)
    if head is None:
        return
    path = head.split(" ")[1]
    log("REQ", path, (range_header(head) or "-").replace(" ", ""))
    parts = path.split("/")
    if len(parts) != 4 or not parts[2].isdigit():
        conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
        return
    scenario, size, name = parts[1], int(parts[2]), parts[3]
    data = body_of(scenario, size)

    if scenario == "byte-head":
        serve_ranged(conn, scenario, path, head, data, bytewise=True)
    elif scenario == "huge-head":
        send_head(conn, ["HTTP/1.1 200 OK", "Content-Length: %d" % size,
                         "X-Filler: " + "a" * (1 << 20)] + COMMON)
        send_body(conn, data)
    elif scenario == "many-lines":
        send_head(conn, ["HTTP/1.1 200 OK", "Content-Length: %d" % size]
                  + ["X-Line-%d: %d" % (i, i) for i in range(10000)] + COMMON)
        send_body(conn, data)
    elif scenario in ("cl-chunked", "chunk-negative", "chunk-huge", "chunk-nonhex"):
        serve_chunked(conn, scenario, data)
    elif scenario in ("loop-a", "loop-b"):
        other = "loop-b" if scenario == "loop-a" else "loop-a"
        send_head(conn, ["HTTP/1.1 302 Found", "Location: /%s/%d/%s" % (other, size, name),
                         "Content-Length: 0"] + COMMON)
    elif scenario == "to-file":
        send_head(conn, ["HTTP/1.1 302 Found", "Location: file:///etc/passwd",
                         "Content-Length: 0"] + COMMON)
    elif scenario == "to-data":
        send_head(conn, ["HTTP/1.1 302 Found", "Location: data:text/plain,x",
                         "Content-Length: 0"] + COMMON)
    elif scenario in DISPOSITIONS:
        serve_ranged(conn, scenario, path, head, data,
                     extra=["Content-Disposition: " + DISPOSITIONS[scenario]])
    else:
        serve_ranged(conn, scenario, path, head, data)


def main():
    serve_forever(serve)


main()
