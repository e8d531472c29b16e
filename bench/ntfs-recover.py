#!/usr/bin/env python3
"""NTFS compressed-file recovery benchmark.

Usage: bench/ntfs-recover.py BUILD_DIR [--size-mb N] [--plain-mb N] [--runs N] [--seconds S] [--no-e2e]

Makes once, in BUILD_DIR/bench/, an NTFS image holding one large file (text from
/usr/share and ELF binaries from /usr/bin and /usr/lib, in a fixed order) that ntfs-3g
stores compressed, and the file's compressed units taken from the image. Then:
- lznt1-bench (under Wine) expands every compressed unit, pass after pass, and prints
  MB/s; its output is checked once against the file;
- recovery-host recover (under Wine) against sleuthkit's icat and ntfs-3g's ntfscat, each
  extracting the file, runs alternating (median and best of N each), every output
  checked by SHA-256 (the benchmark stops when one differs);
- the same for a plain (not compressed) file of --plain-mb MB written in 1 MiB pieces
  between the pieces of a filler file that is then deleted, so that it lies in several
  fragments (ntfs-3g allocates ahead, so they come out tens of MB long; the count is
  printed, from ntfsinfo).
Delete the ntfs-recover.* files in BUILD_DIR/bench/ to make them again.
"""
import argparse, hashlib, json, os, re, shutil, struct, subprocess, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchlib import alternate, machine_facts, stamp

CLUSTER = 4096
UNIT_CLUSTERS = 16
UNIT = CLUSTER * UNIT_CLUSTERS
FILE_PATH = "/c/big.bin"

def sh(*cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)

