#!/usr/bin/python3
"""Benchmarks against real peers on loopback, each tool run in turn, median of five runs.
usage: bench.py BINDIR WORKDIR [CASE ...]   (cases: socket, download, limited, ftp, listview)"""
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
from nginx_peer import Nginx  # noqa: E402
from ftp_peer import Vsftpd  # noqa: E402

RUNS = 5


def timed(command, before=None):
    """Runs a command (after `before`, untimed); returns (wall s, CPU s, peak RSS MiB)."""
    if before:
        before()
    # The peak RSS comes from /usr/bin/time: a child forked from this Python process would
    # count Python's own pages as its peak.
    with tempfile.NamedTemporaryFile("r") as rss:
        start = time.monotonic()
        proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss.name] + command,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.monotonic() - start
        if os.waitstatus_to_exitcode(status) != 0:
            raise RuntimeError(f"{command[0]} failed with {os.waitstatus_to_exitcode(status)}")
        peak_kib = int(rss.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, peak_kib / 1024


def compare(tools, size, before=None, allow_failures=False):
    """tools: name -> command. Rotates the order run by run; prints medians. With
    allow_failures a tool that fails is dropped and its row says so."""
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
        rows.append((name, wall, cpu, size / wall / 1e6, rss))
    print(f"| tool | wall s (median of {RUNS}) | CPU s | MB/s | peak RSS MiB |")
    print("|---|---|---|---|---|")
    measured = {row[0]: row for row in rows}
    for name in names:
        if name in failed:
            print(f"| {name} | failed | | | |")
            continue
        _, wall, cpu, rate, rss = measured[name]
        print(f"| {name} | {wall:.2f} | {cpu:.2f} | {rate:.0f} | {rss:.1f} |")
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


def download_tools(bindir, url, out):
    get = os.path.join(bindir, "brenloft-get")
    return {
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


def download_case(bindir, work):
    """1 GiB unthrottled, each tool writing into the same ext4 folder."""
    size = 1 << 30
    root = serve_files(work, {"1g.bin": size})
    out = os.path.join(work, "out")
    with Nginx(os.path.join(work, "nginx"), root) as nginx:
        url = f"http://127.0.0.1:{nginx.port}/1g.bin"
        print("1 GiB from nginx on loopback into an ext4 folder, join included:\n")
        compare(download_tools(bindir, url, out), size, fresh_folder(out))


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
                 ("brenloft-get -n 8", "brenloft-get -n 1", "axel -n 8")},
                size, fresh_folder(out))


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


CASES = {"socket": socket_case, "download": download_case, "limited": limited_case,
         "ftp": ftp_case, "listview": listview_case}


def main():
    bindir, work = sys.argv[1], sys.argv[2]
    for case in sys.argv[3:] or CASES:
        CASES[case](bindir, work)
        print()


main()
