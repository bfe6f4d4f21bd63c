#!/usr/bin/env python3
"""Draws the program's images and writes them as RGBA PNG files beside this script:
folder.png and file.png (32 x 32, the file list's icons), home.png and up.png (24 x 24,
the "File System" tab's Home and Up buttons), and the program's own icon at the desktop's
usual sizes (icons/usb-file-utility-N.png, N from 16 to 256).

Only the standard library is used. Shapes are polygons, filled or outlined, with 4 x 4
samples per pixel for smooth edges. The output is the same on every run, so the PNG files
can be committed and rebuilt from this script when a drawing changes:

    python3 src/resources/draw_images.py
"""

import math
import os
import struct
import zlib

SAMPLES = 4  # per pixel and axis


def hex_colour(text, alpha=255):
    value = int(text.lstrip("#"), 16)
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF, alpha)


class Canvas:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        # Premultiplied RGBA in 0..1, transparent to start with.
        self.pixels = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def _blend(self, x, y, colour, coverage):
        if coverage <= 0.0:
            return
        alpha = coverage * colour[3] / 255.0
        pixel = self.pixels[y * self.width + x]
        for channel in range(3):
            pixel[channel] = colour[channel] / 255.0 * alpha + pixel[channel] * (1.0 - alpha)
        pixel[3] = alpha + pixel[3] * (1.0 - alpha)

    def _paint(self, inside, bounds, colour):
        left, top, right, bottom = bounds
        x0, y0 = max(0, int(math.floor(left))), max(0, int(math.floor(top)))
        x1, y1 = min(self.width, int(math.ceil(right)) + 1), min(self.height, int(math.ceil(bottom)) + 1)
        step = 1.0 / SAMPLES
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        if inside(x + (sx + 0.5) * step, y + (sy + 0.5) * step):
                            hits += 1
                self._blend(x, y, colour, hits / float(SAMPLES * SAMPLES))

    def fill(self, points, colour):
        def inside(px, py):
            # Even-odd rule, by counting the edges a ray to the right crosses.
            crossings = False
            count = len(points)
            for i in range(count):
                ax, ay = points[i]
                bx, by = points[(i + 1) % count]
                if (ay > py) != (by > py):
                    if px < ax + (py - ay) * (bx - ax) / (by - ay):
                        crossings = not crossings
            return crossings

        self._paint(inside, bounds_of(points, 0.0), colour)

    def stroke(self, points, thickness, colour, closed=True):
        half = thickness / 2.0
        count = len(points)
        segments = [(points[i], points[(i + 1) % count]) for i in range(count if closed else count - 1)]

        def inside(px, py):
            return any(distance_to_segment(px, py, a, b) <= half for a, b in segments)

        self._paint(inside, bounds_of(points, half), colour)

    def png_bytes(self):
        rows = bytearray()
        for y in range(self.height):
            rows.append(0)  # filter type: none
            for x in range(self.width):
                r, g, b, a = self.pixels[y * self.width + x]
                if a > 0.0:
                    r, g, b = r / a, g / a, b / a  # PNG stores straight alpha
                rows.extend(int(round(min(1.0, max(0.0, v)) * 255)) for v in (r, g, b, a))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0)  # 8-bit RGBA
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def bounds_of(points, margin):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return (min(xs) - margin, min(ys) - margin, max(xs) + margin, max(ys) + margin)


def distance_to_segment(px, py, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    length_squared = dx * dx + dy * dy
    t = 0.0 if length_squared == 0.0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length_squared))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def rounded_rectangle(left, top, right, bottom, radius, steps=6):
    """A rectangle with rounded corners as a polygon, clockwise from the top left."""
    corners = [(right - radius, top + radius, -90.0), (right - radius, bottom - radius, 0.0),
               (left + radius, bottom - radius, 90.0), (left + radius, top + radius, 180.0)]
    points = []
    for cx, cy, start in corners:
        for i in range(steps + 1):
            angle = math.radians(start + 90.0 * i / steps)
            points.append((cx + radius * math.cos(angle), cy + radius * math.sin(angle)))
    return points


def rectangle(left, top, right, bottom):
    return [(left, top), (right, top), (right, bottom), (left, bottom)]


