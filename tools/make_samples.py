#!/usr/bin/python3
# Makes the sample folder: synthetic images drawn here, so they carry no third-party
# content. Run with Debian's python3 (python3-pil): tools/make_samples.py OUTDIR; the build
# runs it into build/samples.
import math
import random
import struct
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFilter, TiffImagePlugin

from tiff_bytes import ascii_tag, tiff, vexa_header, vexa_layout
import make_psd_files


def grating(width, height, period):
    img = Image.new("L", (width, height))
    px = img.load()
    for y in range(height):
        for x in range(width):
            v = 0.5 + 0.5 * math.sin(2 * math.pi * (x + 0.3 * y) / period)
            px[x, y] = int(40 + 180 * v)
    return img


def particles(width, height, count, seed):
    rnd = random.Random(seed)
    img = Image.new("L", (width, height), 60)
    draw = ImageDraw.Draw(img)
    for _ in range(count):
        r = rnd.randint(4, 28)
        x, y = rnd.randint(0, width), rnd.randint(0, height)
        g = rnd.randint(120, 245)
        draw.ellipse((x - r, y - r, x + r, y + r), fill=g, outline=255)
    img = img.filter(ImageFilter.GaussianBlur(1.2))
    noise = Image.effect_noise((width, height), 18)
    return Image.blend(img, noise, 0.15)


def microscope_header(mag, wd, hv, number, when):
    """The acquisition system's header tag: version 256, then (id, length, data) items."""
    items = [
        (2, struct.pack("<d", mag)),
        (7, struct.pack("<d", hv)),
        (8, struct.pack("<d", wd)),
        (9, b"Magnification: %.0fx\r\nWorking Distance: %.1f mm\r\nHigh Voltage: %.1f kV\0"),
        (10, b"MAG,WD,HV\0"),
        (14, struct.pack("<8H", *when)),
        (15, struct.pack("<i", number)),
    ]
    return vexa_header(items)


def sixteen_bit(img, low, high):
    """12-bit-range samples from an 8-bit picture, as a detector delivers them."""
    return b"".join(struct.pack("<H", low + v * (high - low) // 255) for v in img.getdata())


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "samples")
    out.mkdir(parents=True, exist_ok=True)
    grating(640, 480, 6).save(out / "grating-640x480.bmp")
    particles(1024, 768, 90, 7).save(out / "particles-1024x768.jpg", quality=88)
    spots = particles(512, 384, 40, 11).convert("RGB")
    r, g, b = spots.split()
    false_colour = Image.merge("RGB", (r, g.point(lambda v: v * 3 // 4), b.point(lambda v: 255 - v)))
    false_colour.save(out / "false-colour-512x384.jpg", quality=90)
    particles(320, 240, 25, 3).point(lambda v: 255 if v > 140 else 0).convert("1").save(
        out / "mask-320x240.bmp")
    particles(400, 300, 30, 5).quantize(16).save(out / "sixteen-colours-400x300.bmp")

    colour = false_colour.resize((384, 288)).quantize(64)
    colour.save(out / "false-colour-palette-384x288.png")

    sem = particles(512, 384, 35, 21)
    (out / "sem-16bit-512x384.tif").write_bytes(tiff([(
        512, 384, 16, sixteen_bit(sem, 700, 3600),
        [ascii_tag(270, b"Gold particles on carbon, secondary electrons"),
         ascii_tag(315, b"Sample Lab"),
         microscope_header(25000.0, 8.5, 15.0, 17, (2026, 11, 0, 30, 9, 41, 7, 0))])]))

    tiles = []
    boxes = []
    for i in range(4):
        tile = particles(256, 192, 12, 40 + i)
        x, y = (i % 2) * 256, (i // 2) * 192
        extra = [ascii_tag(270, b"Field %d" % (i + 1))]
        if i == 0:
            extra += [microscope_header(5000.0, 10.0, 20.0, 3, (2026, 11, 0, 30, 10, 5, 0, 0))]
        boxes.append((x, y, 256, 192))
        tiles.append([256, 192, 8, bytes(tile.getdata()), extra])
    tiles[0][4].append(vexa_layout(len(boxes), boxes))
    (out / "mosaic-4-fields.tif").write_bytes(tiff([tuple(t) for t in tiles]))

    # An 8-bit LZW TIFF with the horizontal predictor, through libtiff's writer in PIL.
    TiffImagePlugin.WRITE_LIBTIFF = True
    particles(600, 450, 50, 31).save(out / "lzw-predictor-600x450.tif", compression="tiff_lzw",
                                     tiffinfo={317: 2})
    TiffImagePlugin.WRITE_LIBTIFF = False
    # A palette TIFF with its own colour map.
    false_colour.resize((320, 240)).quantize(32).save(out / "palette-320x240.tif")

    # The acquisition system's raw format, as .psd and as .tim.
    (out / "vexa-rings-256x192.psd").write_bytes(make_psd_files.sample_256x192())
    (out / "vexa-window-320x200.tim").write_bytes(make_psd_files.sample_tim_320x200())


if __name__ == "__main__":
    main()
