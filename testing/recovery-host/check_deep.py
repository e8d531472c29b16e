#!/usr/bin/env python3
"""Deep scans, end to end through Intermediate.dll: volumes filled with sample files of
every carved format (samples.py), then wiped of their file system, scanned raw.

- FAT16 with its boot sector and FATs zeroed, NTFS with its boot sectors and $MFT zeroed:
  `list --deep` lists every sample with its size and an extension taken from its content,
  `recover --deep` writes each byte-exact; photorec, run on the same image, recovers no
  more of them;
- the result database (read with the sqlite3 command line) holds the schema and one row
  per hit, and a partition row whose resume position is the scanned size;
- a scan stopped part-way and started again with its result file ends with the same
  files as the uninterrupted one, and `load` of the finished file lists them again;
- combined scans of an NTFS and a FAT volume (files by name and by content, recovered
  both ways on FAT) and the whole-disk scan give each listed entry's full path."""
import collections
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

from checks import check, host, run, verdict

import samples

SECTOR = 512
MiB = 1024 * 1024
def zero(path, offset, length):
    with open(path, "r+b") as f:
        f.seek(offset)
        f.write(b"\0" * length)


def fat_volume(work, files):
    img = os.path.join(work, "fat.img")
    with open(img, "wb") as f:
        f.truncate(48 * MiB)
    run(["mkfs.fat", "-F", "16", "-n", "DEEPFAT", img]).check_returncode()
    for name in files:
        run(["mcopy", "-i", img, os.path.join(work, "samples", name), "::/" + name]).check_returncode()
    with open(img, "rb") as f:
        boot = f.read(SECTOR)
    reserved, fats, root_entries = struct.unpack_from("<H", boot, 14)[0], boot[16], struct.unpack_from("<H", boot, 17)[0]
    fat_sectors = struct.unpack_from("<H", boot, 22)[0]
    # Boot sector, both FATs and the root folder: nothing of the file system is left.
    zero(img, 0, (reserved + fats * fat_sectors + root_entries * 32 // SECTOR) * SECTOR)
    return img


def ntfs_volume(work, files):
    img = os.path.join(work, "ntfs.img")
    with open(img, "wb") as f:
        f.truncate(48 * MiB)
    run(["mkntfs", "-F", "-Q", "-q", "-L", "DEEPNTFS", img]).check_returncode()
    for name in files:
        run(["ntfscp", "-q", img, os.path.join(work, "samples", name), name]).check_returncode()
    shutil.copyfile(img, os.path.join(work, "ntfs-whole.img"))
    with open(img, "rb") as f:
        boot = f.read(SECTOR)
    cluster = struct.unpack_from("<H", boot, 11)[0] * boot[13]
    total = struct.unpack_from("<Q", boot, 40)[0]
    mft, mirror = struct.unpack_from("<QQ", boot, 48)
    zero(img, 0, SECTOR)
    zero(img, total * SECTOR, SECTOR)  # the backup boot sector
    zero(img, mft * cluster, MiB)     # $MFT: no record names a file any more
    zero(img, mirror * cluster, 4 * 1024)
    return img


def fat_named_volume(work, names):
    """FAT16 (its root is cluster 0, Root:1 as the combined root) that keeps its file
    system: the samples in folders under long names."""
    img = os.path.join(work, "fat-named.img")
    with open(img, "wb") as f:
        f.truncate(48 * MiB)
    run(["mkfs.fat", "-F", "16", "-n", "NAMEDFAT", img]).check_returncode()
    run(["mmd", "-i", img, "::/Sample files", "::/Sample files/second level"]).check_returncode()
    placed = {}
    for i, name in enumerate(names):
        folder = ("Sample files", "Sample files/second level", "")[i % 3]
        path = (folder + "/" if folder else "") + "copy of " + name
        run(["mcopy", "-i", img, os.path.join(work, "samples", name), "::/" + path]).check_returncode()
        placed[name] = path
    return img, placed


def path_rows(out):
    """(listed path, library path, id, source) of every line of list --paths."""
    rows = []
    for line in out.splitlines():
        c = line.split("\t")
        if len(c) == 9:
            rows.append((c[4], c[5], c[6], int(c[7], 16)))
    return rows


def check_full_paths(label, out, halves):
    """QueryFileFullPath of each listed id gives the path the tree walk showed ("/LostPath"
    for "/UnknownPath"); an id that two halves share cannot name one entry and is left
    out. Each source word of halves must be among those compared."""
    rows = path_rows(out)
    sources = collections.defaultdict(set)
    for _, _, entry, source in rows:
        sources[entry].add(source)
    compared = [r for r in rows if len(sources[r[2]]) == 1]
    wrong = [r for r in compared if r[1] != re.sub(r"^/UnknownPath", "/LostPath", r[0])]
    check(rows and not wrong, f"{label}: full paths of {len(compared)} of {len(rows)} entries as listed {wrong[:3]}")
    for source in halves:
        n = sum(1 for r in compared if (r[3] == 0x10000) == (source == 0x10000))
        check(n > 0, f"{label}: {n} full paths asked of the {'raw' if source == 0x10000 else 'file-system'} half")


made_results = set()  # result databases the scans left beside the host, removed at the end


def listed(out):
    """(name, size) of every entry line of list/load, and the result file."""
    rows, result = [], None
    for line in out.splitlines():
        c = line.split("\t")
        if len(c) == 5 and c[1] == "0":
            rows.append((c[4].lstrip("/"), int(c[2])))
        elif line.startswith("result: "):
            result = line[len("result: "):]
            made_results.add(linux_path(result))
    return rows, result


def listed_paths(out):
    """(path, size) of the files of list --paths."""
    rows = []
    for line in out.splitlines():
        c = line.split("\t")
        if len(c) == 9 and c[1] == "0":
            rows.append((c[4].lstrip("/"), int(c[2])))
    return rows, None


def linux_path(windows):
    return windows[2:].replace("\\", "/") if windows and windows[:2].upper() == "Z:" else windows


def digests(folder):
    out = collections.defaultdict(list)
    for root, _, names in os.walk(folder):
        for n in names:
            with open(os.path.join(root, n), "rb") as f:
                out[hashlib.sha256(f.read()).hexdigest()].append(n)
    return out


def extension(name):
    ext = name.rsplit(".", 1)[-1].lower()
    return {"jpeg": "jpg"}.get(ext, ext)


def photorec(img, work):
    """Names by SHA-256 of what photorec recovers from img; None where it is missing."""
    if not shutil.which("photorec"):
        return None
    out = os.path.join(work, "photorec-" + os.path.basename(img))
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    run(["photorec", "/log", "/d", out + "/r", "/cmd", img, "partition_none,fileopt,everything,enable,search"],
        cwd=work, timeout=900)
    folders = [os.path.join(out, d) for d in os.listdir(out)] if os.path.isdir(out) else []
    found = collections.defaultdict(list)
    for d in folders:
        for k, v in digests(d).items():
            found[k] += v
    return found


def sqlite(db, sql):
    return run(["sqlite3", db, sql]).stdout.strip()


def scan_volume(wine_run, exe, img, expected, work, label):
    r = host(wine_run, exe, "list", "--deep", img, "0", "0x2000")
    rows, result = listed(r.stdout)
    check(r.returncode == 0, f"{label}: list --deep ran (rc {r.returncode}) {r.stderr[-300:] if r.returncode else ''}")
    by_size = collections.defaultdict(list)
    for name, size in rows:
        by_size[size].append(name)
    for name, size, _ in expected:
        hits = [n for n in by_size.get(size, []) if extension(n) == extension(name)]
        check(len(hits) == 1, f"{label}: {name} ({size} bytes) listed once with its extension: {by_size.get(size)}")

    out = os.path.join(work, label + "-recovered")
    r = host(wine_run, exe, "recover", "--deep", img, "0", "0x2000", out)
    check(r.returncode == 0, f"{label}: recover --deep wrote every hit ({r.stdout.strip()[-80:]})")
    got = digests(out)
    ours = {name for name, _, sha in expected if any(extension(n) == extension(name) for n in got.get(sha, []))}
    check(ours == {name for name, _, _ in expected},
          f"{label}: recovered byte-exact: {len(ours)}/{len(expected)}, missing {sorted({n for n, _, _ in expected} - ours)}")
    peer = photorec(img, work)
    if peer is None:
        print(f"note {label}: photorec not installed, not compared")
    else:
        theirs = {name for name, _, sha in expected if sha in peer}
        print(f"note {label}: photorec recovered {len(theirs)}/{len(expected)} byte-exact, this scan {len(ours)}")
        check(theirs <= ours, f"{label}: every sample photorec recovers is recovered here too: {sorted(theirs - ours)}")
    return rows, linux_path(result)


def main():
    wine_run, exe = sys.argv[1], sys.argv[2]
    for tool in ("mkfs.fat", "mcopy", "mkntfs", "ntfscp", "sqlite3"):
        if not shutil.which(tool):
            sys.exit(f"{tool} missing")
    work = tempfile.mkdtemp(prefix="deep-")
    try:
        expected = samples.make(os.path.join(work, "samples"))
        names = [n for n, _, _ in expected]
        check(len(expected) >= 13, f"{len(expected)} sample files")
        fat = fat_volume(work, names)
        ntfs = ntfs_volume(work, names)
        check(run(["fsstat", fat]).returncode != 0 and run(["fsstat", ntfs]).returncode != 0,
              "neither wiped volume has a file system sleuthkit reads")

        # The combined scan of the volume before it was wiped: its files by the file
        # system and by their content, from one task.
        r = host(wine_run, exe, "list", "--deep", "--paths", os.path.join(work, "ntfs-whole.img"), "0", "1")
        rows, _ = listed_paths(r.stdout)
        named = {n for n, _ in rows}
        check(r.returncode == 0 and all(n in named for n in names), f"combined: every file by its name ({len(rows)} entries)")
        carved = [n for n, _ in rows if re.fullmatch(r"f\d{10}\.\w+", n)]
        check(len(carved) == len(names), f"combined: and every file again by its content ({len(carved)})")
        finals = [int(m) for m in re.findall(r"final progress (\d+)", r.stderr)]
        check(finals == [10000], f"combined: progress ends at 10000 ({finals})")
        check_full_paths("combined", r.stdout, (0, 0x10000))

        # The combined scan of a FAT volume of its own: every sample under its long name
        # and folder, every sample again by content, both recovered byte-exact, and the
        # full path of each entry as the tree shows it.
        fat_named, placed = fat_named_volume(work, names)
        r = host(wine_run, exe, "list", "--deep", "--paths", fat_named, "0", "1")
        rows, _ = listed_paths(r.stdout)
        named = {n for n, _ in rows}
        check(r.returncode == 0 and all(p in named for p in placed.values()),
              f"fat combined: every file at its path ({len(rows)} entries) {sorted(set(placed.values()) - named)[:3]}")
        carved = [n for n, _ in rows if re.fullmatch(r"f\d{10}\.\w+", n)]
        check(len(carved) == len(names), f"fat combined: and every file again by its content ({len(carved)})")
        check_full_paths("fat combined", r.stdout, (0, 0x10000))
        out = os.path.join(work, "fat-combined-out")
        r = host(wine_run, exe, "recover", "--deep", fat_named, "0", "1", out)
        shas = {name: sha for name, _, sha in expected}
        by_path = {}
        for root, _, files in os.walk(out):
            for n in files:
                with open(os.path.join(root, n), "rb") as f:
                    by_path[os.path.relpath(os.path.join(root, n), out).replace(os.sep, "/")] = \
                        hashlib.sha256(f.read()).hexdigest()
        named_ok = [n for n, p in placed.items() if by_path.get(p) == shas[n]]
        carved_ok = {n for n in names if sum(1 for p, h in by_path.items() if h == shas[n]) >= 2}
        check(r.returncode == 0 and len(named_ok) == len(names),
              f"fat combined: recovered byte-exact at their paths {len(named_ok)}/{len(names)}")
        check(carved_ok == set(names), f"fat combined: and again from their content: {sorted(set(names) - carved_ok)}")

        # The whole-disk scan of a disk holding that volume as its one partition: the
        # partition's files by name, every file by content, progress that never falls.
        disk = os.path.join(work, "disk.img")
        with open(disk, "wb") as f:
            f.truncate(MiB + os.path.getsize(os.path.join(work, "ntfs-whole.img")) + MiB)
        vol_sectors = os.path.getsize(os.path.join(work, "ntfs-whole.img")) // SECTOR
        run(["sfdisk", "-q", disk], input=f"label: dos\nstart=2048, size={vol_sectors}, type=7\n").check_returncode()
        with open(os.path.join(work, "ntfs-whole.img"), "rb") as src, open(disk, "r+b") as dst:
            dst.seek(MiB)
            dst.write(src.read())
        r = host(wine_run, exe, "list", "--disk", "--paths", disk, "0", "0")
        rows, _ = listed_paths(r.stdout)
        named = {n.split("/")[-1] for n, _ in rows}
        check(r.returncode == 0 and all(n in named for n in names), f"whole disk: every file by its name ({len(rows)})")
        carved = [n for n, _ in rows if re.fullmatch(r"f\d{10}\.\w+", n)]
        check(len(carved) == len(names), f"whole disk: and every file again by its content ({len(carved)})")
        seen = [int(m) for m in re.findall(r"progress (\d+),", r.stderr)]
        check(seen and seen == sorted(seen) and seen[-1] == 10000, f"whole disk: progress never falls, ends at 10000")
        check_full_paths("whole disk", r.stdout, (0, 0x10000))

        for img, label in ((fat, "fat16"), (ntfs, "ntfs")):
            rows, result = scan_volume(wine_run, exe, img, expected, work, label)
            check(result is not None and os.path.exists(result), f"{label}: result file {result}")
            if not result or not os.path.exists(result):
                continue
            schema = sqlite(result, ".schema")
            check("CREATE TABLE FileInfo(id integer primary key, name text, parentID integer, size integer, "
                  "modifyTime integer, attributes integer);" in schema, f"{label}: FileInfo schema")
            check("driveLetter integer,partType integer, progress integer);" in schema, f"{label}: PartitionInfo schema")
            check(sqlite(result, "select count(*) from FileInfo;") == str(len(rows)), f"{label}: one row per hit")
            check(sqlite(result, "select min(id) > 8, max(parentID), min(parentID) from FileInfo;") == "1|8|8",
                  f"{label}: hits by location under the root")
            check(sqlite(result, "select partIndex, progress from PartitionInfo;") == f"8192|{os.path.getsize(img)}",
                  f"{label}: partition row with the whole size scanned")

            # Stopped part-way, then resumed from the stored position.
            r = host(wine_run, exe, "list", "--deep", "--stop-at", "1", img, "0", "0x2000")
            part, stopped = listed(r.stdout)
            stopped = linux_path(stopped)
            progress = int(sqlite(stopped, "select progress from PartitionInfo;") or 0) if stopped else 0
            check(0 < progress < os.path.getsize(img) and len(part) < len(rows),
                  f"{label}: stopped at byte {progress} with {len(part)} of {len(rows)} files")
            r = host(wine_run, exe, "list", "--deep", "--result", stopped, img, "0", "0x2000")
            resumed, again = listed(r.stdout)
            check(sorted(resumed) == sorted(rows), f"{label}: the resumed scan ends with the same files")
            check(linux_path(again) == stopped, f"{label}: the resumed scan goes on in its own result file")
            check(sqlite(stopped, "select count(*) from FileInfo;") == str(len(rows)),
                  f"{label}: the resumed scan stored what it added")
            r = host(wine_run, exe, "load", stopped, img)
            loaded, _ = listed(r.stdout)
            check(r.returncode == 0 and sorted(loaded) == sorted(rows), f"{label}: load lists the same files")
    finally:
        shutil.rmtree(work, ignore_errors=True)
        for path in made_results:
            if path and os.path.exists(path):
                os.remove(path)
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
