#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the small VEXA-PSD files of the tests (tests/data/psd/); the sample generator takes
its raw files from here too.

A file is a 169-byte header (magic A5 5A, width, height, window low and high, ramp base and
levels, a comment in code page 437) followed by width x height little-endian 16-bit samples,
top row first: the low 12 bits are the grey value, the high 4 bits an overlay code.

    python3 tools/make_psd_files.py            # writes tests/data/psd/
"""
import math
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent


def header(width, height, low, high, base, levels, comment=b""):
    assert len(comment) <= 64
    head = bytearray(169)
    struct.pack_into("<Hhhhh", head, 0, 0x5AA5, width, height, low, high)
    struct.pack_into("<h", head, 28, base)
    struct.pack_into("<h", head, 32, levels)
    head[104] = len(comment)
    head[105:105 + len(comment)] = comment
    return bytes(head)


def samples(width, rows, fn):
    return b"".join(struct.pack("<H", fn(x, y)) for y in range(rows) for x in range(width))


def ramp_64x48():
    # Grey rises by 64 per column, so column x shows entry 32 + x of the 64-step ramp;
    # a 4 x 4 block of overlay code 3 sits at (8, 8), and the bottom row carries the
    # codes 1 to 15 in columns 0 to 14.
    def fn(x, y):
        if 8 <= x < 12 and 8 <= y < 12:
            return 0x3000 | (x * 64)
        if y == 47 and x < 15:
            return ((x + 1) << 12) | 0x123
        return x * 64
    # "Größe 5µm" in code page 437: ö = 94, ß = E1, µ = E6.
    comment = b"Gr\x94\xe1e 5\xe6m"
    return header(64, 48, 0, 4095, 32, 64, comment) + samples(64, 48, fn)


def topdown_8x4():
    # Negative height: four rows stored top first; row y is grey 1024 * y.
    return header(8, -4, 0, 4095, 32, 64) + samples(8, 4, lambda x, y: 1024 * y)


def window_tim():
    # A narrow window 2000..2099 over the 32-entry blue ramp (entries 96 to 127).
    def fn(x, y):
        return 1900 + 10 * x
    return header(32, 2, 2000, 2099, 96, 32) + samples(32, 2, fn)


def truncated():
    # The header promises 16 rows of 16 samples; the file ends a row early.
    whole = header(16, 16, 0, 4095, 32, 64) + samples(16, 16, lambda x, y: 256 * y)
    return whole[:-32]


def bad_magic():
    data = bytearray(header(4, 4, 0, 4095, 32, 64) + samples(4, 4, lambda x, y: 0))
    data[0:2] = b"PK"
    return bytes(data)


def sample_256x192():
    # Rings of grey over the 64-step ramp, with a cross-hair in overlay colours.
    def fn(x, y):
        if x == 128 or y == 96:
            return 0xE000
        if abs(x - 128) == abs(y - 96) and abs(x - 128) < 40:
            return 0x4000
        r = math.hypot(x - 128, y - 96)
        grey = int(2047 + 2047 * math.cos(r / 9.0) * math.exp(-r / 160.0))
        return max(0, min(4095, grey))
    return header(256, 192, 0, 4095, 32, 64, b"Test pattern, 12 bit") + samples(256, 192, fn)


def sample_tim_320x200():
    # A diagonal ramp in a narrow window, with an overlay frame and a comment.
    def fn(x, y):
        if x in (4, 315) or y in (4, 195):
            return 0x2000
        return 1200 + (x + y) * 1600 // 520
    return header(320, 200, 1000, 3000, 32, 64, b"Window 1000-3000, frame overlay") + samples(
        320, 200, fn)


def main():
    data = ROOT / "tests" / "data" / "psd"
    data.mkdir(parents=True, exist_ok=True)
    (data / "ramp-64x48.psd").write_bytes(ramp_64x48())
    (data / "topdown-8x4.psd").write_bytes(topdown_8x4())
    (data / "window-32x2.tim").write_bytes(window_tim())
    (data / "truncated-16x16.psd").write_bytes(truncated())
    (data / "bad-magic.psd").write_bytes(bad_magic())


if __name__ == "__main__":
    main()
