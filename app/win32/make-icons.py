#!/usr/bin/env python3
"""Draws the lighting app's icons into .ico files: the app's own (a ring of the colour wheel around a lit
LED) and the tray's three states (on: the same; off: a grey ring; problem: a grey ring with a red mark).

Drawn at every size the shell asks for, with 4x4 supersampling, as 32-bit images (PNG for 256 px), so
nothing binary lives in the repository. Usage: make-icons.py OUTPUT_FOLDER
"""

import colorsys
import math
import struct
import sys
import zlib
from pathlib import Path

SIZES = (16, 20, 24, 32, 40, 48, 64)
APP_SIZES = SIZES + (256,)
SUPERSAMPLE = 4


def pixel(kind, x, y):
    """The colour at (x, y) of the unit square, or None for transparent."""
    dx, dy = x - 0.5, y - 0.5
    radius = math.hypot(dx, dy)
    if kind == "problem":
        # A red disc with a white bar, over the ring's lower right.
        bx, by = x - 0.74, y - 0.74
        if math.hypot(bx, by) < 0.24:
            if abs(bx) < 0.05 and -0.15 < by < 0.06 or abs(bx) < 0.05 and 0.1 < by < 0.16:
                return (255, 255, 255)
            return (210, 30, 30)
    if 0.30 <= radius <= 0.47:
        if kind == "on":
            hue = (math.atan2(dy, dx) / (2 * math.pi)) % 1.0
            return tuple(round(255 * c) for c in colorsys.hsv_to_rgb(hue, 0.85, 1.0))
        return (128, 128, 128)
    if radius <= 0.16:
        return (255, 206, 84) if kind == "on" else (96, 96, 96)
    return None


def render(kind, size):
    """BGRA rows, top first."""
    rows = []
    n = SUPERSAMPLE if size < 256 else 2  # a large image needs less to look smooth
    for row in range(size):
        line = bytearray()
        for column in range(size):
            red = green = blue = alpha = 0
            for sy in range(n):
                for sx in range(n):
                    colour = pixel(kind, (column + (sx + 0.5) / n) / size, (row + (sy + 0.5) / n) / size)
                    if colour:
                        red, green, blue, alpha = red + colour[0], green + colour[1], blue + colour[2], alpha + 1
            if alpha:
                line += bytes((blue // alpha, green // alpha, red // alpha, 255 * alpha // (n * n)))
            else:
                line += bytes(4)
        rows.append(bytes(line))
    return rows


def bmp_entry(rows, size):
    """An icon image: a BITMAPINFOHEADER of twice the height, the pixels bottom up, an empty AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + b"".join(reversed(rows)) + bytes(mask_row * size)


def png_entry(rows, size):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = bytearray()
    for row in rows:
        raw += b"\0"
        for i in range(0, len(row), 4):
            b, g, r, a = row[i:i + 4]
            raw += bytes((r, g, b, a))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def write_icon(path, kind, sizes):
    images = [(size, png_entry(render(kind, size), size) if size >= 256 else bmp_entry(render(kind, size), size))
              for size in sizes]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, image in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    path.write_bytes(directory + data)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    write_icon(out / "app.ico", "on", APP_SIZES)
    for kind in ("on", "off", "problem"):
        write_icon(out / f"tray-{kind}.ico", kind, SIZES)


if __name__ == "__main__":
    main()
