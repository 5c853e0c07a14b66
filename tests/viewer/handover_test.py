#!/usr/bin/env python3
"""One viewer per user: a second start of pixorama-view hands its file (a relative path,
made absolute by the second start) to the running viewer and ends at once with status 0;
the running viewer shows that file. Each start gets a private runtime folder, so the
test meets no viewer of the user's.

Usage: handover_test.py PIXORAMA_VIEW SAMPLES_DIR"""
import os
import pathlib
import queue
import subprocess
import sys
import tempfile
import threading
import time

viewer = str(pathlib.Path(sys.argv[1]).resolve())
samples = pathlib.Path(sys.argv[2]).resolve()


def lines_of(process):
    """The viewer's --trace lines as they come."""
    found = queue.Queue()

    def pump():
        for line in process.stdout:
            found.put(line.rstrip("\n"))

    threading.Thread(target=pump, daemon=True).start()
    return found


with tempfile.TemporaryDirectory() as runtime:
    os.chmod(runtime, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="offscreen")
    first_file = samples / "grating-640x480.bmp"
    first = subprocess.Popen([viewer, "--trace", str(first_file)], stdout=subprocess.PIPE,
                             env=env, text=True)
    try:
        shown = lines_of(first)
        assert shown.get(timeout=30) == f"{first_file}\tok"

        for name, outcome in (("particles-1024x768.jpg", "ok"),
                              ("missing.tif", "The file does not exist")):
            start = time.monotonic()
            second = subprocess.run([viewer, name], cwd=samples, env=env, timeout=30,
                                    capture_output=True, text=True)
            took = time.monotonic() - start
            assert second.returncode == 0, (second.returncode, second.stderr)
            assert second.stdout == "", second.stdout
            assert took < 5, f"the second start took {took:.1f} s"
            assert shown.get(timeout=30) == f"{samples / name}\t{outcome}"

        first.terminate()
        assert first.wait(timeout=30) == 0
    finally:
        if first.poll() is None:
            first.kill()
            first.wait()
print("handover: two later starts handed their files to the running viewer")
