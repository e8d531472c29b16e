#!/usr/bin/env python3
"""Deep-scan benchmark (not a test): a raw image of sample files in every carved format
(testing/recovery-host/samples.py) laid end to end with gaps, scanned raw by
recovery-host (whole disk, `list --fsdeep IMAGE 0 0x2000`) and by photorec in the same
run. Prints MB/s for both and their ratio, the originals each finds whole (ours: a hit at
the sample's sector with its size and extension; photorec: a recovered file with the
sample's SHA-256), and the host's peak memory on a second image holding one million tiny
pictures (one million raw hits).

  python3 bench/deep-scan.py BUILD [--size-mib 2048] [--hits 1000000] [--no-photorec]
"""
import argparse
import collections
import hashlib
import importlib.util
import os
import random
import re
import shutil
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "testing", "recovery-host"))
import samples  # noqa: E402

spec = importlib.util.spec_from_file_location("ntfs_scan", os.path.join(here, "ntfs-scan.py"))
ntfs_scan = importlib.util.module_from_spec(spec)
spec.loader.exec_module(ntfs_scan)

SECTOR = 512
MiB = 1 << 20
# The smallest whole GIF: one per 512-byte sector makes the million-hit image.
TINY_GIF = bytes([0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 2, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
                  0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B])


def make_sample_image(path, size, sample_dir):
    """Samples end to end from sector boundaries, a random gap (random bytes) between
    them; returns {(sector, size): (ext, sha256)} of what was written."""
    files = []
    for name in sorted(os.listdir(sample_dir)):
        with open(os.path.join(sample_dir, name), "rb") as f:
            data = f.read()
        files.append((name.rsplit(".", 1)[1], data, hashlib.sha256(data).hexdigest()))
    rng = random.Random(7)
    layout = {}
    with open(path, "wb") as out:
        pos = 0
        while True:
            ext, data, sha = files[len(layout) % len(files)]
            gap = rng.randrange(0, 64) * SECTOR
            if pos + gap + len(data) + SECTOR > size:
                break
            out.write(rng.randbytes(gap))
            pos += gap
            layout[(pos // SECTOR, len(data))] = (ext, sha)
            padded = (len(data) + SECTOR - 1) // SECTOR * SECTOR
            out.write(data + rng.randbytes(padded - len(data)))
            pos += padded
        out.write(b"\0" * (size - pos))
    return layout


def make_hits_image(path, hits):
    with open(path, "wb") as out:
        sector = TINY_GIF + b"\0" * (SECTOR - len(TINY_GIF))
        block = sector * 2048
        for _ in range(hits // 2048):
            out.write(block)
        out.write(sector * (hits % 2048))


def our_hits(listing):
    found = {}
    with open(listing, errors="replace") as f:
        for line in f:
            c = line.rstrip("\n").split("\t")
            m = re.fullmatch(r"/f(\d{10})\.(\w+)", c[4]) if len(c) == 5 else None
            if m:
                found[(int(m.group(1)), int(c[2]))] = m.group(2)
    return found


def photorec(img, work):
    out = os.path.join(work, "photorec")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    t = time.time()
    subprocess.run(["photorec", "/log", "/d", out + "/r", "/cmd", img, "partition_none,fileopt,everything,enable,search"],
                   cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    dt = time.time() - t
    shas = collections.Counter()
    for root, _, names in os.walk(out):
        for n in names:
            with open(os.path.join(root, n), "rb") as f:
                shas[hashlib.sha256(f.read()).hexdigest()] += 1
    shutil.rmtree(out, ignore_errors=True)
    return dt, shas


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--size-mib", type=int, default=2048)
    ap.add_argument("--hits", type=int, default=1000000)
    ap.add_argument("--no-photorec", action="store_true")
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    work = os.path.join(build, "bench", "deep")
    os.makedirs(work, exist_ok=True)
    sample_dir = os.path.join(work, "samples")
    shutil.rmtree(sample_dir, ignore_errors=True)
    expected = samples.make(sample_dir)
    img = os.path.join(work, f"deep-{a.size_mib}.img")
    layout = make_sample_image(img, a.size_mib * MiB, sample_dir)
    mb = a.size_mib * MiB / 1e6
    print(f"image: {a.size_mib} MiB, {len(layout)} sample files of {len(expected)} kinds")

    listing = os.path.join(work, "deep-list.txt")
    rc, dt, rss = ntfs_scan.run_host(build, ["list", "--fsdeep", img, "0", "0x2000"], listing)
    hits = our_hits(listing)
    ours = sum(1 for key, (ext, _) in layout.items() if hits.get(key) == ext)
    print(f"recovery-host: rc {rc}, {dt:.1f} s, {mb / dt:.1f} MB/s, {len(hits)} hits, "
          f"{ours}/{len(layout)} originals whole, peak RSS {rss / 1024:.0f} MiB")
    if not a.no_photorec and shutil.which("photorec"):
        pdt, shas = photorec(img, work)
        theirs = sum(min(1, shas[sha]) for sha in {sha for _, sha in layout.values()})
        whole = sum(shas[sha] for sha in {sha for _, sha in layout.values()})
        print(f"photorec: {pdt:.1f} s, {mb / pdt:.1f} MB/s, {whole}/{len(layout)} originals whole "
              f"({theirs}/{len(expected)} kinds)")
        print(f"speed ratio recovery-host/photorec: {(mb / dt) / (mb / pdt):.2f}")
    os.remove(img)

    if a.hits:
        himg = os.path.join(work, "hits.img")
        make_hits_image(himg, a.hits)
        rc, dt, rss = ntfs_scan.run_host(build, ["list", "--fsdeep", himg, "0", "0x2000"], listing)
        n = len(our_hits(listing))
        print(f"{a.hits} raw hits: rc {rc}, {dt:.1f} s, {n} listed, peak RSS {rss / 1024:.0f} MiB "
              f"(of a 2048 MiB 32-bit address space)")
        os.remove(himg)


if __name__ == "__main__":
    main()
