#!/usr/bin/env python3
"""Draws the installer skin's images into OUT_DIR/res/...: window backgrounds, buttons,
check boxes, progress bars, icons and the two animations of the main window; and
the program's icon (icon_file).

    draw_images.py OUT_DIR

Everything is drawn here from shapes (signed distances give the anti-aliased edges)
and written as 8-bit RGBA PNG with zlib, so the build needs nothing but Python.
The output is the same on every run."""
import math
import os
import struct
import sys
import zlib

# ---- colours (R, G, B, A) ----------------------------------------------------------

BLUE = (26, 111, 214, 255)
BLUE_LIGHT = (64, 146, 240, 255)
BLUE_DARK = (11, 59, 118, 255)
NAVY = (8, 38, 84, 255)
WHITE = (255, 255, 255, 255)
PAPER = (246, 249, 253, 255)
LINE = (214, 223, 235, 255)
GREY = (160, 170, 184, 255)
GREY_LIGHT = (226, 231, 238, 255)
GREEN = (39, 174, 96, 255)
GREEN_LIGHT = (88, 214, 141, 255)
ORANGE = (245, 156, 26, 255)
ORANGE_LIGHT = (255, 190, 80, 255)
RED = (232, 17, 35, 255)


def with_alpha(c, a):
    return (c[0], c[1], c[2], int(round(a)))


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(4))


# ---- canvas ------------------------------------------------------------------------

class Canvas:
    """Straight-alpha RGBA pixels; shapes are composited with source-over."""

    def __init__(self, w, h, fill=(0, 0, 0, 0)):
        self.w = w
        self.h = h
        self.px = bytearray(bytes(fill) * (w * h))

    def blend(self, x, y, c, cover):
        a = c[3] * cover / 255.0
        if a <= 0.0:
            return
        i = (y * self.w + x) * 4
        p = self.px
        da = p[i + 3] / 255.0
        oa = a + da * (1.0 - a)
        if oa <= 0.0:
            return
        for k in range(3):
            p[i + k] = int(round((c[k] * a + p[i + k] * da * (1.0 - a)) / oa))
        p[i + 3] = int(round(oa * 255.0))

    def shape(self, sdf, box, paint):
        """Fills where sdf(x, y) < 0; paint(x, y) gives the colour of a pixel."""
        x0, y0, x1, y1 = (max(0, int(math.floor(box[0])) - 1), max(0, int(math.floor(box[1])) - 1),
                          min(self.w, int(math.ceil(box[2])) + 1), min(self.h, int(math.ceil(box[3])) + 1))
        for y in range(y0, y1):
            cy = y + 0.5
            for x in range(x0, x1):
                d = sdf(x + 0.5, cy)
                if d >= 0.5:
                    continue
                cover = 1.0 if d <= -0.5 else 0.5 - d
                self.blend(x, y, paint(x, y), cover)

    def fill_rect(self, x0, y0, x1, y1, paint):
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.blend(x, y, paint(x, y), 1.0)

    def paste(self, other, ox, oy):
        for y in range(other.h):
            for x in range(other.w):
                i = (y * other.w + x) * 4
                c = tuple(other.px[i:i + 4])
                if c[3] and 0 <= x + ox < self.w and 0 <= y + oy < self.h:
                    self.blend(x + ox, y + oy, c, 1.0)

    def png(self):
        raw = bytearray()
        stride = self.w * 4
        for y in range(self.h):
            raw.append(0)
            raw += self.px[y * stride:(y + 1) * stride]

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def solid(c):
    return lambda x, y: c


def vgradient(top, bottom, y0, y1):
    span = max(1.0, float(y1 - y0))
    return lambda x, y: mix(top, bottom, min(1.0, max(0.0, (y - y0) / span)))


def dgradient(a, b, w, h):
    """Diagonal, from the top-left corner to the bottom-right one."""
    span = float(w + h)
    return lambda x, y: mix(a, b, min(1.0, max(0.0, (x + y) / span)))


# ---- signed distances ----------------------------------------------------------------

