"""nginx on 127.0.0.1 serving a folder, for benchmarks. Started and stopped by its pid."""
import os
import signal
import socket
import subprocess
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Nginx:
    """tls: (certificate, key) to serve TLS 1.2/1.3 only, logging each request's session reuse,
    protocol and cipher to tls.log. timing_log: log each request's end ($msec), duration and
    Range header to timing.log; otherwise nothing is logged, as logging costs time."""
    def __init__(self, work, root, tls=None, timing_log=False):
        self.work = work
        self.root = root
        self.port = free_port()
        self.pid = None
        self.tls = tls
        self.tls_log = os.path.join(work, "tls.log")
        self.timing_log = os.path.join(work, "timing.log") if timing_log else None

    def __enter__(self):
        os.makedirs(self.work, exist_ok=True)
        conf = os.path.join(self.work, "nginx.conf")
        with open(conf, "w") as f:
            f.write(f"""
daemon off;
worker_processes 1;
pid {self.work}/nginx.pid;
error_log {self.work}/error.log;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    client_body_temp_path {self.work}/body;
    proxy_temp_path {self.work}/proxy;
    fastcgi_temp_path {self.work}/fastcgi;
    uwsgi_temp_path {self.work}/uwsgi;
    scgi_temp_path {self.work}/scgi;
    sendfile on;
    tcp_nopush on;
    {self.tls_lines()}
    {self.timing_lines()}
    server {{
        listen 127.0.0.1:{self.port}{" ssl" if self.tls else ""};
        root {self.root};
        {self.tls_server_lines()}
        {self.timing_server_lines()}
        location /limited/ {{ alias {self.root}/; limit_rate 2m; }}
    }}
}}
""")
        proc = subprocess.Popen(["/usr/sbin/nginx", "-c", conf, "-p", self.work],
                                stderr=subprocess.DEVNULL)
        self.pid = proc.pid
        self.proc = proc
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return self
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("nginx did not start")

    def tls_lines(self):
        if not self.tls:
            return ""
        return "log_format tls '$ssl_session_reused $ssl_protocol $ssl_cipher';"

    def tls_server_lines(self):
        if not self.tls:
            return ""
        certificate, key = self.tls
        # Here, not beside "access_log off" in http{}, which cancels every log of its level.
        return (f"ssl_certificate {certificate}; ssl_certificate_key {key};\n"
                f"        ssl_protocols TLSv1.2 TLSv1.3; ssl_session_cache shared:bench:1m;\n"
                f"        access_log {self.tls_log} tls;")

    def timing_lines(self):
        if not self.timing_log:
            return ""
        return "log_format timing '$msec $request_time $http_range';"

    def timing_server_lines(self):
        # In the server block for the same reason as the TLS log.
        return f"access_log {self.timing_log} timing;" if self.timing_log else ""

    def take_tls_log(self):
        """The request lines logged so far, emptying the log."""
        return self.take_log(self.tls_log)

    def take_timing_log(self):
        """(start s, Range header or "-") of each request logged so far, emptying the log;
        a request's start is its end ($msec) less its duration ($request_time)."""
        requests = []
        for line in self.take_log(self.timing_log):
            end, duration, http_range = line.split(" ", 2)
            requests.append((float(end) - float(duration), http_range))
        return requests

    @staticmethod
    def take_log(path):
        if not path:
            return []
        try:
            with open(path) as f:
                lines = f.read().splitlines()
            open(path, "w").close()
            return lines
        except FileNotFoundError:
            return []

    def __exit__(self, *exc):
        if self.pid:
            os.kill(self.pid, signal.SIGTERM)
            self.proc.wait(timeout=10)
