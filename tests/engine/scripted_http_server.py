#!/usr/bin/python3
"""An HTTP/1.1 server on 127.0.0.1 for the faults nginx cannot be made to produce.

Usage: scripted_http_server.py ROOT LOG FAULT_BYTES

Serves the files of ROOT at /MODE/NAME, honouring "Range: bytes=FIRST-[LAST]", one request per
connection. MODE says what happens to the first request for a later part of that file (a range
not starting at byte 0); every other request is answered plainly:
  plain           nothing special
  stall           FAULT_BYTES of the body, then silence with the connection held open
  trickle         FAULT_BYTES of the body, then one byte every half second
  reset           FAULT_BYTES of the body, then an abortive close (RST)
  whole-once      200 with the whole file instead of the range
  whole           200 with the whole file, to every such request
  shifted-once    206 with a Content-Range starting 1000 bytes later than asked
  split           no fault; every response head goes out in pieces 30 ms apart
and for every request, ranged or not:
  unsized         200 with the whole file, no length, and the connection closed at its end
  chunked         200 with the whole file in chunks of uneven sizes, one with an extension

Each request is logged to LOG as "GET /MODE/NAME FIRST LAST" (LAST -1 without a range), and
each fault as "STALL|TRICKLE|RESET|WHOLE|SHIFTED /MODE/NAME FIRST LAST SENT", where SENT counts
the body bytes sent before the fault (for TRICKLE: in all, logged when the client goes).
Prints its port, then serves until killed.
"""
import os
import socket
import struct
import sys
import threading
import time
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from loopback_listener import serve_forever  # noqa: E402

ROOT, LOG_PATH, FAULT_BYTES = sys.argv[1], sys.argv[2], int(sys.argv[3])
ONCE_MODES = {"stall", "trickle", "reset", "whole-once", "shifted-once"}
log_lock = threading.Lock()
state_lock = threading.Lock()
faulted = set()  # paths whose one-time fault has happened


def log(*words):
    with log_lock, open(LOG_PATH, "a") as out:
        out.write(" ".join(str(w) for w in words) + "\n")


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(4096)
        if not piece:
            return None
        data += piece
        if len(data) > 65536:
            return None
    return data.split(b"\r\n\r\n", 1)[0].decode("latin-1")


def parse_range(head, size):
    """(first, last) asked for, or None without a Range header."""
    for line in head.split("\r\n")[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() == "range":
            value = value.strip()
            if value.startswith("bytes="):
                first, _, last = value[6:].partition("-")
                first = int(first)
                last = int(last) if last else size - 1
                return first, min(last, size - 1)
    return None


def send_head(conn, lines, split):
    head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
    if not split:
        conn.sendall(head)
        return
    # Cut inside the status line, inside a header line and inside the blank line.
    cuts = sorted({7, len(head) // 2, len(head) - 3, len(head) - 1})
    start = 0
    for cut in cuts + [len(head)]:
        conn.sendall(head[start:cut])
        start = cut
        time.sleep(0.03)


def send_body(conn, data):
    view = memoryview(data)
    for offset in range(0, len(view), 65536):
        conn.sendall(view[offset:offset + 65536])


def send_whole_unframed(conn, data, chunked):
    lines = ["HTTP/1.1 200 OK", "Content-Type: application/octet-stream", "Connection: close"]
    if not chunked:
        send_head(conn, lines, False)
        send_body(conn, data)
        return
    send_head(conn, lines + ["Transfer-Encoding: chunked"], False)
    offset = 0
    for size in [1, 0x1000, 100000, 65535] * (len(data) // 100000 + 1):
        piece = data[offset:offset + size]
        if not piece:
            break
        extension = ";part=%d" % offset if size == 0x1000 else ""
        conn.sendall(b"%x%s\r\n" % (len(piece), extension.encode()) + piece + b"\r\n")
        offset += len(piece)
    conn.sendall(b"0\r\n\r\n")


def hold_until_client_goes(conn):
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def serve(conn):
    head = read_head(conn)
    if head is None:
        return
    path = head.split(" ")[1]
    parts = path.split("/")
    if len(parts) != 3 or ".." in parts:
        conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
        return
    mode, name = parts[1], parts[2]
    with open(os.path.join(ROOT, name), "rb") as f:
        data = f.read()
    size = len(data)
    asked = parse_range(head, size)
    first, last = asked if asked else (0, -1)
    log("GET", path, first, last)

    if mode in ("unsized", "chunked"):
        send_whole_unframed(conn, data, mode == "chunked")
        return

    fault = None
    if asked and first > 0:
        with state_lock:
            if mode == "whole" or (mode in ONCE_MODES and path not in faulted):
                faulted.add(path)
                fault = mode
    common = ["Content-Type: application/octet-stream", "Connection: close"]
    split = mode == "split"

    if asked is None or fault in ("whole", "whole-once"):
        if fault:
            log("WHOLE", path, first, last, size)
        send_head(conn, ["HTTP/1.1 200 OK", "Content-Length: %d" % size] + common, split)
        send_body(conn, data)
        return
    if first >= size:
        send_head(conn, ["HTTP/1.1 416 Range Not Satisfiable",
                         "Content-Range: bytes */%d" % size, "Content-Length: 0"] + common,
                  split)
        return
    if fault == "shifted-once":
        first += 1000
        log("SHIFTED", path, first - 1000, last, last - first + 1)
    body = data[first:last + 1]
    send_head(conn, ["HTTP/1.1 206 Partial Content",
                     "Content-Range: bytes %d-%d/%d" % (first, last, size),
                     "Content-Length: %d" % len(body)] + common, split)
    if fault in ("stall", "trickle", "reset"):
        send_body(conn, body[:FAULT_BYTES])
        if fault == "stall":
            log("STALL", path, first, last, FAULT_BYTES)
            hold_until_client_goes(conn)
        elif fault == "reset":
            time.sleep(0.5)  # let the bytes reach the client before the RST drops them
            log("RESET", path, first, last, FAULT_BYTES)
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            sent = FAULT_BYTES
            try:
                while sent < len(body):
                    time.sleep(0.5)
                    conn.sendall(body[sent:sent + 1])
                    sent += 1
            finally:
                log("TRICKLE", path, first, last, sent)
        return
    send_body(conn, body)


def main():
    serve_forever(serve)


main()
