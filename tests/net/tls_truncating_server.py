#!/usr/bin/env python3
"""A TLS server on 127.0.0.1 that answers one request with BYTES bytes and then drops the TCP
connection without TLS close_notify, as a truncating peer or attacker would.

Usage: tls_truncating_server.py CERT KEY BYTES. Prints its port as the first line."""
import socket
import ssl
import sys

cert, key, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.bind(("127.0.0.1", 0))
listener.listen(1)
print(listener.getsockname()[1], flush=True)
while True:
    raw, _ = listener.accept()
    try:
        conn = context.wrap_socket(raw, server_side=True)
        request = b""
        while b"\r\n\r\n" not in request:
            chunk = conn.recv(4096)
            if not chunk:
                break
            request += chunk
        conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n" + b"x" * size)
        # SSLSocket.shutdown drops the TLS layer first: no close_notify goes out.
        conn.shutdown(socket.SHUT_RDWR)
        conn.close()
    except (OSError, ssl.SSLError):
        raw.close()