def sd_round_rect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r

    def f(x, y):
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        out = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return out + min(max(qx, qy), 0.0) - r
    return f


def sd_circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def sd_ring(cx, cy, r, width):
    return lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - width / 2.0


def sd_capsule(ax, ay, bx, by, r):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy or 1e-9

    def f(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) - r
    return f


def sd_arc(cx, cy, r, width, start, sweep):
    """A ring segment from angle `start` (radians, clockwise from 12 o'clock) over
    `sweep`, with round ends."""
    ends = []
    for ang in (start, start + sweep):
        ends.append((cx + r * math.sin(ang), cy - r * math.cos(ang)))

    def f(x, y):
        ang = math.atan2(x - cx, -(y - cy)) % (2 * math.pi)
        rel = (ang - start) % (2 * math.pi)
        if rel <= sweep:
            return abs(math.hypot(x - cx, y - cy) - r) - width / 2.0
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - width / 2.0
    return f


def sd_union(*fs):
    return lambda x, y: min(f(x, y) for f in fs)


def sd_subtract(f, g):
    return lambda x, y: max(f(x, y), -g(x, y))


def sd_polygon(points):
    """Convex or not: distance to the nearest edge, negative inside (even-odd)."""
    n = len(points)

    def f(x, y):
        best = float("inf")
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / ((dx * dx + dy * dy) or 1e-9)))
            best = min(best, math.hypot(x - ax - t * dx, y - ay - t * dy))
            if (ay > y) != (by > y) and x < ax + (y - ay) * dx / (by - ay):
                inside = not inside
        return -best if inside else best
    return f


def bbox(points, pad=0.0):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return (min(xs) - pad, min(ys) - pad, max(xs) + pad, max(ys) + pad)


# ---- pictures ------------------------------------------------------------------------

def draw_disk_mark(c, cx, cy, s, body=WHITE, accent=BLUE):
    """The product's mark: a round disk platter with a curved recovery arrow."""
    c.shape(sd_circle(cx, cy, s), (cx - s, cy - s, cx + s, cy + s), solid(body))
    c.shape(sd_arc(cx, cy, s * 0.58, s * 0.16, math.radians(40), math.radians(250)),
            (cx - s, cy - s, cx + s, cy + s), solid(accent))
    # arrow head at the end of the arc
    end = math.radians(40 + 250)
    ex, ey = cx + s * 0.58 * math.sin(end), cy - s * 0.58 * math.cos(end)
    tx, ty = math.cos(end), math.sin(end)   # tangent, clockwise
    nx, ny = math.sin(end), -math.cos(end)  # outward normal
    head = [(ex + tx * s * 0.30, ey + ty * s * 0.30),
            (ex + nx * s * 0.24 - tx * s * 0.05, ey + ny * s * 0.24 - ty * s * 0.05),
            (ex - nx * s * 0.24 - tx * s * 0.05, ey - ny * s * 0.24 - ty * s * 0.05)]
    c.shape(sd_polygon(head), bbox(head, 1), solid(accent))
    c.shape(sd_circle(cx, cy, s * 0.17), (cx - s, cy - s, cx + s, cy + s), solid(accent))


def soft_circles(c, circles):
    for cx, cy, r, col in circles:
        c.shape(sd_circle(cx, cy, r), (cx - r, cy - r, cx + r, cy + r), solid(col))


def background(w, h, body, title_h=40, title=(BLUE_DARK, BLUE), circles=(), radius=4):
    c = Canvas(w, h)
    frame = sd_round_rect(0, 0, w, h, radius)
    c.shape(frame, (0, 0, w, h), body)
    if title_h:
        band = sd_round_rect(0, 0, w, title_h + radius * 2, radius)
        clip = lambda x, y: max(band(x, y), y - title_h)
        c.shape(clip, (0, 0, w, title_h), lambda x, y: mix(title[0], title[1], x / float(w)))
    soft_circles(c, circles)
    # one-pixel border that the window's round corner follows
    c.shape(sd_subtract(frame, sd_round_rect(1, 1, w - 1, h - 1, max(0, radius - 1))), (0, 0, w, h),
            solid(with_alpha(BLUE_DARK, 90)))
    return c