def draw_folder():
    """A light-blue folder: the back with its tab, then the front flap."""
    canvas = Canvas(32, 32)
    outline = hex_colour("3F74A8")
    back = [(2.5, 7.5), (4.5, 5.5), (11.5, 5.5), (14.0, 8.5), (29.5, 8.5), (29.5, 27.5), (2.5, 27.5)]
    canvas.fill(back, hex_colour("7DB3E8"))
    canvas.stroke(back, 1.0, outline)
    front = [(2.5, 12.5), (29.5, 12.5), (29.5, 27.5), (2.5, 27.5)]
    canvas.fill(front, hex_colour("A8D5FB"))
    canvas.stroke(front, 1.0, outline)
    canvas.stroke([(4.0, 14.0), (28.0, 14.0)], 1.0, hex_colour("FFFFFF", 150), closed=False)
    return canvas


def draw_file():
    """A plain white page with its top right corner folded over."""
    canvas = Canvas(32, 32)
    outline = hex_colour("7F7F7F")
    page = [(6.5, 2.5), (20.5, 2.5), (26.5, 8.5), (26.5, 29.5), (6.5, 29.5)]
    canvas.fill(page, hex_colour("FFFFFF"))
    canvas.stroke(page, 1.0, outline)
    fold = [(20.5, 2.5), (20.5, 8.5), (26.5, 8.5)]
    canvas.fill(fold, hex_colour("DDDDDD"))
    canvas.stroke(fold, 1.0, outline)
    return canvas


def draw_home():
    """A small house: light walls, a brown door, a chimney and a red roof."""
    canvas = Canvas(24, 24)
    walls = rectangle(4.5, 11.0, 19.5, 21.5)
    canvas.fill(walls, hex_colour("F4EBD6"))
    canvas.stroke(walls, 1.0, hex_colour("6E5334"))
    door = rectangle(10.0, 14.5, 14.0, 21.5)
    canvas.fill(door, hex_colour("8B5A2B"))
    chimney = rectangle(15.5, 3.5, 18.5, 9.0)
    canvas.fill(chimney, hex_colour("6B6B6B"))
    canvas.stroke(chimney, 1.0, hex_colour("444444"))
    roof = [(12.0, 2.0), (22.5, 12.0), (1.5, 12.0)]
    canvas.fill(roof, hex_colour("D9342B"))
    canvas.stroke(roof, 1.0, hex_colour("8E1B16"))
    return canvas


def draw_up():
    """A grey arrow pointing upwards."""
    canvas = Canvas(24, 24)
    arrow = [(12.0, 2.0), (21.5, 11.5), (15.5, 11.5), (15.5, 21.5),
             (8.5, 21.5), (8.5, 11.5), (2.5, 11.5)]
    canvas.fill(arrow, hex_colour("8C8C8C"))
    canvas.stroke(arrow, 1.0, hex_colour("555555"))
    return canvas


def draw_program_icon(size):
    """The program's icon, drawn on a 32-unit grid scaled to size: a dark blue device with
    a light-blue folder on it and a green arrow going into the folder."""
    canvas = Canvas(size, size)
    k = size / 32.0

    def scaled(points):
        return [(x * k, y * k) for x, y in points]

    body = scaled(rounded_rectangle(1.5, 1.5, 30.5, 30.5, 6.0))
    canvas.fill(body, hex_colour("1F3B5C"))
    canvas.stroke(body, max(1.0, k), hex_colour("0F2033"))
    back = scaled([(5.5, 11.0), (7.5, 9.0), (13.0, 9.0), (15.0, 11.5), (26.5, 11.5), (26.5, 26.0), (5.5, 26.0)])
    canvas.fill(back, hex_colour("7DB3E8"))
    front = scaled([(5.5, 15.0), (26.5, 15.0), (26.5, 26.0), (5.5, 26.0)])
    canvas.fill(front, hex_colour("A8D5FB"))
    arrow = scaled([(16.0, 23.5), (22.0, 17.5), (18.5, 17.5), (18.5, 4.0),
                    (13.5, 4.0), (13.5, 17.5), (10.0, 17.5)])
    canvas.fill(arrow, hex_colour("3DBE5A"))
    canvas.stroke(arrow, max(1.0, k * 0.75), hex_colour("1E7A34"))
    return canvas


PROGRAM_ICON_SIZES = (16, 32, 48, 64, 128, 256)


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    images = [("folder.png", draw_folder), ("file.png", draw_file),
              ("home.png", draw_home), ("up.png", draw_up)]
    images += [("icons/usb-file-utility-%d.png" % size, lambda size=size: draw_program_icon(size))
               for size in PROGRAM_ICON_SIZES]
    os.makedirs(os.path.join(folder, "icons"), exist_ok=True)
    for name, draw in images:
        data = draw().png_bytes()
        with open(os.path.join(folder, name), "wb") as output:
            output.write(data)
        print("%s: %d bytes" % (name, len(data)))


if __name__ == "__main__":
    main()
