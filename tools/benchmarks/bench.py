#!/usr/bin/python3
"""Benchmarks against real peers on loopback, each tool run in turn, median of five runs
(BRENLOFT_BENCH_RUNS=N for another count, e.g. 1 to try a case out).
usage: bench.py BINDIR WORKDIR [CASE ...]
       (cases: socket, download, limited, tls, ftp, listview, biglist, rpclist, slowtail, many,
       safedisk, bigfile)"""
import os
import re
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from nginx_peer import Nginx  # noqa: E402
from ftp_peer import Vsftpd  # noqa: E402
from slowtail_server import SlowTail  # noqa: E402

RUNS = int(os.environ.get("BRENLOFT_BENCH_RUNS", "5"))


def timed(command, before=None):
    """Runs a command (after `before`, untimed); returns (wall s, CPU s, peak RSS MiB,
    (bytes dirtied, bytes cancelled))."""
    if before:
        before()
    # The peak RSS comes from /usr/bin/time: a child forked from this Python process would
    # count Python's own pages as its peak.
    with tempfile.NamedTemporaryFile("r") as rss:
        start = time.monotonic()
        proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss.name] + command,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.waitid(os.P_PID, proc.pid, os.WEXITED | os.WNOWAIT)
        wall = time.monotonic() - start
        written = disk_writes(proc.pid)
        _, status, usage = os.wait4(proc.pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            raise RuntimeError(f"{command[0]} failed with {os.waitstatus_to_exitcode(status)}")
        peak_kib = int(rss.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, peak_kib / 1024, written


def disk_writes(pid):
    """(write_bytes, cancelled_write_bytes) of an exited, not yet reaped process.
    The kernel charges write_bytes to the task that dirties a page, when it dirties it, so
    what is still in the page cache at the exit counts, and a page dirtied again after its
    writeback counts again, as the disk sees it; cancelled_write_bytes are dirty pages the
    task threw away (a file deleted before writeback) that never reach the disk. A zombie's
    figures include the children it reaped, so /usr/bin/time's hold the tool's. Chosen over
    the device's sector count, which every other process on this shared machine moves, and
    over a cgroup's io.stat, which this machine's cgroup v1 lacks."""
    with open(f"/proc/{pid}/io") as io:
        fields = dict(line.split(": ") for line in io.read().splitlines())
    return int(fields["write_bytes"]), int(fields["cancelled_write_bytes"])


def compare(tools, size, before=None, allow_failures=False, disk=False):
    """tools: name -> command. Rotates the order run by run; prints medians. With
    allow_failures a tool that fails is dropped and its row says so. With disk the rows
    also give what each tool wrote to the disk (dirtied less cancelled) and the pages it
    dirtied; a row then ends with those two byte counts."""
    results = {name: [] for name in tools}
    names = list(tools)
    failed = set()
    for run in range(RUNS):
        for name in names[run % len(names):] + names[:run % len(names)]:
            if name in failed:
                continue
            try:
                results[name].append(timed(tools[name], before))
            except RuntimeError:
                if not allow_failures:
                    raise
                failed.add(name)
    rows = []
    for name in names:
        if name in failed:
            continue
        wall = statistics.median(r[0] for r in results[name])
        cpu = statistics.median(r[1] for r in results[name])
        rss = statistics.median(r[2] for r in results[name])
        dirtied = statistics.median(r[3][0] for r in results[name])
        written = statistics.median(r[3][0] - r[3][1] for r in results[name])
        rows.append((name, wall, cpu, size / wall / 1e6, rss)
                    + ((written, dirtied) if disk else ()))
    extra = " disk written GiB | pages dirtied GiB |" if disk else ""
    print(f"| tool | wall s (median of {RUNS}) | CPU s | MB/s | peak RSS MiB |{extra}")
    print("|---|---|---|---|---|" + ("---|---|" if disk else ""))
    measured = {row[0]: row for row in rows}
    for name in names:
        if name in failed:
            print(f"| {name} | failed | | | |" + (" | |" if disk else ""))
            continue
        _, wall, cpu, rate, rss = measured[name][:5]
        extra = "".join(f" {b / (1 << 30):.2f} |" for b in measured[name][5:])
        print(f"| {name} | {wall:.2f} | {cpu:.2f} | {rate:.0f} | {rss:.1f} |{extra}")
    sys.stdout.flush()
    return rows


def ensure_file(path, size):
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    with open("/dev/urandom", "rb") as src, open(path, "wb") as dst:
        left = size
        while left:
            chunk = src.read(min(left, 1 << 24))
            dst.write(chunk)
            left -= len(chunk)


def socket_case(bindir, work):
    size = 1 << 30
    root = os.path.join(work, "www")
    os.makedirs(root, exist_ok=True)
    os.chmod(work, 0o755)
    os.chmod(root, 0o755)
    ensure_file(os.path.join(root, "1g.bin"), size)
    os.chmod(os.path.join(root, "1g.bin"), 0o644)
    with Nginx(os.path.join(work, "nginx"), root) as nginx:
        url = f"http://127.0.0.1:{nginx.port}/1g.bin"
        print(f"One connection receiving 1 GiB from nginx on loopback into a sink:\n")
        compare({
            "SocketClass (bench_socket_sink)":
                [os.path.join(bindir, "bench_socket_sink"), "127.0.0.1", str(nginx.port), "/1g.bin"],
            "curl -o /dev/null": ["curl", "-s", "-o", "/dev/null", url],
        }, size)


def serve_files(work, sizes):
    root = os.path.join(work, "www")
    os.makedirs(root, exist_ok=True)
    os.chmod(work, 0o755)
    os.chmod(root, 0o755)
    for name, size in sizes.items():
        ensure_file(os.path.join(root, name), size)
        os.chmod(os.path.join(root, name), 0o644)
    return root


# BRENLOFT_BENCH_BEFORE=DIR: the brenloft-get of an earlier build, run beside this one, so a
# change is compared with what came before it on the same machine in the same minutes.
BEFORE = os.environ.get("BRENLOFT_BENCH_BEFORE")
BEFORE_NAME = "brenloft-get -n 8 (before)"


def download_tools(bindir, url, out):
    get = os.path.join(bindir, "brenloft-get")
    before = {BEFORE_NAME: [os.path.join(BEFORE, "brenloft-get"), "-q", "-n", "8", "-d", out,
                            url]} if BEFORE else {}
    return before | {
        "brenloft-get -n 8": [get, "-q", "-n", "8", "-d", out, url],
        "brenloft-get -n 1": [get, "-q", "-n", "1", "-d", out, url],
        "wget2": ["wget2", "-q", "--no-robots", "-P", out, url],
        "curl": ["curl", "-s", "-o", os.path.join(out, "file"), url],
        "aria2c -x8 -s8 -k1M": ["aria2c", "-q", "-x8", "-s8", "-k1M", "-d", out, url],
        "axel -n 8": ["axel", "-q", "-n", "8", "-o", out, url],
    }


def fresh_folder(path):
    def clean():
        subprocess.run(["rm", "-rf", path], check=True)
        os.makedirs(path)
    return clean


def run_once(command, before=None):
    """One untimed run, for what a server's log says about it."""
    if before:
        before()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def download_case(bindir, work):
    """1 GiB unthrottled, each tool writing into the same ext4 folder; then, from nginx's log
    of one more run, how far apart brenloft-get -n 8's range requests went out."""
    size = 1 << 30
    root = serve_files(work, {"1g.bin": size})
    out = os.path.join(work, "out")
    with Nginx(os.path.join(work, "nginx"), root) as nginx:
        url = f"http://127.0.0.1:{nginx.port}/1g.bin"
        print("1 GiB from nginx on loopback into an ext4 folder, join included:\n")
        compare(download_tools(bindir, url, out), size, fresh_folder(out))
    # Its own nginx: the timed runs above log nothing.
    with Nginx(os.path.join(work, "nginx-timing"), root, timing_log=True) as nginx:
        url = f"http://127.0.0.1:{nginx.port}/1g.bin"
        print()
        print_request_spread(nginx, download_tools(bindir, url, out)["brenloft-get -n 8"],
                             fresh_folder(out))


ORDINALS = {2: "second", 3: "third", 4: "fourth", 5: "fifth", 6: "sixth", 7: "seventh",
            8: "eighth", 9: "ninth"}


def print_request_spread(nginx, command, before):
    """When the range requests of one run went out: the last one's start after the first's.
    Parts ask for bounded ranges; brenloft-get's first request, which learns the size, asks
    from 0 to the end and is shown apart."""
    nginx.take_timing_log()
    run_once(command, before)
    requests = sorted(nginx.take_timing_log())
    bounded = re.compile(r"bytes=\d+-\d+")
    parts = [start for start, http_range in requests if bounded.fullmatch(http_range)]
    if len(parts) < 2:
        print(f"{len(requests)} requests, {len(parts)} for bounded ranges: no spread to show")
        return
    offsets = ", ".join(f"{(start - parts[0]) * 1000:.0f}" for start in parts)
    others = [f"{http_range} at {(start - parts[0]) * 1000:.0f} ms"
              for start, http_range in requests if not bounded.fullmatch(http_range)]
    print(f"{len(parts)} range requests, going out at ms {offsets}"
          + (f" (and {', '.join(others)})" if others else ""))
    print(f"{ORDINALS.get(len(parts), f'{len(parts)}th')} request "
          f"{(parts[-1] - parts[0]) * 1000:.0f} ms after the first")



def limited_case(bindir, work):
    """64 MiB from a location that gives each connection 2 MB/s."""
    size = 64 << 20
    root = serve_files(work, {"64m.bin": size})
    out = os.path.join(work, "out")
    with Nginx(os.path.join(work, "nginx"), root) as nginx:
        url = f"http://127.0.0.1:{nginx.port}/limited/64m.bin"
        tools = download_tools(bindir, url, out)
        print("64 MiB, each connection limited to 2 MB/s by nginx:\n")
        compare({name: tools[name] for name in
                 ("brenloft-get -n 8", "brenloft-get -n 1", "axel -n 8",
                  "aria2c -x8 -s8 -k1M") + ((BEFORE_NAME,) if BEFORE else ())},
                size, fresh_folder(out))


def make_certificates(folder):
    """A CA and a certificate for 127.0.0.1 that it signed, made with openssl."""
    os.makedirs(folder, exist_ok=True)
    ca, ca_key = os.path.join(folder, "ca.pem"), os.path.join(folder, "ca.key")
    cert, key = os.path.join(folder, "server.pem"), os.path.join(folder, "server.key")
    request, ext = os.path.join(folder, "server.csr"), os.path.join(folder, "server.ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n")
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "check": True}
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:P-256", "-nodes", "-keyout", ca_key, "-out", ca,
                    "-days", "2", "-subj", "/CN=Brenloft bench CA"], **quiet)
    subprocess.run(["openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-nodes", "-keyout", key, "-out", request, "-subj", "/CN=127.0.0.1"], **quiet)
    subprocess.run(["openssl", "x509", "-req", "-in", request, "-CA", ca, "-CAkey", ca_key,
                    "-CAcreateserial", "-out", cert, "-days", "2", "-extfile", ext], **quiet)
    os.chmod(folder, 0o755)
    for name in (cert, key):
        os.chmod(name, 0o644)  # nginx's workers read them as nobody
    return ca, cert, key


