"""vsftpd on 127.0.0.1 serving a folder anonymously, for benchmarks. Started and stopped by its
pid, its sessions by theirs. The same configuration as tests/support/ftp_peers.cpp (VsftpdPeer),
whose comments tell why each line is there."""
import os
import random
import signal
import socket
import subprocess
import time

from nginx_peer import free_port

VSFTPD = "/usr/sbin/vsftpd"
PASSIVE_PORTS = 64


def bindable(port):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def free_passive_range(count):
    """First of `count` free ports below the ephemeral range, where no outgoing connection
    takes one meanwhile."""
    for _ in range(100):
        first = random.randrange(20000, 32768 - count)
        if all(bindable(p) for p in range(first, first + count)):
            return first
    raise RuntimeError("no free range of passive ports")


def listens(port):
    """Whether 127.0.0.1:port is in LISTEN state, without connecting (a connection would be a
    session)."""
    local = "0100007F:%04X" % port
    with open("/proc/net/tcp") as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            if fields[1] == local and fields[3] == "0A":
                return True
    return False


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except OSError:
        return False
    return stat[stat.rindex(")") + 2] not in "ZX"


def descendants(pid):
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        children.setdefault(ppid, []).append(int(entry))
    found, pending = [], [pid]
    while pending:
        for child in children.get(pending.pop(), []):
            found.append(child)
            pending.append(child)
    return found


def send(pid, sig):
    """A session can end on its own between being found and being signalled."""
    try:
        os.kill(pid, sig)
    except ProcessLookupError:
        pass


def check_servable(root):
    """vsftpd reads as its ftp user after a chroot into the root, and refuses a writable root."""
    mode = os.stat(root).st_mode
    if mode & 0o002:
        raise RuntimeError(f"{root} is writable by others; vsftpd refuses to chroot into it")
    for folder, dirs, files in os.walk(root):
        for path, need in [(folder, 0o005)] + [(os.path.join(folder, f), 0o004) for f in files]:
            if os.stat(path).st_mode & need != need:
                raise RuntimeError(f"{path} is not readable by others (folders 0755, files 0644)")


class Vsftpd:
    def __init__(self, work, root, max_rate=0):
        self.work = work
        self.root = os.path.abspath(root)
        self.max_rate = max_rate
        self.port = 0
        self.pid = None

    def config(self, passive):
        lines = [
            "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1",
            f"listen_port={self.port}", "background=NO",
            "anonymous_enable=YES", "no_anon_password=YES", f"anon_root={self.root}",
            "local_enable=NO", "write_enable=NO",
            "pasv_enable=YES", "pasv_address=127.0.0.1",
            f"pasv_min_port={passive}", f"pasv_max_port={passive + PASSIVE_PORTS - 1}",
            "connect_from_port_20=NO", "ftp_username=ftp", "nopriv_user=nobody",
            "seccomp_sandbox=NO", f"secure_chroot_dir={self.work}/empty",
            "xferlog_enable=YES", "dual_log_enable=YES",
            f"xferlog_file={self.work}/xferlog", f"vsftpd_log_file={self.work}/vsftpd.log",
            "syslog_enable=NO",
        ]
        if self.max_rate:
            lines.append(f"anon_max_rate={self.max_rate}")
        return "\n".join(lines) + "\n"

    def __enter__(self):
        if os.geteuid() != 0:
            raise RuntimeError("vsftpd runs only as root here")
        check_servable(self.root)
        os.makedirs(os.path.join(self.work, "empty"), exist_ok=True)
        os.chmod(os.path.join(self.work, "empty"), 0o755)
        for _ in range(5):
            if self.start_once():
                return self
            if "could not bind" not in self.complaint():
                break
        raise RuntimeError("vsftpd did not start: " + self.complaint())

    def complaint(self):
        try:
            with open(os.path.join(self.work, "startup.txt")) as f:
                return f.read()
        except OSError:
            return ""

    def start_once(self):
        self.port = free_port()
        conf = os.path.join(self.work, "vsftpd.conf")
        with open(conf, "w") as f:
            f.write(self.config(free_passive_range(PASSIVE_PORTS)))
        # vsftpd writes why it cannot start ("500 OOPS: ...") to its standard input, which it
        # takes for a control connection: so that is a file open for writing.
        with open(os.path.join(self.work, "startup.txt"), "w+") as complaint:
            self.proc = subprocess.Popen([VSFTPD, conf], stdin=complaint,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.pid = self.proc.pid
        deadline = time.time() + 10
        while time.time() < deadline:
            if listens(self.port):
                return True
            if self.proc.poll() is not None:
                break
            time.sleep(0.01)
        self.stop()
        return False

    def stop(self):
        if not self.pid:
            return
        sessions = []
        if alive(self.pid):
            # Stopped, the listener forks no session while its sessions are collected, and its
            # own SIGTERM waits for the SIGCONT.
            os.kill(self.pid, signal.SIGSTOP)
            sessions = descendants(self.pid)
            for pid in sessions:
                send(pid, signal.SIGTERM)
            os.kill(self.pid, signal.SIGTERM)
            os.kill(self.pid, signal.SIGCONT)
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            os.kill(self.pid, signal.SIGKILL)
            self.proc.wait(timeout=5)
        deadline = time.time() + 5
        for pid in sessions:
            while alive(pid) and time.time() < deadline:
                time.sleep(0.01)
            if alive(pid):
                send(pid, signal.SIGKILL)
        self.pid = None

    def __exit__(self, *exc):
        self.stop()
