#!/usr/bin/env python3
"""FAT32 and exFAT benchmark: recovery-host list (under Wine) against sleuthkit's
fls -r -p, and recovery of one big file against icat.

Usage: bench/fat-scan.py BUILD_DIR [--folders N] [--files N] [--recover-mb N] [--repeat N]
Scan images: N folders of M empty files each (default 200 x 1000 = 200,000 files;
FAT32: under the root, exFAT: in groups of ten under top folders), written straight into volumes made by mkfs.fat / mkfs.exfat. Recovery
images: one file of --recover-mb MiB (default 500). Images go to BUILD_DIR/bench/ and
are made again only when missing. Prints records, seconds (best of --repeat, the host's
including its scan and Wine's start-up), records per second, the ratio (above 1: ours is
faster), MB/s for recovery, and the peak RSS of the Wine process.
"""
import argparse
import hashlib
import os
import struct
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "testing", "fixtures", "fat"))
import fatimg  # noqa: E402

SECTOR = 512


def fat32_scan_image(path, folders, files):
    if os.path.exists(path):
        return
    clusters_needed = folders * ((files + 2) * 32 // 4096 + 2) + 64
    # FAT32 needs at least 65525 clusters
    size = max(300 << 20, clusters_needed * 4096 * 2)
    with open(path + ".tmp", "wb") as f:
        f.truncate(size)
    subprocess.run(["mkfs.fat", "-F", "32", "-s", "8", "-n", "BENCH32", path + ".tmp"], check=True,
                   stdout=subprocess.DEVNULL)
    with open(path + ".tmp", "r+b") as f:
        boot = f.read(512)
        bps, spc, reserved, fats = struct.unpack_from("<HBHB", boot, 11)
        fatsz = struct.unpack_from("<I", boot, 36)[0]
        cluster = bps * spc
        heap = (reserved + fats * fatsz) * bps
        fat = bytearray(fatsz * bps)
        f.seek(reserved * bps)
        fat[:] = f.read(len(fat))
        at = lambda c: heap + (c - 2) * cluster
        nxt = [3]

        def alloc(n):
            first = nxt[0]
            for k in range(n):
                struct.pack_into("<I", fat, 4 * (first + k), first + k + 1 if k + 1 < n else 0x0FFFFFFF)
            nxt[0] += n
            return first

        stamp = struct.pack("<HHH", 0, 0, 0)
        root = bytearray()
        for d in range(folders):
            name = b"D%05d     " % d
            entries = bytearray()
            n = (files + 2) * 32
            count = (n + cluster - 1) // cluster
            first = alloc(count)
            dot = struct.pack("<11sBBBHHHHHHHI", b".          ", 0x10, 0, 0, 0, 0, 0, first >> 16, 0, 0,
                              first & 0xFFFF, 0)
            dotdot = struct.pack("<11sBBBHHHHHHHI", b"..         ", 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)
            entries += dot + dotdot
            for i in range(files):
                entries += struct.pack("<11sBBBHHHHHHHI", b"F%06d TXT" % i, 0x20, 0, 0, 0, 0x5B8B, 0x5B8B, 0,
                                       0xB1AA, 0x576E, 0, 0)
            f.seek(at(first))
            f.write(entries)
            root += struct.pack("<11sBBBHHHHHHHI", name, 0x10, 0, 0, 0, 0x5B8B, 0x5B8B, first >> 16, 0xB1AA,
                                0x576E, first & 0xFFFF, 0)
        f.seek(at(2))
        f.write(root[:cluster])  # 128 entries per cluster: more folders need a longer root
        if len(root) > cluster:
            extra = (len(root) - cluster + cluster - 1) // cluster
            first = alloc(extra)
            struct.pack_into("<I", fat, 8, first)
            f.seek(at(first))
            f.write(root[cluster:])
        for k in range(fats):
            f.seek((reserved + k * fatsz) * bps)
            f.write(fat)
    os.rename(path + ".tmp", path)


def exfat_scan_image(path, folders, files):
    if os.path.exists(path):
        return
    size = max(128 << 20, folders * files * 96 * 2)
    with open(path + ".tmp", "wb") as f:
        f.truncate(size)
    subprocess.run(["mkfs.exfat", "-c", "4K", "-L", "BENCHEX", path + ".tmp"], check=True, stdout=subprocess.DEVNULL)
    x = fatimg.ExFat(path + ".tmp")

    def put(parent, blob):
        listing = x.read_cluster(parent)
        free = 0
        while free < len(listing) and listing[free] & 0x80:
            free += 32
        if free + len(blob) > len(listing):
            sys.exit("exfat bench: a folder's one cluster is full")
        listing[free:free + len(blob)] = blob
        x.write(x.at(parent), bytes(listing))

    # Nested: groups of ten folders, each in a top folder of the root.
    for group in range((folders + 9) // 10):
        top = x.alloc(1)[0]
        x.write(x.at(top), b"\0" * x.cluster)
        put(x.root, x.entry_set("g%03d" % group, 0x10, top, x.cluster, True, fatimg.STAMP))
        for d in range(group * 10, min(folders, group * 10 + 10)):
            listing = b"".join(x.entry_set("f%06d.txt" % i, 0x20, 0, 0, True, fatimg.STAMP) for i in range(files))
            clusters = x.alloc((len(listing) + x.cluster - 1) // x.cluster)
            x.write(x.at(clusters[0]), listing)  # consecutive: no FAT chain needed
            put(top, x.entry_set("d%05d" % d, 0x10, clusters[0], len(clusters) * x.cluster, True, fatimg.STAMP))
    x.flush_bitmap()
    os.rename(path + ".tmp", path)


def big_file_images(folder, mb):
    content_path = os.path.join(folder, f"big-{mb}.bin")
    if not os.path.exists(content_path):
        with open(content_path, "wb") as f:
            for k in range(mb):
                f.write(hashlib.sha256(b"%d" % k).digest() * (1 << 15))
    fat = os.path.join(folder, f"recover-fat32-{mb}.img")
    if not os.path.exists(fat):
        with open(fat + ".tmp", "wb") as f:
            f.truncate(max(mb + 64, 300) << 20)
        subprocess.run(["mkfs.fat", "-F", "32", "-s", "8", fat + ".tmp"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["mcopy", "-i", fat + ".tmp", content_path, "::/big.bin"], check=True,
                       env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
        os.rename(fat + ".tmp", fat)
    ex = os.path.join(folder, f"recover-exfat-{mb}.img")
    if not os.path.exists(ex):
        with open(ex + ".tmp", "wb") as f:
            f.truncate((mb + 64) << 20)
        subprocess.run(["mkfs.exfat", "-c", "4K", ex + ".tmp"], check=True, stdout=subprocess.DEVNULL)
        x = fatimg.ExFat(ex + ".tmp")
        with open(content_path, "rb") as f:
            data = f.read()
        n = (len(data) + x.cluster - 1) // x.cluster
        clusters = x.alloc(n)
        x.write(x.at(clusters[0]), data)
        blob = x.entry_set("big.bin", 0x20, clusters[0], len(data), True, fatimg.STAMP)
        root = x.read_cluster(x.root)
        free = 0
        while root[free] & 0x80:
            free += 32
        root[free:free + len(blob)] = blob
        x.write(x.at(x.root), bytes(root))
        x.flush_bitmap()
        os.rename(ex + ".tmp", ex)
    return content_path, fat, ex


def peak_rss(stop, out):
    while not stop.is_set():
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    if b"recovery-host" not in f.read():
                        continue
                with open(f"/proc/{pid}/status") as f:
                    for line in f:
                        if line.startswith("VmHWM:"):
                            out[0] = max(out[0], int(line.split()[1]))
            except OSError:
                pass
        time.sleep(0.05)


def timed(cmd, env=None, out_path=None):
    stop, rss = threading.Event(), [0]
    t = threading.Thread(target=peak_rss, args=(stop, rss))
    t.start()
    start = time.time()
    with open(out_path or os.devnull, "wb") as out:
        rc = subprocess.call(cmd, stdout=out, stderr=subprocess.DEVNULL, env=env)
    took = time.time() - start
    stop.set()
    t.join()
    return rc, took, rss[0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--folders", type=int, default=200)
    ap.add_argument("--files", type=int, default=1000)
    ap.add_argument("--recover-mb", type=int, default=500)
    ap.add_argument("--repeat", type=int, default=2)
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    folder = os.path.join(build, "bench")
    os.makedirs(folder, exist_ok=True)
    wine = [os.path.join(build, "wine-run"), os.path.join(build, "bin", "recovery-host.exe")]
    env = dict(os.environ, WINEPREFIX=os.path.join(build, "wineprefix"))
    subprocess.call(["wineserver", "-p"], env=env)
    total = a.folders * a.files
    print(f"scan: {a.folders} folders x {a.files} files = {total} files")
    for kind, make in (("fat32", fat32_scan_image), ("exfat", exfat_scan_image)):
        img = os.path.join(folder, f"scan-{kind}-{a.folders}x{a.files}.img")
        make(img, a.folders, a.files)
        best, rss, rc = None, 0, 0
        listing = os.path.join(folder, f"list-{kind}.txt")
        for _ in range(a.repeat):
            rc, took, peak = timed(wine + ["list", img, "0", "1"], env, listing)
            best = took if best is None else min(best, took)
            rss = max(rss, peak)
        with open(listing, encoding="utf-8", errors="replace") as f:
            ours = sum(1 for line in f if not line.startswith("entries:"))
        fls_best = None
        fls_out = os.path.join(folder, f"fls-{kind}.txt")
        for _ in range(a.repeat):
            _, took, _ = timed(["fls", "-r", "-p", img], None, fls_out)
            fls_best = took if fls_best is None else min(fls_best, took)
        with open(fls_out, encoding="utf-8", errors="replace") as f:
            theirs = sum(1 for line in f if "$" not in line.split("\t")[-1][:1])
        print(f"  {kind}: host rc {rc}, {ours} entries, {best:.2f} s, {ours / best:,.0f} rec/s, peak RSS {rss // 1024} MiB;"
              f" fls {theirs} entries, {fls_best:.2f} s, {theirs / fls_best:,.0f} rec/s; host/fls {fls_best / best:.2f}")
    if a.recover_mb:
        content, fat, ex = big_file_images(folder, a.recover_mb)
        want = hashlib.sha256(open(content, "rb").read()).hexdigest()
        for kind, img in (("fat32", fat), ("exfat", ex)):
            out = os.path.join(folder, f"recovered-{kind}")
            took, rss = None, 0
            for _ in range(a.repeat):
                subprocess.call(["rm", "-rf", out])
                rc, t, peak = timed(wine + ["recover", img, "0", "1", out], env)
                took, rss = (t if took is None else min(took, t)), max(rss, peak)
            got = os.path.join(out, "big.bin")
            ok = os.path.exists(got) and hashlib.sha256(open(got, "rb").read()).hexdigest() == want
            icat_out = os.path.join(folder, f"icat-{kind}.bin")
            inode = subprocess.run(["fls", img], capture_output=True, text=True).stdout
            num = [l.split("\t")[0].split()[-1].rstrip(":") for l in inode.splitlines() if l.endswith("big.bin")][0]
            icat_took = min(timed(["icat", img, num], None, icat_out)[1] for _ in range(a.repeat))
            icat_ok = hashlib.sha256(open(icat_out, "rb").read()).hexdigest() == want
            print(f"  recover {kind} {a.recover_mb} MiB: host {'exact' if ok else 'WRONG'} {took:.2f} s"
                  f" {a.recover_mb / took:.1f} MB/s (peak RSS {rss // 1024} MiB); icat {'exact' if icat_ok else 'WRONG'}"
                  f" {icat_took:.2f} s {a.recover_mb / icat_took:.1f} MB/s; host/icat {icat_took / took:.2f}")
    subprocess.call(["wineserver", "-k"], env=env)


if __name__ == "__main__":
    main()