def tls_case(bindir, work):
    """1 GiB over TLS, each tool trusting the bench CA; handshakes and cipher from nginx's log."""
    size = 1 << 30
    root = serve_files(work, {"1g.bin": size})
    out = os.path.join(work, "out")
    ca, cert, key = make_certificates(os.path.join(work, "tls"))
    with Nginx(os.path.join(work, "nginx-tls"), root, tls=(cert, key)) as nginx:
        url = f"https://127.0.0.1:{nginx.port}/1g.bin"
        get = os.path.join(bindir, "brenloft-get")
        tools = {
            "brenloft-get -n 8": [get, "-q", "-n", "8", "--ca-certificate", ca, "-d", out, url],
            "brenloft-get -n 1": [get, "-q", "-n", "1", "--ca-certificate", ca, "-d", out, url],
            "wget2": ["wget2", "-q", "--no-robots", "--ca-certificate", ca, "-P", out, url],
            "curl": ["curl", "-s", "--cacert", ca, "-o", os.path.join(out, "file"), url],
            "aria2c -x8 -s8 -k1M": ["aria2c", "-q", "-x8", "-s8", "-k1M", "--ca-certificate", ca,
                                    "-d", out, url],
        }
        print("1 GiB over TLS from nginx on loopback into an ext4 folder, join included:\n")
        rows = compare(tools, size, fresh_folder(out))
        print()
        for name in ("brenloft-get -n 8", "curl", "aria2c -x8 -s8 -k1M"):
            nginx.take_tls_log()
            fresh_folder(out)()
            subprocess.run(tools[name], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            lines = nginx.take_tls_log()
            full = sum(1 for line in lines if line.startswith("."))
            ciphers = sorted({" ".join(line.split()[1:]) for line in lines})
            print(f"{name}: {len(lines)} requests, {full} full handshakes, "
                  f"{len(lines) - full} resumed; {', '.join(ciphers)}")
        walls = {row[0]: row for row in rows}
        if "curl" in walls and "brenloft-get -n 1" in walls:
            one, reference = walls["brenloft-get -n 1"], walls["curl"]
            print(f"brenloft-get -n 1 vs curl: {one[1] / reference[1]:.2f}x wall, "
                  f"{one[2] / reference[2]:.2f}x CPU")
        if "aria2c -x8 -s8 -k1M" in walls and "brenloft-get -n 8" in walls:
            eight, aria = walls["brenloft-get -n 8"], walls["aria2c -x8 -s8 -k1M"]
            print(f"brenloft-get -n 8 vs aria2c: {eight[2] / aria[2]:.2f}x CPU")


def print_speedup(rows, faster, slower):
    """How many times the speed of `slower` the tool `faster` reached (median wall times)."""
    walls = {row[0]: row[1] for row in rows}
    if faster in walls and slower in walls:
        print(f"{faster} vs {slower}: {walls[slower] / walls[faster]:.2f}x the speed")
    else:
        print(f"{faster} vs {slower}: n/a (a tool failed)")


def ftp_case(bindir, work):
    """vsftpd on loopback: 1 GiB unthrottled, then 64 MiB with each session limited to 2 MB/s
    by anon_max_rate. A tool that fails (brenloft-get before it speaks FTP) is shown failed."""
    root = serve_files(work, {"1g.bin": 1 << 30, "64m.bin": 64 << 20})
    out = os.path.join(work, "out")
    with Vsftpd(os.path.join(work, "vsftpd"), root) as ftp:
        tools = download_tools(bindir, f"ftp://127.0.0.1:{ftp.port}/1g.bin", out)
        print("1 GiB from vsftpd on loopback into an ext4 folder, join included:\n")
        rows = compare({name: tools[name] for name in
                        ("brenloft-get -n 1", "brenloft-get -n 8", "curl", "aria2c -x8 -s8 -k1M")},
                       1 << 30, fresh_folder(out), allow_failures=True)
        print()
        print_speedup(rows, "brenloft-get -n 8", "brenloft-get -n 1")
        print_speedup(rows, "brenloft-get -n 8", "aria2c -x8 -s8 -k1M")
    print()
    with Vsftpd(os.path.join(work, "vsftpd-limited"), root, max_rate=2000000) as ftp:
        tools = download_tools(bindir, f"ftp://127.0.0.1:{ftp.port}/64m.bin", out)
        print("64 MiB, each FTP session limited to 2 MB/s by vsftpd (anon_max_rate):\n")
        rows = compare({name: tools[name] for name in
                        ("brenloft-get -n 1", "brenloft-get -n 8", "aria2c -x8 -s8 -k1M")},
                       64 << 20, fresh_folder(out), allow_failures=True)
        print()
        print_speedup(rows, "brenloft-get -n 8", "brenloft-get -n 1")
        print_speedup(rows, "brenloft-get -n 8", "aria2c -x8 -s8 -k1M")
    sys.stdout.flush()


def listview_case(bindir, work):
    """The main window's full rebuild of its download list, drawn offscreen."""
    print("Main window list, forced full refresh, median of 20:\n")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    subprocess.run([os.path.join(bindir, "bench_list_refresh")], check=True, env=env)
    sys.stdout.flush()


def rpclist_case(bindir, work):
    """The remote control's lists of a 2,000-entry list over HTTP, as a web front end polls."""
    print("Remote control, lists of a long-used list:\n")
    subprocess.run([os.path.join(bindir, "bench_rpc_listing"), "2000"], check=True)
    sys.stdout.flush()


def list_count(bindir, path):
    """(entries, 'whole' or 'damaged') of a list file, read by the program's own decoder."""
    out = subprocess.run([os.path.join(bindir, "bench_big_list"), "--count", path],
                         check=True, capture_output=True, text=True).stdout.split()
    return int(out[0]), out[1]


def wait_until(done, deadline_s):
    end = time.monotonic() + deadline_s
    while not done():
        if time.monotonic() > end:
            return False
        time.sleep(0.02)
    return True


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def peak_rss_mib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0.0


def hand_over(app, text):
    """A hand-off file as a later start leaves it; the program's tick takes it, whatever it
    holds, so its going away shows the program is up and ticking. Not an address: nothing is
    added to the full list."""
    path = os.path.join(app, "templine.dat")
    with open(path + ".tmp", "w") as f:
        f.write(text + "\r\n")
    os.replace(path + ".tmp", path)
    return path


def program_with_big_list(bindir, work):
    """The real program on a full list: it must start, show its window, tick, save and quit on
    SIGTERM with every entry still there. A load check, so its times are only printed."""
    home = tempfile.mkdtemp(prefix="biglist-", dir=work)
    proc = None
    try:
        folders = {name: os.path.join(home, name)
                   for name in ("app", "config", "data", "cache", "home", "tmp", "run")}
        for folder in folders.values():
            os.makedirs(folder)
        os.chmod(folders["run"], 0o700)  # Qt ignores a runtime folder others may enter
        list_file = os.path.join(folders["app"], "Brenloft.dat")
        subprocess.run([os.path.join(bindir, "bench_big_list"), "--write", list_file], check=True)
        entries, _ = list_count(bindir, list_file)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", BRENLOFT_HOME=folders["app"],
                   XDG_CONFIG_HOME=folders["config"], XDG_DATA_HOME=folders["data"],
                   XDG_CACHE_HOME=folders["cache"], XDG_RUNTIME_DIR=folders["run"],
                   HOME=folders["home"], TMPDIR=folders["tmp"],
                   DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(home, "no-session-bus"))
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        log_path = os.path.join(home, "output.txt")
        with open(log_path, "w") as log:
            handoff = hand_over(folders["app"], "first tick")
            started = time.monotonic()
            proc = subprocess.Popen([os.path.join(bindir, "Brenloft")], env=env, stdout=log,
                                    stderr=subprocess.STDOUT)
            # The first tick comes after the list is loaded and the window shown.
            up = wait_until(lambda: not os.path.exists(handoff) or proc.poll() is not None, 120)
            up_s = time.monotonic() - started
            if not up or proc.poll() is not None:
                raise RuntimeError(f"Brenloft did not come up with the full list (see {log_path})")
            cpu_before = cpu_seconds(proc.pid)
            time.sleep(10)
            handoff = hand_over(folders["app"], "still ticking")
            ticking = wait_until(lambda: not os.path.exists(handoff), 10)
            cpu_idle = cpu_seconds(proc.pid) - cpu_before
            rss = peak_rss_mib(proc.pid)
            inode = os.stat(list_file).st_ino
            proc.send_signal(signal.SIGTERM)
            code = proc.wait(120)
            proc = None
        saved, state = list_count(bindir, list_file)
        rewritten = os.stat(list_file).st_ino != inode
        mode = os.stat(list_file).st_mode & 0o777
        with open(log_path) as log:
            output = log.read().strip()
        print("The real program (Brenloft, offscreen, own home) started on that list file:\n")
        print(f"- up and ticking {up_s:.2f} s after its start (first hand-off file taken)")
        print(f"- still ticking after 10 s: {'yes' if ticking else 'NO'}; CPU over those 10 s: "
              f"{cpu_idle * 1000:.0f} ms (20 ticks, 2 periodic save checks); "
              f"peak RSS {rss:.0f} MiB")
        print(f"- SIGTERM: exit code {code}; list saved anew: {'yes' if rewritten else 'NO'}, "
              f"{saved} of {entries} entries, read {state}, mode {mode:o}")
        ok = ticking and code == 0 and rewritten and saved == entries and state == "whole" \
            and mode == 0o600
        print(f"- load check: {'passed' if ok else 'FAILED'}")
        if output:
            print("- its output: " + output.replace("\n", " | "))
        sys.stdout.flush()
        if not ok:
            raise RuntimeError("Brenloft did not survive a full list")
    finally:
        if proc is not None and proc.poll() is None:
            os.kill(proc.pid, signal.SIGKILL)
            proc.wait()
        shutil.rmtree(home, ignore_errors=True)


