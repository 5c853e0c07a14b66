#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Checks `pixorama-cli convert IN OUT.bmp` and `pixorama-cli thumb` on every file of the
PNG suite against Python PIL.

    png_oracle.py PIXORAMA_CLI TESTDATA_DIR

Every file must either succeed or fail with a message ("pixorama-cli: FILE: MESSAGE" on
stderr, exit status 1); a crash, a hang or a silent failure is a fault. The broken x*
files must fail; all others must convert and make a thumbnail. For opaque files (no tRNS,
no alpha channel) the pixels of OUT.bmp must equal PIL's: exactly for 8 bits and below,
by the high byte for 16-bit samples. PIL ignores gAMA, so the program's gamma rule,
round(255 * (v / 255) ** (1 / (gamma * 2.2))), is applied to PIL's samples here.
Exit status 0 when nothing failed, 1 otherwise, 77 when the corpus is absent.
"""

import os
import struct
import subprocess
import sys
import tempfile

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from convert_oracle import read_plain_bmp  # noqa: E402

TIMEOUT = 60


def chunks(path):
    with open(path, "rb") as f:
        data = f.read()
    pos = 8
    while pos + 8 <= len(data):
        (length,) = struct.unpack_from(">I", data, pos)
        yield data[pos + 4: pos + 8], data[pos + 8: pos + 8 + length]
        pos += 12 + length


def describe(path):
    """(colour type, bit depth, has tRNS, gamma x 100000 or 0)."""
    color_type = depth = 0
    trns = False
    gamma = 0
    for name, body in chunks(path):
        if name == b"IHDR":
            depth, color_type = body[8], body[9]
        elif name == b"tRNS":
            trns = True
        elif name == b"gAMA" and len(body) >= 4:
            (gamma,) = struct.unpack(">I", body[:4])
        elif name == b"IDAT":
            break
    return color_type, depth, trns, gamma


def gamma_table(gamma):
    if gamma == 0:
        return list(range(256))
    return [int(round(255 * (i / 255) ** (100000 / (gamma * 2.2)))) for i in range(256)]


def pil_reference(path, depth):
    """PIL's decode as RGB bytes, 16-bit samples by their high byte."""
    with Image.open(path) as im:
        im.load()
        if im.mode in ("I", "I;16", "I;16B"):
            values = im.getdata()
            return bytes(v >> 8 if depth == 16 else v for v in values for _ in range(3))
        return im.convert("RGB").tobytes()


def run(cli, args):
    try:
        proc = subprocess.run([cli] + args, capture_output=True, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return None, "timed out"
    return proc.returncode, proc.stderr.decode("utf-8", "replace").strip()


def main(argv):
    if len(argv) != 3:
        print(__doc__)
        return 2
    cli, testdata = argv[1], argv[2]
    suite = os.path.join(testdata, "pngsuite")
    if not os.path.isdir(suite):
        print("PNG suite not found at %s: skipped" % suite)
        return 77
    failures = []
    checked = 0
    with tempfile.TemporaryDirectory() as tmp:
        for name in sorted(os.listdir(suite)):
            if not name.endswith(".png"):
                continue
            path = os.path.join(suite, name)
            out = os.path.join(tmp, "out.bmp")
            code, err = run(cli, ["convert", path, out])
            if code is None or code < 0:
                failures.append("%s: crashed or hung (%s)" % (name, code))
                continue
            if name.startswith("x"):
                if code != 1 or "pixorama-cli:" not in err:
                    failures.append("%s: broken file not refused with a message (%s)" % (name, code))
                continue
            if code != 0:
                failures.append("%s: refused: %s" % (name, err))
                continue
            code, err = run(cli, ["thumb", path, os.path.join(tmp, "thumb.bmp")])
            if code != 0:
                failures.append("%s: no thumbnail: %s" % (name, err))
            color_type, depth, trns, gamma = describe(path)
            if trns or color_type in (4, 6):
                continue
            width, height, ours = read_plain_bmp(out)
            table = gamma_table(gamma)
            want = bytes(table[v] for v in pil_reference(path, depth))
            if (width, height) != Image.open(path).size or ours != want:
                diff = next((i for i in range(min(len(ours), len(want))) if ours[i] != want[i]), None)
                failures.append("%s: pixels differ from PIL at byte %s" % (name, diff))
            checked += 1
    for f in failures:
        print(f)
    print("%d opaque files compared, %d failures" % (checked, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
