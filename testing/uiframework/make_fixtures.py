#!/usr/bin/env python3
"""Builds the skin-archive fixtures with Debian's own tools (7zz, Info-ZIP zip) and
Python's zipfile, plus a manifest naming every item and the payload file holding
its bytes.

usage: make_fixtures.py OUT_DIR LAYOUT_XML [--pe FILE] [--bench]

Manifest lines (UTF-8, tab-separated): archive, stored item name, payload path
relative to OUT_DIR/payload ("" for a folder entry).
"""
import argparse
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib


UT_TIME = 1614834367   # 2021-03-04 05:06:07 UTC


def png(width, height, seed):
    """A real PNG: a gradient with some noise, so it neither vanishes nor explodes."""
    rnd = random.Random(seed)
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            n = rnd.randrange(24)
            rows += bytes(((x * 255 // max(1, width - 1) + n) & 255,
                           (y * 255 // max(1, height - 1) + n) & 255,
                           (seed * 37 + n) & 255, 255))

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(rows), 6))
            + chunk(b"IEND", b""))


def synthetic_code(size, seed):
    """x86-like bytes full of E8/E9 branches, for when no real PE is at hand."""
    rnd = random.Random(seed)
    out = bytearray(b"MZ" + bytes(62))
    while len(out) < size:
        op = rnd.choice([b"\x55\x8b\xec", b"\xe8", b"\xe9", b"\x8b\x45\x08", b"\xc3", b"\x90"])
        out += op
        if op in (b"\xe8", b"\xe9"):
            out += struct.pack("<i", rnd.randrange(-4096, 4096))
    return bytes(out[:size])


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def run(args, cwd):
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


def raw_zip(entries):
    """A zip archive written field by field, for sizes no archiver would record:
    entries are (name, method, stored bytes, crc, uncompressed size)."""
    dos_time, dos_date = (12 << 11) | (30 << 5) | 22, ((2024 - 1980) << 9) | (5 << 5) | 17
    local, central = b"", b""
    for name, method, stored, crc, usize in entries:
        name = name.encode()
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 20, 20, 0, method, dos_time, dos_date, crc,
                               len(stored), usize, len(name), 0, 0, 0, 0, 0, len(local)) + name
        local += struct.pack("<IHHHHHIIIHH", 0x04034b50, 20, 0, method, dos_time, dos_date, crc, len(stored),
                             usize, len(name), 0) + name + stored
    end = struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, len(entries), len(entries), len(central), len(local), 0)
    return local + central + end


def raw_deflate(data):
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    return z.compress(data) + z.flush()


