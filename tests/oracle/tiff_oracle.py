#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Checks `pixorama-cli convert IN OUT.bmp` on every TIFF of the test corpus against
independent decoders, and on files that libtiff's own tiffcp writes.

    tiff_oracle.py PIXORAMA_CLI TESTDATA_DIR

Corpus files (tiff/**.tif, .tiff), by the manifest's `subset` column:

- Inside the subset the program must succeed, and the pixels of OUT.bmp (as RGB
  through its colour table) must equal PIL's decode; where PIL cannot read the
  file, PIL's decode of `tiffcp -c none`'s copy. 16-bit files are compared with
  the display mapping computed here from PIL's 16-bit samples: the window is the
  smallest to the largest sample, a sample s shows as palette index
  10 + MulDiv(235, s - min, max - min) (10 at and below min), and index 10 + k is
  the grey MulDiv(k, 255, 235) (inverted for WhiteIsZero).
- Outside it the program must fail with a message ("pixorama-cli: FILE: MESSAGE",
  exit status 1). Where the manifest names the expected text, the message must be
  that text, except for the cases this reader deliberately treats otherwise
  (MENDED below). Invalid (damaged) files may also load.
- Nothing may crash or hang.
- seq/ files whose names end in the same checksum hold the same picture and must
  look the same (the miniswhite ones store the inverted values, as PIL shows).

Round trips: images made here with PIL are rewritten by tiffcp (LZW with and
without predictor, big-endian, several strips) and must decode to the same
pixels. Skipped when tiffcp is absent.

Exit status 0 when nothing failed, 1 otherwise, 77 when the corpus is absent.
Needs Debian's /usr/bin/python3 with python3-pil, and libtiff-tools.
"""

import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from convert_oracle import first_difference, read_plain_bmp, run_cli  # noqa: E402

TIMEOUT = 60

# Files outside the subset whose manifest text this reader replaces on purpose: the
# checks accept them, but they would show as garbage, so the reader refuses them with
# its own clear message.
MENDED = {
    "passes the checks, but SampleFormat": "Only unsigned integer samples are supported",
    "passes the checks, but the strips use old-style": "Invalid LZW code found",
    "passes the checks, but 16-bit palette":
        "Palette images with 16 bits per sample are not supported",
}


def muldiv(a, b, c):
    """a * b / c rounded to the nearest integer, halves up (all values here >= 0)."""
    return (a * b + c // 2) // c


def display16(path):
    """(width, height, RGB bytes) that a 16-bit grey file must show, from PIL's
    samples."""
    with Image.open(path) as im:
        im.load()
        photometric = im.tag_v2.get(262, 1)
        w, h = im.size
        samples = list(im.getdata())
    lo, hi = min(samples), max(samples)
    grey = []
    for k in range(236):
        g = muldiv(k, 255, 235)
        grey.append(255 - g if photometric == 0 else g)
    out = bytearray()
    for s in samples:
        if s <= lo:
            index = 10
        elif s > hi:
            index = 245
        else:
            index = 10 + muldiv(235, s - lo, hi - lo)
        g = grey[index - 10]
        out += bytes((g, g, g))
    return w, h, bytes(out)


def pil_rgb(path):
    with Image.open(path) as im:
        im.load()
        return im.size[0], im.size[1], im.convert("RGB").tobytes()


def reference(path, sixteen, tmp):
    """The reference picture and the name of who made it, or (None, reason)."""
    errors = []
    candidates = [(path, "PIL")]
    if shutil.which("tiffcp"):
        plain = os.path.join(tmp, "plain.tif")
        proc = subprocess.run(["tiffcp", "-c", "none", path, plain], capture_output=True,
                              timeout=TIMEOUT)
        if proc.returncode == 0:
            candidates.append((plain, "PIL after tiffcp -c none"))
    for candidate, name in candidates:
        try:
            return (display16(candidate) if sixteen else pil_rgb(candidate)), name
        except Exception as e:  # PIL refuses the file: try the next candidate
            errors.append("%s: %s" % (name, str(e).splitlines()[0][:80] if str(e) else e))
    return None, "; ".join(errors)


def load_manifest(testdata):
    rows = {}
    with open(os.path.join(testdata, "MANIFEST.tsv"), newline="", encoding="utf-8") as f:
        for row in csv.DictReader(f, delimiter="\t"):
            if row["path"].startswith("tiff/"):
                rows[row["path"]] = row
    return rows


def expected_text(notes):
    """(kind, text) from a manifest note: kind 'expected' or 'likely', or (None, None)."""
    m = re.search(r"(expected|likely outcome): (.*?)(?=\.? (?:libtiff|PIL|identify):|;|$)",
                  notes)
    if not m:
        return None, None
    return ("expected" if m.group(1) == "expected" else "likely"), m.group(2)


def check_corpus(cli, testdata, tmp, results):
    manifest = load_manifest(testdata)
    target = os.path.join(tmp, "out.bmp")
    seq_groups = {}
    for rel in sorted(manifest):
        row = manifest[rel]
        source = os.path.join(testdata, rel)
        inside = row["subset"] == "yes"
        valid = row["expected"] != "invalid"
        status, err = run_cli(cli, source, target)
        message = err.split(": ", 2)[2] if err.count(": ") >= 2 else ""
        if status is None or status not in (0, 1):
            results.append(("FAIL", rel, "crashed or hung (status %s) %s" % (status, err)))
            continue
        if status == 1 and (not err.startswith("pixorama-cli: ") or not message):
            results.append(("FAIL", rel, "failed without a clear message: %r" % err))
            continue
        ours = None
        if status == 0:
            try:
                ours = read_plain_bmp(target)
            except Exception as e:
                results.append(("FAIL", rel, "output is not a readable BMP: %s" % e))
                continue

        if inside:
            if status != 0:
                results.append(("FAIL", rel, "inside the subset, but failed: %s" % message))
                continue
            sixteen = row["bits_per_sample"] == "16"
            ref, name = reference(source, sixteen, tmp)
            if ref is None:
                results.append(("PASS", rel, "loaded; no reference decoder reads it (%s)" % name))
            else:
                diff = first_difference(ours, ref)
                if diff is None:
                    results.append(("PASS", rel, "identical to %s" % name))
                elif not valid:
                    results.append(("PASS", rel, "invalid file, read differently from %s: %s"
                                    % (name, diff)))
                else:
                    results.append(("FAIL", rel, "differs from %s: %s" % (name, diff)))
            m = re.match(r"tiff/image-tiff/seq/(seq-.*)-([0-9a-f]{8})\.tiff$", rel)
            if m and ours is not None:
                # The miniswhite files store the inverted values of the same picture, so
                # every member of a group looks the same.
                picture = ours
                # Palettes show the samples through their own colours: a group of its own.
                kind = "palette" if "palette" in m.group(1) else "grey"
                seq_groups.setdefault((m.group(2), kind), []).append((rel, picture))
            continue

        kind, text = expected_text(row["notes"])
        for prefix, mended in MENDED.items():
            if text and text.startswith(prefix):
                kind, text = "expected", mended
        if status == 0:
            if valid:
                results.append(("FAIL", rel, "outside the subset, but loaded"))
            else:
                results.append(("PASS", rel, "invalid file, loaded partly"))
        elif kind == "expected" and text != "Missing Compression tag" and message != text:
            # Without a Compression tag a file is uncompressed, so it may fail later.
            results.append(("FAIL", rel, "message %r, expected %r" % (message, text)))
        else:
            results.append(("PASS", rel, "refused: %s" % message))

    for (checksum, kind), members in sorted(seq_groups.items()):
        first_rel, first = members[0]
        for rel, picture in members[1:]:
            diff = first_difference(picture, first)
            results.append(("FAIL" if diff else "PASS", rel,
                            "same samples as %s%s" % (first_rel, ": " + diff if diff else "")))


def round_trip_images():
    """(name, PIL image) pairs covering each kind of picture the reader supports."""
    w, h = 67, 45
    grey = Image.new("L", (w, h))
    grey.putdata([(x * 7 + y * 13 + (x * y) % 17) & 255 for y in range(h) for x in range(w)])
    rgb = Image.merge("RGB", (grey, grey.transpose(Image.Transpose.FLIP_LEFT_RIGHT),
                              grey.transpose(Image.Transpose.FLIP_TOP_BOTTOM)))
    bilevel = grey.point(lambda v: 255 if v > 128 else 0).convert("1")
    palette = rgb.quantize(colors=200)
    sixteen = Image.new("I;16", (w, h))
    sixteen.putdata([(x * 911 + y * 377) % 60000 + 100 for y in range(h) for x in range(w)])
    return [("grey", grey), ("rgb", rgb), ("bilevel", bilevel), ("palette", palette),
            ("sixteen", sixteen)]


def check_round_trips(cli, tmp, results):
    if shutil.which("tiffcp") is None:
        print("tiffcp not found: round trips skipped")
        return
    variants = [
        ("lzw", ["-c", "lzw"]),
        ("lzw-predictor", ["-c", "lzw:2"]),
        ("big-endian", ["-c", "none", "-B"]),
        ("big-endian-lzw-predictor", ["-c", "lzw:2", "-B"]),
        ("strips", ["-c", "none", "-s", "-r", "7"]),
        ("lzw-strips", ["-c", "lzw:2", "-s", "-r", "4"]),
    ]
    target = os.path.join(tmp, "rt.bmp")
    for name, image in round_trip_images():
        source = os.path.join(tmp, "%s.tif" % name)
        image.save(source)
        sixteen = image.mode == "I;16"
        expected = display16(source) if sixteen else pil_rgb(source)
        for variant, options in variants:
            # 16-bit samples are read uncompressed only, and bilevel rows take no predictor.
            if sixteen and "lzw" in variant:
                continue
            if image.mode == "1":
                options = [o.replace("lzw:2", "lzw") for o in options]
            written = os.path.join(tmp, "%s-%s.tif" % (name, variant))
            proc = subprocess.run(["tiffcp"] + options + [source, written], capture_output=True,
                                  timeout=TIMEOUT)
            label = "tiffcp %s of %s" % (" ".join(options), name)
            if proc.returncode != 0:
                results.append(("FAIL", label, "tiffcp failed: %s" % proc.stderr.decode()))
                continue
            status, err = run_cli(cli, written, target)
            if status != 0:
                results.append(("FAIL", label, "status %s: %s" % (status, err)))
                continue
            diff = first_difference(read_plain_bmp(target), expected)
            results.append(("FAIL" if diff else "PASS", label, diff or "identical"))


def main(argv):
    if len(argv) != 3:
        print(__doc__)
        return 2
    cli, testdata = os.path.abspath(argv[1]), argv[2]
    if not os.path.isfile(os.path.join(testdata, "MANIFEST.tsv")) or \
            not os.path.isdir(os.path.join(testdata, "tiff")):
        print("test-image corpus not found at %s: skipped" % testdata)
        return 77
    results = []
    with tempfile.TemporaryDirectory(prefix="pixorama-tiff-oracle-") as tmp:
        check_corpus(cli, testdata, tmp, results)
        check_round_trips(cli, tmp, results)
    passed = sum(1 for r in results if r[0] == "PASS")
    failed = len(results) - passed
    for verdict, what, detail in results:
        print("%s %s: %s" % (verdict, what, detail))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
