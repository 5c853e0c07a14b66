#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Runs the desktop program on a real X display and reads what the window system sees.

    window_test.py PIXORAMA

Starts itself again under `xvfb-run -a` and drives the window with xdotool: the main
window's title and the delete question's title as the window system shows them. Exit
status 0 when every check passed, 1 otherwise, 77 when xvfb-run or xdotool is missing.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from tiff_bytes import ascii_tag, tiff  # noqa: E402

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


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    program = os.path.abspath(sys.argv[1])
    if os.environ.get(UNDER_X) != "1":
        if not shutil.which("xvfb-run") or not shutil.which("xdotool"):
            print("SKIP: needs xvfb-run and xdotool")
            return 77
        env = dict(os.environ, **{UNDER_X: "1"})
        return subprocess.run(["xvfb-run", "-a", sys.executable, os.path.abspath(__file__),
                               program], env=env).returncode
    with tempfile.TemporaryDirectory() as tmp:
        check_titles(program, tmp)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
