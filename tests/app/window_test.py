#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Runs the desktop program on a real X display and reads what the window system sees.

    window_test.py PIXORAMA
    window_test.py PIXORAMA --close-only SECONDS
    window_test.py PIXORAMA --signals

Starts itself again under `xvfb-run -a` and drives the window with xdotool: the main
window's title and the delete question's title as the window system shows them; then a
folder whose first file holds a comment of a million lines (and other texts as long):
the window must close on Alt+X once that file is shown, on a first start and on a second
one that takes the file's entry from the cache. Prints the seconds from the key to the
end of the process. `--close-only` makes the one measurement of the first start, waiting
at most SECONDS for the end. `--signals` needs no display: the program (on the offscreen
platform) must end with status 0 on SIGINT and SIGTERM while it makes thumbnails, leaving
no temporary cache file and the old cache in place. Exit status 0 when every check passed,
1 otherwise, 77 when xvfb-run or xdotool is missing.
"""

import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from tiff_bytes import ascii_tag, tiff, vexa_header  # noqa: E402

UNDER_X = "PIXORAMA_WINDOW_TEST_X"

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def xdotool(*args):
    done = subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else None


def visible_windows(pid):
    """{window id: title} of the process's mapped windows."""
    found = xdotool("search", "--all", "--onlyvisible", "--pid", pid, "--name", ".")
    windows = {}
    for window in (found or "").split():
        name = xdotool("getwindowname", window)
        if name is not None:
            windows[window] = name
    return windows


