#!/usr/bin/env python3
"""NTFS scan benchmark: recovery-host list (under Wine) against sleuthkit's fls -r -p.

Usage: bench/ntfs-scan.py BUILD_DIR [--scale N ...] [--keep]
Each scale N makes an image with 100 folders of N files plus one folder of
100*N entries (default scales 100 and 1000: 20,000 and 200,000 files).
Images go to BUILD_DIR/bench/ and are regenerated when missing.
"""
import argparse, os, re, subprocess, sys, threading, time

def sh(*cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)

def populate(root, scale):
    for d in range(100):
        p = f"{root}/d{d:03d}"
        os.mkdir(p)
        for i in range(scale):
            os.close(os.open(f"{p}/f{i:06d}.txt", os.O_CREAT | os.O_WRONLY, 0o644))
    p = f"{root}/big"
    os.mkdir(p)
    for i in range(100 * scale):
        os.close(os.open(f"{p}/e{i:07d}.dat", os.O_CREAT | os.O_WRONLY, 0o644))

def make_image(path, scale):
    if os.path.exists(path):
        return
    tmp = path + ".tmp"
    mnt = path + ".mnt"
    # 1 KiB per record plus index blocks; sparse, so the slack costs nothing.
    size = max(64, scale * 3 // 4) * 1024 * 1024
    with open(tmp, "wb") as f:
        f.truncate(size)
    sh("mkntfs", "-F", "-Q", "-q", tmp, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.makedirs(mnt, exist_ok=True)
    sh("ntfs-3g", tmp, mnt, "-o", "big_writes")
    t = time.time()
    try:
        populate(mnt, scale)
    finally:
        sh("umount", mnt)
    print(f"  populated {200 * scale} files in 101 folders in {time.time() - t:.1f} s", flush=True)
    os.rename(tmp, path)

def mft_records(img):
    info = subprocess.run(["ntfsinfo", "-m", img], capture_output=True, text=True).stdout
    rec = int(re.search(r"MFT Record Size:\s*(\d+)", info).group(1))
    inode = subprocess.run(["ntfsinfo", "-i", "0", img], capture_output=True, text=True).stdout
    data = inode.split("Dumping attribute $DATA", 1)[1]
    size = int(re.search(r"Data size:\s*(\d+)", data).group(1))
    return size // rec

def peak_rss_kib(pattern, stop, out):
    # Wine runs the .exe in its own qemu process; poll that one's VmHWM.
    while not stop.is_set():
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    cmd = f.read()
                if pattern not in cmd or b"wine-run" in cmd:
                    continue
                with open(f"/proc/{pid}/status") as f:
                    m = re.search(r"VmHWM:\s*(\d+)", f.read())
                if m:
                    out[pid] = max(out.get(pid, 0), int(m.group(1)))
            except OSError:
                pass
        time.sleep(0.05)

def run_host(build, args, outfile):
    stop, peaks = threading.Event(), {}
    th = threading.Thread(target=peak_rss_kib, args=(b"recovery-host", stop, peaks))
    th.start()
    host = os.path.join(build, "bin/recovery-host.exe")
    t = time.time()
    with open(outfile, "w") as out:
        rc = subprocess.run([os.path.join(build, "wine-run"), host] + args,
                            stdout=out, stderr=subprocess.STDOUT).returncode
    dt = time.time() - t
    stop.set(); th.join()
    return rc, dt, max(peaks.values(), default=0)

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--scale", type=int, action="append")
    ap.add_argument("--repeat", type=int, default=3, help="runs per program, best one counts")
    ap.add_argument("--no-fls", action="store_true",
                    help="skip fls (its time grows faster than linear in folder size)")
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    work = os.path.join(build, "bench")
    os.makedirs(work, exist_ok=True)
    os.environ.setdefault("WINEPREFIX", os.path.join(build, "wineprefix"))
    os.environ["WINEARCH"] = "win32"
    # A wineserver that outlives each run: otherwise some runs pay ~3 s for
    # bringing the server and its services up again.
    subprocess.run(["wineserver", "-p"])  # 2 when one already runs: fine
    try:
        bench(a, build, work)
    finally:
        subprocess.run(["wineserver", "-k"])

def bench(a, build, work):

    # Wine start-up alone (best of 3 after a warm-up that starts the
    # wineserver), so the scan itself can be told apart.
    run_host(build, [], os.path.join(work, "startup.txt"))
    startup = min(run_host(build, [], os.path.join(work, "startup.txt"))[1] for _ in range(3))
    print(f"wine start-up (recovery-host, no arguments, best of 3): {startup:.2f} s")
    rows = []
    for scale in a.scale or [100, 1000]:
        img = os.path.join(work, f"ntfs-{scale}.img")
        print(f"image {img}: 100 folders x {scale} files + 1 folder x {100 * scale}", flush=True)
        make_image(img, scale)
        recs = mft_records(img)

        listing = os.path.join(work, f"list-{scale}.txt")
        # Best of N: the machine may be shared, and the first run also warms
        # the page cache for the image.
        runs = [run_host(build, ["list", img, "0", "1"], listing) for _ in range(a.repeat)]
        rc = max(r[0] for r in runs)
        host_s = min(r[1] for r in runs)
        rss = max(r[2] for r in runs)
        with open(listing, errors="replace") as f:
            text = f.read()
        m = re.search(r"entries: (\d+)", text)
        entries = int(m.group(1)) if m else -1
        if rc != 0 or entries < 0:
            print(f"  recovery-host failed (rc {rc}), see {listing}")

        fls_lines, fls_s = 0, float("nan")
        if not a.no_fls:
            for _ in range(max(1, a.repeat - 1)):
                t = time.time()
                with open(os.path.join(work, f"fls-{scale}.txt"), "w") as out:
                    sh("fls", "-r", "-p", img, stdout=out)
                fls_s = min(fls_s, time.time() - t) if fls_s == fls_s else time.time() - t
            with open(os.path.join(work, f"fls-{scale}.txt"), errors="replace") as f:
                fls_lines = sum(1 for _ in f)
        rows.append((scale, recs, entries, host_s, rss, fls_lines, fls_s))
        print(f"  records {recs}, host {host_s:.2f} s ({entries} entries, peak {rss / 1024:.1f} MiB),"
              f" fls {fls_s:.2f} s ({fls_lines} lines)", flush=True)

    print()
    print("MFT records = $MFT data size / record size. host = recovery-host list under Wine"
          " (32-bit, qemu user emulation, ~3x slower than native), end to end incl. Wine start-up;"
          " fls runs natively. Peak RSS = VmHWM of the qemu process running recovery-host.exe"
          " (includes the emulator itself).")
    hdr = f"{'files':>8} {'records':>8} {'entries':>8} {'host s':>7} {'host rec/s':>10} {'scan-only rec/s':>15} {'fls lines':>9} {'fls s':>6} {'fls rec/s':>9} {'host/fls':>8} {'peak RSS MiB':>12}"
    print(hdr)
    for scale, recs, entries, host_s, rss, fls_lines, fls_s in rows:
        scan_only = max(host_s - startup, 1e-3)
        print(f"{200 * scale:>8} {recs:>8} {entries:>8} {host_s:>7.2f} {recs / host_s:>10.0f} "
              f"{recs / scan_only:>15.0f} {fls_lines:>9} {fls_s:>6.2f} {recs / fls_s:>9.0f} "
              f"{(recs / host_s) / (recs / fls_s):>8.2f} {rss / 1024:>12.1f}")
    if len(rows) >= 2:
        (s0, r0, _, h0, *_), (s1, r1, _, h1, *_) = rows[0], rows[-1]
        print(f"linearity: records x{r1 / r0:.1f}, host time x{h1 / h0:.2f} "
              f"(scan only x{(h1 - startup) / max(h0 - startup, 1e-3):.2f})")

if __name__ == "__main__":
    main()
