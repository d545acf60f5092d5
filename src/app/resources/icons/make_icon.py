#!/usr/bin/env python3
"""Draws the 64 x 64 window icon (a grass-topped earth tile on a rounded
plate) and writes it as an .ico holding one PNG image. Run it again after
changing the drawing; the output is committed.

With --png SIZE OUT it writes the same drawing as one SIZE x SIZE PNG
instead; the build makes the installed icon sizes this way."""
import struct
import sys
import zlib

W = H = 64


def blend(dst, src, a):
    return tuple(int(round(d * (1 - a) + s * a)) for d, s in zip(dst, src))


def pixel(x, y):
    # rounded dark plate
    r = 10
    cx = min(max(x, r), W - 1 - r)
    cy = min(max(y, r), H - 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    plate = (38, 44, 52)
    if x < 8 or x > 55 or y < 8 or y > 55:
        return plate + (255,)
    # the tile: earth with a bumpy grass top
    tx, ty = x - 8, y - 8
    grass_line = 11 + (2 if (tx // 4) % 3 == 0 else 0) - (1 if (tx // 4) % 3 == 2 else 0)
    if ty < 3:
        return plate + (255,)
    if ty < grass_line:
        base = (128, 190, 31)
        if ty == 3 or ty == 4:
            base = blend(base, (255, 255, 255), 0.25)
        if (tx * 7 + ty * 3) % 11 == 0:
            base = blend(base, (60, 120, 20), 0.5)
        return base + (255,)
    earth = (195, 147, 102)
    if ty < grass_line + 3:
        earth = blend(earth, (90, 60, 40), 0.45)  # shadow under the grass
    # a few stones
    for sx, sy, sr in ((12, 26, 4), (31, 36, 5), (20, 42, 3), (40, 22, 3)):
        if (tx - sx) ** 2 + (ty - sy) ** 2 <= sr * sr:
            earth = blend(earth, (150, 110, 80), 0.8)
    return earth + (255,)


def png(width, height, rows):
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def scaled(size):
    """The drawing at size x size: larger sizes repeat each pixel (it is pixel
    art), smaller ones average n x n samples in premultiplied alpha so the
    plate's rounded edge stays smooth."""
    if size >= W:
        return [[pixel(x * W // size, y * H // size) for x in range(size)] for y in range(size)]
    n = 8
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    p = pixel((x * n + sx) * W // (size * n), (y * n + sy) * H // (size * n))
                    for c in range(3):
                        acc[c] += p[c] * p[3]
                    acc[3] += p[3]
            alpha = acc[3] / (n * n)
            rgb = [int(round(acc[c] / acc[3])) if acc[3] else 0 for c in range(3)]
            row.append(tuple(rgb) + (int(round(alpha)),))
        rows.append(row)
    return rows


def main(out):
    data = png(W, H, scaled(W))
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", W, H, 0, 0, 1, 32, len(data), 6 + 16)
    with open(out, "wb") as f:
        f.write(header + entry + data)


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--png":
        size = int(sys.argv[2])
        with open(sys.argv[3], "wb") as f:
            f.write(png(size, size, scaled(size)))
    else:
        main(sys.argv[1] if len(sys.argv) > 1 else "files/window-icon.ico")