def main_backgrounds():
    w, h = 600, 400
    light = vgradient(PAPER, WHITE, 40, h)
    deco = [(560, 380, 120, with_alpha(BLUE_LIGHT, 18)), (40, 360, 70, with_alpha(BLUE_LIGHT, 14)),
            (520, 90, 36, with_alpha(BLUE_LIGHT, 16))]
    bg1 = background(w, h, light, circles=deco)
    bg2 = background(w, h, light, circles=deco[:1])
    deep = vgradient(BLUE_DARK, NAVY, 0, h)
    bg3 = background(w, h, deep, title=(BLUE_DARK, BLUE_DARK),
                     circles=[(90, 330, 150, with_alpha(BLUE_LIGHT, 22)), (540, 60, 110, with_alpha(BLUE_LIGHT, 18))])
    bg4 = background(w, h, light, title=(GREEN, BLUE),
                     circles=[(560, 380, 120, with_alpha(GREEN_LIGHT, 20)), (40, 360, 70, with_alpha(GREEN_LIGHT, 16))])
    return {"bg1.png": bg1, "bg2.png": bg2, "bg3.png": bg3, "bg4.png": bg4}


def hero():
    """The choose page's picture: a drive with files flying back into it."""
    w, h = 220, 150
    c = Canvas(w, h)
    # drive body
    c.shape(sd_round_rect(40, 78, 180, 128, 10), (40, 78, 180, 128), vgradient(BLUE_LIGHT, BLUE, 78, 128))
    c.shape(sd_round_rect(48, 108, 172, 120, 4), (48, 108, 172, 120), solid(with_alpha(NAVY, 70)))
    c.shape(sd_circle(160, 93, 5), (150, 83, 170, 103), solid(GREEN_LIGHT))
    # files
    for i, (x, y, ang) in enumerate([(62, 18, -14), (100, 6, 0), (138, 20, 14)]):
        f = Canvas(34, 44)
        f.shape(sd_round_rect(1, 1, 33, 43, 4), (0, 0, 34, 44), solid(WHITE))
        f.shape(sd_subtract(sd_round_rect(1, 1, 33, 43, 4), sd_round_rect(3, 3, 31, 41, 3)), (0, 0, 34, 44),
                solid(with_alpha(BLUE, 160)))
        for k in range(3):
            f.shape(sd_capsule(8, 12 + k * 8, 26 - (k == 2) * 8, 12 + k * 8, 1.5), (0, 0, 34, 44),
                    solid(with_alpha([BLUE, GREEN, ORANGE][i], 200)))
        c.paste(rotate(f, ang), x - 4, y)
    # arrows down into the drive
    for x in (79, 117, 155):
        c.shape(sd_capsule(x, 64, x, 72, 2.2), (x - 4, 60, x + 4, 76), solid(with_alpha(GREEN, 230)))
        tri = [(x - 6, 70), (x + 6, 70), (x, 77)]
        c.shape(sd_polygon(tri), bbox(tri, 1), solid(with_alpha(GREEN, 230)))
    return c


def rotate(src, degrees):
    """Nearest-sample rotation into a canvas big enough for the result."""
    a = math.radians(degrees)
    ca, sa = math.cos(a), math.sin(a)
    w = int(abs(src.w * ca) + abs(src.h * sa)) + 2
    h = int(abs(src.w * sa) + abs(src.h * ca)) + 2
    out = Canvas(w, h)
    for y in range(h):
        for x in range(w):
            dx, dy = x + 0.5 - w / 2.0, y + 0.5 - h / 2.0
            sx = int(math.floor(ca * dx + sa * dy + src.w / 2.0))
            sy = int(math.floor(-sa * dx + ca * dy + src.h / 2.0))
            if 0 <= sx < src.w and 0 <= sy < src.h:
                i = (sy * src.w + sx) * 4
                j = (y * w + x) * 4
                out.px[j:j + 4] = src.px[i:i + 4]
    return out


