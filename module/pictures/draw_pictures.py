#!/usr/bin/env python3
"""Draws the pictures of the module's windows as 24-bit bitmaps beside this script.

Run once when a picture changes; the bitmaps are kept in the repository. Shapes are drawn by
coverage with 4 x 4 samples per pixel over the windows' face colour."""
import math
import os
import struct

FACE = (239, 239, 239)
SAMPLES = 4


def disk(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment(x1, y1, x2, y2, half):
    def inside(x, y):
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        return (x - x1 - t * dx) ** 2 + (y - y1 - t * dy) ** 2 <= half * half
    return inside


def arc(cx, cy, r, start, end, half):
    # Angles in degrees, clockwise from the right on the screen.
    def inside(x, y):
        a = math.degrees(math.atan2(y - cy, x - cx)) % 360
        s, e = start % 360, end % 360
        on = s <= a <= e if s <= e else a >= s or a <= e
        return on and abs(math.hypot(x - cx, y - cy) - r) <= half
    return inside


def rect(x1, y1, x2, y2, radius=0):
    def inside(x, y):
        if not (x1 <= x <= x2 and y1 <= y <= y2):
            return False
        nx = min(max(x, x1 + radius), x2 - radius)
        ny = min(max(y, y1 + radius), y2 - radius)
        return (x - nx) ** 2 + (y - ny) ** 2 <= radius * radius
    return inside


def draw(size, layers):
    """layers: (shape, colour) pairs, later ones over earlier ones; colour may be a function of y."""
    w, h = size
    pixels = []
    for py in range(h):
        row = []
        for px in range(w):
            acc = [0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = px + (sx + 0.5) / SAMPLES
                    y = py + (sy + 0.5) / SAMPLES
                    colour = FACE
                    for shape, c in layers:
                        if shape(x, y):
                            colour = c(y) if callable(c) else c
                    for i in range(3):
                        acc[i] += colour[i]
            row.append(tuple(int(round(v / SAMPLES ** 2)) for v in acc))
        pixels.append(row)
    return pixels


def vertical(top, bottom, y0, y1):
    def colour(y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
    return colour


def save_bmp(name, pixels):
    h, w = len(pixels), len(pixels[0])
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        data += line + bytes(stride - len(line))
    header = struct.pack('<2sIHHI', b'BM', 54 + len(data), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), name), 'wb') as f:
        f.write(header + info + data)


WHITE = (255, 255, 255)
BLUE = vertical((90, 150, 230), (20, 70, 170), 4, 44)
RED = vertical((235, 90, 80), (170, 20, 20), 4, 44)

save_bmp('QuillaryQuestion.bmp', draw((48, 48), [
    (disk(24, 24, 20), BLUE),
    (arc(24, 18, 7, 180, 90, 2.6), WHITE),
    (segment(24, 25, 24, 29, 2.6), WHITE),
    (disk(24, 35.5, 2.8), WHITE),
]))
save_bmp('QuillaryError.bmp', draw((48, 48), [
    (disk(24, 24, 20), RED),
    (segment(16, 16, 32, 32, 3), WHITE),
    (segment(32, 16, 16, 32, 3), WHITE),
]))
save_bmp('QuillaryInformation.bmp', draw((48, 48), [
    (disk(24, 24, 20), BLUE),
    (disk(24, 14.5, 3), WHITE),
    (rect(21, 20, 27, 35, 1.5), WHITE),
]))
# The logo: a device on a line, sending and answering.
NAVY = vertical((40, 80, 160), (10, 30, 90), 2, 62)
save_bmp('QuillaryLogo.bmp', draw((64, 64), [
    (rect(2, 2, 62, 62, 10), NAVY),
    (rect(12, 14, 36, 50, 3), (230, 236, 245)),
    (rect(16, 19, 32, 27, 1), (60, 170, 90)),
    (disk(18, 34, 2), (240, 190, 40)),
    (disk(24, 34, 2), (240, 190, 40)),
    (disk(30, 34, 2), (240, 190, 40)),
    (segment(16, 43, 32, 43, 1.2), (120, 130, 150)),
    (segment(36, 32, 54, 32, 1.6), WHITE),
    (arc(46, 32, 5, 300, 60, 1.2), WHITE),
    (arc(46, 32, 10, 310, 50, 1.2), WHITE),
]))
# The log: a sheet of lines, the last one marked.
save_bmp('QuillaryLog.bmp', draw((48, 48), [
    (rect(9, 4, 39, 44, 2), (120, 120, 120)),
    (rect(10, 5, 38, 43, 1.5), WHITE),
    (segment(14, 12, 34, 12, 1), (110, 110, 120)),
    (segment(14, 18, 30, 18, 1), (110, 110, 120)),
    (segment(14, 24, 34, 24, 1), (110, 110, 120)),
    (segment(14, 30, 27, 30, 1), (110, 110, 120)),
    (segment(14, 36, 32, 36, 1.2), (190, 30, 30)),
]))
