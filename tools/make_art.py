#!/usr/bin/env python3
"""Draws the program's artwork: the backdrop, the Windows icon (seven
uncompressed images) and the desktop icons. Run it after changing the art;
its output is committed."""

import math
import os
import struct
import sys
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")


def png(path, w, h, rgba):
    raw = b"".join(b"\0" + bytes(rgba[y * w * 4:(y + 1) * w * 4]) for y in range(h))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def smooth(edge, d):
    """Coverage of a shape whose signed distance is d, with a 1 px edge."""
    return max(0.0, min(1.0, 0.5 - d / edge))


def icon_pixel(x, y):
    """The icon on a unit square: two ports joined by a link, on teal."""
    # rounded square
    r = 0.2
    qx, qy = abs(x - 0.5) - (0.5 - r) + 0.0, abs(y - 0.5) - (0.5 - r)
    dsq = math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r + 0.02
    top, bottom = (38, 120, 140), (18, 70, 92)
    base = mix(top, bottom, y)
    layers = [(base, dsq)]
    # link bar between the ports
    bar = max(abs(y - 0.5) - 0.055, abs(x - 0.5) - 0.2)
    layers.append(((235, 244, 246), bar))
    # two ports: rings
    for cx in (0.27, 0.73):
        d = math.hypot(x - cx, y - 0.5)
        layers.append(((250, 250, 250), d - 0.15))
        layers.append(((238, 170, 60) if cx < 0.5 else (120, 200, 120), d - 0.085))
    return layers


def render_icon(size, samples=4):
    px = []
    for j in range(size):
        for i in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sj in range(samples):
                for si in range(samples):
                    x = (i + (si + 0.5) / samples) / size
                    y = (j + (sj + 0.5) / samples) / size
                    col, alpha = (0, 0, 0), 0.0
                    for k, (c, d) in enumerate(icon_pixel(x, y)):
                        cov = 1.0 if d < 0 else 0.0
                        if k == 0:
                            col, alpha = c, cov
                        elif cov:
                            col = c
                    acc[0] += col[0] * alpha
                    acc[1] += col[1] * alpha
                    acc[2] += col[2] * alpha
                    acc[3] += alpha
            n = samples * samples
            a = acc[3] / n
            if a > 0:
                px += [round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]), round(a * 255)]
            else:
                px += [0, 0, 0, 0]
    return px


def palette256():
    pal = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    pal += [(v * 255 // 39, v * 255 // 39, v * 255 // 39) for v in range(40)]
    return pal[:256]


def and_mask(size, rgba):
    stride = ((size + 31) // 32) * 4
    rows = []
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if rgba[(y * size + x) * 4 + 3] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    return b"".join(rows)


def dib(size, bpp, rgba):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, 256 if bpp == 8 else 0, 0)
    if bpp == 32:
        body = b"".join(bytes([rgba[i + 2], rgba[i + 1], rgba[i], rgba[i + 3]])
                        for y in reversed(range(size)) for i in [((y * size) + x) * 4 for x in range(size)])
        return header + body + and_mask(size, rgba)
    pal = palette256()
    cache = {}

    def nearest(c):
        if c not in cache:
            cache[c] = min(range(len(pal)), key=lambda k: sum((pal[k][t] - c[t]) ** 2 for t in range(3)))
        return cache[c]

    table = b"".join(bytes([b, g, r, 0]) for (r, g, b) in pal)
    stride = (size + 3) // 4 * 4
    rows = []
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            i = (y * size + x) * 4
            row[x] = nearest((rgba[i], rgba[i + 1], rgba[i + 2])) if rgba[i + 3] >= 128 else 0
        rows.append(bytes(row))
    return header + table + b"".join(rows) + and_mask(size, rgba)


def ico(path, images):
    entries, blobs = [], []
    offset = 6 + 16 * len(images)
    for size, bpp, rgba in images:
        blob = dib(size, bpp, rgba)
        entries.append(struct.pack("<BBBBHHII", size % 256, size % 256, 0 if bpp == 32 else 0, 0, 1, bpp,
                                   len(blob), offset))
        blobs.append(blob)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)))
        f.write(b"".join(entries))
        f.write(b"".join(blobs))


def backdrop(w=480, h=452):
    px = bytearray()
    top, bottom = (244, 248, 250), (222, 234, 240)
    for y in range(h):
        for x in range(w):
            c = mix(top, bottom, y / (h - 1))
            # soft bands behind each channel's column
            for left in (12, 292):
                if left <= x < left + 176 and 160 <= y < 428:
                    c = mix(c, (255, 255, 255), 0.55)
            # a faint wave running from one column to the other
            wave = 118 + 10 * math.sin((x / w) * 2 * math.pi * 1.5)
            d = abs(y - wave)
            if d < 1.5:
                c = mix(c, (38, 120, 140), 0.35 * (1.5 - d) / 1.5)
            px += bytes(round(v) for v in c) + b"\xff"
    return px


def title_icon(px, w, size=56, at=(212, 40)):
    img = render_icon(size)
    for j in range(size):
        for i in range(size):
            s = (j * size + i) * 4
            a = img[s + 3] / 255
            d = ((at[1] + j) * w + at[0] + i) * 4
            for t in range(3):
                px[d + t] = round(px[d + t] * (1 - a) + img[s + t] * a)


def main():
    os.makedirs(os.path.join(OUT, "icons"), exist_ok=True)
    art = {s: render_icon(s) for s in (16, 32, 48, 64, 128, 256)}
    ico(os.path.join(OUT, "vardelolink.ico"),
        [(48, 8, art[48]), (32, 8, art[32]), (16, 8, art[16]),
         (256, 32, art[256]), (48, 32, art[48]), (32, 32, art[32]), (16, 32, art[16])])
    for s, rgba in art.items():
        png(os.path.join(OUT, "icons", f"vardelolink-{s}.png"), s, s, rgba)
    bd = backdrop()
    title_icon(bd, 480)
    png(os.path.join(OUT, "VardeloLinkcopy.png"), 480, 452, bd)


if __name__ == "__main__":
    sys.exit(main())
