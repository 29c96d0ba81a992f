#!/usr/bin/python3
"""An FTP server for tests, built on pyftpdlib: 127.0.0.1 only, passive data connections on
127.0.0.1 too. Prints the port it listens on as its first line of stdout, then serves until
it is sent SIGTERM.

usage: ftp_server.py [--port N] [--root DIR] [--users FILE] [--max-sessions-per-address N]
                     [--refuse-rest] [--passive-address ADDR] [--multi-line-greeting]
                     [--multi-line-login] [--rate-limit BYTES_PER_S] [--log FILE]
                     [--cut-first-restarted-transfer-after BYTES]
                     [--abort-first-transfer-after BYTES] [--size-reply TEXT]
                     [--replies-byte-by-byte] [--ipv6] [--turn-away N REPLY]

--root serves DIR read-only to the anonymous user (no anonymous login without it); --users
names a JSON file [{"name": ..., "password": ..., "home": ...}, ...] of read-only users, a file
so that no blank, quote or leading "-" in a password needs escaping.
"""
import argparse
import json
import logging
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

READ_ONLY = "elr"


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=0, help="0 picks a free one")
    parser.add_argument("--root")
    parser.add_argument("--users")
    parser.add_argument("--max-sessions-per-address", type=int, default=0)
    parser.add_argument("--refuse-rest", action="store_true")
    parser.add_argument("--passive-address")
    parser.add_argument("--multi-line-greeting", action="store_true")
    parser.add_argument("--multi-line-login", action="store_true")
    parser.add_argument("--rate-limit", type=int, default=0)
    parser.add_argument("--log")
    parser.add_argument("--cut-first-restarted-transfer-after", type=int, default=0)
    parser.add_argument("--abort-first-transfer-after", type=int, default=0)
    parser.add_argument("--size-reply")
    parser.add_argument("--replies-byte-by-byte", action="store_true")
    parser.add_argument("--turn-away", nargs=2, metavar=("N", "REPLY"),
                        help="the first N sessions get REPLY instead of the greeting")
    parser.add_argument("--ipv6", action="store_true", help="[::1] instead of 127.0.0.1")
    return parser.parse_args()


def handler_class(options):
    cut_done = []
    abort_done = []
    turned_away = []
    class Handler(FTPHandler):
        banner = "Brenloft test FTP server ready."
        # pyftpdlib waits 3 s before it answers a wrong password; tests need not.
        auth_failed_timeout = 0.1

        def handle(self):
            if options.turn_away and len(turned_away) < int(options.turn_away[0]):
                turned_away.append(True)
                self.respond(options.turn_away[1])
                self.close_when_done()
                return
            # Intermediate lines of a multi-line reply need not repeat the code: one does not,
            # so a client has to find the end by the "220 " line, not by counting.
            if options.multi_line_greeting:
                self.push("220-Welcome to the Brenloft test FTP server.\r\n"
                          "    This greeting spans several lines.\r\n"
                          "220-The last one starts with \"220 \".\r\n")
            super().handle()

        def handle_auth_success(self, home, password, msg_login):
            if options.multi_line_login:
                self.push("230-Hello %s.\r\n"
                          "    This login reply spans several lines.\r\n"
                          "230-The last one starts with \"230 \".\r\n" % self.username)
            super().handle_auth_success(home, password, msg_login)

        def ftp_REST(self, line):
            if options.refuse_rest:
                self.respond("502 REST not implemented.")
            else:
                super().ftp_REST(line)

        def push(self, s):
            if not options.replies_byte_by_byte:
                return super().push(s)
            # Each byte in a segment of its own, so that a reply reaches the client in as many
            # reads as it has bytes. Every control write comes here, so nothing queued by the
            # base class can be overtaken.
            try:
                for byte in s.encode("utf8"):
                    self.socket.sendall(bytes([byte]))
                    time.sleep(0.0005)
            except OSError:
                pass  # the client has gone; the loop sees its end and closes the session

        def ftp_SIZE(self, path):
            if options.size_reply is None:
                return super().ftp_SIZE(path)
            self.respond("213 " + options.size_reply)
            return path

        def abort_transfer(self, file):
            """Sends a few bytes from the restart position, closes the data connection and says
            "426": a transfer cut before its end, as a dropped connection ends one."""
            rest = self._restart_position
            self._restart_position = 0
            with open(file, "rb") as f:  # already the real path
                f.seek(rest)
                piece = f.read(options.abort_first_transfer_after)

            def send_when_connected():
                channel = self.data_channel
                if channel is None:
                    self.ioloop.call_later(0.05, send_when_connected)
                    return
                self.respond("125 Data connection already open. Transfer starting.")
                channel.push(piece)
                self.ioloop.call_later(0.5, lambda: cut(channel))

            def cut(channel):
                if not channel._closed:
                    channel._resp = ("426 Connection closed; transfer aborted.", logging.info)
                    channel.close()

            send_when_connected()
            return file

        def ftp_RETR(self, file):
            if options.abort_first_transfer_after > 0 and not abort_done:
                abort_done.append(True)
                return self.abort_transfer(file)
            # The first transfer that starts past byte 0 sends a few bytes and ends there.
            if options.cut_first_restarted_transfer_after > 0 and self._restart_position > 0 \
                    and not cut_done:
                cut_done.append(True)
                rest = self._restart_position
                self._restart_position = 0
                with self.fs.open(file, "rb") as f:  # already the real path
                    f.seek(rest)
                    piece = f.read(options.cut_first_restarted_transfer_after)
                self.push_dtp_data(piece, isproducer=False, cmd="RETR")
                return file
            return super().ftp_RETR(file)

        def ftp_FEAT(self, line):
            # A server that refuses REST does not announce "REST STREAM" either.
            if not options.refuse_rest:
                return super().ftp_FEAT(line)
            saved = self.proto_cmds
            self.proto_cmds = {k: v for k, v in saved.items() if k != "REST"}
            try:
                super().ftp_FEAT(line)
            finally:
                self.proto_cmds = saved

    if options.rate_limit > 0:
        class Throttled(ThrottledDTPHandler):
            read_limit = options.rate_limit
            write_limit = options.rate_limit
        Handler.dtp_handler = Throttled
        # sendfile() would pass the file to the socket around the throttle.
        Handler.use_sendfile = False
    if options.passive_address:
        # Only the 227 reply names it; the passive socket still listens on 127.0.0.1.
        Handler.masquerade_address = options.passive_address
    return Handler


def main():
    options = parse_arguments()
    if options.log:
        logging.basicConfig(filename=options.log, level=logging.DEBUG,
                            format="%(asctime)s %(levelname)s %(message)s")
    authorizer = DummyAuthorizer()
    if options.root:
        authorizer.add_anonymous(options.root, perm=READ_ONLY)
    if options.users:
        with open(options.users, encoding="utf-8") as f:
            for user in json.load(f):
                authorizer.add_user(user["name"], user["password"], user["home"],
                                    perm=READ_ONLY)
    handler = handler_class(options)
    handler.authorizer = authorizer
    server = FTPServer(("::1" if options.ipv6 else "127.0.0.1", options.port), handler)
    server.max_cons_per_ip = options.max_sessions_per_address
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever(handle_exit=False)


main()