def biglist_case(bindir, work):
    """A list of 32,767 entries: save, load and the main window's timers, then the real
    program started on it."""
    print("A full list (32,767 entries): medians of 11 runs, 41 for the tick:\n")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    subprocess.run([os.path.join(bindir, "bench_big_list"), work], check=True, env=env,
                   stderr=subprocess.DEVNULL)
    print()
    sys.stdout.flush()
    program_with_big_list(bindir, work)


def slowtail_case(bindir, work):
    """64 MiB from a server that gives each connection 2 MB/s, but every third a tenth of it:
    a tool that leaves a fixed part on a slow connection waits for it."""
    size = 64 << 20
    root = serve_files(work, {"64m.bin": size})
    out = os.path.join(work, "out")
    with SlowTail(os.path.join(root, "64m.bin"), 2e6) as server:
        url = f"http://127.0.0.1:{server.port}/64m.bin"
        tools = download_tools(bindir, url, out)
        clean = fresh_folder(out)

        def before():
            clean()
            server.reset()  # the same connections are slow for every tool and run

        print("64 MiB, each connection paced at 2 MB/s, every third at 200 kB/s:\n")
        rows = compare({name: tools[name] for name in
                        ("brenloft-get -n 8", "axel -n 8", "aria2c -x8 -s8 -k1M")
                        + ((BEFORE_NAME,) if BEFORE else ())}, size, before)
    walls = {row[0]: row[1] for row in rows}
    print()
    print(f"best: {min(walls, key=walls.get)}")
    peer = min(("axel -n 8", "aria2c -x8 -s8 -k1M"), key=walls.get)
    print(f"brenloft-get -n 8 vs {peer}, the better peer: "
          f"{walls['brenloft-get -n 8'] / walls[peer]:.2f}x the wall time")