def button(w, h, radius, top, bottom, border=None):
    c = Canvas(w, h)
    c.shape(sd_round_rect(0, 0, w, h, radius), (0, 0, w, h), vgradient(top, bottom, 0, h))
    if border:
        c.shape(sd_subtract(sd_round_rect(0, 0, w, h, radius), sd_round_rect(1, 1, w - 1, h - 1, radius - 1)),
                (0, 0, w, h), solid(border))
    return c


def button_set(prefix, w, h, radius, looks):
    return {"%s_%s.png" % (prefix, state): button(w, h, radius, *look) for state, look in looks.items()}


def system_button(glyph, back):
    c = Canvas(30, 30)
    if back:
        c.shape(sd_round_rect(0, 0, 30, 30, 3), (0, 0, 30, 30), solid(back))
    if glyph == "close":
        c.shape(sd_union(sd_capsule(10, 10, 20, 20, 1.1), sd_capsule(20, 10, 10, 20, 1.1)), (8, 8, 22, 22),
                solid(WHITE))
    else:
        c.shape(sd_capsule(10, 15.5, 20, 15.5, 1.1), (8, 13, 22, 18), solid(WHITE))
    return c


def check_box(checked, hot, disabled=False):
    c = Canvas(16, 16)
    edge = GREY if disabled else (BLUE if hot or checked else GREY)
    fill = GREY_LIGHT if disabled else (BLUE if checked else WHITE)
    c.shape(sd_round_rect(0.5, 0.5, 15.5, 15.5, 3), (0, 0, 16, 16), solid(edge))
    c.shape(sd_round_rect(1.5, 1.5, 14.5, 14.5, 2), (0, 0, 16, 16), solid(fill if checked else WHITE))
    if checked:
        c.shape(sd_union(sd_capsule(4.2, 8.2, 6.8, 10.8, 1.0), sd_capsule(6.8, 10.8, 11.8, 5.2, 1.0)),
                (2, 3, 14, 13), solid(WHITE))
    return c


def combo(hot):
    c = Canvas(100, 24)
    c.shape(sd_round_rect(0, 0, 100, 24, 3), (0, 0, 100, 24), solid(BLUE_LIGHT if hot else LINE))
    c.shape(sd_round_rect(1, 1, 99, 23, 2), (0, 0, 100, 24), solid(WHITE))
    tri = [(84, 10), (92, 10), (88, 15)]
    c.shape(sd_polygon(tri), bbox(tri, 1), solid(BLUE if hot else GREY))
    return c


def edit_box(state):
    c = Canvas(40, 30)
    edge = {"normal": LINE, "hot": BLUE_LIGHT, "focused": BLUE, "disabled": GREY_LIGHT}[state]
    c.shape(sd_round_rect(0, 0, 40, 30, 3), (0, 0, 40, 30), solid(edge))
    c.shape(sd_round_rect(1, 1, 39, 29, 2), (0, 0, 40, 30), solid(PAPER if state == "disabled" else WHITE))
    return c


def progress_bar(col_a, col_b):
    c = Canvas(440, 10)
    c.shape(sd_round_rect(0, 0, 440, 10, 5), (0, 0, 440, 10), lambda x, y: mix(col_a, col_b, x / 440.0))
    return c


def progress_track():
    c = Canvas(440, 10)
    c.shape(sd_round_rect(0, 0, 440, 10, 5), (0, 0, 440, 10), solid(with_alpha(WHITE, 40)))
    return c


def tip_bubble():
    """A speech bubble whose tail points down to the agreement box (nine-grid 8,8,8,14)."""
    c = Canvas(60, 38)
    body = sd_round_rect(0.5, 0.5, 59.5, 30, 5)
    tail = sd_polygon([(12, 28), (22, 28), (14, 37)])
    c.shape(sd_union(body, tail), (0, 0, 60, 38), solid(with_alpha(ORANGE, 235)))
    return c


