#!/usr/bin/python3
# Makes the bundled sample folder: synthetic images drawn here, so they carry no
# third-party content. Run with Debian's python3 (python3-pil): tools/make_samples.py samples
import math
import random
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFilter


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


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "samples")
    out.mkdir(parents=True, exist_ok=True)
    grating(640, 480, 6).save(out / "grating-640x480.bmp")
    particles(1024, 768, 90, 7).save(out / "particles-1024x768.jpg", quality=88)
    spots = particles(512, 384, 40, 11).convert("RGB")
    r, g, b = spots.split()
    Image.merge("RGB", (r, g.point(lambda v: v * 3 // 4), b.point(lambda v: 255 - v))).save(
        out / "false-colour-512x384.jpg", quality=90)
    particles(320, 240, 25, 3).point(lambda v: 255 if v > 140 else 0).convert("1").save(
        out / "mask-320x240.bmp")
    particles(400, 300, 30, 5).quantize(16).save(out / "sixteen-colours-400x300.bmp")


if __name__ == "__main__":
    main()
