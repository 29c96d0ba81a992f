#!/usr/bin/python3
"""An HTTP/1.1 server on 127.0.0.1 that misbehaves on purpose, one way per MODE, for the faults
nginx cannot be made to produce. One request per connection.

usage: http_fault_server.py --log FILE [--root DIR] [--fault-bytes N] [--tls CERT KEY]
                           [--mode MODE] [--max-connections N]

With --mode every request is served in that MODE, whatever its path says: a file of DIR is
then found by its path's last part, so fixed paths (/velmora/version.txt) can misbehave too.

With --max-connections N at most N connections are served at once, their bodies paced (64 KiB
every 50 ms) so that they overlap. Each is logged as "ACCEPT COUNT", COUNT the connections
open then with it; one beyond N is reset before any byte (logged "REFUSED COUNT") unless a
place falls free within 0.3 s (a connection the client has just closed ends here), places going
in the order the connections came.

With --tls every connection speaks TLS; a reset then ends it without close_notify.

Paths:
  /MODE/NAME         the file NAME of DIR (with --root only)
  /MODE/SIZE/NAME    SIZE bytes that depend on MODE and SIZE only: the SHA-256 digests of
                     "MODE/SIZE:0", "MODE/SIZE:1", ... joined and cut to SIZE (the tests compute
                     the same bytes)
"Range: bytes=FIRST-[LAST]" is honoured unless the mode says otherwise. A later range is one
not starting at byte 0; "once" means the first later range asked for that path.

Later ranges:
  stall                      once: N body bytes, then silence with the connection held open
  trickle                    once: N body bytes, then one byte every half second
  reset                      once: N body bytes, then an abortive close (RST)
  whole-once                 once: 200 with the whole body instead of the range
  whole, whole-later         every one: 200 with the whole body
  shifted-once, wrong-start  once: a Content-Range (and body) starting 1000 bytes later
  wrong-end                  once: a Content-Range ending 1000 bytes early
  wrong-total                once: a Content-Range whose total is one byte more
  wrong-start-always, wrong-total-always   as above, every one
  over-end-always            every one: a Content-Range (and body) ending 1000 bytes later
  capped                     every range, the probe's too: at most 1000 bytes of it
  short-close                the first request naming its last byte (the probe asks
                             "bytes=0-"): half the body, then a clean close
  hangup                     every range not from byte 0: its 206 head, then a close
  range-chunked              every one: 206 with its range in chunks, no Content-Length
  range-chunked-over         every one: 206 naming its range, the chunks running on to the end
  html-later                 every one: 200 with a web page (text/html)
  page                       every one, the first too: the file as text/html with a charset
Files replaced after the first request for their path, which gets another body (of 1000 bytes
more for changed-size); If-Range honoured against the current version:
  changed, changed-size      an ETag and a Last-Modified date that change with the version
  changed-date               a Last-Modified date that changes, no ETag
Heads:
  split                      every head in pieces 30 ms apart
  byte-head                  every head a byte per TCP segment
  huge-head, many-lines      a 1 MiB header line, 10,000 header lines; 200 to any request
Bodies, to any request:
  unsized                    200 without a length, ended by the close
  chunked                    chunks of uneven sizes, one with an extension
  cl-chunked                 two chunks and a Content-Length that disagrees with them
  chunk-negative, chunk-huge, chunk-nonhex   the second chunk's size damaged
Whole answers, to any request:
  split-body                 the head and half the body, then the rest 200 ms later
  lf-head                    head lines ended by LF alone
  gzip                       with "Content-Encoding: gzip" (the body as it is)
  tight-length, tight-chunked   200 with no blank after any colon, the body sized or chunked
  spaced-colon               200 with a blank before every colon
  not-found-page             404 with the body "404"
  server-error-page          500 with the body "500"
  proxy-login                407 to every request, as a proxy that takes no login
  silent                     reads the request, never answers, holds the connection
Busy servers (requests counted per path):
  busy-first                 the first: 429 with "Retry-After: 1"
  busy-third                 the third: 429 with "Retry-After: 2"
  busy-twice                 the first two: 503 without Retry-After
  busy-always                every one: 503 without Retry-After
Signed addresses (SIZE bytes, those of mode "signed", with the strong ETag "s-SIZE", under any
token T):
  expire-BUDGET-T            BUDGET body bytes in all for its path (open ranges, "bytes=F-",
                             not counted), the connection cut where they run out; every request
                             after that: 403 (logged "EXPIRED PATH")
  token-T                    the same file, never expiring
  lookalike-T                another file of the same size, without an ETag
  retagged-T                 the same bytes with another ETag, "r-SIZE"
  bare-T                     the same bytes without an ETag
  expired-page               200 with a web page: "this link has expired"
Redirects: loop-a and loop-b to each other, to-file to file:///etc/passwd, to-data to a data:
URL. Names: cd-* send the Content-Disposition of DISPOSITIONS. Any other mode (plain) is
answered plainly.

Each request is logged to FILE as "GET PATH FIRST LAST RANGE" (0 -1 without a range; RANGE as
sent, "-" without one), each fault as "STALL|TRICKLE|RESET|WHOLE|SHIFTED PATH FIRST LAST SENT",
SENT counting the body bytes sent before it (for TRICKLE: in all, logged when the client goes).
Prints its port, then serves until killed.
"""
import argparse
import hashlib
import os
import socket
import ssl
import struct
import sys
import threading
import time
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from loopback_listener import serve_forever  # noqa: E402