def installing_frames(n=24, size=120):
    frames = []
    for i in range(n):
        c = Canvas(size, size)
        cx = cy = size / 2.0
        c.shape(sd_ring(cx, cy, 48, 6), (0, 0, size, size), solid(with_alpha(WHITE, 36)))
        start = 2 * math.pi * i / n
        c.shape(sd_arc(cx, cy, 48, 6, start, math.radians(100)), (0, 0, size, size), solid(BLUE_LIGHT))
        c.shape(sd_arc(cx, cy, 48, 6, (start + math.radians(100)) % (2 * math.pi), math.radians(30)),
                (0, 0, size, size), solid(with_alpha(BLUE_LIGHT, 120)))
        pulse = 1.0 + 0.04 * math.sin(2 * math.pi * i / n)
        draw_disk_mark(c, cx, cy, 30 * pulse, body=WHITE, accent=BLUE)
        frames.append(c)
    return frames


def finished_frames(n=16, size=120):
    frames = []
    cx = cy = size / 2.0
    a = (cx - 20, cy + 1)
    b = (cx - 6, cy + 15)
    e = (cx + 22, cy - 14)
    first = math.hypot(b[0] - a[0], b[1] - a[1])
    second = math.hypot(e[0] - b[0], e[1] - b[1])
    for i in range(n):
        t = (i + 1) / float(n)
        c = Canvas(size, size)
        r = 44 * min(1.0, 0.6 + t)
        c.shape(sd_circle(cx, cy, r), (0, 0, size, size), solid(GREEN))
        c.shape(sd_ring(cx, cy, r + 6, 2), (0, 0, size, size), solid(with_alpha(GREEN_LIGHT, int(150 * t))))
        drawn = (first + second) * min(1.0, t * 1.25)
        parts = []
        if drawn > 0:
            k = min(1.0, drawn / first)
            parts.append(sd_capsule(a[0], a[1], a[0] + (b[0] - a[0]) * k, a[1] + (b[1] - a[1]) * k, 4.5))
        if drawn > first:
            k = min(1.0, (drawn - first) / second)
            parts.append(sd_capsule(b[0], b[1], b[0] + (e[0] - b[0]) * k, b[1] + (e[1] - b[1]) * k, 4.5))
        if parts:
            c.shape(sd_union(*parts), (0, 0, size, size), solid(WHITE))
        frames.append(c)
    return frames


def round_icon(colour, glyph):
    c = Canvas(36, 36)
    c.shape(sd_circle(18, 18, 17), (0, 0, 36, 36), solid(colour))
    if glyph == "i":
        c.shape(sd_circle(18, 10.5, 2.6), (0, 0, 36, 36), solid(WHITE))
        c.shape(sd_capsule(18, 16, 18, 26, 2.3), (0, 0, 36, 36), solid(WHITE))
    elif glyph == "!":
        c.shape(sd_capsule(18, 9, 18, 20, 2.4), (0, 0, 36, 36), solid(WHITE))
        c.shape(sd_circle(18, 26.5, 2.6), (0, 0, 36, 36), solid(WHITE))
    elif glyph == "?":
        c.shape(sd_arc(18, 13.5, 5.2, 4.2, math.radians(-80), math.radians(230)), (0, 0, 36, 36), solid(WHITE))
        c.shape(sd_capsule(18, 18.7, 18, 21, 2.1), (0, 0, 36, 36), solid(WHITE))
        c.shape(sd_circle(18, 27, 2.5), (0, 0, 36, 36), solid(WHITE))
    return c


def logo(size):
    c = Canvas(size, size)
    s = size / 2.0
    c.shape(sd_round_rect(0, 0, size, size, size * 0.22), (0, 0, size, size), dgradient(BLUE_LIGHT, BLUE, size, size))
    draw_disk_mark(c, s, s, s * 0.72, body=WHITE, accent=BLUE)
    return c


