#!/usr/bin/env python3
"""NTFS scan benchmark: recovery-host list (under Wine) against sleuthkit's fls -r -p.

Usage: bench/ntfs-scan.py BUILD_DIR [--layout NAME ...] [--runs N] [--no-fls]
Layouts (images made once in BUILD_DIR/bench/ and reused):
  small      48 entries in 3 folders (latency: the scan's own work is a few ms)
  200x1000   200 folders of 1,000 empty files
  2000x100   2,000 folders of 100 empty files
  huge       100 folders of 1,000 files plus one folder of 100,000 entries
  1000x1000  1,000,000 files (memory per million records; use --no-fls, fls needs minutes)
Each side runs --runs times (default 5), alternating; the headline is the median.
The listings are compared (user files and folders by path, deleted state and size) and
the benchmark stops when they differ.
"""
import argparse, os, re, subprocess, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchlib import Wineserver, alternate, machine_facts, run_quiet, stamp

LAYOUTS = {
    # name: (folders, files per folder, entries of one extra huge folder)
    "small": (3, 15, 0),
    "200x1000": (200, 1000, 0),
    "2000x100": (2000, 100, 0),
    "huge": (100, 1000, 100000),
    "1000x1000": (1000, 1000, 0),
}


def sh(*cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def populate(root, folders, files, huge):
    for d in range(folders):
        p = f"{root}/d{d:04d}"
        os.mkdir(p)
        for i in range(files):
            os.close(os.open(f"{p}/f{i:06d}.txt", os.O_CREAT | os.O_WRONLY, 0o644))
    if huge:
        p = f"{root}/big"
        os.mkdir(p)
        for i in range(huge):
            os.close(os.open(f"{p}/e{i:07d}.dat", os.O_CREAT | os.O_WRONLY, 0o644))


def make_image(path, layout):
    if os.path.exists(path):
        return
    folders, files, huge = LAYOUTS[layout]
    total = folders * files + huge
    tmp, mnt = path + ".tmp", path + ".mnt"
    # 1 KiB per record plus index blocks; sparse, so the slack costs nothing.
    size = max(64, total * 4 // 1000) * 1024 * 1024
    with open(tmp, "wb") as f:
        f.truncate(size)
    sh("mkntfs", "-F", "-Q", "-q", tmp, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.makedirs(mnt, exist_ok=True)
    sh("ntfs-3g", tmp, mnt, "-o", "big_writes")
    t = time.time()
    try:
        populate(mnt, folders, files, huge)
    finally:
        sh("umount", mnt)
    os.rmdir(mnt)
    print(f"  populated {total} files in {folders + (1 if huge else 0)} folders in {time.time() - t:.1f} s",
          flush=True)
    os.rename(tmp, path)


def mft_records(img):
    info = subprocess.run(["ntfsinfo", "-m", img], capture_output=True, text=True).stdout
    rec = int(re.search(r"MFT Record Size:\s*(\d+)", info).group(1))
    inode = subprocess.run(["ntfsinfo", "-i", "0", img], capture_output=True, text=True).stdout
    data = inode.split("Dumping attribute $DATA", 1)[1]
    size = int(re.search(r"Data size:\s*(\d+)", data).group(1))
    return size // rec


def ours(listing):
    """User entries of a recovery-host listing: path -> (deleted, folder, size)."""
    out = {}
    with open(listing, encoding="utf-8", errors="replace") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if len(parts) != 5:
                continue
            deleted, folder, size, _, path = parts
            path = path.lstrip("/")
            if not path or any(c.startswith("$") for c in path.split("/")) or path.startswith(("LostPath", "UnknownPath")):
                continue
            out[path] = (deleted == "1", folder == "1")
    return out


def theirs(flsfile):
    """The same from `fls -r -p`: "r/r 64-128-2:\tpath", deleted ones with " * "."""
    out = {}
    with open(flsfile, encoding="utf-8", errors="replace") as f:
        for line in f:
            head, _, path = line.rstrip("\n").partition("\t")
            if not path or any(c.startswith("$") for c in path.split("/")):
                continue
            kind = head.split()[0]
            out[path] = ("*" in head.split(), kind.endswith("/d"))
    return out


def compare(listing, flsfile):
    a, b = ours(listing), theirs(flsfile)
    if a != b:
        only_a = sorted(set(a) - set(b))[:5]
        only_b = sorted(set(b) - set(a))[:5]
        differ = [p for p in sorted(set(a) & set(b)) if a[p] != b[p]][:5]
        sys.exit(f"listings differ: {listing} {len(a)} entries, {flsfile} {len(b)};"
                 f" only ours {only_a}, only fls {only_b}, differing {differ}")
    return len(a)


def stats(text):
    m = re.search(r"stats: working set before scan (\d+) KiB, after scan (\d+) KiB, peak (\d+) KiB,"
                  r" scan (\d+) ms", text)
    return tuple(int(x) for x in m.groups()) if m else None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--layout", action="append", choices=sorted(LAYOUTS))
    ap.add_argument("--runs", type=int, default=5, help="timed runs per side (median and best)")
    ap.add_argument("--no-fls", action="store_true", help="skip fls (and the listing comparison)")
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    work = os.path.join(build, "bench")
    os.makedirs(work, exist_ok=True)
    with Wineserver(build):
        bench(a, build, work)


def bench(a, build, work):
    host = [os.path.join(build, "wine-run"), os.path.join(build, "bin/recovery-host.exe")]
    print(f"{stamp()}; {machine_facts(build)}")
    print(f"command: {' '.join(sys.argv)}")

    def bare():
        t = time.perf_counter()
        run_quiet(host)
        return time.perf_counter() - t

    start = alternate(a.runs, [("start-up", bare)])
    print(f"wine start-up (recovery-host, no arguments): {start.show('start-up')}")
    startup = start.median("start-up")
    rows = []
    for layout in a.layout or ["small", "200x1000", "2000x100", "huge"]:
        img = os.path.join(work, f"ntfs-{layout}.img")
        folders, files, huge = LAYOUTS[layout]
        print(f"image {img}: {folders} folders x {files} files" + (f" + 1 folder x {huge}" if huge else ""),
              flush=True)
        make_image(img, layout)
        recs = mft_records(img)
        listing = os.path.join(work, f"list-{layout}.txt")
        flsfile = os.path.join(work, f"fls-{layout}.txt")
        figures = []

        def run_host():
            t = time.perf_counter()
            with open(listing, "w") as out, open(listing + ".err", "w") as err:
                rc = subprocess.run(host + ["list", "--stats", img, "0", "1"], stdout=out, stderr=err).returncode
            dt = time.perf_counter() - t
            with open(listing + ".err", errors="replace") as err:
                text = err.read()
            if rc != 0:
                sys.exit(f"recovery-host failed ({rc}): {text[-500:]}")
            figures.append(stats(text))
            return dt

        def run_fls():
            t = time.perf_counter()
            with open(flsfile, "w") as out:
                sh("fls", "-r", "-p", img, stdout=out)
            return time.perf_counter() - t

        sides = [("host", run_host)] + ([] if a.no_fls else [("fls", run_fls)])
        timed = alternate(a.runs, sides)
        entries = compare(listing, flsfile) if not a.no_fls else len(ours(listing))
        before, after, peak, scan_ms = max(f for f in figures if f)
        per_million = (after - before) / 1024 / recs * 1e6
        rows.append((layout, recs, entries, timed, per_million, peak, scan_ms))
        print(f"  records {recs}, {entries} user entries" + ("" if a.no_fls else " (listings equal)"))
        print(f"  host: {timed.show('host')}; scan inside the host {scan_ms} ms (last run)")
        if not a.no_fls:
            print(f"  fls:  {timed.show('fls')}")
        print(f"  host working set: {before / 1024:.1f} MiB before the scan, {after / 1024:.1f} MiB after it"
              f" (peak {peak / 1024:.1f} MiB with the listing)"
              + (f": {per_million:.0f} MiB per million records" if recs >= 10000 else ""), flush=True)

    print()
    print("median of the alternating runs (best in brackets); host/fls is the ratio of the rates (above 1: ours is"
          " faster); host = recovery-host list under Wine end to end, start-up included; scan-only takes off the"
          f" median bare start-up ({startup:.3f} s); MiB/M = the DLL's working-set growth per million records.")
    print(f"{'layout':>10} {'records':>8} {'host s':>14} {'scan-only s':>11} {'fls s':>14} {'host/fls':>8}"
          f" {'MiB/M':>6}")
    for layout, recs, entries, timed, per_million, peak, scan_ms in rows:
        h = timed.median("host")
        f = timed.median("fls") if "fls" in timed.times else float("nan")
        fb = timed.best("fls") if "fls" in timed.times else float("nan")
        print(f"{layout:>10} {recs:>8} {h:>6.3f} ({timed.best('host'):.3f}) {max(h - startup, 0):>11.3f}"
              f" {f:>6.3f} ({fb:.3f}) {f / h:>8.2f} {per_million if recs >= 10000 else float('nan'):>6.0f}")


if __name__ == "__main__":
    main()
