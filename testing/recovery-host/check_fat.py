#!/usr/bin/env python3
"""recovery-host list and recover on the FAT and exFAT fixture images, against their
manifests (made by testing/fixtures/fat/fatimg.py and checked there with sleuthkit).

list: every 'normal' manifest entry must show at its path with its deleted and folder
flags, its size and, for files, its time; 'lost' entries may show; nothing else may show
under the volume root. A formatted scan of a re-made volume must find every 'formatted'
file by its name, size and time (its folder's own name is lost with the old root).
recover: every RECOVER=1 file of the scan must come back with the manifest's SHA-256,
and nothing may fail. Beside sleuthkit (fls, icat) on each volume that is not re-made
(exfat-fuse.img written by another exFAT implementation, the FAT ones by mtools): every
entry fls places under a path is listed with its deleted flag, and every file icat gives
back byte-exact comes back byte-exact here too."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import checks


def read_manifest(path):
    entries = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            c = line.rstrip("\n").split("\t")
            if c[0] == "entry":
                entries.append(dict(path=c[1], size=int(c[2]), sha=c[3], deleted=c[4] == "1", folder=c[5] == "1",
                                    time=None if c[6] == "-" else int(c[6]), scan=c[7], recover=c[8] == "1"))
    return entries


def run_host(wine_run, host, args, timeout=600, console=None):
    """Exit code and output lines; console (a list) gets the library's console lines."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        rc = subprocess.call([wine_run, host] + args, stdout=out, stderr=err,
                             stdin=subprocess.DEVNULL, timeout=timeout)
        out.seek(0)
        err.seek(0)
        if console is not None:
            console += err.read().decode("utf-8", "replace").splitlines()
        return rc, out.read().decode("utf-8").splitlines()


def cluster_bytes(image, first_byte):
    with open(image, "rb") as f:
        f.seek(first_byte)
        boot = f.read(512)
    if boot[3:11] == b"EXFAT   ":
        return 1 << (boot[108] + boot[109]), True
    return int.from_bytes(boot[11:13], "little") * boot[13], False


