#!/usr/bin/env python3
"""A TLS server on 127.0.0.1 for the odd cases nginx does not play, one connection at a time.

Usage: tls_test_server.py CERT KEY MODE [BYTES]. Prints its port as the first line.
  truncate BYTES  answers a request with BYTES bytes, then drops the TCP connection without
                  TLS close_notify, as a truncating peer or attacker would
  echo BYTES      sends back the first BYTES bytes it receives, then closes cleanly"""
import socket
import ssl
import sys

cert, key, mode, size = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.bind(("127.0.0.1", 0))
listener.listen(1)
print(listener.getsockname()[1], flush=True)


def truncate(conn):
    request = b""
    while b"\r\n\r\n" not in request:
        chunk = conn.recv(4096)
        if not chunk:
            return
        request += chunk
    conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n" + b"x" * size)
    # SSLSocket.shutdown drops the TLS layer first: no close_notify goes out.
    conn.shutdown(socket.SHUT_RDWR)


def echo(conn):
    left = size
    while left > 0:
        chunk = conn.recv(min(left, 65536))
        if not chunk:
            return
        conn.sendall(chunk)
        left -= len(chunk)
    conn.unwrap()  # close_notify, then the close


while True:
    raw, _ = listener.accept()
    try:
        conn = context.wrap_socket(raw, server_side=True)
        truncate(conn) if mode == "truncate" else echo(conn)
        conn.close()
    except (OSError, ssl.SSLError):
        raw.close()
