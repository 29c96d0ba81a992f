"""The listening side the test servers share: 127.0.0.1 on a port the kernel picks, the port
printed as the first line of stdout (the test reads it), one thread per connection, each
connection closed when its handler returns or the peer goes."""
import os
import socket
import sys
import threading


def _run(handle, conn, args):
    try:
        handle(conn, *args)
    except OSError:
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass


def serve_forever(handle, *args):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=_run, args=(handle, conn, args), daemon=True).start()