def out_of(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout

def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()

# Files too large would let one binary fill most of the mix.
MAX_PIECE = 8 << 20
PACKED = (b"\x1f\x8b", b"\xfd7zXZ", b"BZh", b"\x28\xb5\x2f\xfd", b"\x89PNG", b"PK\x03\x04")

def walk(roots, keep):
    for root in roots:
        for top, dirs, files in os.walk(root):
            dirs.sort()
            for name in sorted(files):
                p = os.path.join(top, name)
                try:
                    if os.path.islink(p) or not os.path.isfile(p):
                        continue
                    size = os.path.getsize(p)
                    if not 0 < size <= MAX_PIECE:
                        continue
                    with open(p, "rb") as f:
                        head = f.read(8192)
                except OSError:
                    continue
                if keep(head):
                    yield p, size

def is_text(head):
    return b"\0" not in head and not head.startswith(PACKED)

def is_elf(head):
    return head.startswith(b"\x7fELF")

def make_source(path, size):
    """Text and binaries, each side taken in sorted path order, kept about even in bytes."""
    texts = walk(["/usr/share"], is_text)
    bins = walk(["/usr/bin", "/usr/lib"], is_elf)
    got = {"text": 0, "bin": 0}
    with open(path, "wb") as out:
        while got["text"] + got["bin"] < size:
            side = "text" if got["text"] <= got["bin"] else "bin"
            piece = next(texts if side == "text" else bins, None)
            if piece is None:
                break
            with open(piece[0], "rb") as f:
                data = f.read()
            data = data[:size - got["text"] - got["bin"]]
            out.write(data)
            got[side] += len(data)
    return got

def make_image(work, size_mb):
    img = os.path.join(work, "ntfs-recover.img")
    meta = os.path.join(work, "ntfs-recover.json")
    src = os.path.join(work, "ntfs-recover.src")
    if os.path.exists(img) and os.path.exists(meta) and os.path.exists(src):
        with open(meta) as f:
            return img, src, json.load(f)
    print(f"making {img} ({size_mb} MB file)", flush=True)
    t = time.time()
    mix = make_source(src, size_mb * 1000 * 1000)
    tmp, mnt = img + ".tmp", img + ".mnt"
    with open(tmp, "wb") as f:
        f.truncate(max(512, size_mb * 3) * 1024 * 1024)
    sh("mkntfs", "-F", "-Q", "-q", "-c", str(CLUSTER), "-L", "BENCH", tmp,
       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.makedirs(mnt, exist_ok=True)
    sh("ntfs-3g", tmp, mnt, "-o", "compression,big_writes")
    try:
        os.mkdir(mnt + "/c")
        # FILE_ATTRIBUTE_COMPRESSED (0x800) on the folder: files made in it are compressed.
        sh("setfattr", "-n", "system.ntfs_attrib_be", "-v", "0x00000810", mnt + "/c")
        with open(src, "rb") as fi, open(mnt + FILE_PATH, "wb") as fo:
            shutil.copyfileobj(fi, fo, UNIT * 16)
        record = os.stat(mnt + FILE_PATH).st_ino
        os.sync()
    finally:
        sh("umount", mnt)
    os.rmdir(mnt)
    info = {"record": record, "size": os.path.getsize(src), "sha256": sha256(src),
            "text_bytes": mix["text"], "binary_bytes": mix["bin"]}
    with open(meta, "w") as f:
        json.dump(info, f)
    os.rename(tmp, img)
    print(f"  made in {time.time() - t:.1f} s", flush=True)
    return img, src, info

def make_plain_image(work, size_mb):
    """A plain file of size_mb MB in 1 MiB fragments: written piece by piece between the
    pieces of a filler file, which is deleted afterwards."""
    img = os.path.join(work, "ntfs-plain.img")
    meta = os.path.join(work, "ntfs-plain.json")
    if os.path.exists(img) and os.path.exists(meta):
        with open(meta) as f:
            return img, json.load(f)
    print(f"making {img} ({size_mb} MB fragmented file)", flush=True)
    tmp, mnt = img + ".tmp", img + ".mnt"
    with open(tmp, "wb") as f:
        f.truncate((size_mb * 2 + 256) * 1024 * 1024)
    sh("mkntfs", "-F", "-Q", "-q", "-c", str(CLUSTER), "-L", "PLAIN", tmp,
       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.makedirs(mnt, exist_ok=True)
    sh("ntfs-3g", tmp, mnt, "-o", "big_writes")
    piece = 1 << 20
    total = size_mb * 1000 * 1000
    h = hashlib.sha256()
    rnd = open("/dev/urandom", "rb")
    try:
        os.mkdir(mnt + "/p")
        with open(mnt + "/p/big.bin", "wb") as big, open(mnt + "/p/filler", "wb") as filler:
            done = 0
            while done < total:
                block = rnd.read(min(piece, total - done))
                h.update(block)
                big.write(block)
                big.flush()
                os.fsync(big.fileno())
                filler.write(block[:piece // 2])
                filler.flush()
                os.fsync(filler.fileno())
                done += len(block)
        os.remove(mnt + "/p/filler")
        record = os.stat(mnt + "/p/big.bin").st_ino
        os.sync()
    finally:
        rnd.close()
        sh("umount", mnt)
    os.rmdir(mnt)
    runs = subprocess.run(["ntfsinfo", "-v", "-i", str(record), tmp], capture_output=True, text=True).stdout
    m = re.search(r"fragments: (\d+)", runs)
    info = {"record": record, "size": total, "sha256": h.hexdigest(), "path": "/p/big.bin",
            "fragments": int(m.group(1)) if m else -1}
    with open(meta, "w") as f:
        json.dump(info, f)
    os.rename(tmp, img)
    return img, info

def data_clusters(img, record):
    """The unnamed $DATA attribute's clusters in VCN order (0: sparse), with its istat line."""
    text = out_of("istat", "-f", "ntfs", img, str(record))
    attrs, cur = {}, None
    for line in text.split("Attributes:", 1)[1].splitlines():
        if line.startswith("Type: "):
            cur = line
            attrs[cur] = []
        elif cur and line.strip():
            attrs[cur] += [int(x) for x in line.split()]
    data = [k for k in attrs if k.startswith("Type: $DATA (128") and "Name: N/A" in k]
    if len(data) != 1:
        sys.exit(f"record {record}: expected one unnamed $DATA, istat shows {list(attrs)}")
    return data[0], attrs[data[0]]

def extract_units(img, info, units_path):
    """Counts the file's units by kind; writes the stored clusters of every compressed unit
    to units_path unless it exists."""
    attr, clusters = data_clusters(img, info["record"])
    if "Compressed" not in attr:
        sys.exit(f"{img}: {FILE_PATH} is not compressed ({attr})")
    kinds = {"compressed": 0, "raw": 0, "sparse": 0}
    write = not os.path.exists(units_path)
    with open(img, "rb") as f, open(units_path + ".tmp" if write else os.devnull, "wb") as out:
        for n in range(0, len(clusters), UNIT_CLUSTERS):
            unit = clusters[n:n + UNIT_CLUSTERS]
            stored = [c for c in unit if c]
            # NTFS keeps a compressed unit's clusters first, the rest of the unit sparse.
            if stored != unit[:len(stored)]:
                sys.exit(f"unit {n // UNIT_CLUSTERS}: stored clusters not at its start: {unit}")
            if not stored:
                kinds["sparse"] += 1
            elif len(stored) == UNIT_CLUSTERS:
                kinds["raw"] += 1
            else:
                kinds["compressed"] += 1
                if not write:
                    continue
                data = b""
                for c in stored:
                    f.seek(c * CLUSTER)
                    data += f.read(CLUSTER)
                out.write(struct.pack("<II", n // UNIT_CLUSTERS, len(data)) + data)
    if write:
        os.rename(units_path + ".tmp", units_path)
    return kinds

def read_units(units_path):
    numbers, stored = [], 0
    with open(units_path, "rb") as f:
        while head := f.read(8):
            number, length = struct.unpack("<II", head)
            f.seek(length, 1)
            numbers.append(number)
            stored += length
    return numbers, stored

def check_expansion(src, numbers, dump):
    """Each expanded unit must equal the file's bytes of that unit, zeros after the file end."""
    with open(src, "rb") as fs, open(dump, "rb") as fd:
        for number in numbers:
            got = fd.read(UNIT)
            fs.seek(number * UNIT)
            want = fs.read(UNIT)
            if got[:len(want)] != want or got[len(want):].strip(b"\0"):
                return f"unit {number} differs from the file"
    return None

def wine(build, exe, args, log):
    # Output to a file, never a pipe: Wine's services inherit it and would hold it open.
    with open(log, "w") as out:
        rc = subprocess.run([os.path.join(build, "wine-run"), os.path.join(build, "bin", exe)] + args,
                            stdout=out, stderr=subprocess.STDOUT).returncode
    with open(log, errors="replace") as f:
        return rc, f.read().strip()

def timed(fn, repeat):
    times = []
    for _ in range(repeat):
        t = time.time()
        ok = fn()
        times.append((time.time() - t, ok))
    return min(t for t, _ in times), all(ok for _, ok in times)

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--size-mb", type=int, default=160, help="size of the file (made once)")
    ap.add_argument("--plain-mb", type=int, default=500, help="size of the fragmented plain file (made once)")
    ap.add_argument("--runs", type=int, default=5, help="end-to-end runs per program (median and best)")
    ap.add_argument("--seconds", type=float, default=3.0, help="minimum decompression time")
    ap.add_argument("--no-e2e", action="store_true", help="decompression only")
    a = ap.parse_args()
    if os.geteuid() != 0:
        sys.exit("ntfs-recover: run as root (the image is filled through ntfs-3g)")
    build = os.path.abspath(a.build)
    work = os.path.join(build, "bench")
    os.makedirs(work, exist_ok=True)
    os.environ.setdefault("WINEPREFIX", os.path.join(build, "wineprefix"))
    os.environ["WINEARCH"] = "win32"
    os.environ.setdefault("WINEDEBUG", "-all")
    # A wineserver that outlives each run, so no run pays for starting Wine's services.
    subprocess.run(["wineserver", "-p"])
    try:
        bench(a, build, work)
    finally:
        subprocess.run(["wineserver", "-k"])

def bench(a, build, work):
    print(f"{stamp()}; {machine_facts(build)}")
    print(f"command: {' '.join(sys.argv)}")
    img, src, info = make_image(work, a.size_mb)
    size = info["size"]
    units_path = os.path.join(work, "ntfs-recover.units")
    kinds = extract_units(img, info, units_path)
    numbers, stored = read_units(units_path)
    print(f"file {FILE_PATH} (record {info['record']}): {size} bytes, "
          f"{info['text_bytes']} text + {info['binary_bytes']} ELF")
    print(f"  units: {kinds['compressed']} compressed, {kinds['raw']} raw, {kinds['sparse']} sparse")
    print(f"  {len(numbers)} compressed units: {stored} bytes stored for {len(numbers) * UNIT} "
          f"(ratio {stored / (len(numbers) * UNIT):.2f})", flush=True)

    # Decompression: one checked pass (its output dumped), then the timed passes.
    dump = os.path.join(work, "ntfs-recover.expanded")
    bench_log = os.path.join(work, "ntfs-recover.lznt1.txt")
    rc, text = wine(build, "lznt1-bench.exe", [units_path, "--seconds", "0", "--out", dump], bench_log)
    if rc != 0:
        sys.exit(f"lznt1-bench failed: {text}")
    bad = check_expansion(src, numbers, dump)
    os.remove(dump)
    print(f"  expanded units equal the file: {'no, ' + bad if bad else 'yes'}")
    rc, text = wine(build, "lznt1-bench.exe", [units_path, "--seconds", str(a.seconds)], bench_log)
    fig = dict(kv.split("=") for kv in text.split() if "=" in kv)
    if rc != 0 or "out_mbs" not in fig:
        sys.exit(f"lznt1-bench failed: {text}")
    print(f"LZNT1 decompression (lznt1-bench, {fig['passes']} passes over {fig['units']} units,"
          f" {fig['seconds']} s): {fig['out_mbs']} MB/s of output ({fig['in_mbs']} MB/s of input),"
          f" best pass {fig['best_out_mbs']} MB/s", flush=True)
    if a.no_e2e:
        return

    recover_e2e(a, build, work, "compressed", img, info, FILE_PATH)
    img, info = make_plain_image(work, a.plain_mb)
    recover_e2e(a, build, work, "plain fragmented", img, info, info["path"])

def recover_e2e(a, build, work, label, img, info, file_path):
    size = info["size"]
    name = os.path.splitext(os.path.basename(img))[0]
    startup_log = os.path.join(work, name + ".startup.txt")
    outdir = os.path.join(work, name + ".out")
    host_log = os.path.join(work, name + ".host.txt")
    recovered = os.path.join(outdir, file_path.lstrip("/"))
    cat_out = os.path.join(work, name + ".ntfscat")
    icat_out = os.path.join(work, name + ".icat")
    outputs = {"recovery-host": recovered, "icat": icat_out, "ntfscat": cat_out}

    def check(side):
        # Every run's output, not only the last one's: a wrong byte stops the benchmark.
        got = sha256(outputs[side]) if os.path.exists(outputs[side]) else "missing"
        if got != info["sha256"]:
            sys.exit(f"{label}: {side} gave a file that differs from the original ({outputs[side]})")

    def startup():
        t = time.perf_counter()
        wine(build, "recovery-host.exe", [], startup_log)
        return time.perf_counter() - t

    def host():
        shutil.rmtree(outdir, ignore_errors=True)
        t = time.perf_counter()
        rc = wine(build, "recovery-host.exe", ["recover", img, "0", "1", outdir], host_log)[0]
        dt = time.perf_counter() - t
        if rc != 0:
            sys.exit(f"{label}: recovery-host failed, see {host_log}")
        check("recovery-host")
        return dt

    def peer(side, cmd):
        def run():
            t = time.perf_counter()
            with open(outputs[side], "wb") as out:
                rc = subprocess.run(cmd, stdout=out).returncode
            dt = time.perf_counter() - t
            if rc != 0:
                sys.exit(f"{label}: {side} failed")
            check(side)
            return dt
        return run

    timed = alternate(a.runs, [("start-up", startup), ("recovery-host", host),
                               ("icat", peer("icat", ["icat", img, str(info["record"])])),
                               ("ntfscat", peer("ntfscat", ["ntfscat", img, file_path]))])
    mb = size / 1e6
    frags = f", {info['fragments']} fragments" if "fragments" in info else ""
    print(f"{label} file {file_path} ({size} bytes{frags}): every output equal to the original (SHA-256)")
    print(f"  wine start-up: {timed.show('start-up')}")
    for side in ("recovery-host", "icat", "ntfscat"):
        print(f"  {side + ':':15} {timed.show(side)}; {mb / timed.median(side):.0f} MB/s"
              f" (best {mb / timed.best(side):.0f})")
    h = timed.median("recovery-host")
    print(f"  throughput ratio (medians; above 1: ours is faster): recovery-host/icat {timed.median('icat') / h:.2f},"
          f" recovery-host/ntfscat {timed.median('ntfscat') / h:.2f}", flush=True)
    for path in (cat_out, icat_out):
        os.remove(path)
    shutil.rmtree(outdir)

if __name__ == "__main__":
    main()
