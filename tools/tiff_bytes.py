# SPDX-License-Identifier: MIT
"""Hand-made little-endian TIFF files with the acquisition system's private tags, for the
sample folder and the command-line tests. Standard library only."""

import struct


def tiff(images):
    """A little-endian TIFF; each image is (width, height, bits per sample, pixel bytes,
    [(tag, type, count, value bytes)]). Values longer than 4 bytes follow the directory."""
    out = bytearray(b"II*\0" + struct.pack("<I", 8))
    for index, (width, height, bits, pixels, extra) in enumerate(images):
        entries = [
            (256, 4, 1, struct.pack("<I", width)),
            (257, 4, 1, struct.pack("<I", height)),
            (258, 3, 1, struct.pack("<H", bits)),
            (259, 3, 1, struct.pack("<H", 1)),
            (262, 3, 1, struct.pack("<H", 1)),
            (273, 4, 1, None),  # strip offset, known once the data is laid out
            (278, 4, 1, struct.pack("<I", height)),
            (279, 4, 1, struct.pack("<I", len(pixels))),
        ] + list(extra)
        entries.sort(key=lambda e: e[0])
        data_at = len(out) + 2 + 12 * len(entries) + 4
        blocks = bytearray()
        fields = []
        for tag, ftype, count, value in entries:
            if value is not None and len(value) > 4:
                fields.append((tag, ftype, count, struct.pack("<I", data_at + len(blocks))))
                blocks += value + (b"\0" if len(value) % 2 else b"")
            else:
                fields.append((tag, ftype, count, value))
        strip_at = data_at + len(blocks)
        end = strip_at + len(pixels)
        following = end + end % 2 if index + 1 < len(images) else 0
        out += struct.pack("<H", len(entries))
        for tag, ftype, count, value in fields:
            if value is None:
                value = struct.pack("<I", strip_at)
            out += struct.pack("<HHI", tag, ftype, count) + value.ljust(4, b"\0")
        out += struct.pack("<I", following)
        out += blocks + pixels
        if len(out) % 2:
            out += b"\0"
    return bytes(out)


def ascii_tag(tag, text):
    """An ASCII entry of 8-bit text (bytes)."""
    data = text + b"\0"
    return (tag, 2, len(data), data)


def vexa_header(items):
    """The microscope header tag: version 256, then (id, length, data) items."""
    data = struct.pack("<H", 256)
    for ident, payload in items:
        data += struct.pack("<Hi", ident, len(payload)) + payload
    return (65521, 1, len(data), data)


def vexa_layout(placed, boxes):
    """The layout tag of a multi-image file: `placed` images, one box (x, y, w, h) each."""
    data = bytearray(708)
    struct.pack_into("<H", data, 0, 256)
    struct.pack_into("<H", data, 66, placed)
    for i, (x, y, w, h) in enumerate(boxes):
        struct.pack_into("<HHHHH", data, 68 + 10 * i, 0, x, y, w, h)
    return (65520, 1, len(data), bytes(data))