def many_case(bindir, work):
    """100 files of 1 MB, all addresses given at once, four downloads at a time."""
    count, size = 100, 1000000
    names = [f"many/{n:03}.bin" for n in range(count)]
    os.makedirs(os.path.join(work, "www", "many"), exist_ok=True)
    os.chmod(os.path.join(work, "www", "many"), 0o755)
    root = serve_files(work, {name: size for name in names})
    out = os.path.join(work, "out")
    with Nginx(os.path.join(work, "nginx"), root) as nginx:
        urls = [f"http://127.0.0.1:{nginx.port}/{name}" for name in names]
        # aria2c reads the addresses from a file, written once, outside the timed runs.
        url_list = os.path.join(work, "many.list")
        with open(url_list, "w") as f:
            f.write("\n".join(urls) + "\n")
        get = os.path.join(bindir, "brenloft-get")
        print(f"{count} files of 1 MB from nginx on loopback, all addresses given at once:\n")
        rows = compare({
            "brenloft-get -n 4 -j 4": [get, "-q", "-n", "4", "-j", "4", "-d", out] + urls,
            # What asking the server for each file's checksum costs.
            "brenloft-get ... --no-checksum-lookup": [get, "-q", "-n", "4", "-j", "4",
                                                      "--no-checksum-lookup", "-d", out] + urls,
            "aria2c -j4 -x4 -s4 -k1M": ["aria2c", "-q", "-j4", "-x4", "-s4", "-k1M", "-d", out,
                                        "-i", url_list],
        }, count * size, fresh_folder(out))
    walls = {row[0]: row[1] for row in rows}
    ratio = walls["brenloft-get -n 4 -j 4"] / walls["aria2c -j4 -x4 -s4 -k1M"]
    print()
    print(f"brenloft-get / aria2c: {ratio:.2f}x the wall time")


