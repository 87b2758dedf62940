#!/usr/bin/env python3
"""Draws the updater's icon and writes it as a Windows icon file.

usage: make-icon.py OUT.ico [--small]

The picture: a blue rounded tile with a white arrow pointing down into a
tray. The file holds 16, 32 and 48 pixel images at 4, 8 and 32 bits per pixel.
--small draws the simpler variant meant for title bars (no tray shading).
"""
import struct
import sys


def draw(n, small):
    """RGBA rows, top row first, of an n x n picture."""
    px = [[(0, 0, 0, 0)] * n for _ in range(n)]
    r = max(2, n // 6)
    for y in range(n):
        for x in range(n):
            # Rounded tile with a vertical gradient.
            dx = max(r - x, 0, x - (n - 1 - r))
            dy = max(r - y, 0, y - (n - 1 - r))
            if dx * dx + dy * dy > r * r:
                continue
            t = y / max(n - 1, 1)
            blue = (int(40 + 30 * t), int(120 - 50 * t), int(220 - 60 * t), 255)
            px[y][x] = blue
    white = (255, 255, 255, 255)
    light = (200, 225, 255, 255)
    cx = (n - 1) / 2
    # Arrow: a shaft and a head, pointing down.
    shaft_w = max(1, n // 8)
    top, head_y, tip = n * 0.18, n * 0.48, n * 0.70
    for y in range(n):
        for x in range(n):
            if top <= y < head_y and abs(x - cx) <= shaft_w:
                px[y][x] = white
            if head_y <= y <= tip:
                half = (tip - y) / (tip - head_y) * (n * 0.28)
                if abs(x - cx) <= half:
                    px[y][x] = white
    # Tray under the arrow.
    tray_y = int(n * 0.78)
    thick = max(1, n // 16)
    for y in range(tray_y, min(n - max(1, n // 10), tray_y + thick + 1)):
        for x in range(int(n * 0.2), int(n * 0.8) + 1):
            px[y][x] = white if small else light
    return px


VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    pal = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    pal += [(i * 255 // 39,) * 3 for i in range(40)]
    return pal


def nearest(pal, c):
    return min(range(len(pal)), key=lambda i: sum((a - b) ** 2 for a, b in zip(pal[i], c)))


def image(n, bpp, small):
    px = draw(n, small)
    rows = list(reversed(px))  # bottom row first
    row_bytes = ((n * bpp + 31) // 32) * 4
    xor = bytearray()
    pal = VGA if bpp == 4 else palette256() if bpp == 8 else []
    for row in rows:
        line = bytearray()
        if bpp == 32:
            for (r, g, b, a) in row:
                line += bytes((b, g, r, a))
        else:
            idx = [nearest(pal, p[:3]) if p[3] else 0 for p in row]
            if bpp == 8:
                line += bytes(idx)
            else:
                for i in range(0, n, 2):
                    hi = idx[i]
                    lo = idx[i + 1] if i + 1 < n else 0
                    line.append(hi << 4 | lo)
        line += bytes(row_bytes - len(line))
        xor += line
    mask_bytes = ((n + 31) // 32) * 4
    mask = bytearray()
    for row in rows:
        line = bytearray(mask_bytes)
        for x, p in enumerate(row):
            if p[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    colours = len(pal)
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, bpp, 0, len(xor) + len(mask), 0, 0,
                         colours, 0)
    table = b''.join(bytes((b, g, r, 0)) for (r, g, b) in pal)
    return header + table + bytes(xor) + bytes(mask), colours


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    small = '--small' in sys.argv[2:]
    images = []
    for n in (16, 32, 48):
        for bpp in (4, 8, 32):
            data, colours = image(n, bpp, small)
            images.append((n, bpp, colours, data))
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for n, bpp, colours, data in images:
        out += struct.pack('<BBBBHHII', n % 256, n % 256, colours if colours < 256 else 0, 0, 1,
                           bpp, len(data), offset)
        offset += len(data)
    for _, _, _, data in images:
        out += data
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
