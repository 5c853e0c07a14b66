#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Checks `pixorama-cli thumbs DIR` end to end on a copy of the sample folder.

    cli_thumbs_test.py PIXORAMA_CLI SAMPLES_DIR

The copy gets a file "broken.jpg" that is no picture. The first run makes every sample
and nothing for broken.jpg and writes the folder's cache file; the second takes every
sample from the cache. Also: one decoder or several write the same cache file, another
box size ignores the cache, --quiet prints only the summary, SIGINT and SIGTERM stop a run
and keep the old cache, a missing or unreadable folder and bad options fail with their
exit status. Exit status 0 when every check passed, 1 otherwise. Needs only the standard
library (and setpriv, as root, to read as another user).
"""

import errno
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

CACHE = "pixorama.dtd"
IMAGE_EXTENSIONS = (".tif", ".tiff", ".tim", ".bmp", ".jpg", ".jpeg", ".png", ".psd")
SUMMARY = re.compile(r"^files=(\d+) cache=(\d+) made=(\d+) none=(\d+) seconds=\d+\.\d{3}$")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(cli, *args):
    result = subprocess.run([cli, "thumbs"] + list(args), capture_output=True, timeout=120)
    return result.returncode, result.stdout.decode("utf-8", "replace"), result.stderr.decode(
        "utf-8", "replace")


def parse(stdout, what):
    """The per-file lines as {name: (index, state)} in printed order, and the summary."""
    lines = stdout.splitlines()
    check(len(lines) >= 1, "%s: no output" % what)
    summary = SUMMARY.match(lines[-1]) if lines else None
    check(summary is not None, "%s: bad summary line %r" % (what, lines[-1] if lines else ""))
    entries = {}
    order = []
    for line in lines[:-1]:
        parts = line.split("\t")
        if len(parts) != 3 or not parts[0].isdigit() or parts[2] not in ("made", "cache", "none"):
            failures.append("%s: bad line %r" % (what, line))
            continue
        check(parts[1] not in entries, "%s: %s listed twice" % (what, parts[1]))
        entries[parts[1]] = (int(parts[0]), parts[2])
        order.append(parts[1])
    counts = tuple(int(g) for g in summary.groups()) if summary else (None,) * 4
    return entries, order, counts


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def sort_key(name):
    # Ascending without regard to ASCII case; the bytes decide between equal names.
    return (name.upper(), name)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    cli, samples = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as tmp:
        folder = os.path.join(tmp, "folder")
        os.mkdir(folder)
        for name in os.listdir(samples):
            if name.lower().endswith(IMAGE_EXTENSIONS):
                shutil.copyfile(os.path.join(samples, name), os.path.join(folder, name))
        with open(os.path.join(folder, "broken.jpg"), "wb") as f:
            f.write(b"\xff\xd8\xff\xe0 this is not a JPEG at all" * 4)
        with open(os.path.join(folder, "notes.txt"), "w") as f:
            f.write("not listed\n")
        # An hour old: an entry made from a file written within the last 2 seconds is made
        # again at the next run.
        settled = time.time() - 3600
        for name in os.listdir(folder):
            os.utime(os.path.join(folder, name), (settled, settled))
        sample_names = sorted((n for n in os.listdir(folder) if n.lower().endswith(IMAGE_EXTENSIONS)
                               and n != "broken.jpg"), key=sort_key)
        check(len(sample_names) >= 5, "too few samples in %s" % samples)
        listed = sorted(sample_names + ["broken.jpg"], key=sort_key)
        count = len(listed)

        # First run: everything made, broken.jpg without an entry, the cache written.
        code, out, err = run(cli, folder)
        check(code == 0, "first run: exit status %d, %s" % (code, err.strip()))
        entries, order, counts = parse(out, "first run")
        check(counts == (count, 0, count - 1, 1), "first run: summary %s" % (counts,))
        for name in sample_names:
            check(entries.get(name, (None, None))[1] == "made", "first run: %s not made" % name)
        check(entries.get("broken.jpg", (None, None))[1] == "none", "first run: broken.jpg")
        check(order[-1:] == ["broken.jpg"], "first run: the files without entry come last")
        for name, (index, _) in entries.items():
            check(index == listed.index(name), "first run: index of %s is %d" % (name, index))
        check("notes.txt" not in entries, "first run: a text file was listed")
        check(os.path.isfile(os.path.join(folder, CACHE)), "first run: no cache file")
        first_cache = read_bytes(os.path.join(folder, CACHE))
        check(first_cache is not None and first_cache[:4] == b"DTDB", "cache file magic")

        # Second run: every sample from the cache, the file left as it was.
        code, out, err = run(cli, folder)
        check(code == 0, "second run: exit status %d, %s" % (code, err.strip()))
        entries, order, counts = parse(out, "second run")
        check(counts == (count, count - 1, 0, 1), "second run: summary %s" % (counts,))
        for name in sample_names:
            check(entries.get(name, (None, None))[1] == "cache", "second run: %s not cached" % name)
        check(entries.get("broken.jpg", (None, None))[1] == "none", "second run: broken.jpg")
        check(read_bytes(os.path.join(folder, CACHE)) == first_cache,
              "second run rewrote the cache file")

        # One decoder or several: the same cache file.
        for threads in ("1", "3"):
            if os.path.exists(os.path.join(folder, CACHE)):
                os.remove(os.path.join(folder, CACHE))
            code, out, err = run(cli, folder, "--threads", threads, "--quiet")
            check(code == 0, "--threads %s: exit status %d" % (threads, code))
            check(read_bytes(os.path.join(folder, CACHE)) == first_cache,
                  "--threads %s: another cache file" % threads)

        # Another box: nothing from the cache; --quiet prints the summary alone.
        code, out, err = run(cli, folder, "--box", "50x40", "--quiet")
        check(code == 0, "--box: exit status %d" % code)
        lines = out.splitlines()
        check(len(lines) == 1, "--quiet: %d lines" % len(lines))
        entries, order, counts = parse(out, "--box 50x40")
        check(counts == (count, 0, count - 1, 1), "--box 50x40: summary %s" % (counts,))

        # SIGINT and SIGTERM stop the run where it is: the old cache stays, no temporary
        # file is left, the summary is still printed, and the status is 128 + the signal.
        busy = os.path.join(tmp, "busy")
        os.mkdir(busy)
        sample = os.path.join(folder, sample_names[0])
        for i in range(600):
            os.link(sample, os.path.join(busy, "%03d-%s" % (i, sample_names[0])))
        run(cli, busy, "--box", "20x20", "--quiet")
        busy_cache = read_bytes(os.path.join(busy, CACHE))
        for signal_number in (signal.SIGINT, signal.SIGTERM):
            child = subprocess.Popen([cli, "thumbs", busy, "--threads", "1"],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            child.stdout.readline()  # the first lines: the run is under way
            child.send_signal(signal_number)
            out, err = child.communicate(timeout=60)
            what = "signal %d" % signal_number
            check(child.returncode == 128 + signal_number,
                  "%s: exit status %d" % (what, child.returncode))
            last = out.decode("utf-8", "replace").splitlines()[-1:]
            summary = SUMMARY.match(last[0]) if last else None
            check(summary is not None and int(summary.group(3)) < 600,
                  "%s: summary %r" % (what, last))
            check(read_bytes(os.path.join(busy, CACHE)) == busy_cache,
                  "%s: the cache file changed" % what)
            leftovers = [n for n in os.listdir(busy) if n.startswith(CACHE + ".tmp")]
            check(leftovers == [], "%s: left %s" % (what, leftovers))

        # Failures: a missing folder, bad options.
        code, out, err = run(cli, os.path.join(tmp, "missing"))
        check(code == 1, "missing folder: exit status %d" % code)
        check("folder not found" in err, "missing folder: message %r" % err)
        check(out == "", "missing folder: output %r" % out)
        # A folder that cannot be read fails the same way, with the system's reason. Root
        # reads every folder, so as root the command runs as nobody.
        closed = os.path.join(tmp, "closed")
        os.mkdir(closed, 0)
        prefix = []
        if os.geteuid() == 0:
            os.chmod(tmp, 0o755)
            prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        if prefix and shutil.which("setpriv") is None:
            print("SKIP: an unreadable folder: no setpriv to run as another user than root")
        else:
            result = subprocess.run(prefix + [cli, "thumbs", closed], capture_output=True,
                                    timeout=120)
            err = result.stderr.decode("utf-8", "replace")
            check(result.returncode == 1, "unreadable folder: exit status %d" % result.returncode)
            check(err == "pixorama-cli: %s: %s\n" % (closed, os.strerror(errno.EACCES)),
                  "unreadable folder: message %r" % err)
        os.chmod(closed, 0o755)
        for args in (["--box", "0x40", folder], ["--box", "50", folder], ["--threads", "x", folder],
                     [], [folder, folder]):
            code, out, err = run(cli, *args)
            check(code == 2, "%s: exit status %d" % (args, code))
            check(err != "", "%s: no message" % (args,))

    for failure in failures:
        print("FAIL:", failure)
    print("%d failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
