#!/usr/bin/env python3
"""Seeded mutations of fixture disk images, aimed at file-system metadata, run through
recovery-host (list, list --formatted, list --deep, recover) under a time bound.

A case fails when the host ends by an exception (an exit code not its own), runs
past the bound, writes outside its target folder, or recovers a file larger than the
volume. Each failure prints its seed and its mutation as one JSON line, which
`--replay FILE` (one such line per case) runs again.

  fuzz_volumes.py WINE_RUN HOST FIXTURES [--seeds A:B] [--jobs N] [--timeout S]
                  [--modes list,formatted,deep,recover] [--fixture NAME]...
  fuzz_volumes.py WINE_RUN HOST FIXTURES --replay FILE
Prints "ALL CHECKS PASSED" last when no case failed."""
import argparse
import concurrent.futures
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

# Fixture images (relative to FIXTURES), their kind, and the partition to scan.
FIXTURES = {
    "ntfs/ntfs-tree.img": ("ntfs", "1"),
    "ntfs/ntfs-compressed.img": ("ntfs", "1"),
    "ntfs/ntfs-badnames.img": ("ntfs", "1"),
    "ntfs/ntfs-fragmented-mft.img": ("ntfs", "1"),
    "ntfs/ntfs-reformatted.img": ("ntfs", "1"),
    "fat/fat12-files.img": ("fat", "1"),
    "fat/fat16-files.img": ("fat", "1"),
    "fat/fat32-files.img": ("fat", "1"),
    "fat/fat32-reformatted.img": ("fat", "1"),
    "fat/exfat-files.img": ("exfat", "1"),
    "fat/exfat-reformatted.img": ("exfat", "1"),
    "mbr.img": ("mbr", "1"),
    "gpt.img": ("gpt", "1"),
}

INTERESTING = {
    1: [0, 1, 0x7F, 0x80, 0xFF],
    2: [0, 1, 2, 0x7FFF, 0x8000, 0xFFFF, 0x18, 0x400, 0x3FF],
    4: [0, 1, 2, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x0FFFFFF7, 0x0FFFFFFF, 0xFFFFFFF0, 0x10000],
    8: [0, 1, 0x7FFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 1 << 40, 1 << 32],
}
# The host's own exit codes; Wine hands on the low byte of an unhandled exception's
# code (5 for an access violation, 0xFD for a stack overflow).
CLEAN_EXITS = (0, 1, 2)


def u(data, off, size):
    return int.from_bytes(data[off:off + size], "little") if off + size <= len(data) else 0


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        self.base = 0  # byte offset of the volume on the disk
        if self.data[510:512] == b"\x55\xaa" and self.data[3:11] not in (b"NTFS    ", b"EXFAT   ") \
                and self.data[0x1C6:0x1CA] != b"\0\0\0\0" and self.data[0x36:0x39] != b"FAT" \
                and self.data[0x52:0x55] != b"FAT":
            self.base = u(self.data, 0x1C6, 4) * 512

    def boot(self):
        return self.data[self.base:self.base + 512]


def field(rng, off, size):
    """A patch that sets the field of SIZE bytes at OFF to an interesting or random value."""
    if rng.random() < 0.7:
        v = rng.choice(INTERESTING[size])
    else:
        v = rng.getrandbits(8 * size)
    return [off, v.to_bytes(size, "little").hex()]


