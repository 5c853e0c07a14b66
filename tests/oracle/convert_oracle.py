#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Checks `pixorama-cli convert IN OUT.bmp` on every BMP and JPEG of the test corpus
against independent decoders.

    convert_oracle.py PIXORAMA_CLI TESTDATA_DIR

For each file the program must either succeed or fail with a message
("pixorama-cli: FILE: MESSAGE" on stderr, exit status 1); a crash, a hang or a
silent failure is a fault. When it succeeds, the pixels of OUT.bmp (as RGB through
its colour table) must equal the reference decode:

- JPEG: libjpeg's own djpeg (with its default DCT and upsampling, as our reader
  uses). Where PIL reads the file too, PIL and djpeg must agree, which checks the
  oracle itself. CMYK and YCCK files, which djpeg cannot turn into RGB: PIL.
- BMP: PIL.

A file no reference decoder can read only needs a success or a clear error. A file
the corpus manifest marks invalid may also fail with a clear error where PIL reads
something. Exit status 0 when nothing failed, 1 otherwise, 77 when the corpus is
absent. Needs Debian's /usr/bin/python3 with python3-pil, and djpeg.
"""

import csv
import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from PIL import Image

TIMEOUT = 60

# Files PIL misreads, checked against their uncompressed twin instead (the BMP suite
# makes each RLE file from the twin's picture). PIL 9.4's RLE decoder reads four bytes
# for a delta escape instead of two and drops the last pixel of odd-length literal runs
# in RLE4. The "trns" files skip pixels with deltas; those pixels must be colour-table
# entry 0 (see check_twin).
RLE_TWINS = {
    "bmp/bmpsuite/g/pal4rle.bmp": ("bmp/bmpsuite/g/pal4.bmp", False),
    "bmp/bmpsuite/q/pal4rletrns.bmp": ("bmp/bmpsuite/g/pal4.bmp", True),
    "bmp/bmpsuite/q/pal8rletrns.bmp": ("bmp/bmpsuite/g/pal8.bmp", True),
}

# Files PIL refuses whose picture is that of a twin PIL reads: the variants of the BMP
# suite's test picture. The tolerance per channel (red, green, blue) is one step of the
# file's own precision: a 2-bit channel scaled to 8 bits cannot come closer than 85.
TOLERANT_TWINS = {
    "bmp/bmpsuite/g/rgb32bf.bmp": ("bmp/bmpsuite/g/rgb24.bmp", (0, 0, 0)),
    "bmp/bmpsuite/q/rgb32h52.bmp": ("bmp/bmpsuite/g/rgb24.bmp", (0, 0, 0)),
    "bmp/bmpsuite/q/rgb32-111110.bmp": ("bmp/bmpsuite/g/rgb24.bmp", (1, 1, 1)),
    "bmp/bmpsuite/q/rgb16-231.bmp": ("bmp/bmpsuite/g/rgb24.bmp", (85, 36, 255)),
    "bmp/bmpsuite/q/pal8os2v2-16.bmp": ("bmp/bmpsuite/g/pal8.bmp", (0, 0, 0)),
    "bmp/bmpsuite/q/pal8oversizepal.bmp": ("bmp/bmpsuite/g/pal8.bmp", (0, 0, 0)),
}


def read_plain_bmp(path):
    """Decodes the plain BMP our writer makes (40-byte header, 1/4/8/24 bits,
    uncompressed) into (width, height, RGB bytes), independently of PIL."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError("no BM signature")
    off_bits = struct.unpack_from("<I", data, 10)[0]
    (size, width, height, planes, bits, compression) = struct.unpack_from("<IiiHHI", data, 14)
    if size != 40 or compression != 0 or bits not in (1, 4, 8, 24) or width <= 0:
        raise ValueError("not a plain BMP: size %d bits %d compression %d" % (size, bits, compression))
    top_down = height < 0
    height = abs(height)
    colors = []
    if bits <= 8:
        for i in range(1 << bits):
            b, g, r, _ = data[54 + 4 * i: 58 + 4 * i]
            colors.append(bytes((r, g, b)))
    stride = ((width * bits + 31) // 32) * 4
    if off_bits + stride * height > len(data):
        raise ValueError("pixel data incomplete")
    out = bytearray()
    for y in range(height):
        row_index = y if top_down else height - 1 - y
        row = data[off_bits + row_index * stride: off_bits + (row_index + 1) * stride]
        if bits == 24:
            for x in range(width):
                b, g, r = row[3 * x: 3 * x + 3]
                out += bytes((r, g, b))
        else:
            per_byte = 8 // bits
            mask = (1 << bits) - 1
            for x in range(width):
                v = (row[x // per_byte] >> (8 - bits * (x % per_byte + 1))) & mask
                out += colors[v]
    return width, height, bytes(out)


def pil_rgb(path):
    """PIL's decode as (width, height, RGB bytes), or raises."""
    with Image.open(path) as im:
        im.load()
        return im.size[0], im.size[1], im.convert("RGB").tobytes()


def djpeg_rgb(path):
    """djpeg's decode as (width, height, RGB bytes), or None when djpeg gives no
    image. Exit status 2 (warnings, e.g. a truncated file) still gives one."""
    try:
        proc = subprocess.run(["djpeg", "-pnm", path], capture_output=True, timeout=TIMEOUT)
    except (OSError, subprocess.TimeoutExpired):
        return None
    if proc.returncode not in (0, 2) or not proc.stdout:
        return None
    try:
        with Image.open(io.BytesIO(proc.stdout)) as im:
            im.load()
            return im.size[0], im.size[1], im.convert("RGB").tobytes()
    except Exception:  # djpeg wrote something PIL's PNM reader does not take
        return None


def first_difference(a, b):
    wa, ha, pa = a
    wb, hb, pb = b
    if (wa, ha) != (wb, hb):
        return "size %dx%d, expected %dx%d" % (wa, ha, wb, hb)
    for i in range(0, len(pa), 3):
        if pa[i: i + 3] != pb[i: i + 3]:
            n = sum(1 for j in range(0, len(pa), 3) if pa[j: j + 3] != pb[j: j + 3])
            p = i // 3
            return "%d pixels differ, first at (%d, %d): %s, expected %s" % (
                n, p % wa, p // wa, pa[i: i + 3].hex(), pb[i: i + 3].hex())
    return None


def check_twin(ours, twin, index0_rgb):
    """Every pixel equals the twin's, or is colour-table entry 0 when index0_rgb is
    given."""
    w, h, pa = ours
    wt, ht, pt = twin
    if (w, h) != (wt, ht):
        return "size %dx%d, twin %dx%d" % (w, h, wt, ht)
    bad = 0
    for i in range(0, len(pa), 3):
        px = pa[i: i + 3]
        if px != pt[i: i + 3] and px != index0_rgb:
            bad += 1
    return "%d pixels differ from the twin" % bad if bad else None


def check_tolerant_twin(ours, twin, tolerance):
    w, h, pa = ours
    wt, ht, pt = twin
    if (w, h) != (wt, ht):
        return "size %dx%d, twin %dx%d" % (w, h, wt, ht)
    bad = sum(1 for i in range(len(pa)) if abs(pa[i] - pt[i]) > tolerance[i % 3])
    return "%d samples differ from the twin by more than %s" % (bad, tolerance) if bad else None


def load_manifest(testdata):
    rows = {}
    path = os.path.join(testdata, "MANIFEST.tsv")
    if os.path.exists(path):
        with open(path, newline="", encoding="utf-8") as f:
            for row in csv.DictReader(f, delimiter="\t"):
                rows[row["path"]] = row
    return rows


def corpus_files(testdata):
    found = []
    for folder, exts in (("bmp", (".bmp",)), ("jpeg", (".jpg", ".jpeg"))):
        root = os.path.join(testdata, folder)
        for dirpath, _, names in os.walk(root):
            for name in names:
                if name.lower().endswith(exts):
                    found.append(os.path.relpath(os.path.join(dirpath, name), testdata))
    return sorted(found)


def run_cli(cli, source, target):
    """Returns (status, stderr text); status None for a hang."""
    if os.path.exists(target):
        os.remove(target)
    try:
        proc = subprocess.run([cli, "convert", source, target], capture_output=True,
                              timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return None, "timed out after %d s" % TIMEOUT
    return proc.returncode, proc.stderr.decode("utf-8", "replace").strip()


def main(argv):
    if len(argv) != 3:
        print(__doc__)
        return 2
    cli, testdata = os.path.abspath(argv[1]), argv[2]
    if not (os.path.isdir(os.path.join(testdata, "bmp")) or
            os.path.isdir(os.path.join(testdata, "jpeg"))):
        print("test-image corpus not found at %s: skipped" % testdata)
        return 77
    if shutil.which("djpeg") is None:
        print("djpeg not found: skipped")
        return 77
    manifest = load_manifest(testdata)
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="pixorama-oracle-") as tmp:
        target = os.path.join(tmp, "out.bmp")
        for rel in corpus_files(testdata):
            source = os.path.join(testdata, rel)
            valid = manifest.get(rel, {}).get("expected", "valid") != "invalid"
            is_jpeg = rel.startswith("jpeg/")
            status, err = run_cli(cli, source, target)
            verdict, detail = None, ""

            if status is None or status < 0 or status not in (0, 1):
                verdict, detail = "FAIL", "crashed or hung (status %s) %s" % (status, err)
            elif status == 1:
                expected_prefix = "pixorama-cli: "
                if not err.startswith(expected_prefix) or len(err.split(": ", 2)) < 3:
                    verdict, detail = "FAIL", "failed without a clear message: %r" % err
            if verdict is None:
                ours = None
                if status == 0:
                    try:
                        ours = read_plain_bmp(target)
                    except Exception as e:
                        verdict, detail = "FAIL", "output is not a readable BMP: %s" % e
            if verdict is None:
                # The reference decode.
                reference, ref_name, ref_error = None, "", ""
                try:
                    pil = pil_rgb(source)
                except Exception as e:
                    pil, ref_error = None, "PIL: %s" % str(e).splitlines()[0][:80]
                if is_jpeg:
                    try:
                        with Image.open(source) as im:
                            cmyk = im.mode == "CMYK"
                    except Exception:
                        cmyk = False
                    dj = None if cmyk else djpeg_rgb(source)
                    if dj is not None:
                        reference, ref_name = dj, "djpeg"
                        if pil is not None and first_difference(pil, dj):
                            verdict, detail = "FAIL", "oracle: PIL and djpeg disagree: %s" % (
                                first_difference(pil, dj))
                    elif pil is not None:
                        reference, ref_name = pil, "PIL"
                else:
                    reference, ref_name = pil, "PIL"

                if verdict is not None:
                    pass
                elif rel in RLE_TWINS and status == 0:
                    twin, skips = RLE_TWINS[rel]
                    index0 = None
                    if skips:
                        with Image.open(source) as im:
                            index0 = bytes((im.getpalette() or [0, 0, 0])[0:3])
                    problem = check_twin(ours, pil_rgb(os.path.join(testdata, twin)), index0)
                    verdict, detail = ("FAIL", problem) if problem else (
                        "PASS", "identical to PIL's reading of %s%s" % (
                            twin, ", skipped pixels at entry 0" if skips else ""))
                elif rel in TOLERANT_TWINS and status == 0 and reference is None:
                    twin, tolerance = TOLERANT_TWINS[rel]
                    problem = check_tolerant_twin(ours, pil_rgb(os.path.join(testdata, twin)),
                                                  tolerance)
                    verdict, detail = ("FAIL", problem) if problem else (
                        "PASS", "PIL refuses it (%s); matches PIL's reading of %s%s" % (
                            ref_error, twin,
                            "" if tolerance == (0, 0, 0) else " within %s" % (tolerance,)))
                elif reference is None:
                    verdict = "PASS"
                    detail = ("no reference decoder reads it (%s); ours: %s" %
                              (ref_error, "loaded" if status == 0 else err.split(": ", 2)[2]))
                elif status == 1:
                    if valid:
                        verdict, detail = "FAIL", "%s reads it, we failed: %s" % (ref_name, err)
                    else:
                        verdict, detail = "PASS", "invalid file refused: %s" % err.split(": ", 2)[2]
                else:
                    diff = first_difference(ours, reference)
                    if diff is None:
                        verdict, detail = "PASS", "identical to %s" % ref_name
                    elif not valid:
                        # Damaged files have no one right picture; a partial one is allowed.
                        verdict, detail = "PASS", "invalid file, read differently from %s: %s" % (
                            ref_name, diff)
                    else:
                        verdict, detail = "FAIL", "differs from %s: %s" % (ref_name, diff)

            if verdict == "PASS":
                passed += 1
            else:
                failed += 1
            print("%s %s: %s" % (verdict, rel, detail))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