MAX_REQUEST_HEAD = 65536
COMMON = ["Content-Type: application/octet-stream", "Connection: close"]
ONCE = {"stall", "trickle", "reset", "whole-once", "shifted-once", "wrong-start", "wrong-end",
        "wrong-total"}
WHOLE = {"whole", "whole-later"}
SHIFTED = {"shifted-once", "wrong-start"}
ALWAYS = {"wrong-start-always", "wrong-total-always", "over-end-always"}
SPELLINGS = {"tight-length": (": ", ":"), "tight-chunked": (": ", ":"), "spaced-colon": (":", " :"),
             "page": ("application/octet-stream", "text/html; charset=utf-8")}
DAMAGED_CHUNK = {"chunk-negative": b"-10", "chunk-huge": b"ffffffffffffffffff",
                 "chunk-nonhex": b"zz"}
REDIRECTS = {"loop-a": "/loop-b/%s", "loop-b": "/loop-a/%s", "to-file": "file:///etc/passwd",
             "to-data": "data:text/plain,x"}
# Header bytes are latin-1; control characters that a header cannot carry raw (a newline) come
# percent-encoded, which the client decodes.
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

log_lock = threading.Lock()
state_lock = threading.Lock()
happened = set()  # (path, what) of the one-time faults that have happened
bodies = {}
asked = {}  # requests per path
# mode: (status line, Retry-After or None, the requests answered so, None for all)
BUSY = {"busy-first": ("429 Too Many Requests", 1, {1}),
        "busy-third": ("429 Too Many Requests", 2, {3}),
        "busy-twice": ("503 Service Unavailable", None, {1, 2}),
        "busy-always": ("503 Service Unavailable", None, None)}


def once(path, what):
    with state_lock:
        first = (path, what) not in happened
        happened.add((path, what))
        return first


def put_off(conn, mode, path):
    """True when the busy MODE answers this request of PATH with its status."""
    with state_lock:
        asked[path] = asked.get(path, 0) + 1
        n = asked[path]
    status, after, which = BUSY[mode]
    if which is not None and n not in which:
        return False
    log("BUSY", path, status.split()[0])
    if mode == "busy-third":
        # Answered once the connections before it have their answers (their bodies come
        # slowly): the refusal is one of an extra connection, however loaded the machine.
        time.sleep(0.2)
    extra = b"" if after is None else b"Retry-After: %d\r\n" % after
    conn.sendall(b"HTTP/1.1 " + status.encode() + b"\r\n" + extra +
                 b"Content-Length: 0\r\nConnection: close\r\n\r\n")
    return True


def log(*words):
    with log_lock, open(OPTIONS.log, "a") as out:
        out.write(" ".join(str(w) for w in words) + "\n")


def generated_body(mode, size):
    key = "%s/%d" % (mode, size)
    with state_lock:
        if key in bodies:
            return bodies[key]
    out = bytearray()
    i = 0
    while len(out) < size:
        out += hashlib.sha256(("%s:%d" % (key, i)).encode()).digest()
        i += 1
    with state_lock:
        bodies[key] = bytes(out[:size])
        return bodies[key]


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


