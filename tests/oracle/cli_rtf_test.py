#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Checks `pixorama-cli rtf FILE` byte for byte on files made here.

    cli_rtf_test.py PIXORAMA_CLI

The files' dates are set and the program runs under TZ=UTC with a fixed locale, so the
expected documents are exact: a TIFF with microscope parameters, texts and a record
time; the same under a German locale (comma, German date); a multi-image file; a comment
past the panel's limits, kept whole; a file that cannot be read (status 1, message on stderr). Exit status 0 when every check
passed, 1 otherwise. Needs only the standard library.
"""

import calendar
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from tiff_bytes import ascii_tag, tiff, vexa_header  # noqa: E402

HEAD = (b"{\\rtf1 \\deff1{\\fonttbl {\\f1 \\fnil MS Sans Serif;}}\r\n"
        b"{\\colortbl\\red0\\green0\\blue0;\\red255\\green255\\blue240;\\red0\\green128\\blue0;}\r\n"
        b"{\\f1\\fs18\\cf0\\cb1 ")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(cli, path, lang):
    env = dict(os.environ, TZ="UTC", LANG=lang, LC_ALL=lang)
    env.pop("LANGUAGE", None)
    done = subprocess.run([cli, "rtf", path], capture_output=True, env=env, timeout=60)
    return done.returncode, done.stdout, done.stderr


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    cli = sys.argv[1]
    stamp = calendar.timegm((2025, 4, 3, 10, 20, 30))
    with tempfile.TemporaryDirectory() as tmp:
        single = os.path.join(tmp, "single.tif")
        with open(single, "wb") as f:
            f.write(tiff([(6, 3, 8, bytes(range(18)), [
                ascii_tag(270, b"first\r\nsecond {x}"),
                ascii_tag(315, b"M\xfcller\\Lab"),
                vexa_header([
                    (2, struct.pack("<d", 2500.0)),
                    (7, struct.pack("<d", 20.25)),
                    (8, struct.pack("<d", 8.5)),
                    (9, b"Mag: %.0fx\r\nHV: %.1f kV\r\nWD %.2f mm\0"),
                    (10, b"mag, hv, wd\0"),
                    (11, b"\x01\x02"),
                    (14, struct.pack("<8H", 2026, 12, 2, 8, 9, 30, 15, 0)),
                    (15, struct.pack("<i", 7)),
                ]),
            ])]))
        os.utime(single, (stamp, stamp))
        status, out, err = run(cli, single, "C")
        check(status == 0, "single: status %d, %r" % (status, err))
        expected = HEAD + (
            b"\\b1 Record time:\\b0  8 Dec 2026 09:30:15\\line "
            b"\\b1 File date:\\b0  3 Apr 2025 10:20:30\\line "
            b"\\b1 Image number:\\b0  7\\line "
            b"\\b1 Format:\\b0  6 x 3 x 8\\line "
            b"\\b1 Author:\\b0  M\xfcller\\\\Lab\\line "
            b"\\b1 Comment:\\b0 \\line    first\\line    second \\{x\\}\\line "
            b"\\b1 Mag:\\b0  2500x\\line \\b1 HV:\\b0  20.3 kV\\line WD 8.50 mm\\line "
            b"\\b1 Linescan data present\\b0 \\line }}")
        check(out == expected, "single document:\n%r\nexpected\n%r" % (out, expected))

        status, out, err = run(cli, single, "de_DE.UTF-8")
        check(status == 0, "single, German: status %d" % status)
        check(b"\\b1 File date:\\b0  03.04.25 10:20:30\\line " in out, "German date: %r" % out)
        check(b"\\b1 HV:\\b0  20,3 kV\\line WD 8,50 mm\\line " in out, "German decimals: %r" % out)

        multi = os.path.join(tmp, "multi.tif")
        with open(multi, "wb") as f:
            f.write(tiff([(4, 4, 8, b"\0" * 16, []), (4, 4, 8, b"\x80" * 16, [])]))
        os.utime(multi, (stamp - 37230, stamp - 37230))  # local midnight: no time
        size = os.path.getsize(multi)
        status, out, err = run(cli, multi, "C")
        check(status == 0, "multi: status %d" % status)
        kb = int(size / 1024 + 0.5)
        expected = HEAD + (
            b"\\b1 File date:\\b0  3 Apr 2025\\line "
            b"\\b1 File size:\\b0  %d KB\\line \\b1 Single images:\\b0  2\\line "
            b"\\b1 Magnification:\\b0  0x\\line \\b1 Working Distance:\\b0  0 mm\\line "
            b"\\b1 High Voltage:\\b0  0 kV\\line }}" % kb)
        check(out == expected, "multi document:\n%r\nexpected\n%r" % (out, expected))

        # The panel shows the first 1000 lines and 64 KiB of a text; the command keeps it all.
        long_comment = b"".join(b"line %04d of a long comment ...........\r\n" % i
                                for i in range(1500))
        long_file = os.path.join(tmp, "long.tif")
        with open(long_file, "wb") as f:
            f.write(tiff([(2, 2, 8, bytes(4), [ascii_tag(270, long_comment)])]))
        status, out, err = run(cli, long_file, "C")
        shown = b"\\line    ".join(long_comment.split(b"\r\n")[:-1])
        check(status == 0 and shown in out and b"left out" not in out,
              "long comment: %d bytes of document" % len(out))

        bad = os.path.join(tmp, "bad.bmp")
        with open(bad, "wb") as f:
            f.write(b"BA" + b"\0" * 60)
        status, out, err = run(cli, bad, "C")
        check(status == 1, "bad file: status %d" % status)
        check(out == b"", "bad file: no document")
        check(err.startswith(b"pixorama-cli: " + bad.encode() + b": "), "bad file: %r" % err)

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