def ntfs_targets(img, rng):
    """Offsets of metadata fields: the boot sector, MFT record headers and attributes
    (with their run lists and index entries) and INDX records."""
    d, b = img.data, img.base
    bps = u(d, b + 0x0B, 2) or 512
    spc = d[b + 0x0D] or 1
    cluster = bps * spc
    mft = b + u(d, b + 0x30, 8) * cluster
    cpr = struct.unpack("<b", d[b + 0x40:b + 0x41])[0]
    rsize = cluster * cpr if cpr > 0 else 1 << -cpr
    fields = [(b + o, s) for o, s in [(0x0B, 2), (0x0D, 1), (0x0E, 2), (0x28, 8), (0x30, 8), (0x38, 8),
                                      (0x40, 1), (0x44, 1)]]
    records = []
    for n in range(0, 200):
        off = mft + n * rsize
        if d[off:off + 4] == b"FILE":
            records.append(off)
    indx = [o for o in range(b, min(len(d), b + 64 * 1024 * 1024), cluster) if d[o:o + 4] == b"INDX"]
    for off in rng.sample(records, min(len(records), 24)):
        fields += [(off + o, s) for o, s in [(4, 2), (6, 2), (0x14, 2), (0x16, 2), (0x18, 4), (0x1C, 4),
                                             (0x20, 8), (0x28, 2), (0x2C, 4)]]
        a = off + u(d, off + 0x14, 2)
        while off < a < off + rsize - 16:
            t, ln = u(d, a, 4), u(d, a + 4, 4)
            if t == 0xFFFFFFFF or ln < 16 or a + ln > off + rsize:
                break
            fields += [(a, 4), (a + 4, 4), (a + 8, 1), (a + 9, 1), (a + 0xA, 2), (a + 0xC, 2)]
            if d[a + 8] == 0:
                fields += [(a + 0x10, 4), (a + 0x14, 2)]
                v = a + u(d, a + 0x14, 2)
                if t == 0x30:
                    fields += [(v, 8), (v + 0x40, 1), (v + 0x41, 1)]
                if t == 0x90:
                    h = v + 0x10
                    fields += [(h, 4), (h + 4, 4), (h + 8, 4)]
                    e = h + u(d, h, 4)
                    for _ in range(8):
                        el = u(d, e + 8, 2)
                        fields += [(e, 8), (e + 8, 2), (e + 0xA, 2), (e + 0xC, 2), (e + 0x10 + 0x40, 1)]
                        if el < 16 or d[e + 0xC] & 2:
                            break
                        e += el
                if t == 0x20:
                    e = v
                    for _ in range(8):
                        el = u(d, e + 4, 2)
                        fields += [(e + 4, 2), (e + 6, 1), (e + 7, 1), (e + 8, 8), (e + 0x10, 8)]
                        if el < 0x1A:
                            break
                        e += el
            else:
                fields += [(a + 0x10, 8), (a + 0x18, 8), (a + 0x20, 2), (a + 0x22, 2), (a + 0x28, 8),
                           (a + 0x30, 8), (a + 0x38, 8)]
                r = a + u(d, a + 0x20, 2)
                for _ in range(6):
                    hdr = d[r] if r < len(d) else 0
                    if hdr == 0 or r >= a + ln:
                        break
                    fields += [(r, 1)] + [(r + 1 + i, 1) for i in range((hdr & 15) + (hdr >> 4))]
                    r += 1 + (hdr & 15) + (hdr >> 4)
            a += ln
    for off in rng.sample(indx, min(len(indx), 6)):
        fields += [(off + o, s) for o, s in [(4, 2), (6, 2), (0x10, 8), (0x18, 4), (0x1C, 4), (0x20, 4)]]
        e = off + 0x18 + u(d, off + 0x18, 4)
        for _ in range(10):
            el = u(d, e + 8, 2)
            fields += [(e, 8), (e + 8, 2), (e + 0xA, 2), (e + 0xC, 2), (e + 0x50, 1), (e + 0x51, 1)]
            if el < 16 or d[e + 0xC] & 2:
                break
            e += el
    regions = [(mft, 16 * rsize)] + [(o, 4096) for o in indx[:4]]
    return fields, regions


def fat_dir_entries(d, start, length, fields, limit=64):
    n = 0
    for e in range(start, min(len(d), start + length), 32):
        if d[e] == 0 or n >= limit:
            break
        n += 1
        if d[e + 11] == 0x0F:
            fields += [(e, 1), (e + 13, 1), (e + 26, 2), (e + 11, 1)]
        else:
            fields += [(e, 1), (e + 11, 1), (e + 20, 2), (e + 26, 2), (e + 28, 4)]