class Reply:
    """One connection's answer; heads go out whole, in pieces or a byte at a time by mode."""

    def __init__(self, conn, mode):
        self.conn = conn
        self.mode = mode

    def head(self, lines):
        lines = lines + COMMON + (["Content-Encoding: gzip"] if self.mode == "gzip" else [])
        if self.mode in SPELLINGS:
            lines = [line.replace(*SPELLINGS[self.mode]) for line in lines]
        head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
        if self.mode == "split":
            # Cut inside the status line, inside a header line and inside the blank line.
            start = 0
            for cut in sorted({7, len(head) // 2, len(head) - 3, len(head) - 1}) + [len(head)]:
                self.conn.sendall(head[start:cut])
                start = cut
                time.sleep(0.03)
        elif self.mode == "byte-head":
            # Every byte its own segment, so the client reads the head a byte at a time.
            self.conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            for i in range(len(head)):
                self.conn.sendall(head[i:i + 1])
                time.sleep(0.001)
        elif self.mode == "lf-head":
            self.conn.sendall(head.replace(b"\r\n", b"\n"))
        else:
            self.conn.sendall(head)

    def body(self, data):
        view = memoryview(data)
        for offset in range(0, len(view), 65536):
            if OPTIONS.max_connections and offset > 0:
                time.sleep(0.05)
            elif self.mode == "busy-third" and offset > 0:
                time.sleep(0.1)
            self.conn.sendall(view[offset:offset + 65536])

    def whole(self, data, extra=()):
        self.head(["HTTP/1.1 200 OK", "Content-Length: %d" % len(data)] + list(extra))
        self.body(data)

    def send_chunks(self, data, size):
        for offset in range(0, len(data), size):
            piece = data[offset:offset + size]
            self.conn.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
        self.conn.sendall(b"0\r\n\r\n")

    def chunked(self, data):
        lines = ["HTTP/1.1 200 OK", "Transfer-Encoding: chunked"]
        if self.mode == "cl-chunked":
            # A length that disagrees with the chunks: the chunks must win.
            lines.insert(1, "Content-Length: %d" % (len(data) // 2))
        self.head(lines)
        if self.mode == "chunked":
            sizes = [1, 0x1000, 100000, 65535] * (len(data) // 100000 + 1)
        else:
            sizes = [len(data) // 2, len(data)]
        offset = 0
        for size in sizes:
            piece = data[offset:offset + size]
            if not piece:
                break
            length = b"%x" % len(piece)
            if self.mode == "chunked" and size == 0x1000:
                length += b";part=%d" % offset
            if offset > 0 and self.mode in DAMAGED_CHUNK:
                length = DAMAGED_CHUNK[self.mode]
            self.conn.sendall(length + b"\r\n" + piece + b"\r\n")
            offset += len(piece)
        self.conn.sendall(b"0\r\n\r\n")


spent = {}  # body bytes an expiring path has sent


def serve_signed(reply, mode, path, asked, size):
    kind = mode.split("-")[0]
    if kind == "expired":
        page = b"<html><body>This link has expired.</body></html>"
        reply.conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n"
                           b"Connection: close\r\n\r\n" % len(page) + page)
        return
    data = generated_body("lookalike" if kind == "lookalike" else "signed", size)
    budget = int(mode.split("-")[1]) if kind == "expire" else None
    kind = "signed" if kind in ("expire", "token") else kind  # "bare": no ETag
    with state_lock:
        left = None if budget is None else budget - spent.get(path, 0)
    if left is not None and left <= 0:
        log("EXPIRED", path)
        reply.head(["HTTP/1.1 403 Forbidden", "Content-Length: 0"])
        return
    # An open range ("bytes=0-", a probe's) is neither counted nor cut: the bytes a client
    # asking only for the head lets pile up in its socket buffers would spend it at random.
    if asked is not None and not asked[2]:
        budget = None
    first, last = asked[:2] if asked else (0, size - 1)
    lines = ["HTTP/1.1 200 OK"] if asked is None else [
        "HTTP/1.1 206 Partial Content", "Content-Range: bytes %d-%d/%d" % (first, last, size)]
    etag = [] if kind in ("lookalike", "bare") else ['ETag: "%s-%d"' % (kind[0], size)]
    reply.head(lines + ["Content-Length: %d" % (last - first + 1)] + etag)
    offset = first
    while offset <= last:
        piece = min(16384, last + 1 - offset)
        with state_lock:
            if budget is not None:
                piece = min(piece, budget - spent.get(path, 0))
                spent[path] = spent.get(path, 0) + piece
        if piece <= 0:
            return
        reply.conn.sendall(data[offset:offset + piece])
        offset += piece


def hold_until_client_goes(conn):
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def fault_after_some_bytes(reply, mode, path, first, last, body):
    """stall, trickle or reset after the first N bytes of the body."""
    n = OPTIONS.fault_bytes
    reply.body(body[:n])
    if mode == "stall":
        log("STALL", path, first, last, n)
        hold_until_client_goes(reply.conn)
    elif mode == "reset":
        time.sleep(0.5)  # let the bytes reach the client before the RST drops them
        log("RESET", path, first, last, n)
        reply.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    else:
        sent = n
        try:
            while sent < len(body):
                time.sleep(0.5)
                reply.conn.sendall(body[sent:sent + 1])
                sent += 1
        finally:
            log("TRICKLE", path, first, last, sent)


def serve_range(reply, mode, path, asked, data, extra):
    size = len(data)
    first, last, last_given = asked
    if first >= size:
        reply.head(["HTTP/1.1 416 Range Not Satisfiable", "Content-Range: bytes */%d" % size,
                    "Content-Length: 0"])
        return
    fault = None
    if first > 0 and (mode in WHOLE or mode in ALWAYS or (mode in ONCE and once(path, "later"))):
        fault = mode.replace("-always", "")
    if fault in WHOLE or fault == "whole-once":
        log("WHOLE", path, first, last, size)
        reply.whole(data)
        return
    shown_first, shown_last, shown_total = first, last, size
    if fault in SHIFTED:
        shown_first += 1000
        log("SHIFTED", path, first, last, last - shown_first + 1)
    elif fault == "wrong-end":
        shown_last -= 1000
    elif fault == "over-end":
        shown_last = min(last + 1000, size - 1)
    elif mode == "capped":
        shown_last = min(last, first + 999)
    elif fault == "wrong-total":
        shown_total += 1
    body = data[shown_first:shown_last + 1]
    if first > 0 and mode == "hangup":
        # A head, then the connection closed: every time.
        log("HANGUP", path, first, last, 0)
        reply.head(["HTTP/1.1 206 Partial Content",
                    "Content-Range: bytes %d-%d/%d" % (first, last, size),
                    "Content-Length: %d" % len(body)])
        return
    if first > 0 and mode in ("range-chunked", "range-chunked-over"):
        reply.head(["HTTP/1.1 206 Partial Content", "Transfer-Encoding: chunked",
                    "Content-Range: bytes %d-%d/%d" % (first, last, size)])
        reply.send_chunks(data[first:] if mode == "range-chunked-over" else body, 30000)
        return
    reply.head(["HTTP/1.1 206 Partial Content",
                "Content-Range: bytes %d-%d/%d" % (shown_first, shown_last, shown_total),
                "Content-Length: %d" % len(body)] + extra)
    if fault in ("stall", "trickle", "reset"):
        fault_after_some_bytes(reply, fault, path, first, last, body)
    elif mode == "short-close" and last_given and once(path, "short"):
        reply.body(body[:len(body) // 2])
        time.sleep(0.3)
    else:
        reply.body(body)


def header_value(head, wanted):
    for line in head.split("\r\n")[1:]:
        name, _, value = line.partition(":")
        if name.strip().lower() == wanted:
            return value.strip()
    return None


def serve_changing(reply, mode, path, head, data):
    first = once(path, "replaced")
    if first:
        data = generated_body(mode + "-old", len(data) + (1000 if mode == "changed-size" else 0))
    date = "Mon, 01 Jan 2024 00:00:00 GMT" if first else "Tue, 02 Jan 2024 00:00:00 GMT"
    etag = '"old"' if first else '"new"'
    validators = ["Last-Modified: " + date] + ([] if mode == "changed-date" else ["ETag: " + etag])
    current = date if mode == "changed-date" else etag
    asked = parse_range(range_header(head), len(data))
    if_range = header_value(head, "if-range")
    if asked is None or (if_range is not None and if_range != current):
        reply.whole(data, validators)
    else:
        serve_range(reply, "plain", path, asked, data, validators)


def root_file(name):
    try:
        with open(os.path.join(OPTIONS.root, name), "rb") as f:
            return f.read()
    except OSError:
        return None


def serve(conn):
    if TLS:
        try:
            conn = TLS.wrap_socket(conn, server_side=True)
        except (ssl.SSLError, OSError):
            return
    head = read_head(conn)
    if head is None:
        return
    path = head.split(" ")[1]
    parts = path.split("/")
    data = None
    if len(parts) == 4 and parts[2].isdigit():
        mode, size, name = parts[1], int(parts[2]), parts[3]
        data = generated_body(mode, size)
    elif len(parts) == 3 and OPTIONS.root and ".." not in parts:
        mode, name = parts[1], parts[2]
        data = root_file(name)
    if OPTIONS.mode:
        mode = OPTIONS.mode
        if data is None and OPTIONS.root and ".." not in parts:
            name = parts[-1]
            data = root_file(name)
    sent_range = range_header(head)
    asked = parse_range(sent_range, len(data)) if data is not None else None
    first, last = asked[:2] if asked else (0, -1)
    log("GET", path, first, last, (sent_range or "-").replace(" ", ""))
    if OPTIONS.mode == "silent":
        log("SILENT", path)
        hold_until_client_goes(conn)
        return
    if OPTIONS.mode == "proxy-login":
        conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic "
                     b"realm=\"p\"\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
        return
    if OPTIONS.mode in ("not-found-page", "server-error-page"):
        status = b"404 Not Found" if OPTIONS.mode == "not-found-page" else b"500 Server Error"
        conn.sendall(b"HTTP/1.1 " + status + b"\r\nContent-Length: 3\r\nConnection: close\r\n"
                     b"\r\n" + status[:3])
        return
    if data is not None and mode in BUSY and put_off(conn, mode, path):
        return
    reply = Reply(conn, mode if data is not None else "plain")
    if data is not None and mode == "html-later" and first > 0:
        page = b"<html><body>This link has expired.</body></html>"
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n"
                     b"Connection: close\r\n\r\n" % len(page) + page)
    elif mode.split("-")[0] in ("expire", "token", "lookalike", "retagged", "bare", "expired") \
            and len(parts) == 4:
        serve_signed(reply, mode, path, asked, len(data))
    elif data is not None and mode in ("changed", "changed-size", "changed-date"):
        serve_changing(reply, mode, path, head, data)
    elif data is None:
        reply.head(["HTTP/1.1 404 Not Found", "Content-Length: 0"])
    elif mode == "split-body":
        reply.head(["HTTP/1.1 200 OK", "Content-Length: %d" % len(data)])
        reply.body(data[:len(data) // 2])
        time.sleep(0.2)
        reply.body(data[len(data) // 2:])
    elif mode in ("tight-length", "spaced-colon"):
        reply.whole(data)
    elif mode == "unsized":
        reply.head(["HTTP/1.1 200 OK"])
        reply.body(data)
    elif mode in ("chunked", "cl-chunked", "tight-chunked") or mode in DAMAGED_CHUNK:
        reply.chunked(data)
    elif mode in REDIRECTS:
        location = REDIRECTS[mode].replace("%s", "%d/%s" % (len(data), name))
        reply.head(["HTTP/1.1 302 Found", "Location: " + location, "Content-Length: 0"])
    elif mode == "huge-head":
        reply.whole(data, ["X-Filler: " + "a" * (1 << 20)])
    elif mode == "many-lines":
        reply.whole(data, ["X-Line-%d: %d" % (i, i) for i in range(10000)])
    else:
        extra = ["Content-Disposition: " + DISPOSITIONS[mode]] if mode in DISPOSITIONS else []
        if asked is None:
            reply.whole(data, extra)
        else:
            serve_range(reply, mode, path, asked, data, extra)


serving = 0  # connections being served under --max-connections
waiting = []  # and those waiting for a place, in the order they came
admission = threading.Condition(state_lock)


def serve_counted(conn):
    global serving
    with admission:
        count = serving + len(waiting) + 1
        log("ACCEPT", count)
        waiting.append(conn)
        admitted = admission.wait_for(
            lambda: waiting[0] is conn and serving < OPTIONS.max_connections, timeout=0.3)
        waiting.remove(conn)
        serving += 1 if admitted else 0
        admission.notify_all()
    if not admitted:
        log("REFUSED", count)
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        return
    try:
        serve(conn)
    finally:
        with admission:
            serving -= 1
            admission.notify_all()


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--log", required=True)
    parser.add_argument("--root", help="serves its files at /MODE/NAME")
    parser.add_argument("--fault-bytes", type=int, default=40000,
                        help="body bytes sent before a stall, a trickle or a reset")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--mode", help="serves every request in this mode")
    parser.add_argument("--max-connections", type=int, default=0,
                        help="resets connections beyond this many at once")
    return parser.parse_args()


def tls_context():
    if not OPTIONS.tls:
        return None
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(*OPTIONS.tls)
    return context


OPTIONS = parse_arguments()
TLS = tls_context()
serve_forever(serve_counted if OPTIONS.max_connections else serve)
