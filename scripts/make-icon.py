#!/usr/bin/env python3
"""Draws res/app.ico, the tool's icon, at every size Windows asks for: 16,
20, 24, 32 and 40 pixels as bitmaps (small icon and big icon at 100 to
125 %), and 48, 64 and 256 as PNG (150 % and up, large views: as 32-bit
bitmaps these three alone would be 290 KiB, and the exe carries the icon).

A chip with pins on two sides and a download arrow on it, drawn from
geometry scaled to each size, so every size is sharp. Standard library only
and deterministic: the same bytes come out on every run.

Usage: make-icon.py [output.ico]
"""
import pathlib
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
PNG_SIZES = (48, 64, 256)

# Colours as (B, G, R, A), the order of a 32-bit icon bitmap.
CLEAR = (0, 0, 0, 0)
BODY = (0x3A, 0x2E, 0x26, 0xFF)  # dark slate chip body
EDGE = (0x1E, 0x17, 0x12, 0xFF)
PIN = (0xB4, 0xBE, 0xC8, 0xFF)  # silver pins
ARROW = (0x2C, 0xB4, 0x3C, 0xFF)  # green download arrow
NOTCH = (0x70, 0x64, 0x5A, 0xFF)


def draw(size: int) -> list:
    """Rows of pixels, top row first."""
    px = [[CLEAR] * size for _ in range(size)]
    u = size / 16.0  # one unit of the 16-pixel design

    def fill(x0, y0, x1, y1, colour):
        for y in range(max(0, round(y0 * u)), min(size, round(y1 * u))):
            for x in range(max(0, round(x0 * u)), min(size, round(x1 * u))):
                px[y][x] = colour

    # Pins, left and right, four a side.
    for i in range(4):
        y = 3 + i * 3
        fill(1, y, 3, y + 1.5, PIN)
        fill(13, y, 15, y + 1.5, PIN)
    # Body with a darker edge and the pin-1 notch.
    fill(3, 1, 13, 15, EDGE)
    fill(3.5, 1.5, 12.5, 14.5, BODY)
    fill(7, 1.5, 9, 2.5, NOTCH)
    # Arrow: a shaft and a head narrowing row by row.
    fill(7, 4, 9, 9, ARROW)
    rows = max(1, round(4 * u))
    top = round(9 * u)
    centre = 8 * u
    for r in range(rows):
        half = (4 * u) * (rows - r) / rows
        y = top + r
        if y >= size:
            break
        for x in range(max(0, round(centre - half)), min(size, round(centre + half))):
            px[y][x] = ARROW
    fill(5, 13, 11, 13.75, ARROW)  # the line the arrow lands on
    return px


def dib(size: int) -> bytes:
    """One icon image: BITMAPINFOHEADER, 32-bit colour rows bottom-up, AND mask."""
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes(c) for row in reversed(px) for c in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(px):
        bits = bytearray(stride)
        for x, c in enumerate(row):
            if c[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def png(size: int) -> bytes:
    """One icon image as PNG, RGBA, top row first."""
    rows = b"".join(b"\0" + b"".join(bytes((c[2], c[1], c[0], c[3])) for c in row) for row in draw(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


def icon() -> bytes:
    images = [png(s) if s in PNG_SIZES else dib(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, image in zip(SIZES, images):
        # A directory entry stores 256 as 0.
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


if __name__ == "__main__":
    default = pathlib.Path(__file__).resolve().parent.parent / "res" / "app.ico"
    target = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else default
    target.write_bytes(icon())