class Manifest:
    def __init__(self):
        self.lines = []

    def add(self, archive, name, payload):
        self.lines.append("%s\t%s\t%s" % (archive, name, payload))

    def save(self, path):
        with open(path, "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(self.lines) + "\n")


def walk_items(root):
    """(stored name with "/", payload path or "" for a folder), sorted."""
    items = []
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        for d in dirnames:
            full = os.path.join(dirpath, d)
            if not os.listdir(full):
                items.append((os.path.normpath(os.path.join(rel, d)).replace(os.sep, "/"), ""))
        for fn in filenames:
            name = os.path.normpath(os.path.join(rel, fn)).replace(os.sep, "/")
            items.append((name, name))
    return sorted(items)


def make_7z(out, tree, tree_rel, archive, switches, manifest):
    path = os.path.join(out, archive)
    if os.path.exists(path):
        os.remove(path)
    run(["7zz", "a", "-bd", "-y", "-mtm=off", "-mtc=off", "-mta=off"] + switches + [path, "."], tree)
    for name, payload in walk_items(tree):
        where = tree_rel + "/" + payload if payload else ""
        if "\\" in payload:
            # Wine takes a backslash in a path as a separator: the test reads a copy.
            where = "escaped/" + payload.replace("\\", "_")
            write(os.path.join(out, "payload", where), open(os.path.join(tree, payload), "rb").read())
        manifest.add(archive, name, where)


def patch(data, offset, new):
    return data[:offset] + new + data[offset + len(new):]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("layout")
    ap.add_argument("--pe", default="")
    ap.add_argument("--bench", action="store_true")
    a = ap.parse_args()
    out = os.path.abspath(a.out)
    if a.bench:
        return make_bench(out, a.layout)

    payload = os.path.join(out, "payload")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(payload)
    layout = open(a.layout, "rb").read()

    # The full skin-like tree.
    full = os.path.join(payload, "full")
    write(os.path.join(full, "MainWnd.xml"), layout)
    write(os.path.join(full, "language.json"),
          b'[{"id":100,"zh-CN":"\xe7\xab\x8b\xe5\x8d\xb3\xe5\xae\x89\xe8\xa3\x85","zh-TW":"\xe7\xab\x8b\xe5\x8d\xb3'
          b'\xe5\xae\x89\xe8\xa3\x9d","en-US":"Install now"}]\n')
    write(os.path.join(full, "res", "mainWnd", "bg1.png"), png(96, 64, 1))
    write(os.path.join(full, "res", "common", "close.png"), png(80, 40, 2))
    write(os.path.join(full, "res", "TipWnd", "Icon.PNG"), png(16, 16, 3))
    pe = open(a.pe, "rb").read() if a.pe and os.path.isfile(a.pe) else synthetic_code(90000, 4)
    write(os.path.join(full, "bin", "payload.dll"), pe)
    write(os.path.join(full, "data", "empty.txt"), b"")
    write(os.path.join(full, "data", "notes.txt"),
          b"".join(b"line %05d of the notes, repeated to span many chunks\r\n" % i for i in range(900)))
    os.makedirs(os.path.join(full, "res", "emptydir"))
    # A known modification time with odd seconds: the "UT" field keeps it exactly,
    # a DOS time cannot.
    for dirpath, _, filenames in os.walk(full):
        for fn in filenames:
            os.utime(os.path.join(dirpath, fn), (UT_TIME, UT_TIME))

    # The 7z tree adds a name holding a literal backslash.
    full7 = os.path.join(payload, "full7z")
    shutil.copytree(full, full7)
    write(os.path.join(full7, "odd\\name.txt"), b"a name with a literal backslash\n")

    # A tiny tree for the truncation and flip sweeps.
    tiny = os.path.join(payload, "tiny")
    write(os.path.join(tiny, "a.xml"), b'<Window size="10,10"><Label text="tiny &amp; small"/></Window>\n')
    write(os.path.join(tiny, "res", "b.bin"), bytes(random.Random(5).randrange(256) for _ in range(300)))
    write(os.path.join(tiny, "e.txt"), b"")
    os.makedirs(os.path.join(tiny, "dir"))

    m = Manifest()
    plain = ["-mf=off"]
    for archive, switches in [
        ("lzma.7z", plain + ["-m0=LZMA", "-ms=on"]),
        ("lzma2.7z", plain + ["-m0=LZMA2", "-ms=on"]),
        ("lzma2_nonsolid.7z", plain + ["-m0=LZMA2", "-ms=off"]),
        ("bcj_lzma.7z", ["-mf=BCJ", "-m0=LZMA", "-ms=on"]),
        ("bcj2.7z", ["-mf=BCJ2", "-m0=LZMA2", "-ms=on"]),
        ("bcj2_explicit.7z", ["-m0=BCJ2", "-m1=LZMA:d20", "-m2=LZMA:d18", "-m3=LZMA:d18",
                              "-mb0:1", "-mb0s1:2", "-mb0s2:3"]),
        ("copy.7z", plain + ["-m0=Copy"]),
        ("plain_headers.7z", plain + ["-m0=LZMA2", "-mhc=off"]),
        ("copy_plain_headers.7z", plain + ["-m0=Copy", "-mhc=off", "-ms=off"]),
    ]:
        make_7z(out, full7, "full7z", archive, switches, m)
    for archive, switches in [
        ("tiny_lzma2.7z", plain + ["-m0=LZMA2", "-ms=on"]),
        ("tiny_bcj2.7z", ["-mf=BCJ2", "-m0=LZMA", "-ms=on"]),
        ("tiny_copy.7z", plain + ["-m0=Copy", "-mhc=off"]),
    ]:
        make_7z(out, tiny, "tiny", archive, switches, m)

    # Zip archives by Info-ZIP.
    def list_zip(archive, tree_rel):
        # Info-ZIP stores every folder as an entry of its own: list what it wrote.
        for name in zipfile.ZipFile(os.path.join(out, archive)).namelist():
            m.add(archive, name, "" if name.endswith("/") else tree_rel + "/" + name)

    def info_zip(archive, switches, tree, tree_rel):
        path = os.path.join(out, archive)
        run(["zip", "-q", "-r"] + switches + [path, "."], tree)
        list_zip(archive, tree_rel)

    info_zip("zip_deflated.zip", ["-9"], full, "full")   # carries the "UT" extra field
    info_zip("zip_stored.zip", ["-0", "-X"], full, "full")
    info_zip("tiny.zip", ["-9", "-X"], tiny, "tiny")

    deflated = open(os.path.join(out, "zip_deflated.zip"), "rb").read()
    stub = b"MZ" + bytes(random.Random(6).randrange(256) for _ in range(998))
    write(os.path.join(out, "zip_stub.zip"), stub + deflated)   # offsets not adjusted
    adjusted = os.path.join(out, "zip_stub_adjusted.zip")
    write(adjusted, stub + deflated)
    subprocess.run(["zip", "-q", "-A", adjusted], check=True)
    commented = os.path.join(out, "zip_comment.zip")
    shutil.copy(os.path.join(out, "zip_deflated.zip"), commented)
    subprocess.run(["zip", "-q", "-z", commented], input=b"c" * 1000 + b"\n", check=True)
    for archive in ("zip_stub.zip", "zip_stub_adjusted.zip", "zip_comment.zip"):
        list_zip(archive, "full")

    # Zip archives by Python's zipfile.
    def py_zip(archive, entries, compression=zipfile.ZIP_DEFLATED, comment=b"", stream=False):
        buf = io.BytesIO()

        class Unseekable(io.RawIOBase):
            def writable(self):
                return True

            def write(self, b):
                return buf.write(b)

        target = Unseekable() if stream else buf
        with zipfile.ZipFile(target, "w", compression) as z:
            for name, pl in entries:
                z.writestr(zipfile.ZipInfo(name, (2024, 5, 17, 12, 30, 44)),
                           open(os.path.join(payload, pl), "rb").read() if pl else b"",
                           compress_type=compression)
            z.comment = comment
        data = buf.getvalue()
        write(os.path.join(out, archive), data)
        for name, pl in entries:
            m.add(archive, name, pl)
        return data

    full_files = [(n, "full/" + p) for n, p in walk_items(full) if p]
    py_zip("zip_python.zip", full_files)
    py_zip("zip_descriptor.zip", full_files, stream=True)   # flag bit 3, sizes after the data
    py_zip("zip_empty.zip", [])
    py_zip("zip_long_comment.zip", full_files[:2], comment=b"L" * 65535)
    write(os.path.join(payload, "names", "x.txt"), b"long names\n")
    py_zip("zip_long_names.zip", [("n" * 255, "names/x.txt"), ("m" * 256, "names/x.txt"),
                                  ("d/" + "k" * 298, "names/x.txt"), ("short.txt", "names/x.txt")])
    py_zip("zip_bzip2.zip", full_files[:3], compression=zipfile.ZIP_BZIP2)
    # A local header that disagrees with the directory: the CRC of the first
    # entry's local header is changed.
    good = py_zip("zip_bad_local.zip", full_files[:3])
    write(os.path.join(out, "zip_bad_local.zip"), patch(good, 14, b"\x01\x02\x03\x04"))

    # A deflate stream that ends before the size recorded for it, with bytes after its
    # end inside the recorded compressed size; the second entry is sound.
    short_text = b"the stream ends here\n" * 40
    write(os.path.join(payload, "names", "short.txt"), short_text)
    write(os.path.join(out, "zip_short_stream.zip"), raw_zip([
        ("short.txt", 8, raw_deflate(short_text) + b"\0" * 16, zlib.crc32(short_text + b"?"), len(short_text) + 1),
        ("good.txt", 8, raw_deflate(short_text), zlib.crc32(short_text), len(short_text))]))
    m.add("zip_short_stream.zip", "short.txt", "names/short.txt")
    m.add("zip_short_stream.zip", "good.txt", "names/short.txt")

    # Extra fields that claim more than they hold: a "UT" block of one byte whose
    # flags announce three times, and a block longer than the whole field.
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_STORED) as z:
        for name, extra in (("short_ut.txt", b"UT\x01\x00\x07"), ("long_block.txt", b"XY\xff\x00ab"),
                            ("ut_after.txt", b"XY\x02\x00abUT\x05\x00\x01" + struct.pack("<I", UT_TIME))):
            info = zipfile.ZipInfo(name, (2024, 5, 17, 12, 30, 44))
            info.extra = extra
            z.writestr(info, b"extra fields\n")
            m.add("zip_extra.zip", name, "names/extra.txt")
    write(os.path.join(out, "zip_extra.zip"), buf.getvalue())
    write(os.path.join(payload, "names", "extra.txt"), b"extra fields\n")

    m.save(os.path.join(out, "manifest.txt"))
    return 0


def make_bench(out, layout_path):
    """A skin of about 5 MB: layouts and PNGs, LZMA2 with BCJ2."""
    tree = os.path.join(out, "bench_tree")
    shutil.rmtree(tree, ignore_errors=True)
    layout = open(layout_path, "rb").read()
    for i, name in enumerate(["MainWnd.xml", "MessageBox1Wnd.xml", "MessageBox2Wnd.xml",
                              "InstalledPathTipWnd.xml", "ExitTipWnd.xml", "NetworkTipWnd.xml"]):
        write(os.path.join(tree, name), layout)
    total = 0
    i = 0
    while total < 5 * 1024 * 1024:
        data = png(200 + (i % 5) * 40, 150 + (i % 3) * 30, 100 + i)
        write(os.path.join(tree, "res", "page%d" % (i % 4), "img%03d.png" % i), data)
        total += len(data)
        i += 1
    archive = os.path.join(out, "bench_skin.7z")
    if os.path.exists(archive):
        os.remove(archive)
    run(["7zz", "a", "-bd", "-y", "-mf=BCJ2", "-m0=LZMA2", "-ms=on", archive, "."], tree)
    return 0


if __name__ == "__main__":
    sys.exit(main())
