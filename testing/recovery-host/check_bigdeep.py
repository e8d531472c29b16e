#!/usr/bin/env python3
"""A deep-scan hit of 4 GiB: a sparse disk image holding an MP4 whose 64-bit mdat box
makes it exactly 2^32 bytes (its size's low 32 bits are 0), with data at its start,
around 2 GiB and at its end. `list --fsdeep` of the whole disk must list the hit with
its whole size and `recover --fsdeep` write it byte-exact (SHA-256 computed by streaming
the image's bytes and the written file). The image costs a few MB of disk, the written
file 4 GiB: with less free space than that and a margin the check is skipped (77)."""
import hashlib
import os
import random
import shutil
import struct
import sys
import tempfile

from checks import check, host, verdict

MiB = 1024 * 1024
GiB = 1024 * MiB
START = 1 * MiB     # where the file begins on the disk
LENGTH = 4 * GiB    # its size
NEED = LENGTH + 2 * GiB


def make_image(path):
    ftyp = struct.pack(">I4s4sI4s4s", 24, b"ftyp", b"isom", 0x200, b"isom", b"mp41")
    moov = struct.pack(">I4s", 108, b"moov") + random.Random(1).randbytes(100)
    mdat = struct.pack(">I4sQ", 1, b"mdat", LENGTH - len(ftyp) - len(moov))
    rng = random.Random(2)
    with open(path, "wb") as f:
        f.truncate(START + LENGTH + MiB)
        f.seek(START)
        f.write(ftyp + moov + mdat + rng.randbytes(MiB))
        for at in (START + 2 * GiB - MiB // 2, START + LENGTH - MiB):
            f.seek(at)
            f.write(rng.randbytes(MiB))


def result_path(line):
    windows = line[len("result: "):]
    return windows[2:].replace("\\", "/") if windows[:2].upper() == "Z:" else windows


def sha_of(path, offset, length):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        f.seek(offset)
        left = length
        while left:
            block = f.read(min(left, 8 * MiB))
            if not block:
                break
            h.update(block)
            left -= len(block)
    return h.hexdigest(), length - left


def main():
    wine_run, exe = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="bigdeep-")
    results = []  # the result databases the scans leave beside the host
    try:
        free = shutil.disk_usage(work).free
        if free < NEED:
            print(f"SKIPPED: {free // MiB} MiB free in {work}, the check writes {NEED // MiB} MiB")
            return 77
        img = os.path.join(work, "big.img")
        make_image(img)
        r = host(wine_run, exe, "list", "--fsdeep", img, "0", "0x2000")
        results += [result_path(l) for l in r.stdout.splitlines() if l.startswith("result: ")]
        hits = [l.split("\t") for l in r.stdout.splitlines() if l.count("\t") == 4 and l.split("\t")[1] == "0"]
        check(r.returncode == 0 and len(hits) == 1, f"one hit listed ({len(hits)}, rc {r.returncode})")
        if hits:
            check(int(hits[0][2]) == LENGTH and hits[0][4].endswith(".mp4"),
                  f"the hit {hits[0][4]} has the whole size: {hits[0][2]} bytes")
        want, _ = sha_of(img, START, LENGTH)
        out = os.path.join(work, "out")
        r = host(wine_run, exe, "recover", "--fsdeep", img, "0", "0x2000", out)
        results += [result_path(l) for l in (r.stdout + r.stderr).splitlines() if l.startswith("result: ")]
        written = [os.path.join(d, n) for d, _, names in os.walk(out) for n in names]
        check(r.returncode == 0 and len(written) == 1, f"one file recovered ({r.stdout.strip()[-80:]})")
        for path in written:
            check(os.path.getsize(path) == LENGTH, f"{os.path.basename(path)}: {os.path.getsize(path)} bytes written")
            check(sha_of(path, 0, LENGTH)[0] == want, f"{os.path.basename(path)}: byte-exact")
    finally:
        shutil.rmtree(work, ignore_errors=True)
        for path in results:
            if os.path.exists(path):
                os.remove(path)
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
