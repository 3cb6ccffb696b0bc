#!/usr/bin/env python3
"""Draw the Quorvane Launcher artwork.

Writes, relative to the repository root:
  resources/banner.bmp    530 x 225, 24 bits per pixel, uncompressed, BITMAPINFOHEADER.
                          Pure white RGB(255,255,255) is the launcher's transparent colour:
                          the surround is exactly that white and the art never contains it.
                          The top-right corner pixel is RGB(253,253,253).
  resources/launcher.ico  two 32 x 32 BMP-format images: 8 bpp (256-colour palette with an
                          AND mask) and 32 bpp (BGRA with alpha).

Only the Python standard library is used (no Pillow, no fonts): every shape, including the
lettering, is drawn here from polygons and rasterised with supersampling, so the output is
the same bytes on every run.

Usage:
  python3 tools/make_artwork.py [--preview DIR]

--preview DIR also writes PNG previews (banner, banner over a dark backdrop, enlarged icons)
into DIR, which should be outside the repository.
"""

import math
import os
import struct
import sys
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BANNER_PATH = os.path.join(ROOT, "resources", "banner.bmp")
ICON_PATH = os.path.join(ROOT, "resources", "launcher.ico")

BANNER_W, BANNER_H = 530, 225
WHITE = (255, 255, 255)
TOP_RIGHT = (253, 253, 253)
ART_MAX = 250  # no channel of the art itself goes above this, so the art is never pure white


# ---------------------------------------------------------------------------------------------
# Small deterministic helpers
# ---------------------------------------------------------------------------------------------

