#!/usr/bin/env python3
"""NTFS compressed-file recovery benchmark.

Usage: bench/ntfs-recover.py BUILD_DIR [--size-mb N] [--repeat N] [--seconds S] [--no-e2e]

Makes once, in BUILD_DIR/bench/, an NTFS image holding one large file (text from
/usr/share and ELF binaries from /usr/bin and /usr/lib, in a fixed order) that ntfs-3g
stores compressed, and the file's compressed units taken from the image. Then:
- lznt1-bench (under Wine) expands every compressed unit, pass after pass, and prints
  MB/s; its output is checked once against the file;
- recovery-host recover (under Wine) against ntfs-3g's ntfscat, both extracting the
  file, best of N each, outputs checked by SHA-256.
Delete the ntfs-recover.* files in BUILD_DIR/bench/ to make them again.
"""
import argparse, hashlib, json, os, re, shutil, struct, subprocess, sys, time

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
    ap.add_argument("--repeat", type=int, default=3, help="end-to-end runs per program, best one counts")
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

    # Wine start-up alone, after a warm-up run.
    startup_log = os.path.join(work, "ntfs-recover.startup.txt")
    wine(build, "recovery-host.exe", [], startup_log)
    startup, _ = timed(lambda: wine(build, "recovery-host.exe", [], startup_log) is not None, 3)

    outdir = os.path.join(work, "ntfs-recover.out")
    host_log = os.path.join(work, "ntfs-recover.host.txt")
    recovered = os.path.join(outdir, FILE_PATH.lstrip("/"))
    def host():
        shutil.rmtree(outdir, ignore_errors=True)
        return wine(build, "recovery-host.exe", ["recover", img, "0", "1", outdir], host_log)[0] == 0
    host_s, host_ok = timed(host, a.repeat)
    host_sha = sha256(recovered) if os.path.exists(recovered) else "missing"

    cat_out = os.path.join(work, "ntfs-recover.ntfscat")
    def cat():
        with open(cat_out, "wb") as out:
            return subprocess.run(["ntfscat", img, FILE_PATH], stdout=out).returncode == 0
    cat_s, cat_ok = timed(cat, a.repeat)
    cat_sha = sha256(cat_out)

    ok = lambda sha: "equal" if sha == info["sha256"] else "DIFFERENT"
    mb = size / 1e6
    print(f"wine start-up (recovery-host, no arguments, best of 3): {startup:.2f} s")
    print(f"recovery-host recover: {host_s:.2f} s, {mb / host_s:.0f} MB/s "
          f"({mb / max(host_s - startup, 1e-3):.0f} MB/s without start-up), "
          f"output {ok(host_sha)}{'' if host_ok else ', FAILED (see ' + host_log + ')'}")
    print(f"ntfscat:               {cat_s:.2f} s, {mb / cat_s:.0f} MB/s, "
          f"output {ok(cat_sha)}{'' if cat_ok else ', FAILED'}")
    print(f"recovery-host/ntfscat throughput ratio: {cat_s / host_s:.2f} (above 1: ours is faster)")
    # Kept only when they differ, to be looked at.
    if cat_sha == info["sha256"]:
        os.remove(cat_out)
    if host_sha == info["sha256"]:
        shutil.rmtree(outdir)

if __name__ == "__main__":
    main()
