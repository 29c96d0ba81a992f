#!/usr/bin/python3
"""Runs brenloft-screenshots under Xvfb and openbox, once per scale, against a local nginx."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "benchmarks"))
from nginx_peer import Nginx  # noqa: E402


def free_display():
    for n in range(90, 200):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            return n
    raise RuntimeError("no free X display")


def run_scale(bindir, out, scale, urls, language):
    n = free_display()
    width, height = (1280, 800) if scale == 1 else (2560, 1600)
    xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", f"{width}x{height}x24",
                             "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
    home = tempfile.mkdtemp(prefix="brenloft-shots-")
    env = dict(os.environ, DISPLAY=f":{n}", BRENLOFT_HOME=os.path.join(home, "app"),
               XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_DATA_HOME=os.path.join(home, "data"),
               XDG_RUNTIME_DIR=os.path.join(home, "run"), QT_SCALE_FACTOR=str(scale),
               QT_QPA_PLATFORM="xcb")
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    # The program takes its language from the options, as a user would have chosen it.
    os.makedirs(os.path.join(env["XDG_CONFIG_HOME"], "Velmora"))
    with open(os.path.join(env["XDG_CONFIG_HOME"], "Velmora", "Velmora.ini"), "w") as ini:
        ini.write(f"[Options]\nLanguage={language}\n")
    # Two servers that took fewer connections, for the connection page's list.
    os.makedirs(env["BRENLOFT_HOME"], mode=0o700)
    with open(os.path.join(env["BRENLOFT_HOME"], "host-limits"), "w") as limits:
        now = int(time.time())
        limits.write(f"https://mirror.example.org:443 2 {now}\nhttp://[2001:db8::7]:8080 1 {now}\n")
    try:
        for _ in range(100):
            if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                break
            time.sleep(0.05)
        wm = subprocess.Popen(["openbox"], env=env, stderr=subprocess.DEVNULL)
        # A notification area for the tray icon, in a strip at the top right.
        tray = subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--widthtype",
                                 "request", "--height", str(24 * scale), "--SetDockType", "true",
                                 "--tint", "0x303030", "--transparent", "true", "--alpha", "0"],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        suffix = "" if language == "english" else f"-{language}"
        target = os.path.join(out, f"{scale * 100}{suffix}")
        subprocess.run([os.path.join(bindir, "brenloft-screenshots"), target] + urls,
                       env=env, check=True, timeout=60)
        os.kill(tray.pid, signal.SIGTERM)
        tray.wait(timeout=10)
        os.kill(wm.pid, signal.SIGTERM)
        wm.wait(timeout=10)
        print(f"{target}: " + ", ".join(sorted(os.listdir(target))))
    finally:
        os.kill(xvfb.pid, signal.SIGTERM)
        xvfb.wait(timeout=10)
        shutil.rmtree(home, ignore_errors=True)


def make_zip(path):
    """An archive worth previewing: folders, and members of several types and ratios."""
    members = [("2026/", b""), ("2026/january/", b""),
               ("2026/january/IMG_0001.jpg", os.urandom(900_000)),
               ("2026/january/IMG_0002.jpg", os.urandom(750_000)),
               ("2026/february/IMG_0107.png", os.urandom(420_000)),
               ("docs/itinerary.pdf", b"%PDF-1.4 " + b"trip " * 40_000),
               ("docs/budget.ods", b"cells " * 9_000),
               ("music/track01.mp3", os.urandom(300_000)),
               ("readme.txt", b"Holiday photos, sorted by month.\n" * 200),
               ("empty.txt", b"")]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in members:
            archive.writestr(name, data)
    os.chmod(path, 0o644)
    return os.path.getsize(path)


def main():
    bindir, out = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="brenloft-shots-www-", dir="/var/tmp")
    os.chmod(work, 0o755)
    www = os.path.join(work, "www")
    os.makedirs(www)
    os.chmod(www, 0o755)
    for name, size in (("debian-12.iso", 1 << 30), ("video.mkv", 8 << 20),
                       ("archive.tar.gz", 4 << 20), ("sources.zip", 2 << 20)):
        with open(os.path.join(www, name), "wb") as f:
            f.truncate(size)
        os.chmod(os.path.join(www, name), 0o644)
    zip_size = make_zip(os.path.join(www, "holiday-photos.zip"))
    os.environ["BRENLOFT_SHOTS_ZIP_SIZE"] = str(zip_size)
    # A finished video for the preview panel: two seconds of colour bars.
    video = os.path.join(work, "trailer.avi")
    subprocess.run(["gst-launch-1.0", "-q", "videotestsrc", "num-buffers=50", "pattern=smpte",
                    "!", "video/x-raw,width=640,height=360,framerate=25/1", "!", "jpegenc",
                    "!", "avimux", "!", "filesink", f"location={video}"], check=True, timeout=60)
    os.environ["BRENLOFT_SHOTS_VIDEO"] = video
    try:
        with Nginx(os.path.join(work, "nginx"), www) as nginx:
            base = f"http://127.0.0.1:{nginx.port}"
            urls = [f"{base}/limited/debian-12.iso", f"{base}/video.mkv",
                    f"{base}/limited/archive.tar.gz", f"http://127.0.0.1:1/missing.zip",
                    f"{base}/sources.zip", f"{base}/holiday-photos.zip"]
            for language in ("english", "francais"):
                for scale in (1, 2):
                    run_scale(bindir, out, scale, urls, language)
    finally:
        shutil.rmtree(work, ignore_errors=True)


main()