def wait_for_window(pid, accept, seconds):
    """The first visible window whose title `accept`s, polled for `seconds`."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for window, name in visible_windows(pid).items():
            if accept(name):
                return window, name
        time.sleep(0.05)
    return None, None


def make_folder(folder):
    os.makedirs(folder)
    with open(os.path.join(folder, "a.tif"), "wb") as f:
        f.write(tiff([(8, 6, 8, bytes(48), [ascii_tag(270, b"a comment")])]))
    with open(os.path.join(folder, "b.tif"), "wb") as f:
        f.write(tiff([(8, 6, 8, bytes(range(48)), [])]))


def start(program, tmp, folder, first):
    run = os.path.join(tmp, "run")
    os.makedirs(run, mode=0o700, exist_ok=True)
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=run,
               PIXORAMA_REGISTRY_DIR=os.path.join(tmp, "registry"))
    return subprocess.Popen([program, os.path.join(folder, first)], env=env)


def check_titles(program, tmp):
    folder = os.path.join(tmp, "titles")
    make_folder(folder)
    process = start(program, tmp, folder, "a.tif")
    try:
        # The first file is focused once its entry is in; the title is exactly the form's own.
        expected = "Pixorama 1.0 - %s/a.tif" % folder
        window, name = wait_for_window(process.pid, lambda n: n.startswith("Pixorama 1.0 - "
                                                                           + folder + "/"), 30)
        if not check(window is not None, "no main window"):
            return
        end = time.monotonic() + 30
        while name != expected and time.monotonic() < end:
            time.sleep(0.05)
            name = xdotool("getwindowname", window)
        check(name == expected, "main window title %r, expected %r" % (name, expected))
        xdotool("windowfocus", "--sync", window)
        xdotool("key", "Delete")
        box, box_name = wait_for_window(process.pid, lambda n: n != name, 10)
        check(box_name == "Confirm", "delete question's title %r" % box_name)
        if box is not None:
            xdotool("windowfocus", "--sync", box)
            xdotool("key", "Escape")
        check(os.path.exists(os.path.join(folder, "a.tif")), "No deleted the file")
        xdotool("windowfocus", "--sync", window)
        xdotool("key", "alt+x")
        process.wait(timeout=30)
        check(process.returncode == 0, "exit status %s" % process.returncode)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def make_long_folder(folder):
    """The first file holds 2 MB of "x\n" as its comment, a 2 MB line as its author, and
    as many lines again in its copyright and its parameter format."""
    os.makedirs(folder)
    lines = b"x\n" * (1 << 20)
    with open(os.path.join(folder, "a-long.tif"), "wb") as f:
        f.write(tiff([(8, 6, 8, bytes(48), [
            ascii_tag(270, lines), ascii_tag(315, b"y" * (2 << 20)), ascii_tag(33432, lines),
            vexa_header([(9, b"p\n" * 500000 + b"%.0f\0"), (10, b"MAG\0")])])]))
    with open(os.path.join(folder, "b.tif"), "wb") as f:
        f.write(tiff([(8, 6, 8, bytes(48), [])]))


def close_after_long_file(program, tmp, folder, cap, wait_for_cache):
    """Seconds from Alt+X to the end of the process, None past `cap`."""
    process = start(program, tmp, folder, "a-long.tif")
    try:
        window, name = wait_for_window(process.pid, lambda n: n.startswith("Pixorama 1.0 - "
                                                                           + folder), 30)
        if not check(window is not None, "no main window on the long file"):
            return None
        xdotool("windowfocus", "--sync", window)
        # The first file is shown once its title names it.
        end = time.monotonic() + 30
        while "a-long.tif" not in (name or "") and time.monotonic() < end:
            time.sleep(0.05)
            name = xdotool("getwindowname", window)
        check("a-long.tif" in (name or ""), "the long file was not selected: %r" % name)
        cache = os.path.join(folder, "pixorama.dtd")
        while wait_for_cache and not os.path.exists(cache) and time.monotonic() < end:
            time.sleep(0.05)
        # The pointer over the file's cell puts its comment in the status bar.
        geometry = dict(line.split("=") for line in
                        (xdotool("getwindowgeometry", "--shell", window) or "").split())
        if "X" in geometry:
            xdotool("mousemove", int(geometry["X"]) + 270, int(geometry["Y"]) + 60)
        time.sleep(0.2)
        began = time.monotonic()
        xdotool("key", "alt+x")
        try:
            process.wait(timeout=cap)
        except subprocess.TimeoutExpired:
            return None
        return time.monotonic() - began
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def check_long_file(program, tmp):
    folder = os.path.join(tmp, "long")
    make_long_folder(folder)
    for start_name in ("first start", "start from the cache"):
        if start_name != "first start":
            check(os.path.exists(os.path.join(folder, "pixorama.dtd")), "no cache written")
        seconds = close_after_long_file(program, tmp, folder, 10, start_name == "first start")
        check(seconds is not None, "%s: the window did not close on Alt+X" % start_name)
        if seconds is not None:
            print("%s: closed %.2f s after Alt+X" % (start_name, seconds))


def grey_png(width, height):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I",
                                                                       zlib.crc32(kind + data))
    rows = (b"\0" + bytes(width)) * height
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0,
                                                                0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def check_stop_signals(program, tmp):
    folder = os.path.join(tmp, "stop")
    os.makedirs(folder)
    picture = grey_png(2000, 2000)  # small on disk, some milliseconds to decode
    for i in range(3):
        with open(os.path.join(folder, "a%d.png" % i), "wb") as f:
            f.write(picture)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=os.path.join(tmp, "run"),
               PIXORAMA_REGISTRY_DIR=os.path.join(tmp, "registry"))
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    first = os.path.join(folder, "a0.png")
    done = subprocess.run([program, "--quit-when-loaded", first], env=env, timeout=120)
    cache = os.path.join(folder, "pixorama.dtd")
    if not check(done.returncode == 0 and os.path.exists(cache), "no cache made"):
        return
    with open(cache, "rb") as f:
        old_cache = f.read()
    # Enough new files to keep the generation thread busy for seconds after the splash.
    for i in range(300):
        with open(os.path.join(folder, "b%03d.png" % i), "wb") as f:
            f.write(picture)
    for number in (signal.SIGINT, signal.SIGTERM):
        process = subprocess.Popen([program, first], env=env)
        time.sleep(2.5)
        process.send_signal(number)
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        name = signal.Signals(number).name
        check(process.returncode == 0, "%s: exit status %s" % (name, process.returncode))
        left = [n for n in os.listdir(folder) if n.startswith("pixorama.dtd.tmp")]
        check(not left, "%s: temporary cache files left: %s" % (name, left))
        # The old cache, or a complete new one if the thread was done before the signal.
        with open(cache, "rb") as f:
            now = f.read()
        check(now == old_cache or (now[:4] == b"DTDB" and len(now) > len(old_cache)),
              "%s: cache damaged" % name)


def main():
    if len(sys.argv) not in (2, 3, 4) or sys.argv[2:3] not in ([], ["--signals"],
                                                                ["--close-only"]):
        print(__doc__, file=sys.stderr)
        return 2
    program = os.path.abspath(sys.argv[1])
    if sys.argv[2:] == ["--signals"]:
        with tempfile.TemporaryDirectory() as tmp:
            check_stop_signals(program, tmp)
        for failure in failures:
            print("FAIL:", failure)
        return 1 if failures else 0
    if os.environ.get(UNDER_X) != "1":
        if not shutil.which("xvfb-run") or not shutil.which("xdotool"):
            print("SKIP: needs xvfb-run and xdotool")
            return 77
        env = dict(os.environ, **{UNDER_X: "1"})
        # The search for a free display starts at a number of this process's own, so that
        # tests started together do not race for the same one.
        server = str(100 + os.getpid() % 5000)
        command = ["xvfb-run", "-a", "-n", server, sys.executable, os.path.abspath(__file__)]
        return subprocess.run(command + sys.argv[1:], env=env).returncode
    with tempfile.TemporaryDirectory() as tmp:
        if len(sys.argv) == 4:
            cap = float(sys.argv[3])
            make_long_folder(os.path.join(tmp, "long"))
            seconds = close_after_long_file(program, tmp, os.path.join(tmp, "long"), cap, False)
            print("closed %s after Alt+X" % ("%.2f s" % seconds if seconds is not None
                                              else "> %g s (not at all)" % cap))
            for failure in failures:
                print("FAIL:", failure)
            return 0
        check_titles(program, tmp)
        check_long_file(program, tmp)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
