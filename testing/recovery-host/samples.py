#!/usr/bin/env python3
"""Sample files of every format the deep scan carves, made the same way on every run:
images by ImageMagick, the rest written here by each format's own rules (ZIP and Office
containers by zipfile, WAV by wave, MPEG audio frames, RIFF AVI, ISO media boxes, Ogg
pages with their CRC, MPEG program-stream packs, a PDF with its cross-reference table).

  samples.py OUTDIR [SCALE]   writes the files, prints "name<TAB>size<TAB>sha256" lines
"""
import hashlib
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import wave
import zipfile


def payload(rng, n):
    return bytes(rng.getrandbits(8) for _ in range(n)) if n < 4096 else rng.randbytes(n)


def image(out, name, fmt, size, seed):
    path = os.path.join(out, name)
    subprocess.run(["convert", "-size", size, "-seed", str(seed), "plasma:fractal", "-quality", "92",
                    f"{fmt}:{path}"], check=True, capture_output=True)
    return path


def pdf(rng, n):
    stream = payload(rng, n)
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>",
            b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
            b"<< /Length %d >>\nstream\n" % len(stream) + stream + b"\nendstream"]
    body = io.BytesIO()
    body.write(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for i, o in enumerate(objs, 1):
        offsets.append(body.tell())
        body.write(b"%d 0 obj\n" % i + o + b"\nendobj\n")
    xref = body.tell()
    body.write(b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1))
    for off in offsets:
        body.write(b"%010d 00000 n \n" % off)
    body.write(b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref))
    return body.getvalue()


def zipped(members, first=None):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        if first:
            z.writestr(zipfile.ZipInfo(first[0], (2020, 1, 1, 0, 0, 0)), first[1], compress_type=zipfile.ZIP_STORED)
        for name, data, deflate in members:
            info = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))
            z.writestr(info, data, compress_type=zipfile.ZIP_DEFLATED if deflate else zipfile.ZIP_STORED)
    return buf.getvalue()


def office(rng, part, main, n):
    types = (b'<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
             b'<Default Extension="xml" ContentType="application/xml"/></Types>')
    return zipped([("[Content_Types].xml", types, True),
                   ("_rels/.rels", b'<?xml version="1.0"?><Relationships/>', True),
                   (f"{part}/{main}", b"<?xml version=\"1.0\"?><doc>" + b"text " * 200 + b"</doc>", True),
                   (f"{part}/media/image1.bin", payload(rng, n), False)])


def odf(rng, mime, n):
    return zipped([("content.xml", b"<?xml version=\"1.0\"?><office:document-content/>", True),
                   ("Pictures/1.bin", payload(rng, n), False)], first=("mimetype", mime))


def mp3(rng, frames):
    tag = b"ID3\x03\x00\x00" + bytes([0, 0, 0, 20]) + b"TIT2\x00\x00\x00\x0a\x00\x00\x00Sample001"
    tag = tag[:10] + tag[10:].ljust(20, b"\0")
    out = bytearray(tag)
    for i in range(frames):
        pad = 1 if i % 3 == 0 else 0  # 128 kbit/s at 44.1 kHz: 417 or 418 bytes
        out += bytes([0xFF, 0xFB, 0x90 | (pad << 1), 0x64]) + payload(rng, 417 + pad - 4)
    return bytes(out)


