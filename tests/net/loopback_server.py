#!/usr/bin/python3
"""A TCP server on 127.0.0.1 that does what each connection tells it, one command a line:
SEND n (n pattern bytes: byte i is i % 251), GREET text (sent at once on accept when given
as the server's argument), CLOSE (orderly), RESET (abortive close), SILENT (say nothing, keep
the connection open until the client goes). Prints its port, then serves until killed."""
import os
import socket
import struct
import sys
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from loopback_listener import serve_forever  # noqa: E402

PATTERN = bytes(i % 251 for i in range(251 * 4096))


def send_pattern(conn, count):
    offset = 0
    while count > 0:
        start = offset % 251
        piece = PATTERN[start:start + min(count, len(PATTERN) - 251)]
        conn.sendall(piece)
        offset += len(piece)
        count -= len(piece)


def serve(conn, greeting):
    if greeting:
        conn.sendall(greeting.encode() + b"\r\n")
    pending = b""
    while True:
        data = conn.recv(4096)
        if not data:
            return
        pending += data
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            words = line.decode().split()
            if not words:
                continue
            if words[0] == "SEND":
                send_pattern(conn, int(words[1]))
            elif words[0] == "CLOSE":
                conn.shutdown(socket.SHUT_WR)
                conn.close()
                return
            elif words[0] == "RESET":
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                conn.close()
                return
            elif words[0] == "SILENT":
                pass


def main():
    serve_forever(serve, sys.argv[1] if len(sys.argv) > 1 else "")


main()
