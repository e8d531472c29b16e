#!/usr/bin/env python3
"""Writes the image fixtures of the drawing tests: small PNG, BMP and GIF pictures whose
every pixel follows from the formulas below (the tests know the same formulas), and
a zip and a 7z archive holding one of them.

usage: make_images.py OUT_DIR
"""
import os
import struct
import subprocess
import sys
import zipfile
import zlib

# The nine regions of nine.png (12 x 12, regions 4 pixels wide), row by row.
NINE = [(255, 0, 0), (0, 160, 0), (0, 0, 255),
        (255, 255, 0), (0, 255, 255), (255, 0, 255),
        (128, 0, 0), (0, 0, 128), (64, 64, 64)]
# strip.png (101 x 4): five 20-pixel states, then one column of the remainder.
STATES = [(200, 0, 0), (0, 200, 0), (0, 0, 200), (200, 200, 0), (0, 200, 200)]
REMAINDER = (90, 90, 90)
# tile.png (3 x 2).
TILE = [[(10, 20, 30), (40, 50, 60), (70, 80, 90)],
        [(100, 110, 120), (130, 140, 150), (160, 170, 180)]]


def png(rows):
    """rows: list of lists of (r, g, b, a)."""
    height, width = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for px in row:
            raw += bytes(px)

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw)))
            + chunk(b"IEND", b""))


def bmp24(rows):
    """rows top-down of (r, g, b); written bottom-up with padded rows."""
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        pixels += line + bytes(stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def gif(frames, delays=None):
    """frames: list of rows of (r, g, b); at most 8 colours in all. delays: one
    per frame in hundredths of a second, or None for frames without a graphic
    control extension (no delay stored at all)."""
    height, width = len(frames[0]), len(frames[0][0])
    palette = []
    for rows in frames:
        for row in rows:
            for px in row:
                if px not in palette:
                    palette.append(px)
    assert len(palette) <= 8
    palette += [(0, 0, 0)] * (8 - len(palette))
    out = bytearray(b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF2, 0, 0))
    for c in palette:
        out += bytes(c)
    if len(frames) > 1:
        out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for i, rows in enumerate(frames):
        if delays is not None:
            out += b"\x21\xF9\x04\x00" + struct.pack("<H", delays[i]) + b"\x00\x00"
        out += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        # LZW with 4-bit codes throughout: a clear code before every 5 pixels keeps
        # the table from growing past what 4 bits hold.
        codes = []
        pixels = [palette.index(px) for row in rows for px in row]
        for k in range(0, len(pixels), 5):
            codes.append(8)
            codes += pixels[k:k + 5]
        codes.append(9)
        bits = 0
        nbits = 0
        data = bytearray()
        for code in codes:
            bits |= code << nbits
            nbits += 4
            while nbits >= 8:
                data.append(bits & 0xFF)
                bits >>= 8
                nbits -= 8
        if nbits:
            data.append(bits & 0xFF)
        out.append(3)
        for k in range(0, len(data), 255):
            block = data[k:k + 255]
            out.append(len(block))
            out += block
        out.append(0)
    out.append(0x3B)
    return bytes(out)


def gif_frames(colours, width=8, height=6):
    """Frames whose left half is one colour and right half another."""
    return [[[a if x < width // 2 else b for x in range(width)] for _ in range(height)] for a, b in colours]


# anim.gif: three frames (left, right colours) with delays 0, 7 and 25 hundredths.
ANIM = [((255, 0, 0), (0, 0, 255)), ((0, 255, 0), (255, 255, 0)), ((0, 0, 255), (255, 0, 255))]
ANIM_DELAYS = [0, 7, 25]


def opaque(c):
    return c + (255,)


def main():
    out = sys.argv[1]
    os.makedirs(os.path.join(out, "skin", "res"), exist_ok=True)
    files = {
        "nine.png": png([[opaque(NINE[(y // 4) * 3 + x // 4]) for x in range(12)] for y in range(12)]),
        "alpha.png": png([[(255, 0, 0, 128), (0, 0, 255, 255)]]),
        "opaque.png": png([[opaque((10, 20, 30))] * 2] * 2),
        "strip.png": png([[opaque(STATES[x // 20] if x < 100 else REMAINDER) for x in range(101)]] * 4),
        "tile.png": png([[opaque(c) for c in row] for row in TILE]),
        # magenta where x + y is even, black elsewhere
        "magenta.bmp": bmp24([[(255, 0, 255) if (x + y) % 2 == 0 else (0, 0, 0) for x in range(4)]
                              for y in range(2)]),
        # both sides of the loader's size limit of 16384 pixels a side
        "widest.png": png([[opaque((1, 2, 3))] * 16384]),
        "toowide.png": png([[opaque((1, 2, 3))] * 16385]),
        "notimage.png": b"this is not a picture",
        "empty.png": b"",
        "anim.gif": gif(gif_frames(ANIM), ANIM_DELAYS),
        "still.gif": gif(gif_frames(ANIM[:1]), [30]),
        "nodelay.gif": gif(gif_frames(ANIM[:2])),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    # The same picture inside a skin folder and archives, under a folder name.
    with open(os.path.join(out, "skin", "res", "nine.png"), "wb") as f:
        f.write(files["nine.png"])
    zpath = os.path.join(out, "images.zip")
    with zipfile.ZipFile(zpath, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("res/nine.png", files["nine.png"])
    sevenz = os.path.join(out, "images.7z")
    if os.path.exists(sevenz):
        os.remove(sevenz)
    subprocess.run(["7zz", "a", "-bd", "-y", sevenz, "res/nine.png"], cwd=os.path.join(out, "skin"),
                   check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(out, "images.done"), "w") as f:
        f.write("ok\n")


if __name__ == "__main__":
    main()
