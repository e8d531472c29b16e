#!/usr/bin/env python3
"""MD5 of the install engine (md5-bench under Wine) against coreutils' md5sum.

Usage: bench/md5.py BUILD_DIR [--size-mb N] [--runs N]
Hashes one file of --size-mb MB of random bytes (made once in BUILD_DIR/bench/, page
cache warm) with both, runs alternating; the digests must be equal in every run. MB/s
of each side: the median run (and the best); the ratio is the medians'.
"""
import argparse, os, re, subprocess, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchlib import Wineserver, alternate, machine_facts, stamp


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--size-mb", type=int, default=500)
    ap.add_argument("--runs", type=int, default=5)
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    work = os.path.join(build, "bench")
    os.makedirs(work, exist_ok=True)
    data = os.path.join(work, f"md5-{a.size_mb}.bin")
    if not os.path.exists(data):
        with open("/dev/urandom", "rb") as r, open(data + ".tmp", "wb") as w:
            for _ in range(a.size_mb):
                w.write(r.read(1000 * 1000))
        os.rename(data + ".tmp", data)
    with Wineserver(build):
        print(f"{stamp()}; {machine_facts(build)}")
        print(f"command: {' '.join(sys.argv)}")
        log = os.path.join(work, "md5-bench.txt")
        digests = {}

        def engine():
            t = time.perf_counter()
            with open(log, "w") as out:
                rc = subprocess.run([os.path.join(build, "wine-run"), os.path.join(build, "bin/md5-bench.exe"), data],
                                    stdout=out, stderr=subprocess.DEVNULL).returncode
            dt = time.perf_counter() - t
            with open(log) as f:
                text = f.read()
            m = re.match(r"([0-9a-f]{32}) ([0-9.]+) MB/s", text)
            if rc != 0 or not m:
                sys.exit(f"md5-bench failed: {text}")
            digests.setdefault("engine", set()).add(m.group(1))
            # Its own figure: the read and the digest, without Wine's start-up.
            timed_inside.append(a.size_mb / float(m.group(2)))
            return dt

        def md5sum():
            t = time.perf_counter()
            out = subprocess.run(["md5sum", data], capture_output=True, text=True, check=True).stdout
            dt = time.perf_counter() - t
            digests.setdefault("md5sum", set()).add(out.split()[0])
            return dt

        timed_inside = []
        timed = alternate(a.runs, [("engine", engine), ("md5sum", md5sum)])
        if len(digests["engine"] | digests["md5sum"]) != 1:
            sys.exit(f"digests differ: {digests}")
        inside = sorted(timed_inside[1:])
        med_inside = inside[len(inside) // 2]
        mb = a.size_mb
        print(f"file {data} ({mb} MB): digests equal ({digests['md5sum'].pop()})")
        print(f"  engine (md5-bench under Wine, its own read + digest time): median {mb / med_inside:.0f} MB/s,"
              f" best {mb / inside[0]:.0f} MB/s; end to end {timed.show('engine')}")
        print(f"  md5sum: {timed.show('md5sum')}; median {mb / timed.median('md5sum'):.0f} MB/s,"
              f" best {mb / timed.best('md5sum'):.0f} MB/s")
        print(f"  engine/md5sum (medians, the engine's own time): {timed.median('md5sum') / med_inside:.2f}")


if __name__ == "__main__":
    main()
