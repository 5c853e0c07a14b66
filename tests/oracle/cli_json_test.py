#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Checks `pixorama-cli info --json FILE...` on files made here and on the sample folder.

    cli_json_test.py PIXORAMA_CLI SAMPLES_DIR

Every line of the output must parse with json.loads (strict UTF-8, no NaN), carry
exactly the keys of a thumbnail entry, and hold the values the files were made with:
Windows-1252 texts, control characters, a non-finite magnification (null), a point
block (hex), the numbered comment and bounding box of a multi-image file with a
layout, a failing file (error key, status 1) and a file name that is not UTF-8.
Exit status 0 when every check passed, 1 otherwise. Needs only the standard library.
"""

import json
import math
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from tiff_bytes import ascii_tag, tiff, vexa_header, vexa_layout  # noqa: E402

ENTRY_KEYS = {
    "file", "FileDate", "Width", "Height", "DataSize", "BitCount", "ImageCount",
    "Comment", "Author", "Copyright", "ParamValue3", "ParamValue4", "ParamValue6",
    "Magnification", "HighVoltage", "WorkingDistance", "ParamFormat", "ParamNames",
    "LinescanData", "PointscanData", "RecordTime", "ImageNumber", "MeasurementData",
    "PointPositions", "Thumbnail",
}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(cli, files):
    result = subprocess.run([cli, "info", "--json"] + files, capture_output=True, timeout=120)
    try:
        text = result.stdout.decode("utf-8", errors="strict")
    except UnicodeDecodeError as e:
        failures.append("output is not UTF-8: %s" % e)
        return result.returncode, [], result.stderr
    lines = text.splitlines()
    check(len(lines) == len(files), "one line per file: %d lines for %d files" % (len(lines), len(files)))
    entries = []
    for line in lines:
        try:
            entry = json.loads(line, parse_constant=lambda c: failures.append("bare " + c))
        except ValueError as e:
            failures.append("invalid JSON (%s): %s" % (e, line[:200]))
            continue
        keys = set(entry)
        expected = ENTRY_KEYS | ({"error"} if "error" in entry else set())
        check(keys == expected, "keys of %s: %s" % (entry.get("file"), sorted(keys ^ expected)))
        check(isinstance(entry.get("RecordTime"), list) and len(entry["RecordTime"]) == 8,
              "RecordTime of %s is an array of eight" % entry.get("file"))
        entries.append(entry)
    return result.returncode, entries, result.stderr


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    cli, samples = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as tmp:
        single = os.path.join(tmp, "single.tif")
        points = b"\x03Pos".ljust(20, b"\0") + struct.pack("<iiii", 0, 0, 1, 8) + b"\x01" * 8
        record_time = struct.pack("<8H", 2026, 12, 2, 8, 9, 30, 15, 250)
        with open(single, "wb") as f:
            f.write(tiff([(6, 3, 8, bytes(range(18)), [
                ascii_tag(270, b"Caf\xe9 \"q\" \\\r\n\x01end"),
                ascii_tag(315, b"M\xfcller"),
                vexa_header([
                    (2, struct.pack("<d", math.nan)),
                    (7, struct.pack("<d", 20.5)),
                    (8, struct.pack("<d", math.inf)),
                    (3, struct.pack("<d", 1e-300)),
                    (9, b"Mag %.0f\0"),
                    (10, b"MAG\0"),
                    (14, record_time),
                    (15, struct.pack("<i", -7)),
                    (22, points),
                ]),
            ])]))
        multi = os.path.join(tmp, "multi.tif")
        with open(multi, "wb") as f:
            f.write(tiff([
                (4, 4, 8, b"\0" * 16, [ascii_tag(270, b"a"),
                                    vexa_layout(3, [(10, 20, 40, 40), (50, 20, 40, 40), (0, 0, 500, 500)])]),
                (4, 4, 8, b"\x80" * 16, [ascii_tag(270, b"b")]),
            ]))
        bad = os.path.join(tmp, "bad.bmp")
        with open(bad, "wb") as f:
            f.write(b"BA" + b"\0" * 60)
        odd_name = os.path.join(os.fsencode(tmp), b"caf\xe9.bmp")
        with open(os.path.join(samples, "mask-320x240.bmp"), "rb") as src, open(odd_name, "wb") as f:
            f.write(src.read())
        grating = os.path.join(samples, "grating-640x480.bmp")
        particles = os.path.join(samples, "particles-1024x768.jpg")

        status, entries, stderr = run(cli, [grating, particles, single, multi])
        check(status == 0, "status 0 when every file succeeded, got %d" % status)
        by_name = {e["file"]: e for e in entries}

        g = by_name.get(grating, {})
        check((g.get("Width"), g.get("Height"), g.get("BitCount"), g.get("ImageCount")) == (640, 480, 8, 0),
              "grating sizes: %s" % g)
        check(g.get("Thumbnail") == {"Width": 112, "Height": 84, "BitCount": 8}, "grating thumbnail")
        check(g.get("DataSize") == 640 * 480, "grating DataSize")

        s = by_name.get(single, {})
        check(s.get("Comment") == "Caf\u00e9 \"q\" \\\r\n\u0001end", "comment text: %r" % s.get("Comment"))
        check(s.get("Author") == "M\u00fcller", "author: %r" % s.get("Author"))
        check(s.get("Magnification") is None, "NaN magnification is null")
        check(s.get("WorkingDistance") is None, "infinite working distance is null")
        check(s.get("HighVoltage") == 20.5, "high voltage")
        check(s.get("ParamValue3") == 1e-300, "shortest round trip of 1e-300")
        check(s.get("ParamFormat") == "Mag %.0f" and s.get("ParamNames") == "MAG", "parameter texts")
        check(s.get("RecordTime") == [2026, 12, 2, 8, 9, 30, 15, 250], "record time")
        check(s.get("ImageNumber") == -7, "image number")
        check(s.get("PointscanData") == -2 and s.get("PointPositions") == points.hex(),
              "point block: %s %s" % (s.get("PointscanData"), s.get("PointPositions")))
        check((s.get("Width"), s.get("Height"), s.get("DataSize"), s.get("ImageCount")) == (6, 3, 24, 1),
              "single sizes")
        check(s.get("Thumbnail") == {"Width": 112, "Height": 56, "BitCount": 8}, "single thumbnail")

        m = by_name.get(multi, {})
        check(m.get("Comment") == "[1] a\r\n[2] b", "multi comment: %r" % m.get("Comment"))
        check((m.get("Width"), m.get("Height"), m.get("ImageCount"), m.get("BitCount")) == (80, 40, 2, 0),
              "multi box: %s" % m)
        check(m.get("DataSize") == os.path.getsize(multi), "multi DataSize is the file size")
        # The scale 112/80 is kept as a 32-bit real, just below 1.4, so 40 × s truncates to 55.
        check(m.get("Thumbnail") == {"Width": 112, "Height": 55, "BitCount": 24},
              "multi thumbnail: %s" % m.get("Thumbnail"))

        result = subprocess.run([cli.encode(), b"info", b"--json", os.fsencode(bad), odd_name],
                                capture_output=True, timeout=120)
        check(result.returncode == 1, "status 1 when a file failed, got %d" % result.returncode)
        try:
            lines = [json.loads(l) for l in result.stdout.decode("utf-8").splitlines()]
        except ValueError as e:
            failures.append("failing run: %s" % e)
            lines = []
        if len(lines) == 2:
            b, o = lines
            check(b.get("error") == "Invalid BMP format", "error text: %r" % b.get("error"))
            check(b.get("Thumbnail") is None and b.get("Width") == 0, "failed entry is empty")
            check(b.get("FileDate", -1) != -1, "failed entry keeps its date")
            check(set(b) == ENTRY_KEYS | {"error"}, "failed entry keys")
            check("error" not in o and o.get("file", "").endswith("caf\ufffd.bmp"),
                  "non-UTF-8 name: %r" % o.get("file"))
            check(o.get("BitCount") == 1, "odd-named file read")
        else:
            failures.append("failing run gave %d lines" % len(lines))
        check(b"pixorama-cli: " + os.fsencode(bad) + b": Invalid BMP format" in result.stderr,
              "stderr report: %r" % result.stderr)

    for f in failures:
        print("FAIL:", f)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