def all_images():
    images = {}
    common = {}
    common["close_normal.png"] = system_button("close", None)
    common["close_hot.png"] = system_button("close", RED)
    common["close_pushed.png"] = system_button("close", mix(RED, (0, 0, 0, 255), 0.2))
    common["min_normal.png"] = system_button("min", None)
    common["min_hot.png"] = system_button("min", with_alpha(WHITE, 50))
    common["min_pushed.png"] = system_button("min", with_alpha(WHITE, 80))
    common["cb_normal.png"] = check_box(False, False)
    common["cb_hot.png"] = check_box(False, True)
    common["cb_checked.png"] = check_box(True, False)
    common["cb_checked_hot.png"] = check_box(True, True)
    common["cb_disabled.png"] = check_box(False, False, disabled=True)
    common.update(button_set("btn_blue", 100, 32, 4, {
        "normal": (BLUE_LIGHT, BLUE), "hot": (mix(BLUE_LIGHT, WHITE, 0.15), BLUE_LIGHT),
        "pushed": (BLUE, BLUE_DARK), "disabled": (GREY_LIGHT, GREY)}))
    common.update(button_set("btn_white", 100, 32, 4, {
        "normal": (WHITE, PAPER, LINE), "hot": (WHITE, WHITE, BLUE_LIGHT),
        "pushed": (PAPER, GREY_LIGHT, BLUE), "disabled": (PAPER, PAPER, GREY_LIGHT)}))
    common["logo.png"] = logo(24)
    common["logo48.png"] = logo(48)
    images["common"] = common

    main = main_backgrounds()
    main["hero.png"] = hero()
    main.update(button_set("installBtn", 220, 52, 26, {
        "normal": (ORANGE_LIGHT, ORANGE), "hot": (mix(ORANGE_LIGHT, WHITE, 0.2), ORANGE_LIGHT),
        "pushed": (ORANGE, mix(ORANGE, (0, 0, 0, 255), 0.15)), "disabled": (GREY_LIGHT, GREY)}))
    main["combo_normal.png"] = combo(False)
    main["combo_hot.png"] = combo(True)
    for state in ("normal", "hot", "focused", "disabled"):
        main["edit_%s.png" % state] = edit_box(state)
    main["installPrg1.png"] = progress_track()
    main["installPrg2.png"] = progress_bar(BLUE_LIGHT, mix(BLUE_LIGHT, WHITE, 0.35))
    main["installPrg3.png"] = progress_bar(GREEN, GREEN_LIGHT)
    main["tip.png"] = tip_bubble()
    for i, f in enumerate(installing_frames()):
        main["installing/%03d.png" % i] = f
    for i, f in enumerate(finished_frames()):
        main["finished/%03d.png" % i] = f
    images["mainWnd"] = main

    images["MessageBoxWnd1"] = {
        "bg.png": background(360, 180, solid(WHITE), title_h=34),
        "info.png": round_icon(BLUE, "i"),
        "warn.png": round_icon(ORANGE, "!"),
    }
    images["TipWnd"] = {
        "bg.png": background(360, 180, solid(WHITE), title_h=34),
        "bg_wide.png": background(400, 180, solid(WHITE), title_h=34),
        "question.png": round_icon(BLUE, "?"),
        "warn.png": round_icon(ORANGE, "!"),
    }
    return images


def icon_file(sizes=(16, 24, 32, 48)):
    """A Windows icon of the product's mark: one 32-bit DIB image per size (with an
    empty AND mask, the alpha channel does the masking), readable back to XP."""
    images = []
    for size in sizes:
        c = logo(size)
        pixels = bytearray()
        for y in range(size - 1, -1, -1):
            row = c.px[y * size * 4:(y + 1) * size * 4]
            for x in range(size):
                r, g, b, a = row[x * 4:x * 4 + 4]
                pixels += bytes((b, g, r, a))
        mask_stride = ((size + 31) // 32) * 4
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + mask_stride * size, 0, 0, 0, 0)
        images.append((size, header + bytes(pixels) + bytes(mask_stride * size)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return out


def write_all(out):
    """Writes every image under out/res and returns their paths relative to out."""
    written = []
    for folder, files in all_images().items():
        for name, canvas in files.items():
            rel = "/".join(["res", folder, name])
            path = os.path.join(out, *rel.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(canvas.png())
            written.append(rel)
    return written


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: draw_images.py OUT_DIR")
    write_all(sys.argv[1])


if __name__ == "__main__":
    main()
