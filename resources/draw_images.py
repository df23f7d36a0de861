#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws Norvex's bitmaps into resources/images/ as PNG files.

The images are committed; run this script again only after changing a drawing:
    python3 resources/draw_images.py
It needs nothing beyond the Python standard library.
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "images")


class Canvas:
    def __init__(self, w, h, fill=(0, 0, 0, 0)):
        self.w, self.h = w, h
        self.px = [[fill for _ in range(w)] for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        """Fills [x0, x1) x [y0, y1)."""
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.set(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        self.rect(x0, y0, x1, y0 + 1, c)
        self.rect(x0, y1 - 1, x1, y1, c)
        self.rect(x0, y0, x0 + 1, y1, c)
        self.rect(x1 - 1, y0, x1, y1, c)

    def line(self, x0, y0, x1, y1, c, width=1):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            x = round(x0 + (x1 - x0) * i / steps)
            y = round(y0 + (y1 - y0) * i / steps)
            self.rect(x - width // 2, y - width // 2, x - width // 2 + width, y - width // 2 + width, c)

    def triangle(self, pts, c):
        (ax, ay), (bx, by), (cx, cy) = pts

        def edge(px, py, qx, qy, x, y):
            return (qx - px) * (y - py) - (qy - py) * (x - px)

        area = edge(ax, ay, bx, by, cx, cy)
        for y in range(self.h):
            for x in range(self.w):
                sx, sy = x + 0.5, y + 0.5
                e0 = edge(ax, ay, bx, by, sx, sy)
                e1 = edge(bx, by, cx, cy, sx, sy)
                e2 = edge(cx, cy, ax, ay, sx, sy)
                if area > 0 and e0 >= 0 and e1 >= 0 and e2 >= 0:
                    self.set(x, y, c)
                elif area < 0 and e0 <= 0 and e1 <= 0 and e2 <= 0:
                    self.set(x, y, c)

    def save(self, name, folder=None):
        raw = b"".join(b"\x00" + b"".join(struct.pack("BBBB", *p) for p in row) for row in self.px)

        def chunk(tag, data):
            body = tag + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        png = b"\x89PNG\r\n\x1a\n"
        png += chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(raw, 9))
        png += chunk(b"IEND", b"")
        folder = folder or OUT
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(png)


BLACK = (0, 0, 0, 255)
WHITE = (255, 255, 255, 255)
LED_ON = (255, 40, 40, 255)
LED_OFF = (60, 0, 0, 255)

# Seven segments: a top, b upper right, c lower right, d bottom, e lower left, f upper left, g middle.
SEGMENTS = {
    0: "abcdef", 1: "bc", 2: "abged", 3: "abgcd", 4: "fgbc",
    5: "afgcd", 6: "afgedc", 7: "abc", 8: "abcdefg", 9: "abcdfg",
}


def digit(n):
    c = Canvas(16, 24, BLACK)
    left, right, top, mid, bottom, t = 3, 12, 3, 11, 19, 2
    shapes = {
        "a": (left + 1, top, right, top + t),
        "g": (left + 1, mid, right, mid + t),
        "d": (left + 1, bottom, right, bottom + t),
        "f": (left - 1, top + 1, left + 1, mid + 1),
        "b": (right, top + 1, right + 2, mid + 1),
        "e": (left - 1, mid + 1, left + 1, bottom + 1),
        "c": (right, mid + 1, right + 2, bottom + 1),
    }
    for name, (x0, y0, x1, y1) in shapes.items():
        c.rect(x0, y0, x1, y1, LED_ON if name in SEGMENTS[n] else LED_OFF)
    c.save("digit%d.png" % n)


def boxes():
    for ticked in (False, True):
        c = Canvas(16, 16)
        c.rect(2, 2, 14, 14, WHITE)
        c.frame(2, 2, 14, 14, (64, 64, 64, 255))
        if ticked:
            green = (0, 128, 0, 255)
            c.line(4, 8, 6, 11, green, 2)
            c.line(6, 11, 11, 4, green, 2)
        c.save("box_ticked.png" if ticked else "box_empty.png")


def arrows():
    colour = (0, 0, 160, 255)
    for up in (True, False):
        c = Canvas(19, 25)
        if up:
            c.triangle([(9.5, 1), (1, 12), (18, 12)], colour)
            c.rect(6, 12, 13, 24, colour)
        else:
            c.triangle([(9.5, 24), (18, 13), (1, 13)], colour)
            c.rect(6, 1, 13, 13, colour)
        c.save("arrow_up.png" if up else "arrow_down.png")


def icon():
    size = 32
    c = Canvas(size, size)
    note = (96, 168, 96, 255)
    dark = (24, 80, 24, 255)
    # A bank note entering a slot.
    c.rect(3, 6, 29, 22, note)
    c.frame(3, 6, 29, 22, dark)
    c.frame(5, 8, 27, 20, dark)
    c.rect(13, 11, 19, 17, (200, 230, 200, 255))
    c.frame(13, 11, 19, 17, dark)
    c.rect(1, 25, 31, 29, (48, 48, 48, 255))
    c.rect(4, 26, 28, 28, BLACK)
    c.triangle([(16, 31.5), (11, 23), (21, 23)], (200, 40, 40, 255))
    c.save("norvex.png")


# The application icon for the desktop's icon theme, in the theme's fixed sizes: the drawing of
# icon() on a 32-unit grid, scaled, with lines at least one pixel wide. (The scalable version is
# resources/icons/hicolor/scalable/apps/norvex.svg, written by hand after the same grid.)
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def theme_icon(size):
    s = size / 32.0
    c = Canvas(size, size)
    note = (96, 168, 96, 255)
    dark = (24, 80, 24, 255)
    line = max(1, round(s))

    def box(x0, y0, x1, y1, colour):
        c.rect(round(x0 * s), round(y0 * s), round(x1 * s), round(y1 * s), colour)

    def outline(x0, y0, x1, y1, colour):
        X0, Y0, X1, Y1 = round(x0 * s), round(y0 * s), round(x1 * s), round(y1 * s)
        c.rect(X0, Y0, X1, Y0 + line, colour)
        c.rect(X0, Y1 - line, X1, Y1, colour)
        c.rect(X0, Y0, X0 + line, Y1, colour)
        c.rect(X1 - line, Y0, X1, Y1, colour)

    box(3, 6, 29, 22, note)
    outline(3, 6, 29, 22, dark)
    outline(5, 8, 27, 20, dark)
    box(13, 11, 19, 17, (200, 230, 200, 255))
    outline(13, 11, 19, 17, dark)
    box(1, 25, 31, 29, (48, 48, 48, 255))
    box(4, 26, 28, 28, BLACK)
    c.triangle([(16 * s, 31.5 * s), (11 * s, 23 * s), (21 * s, 23 * s)], (200, 40, 40, 255))
    c.save("norvex.png", os.path.join(HERE, "icons", "hicolor", "%dx%d" % (size, size), "apps"))


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    for n in range(10):
        digit(n)
    boxes()
    arrows()
    icon()
    for size in ICON_SIZES:
        theme_icon(size)
