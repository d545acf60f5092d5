#!/usr/bin/env python3
"""Draws the small arrow images the dark style sheet uses for spin boxes and
combo boxes (style sheets cannot draw triangles themselves). The output is
committed; run again after changing a shape or colour."""
import struct
import zlib


def png(path, rows):
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    h, w = len(rows), len(rows[0])
    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in rows)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def triangle(width, colour, up):
    height = (width + 1) // 2
    rows = []
    for y in range(height):
        inset = y if not up else height - 1 - y
        rows.append([colour + (255,) if inset <= x < width - inset else (0, 0, 0, 0)
                     for x in range(width)])
    return rows


light = (0xd8, 0xd8, 0xd8)
grey = (0x59, 0x59, 0x59)
png("style/arrow-up.png", triangle(7, light, True))
png("style/arrow-down.png", triangle(7, light, False))
png("style/combo-arrow.png", triangle(9, grey, False))
