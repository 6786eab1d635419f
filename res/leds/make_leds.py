#!/usr/bin/env python3
"""Draws the LED lamp pictures (unlit, red, yellow) as PNG files at several sizes.

Run from anywhere: python3 make_leds.py  (writes <state>-<size>.png beside this script).
Only the standard library is used. Each pixel is the average of an 8 x 8 grid of samples,
so edges are smooth; the rays are kept an even number of pixels wide and centred on the
picture's middle, which falls on a pixel boundary, so the straight rays stay sharp even at
16 pixels.
"""
import math
import os
import struct
import zlib

SIZES = (16, 24, 32, 48, 64, 128)
GREY = (192, 192, 192)  # opaque background of every picture

# Geometry on a 32-unit design grid.
LAMP_RADIUS = 10.0
RIM = 1.0
HIGHLIGHT_CENTRE = (12.8, 12.8)
HIGHLIGHT_RADII = (3.0, 2.2)
RAY_FROM = 12.0
RAY_TO = 15.8

STATES = {
    # name: (lamp colour, rim colour, highlight colour, rays)
    "off": ((0, 0, 0), (0, 0, 0), (160, 160, 160), False),
    "red": ((255, 0, 0), (128, 0, 0), (255, 255, 255), True),
    "yellow": ((255, 255, 0), (128, 128, 0), (255, 255, 255), True),
}


def ray_half_width(size):
    """Half the ray width in design units: an even number of pixels, at least two."""
    pixels = 2 * max(1, round(size / 48))
    return pixels / 2 * 32 / size


def colour_at(x, y, state, half_width):
    lamp, rim, highlight, rays = STATES[state]
    dx, dy = x - 16.0, y - 16.0
    r = math.hypot(dx, dy)
    if r <= LAMP_RADIUS:
        hx = (x - HIGHLIGHT_CENTRE[0]) / HIGHLIGHT_RADII[0]
        hy = (y - HIGHLIGHT_CENTRE[1]) / HIGHLIGHT_RADII[1]
        if hx * hx + hy * hy <= 1.0:
            return highlight
        return rim if r > LAMP_RADIUS - RIM else lamp
    if rays:
        for k in range(8):
            a = k * math.pi / 4
            ux, uy = math.cos(a), math.sin(a)
            along = dx * ux + dy * uy
            across = -dx * uy + dy * ux
            if RAY_FROM <= along <= RAY_TO and abs(across) <= half_width:
                return lamp
    return GREY


def render(state, size):
    grid = 8
    half_width = ray_half_width(size)
    scale = 32.0 / size
    rows = []
    for py in range(size):
        row = bytearray([0])  # filter type: none
        for px in range(size):
            acc = [0, 0, 0]
            for sy in range(grid):
                for sx in range(grid):
                    x = (px + (sx + 0.5) / grid) * scale
                    y = (py + (sy + 0.5) / grid) * scale
                    c = colour_at(x, y, state, half_width)
                    acc[0] += c[0]
                    acc[1] += c[1]
                    acc[2] += c[2]
            n = grid * grid
            row += bytes(round(v / n) for v in acc)
        rows.append(bytes(row))
    return rows


def png(size, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)  # 8-bit RGB, opaque
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for state in STATES:
        for size in SIZES:
            with open(os.path.join(here, f"{state}-{size}.png"), "wb") as out:
                out.write(png(size, render(state, size)))


if __name__ == "__main__":
    main()
