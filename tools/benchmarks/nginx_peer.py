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
    def __init__(self, work, root):
        self.work = work
        self.root = root
        self.port = free_port()
        self.pid = None

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
    server {{
        listen 127.0.0.1:{self.port};
        root {self.root};
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

    def __exit__(self, *exc):
        if self.pid:
            os.kill(self.pid, signal.SIGTERM)
            self.proc.wait(timeout=10)
