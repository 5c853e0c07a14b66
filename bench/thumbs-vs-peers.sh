#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times a folder's thumbnails side by side: pixorama-cli thumbs (cold, on one decoding
# thread and on one per core, and warm from its cache file) against vipsthumbnail and
# ImageMagick's mogrify, all making thumbnails bounded by 112 x 96.
#
#   bench/thumbs-vs-peers.sh DIR [REPEATS]      (e.g. a folder made by bench/make-corpus)
#
# Each peer is given only the files it can read (checked with vipsheader and identify
# beforehand, outside the timing), so times are compared per image. pixorama is also timed
# on the files vipsthumbnail reads, for a like-for-like ratio. Every measurement is
# repeated (3 times by default) and the median wall time is shown. PIXORAMA_CLI may name
# the pixorama-cli to time; otherwise build/pixorama-cli is built when needed.
set -euo pipefail

if [ $# -lt 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 DIR [REPEATS]" >&2
    exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$(cd "$1" && pwd)"
repeats="${2:-3}"

"$root/tools/ensure_deps.sh" libvips-tools imagemagick

cli="${PIXORAMA_CLI:-}"
if [ -z "$cli" ]; then
    cli="$root/build/pixorama-cli"
    if [ ! -f "$root/build/build.ninja" ]; then
        "$root/tools/build.sh"
    else
        cmake --build "$root/build" --target pixorama-cli --parallel "$(nproc)"
    fi
fi

python=/usr/bin/python3
[ -x "$python" ] || python=python3
exec "$python" - "$dir" "$cli" "$repeats" <<'EOF'
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

folder, cli, repeats = sys.argv[1], sys.argv[2], int(sys.argv[3])
BOX = "112x96"
CHUNK = 64  # files per peer invocation, to stay clear of argument-length limits
CACHE = os.path.join(folder, "pixorama.dtd")
EXTENSIONS = (".jpg", ".jpeg", ".tif", ".tiff", ".png", ".bmp", ".psd", ".tim")

files = sorted(os.path.join(folder, f) for f in os.listdir(folder)
               if f.lower().endswith(EXTENSIONS) and os.path.isfile(os.path.join(folder, f)))
if not files:
    sys.exit(f"no image files in {folder}")


def quiet(args):
    return subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def run(args):
    """Wall seconds and peak resident set (KiB) of one command."""
    start = time.perf_counter()
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    seconds = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(args[:4])} ...")
    return seconds, usage.ru_maxrss, out.decode(errors="replace")


def measure(name, make_commands, count, given, before=None):
    """Runs the commands `repeats` times; prints and returns the median per image."""
    times, peak = [], 0
    for _ in range(repeats):
        if before:
            before()
        total = 0.0
        for args in make_commands():
            seconds, rss, _ = run(args)
            total += seconds
            peak = max(peak, rss)
        times.append(total)
    median = statistics.median(times)
    per_image = 1000 * median / count
    results.append((name, count, given, median, per_image, peak))
    return per_image


def pixorama(target, extra):
    return lambda: [[cli, "thumbs", target, "--box", BOX, "--quiet"] + extra]


def remove_cache(target):
    def before():
        try:
            os.remove(os.path.join(target, "pixorama.dtd"))
        except FileNotFoundError:
            pass
    return before


def chunks(paths):
    return [paths[i:i + CHUNK] for i in range(0, len(paths), CHUNK)]


def vips(paths):
    def commands():
        out = tempfile.mkdtemp(prefix="thumbs-vips-")
        outputs.append(out)
        return [["vipsthumbnail", "--size", BOX, "-o", os.path.join(out, "%s.jpg")] + c
                for c in chunks(paths)]
    return commands


def magick(paths):
    def commands():
        out = tempfile.mkdtemp(prefix="thumbs-magick-")
        outputs.append(out)
        return [["/usr/bin/mogrify", "-path", out, "-thumbnail", BOX] + c for c in chunks(paths)]
    return commands


def kinds(paths):
    counts = {}
    for p in paths:
        ext = os.path.splitext(p)[1].lower()
        counts[ext] = counts.get(ext, 0) + 1
    return " ".join(f"{k}:{v}" for k, v in sorted(counts.items()))


def decoded_bytes(path):
    """Bytes of the largest decoded form of a file: 3 per pixel (24-bit colour, or an 8-bit
    bitmap beside 16-bit samples), from vipsheader or the VEXA-PSD header."""
    if path.lower().endswith((".psd", ".tim")):
        with open(path, "rb") as f:
            head = f.read(6)
        if len(head) == 6:
            w, h = struct.unpack("<hh", head[2:6])
            return abs(w) * abs(h) * 3
        return 0
    out = subprocess.run(["vipsheader", path], capture_output=True, text=True).stdout
    try:
        w, h = out.split(": ", 1)[1].split()[0].split("x")
        return int(w) * int(h) * 3
    except (IndexError, ValueError):
        return 0


results, outputs = [], []
print(f"folder: {folder} ({len(files)} files: {kinds(files)})")
print("checking which files each peer reads ...", flush=True)
vips_files = [f for f in files if quiet(["vipsheader", f]) == 0]
magick_files = [f for f in files if quiet(["/usr/bin/identify", "-ping", f]) == 0]
for f in files:  # one read of everything, so no tool pays for the disk
    with open(f, "rb") as handle:
        while handle.read(1 << 20):
            pass

# The files vipsthumbnail reads, linked into a folder of their own for pixorama.
subset = tempfile.mkdtemp(prefix=".thumbs-subset-", dir=os.path.dirname(folder))
for f in vips_files:
    target = os.path.join(subset, os.path.basename(f))
    try:
        os.link(f, target)
    except OSError:
        shutil.copy2(f, target)

cpus = os.cpu_count() or 1
try:
    measure("pixorama cold, 1 thread", pixorama(folder, ["--threads", "1"]), len(files),
            "all", remove_cache(folder))
    measure(f"pixorama cold, {cpus} threads", pixorama(folder, []), len(files), "all",
            remove_cache(folder))
    measure("pixorama warm (cache)", pixorama(folder, []), len(files), "all")
    measure("pixorama cold, 1 thread", pixorama(subset, ["--threads", "1"]), len(vips_files),
            "vips set", remove_cache(subset))
    measure(f"pixorama cold, {cpus} threads", pixorama(subset, []), len(vips_files),
            "vips set", remove_cache(subset))
    vips_ms = measure("vipsthumbnail", vips(vips_files), len(vips_files), "vips set")
    measure("ImageMagick mogrify", magick(magick_files), len(magick_files), "magick set")
finally:
    shutil.rmtree(subset, ignore_errors=True)
    for out in outputs:
        shutil.rmtree(out, ignore_errors=True)

print(f"vips set ({len(vips_files)}): {kinds(vips_files)}")
print(f"magick set ({len(magick_files)}): {kinds(magick_files)}")
print(f"repeats: {repeats}, median wall time; box {BOX}; {cpus} CPUs")
print(f"{'tool':32} {'files':>5} {'given':>10} {'seconds':>8} {'ms/image':>9} {'x vips':>7}"
      f" {'peak MiB':>9}")
for name, count, given, median, per_image, peak in results:
    print(f"{name:32} {count:5d} {given:>10} {median:8.3f} {per_image:9.2f}"
          f" {per_image / vips_ms:7.2f} {peak / 1024:9.1f}")
largest = max(decoded_bytes(f) for f in files)
print(f"largest decoded picture ~{largest / 2**20:.1f} MiB (3 bytes per pixel); memory goal"
      f" 2 x that + 64 MiB = {(2 * largest) / 2**20 + 64:.1f} MiB")
EOF