def fat_targets(img, rng):
    d, b = img.data, img.base
    fields = [(b + o, s) for o, s in [(0x0B, 2), (0x0D, 1), (0x0E, 2), (0x10, 1), (0x11, 2), (0x13, 2),
                                      (0x16, 2), (0x20, 4), (0x24, 4), (0x2C, 4), (0x30, 2), (0x32, 2)]]
    bps = u(d, b + 0x0B, 2) or 512
    spc = d[b + 0x0D] or 1
    res = u(d, b + 0x0E, 2)
    nfat = d[b + 0x10]
    fatsz = u(d, b + 0x16, 2) or u(d, b + 0x24, 4)
    rootn = u(d, b + 0x11, 2)
    fat = b + res * bps
    fat32 = u(d, b + 0x16, 2) == 0
    if fat32:
        fsinfo = b + u(d, b + 0x30, 2) * bps
        fields += [(fsinfo, 4), (fsinfo + 0x1E8, 4), (fsinfo + 0x1EC, 4)]
    root = fat + nfat * fatsz * bps
    data = root + ((rootn * 32 + bps - 1) // bps) * bps
    esize = 4 if fat32 else (2 if fatsz * bps // 2 > 4085 and not d[b + 0x36:b + 0x3B] == b"FAT12" else 0)
    nclus = min(2000, fatsz * bps // max(esize, 2))
    for c in rng.sample(range(2, max(3, nclus)), min(40, max(1, nclus - 2))):
        if esize:
            fields.append((fat + c * esize, esize))
        else:
            fields.append((fat + c * 3 // 2, 2))
    regions = [(fat, min(fatsz * bps, 8192))]
    if fat32:
        rc = u(d, b + 0x2C, 4)
        root = data + (rc - 2) * spc * bps
    fat_dir_entries(d, root, 4096, fields)
    regions.append((root, 4096))
    # Sub-folders: clusters whose first entry is ".".
    for o in range(data, min(len(d), data + 4 * 1024 * 1024), spc * bps):
        if d[o:o + 11] == b".          ":
            fat_dir_entries(d, o, spc * bps, fields, 16)
            regions.append((o, spc * bps))
    return fields, regions


def exfat_targets(img, rng):
    d, b = img.data, img.base
    fields = [(b + o, s) for o, s in [(0x40, 8), (0x48, 8), (0x50, 4), (0x54, 4), (0x58, 4), (0x5C, 4),
                                      (0x60, 4), (0x6C, 1), (0x6D, 1), (0x6E, 1), (0x6A, 2)]]
    fields += [(b + 11 * 512 + 4 * i, 4) for i in range(4)]  # the boot checksum sector
    bps = 1 << (d[b + 0x6C] if d[b + 0x6C] < 13 else 9)
    cl = bps << (d[b + 0x6D] if d[b + 0x6D] < 16 else 0)
    fat = b + u(d, b + 0x50, 4) * bps
    heap = b + u(d, b + 0x58, 4) * bps
    nclus = u(d, b + 0x5C, 4)
    for c in rng.sample(range(2, max(3, min(nclus, 4000))), min(30, max(1, nclus - 2))):
        fields.append((fat + 4 * c, 4))
    regions = [(fat, 4096), (b, 24 * 512)]
    for o in range(heap, min(len(d), heap + 2 * 1024 * 1024), cl):
        hits = 0
        for e in range(o, o + cl, 32):
            t = d[e] if e < len(d) else 0
            if t == 0x81:
                fields += [(e + 0x14, 4), (e + 0x18, 8)]
            elif t == 0x82:
                fields += [(e + 4, 4), (e + 0x14, 4), (e + 0x18, 8)]
            elif t in (0x85, 0x05):
                fields += [(e, 1), (e + 1, 1), (e + 2, 2)]
            elif t in (0xC0, 0x40):
                fields += [(e, 1), (e + 1, 1), (e + 3, 1), (e + 4, 2), (e + 8, 8), (e + 0x14, 4), (e + 0x18, 8)]
            elif t in (0xC1, 0x41):
                fields += [(e, 1), (e + 1, 1)]
            else:
                continue
            hits += 1
        if hits:
            regions.append((o, cl))
        if len(regions) > 40:
            break
    return fields, regions


def table_targets(img, rng):
    d = img.data
    fields = []
    for i in range(4):
        p = 0x1BE + 16 * i
        fields += [(p, 1), (p + 4, 1), (p + 8, 4), (p + 12, 4)]
    # Extended boot records: follow the chain a little way.
    for i in range(4):
        if d[0x1BE + 16 * i + 4] in (5, 0xF, 0x85):
            ext = u(d, 0x1BE + 16 * i + 8, 4) * 512
            e = ext
            for _ in range(8):
                fields += [(e + 0x1BE + 8, 4), (e + 0x1BE + 12, 4), (e + 0x1CE + 4, 1), (e + 0x1CE + 8, 4),
                           (e + 0x1CE + 12, 4)]
                nxt = u(d, e + 0x1CE + 8, 4)
                if not nxt:
                    break
                e = ext + nxt * 512
    if d[512:520] == b"EFI PART":
        fields += [(512 + o, s) for o, s in [(0x0C, 4), (0x10, 4), (0x20, 8), (0x28, 8), (0x30, 8), (0x48, 8),
                                             (0x50, 4), (0x54, 4), (0x58, 4)]]
        for i in range(8):
            e = 1024 + 128 * i
            fields += [(e + 0x20, 8), (e + 0x28, 8)]
    return fields, [(0, 2048)]


TARGETS = {"ntfs": ntfs_targets, "fat": fat_targets, "exfat": exfat_targets, "mbr": table_targets,
           "gpt": table_targets}


def make_case(name, seed):
    """The mutation of case SEED on fixture NAME: patches [offset, hex] and a length to cut to."""
    rng = random.Random(f"{name}:{seed}")
    kind = FIXTURES[name][0]
    img = Image(os.path.join(ARGS.fixtures, name))
    fields, regions = TARGETS[kind](img, rng)
    patches, cut, notes = [], None, []
    for _ in range(rng.choice([1, 1, 1, 2, 3, 5])):
        r = rng.random()
        if r < 0.75 and fields:
            off, size = rng.choice(fields)
            if off + size <= len(img.data):
                patches.append(field(rng, off, size))
        elif r < 0.85 and regions:
            start, length = rng.choice(regions)
            off = start + rng.randrange(max(1, length))
            patches.append([off, bytes(rng.getrandbits(8) for _ in range(rng.choice([1, 4, 16]))).hex()])
        elif r < 0.95 and regions:
            # A bad sector: read back as zeros.
            start, length = rng.choice(regions)
            off = (start + rng.randrange(max(1, length))) // 512 * 512
            patches.append([off, "00" * 512])
        else:
            cut = rng.randrange(512, len(img.data))
            notes.append("truncated")
    return {"fixture": name, "seed": seed, "patches": patches, "cut": cut}


def build_image(case, path):
    shutil.copyfile(os.path.join(ARGS.fixtures, case["fixture"]), path)
    with open(path, "r+b") as f:
        for off, hexbytes in case["patches"]:
            f.seek(off)
            f.write(bytes.fromhex(hexbytes))
        if case.get("cut"):
            f.truncate(case["cut"])


def run_host(args, timeout):
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            rc = subprocess.call([ARGS.wine_run, ARGS.host] + args, stdout=out, stderr=err,
                                 stdin=subprocess.DEVNULL, timeout=timeout)
        except subprocess.TimeoutExpired:
            return None, ""
        err.seek(0)
        return rc, err.read().decode("utf-8", "replace")


def run_case(case):
    """The failures of one case: a list of texts, empty when it ended cleanly."""
    part = FIXTURES[case["fixture"]][1]
    failures = []
    with tempfile.TemporaryDirectory(prefix="fuzzfs-") as work:
        image = os.path.join(work, "disk.img")
        build_image(case, image)
        # The volume as its metadata declares it: a cut image still holds files that
        # compress or are sparse past its end.
        size = max(os.path.getsize(image), os.path.getsize(os.path.join(ARGS.fixtures, case["fixture"])))
        for mode in case.get("modes", ARGS.modes):
            if mode == "recover":
                sandbox = os.path.join(work, "sandbox")
                out = os.path.join(sandbox, "out")
                os.makedirs(out)
                rc, err = run_host(["recover", image, "0", part, out], ARGS.timeout)
            else:
                flag = {"list": [], "formatted": ["--formatted"], "deep": ["--deep"]}[mode]
                rc, err = run_host(["list"] + flag + [image, "0", part], ARGS.timeout)
            if rc is None:
                failures.append(f"{mode}: no end within {ARGS.timeout} s")
            elif rc not in CLEAN_EXITS or "nhandled" in err:
                failures.append(f"{mode}: ended by exception (exit {rc:#x})")
            if mode == "recover":
                for top, dirs, files in os.walk(sandbox):
                    for f in files:
                        p = os.path.realpath(os.path.join(top, f))
                        if not p.startswith(os.path.realpath(out) + os.sep):
                            failures.append(f"recover: wrote {p} outside its folder")
                        elif not os.path.islink(p) and os.path.getsize(p) > size:
                            failures.append(f"recover: {os.path.relpath(p, out)} of {os.path.getsize(p)} bytes "
                                            f"on a {size}-byte disk")
                shutil.rmtree(sandbox, ignore_errors=True)
    return failures


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("wine_run")
    p.add_argument("host")
    p.add_argument("fixtures")
    p.add_argument("--seeds", default="0:20")
    p.add_argument("--jobs", type=int, default=4)
    p.add_argument("--timeout", type=float, default=60)
    p.add_argument("--modes", default="list,formatted,deep,recover")
    p.add_argument("--fixture", action="append")
    p.add_argument("--replay")
    ARGS = p.parse_args()
    ARGS.modes = ARGS.modes.split(",")
    if ARGS.replay:
        with open(ARGS.replay) as f:
            cases = [json.loads(line) for line in f if line.strip() and not line.startswith("#")]
    else:
        a, b = (int(x) for x in ARGS.seeds.split(":"))
        names = ARGS.fixture or sorted(FIXTURES)
        cases = [make_case(n, s) for s in range(a, b) for n in names]
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(ARGS.jobs) as pool:
        for case, fails in zip(cases, pool.map(run_case, cases)):
            label = case.get("note") or f"{case['fixture']} seed {case['seed']}"
            if fails:
                failed += 1
                for f in fails:
                    print(f"FAIL {label}: {f}")
                print("CASE " + json.dumps({k: v for k, v in case.items()}), flush=True)
            else:
                print(f"ok   {label}", flush=True)
    print(f"{len(cases)} case(s), {failed} failed")
    if failed:
        return 1
    print("ALL CHECKS PASSED")
    return 0


if __name__ == "__main__":
    sys.exit(main())
