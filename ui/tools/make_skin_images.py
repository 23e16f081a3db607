#!/usr/bin/env python3
"""Draws the window's skin images (ui/skin/imgs/*.png). Standard library only.

Run from anywhere: python3 ui/tools/make_skin_images.py
Shapes are drawn as signed-distance fields with one pixel of anti-aliasing, so the
output is identical on every machine and the PNGs can be committed.
"""
import math
import os
import struct
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "skin", "imgs")


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[(0.0, 0.0, 0.0, 0.0) for _ in range(w)] for _ in range(h)]

    def blend(self, x, y, rgb, alpha):
        if alpha <= 0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        r, g, b, a = self.px[y][x]
        sr, sg, sb = (c / 255.0 for c in rgb)
        out_a = alpha + a * (1 - alpha)
        if out_a <= 0:
            return
        mix = lambda s, d: (s * alpha + d * a * (1 - alpha)) / out_a
        self.px[y][x] = (mix(sr, r), mix(sg, g), mix(sb, b), out_a)

    def shade(self, x0, y0, x1, y1, dist, colour):
        """Fills where dist(px, py) < 0; colour is an (r,g,b) or a function of y."""
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                d = dist(x + 0.5, y + 0.5)
                cov = min(1.0, max(0.0, 0.5 - d))
                if cov > 0:
                    rgb = colour(y - y0) if callable(colour) else colour
                    self.blend(x, y, rgb, cov)

    def png(self, path):
        raw = bytearray()
        for row in self.px:
            raw.append(0)
            for r, g, b, a in row:
                raw += bytes(int(round(c * 255)) for c in (r, g, b, a))

        def chunk(tag, data):
            c = struct.pack(">I", len(data)) + tag + data
            return c + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

        ihdr = struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)
        data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        with open(path, "wb") as f:
            f.write(data + chunk(b"IEND", b""))


def rounded_rect(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def dist(px, py):
        qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
        outside = math.hypot(max(qx, 0), max(qy, 0))
        return outside + min(max(qx, qy), 0) - radius

    return dist


def ring(dist, width):
    return lambda px, py: abs(dist(px, py) + width / 2) - width / 2


def segments(points, width):
    def dist(px, py):
        best = 1e9
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            vx, vy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
            best = min(best, math.hypot(px - ax - t * vx, py - ay - t * vy))
        return best - width / 2

    return dist


def gradient(top, bottom, height):
    return lambda y: tuple(int(t + (b - t) * y / max(1, height - 1)) for t, b in zip(top, bottom))


def box(c, x, y, w, h, fill, border, radius, bw=1.0):
    d = rounded_rect(x + 0.5, y + 0.5, x + w - 0.5, y + h - 0.5, radius)
    c.shade(x, y, x + w, y + h, d, fill)
    c.shade(x, y, x + w, y + h, ring(d, bw), border)


BLUE = (45, 108, 223)


def check_sprite():
    # Columns unchecked / checked, rows normal, hot, pushed, disabled; 16 px cells.
    c = Canvas(32, 64)
    unchecked = [((255, 255, 255), (150, 160, 176)), ((236, 243, 253), BLUE),
                 ((214, 228, 250), (30, 84, 186)), ((238, 238, 238), (200, 200, 200))]
    checked = [(BLUE, (36, 92, 196), (255, 255, 255)), ((74, 136, 240), (45, 108, 223), (255, 255, 255)),
               ((30, 84, 186), (24, 70, 160), (230, 236, 250)), ((200, 200, 200), (185, 185, 185), (245, 245, 245))]
    for row in range(4):
        y = row * 16
        fill, border = unchecked[row]
        box(c, 1, y + 1, 14, 14, fill, border, 2.5)
        fill, border, mark = checked[row]
        box(c, 17, y + 1, 14, 14, fill, border, 2.5)
        c.shade(16, y, 32, y + 16, segments([(20.2, y + 8.2), (23, y + 11), (28, y + 5.2)], 1.9), mark)
    c.png(os.path.join(OUT, "100a_013.png"))


def button_sprite():
    # Normal, hot, pushed, disabled, 20 px apart; stretched with corner='4,4,4,4'.
    c = Canvas(40, 80)
    frames = [((252, 253, 255), (236, 240, 246), (160, 172, 190)),
              ((240, 246, 255), (220, 234, 253), (74, 136, 240)),
              ((210, 226, 250), (196, 216, 246), (30, 84, 186)),
              ((242, 242, 242), (236, 236, 236), (208, 208, 208))]
    for i, (top, bottom, border) in enumerate(frames):
        box(c, 0, i * 20, 40, 20, gradient(top, bottom, 20), border, 3.5)
    c.png(os.path.join(OUT, "100a_010.png"))


def toggle(path, on):
    c = Canvas(32, 16)
    track = BLUE if on else (190, 196, 206)
    d = rounded_rect(1, 2, 31, 14, 6)
    c.shade(0, 0, 32, 16, d, track)
    kx = 24 if on else 8
    c.shade(0, 0, 32, 16, lambda px, py: math.hypot(px - kx, py - 8) - 5.5, (255, 255, 255))
    c.png(path)


def logo():
    c = Canvas(20, 20)
    box(c, 0, 0, 20, 20, (255, 255, 255), (255, 255, 255), 4.5)
    c.shade(0, 0, 20, 20, segments([(10, 3.5), (10, 11.5)], 2.6), BLUE)
    c.shade(0, 0, 20, 20, segments([(5.5, 7.5), (10, 12), (14.5, 7.5)], 2.6), BLUE)
    c.shade(0, 0, 20, 20, segments([(4.5, 16), (15.5, 16)], 2.4), (36, 92, 196))
    c.png(os.path.join(OUT, "logo.png"))


def bar(name, top, bottom):
    c = Canvas(8, 30)
    c.shade(0, 0, 8, 30, lambda px, py: -1, gradient(top, bottom, 30))
    c.png(os.path.join(OUT, name))


def title_button(name, glyph, hot, pushed):
    # Normal, hot, pushed side by side, 31 by 30 each.
    c = Canvas(93, 30)
    for i, bg in enumerate([None, hot, pushed]):
        x = i * 31
        if bg:
            c.shade(x, 0, x + 31, 30, lambda px, py: -1, bg)
        c.shade(x, 0, x + 31, 30, glyph(x), (255, 255, 255))
    c.png(os.path.join(OUT, name))


def main():
    os.makedirs(OUT, exist_ok=True)
    check_sprite()
    button_sprite()
    toggle(os.path.join(OUT, "21000_014.png"), True)
    toggle(os.path.join(OUT, "21000_015.png"), False)
    logo()
    bar("progressLoading.png", (98, 160, 248), (37, 99, 214))
    bar("progressSucess.png", (96, 200, 120), (34, 150, 70))
    bar("progressFail.png", (242, 110, 104), (204, 46, 40))
    title_button("sysbtn_min.png", lambda x: segments([(x + 10.5, 15.5), (x + 20.5, 15.5)], 1.2),
                 (72, 130, 232), (30, 84, 186))

    def cross(x):
        a = segments([(x + 10.5, 10.5), (x + 20.5, 20.5)], 1.3)
        b = segments([(x + 20.5, 10.5), (x + 10.5, 20.5)], 1.3)
        return lambda px, py: min(a(px, py), b(px, py))

    title_button("sysbtn_close.png", cross, (232, 17, 35), (180, 14, 28))


if __name__ == "__main__":
    main()