def check_cluster_lines(name, rows, console, cluster):
    """A formatted FAT or any exFAT recovery names each cluster it copies on the console
    ("Cluster %XH"): as many lines as the listed files take clusters."""
    lines = [l for l in console if l.startswith("Cluster ")]
    bad = [l for l in lines if not re.fullmatch(r"Cluster [0-9A-F]+H", l)]
    want = sum((r["size"] + cluster - 1) // cluster for p, r in rows.items() if not r["folder"])
    failures = [f"{name}: console line {l!r} is no cluster line" for l in bad[:3]]
    if len(lines) != want:
        failures.append(f"{name}: {len(lines)} cluster lines on the console for {want} clusters of files")
    return failures


def listed(lines):
    rows = {}
    for line in lines:
        if line.startswith("entries: "):
            continue
        d, f, size, time, path = line.split("\t", 4)
        rows[path[1:]] = dict(deleted=d == "1", folder=f == "1", size=int(size), time=int(time))
    return rows


def check_list(name, entries, rows, formatted):
    failures = []
    if formatted:
        for e in entries:
            if e["scan"] != "formatted" or e["folder"]:
                continue
            base = e["path"].split("/")[-1]
            hits = [p for p, r in rows.items() if p.split("/")[-1] == base and r["size"] == e["size"]
                    and r["time"] == e["time"] and not r["folder"]]
            if not hits:
                failures.append(f"{name} (formatted): {e['path']} not found by name")
        return failures
    want = {e["path"]: e for e in entries if e["scan"] == "normal"}
    optional = {e["path"]: e for e in entries if e["scan"] == "lost"}
    for path, e in want.items():
        r = rows.get(path)
        if not r:
            failures.append(f"{name}: /{path} missing")
            continue
        for key in ("deleted", "folder", "size", "time"):
            if e[key] is not None and r[key] != e[key]:
                failures.append(f"{name}: /{path} {key}: expected {e[key]}, got {r[key]}")
    for path, r in rows.items():
        if path in want or path == "UnknownPath" or path.startswith("UnknownPath/"):
            continue
        if path in optional and r["deleted"] == optional[path]["deleted"] and r["size"] == optional[path]["size"]:
            continue
        failures.append(f"{name}: /{path} not in the manifest ({r})")
    return failures


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def check_recover(name, entries, out_dir, lines, formatted):
    failures = []
    summary = [l for l in lines if l.startswith("recovered:")]
    if not summary or not summary[-1].endswith("failed: 0"):
        failures.append(f"{name}: recovery reported {summary}")
    written = {}
    for folder, _, files in os.walk(out_dir):
        for f in files:
            rel = os.path.relpath(os.path.join(folder, f), out_dir).replace(os.sep, "/")
            written[rel] = sha256(os.path.join(folder, f))
    for e in entries:
        if e["folder"] or not e["recover"]:
            continue
        if formatted:
            if e["scan"] != "formatted":
                continue
            base = e["path"].split("/")[-1]
            if not any(p.split("/")[-1] == base and h == e["sha"] for p, h in written.items()):
                failures.append(f"{name} (formatted): {e['path']} not recovered byte-exact")
        elif e["scan"] == "normal":
            if written.get(e["path"]) != e["sha"]:
                failures.append(f"{name}: {e['path']} " + ("not written" if e["path"] not in written
                                                             else "written with other bytes"))
    return failures


def fls_entries(image, sector):
    """{path: (deleted, folder, inode)} of what sleuthkit's fls places under a path."""
    out = subprocess.run(["fls", "-r", "-p", "-o", str(sector), image], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, check=True).stdout.decode("utf-8", "replace")
    got = {}
    for line in out.splitlines():
        kind, path = line.split("\t", 1)
        if path.startswith("$") or "(Volume Label Entry)" in path:
            continue
        fields = kind.split()
        got[path] = ("*" in fields, fields[0].startswith("d"), fields[-1].rstrip(":"))
    return got


def compare_with_peer(name, image, sector, rows, entries, out_dir):
    """fls and icat beside the scan: every entry fls places under a path is listed at it
    with the same deleted flag, and every file icat writes byte-exact comes back byte-exact
    here too (at least as many)."""
    failures = []
    peer = fls_entries(image, sector)
    for path, (deleted, folder, _) in peer.items():
        r = rows.get(path)
        if not r or r["deleted"] != deleted or r["folder"] != folder:
            failures.append(f"{name}: fls shows /{path} (deleted={deleted}, folder={folder}), the scan {r}")
    originals = {e["path"]: e["sha"] for e in entries if not e["folder"]}
    theirs, ours = set(), set()
    for path, (_, folder, inode) in peer.items():
        if folder or path not in originals:
            continue
        got = subprocess.run(["icat", "-o", str(sector), image, inode], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL).stdout
        if hashlib.sha256(got).hexdigest() == originals[path]:
            theirs.add(path)
        mine = os.path.join(out_dir, *path.split("/"))
        if os.path.isfile(mine) and sha256(mine) == originals[path]:
            ours.add(path)
    print(f"{name}: fls lists {len(peer)} entries; byte-exact by icat {len(theirs)}, by this scan {len(ours)}")
    if not theirs <= ours:
        failures.append(f"{name}: icat recovers {sorted(theirs - ours)[:3]} byte-exact, this scan does not")
    return failures


def main():
    wine_run, host, fixtures = sys.argv[1:4]
    folder = os.path.join(fixtures, "fat")
    names = sorted(n[:-len(".manifest")] for n in os.listdir(folder) if n.endswith(".manifest"))
    failures = []
    work = tempfile.mkdtemp(prefix="check-fat-")
    try:
        for name in names:
            entries = read_manifest(os.path.join(folder, name + ".manifest"))
            image = os.path.join(folder, name + ".img")
            formatted = any(e["scan"] == "formatted" for e in entries)
            mode = ["--formatted"] if formatted else []
            rc, lines = run_host(wine_run, host, ["list"] + mode + [image, "0", "1"])
            if rc != 0 or not lines or not lines[-1].startswith("entries: "):
                failures.append(f"{name}: list exited {rc}")
                continue
            rows = listed(lines)
            f = check_list(name, entries, rows, formatted)
            print(f"{name}{' (formatted)' if formatted else ''}: {len(rows)} entries listed, {len(f)} mismatch(es)")
            failures += f
            out_dir = os.path.join(work, name)
            console = []
            rc, lines = run_host(wine_run, host, ["recover"] + mode + [image, "0", "1", out_dir], console=console)
            f = check_recover(name, entries, out_dir, lines, formatted)
            with open(os.path.join(folder, name + ".manifest"), encoding="utf-8") as m:
                first_byte = next((int(l.split("\t")[4]) for l in m if l.startswith("part\t")), 0)
            cluster, exfat = cluster_bytes(image, first_byte)
            if formatted or exfat:
                f += check_cluster_lines(name, rows, console, cluster)
            if not formatted:
                f += compare_with_peer(name, image, first_byte // 512, rows, entries, out_dir)
            print(f"{name}: {lines[-1] if lines else 'no output'}, {len(f)} mismatch(es)")
            failures += f
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return checks.end(failures)


if __name__ == "__main__":
    sys.exit(main())
