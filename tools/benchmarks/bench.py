#!/usr/bin/python3
"""Benchmarks against real peers on loopback, each tool run in turn, median of five runs.
usage: bench.py BINDIR WORKDIR [CASE ...]   (cases: socket)"""
import os
import resource
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from nginx_peer import Nginx  # noqa: E402

RUNS = 5


def timed(command):
    """Runs a command; returns (wall seconds, CPU seconds of the command)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def compare(tools, size):
    """tools: name -> command. Rotates the order run by run; prints medians."""
    results = {name: [] for name in tools}
    names = list(tools)
    for run in range(RUNS):
        for name in names[run % len(names):] + names[:run % len(names)]:
            results[name].append(timed(tools[name]))
    rows = []
    for name in names:
        wall = statistics.median(r[0] for r in results[name])
        cpu = statistics.median(r[1] for r in results[name])
        rows.append((name, wall, cpu, size / wall / 1e6))
    print(f"| tool | wall s (median of {RUNS}) | CPU s | MB/s |")
    print("|---|---|---|---|")
    for name, wall, cpu, rate in rows:
        print(f"| {name} | {wall:.2f} | {cpu:.2f} | {rate:.0f} |")
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


CASES = {"socket": socket_case}


def main():
    bindir, work = sys.argv[1], sys.argv[2]
    for case in sys.argv[3:] or CASES:
        CASES[case](bindir, work)
        print()


main()