def wav(rng, frames):
    buf = io.BytesIO()
    with wave.open(buf, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(22050)
        w.writeframes(payload(rng, frames * 4))
    return buf.getvalue()


def chunk(tag, data):
    return tag + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def avi(rng, count):
    avih = struct.pack("<14I", 40000, 0, 0, 0x10, count, 0, 1, 0, 64, 48, 0, 0, 0, 0)
    strh = b"vids" + b"DIB " + struct.pack("<IHHIIIIIIII", 0, 0, 0, 0, 1, 25, 0, count, 0, 0xFFFFFFFF, 0) + b"\0" * 8
    hdrl = b"hdrl" + chunk(b"avih", avih) + chunk(b"LIST", b"strl" + chunk(b"strh", strh))
    frames = b"".join(chunk(b"00db", payload(rng, 3000 + 17 * i)) for i in range(count))
    body = b"AVI " + chunk(b"LIST", hdrl) + chunk(b"LIST", b"movi" + frames)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def box(tag, data):
    return struct.pack(">I", 8 + len(data)) + tag + data


def isomedia(rng, brand, n):
    mvhd = box(b"mvhd", b"\0" * 4 + struct.pack(">IIII", 0, 0, 600, 6000) + b"\0" * 80)
    return (box(b"ftyp", brand + b"\0\0\0\0" + brand + b"isom") + box(b"moov", mvhd) +
            box(b"free", b"\0" * 16) + box(b"mdat", payload(rng, n)))


def ogg_crc(data):
    crc = 0
    for b in data:
        crc ^= b << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if crc & 0x80000000 else (crc << 1) & 0xFFFFFFFF
    return crc


def ogg_page(flags, granule, serial, seq, data):
    segs = []
    left = len(data)
    while left >= 255:
        segs.append(255)
        left -= 255
    segs.append(left)
    head = b"OggS\0" + bytes([flags]) + struct.pack("<qIII", granule, serial, seq, 0) + bytes([len(segs)]) + bytes(segs)
    page = bytearray(head + data)
    page[22:26] = struct.pack("<I", ogg_crc(bytes(page)))
    return bytes(page)


def ogg(rng, pages):
    serial = 0x1234
    ident = b"\x01vorbis" + struct.pack("<IBIiiiB", 0, 2, 44100, 0, 128000, 0, 0xB8) + b"\x01"
    out = [ogg_page(0x02, 0, serial, 0, ident)]
    for i in range(1, pages):
        out.append(ogg_page(0x04 if i == pages - 1 else 0, i * 1024, serial, i, payload(rng, 4000)))
    return b"".join(out)


def mpeg_ps(rng, packs):
    out = bytearray()
    for i in range(packs):
        out += b"\x00\x00\x01\xBA" + bytes([0x44, 0, 4, 0, 4, 1, 0x01, 0x89, 0xC3, 0xF8])
        data = payload(rng, 2000)
        out += b"\x00\x00\x01\xE0" + struct.pack(">H", len(data) + 3) + b"\x80\x00\x00" + data
    out += b"\x00\x00\x01\xB9"
    return bytes(out)


def make(out, scale=1):
    """Writes the samples into out; returns [(name, size, sha256)]."""
    os.makedirs(out, exist_ok=True)
    rng = random.Random(20260101)
    files = {}
    if shutil.which("convert"):
        image(out, "photo.jpg", "jpg", "640x480", 1)
        image(out, "small.jpg", "jpg", "120x90", 2)
        image(out, "chart.png", "png", "300x200", 3)
        image(out, "anim.gif", "gif", "200x150", 4)
        image(out, "scan.bmp", "bmp3", "160x120", 5)
    files["report.pdf"] = pdf(rng, 40000 * scale)
    files["archive.zip"] = zipped([("a.txt", b"hello " * 500, True), ("b.bin", payload(rng, 30000 * scale), False)])
    files["letter.docx"] = office(rng, "word", "document.xml", 20000 * scale)
    files["sheet.xlsx"] = office(rng, "xl", "workbook.xml", 15000 * scale)
    files["slides.pptx"] = office(rng, "ppt", "presentation.xml", 25000 * scale)
    files["text.odt"] = odf(rng, b"application/vnd.oasis.opendocument.text", 12000 * scale)
    files["song.mp3"] = mp3(rng, 120 * scale)
    files["voice.wav"] = wav(rng, 20000 * scale)
    files["clip.avi"] = avi(rng, 12 * scale)
    files["movie.mp4"] = isomedia(rng, b"isom", 50000 * scale)
    files["home.mov"] = isomedia(rng, b"qt  ", 30000 * scale)
    files["tune.ogg"] = ogg(rng, 10 * scale)
    files["tape.mpg"] = mpeg_ps(rng, 20 * scale)
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    listing = []
    for name in sorted(os.listdir(out)):
        with open(os.path.join(out, name), "rb") as f:
            data = f.read()
        listing.append((name, len(data), hashlib.sha256(data).hexdigest()))
    return listing


if __name__ == "__main__":
    for row in make(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 1):
        print("\t".join(map(str, row)))
