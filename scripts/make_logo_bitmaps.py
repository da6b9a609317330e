#!/usr/bin/env python3
"""Draws the two logo-strip bitmaps (122 x 24, 8 bits per pixel, 256-colour palette).

resources/logo_24019.bmp: the product mark, "BRIO FX" in a small block font over a dark band
    with a waveform underline.
resources/logo_24020.bmp: the backdrop the strip stretches behind its caption and buttons; a
    top-to-bottom shade that is the same in every column, so stretching it sideways is seamless.

Run from the repository root: python3 scripts/make_logo_bitmaps.py
"""
import math
import os
import struct
import sys

WIDTH, HEIGHT = 122, 24

# 5 x 7 glyphs, one string per row, '#' = ink.
GLYPHS = {
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "R": ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    "I": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "F": ["#####", "#....", "#....", "####.", "#....", "#....", "#...."],
    "X": ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    " ": [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def bmp_bytes(pixels, palette):
    """pixels: HEIGHT rows (top first) of WIDTH palette indices; palette: 256 (r, g, b)."""
    stride = (WIDTH + 3) & ~3
    image = bytearray()
    for row in reversed(pixels):  # bottom-up DIB
        image += bytes(row) + bytes(stride - WIDTH)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + 40 + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(image), 2835, 2835, 256, 0)
    return header + info + colours + bytes(image)


def mark():
    # Palette: 0..127 band ramp, 128..191 accent ramp, 255 ink, 254 ink shadow.
    top, bottom = (18, 32, 58), (6, 12, 26)
    accent_a, accent_b = (40, 170, 210), (250, 160, 40)
    palette = [(0, 0, 0)] * 256
    for i in range(128):
        palette[i] = lerp(top, bottom, i / 127)
    for i in range(64):
        palette[128 + i] = lerp(accent_a, accent_b, i / 63)
    palette[254] = (0, 0, 0)
    palette[255] = (245, 248, 252)

    pixels = [[int(y * 127 / (HEIGHT - 1)) for _ in range(WIDTH)] for y in range(HEIGHT)]

    text, scale, gap = "BRIO FX", 2, 2
    text_w = len(text) * (5 * scale + gap) - gap
    x0, y0 = (WIDTH - text_w) // 2, 2
    for n, ch in enumerate(text):
        for gy, line in enumerate(GLYPHS[ch]):
            for gx, cell in enumerate(line):
                if cell != "#":
                    continue
                for dy in range(scale):
                    for dx in range(scale):
                        x = x0 + n * (5 * scale + gap) + gx * scale + dx
                        y = y0 + gy * scale + dy
                        if x + 1 < WIDTH and y + 1 < HEIGHT and pixels[y + 1][x + 1] < 128:
                            pixels[y + 1][x + 1] = 254
                        pixels[y][x] = 255
    # A decaying wave under the letters, coloured along its length.
    prev = None
    for x in range(6, WIDTH - 6):
        t = (x - 6) / (WIDTH - 13)
        yi = int(round(20.5 + 2.6 * math.exp(-1.6 * t) * math.sin(t * 5 * math.pi)))
        span = range(min(yi, prev), max(yi, prev) + 1) if prev is not None else [yi]
        for y in span:  # joins steep steps into a continuous line
            if 0 <= y < HEIGHT and pixels[y][x] < 128:
                pixels[y][x] = 128 + int(t * 63)
        prev = yi
    return bmp_bytes(pixels, palette)


def backdrop():
    top, middle, bottom = (250, 251, 253), (232, 236, 243), (206, 213, 226)
    palette = [(0, 0, 0)] * 256
    for i in range(256):
        t = i / 255
        palette[i] = lerp(top, middle, t * 2) if t < 0.5 else lerp(middle, bottom, t * 2 - 1)
    pixels = [[int(y * 255 / (HEIGHT - 1))] * WIDTH for y in range(HEIGHT)]
    pixels[HEIGHT - 1] = [255] * WIDTH
    return bmp_bytes(pixels, palette)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = os.path.join(root, "resources")
    for name, data in (("logo_24019.bmp", mark()), ("logo_24020.bmp", backdrop())):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