class Lcg:
    """A tiny linear congruential generator (fixed constants, so the output never changes)."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state / 4294967296.0

    def uniform(self, a, b):
        return a + (b - a) * self.next()


def clamp_art(c):
    return tuple(max(0, min(ART_MAX, int(round(v)))) for v in c)


def lerp(a, b, t):
    return a + (b - a) * t


def lerp_col(c0, c1, t):
    return tuple(lerp(a, b, t) for a, b in zip(c0, c1))


def ramp(stops, t):
    """Colour at t (0..1) along a list of (position, colour) stops."""
    if t <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return lerp_col(c0, c1, (t - p0) / (p1 - p0) if p1 > p0 else 1.0)
    return stops[-1][1]


def vgrad(y0, y1, stops):
    """A paint whose colour depends on the row only (y in banner pixels)."""
    def paint(y):
        t = (y - y0) / (y1 - y0)
        return ramp(stops, min(1.0, max(0.0, t)))
    return paint


# ---------------------------------------------------------------------------------------------
# Geometry
# ---------------------------------------------------------------------------------------------

def arc(cx, cy, rx, ry, a0, a1, n=24):
    """Points on an ellipse from angle a0 to a1 (degrees; 0 = right, 90 = down)."""
    pts = []
    for i in range(n + 1):
        a = math.radians(a0 + (a1 - a0) * i / n)
        pts.append((cx + rx * math.cos(a), cy + ry * math.sin(a)))
    return pts


def circle(cx, cy, r, n=64):
    return arc(cx, cy, r, r, 0, 360, n)[:-1]


def ellipse(cx, cy, rx, ry, n=64):
    return arc(cx, cy, rx, ry, 0, 360, n)[:-1]


def bezier(p0, p1, p2, p3, n=16):
    pts = []
    for i in range(n + 1):
        t = i / n
        u = 1 - t
        pts.append((u * u * u * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t * t * t * p3[0],
                    u * u * u * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t * t * t * p3[1]))
    return pts


def qbezier(p0, p1, p2, n=16):
    pts = []
    for i in range(n + 1):
        t = i / n
        u = 1 - t
        pts.append((u * u * p0[0] + 2 * u * t * p1[0] + t * t * p2[0],
                    u * u * p0[1] + 2 * u * t * p1[1] + t * t * p2[1]))
    return pts


def convex_hull(points):
    pts = sorted(set(points))
    if len(pts) <= 2:
        return pts

    def cross(o, a, b):
        return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0])

    lower = []
    for p in pts:
        while len(lower) >= 2 and cross(lower[-2], lower[-1], p) <= 0:
            lower.pop()
        lower.append(p)
    upper = []
    for p in reversed(pts):
        while len(upper) >= 2 and cross(upper[-2], upper[-1], p) <= 0:
            upper.pop()
        upper.append(p)
    return lower[:-1] + upper[:-1]


def translate(poly, dx, dy):
    return [(x + dx, y + dy) for x, y in poly]


def scale_about(poly, cx, cy, k):
    return [(cx + (x - cx) * k, cy + (y - cy) * k) for x, y in poly]


def star(cx, cy, r_out, r_in, points=4, rot=-90.0):
    pts = []
    for i in range(points * 2):
        r = r_out if i % 2 == 0 else r_in
        a = math.radians(rot + 180.0 * i / points)
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


def make_nib(length, angle_deg, thick, grow=0.0):
    """A broad pen nib (a thin rotated rectangle), optionally grown by `grow` in every direction."""
    a = math.radians(angle_deg)
    ux, uy = math.cos(a) * length / 2, -math.sin(a) * length / 2
    vx, vy = math.sin(a) * thick / 2, math.cos(a) * thick / 2
    corners = [(ux + vx, uy + vy), (ux - vx, uy - vy), (-ux - vx, -uy - vy), (-ux + vx, -uy + vy)]
    if grow <= 0:
        return corners
    ring = [(grow * math.cos(math.radians(22.5 + 45 * k)), grow * math.sin(math.radians(22.5 + 45 * k)))
            for k in range(8)]
    return convex_hull([(cx + gx, cy + gy) for cx, cy in corners for gx, gy in ring])


def stroke(path, nib):
    """The area a broad nib sweeps along a polyline, as a list of convex polygons."""
    polys = []
    if len(path) == 1:
        path = [path[0], path[0]]
    for (x0, y0), (x1, y1) in zip(path, path[1:]):
        pts = [(x0 + nx, y0 + ny) for nx, ny in nib] + [(x1 + nx, y1 + ny) for nx, ny in nib]
        polys.append(convex_hull([(round(x, 6), round(y, 6)) for x, y in pts]))
    return polys


def thick_line(p0, p1, w):
    dx, dy = p1[0] - p0[0], p1[1] - p0[1]
    d = math.hypot(dx, dy) or 1.0
    nx, ny = -dy / d * w / 2, dx / d * w / 2
    return [(p0[0] + nx, p0[1] + ny), (p1[0] + nx, p1[1] + ny), (p1[0] - nx, p1[1] - ny), (p0[0] - nx, p0[1] - ny)]


# ---------------------------------------------------------------------------------------------
# Lettering: capitals drawn with a broad pen. Coordinates are in cap heights: x from the
# letter's left, y from 0 (top of the capitals) to 1 (baseline).
# ---------------------------------------------------------------------------------------------

def _serif(x, y, half=0.11):
    return [(x - half, y), (x + half, y)]


def glyph(ch):
    if ch == "Q":
        return 0.98, [arc(0.48, 0.5, 0.38, 0.47, 0, 360, 56),
                      [(0.44, 0.78), (0.58, 0.93), (0.76, 1.06), (1.00, 1.14)]]
    if ch == "U":
        return 0.92, [[(0.12, 0.0), (0.12, 0.6)] + arc(0.45, 0.6, 0.33, 0.38, 180, 90, 12)[1:]
                      + arc(0.45, 0.6, 0.33, 0.38, 90, 0, 12)[1:] + [(0.78, 0.0)],
                      _serif(0.12, 0.0, 0.13), _serif(0.78, 0.0, 0.12)]
    if ch == "O":
        return 0.96, [arc(0.48, 0.5, 0.38, 0.47, 0, 360, 56)]
    if ch == "R":
        return 0.88, [[(0.14, 0.0), (0.14, 1.0)],
                      [(0.02, 0.0), (0.42, 0.0)] + arc(0.42, 0.26, 0.25, 0.26, -90, 90, 20)[1:] + [(0.14, 0.52)],
                      [(0.38, 0.52), (0.56, 0.74), (0.70, 0.92), (0.80, 1.0)],
                      _serif(0.14, 1.0, 0.13), [(0.74, 1.0), (0.92, 1.0)]]
    if ch == "V":
        return 0.90, [[(0.06, 0.0), (0.45, 1.0), (0.84, 0.0)],
                      _serif(0.06, 0.0, 0.12), _serif(0.84, 0.0, 0.11)]
    if ch == "A":
        return 0.90, [[(0.06, 1.0), (0.45, 0.0), (0.84, 1.0)], [(0.22, 0.64), (0.68, 0.64)],
                      _serif(0.06, 1.0, 0.11), _serif(0.84, 1.0, 0.12)]
    if ch == "N":
        return 0.94, [[(0.13, 1.0), (0.13, 0.0), (0.80, 1.0), (0.80, 0.0)],
                      _serif(0.13, 1.0, 0.12), _serif(0.80, 0.0, 0.12), [(0.02, 0.0), (0.13, 0.0)]]
    if ch == "E":
        return 0.80, [[(0.14, 0.0), (0.14, 1.0)], [(0.02, 0.0), (0.70, 0.0), (0.70, 0.12)],
                      [(0.14, 0.5), (0.56, 0.5)], [(0.56, 0.42), (0.56, 0.58)],
                      [(0.02, 1.0), (0.74, 1.0), (0.74, 0.86)]]
    if ch == "L":
        return 0.76, [[(0.14, 0.0), (0.14, 1.0)], _serif(0.14, 0.0, 0.13),
                      [(0.02, 1.0), (0.70, 1.0), (0.70, 0.86)]]
    if ch == "C":
        return 0.90, [[(0.84, 0.14)] + arc(0.50, 0.5, 0.38, 0.47, -42, -318, 48) + [(0.84, 0.86)]]
    if ch == "H":
        return 0.94, [[(0.14, 0.0), (0.14, 1.0)], [(0.80, 0.0), (0.80, 1.0)], [(0.14, 0.5), (0.80, 0.5)],
                      _serif(0.14, 0.0, 0.13), _serif(0.14, 1.0, 0.13),
                      _serif(0.80, 0.0, 0.13), _serif(0.80, 1.0, 0.13)]
    if ch == " ":
        return 0.5, []
    raise ValueError("no glyph for %r" % ch)


def text_width(text, tracking):
    advs = [glyph(c)[0] for c in text]
    return sum(advs) + tracking * (len(text) - 1)


def text_polys(text, cx, baseline, cap, tracking=0.06, nib_len=0.20, nib_angle=24.0, nib_thick=0.035,
               grow=0.0):
    """Polygons for `text` centred on cx, in pixels; `grow` widens every stroke by that many pixels."""
    nib = make_nib(nib_len * cap, nib_angle, nib_thick * cap, grow)
    x = cx - text_width(text, tracking) * cap / 2
    top = baseline - cap
    polys = []
    for c in text:
        adv, strokes = glyph(c)
        for path in strokes:
            polys += stroke([(x + u * cap, top + v * cap) for u, v in path], nib)
        x += (adv + tracking) * cap
    return polys


# ---------------------------------------------------------------------------------------------
# Rasteriser: painter's algorithm on a supersampled canvas, polygons filled by scanline
# ---------------------------------------------------------------------------------------------

class Canvas:
    def __init__(self, w, h, ss):
        self.w, self.h, self.ss = w, h, ss
        self.W, self.H = w * ss, h * ss
        n = self.W * self.H
        self.r = bytearray(b"\xff" * n)
        self.g = bytearray(b"\xff" * n)
        self.b = bytearray(b"\xff" * n)
        self.cov = bytearray(n)  # 1 where an opaque shape has been drawn
        self.clip = None
        self._tables = {}

    def spans(self, contours, evenodd=False):
        """Rows of the supersampled grid -> sorted, disjoint [a, b) sample ranges inside the shape."""
        s, W, H = self.ss, self.W, self.H
        rows = {}
        for c in contours:
            n = len(c)
            for i in range(n):
                x0, y0 = c[i]
                x1, y1 = c[(i + 1) % n]
                x0, y0, x1, y1 = x0 * s, y0 * s, x1 * s, y1 * s
                if y0 == y1:
                    continue
                d = 1
                if y0 > y1:
                    x0, y0, x1, y1, d = x1, y1, x0, y0, -1
                j0 = max(0, math.ceil(y0 - 0.5))
                j1 = min(H, math.ceil(y1 - 0.5))
                if j0 >= j1:
                    continue
                slope = (x1 - x0) / (y1 - y0)
                for j in range(j0, j1):
                    rows.setdefault(j, []).append((x0 + (j + 0.5 - y0) * slope, d))
        out = {}
        for j, xs in rows.items():
            xs.sort()
            wind = 0
            start = 0.0
            sp = []
            for x, d in xs:
                prev = wind
                wind = (wind + 1) % 2 if evenodd else wind + d
                if prev == 0 and wind != 0:
                    start = x
                elif prev != 0 and wind == 0:
                    a = max(0, math.ceil(start - 0.5))
                    b = min(W, math.ceil(x - 0.5))
                    if b > a:
                        if sp and sp[-1][1] >= a:
                            sp[-1] = (sp[-1][0], max(b, sp[-1][1]))
                        else:
                            sp.append((a, b))
            if sp:
                out[j] = sp
        return out

    @staticmethod
    def intersect(s1, s2):
        out = {}
        for j, a_list in s1.items():
            b_list = s2.get(j)
            if not b_list:
                continue
            res = []
            i = k = 0
            while i < len(a_list) and k < len(b_list):
                lo = max(a_list[i][0], b_list[k][0])
                hi = min(a_list[i][1], b_list[k][1])
                if hi > lo:
                    res.append((lo, hi))
                if a_list[i][1] < b_list[k][1]:
                    i += 1
                else:
                    k += 1
            if res:
                out[j] = res
        return out

    def _table(self, v, alpha):
        key = (v, alpha)
        t = self._tables.get(key)
        if t is None:
            t = bytes(int(math.floor(o + (v - o) * alpha + 0.5)) for o in range(256))
            self._tables[key] = t
        return t

    def fill(self, contours, paint, alpha=1.0, evenodd=False, cover=True, clip=True, per_pixel=False):
        """Fill polygons with a colour, a row paint f(y) or (per_pixel) f(x, y), in canvas pixels."""
        sp = self.spans(contours, evenodd)
        if clip and self.clip is not None:
            sp = self.intersect(sp, self.clip)
        s, W = self.ss, self.W
        R, G, B, C = self.r, self.g, self.b, self.cov
        alpha = round(alpha, 4)
        for j in sorted(sp):
            base = j * W
            yc = (j + 0.5) / s
            col = None
            if not callable(paint):
                col = clamp_art(paint)
            elif not per_pixel:
                col = clamp_art(paint(yc))
            for a, b in sp[j]:
                lo, hi = base + a, base + b
                if col is not None:
                    if alpha >= 1.0:
                        R[lo:hi] = bytes((col[0],)) * (b - a)
                        G[lo:hi] = bytes((col[1],)) * (b - a)
                        B[lo:hi] = bytes((col[2],)) * (b - a)
                    else:
                        R[lo:hi] = R[lo:hi].translate(self._table(col[0], alpha))
                        G[lo:hi] = G[lo:hi].translate(self._table(col[1], alpha))
                        B[lo:hi] = B[lo:hi].translate(self._table(col[2], alpha))
                else:
                    cols = [clamp_art(paint((i + 0.5) / s, yc)) for i in range(a, b)]
                    if alpha >= 1.0:
                        R[lo:hi] = bytes(c[0] for c in cols)
                        G[lo:hi] = bytes(c[1] for c in cols)
                        B[lo:hi] = bytes(c[2] for c in cols)
                    else:
                        R[lo:hi] = bytes(int(o + (c[0] - o) * alpha + 0.5) for o, c in zip(R[lo:hi], cols))
                        G[lo:hi] = bytes(int(o + (c[1] - o) * alpha + 0.5) for o, c in zip(G[lo:hi], cols))
                        B[lo:hi] = bytes(int(o + (c[2] - o) * alpha + 0.5) for o, c in zip(B[lo:hi], cols))
                if cover and alpha >= 1.0:
                    C[lo:hi] = b"\x01" * (b - a)

    def glow(self, cx, cy, r0, r1, colour, alpha_total, steps=16, squash=1.0):
        """A soft radial glow: concentric translucent discs from radius r1 down to r0."""
        a = 1.0 - (1.0 - alpha_total) ** (1.0 / steps)
        for i in range(steps):
            r = r1 - (r1 - r0) * i / (steps - 1)
            self.fill([ellipse(cx, cy, r, r * squash, 48)], colour, alpha=a, cover=False)

    def reduce(self):
        """Box-filter down to final pixels: returns (rgb rows, covered-sample-count rows)."""
        s, W, w = self.ss, self.W, self.w
        n = s * s
        rows_rgb, rows_cov = [], []
        for y in range(self.h):
            sums = []
            for plane in (self.r, self.g, self.b, self.cov):
                acc = [0] * W
                for k in range(s):
                    off = (y * s + k) * W
                    acc = list(map(int.__add__, acc, plane[off:off + W]))
                sums.append([sum(acc[x * s:(x + 1) * s]) for x in range(w)])
            rows_rgb.append([(sums[0][x] / n, sums[1][x] / n, sums[2][x] / n) for x in range(w)])
            rows_cov.append(sums[3])
        return rows_rgb, rows_cov


# ---------------------------------------------------------------------------------------------
# The emblem: a heater shield with a gold rim, a night-blue field, a sword and the ring of
# the "Q" with its tail, crowned by a four-pointed star.
# ---------------------------------------------------------------------------------------------

GOLD_LIGHT = (250, 236, 176)
GOLD = (226, 176, 72)
GOLD_DARK = (140, 88, 26)
INK = (30, 20, 12)
INK_BLUE = (14, 16, 40)


def shield_outline(cx, y0, w, h, n=20):
    hw = w / 2.0
    left = (cx - hw, y0)
    right = (cx + hw, y0)
    pts = qbezier(left, (cx, y0 + 0.10 * h), right, n)
    pts += bezier(right, (cx + hw, y0 + 0.62 * h), (cx + hw * 0.55, y0 + 0.86 * h), (cx, y0 + h), n)[1:]
    pts += bezier((cx, y0 + h), (cx - hw * 0.55, y0 + 0.86 * h), (cx - hw, y0 + 0.62 * h), left, n)[1:-1]
    return pts


def inset_shield(cx, y0, w, h, d):
    return shield_outline(cx, y0 + d, w - 2 * d, h - d * 2.35)


def metal_gold(y0, y1):
    return vgrad(y0, y1, [(0.0, GOLD_LIGHT), (0.42, GOLD), (0.5, GOLD_DARK), (0.62, (200, 146, 54)),
                          (1.0, (236, 196, 104))])


def draw_emblem(cv, cx, y0, w, h, small=False):
    """Draw the emblem into cv. `small` tunes line weights for a 32 x 32 icon."""
    k = 1.0 if small else h / 198.0
    line = 0.8 if small else 2.0 * k     # dark outer line
    rim = 1.7 if small else 6.0 * k      # gold rim
    inner = 0.7 if small else 2.0 * k    # dark line inside the rim

    outer = shield_outline(cx, y0, w, h)
    cv.fill([outer], INK)
    rim_poly = inset_shield(cx, y0, w, h, line)
    cv.fill([rim_poly], metal_gold(y0, y0 + h))
    # bevel: a lighter upper-left rim, darker lower-right
    if not small:
        cv.fill([rim_poly], lambda x, y: (250, 240, 200) if (x - cx) + (y - y0) * 0.45 < -w * 0.15 else
                (90, 56, 14), alpha=0.18, per_pixel=True, cover=False, clip=False)
    d_in = line + rim
    cv.fill([inset_shield(cx, y0, w, h, d_in)], INK)
    field = inset_shield(cx, y0, w, h, d_in + inner)
    field_top, field_bot = y0 + d_in + inner, y0 + h - (d_in + inner) * 2.35
    cv.fill([field], vgrad(field_top, field_bot, [(0.0, (52, 86, 170)), (0.55, (28, 44, 112)),
                                                  (1.0, (14, 20, 60))]))

    ring_cy = y0 + (0.47 if small else 0.50) * h
    ring_r = (0.245 if small else 0.28) * w
    saved_clip = cv.clip
    cv.clip = cv.spans([field])
    if not small:
        # light behind the ring, a pale diagonal stripe and a scatter of faint stars on the field
        cv.glow(cx, ring_cy, ring_r * 0.6, w * 0.62, (96, 140, 220), 0.55, steps=18)
        rng = Lcg(7)
        for _ in range(26):
            sx, sy = cx + rng.uniform(-0.45, 0.45) * w, y0 + rng.uniform(0.05, 0.9) * h
            if math.hypot(sx - cx, sy - ring_cy) < ring_r * 1.25 or abs(sx - cx) < 9 * k:
                continue
            cv.fill([circle(sx, sy, rng.uniform(0.35, 0.7) * k, 12)], (200, 214, 246),
                    alpha=rng.uniform(0.35, 0.8), cover=False)
        cv.fill([[(cx - w * 0.5, y0 + h * 0.25), (cx - w * 0.5, y0 + h * 0.02), (cx + w * 0.5, y0 + h * 0.72),
                  (cx + w * 0.5, y0 + h * 0.95)]], (170, 200, 250), alpha=0.06, cover=False)

    # sword, point down, behind the ring
    blade_w = (2.4 if small else 12.0 * k)
    gy = y0 + (0.10 if small else 0.235) * h   # the cross-guard
    blade_top = gy
    blade_tip = y0 + h * (0.86 if small else 0.85)
    blade = [(cx - blade_w / 2, blade_top), (cx + blade_w / 2, blade_top),
             (cx + blade_w / 2, blade_tip - blade_w * 1.6), (cx, blade_tip),
             (cx - blade_w / 2, blade_tip - blade_w * 1.6)]
    if small:
        cv.fill([blade], (150, 162, 190))
        cv.fill([[(cx - blade_w / 2, blade_top), (cx, blade_top), (cx, blade_tip),
                  (cx - blade_w / 2, blade_tip - blade_w * 1.6)]], (226, 232, 244))
    else:
        out = [(x + (1.6 * k if x > cx else -1.6 * k if x < cx else 0), y) for x, y in blade]
        out[3] = (cx, blade_tip + 2.2 * k)
        cv.fill([out], INK_BLUE)
        cv.fill([blade], (150, 162, 184))
        # bright left half of the blade, and the fuller down its middle
        cv.fill([[(cx - blade_w / 2, blade_top), (cx, blade_top), (cx, blade_tip),
                  (cx - blade_w / 2, blade_tip - blade_w * 1.6)]], (232, 238, 246))
        cv.fill([thick_line((cx, blade_top + 4 * k), (cx, blade_tip - blade_w * 2.4), 1.6 * k)], (120, 132, 156))
        # grip, pommel and cross-guard
        grip = [(cx - 3.5 * k, gy - 4 * k), (cx + 3.5 * k, gy - 4 * k), (cx + 3 * k, gy - 19 * k),
                (cx - 3 * k, gy - 19 * k)]
        cv.fill([[(cx - 5.2 * k, gy - 3 * k), (cx + 5.2 * k, gy - 3 * k), (cx + 4.8 * k, gy - 20 * k),
                  (cx - 4.8 * k, gy - 20 * k)]], INK)
        cv.fill([grip], (110, 56, 32))
        for i in range(4):
            yy = gy - 6.5 * k - i * 3.4 * k
            cv.fill([thick_line((cx - 3.2 * k, yy), (cx + 3.2 * k, yy - 1.6 * k), 1.0 * k)], (58, 28, 16))
        py = gy - 24 * k
        cv.fill([circle(cx, py, 6.8 * k, 32)], INK)
        cv.fill([circle(cx, py, 5.2 * k, 32)], metal_gold(py - 5 * k, py + 5 * k))
        cv.fill([circle(cx, py, 2.7 * k, 24)], (176, 26, 44))
        cv.fill([circle(cx - 0.8 * k, py - 0.9 * k, 1.0 * k, 12)], (246, 170, 170))
        guard = [(cx - 31 * k, gy - 5.5 * k), (cx - 24 * k, gy - 3 * k), (cx + 24 * k, gy - 3 * k),
                 (cx + 31 * k, gy - 5.5 * k), (cx + 24 * k, gy + 3.5 * k), (cx + 6 * k, gy + 4 * k),
                 (cx, gy + 8 * k), (cx - 6 * k, gy + 4 * k), (cx - 24 * k, gy + 3.5 * k)]
        cv.fill([[(cx + (x - cx) * 1.0 + (2.0 * k if x > cx else -2.0 * k if x < cx else 0),
                   y + (2.0 * k if y > gy else -2.0 * k)) for x, y in guard]], INK)
        cv.fill([guard], metal_gold(gy - 5 * k, gy + 6 * k))
        cv.fill([circle(cx, gy + 1.2 * k, 2.0 * k, 16)], (176, 26, 44))
        # a glint on the pommel
        cv.fill([star(cx - 3.5 * k, py - 3.5 * k, 7 * k, 1.1 * k)], (250, 248, 230), alpha=0.9, cover=False)
    if small:
        cv.clip = saved_clip

    # the ring of the Q, with its tail sweeping out to the lower right
    r_out, r_in = ring_r, ring_r * (0.60 if small else 0.74)
    ol = 0.8 if small else 2.2 * k
    tail = [(cx + r_out * 0.30, ring_cy + r_out * 0.62), (cx + r_out * 0.62, ring_cy + r_out * 0.32),
            (cx + r_out * 1.55, ring_cy + r_out * 1.35), (cx + r_out * 1.05, ring_cy + r_out * 1.10)]
    if small:
        tail = [(cx + r_out * 0.15, ring_cy + r_out * 0.50), (cx + r_out * 0.62, ring_cy + r_out * 0.10),
                (cx + r_out * 1.42, ring_cy + r_out * 1.12), (cx + r_out * 0.98, ring_cy + r_out * 1.30)]
    tail_out = scale_about(tail, cx + r_out * 0.9, ring_cy + r_out * 0.85, 1.0 + ol / (r_out * 0.45))
    cv.fill([circle(cx, ring_cy, r_out + ol, 72), list(reversed(circle(cx, ring_cy, r_in - ol, 72)))], INK)
    cv.fill([tail_out], INK)
    gold = metal_gold(ring_cy - r_out, ring_cy + r_out * 1.35)
    cv.fill([circle(cx, ring_cy, r_out, 72), list(reversed(circle(cx, ring_cy, r_in, 72)))], gold)
    cv.fill([tail], gold)
    if not small:
        # a thin engraved line round the middle of the ring
        rm = (r_out + r_in) / 2
        cv.fill([circle(cx, ring_cy, rm + 0.5 * k, 72), list(reversed(circle(cx, ring_cy, rm - 0.5 * k, 72)))],
                (150, 96, 30), alpha=0.7, cover=False)
        # highlight on the upper left of the ring
        cv.fill([arc(cx, ring_cy, r_out - 1.2 * k, r_out - 1.2 * k, 195, 265, 16)
                 + list(reversed(arc(cx, ring_cy, r_out - 3.2 * k, r_out - 3.2 * k, 195, 265, 16)))],
                (250, 246, 220), alpha=0.8, cover=False)
    cv.clip = saved_clip

    if not small:
        # a gem at the top of the rim and another at the point
        for gx, gy, r in ((cx, y0 + 0.05 * h - 0.4 * k, 6.2 * k), (cx, y0 + h - 9.5 * k, 4.6 * k)):
            cv.fill([[(gx, gy - r - 2 * k), (gx + r + 2 * k, gy), (gx, gy + r + 2 * k), (gx - r - 2 * k, gy)]],
                    INK)
            cv.fill([[(gx, gy - r), (gx + r, gy), (gx, gy + r), (gx - r, gy)]], (36, 130, 150))
            cv.fill([[(gx, gy - r), (gx, gy), (gx - r, gy)]], (120, 214, 220))
            cv.fill([[(gx, gy + r), (gx, gy), (gx + r, gy)]], (16, 70, 90))


# ---------------------------------------------------------------------------------------------
# The banner
# ---------------------------------------------------------------------------------------------

def ridge(x0, x1, base, amp, seed, rough=0.55, levels=7):
    """A mountain ridge line by midpoint displacement: list of (x, y) from x0 to x1."""
    rng = Lcg(seed)
    ys = [base + rng.uniform(-amp, amp), base + rng.uniform(-amp, amp)]
    a = amp
    for _ in range(levels):
        a *= rough
        nys = []
        for i in range(len(ys) - 1):
            nys.append(ys[i])
            nys.append((ys[i] + ys[i + 1]) / 2 + rng.uniform(-a, a))
        nys.append(ys[-1])
        ys = nys
    n = len(ys) - 1
    return [(x0 + (x1 - x0) * i / n, y) for i, y in enumerate(ys)]


def mountain_line(x0, x1, base, peaks, seed):
    """A ridge line: triangular peaks (x, height, slope) roughened by midpoint displacement."""
    rough = ridge(x0, x1, 0.0, 2.2, seed, 0.62, 8)
    pts = []
    for x, dy in rough:
        h = max([0.0] + [ph - abs(x - px) * sl for px, ph, sl in peaks])
        pts.append((x, base - h + dy * (0.4 + h / 30.0)))
    return pts


def plaque_outline(x0, y0, x1, y1, cut):
    return [(x0, y0), (x1 - cut, y0), (x1, y0 + cut), (x1, y1 - cut), (x1 - cut, y1), (x0, y1)]


def draw_banner():
    cv = Canvas(BANNER_W, BANNER_H, 4)

    # -- the plaque carrying the scene and the name --------------------------------------------
    px0, py0, px1, py1 = 120.0, 62.0, 514.0, 164.0
    cut = 16.0
    cv.fill([plaque_outline(px0, py0, px1, py1, cut)], INK)
    frame = plaque_outline(px0, py0 + 2, px1 - 2, py1 - 2, cut - 0.8)
    cv.fill([frame], metal_gold(py0, py1))
    cv.fill([plaque_outline(px0, py0 + 5.5, px1 - 5.5, py1 - 5.5, cut - 2.3)], INK)
    inner = plaque_outline(px0, py0 + 7, px1 - 7, py1 - 7, cut - 2.9)
    ix1, iy0, iy1 = px1 - 7, py0 + 7, py1 - 7
    cv.clip = cv.spans([inner])

    # sky
    cv.fill([inner], vgrad(iy0, iy1, [(0.0, (12, 14, 40)), (0.35, (34, 30, 84)), (0.62, (96, 52, 110)),
                                      (0.80, (200, 100, 92)), (0.92, (240, 160, 84)), (1.0, (248, 206, 124))]))
    # stars
    rng = Lcg(2024)
    for _ in range(70):
        sx, sy = rng.uniform(px0, ix1), rng.uniform(iy0 + 1, iy0 + 52)
        r = rng.uniform(0.3, 0.75)
        cv.fill([circle(sx, sy, r, 10)], (236, 236, 250), alpha=rng.uniform(0.45, 1.0), cover=False)
    for sx, sy in ((452.0, 78.0), (180.0, 76.0), (370.0, 72.0)):
        cv.fill([star(sx, sy, 3.2, 0.6)], (246, 244, 250), alpha=0.9, cover=False)

    # setting sun behind the castle
    cv.glow(440.0, 146.0, 10, 110, (250, 170, 100), 0.5, steps=22, squash=0.6)
    # a rising moon behind the castle
    mx, my = 482.0, 95.0
    cv.glow(mx, my, 8, 30, (200, 190, 230), 0.35, steps=14)
    cv.fill([circle(mx, my, 8.0, 48)], (240, 234, 214), cover=False)
    cv.fill([circle(mx - 2.5, my + 1.5, 2.0, 16), circle(mx + 2.8, my - 2.6, 1.3, 16),
             circle(mx + 1.5, my + 4.0, 1.1, 16)], (200, 192, 176), alpha=0.6, cover=False)

    # far mountains (hazy), then a darker middle range, each with a shaded side
    ranges = (
        (137.0, 31, [(146, 30, 0.75), (212, 22, 0.6), (262, 14, 0.7), (318, 20, 0.65), (374, 27, 0.7),
                     (420, 36, 0.8), (500, 24, 0.7)], (118, 80, 134), (172, 100, 118), (84, 56, 106)),
        (148.0, 17, [(176, 16, 0.7), (236, 11, 0.5), (300, 15, 0.6), (350, 9, 0.5), (392, 13, 0.6)],
         (66, 42, 90), (92, 52, 92), (46, 30, 70)),
    )
    for base, seed, peaks, c_top, c_bot, c_shade in ranges:
        line = mountain_line(px0, ix1 + 2, base, peaks, seed)
        poly = line + [(ix1 + 2, iy1 + 2), (px0, iy1 + 2)]
        top = min(y for _, y in line)
        cv.fill([poly], vgrad(top, base + 8, [(0.0, c_top), (1.0, c_bot)]))
        saved = cv.clip
        cv.clip = cv.intersect(cv.spans([poly]), saved)
        for px, ph, sl in peaks:
            cv.fill([[(px, base - ph - 1), (px + ph / sl * 1.05, base + 2), (px + ph / sl * 0.25, base + 2),
                      (px + 1.2, base - ph * 0.55)]], c_shade, alpha=0.55, cover=False)
            if ph >= 26:  # snow on the tallest peaks
                cv.fill([[(px - ph * 0.16 / sl, base - ph * 0.84), (px, base - ph - 1),
                          (px + ph * 0.18 / sl, base - ph * 0.82), (px + ph * 0.06 / sl, base - ph * 0.86),
                          (px - ph * 0.05 / sl, base - ph * 0.8)]], (226, 210, 232), alpha=0.75, cover=False)
        cv.clip = saved
    # a hill for the castle on the right and the foreground
    hill = [(px0, 152.0)] + qbezier((px0, 152.0), (300, 146.0), (404, 146.0), 16)[1:] \
        + qbezier((404, 146.0), (452, 126.0), (ix1 + 2, 132.0), 16)[1:] + [(ix1 + 2, iy1 + 2), (px0, iy1 + 2)]
    cv.fill([hill], (24, 18, 40))

    # the castle silhouette
    sil = (20, 14, 34)
    bx = 462.0  # centre of the keep
    base_y = 140.0
    parts = []
    parts.append([(bx - 42, base_y + 4), (bx - 42, 128), (bx + 44, 126), (bx + 44, base_y + 4)])  # curtain wall
    for i in range(12):  # battlements
        x = bx - 41 + i * 7.4
        parts.append([(x, 129 - (i * 0.17)), (x + 3.8, 129 - (i * 0.17)), (x + 3.8, 125 - (i * 0.17)),
                      (x, 125 - (i * 0.17))])
    parts.append([(bx - 11, base_y), (bx - 11, 110), (bx + 11, 110), (bx + 11, base_y)])  # keep
    for i in range(4):
        x = bx - 11 + i * 6.2
        parts.append([(x, 111), (x + 3.4, 111), (x + 3.4, 106.5), (x, 106.5)])
    parts.append([(bx - 2.5, 108), (bx - 2.5, 100), (bx + 2.5, 100), (bx + 2.5, 108)])
    parts.append([(bx - 4.5, 101), (bx, 84), (bx + 4.5, 101)])  # central spire
    for tx, top, wdt, roof in ((bx - 24, 104, 10, 18), (bx + 25, 108, 9, 15), (bx - 39, 118, 7, 10),
                               (bx + 41, 116, 7, 11)):
        parts.append([(tx - wdt / 2, base_y + 2), (tx - wdt / 2, top), (tx + wdt / 2, top), (tx + wdt / 2, base_y + 2)])
        parts.append([(tx - wdt / 2 - 1.6, top + 0.5), (tx, top - roof), (tx + wdt / 2 + 1.6, top + 0.5)])
    parts.append([(bx - 24, 86 - 0.3), (bx - 24, 80), (bx - 19, 81.6), (bx - 24, 83)])  # pennant
    parts.append(thick_line((bx - 24, 87), (bx - 24, 79.5), 0.8))
    cv.fill(parts, sil)
    # lit windows
    for wx, wy in ((bx - 5, 116), (bx + 3, 116), (bx - 1, 124), (bx - 24, 112), (bx + 25, 116),
                   (bx - 24, 121), (bx - 39, 124), (bx + 41, 123)):
        cv.fill([[(wx - 0.7, wy + 2.2), (wx - 0.7, wy), (wx, wy - 0.8), (wx + 0.7, wy), (wx + 0.7, wy + 2.2)]],
                (250, 206, 120))
    cv.fill([[(bx - 2.2, base_y + 2), (bx - 2.2, 134.5), (bx, 133), (bx + 2.2, 134.5), (bx + 2.2, base_y + 2)]],
            (238, 160, 80))

    # mist along the foot of the mountains
    cv.fill([[(px0, 146), (ix1, 143), (ix1, 150), (px0, 153)]], (220, 150, 150), alpha=0.10, cover=False)

    # -- the name --------------------------------------------------------------------------------
    title_cx, baseline, cap = 290.0, 110.0, 31.0
    tkw = dict(tracking=0.09, nib_len=0.21, nib_angle=26.0, nib_thick=0.04)
    # a dark halo to lift the letters off the sky
    for grow, a in ((7.0, 0.10), (5.0, 0.14), (3.5, 0.2)):
        cv.fill(text_polys("QUORVANE", title_cx, baseline, cap, grow=grow, **tkw), (10, 8, 24), alpha=a,
                cover=False)
    cv.fill([translate(p, 1.6, 2.4) for p in text_polys("QUORVANE", title_cx, baseline, cap, grow=2.2, **tkw)],
            (6, 4, 10), alpha=0.7, cover=False)
    cv.fill(text_polys("QUORVANE", title_cx, baseline, cap, grow=2.0, **tkw), (46, 24, 8))
    cv.fill(text_polys("QUORVANE", title_cx, baseline, cap, **tkw),
            vgrad(baseline - cap - 1.5, baseline + 1.5, [(0.0, (250, 242, 200)), (0.40, (240, 200, 100)),
                                                         (0.50, (196, 132, 40)), (0.53, (168, 104, 28)),
                                                         (1.0, (238, 192, 96))]))

    # subtitle with rules either side
    sub_cx, sub_base, sub_cap = title_cx, 143.0, 10.0
    skw = dict(tracking=0.55, nib_len=0.22, nib_angle=26.0, nib_thick=0.07)
    sw = text_width("LAUNCHER", 0.55) * sub_cap
    cv.fill(text_polys("LAUNCHER", sub_cx, sub_base, sub_cap, grow=3.0, **skw), (10, 8, 20), alpha=0.35,
            cover=False)
    cv.fill(text_polys("LAUNCHER", sub_cx, sub_base, sub_cap, grow=1.4, **skw), (16, 10, 20))
    cv.fill(text_polys("LAUNCHER", sub_cx, sub_base, sub_cap, **skw),
            vgrad(sub_base - sub_cap, sub_base, [(0.0, (250, 250, 246)), (0.5, (214, 218, 230)),
                                                 (1.0, (160, 170, 196))]))
    ry = sub_base - sub_cap / 2
    for side in (-1, 1):
        xa = sub_cx + side * (sw / 2 + 10)
        xb = sub_cx + side * (sw / 2 + 62)
        cv.fill([thick_line((xa, ry), (xb, ry), 3.2)], (16, 10, 20))
        cv.fill([thick_line((xa, ry), (xb, ry), 1.2)], (230, 186, 92))
        for dx, r in ((xa, 3.0), (xb, 2.2)):
            cv.fill([[(dx, ry - r - 1.2), (dx + r + 1.2, ry), (dx, ry + r + 1.2), (dx - r - 1.2, ry)]], (16, 10, 20))
            cv.fill([[(dx, ry - r), (dx + r, ry), (dx, ry + r), (dx - r, ry)]], (240, 204, 110))
    cv.clip = None

    # -- the emblem, overlapping the plaque's left end -----------------------------------------
    sh_cx, sh_y0, sh_w, sh_h = 96.0, 12.0, 134.0, 200.0
    # its shadow on the plaque
    cv.clip = cv.spans([inner])
    cv.fill([translate(shield_outline(sh_cx, sh_y0, sh_w, sh_h), 5, 3)], (0, 0, 0), alpha=0.45, cover=False)
    cv.clip = None
    draw_emblem(cv, sh_cx, sh_y0, sh_w, sh_h)
    return cv


def finish_banner(cv):
    """Final pixels (rows top to bottom of (r, g, b)) with the white surround made exact."""
    rgb, cov = cv.reduce()
    min_cov = 3  # pixels touched by less than 3 of 16 samples are left to the surround
    out = []
    for y in range(BANNER_H):
        row = []
        for x in range(BANNER_W):
            c = cov[y][x]
            if c < min_cov:
                row.append(WHITE)
                continue
            r, g, b = (int(math.floor(v + 0.5)) for v in rgb[y][x])
            if (r, g, b) == WHITE or min(r, g, b) > ART_MAX:
                r = g = b = ART_MAX
            row.append((r, g, b))
        out.append(row)
    out[0][BANNER_W - 1] = TOP_RIGHT
    return out


# ---------------------------------------------------------------------------------------------
# The icon
# ---------------------------------------------------------------------------------------------

def draw_icon():
    ss = 8
    cv = Canvas(32, 32, ss)
    draw_emblem(cv, 16.0, 0.6, 28.0, 31.0, small=True)
    rgb, cov = cv.reduce()
    n = ss * ss
    pixels = []  # rows top to bottom of (r, g, b, a)
    for y in range(32):
        row = []
        for x in range(32):
            c = cov[y][x]
            if c == 0:
                row.append((0, 0, 0, 0))
                continue
            # the average over covered samples only: uncovered samples are white
            col = tuple(int(max(0, min(255, math.floor((v * n - (n - c) * 255) / c + 0.5)))) for v in rgb[y][x])
            row.append(col + (int(math.floor(c * 255 / n + 0.5)),))
        pixels.append(row)
    return pixels


def median_cut(colours, count):
    """Deterministic median-cut palette of at most `count` colours from a list of (r, g, b)."""
    boxes = [sorted(colours)]
    while len(boxes) < count:
        best, best_range, best_ch = None, -1, 0
        for i, box in enumerate(boxes):
            if len(set(box)) < 2:
                continue
            for ch in range(3):
                vals = [c[ch] for c in box]
                rg = max(vals) - min(vals)
                if rg > best_range:
                    best, best_range, best_ch = i, rg, ch
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda c: (c[best_ch], c))
        mid = len(box) // 2
        while 0 < mid < len(box) and box[mid][best_ch] == box[mid - 1][best_ch]:
            mid += 1
        if mid >= len(box):
            mid = len(box) // 2
            while mid > 0 and box[mid][best_ch] == box[mid - 1][best_ch]:
                mid -= 1
        if mid == 0:
            mid = len(box) // 2
        boxes.insert(best, box[mid:])
        boxes.insert(best, box[:mid])
    pal = []
    for box in boxes:
        pal.append(tuple(int(math.floor(sum(c[i] for c in box) / len(box) + 0.5)) for i in range(3)))
    return pal


def icon_entries(pixels):
    """Encode the 8 bpp and 32 bpp BMP-format images: returns list of (bpp, bytes)."""
    size = 32
    mask_stride = 4  # 32 one-bit pixels, already a multiple of 4 bytes
    and_rows = []
    for y in range(size - 1, -1, -1):
        bits = 0
        for x in range(size):
            if pixels[y][x][3] < 128:
                bits |= 1 << (size - 1 - x)
        and_rows.append(struct.pack(">I", bits))
    and_mask = b"".join(and_rows)
    assert len(and_mask) == mask_stride * size

    def header(bpp, image_bytes, colours_used):
        return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, image_bytes, 0, 0, colours_used, 0)

    # 8 bpp: palette index 0 is black for the transparent pixels
    opaque = [p[:3] for row in pixels for p in row if p[3] >= 128]
    uniq = sorted(set(opaque))
    pal = uniq if len(uniq) <= 255 else median_cut(opaque, 255)
    pal = [(0, 0, 0)] + pal
    pal += [(0, 0, 0)] * (256 - len(pal))
    cache = {}

    def nearest(c):
        i = cache.get(c)
        if i is None:
            i = min(range(1, 256), key=lambda k: ((pal[k][0] - c[0]) * 3) ** 2 + ((pal[k][1] - c[1]) * 4) ** 2
                    + ((pal[k][2] - c[2]) * 2) ** 2)
            cache[c] = i
        return i

    xor8 = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            p = pixels[y][x]
            xor8.append(nearest(p[:3]) if p[3] >= 128 else 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in pal)
    img8 = header(8, len(xor8) + len(and_mask), 256) + palette + bytes(xor8) + and_mask

    xor32 = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b, a = pixels[y][x]
            xor32 += bytes((b, g, r, a)) if a else b"\0\0\0\0"
    img32 = header(32, len(xor32) + len(and_mask), 0) + bytes(xor32) + and_mask
    return [(8, img8), (32, img32)]


def ico_bytes(entries):
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    body = b""
    for bpp, data in entries:
        out += struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, bpp, len(data), offset)
        offset += len(data)
        body += data
    return out + body


# ---------------------------------------------------------------------------------------------
# File formats
# ---------------------------------------------------------------------------------------------

def bmp24_bytes(rows):
    h, w = len(rows), len(rows[0])
    stride = (w * 3 + 3) & ~3
    pad = b"\0" * (stride - w * 3)
    data = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b in row:
            data += bytes((b, g, r))
        data += pad
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return head + info + bytes(data)


def png_bytes(rows, alpha=False):
    h, w = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for p in row:
            raw += bytes(p[:4] if alpha else p[:3])

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", w, h, 8, 6 if alpha else 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) \
        + chunk(b"IEND", b"")


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------------------------------------
# Reading the files back, to check them
# ---------------------------------------------------------------------------------------------

def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    magic, fsize, _, _, off = struct.unpack_from("<2sIHHI", data, 0)
    hsize, w, h, planes, bpp, comp, isize, _, _, used, _ = struct.unpack_from("<IiiHHIIiiII", data, 14)
    assert magic == b"BM" and fsize == len(data) and hsize == 40 and planes == 1
    stride = (w * bpp // 8 + 3) & ~3
    rows = []
    for y in range(abs(h)):
        src = (abs(h) - 1 - y) if h > 0 else y
        base = off + src * stride
        rows.append([(data[base + 3 * x + 2], data[base + 3 * x + 1], data[base + 3 * x]) for x in range(w)])
    return dict(size=len(data), width=w, height=h, bpp=bpp, compression=comp, colours_used=used,
                offset=off, rows=rows)


def read_ico(path):
    with open(path, "rb") as f:
        data = f.read()
    reserved, typ, count = struct.unpack_from("<HHH", data, 0)
    assert reserved == 0 and typ == 1
    entries = []
    for i in range(count):
        w, h, ncol, _, planes, bpp, nbytes, off = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        hsize, bw, bh, bplanes, bbpp, comp = struct.unpack_from("<IiiHHI", data, off)
        assert data[off:off + 8] != b"\x89PNG\r\n\x1a\n" and hsize == 40
        entries.append(dict(width=w or 256, height=h or 256, colour_count=ncol, planes=planes, bpp=bpp,
                            bytes=nbytes, offset=off, bmp_width=bw, bmp_height=bh, bmp_bpp=bbpp,
                            compression=comp))
    return len(data), entries


def verify():
    bmp = read_bmp(BANNER_PATH)
    rows = bmp["rows"]
    w, h = bmp["width"], abs(bmp["height"])
    assert (w, h, bmp["bpp"], bmp["compression"], bmp["colours_used"]) == (BANNER_W, BANNER_H, 24, 0, 0)
    assert bmp["offset"] == 54  # no colour table
    corners = {"top-left": rows[0][0], "top-right": rows[0][w - 1],
               "bottom-left": rows[h - 1][0], "bottom-right": rows[h - 1][w - 1]}
    assert corners["top-left"] == corners["bottom-left"] == corners["bottom-right"] == WHITE
    assert corners["top-right"] == TOP_RIGHT
    white = sum(1 for row in rows for p in row if p == WHITE)
    # every pure white pixel must belong to the surround: reachable from the edge through white
    seen = set()
    todo = [(x, y) for x in range(w) for y in (0, h - 1)] + [(x, y) for y in range(h) for x in (0, w - 1)]
    while todo:
        x, y = todo.pop()
        if (x, y) in seen or not (0 <= x < w and 0 <= y < h) or rows[y][x] != WHITE:
            continue
        seen.add((x, y))
        todo += [(x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)]
    enclosed = white - len(seen)
    assert enclosed == 0, "%d pure white pixels inside the art" % enclosed
    print("%s: %d bytes, %d x %d, %d bpp, compression %d" % (os.path.relpath(BANNER_PATH, ROOT), bmp["size"], w, h,
                                                            bmp["bpp"], bmp["compression"]))
    for name, c in corners.items():
        print("  corner %-12s RGB%s" % (name, c))
    print("  pure white pixels: %d of %d (%.1f%%), none of them enclosed by the art"
          % (white, w * h, 100.0 * white / (w * h)))

    size, entries = read_ico(ICON_PATH)
    assert [(e["width"], e["height"], e["bpp"]) for e in entries] == [(32, 32, 8), (32, 32, 32)]
    print("%s: %d bytes, %d images" % (os.path.relpath(ICON_PATH, ROOT), size, len(entries)))
    for e in entries:
        print("  %dx%d %2d bpp, %d bytes at offset %d (BMP format, header %d x %d, compression %d)"
              % (e["width"], e["height"], e["bpp"], e["bytes"], e["offset"], e["bmp_width"], e["bmp_height"],
                 e["compression"]))


# ---------------------------------------------------------------------------------------------

def main(argv):
    preview = None
    if len(argv) >= 2 and argv[0] == "--preview":
        preview = argv[1]
    elif argv:
        print(__doc__)
        return 2

    banner = finish_banner(draw_banner())
    write_file(BANNER_PATH, bmp24_bytes(banner))

    icon = draw_icon()
    write_file(ICON_PATH, ico_bytes(icon_entries(icon)))

    verify()

    if preview:
        os.makedirs(preview, exist_ok=True)
        write_file(os.path.join(preview, "banner.png"), png_bytes(banner))
        backdrop = (58, 64, 78)
        over = [[backdrop if p == WHITE else p for p in row] for row in banner]
        write_file(os.path.join(preview, "banner_on_dark.png"), png_bytes(over))
        big = []
        for y in range(32 * 8):
            row = []
            for x in range(32 * 8 * 2 + 8):
                if x < 256:
                    p = icon[y // 8][x // 8]
                    bg = (200, 200, 200) if ((x // 16 + y // 16) % 2) else (160, 160, 160)
                    a = p[3] / 255.0
                    row.append(tuple(int(bg[i] + (p[i] - bg[i]) * a) for i in range(3)))
                elif x < 264:
                    row.append((255, 255, 255))
                else:
                    row.append((255, 255, 255))
            big.append(row)
        # actual size on light and dark backgrounds, at the right
        for oy, bg in ((16, (240, 240, 240)), (64, (40, 44, 56))):
            for y in range(32):
                for x in range(32):
                    p = icon[y][x]
                    a = p[3] / 255.0
                    big[oy + y][300 + x] = tuple(int(bg[i] + (p[i] - bg[i]) * a) for i in range(3))
        write_file(os.path.join(preview, "icon.png"), png_bytes(big))
        print("previews written to %s" % preview)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