def safedisk_case(bindir, work):
    """1 GiB over eight segments with the part files flushed to the disk every second (the
    default) and without (--no-safe-disk), into the same ext4 folder."""
    size = 1 << 30
    root = serve_files(work, {"1g.bin": size})
    out = os.path.join(work, "out")
    get = os.path.join(bindir, "brenloft-get")
    with Nginx(os.path.join(work, "nginx"), root) as nginx:
        url = f"http://127.0.0.1:{nginx.port}/1g.bin"
        print("1 GiB from nginx on loopback into an ext4 folder, eight segments, join included:\n")
        compare({
            "brenloft-get -n 8 (SafeDisk on)": [get, "-q", "-n", "8", "-d", out, url],
            "brenloft-get -n 8 --no-safe-disk": [get, "-q", "-n", "8", "--no-safe-disk", "-d",
                                                 out, url],
        }, size, fresh_folder(out))


def bigfile_case(bindir, work):
    """8 GiB with eight connections, each tool writing into the same ext4 folder: the time,
    and the bytes each wrote to the disk, beside the file's own 8 GiB. The source is sparse,
    so it costs nginx no disk reads and this machine no space; one output exists at a time."""
    size, file_name = 8 << 30, "8g-sparse.bin"
    root = os.path.join(work, "www")
    os.makedirs(root, exist_ok=True)
    source = os.path.join(root, file_name)
    if not os.path.exists(source) or os.stat(source).st_blocks:
        with open(source, "wb") as f:
            f.truncate(size)  # never written: a hole the size of the file
    serve_files(work, {file_name: size})
    out = os.path.join(work, "out")
    clean = fresh_folder(out)

    def before():
        clean()
        os.sync()  # the last run's writeback must not run into the next run's time

    with Nginx(os.path.join(work, "nginx"), root) as nginx:
        tools = download_tools(bindir, f"http://127.0.0.1:{nginx.port}/{file_name}", out)
        print("8 GiB (a sparse file) from nginx on loopback into an ext4 folder, join "
              "included; disk written = pages the tool dirtied less those it threw away "
              "before writeback, from /proc/PID/io:\n")
        rows = compare({name: tools[name] for name in
                        ((BEFORE_NAME,) if BEFORE else ()) + ("brenloft-get -n 8",
                                                              "aria2c -x8 -s8 -k1M")},
                       size, before, disk=True)
        clean()
    measured = {row[0]: row for row in rows}
    get, aria = measured["brenloft-get -n 8"], measured["aria2c -x8 -s8 -k1M"]
    print()
    print(f"brenloft-get / aria2c: {get[1] / aria[1]:.2f}x the wall time; disk written: "
          f"{get[5] / (1 << 30):.2f} GiB (brenloft-get) vs {aria[5] / (1 << 30):.2f} GiB "
          f"(aria2c) for an 8 GiB file")


CASES = {"socket": socket_case, "download": download_case, "limited": limited_case,
         "tls": tls_case, "ftp": ftp_case, "listview": listview_case, "biglist": biglist_case,
         "slowtail": slowtail_case, "many": many_case, "safedisk": safedisk_case,
         "bigfile": bigfile_case, "rpclist": rpclist_case}


def main():
    bindir, work = sys.argv[1], sys.argv[2]
    for case in sys.argv[3:] or CASES:
        CASES[case](bindir, work)
        print()


main()
