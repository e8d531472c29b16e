#!/usr/bin/env python3
"""Lost partitions, end to end through Intermediate.dll: a disk with an NTFS, a FAT32 and
an exFAT partition laid out by sfdisk, its MBR zeroed.

- recovery-host partitions finds all three with the starts and sizes sfdisk wrote (and
  testdisk's own search agrees, where testdisk is installed), and leaves the image as it was;
- recovery-host repair-table writes a table that sfdisk -d and sleuthkit's mmls read back
  with those starts and sizes;
- with each boot sector zeroed in turn (NTFS, FAT32's sector 0, exFAT's whole main boot
  region), the search still finds the partition by its backup, recovery-host repair-boot
  restores it from the backup, and fsstat reads the volume again; a partition whose backup is gone as well is left untouched."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

from checks import check, host, run, verdict

SECTOR = 512
MiB = 1024 * 1024
# (start sector, sectors, type word, sfdisk type, mkfs command)
LAYOUT = [
    (2048, 16 * MiB // SECTOR, 256, "7"),
    (2048 + 17 * MiB // SECTOR, 40 * MiB // SECTOR, 4, "c"),
    (2048 + 58 * MiB // SECTOR, 8 * MiB // SECTOR, 512, "7"),
]
DISK_BYTES = 72 * MiB
FSSTAT_TYPE = {256: "NTFS", 4: "FAT32", 512: "exFAT"}

def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def make_volume(path, sectors, fs, start):
    with open(path, "wb") as f:
        f.truncate(sectors * SECTOR)
    if fs == 256:
        cmd = ["mkntfs", "-F", "-Q", "-q", "-p", str(start), "-L", "LOSTNTFS", path]
    elif fs == 4:
        cmd = ["mkfs.fat", "-F", "32", "-s", "1", "-h", str(start), "-n", "LOSTFAT32", path]
    else:
        cmd = ["mkfs.exfat", "-L", "LOSTEXFAT", path]
    r = run(cmd)
    if r.returncode != 0:
        sys.exit(f"{cmd[0]} failed: {r.stderr}")


def make_disk(work):
    disk = os.path.join(work, "lost.img")
    with open(disk, "wb") as f:
        f.truncate(DISK_BYTES)
    script = "label: dos\n" + "".join(f"start={s}, size={n}, type={t}\n" for s, n, _, t in LAYOUT)
    r = run(["sfdisk", "-q", disk], input=script)
    if r.returncode != 0:
        sys.exit(f"sfdisk failed: {r.stderr}")
    for i, (start, sectors, fs, _) in enumerate(LAYOUT):
        vol = os.path.join(work, f"vol{i}.img")
        make_volume(vol, sectors, fs, start)
        with open(vol, "rb") as src, open(disk, "r+b") as dst:
            dst.seek(start * SECTOR)
            dst.write(src.read())
        os.remove(vol)
    written = sfdisk_table(disk)
    with open(disk, "r+b") as f:
        f.write(b"\0" * SECTOR)  # the MBR is gone
    return disk, written


def sfdisk_table(disk):
    r = run(["sfdisk", "-d", disk])
    return sorted((int(m.group(1)), int(m.group(2)))
                  for m in re.finditer(r"start=\s*(\d+), size=\s*(\d+)", r.stdout))


def mmls_table(disk):
    r = run(["mmls", disk])
    rows = []
    for line in r.stdout.splitlines():
        c = line.split()
        # Slot column "000:000" marks a partition; "Meta" and "-------" rows do not.
        if len(c) >= 6 and re.fullmatch(r"\d+:\d+", c[1]):
            rows.append((int(c[2]), int(c[4])))
    return sorted(rows)


def testdisk_table(disk, work):
    """(start, sectors) of testdisk's own search of the same disk, from the last table
    its log lists; None where testdisk is not installed."""
    if not shutil.which("testdisk"):
        return None
    log = os.path.join(work, "testdisk.log")
    if os.path.exists(log):
        os.remove(log)
    run(["testdisk", "/log", "/cmd", disk, "analyse,search"], cwd=work, timeout=300)
    if not os.path.exists(log):
        return None
    heads, per_track, rows = 255, 63, []
    with open(log, errors="replace") as f:
        for line in f:
            g = re.search(r"CHS \d+ (\d+) (\d+)", line)
            if g:
                heads, per_track = int(g.group(1)), int(g.group(2))
            if line.startswith("interface_write()"):
                rows = []
            # " 1 * HPFS - NTFS   0  32 33     2  42 40      32768 [LABEL]": start and end
            # as cylinder, head, sector, then the size in sectors.
            m = re.match(r"^\s*\d+ [*PLED] .*?\s(\d+)\s+(\d+)\s+(\d+)\s+\d+\s+\d+\s+\d+\s+(\d+)(\s|$)", line)
            if m:
                c, h, sec = int(m.group(1)), int(m.group(2)), int(m.group(3))
                rows.append(((c * heads + h) * per_track + sec - 1, int(m.group(4))))
    return sorted(rows)


def found_rows(out):
    rows = []
    for line in out.splitlines():
        c = line.split("\t")
        if c[0] == "found":
            rows.append((int(c[2]), int(c[3]), int(c[4]), c[5]))
    return rows


def main():
    wine_run, exe = sys.argv[1], sys.argv[2]
    for tool in ("sfdisk", "mkntfs", "mkfs.fat", "mkfs.exfat", "mmls", "fsstat"):
        if not shutil.which(tool):
            sys.exit(f"{tool} missing")
    work = tempfile.mkdtemp(prefix="partitions-")
    try:
        disk, written = make_disk(work)
        expected = [(s, n, fs) for s, n, fs, _ in LAYOUT]
        check(written == [(s, n) for s, n, _ in expected], f"sfdisk wrote the layout: {written}")
        before = sha(disk)

        r = host(wine_run, exe, "partitions", disk, "0")
        rows = found_rows(r.stdout)
        check(r.returncode == 0, f"partitions ran (rc {r.returncode}) {r.stderr[-300:] if r.returncode else ''}")
        check([(s, n, t) for s, n, t, _ in rows] == expected, f"search found {rows}, sfdisk wrote {expected}")
        check(all(b == "ok" for *_, b in rows), "every boot sector found whole")
        check(sha(disk) == before, "the search wrote nothing to the image")
        peer = testdisk_table(disk, work)
        if peer is None:
            print("note testdisk not installed or left no log: its search not compared")
        else:
            check(peer == [(s, n) for s, n, _ in expected], f"testdisk's search finds the same: {peer}")

        r = host(wine_run, exe, "repair-table", disk, "0")
        check(r.returncode == 0 and "repair-table: 0" in r.stdout, f"repair-table: {r.stdout.strip()[-200:]}")
        table = [(s, n) for s, n, _ in expected]
        check(sfdisk_table(disk) == table, f"sfdisk -d reads the repaired table: {sfdisk_table(disk)}")
        check(mmls_table(disk) == table, f"mmls reads the repaired table: {mmls_table(disk)}")

        # Boot sectors lost one at a time, each restored from its backup.
        for number, (start, sectors, fs) in enumerate(expected, 1):
            lost = 12 if fs == 512 else 1
            with open(disk, "r+b") as f:
                f.seek(start * SECTOR)
                f.write(b"\0" * (lost * SECTOR))
            listed = host(wine_run, exe, "disks", disk).stdout
            check(f"part\t0\t{number}\t0\t" in listed, f"partition {number}: no file system seen once zeroed")
            r = host(wine_run, exe, "partitions", disk, "0")
            flags = [(s, b) for s, _, _, b in found_rows(r.stdout)]
            want = [(s, "backup" if s == start else "ok") for s, _, _ in expected]
            check(flags == want, f"partition {number}: the search finds it by its backup: {flags}")
            r = host(wine_run, exe, "repair-boot", disk, "0", str(number))
            check(r.returncode == 0 and f"part\t{number}\t{fs}" in r.stdout,
                  f"partition {number}: repair-boot -> {r.stdout.strip()} rc {r.returncode}")
            st = run(["fsstat", "-o", str(start), disk])
            check(st.returncode == 0 and FSSTAT_TYPE[fs] in st.stdout,
                  f"partition {number}: fsstat reads {FSSTAT_TYPE[fs]} again")
            fl = run(["fls", "-o", str(start), disk])
            check(fl.returncode == 0, f"partition {number}: fls lists the root")

        # Without a backup nothing can be restored, and nothing is written.
        start, sectors, _ = expected[1]
        with open(disk, "r+b") as f:
            for s in (0, 6):
                f.seek((start + s) * SECTOR)
                f.write(b"\0" * SECTOR)
        before = sha(disk)
        r = host(wine_run, exe, "repair-boot", disk, "0", "2")
        check(r.returncode != 0 and "part\t2\t0" in r.stdout, f"no backup: repair-boot -> {r.stdout.strip()}")
        check(sha(disk) == before, "no backup: the image is unchanged")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
