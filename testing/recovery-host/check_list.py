#!/usr/bin/env python3
"""recovery-host list, end to end: the entries that Intermediate.dll finds on each NTFS
fixture image, walked through its result tree, against the image's manifest.

Every manifest entry of the scan and every hard-link name must show at its own path with
its deleted and folder flags, its size and (images under ntfs/) its time; nothing else
may show under the volume root. What lies under "UnknownPath" (orphans, the system
files' leftovers) is reported, not judged, except that a manifest orphan is looked for."""
import os
import subprocess
import sys
import tempfile
import checks

MASK64 = (1 << 64) - 1

# Records on the images that the manifests leave out, as (image, path): (deleted, folder, size).
UNLISTED = {
    # The generator's scratch file, written and deleted in c/ while it built the mixed files;
    # its record keeps its name and parent.
    ("ntfs-compressed", "c/old-z.tmp"): (True, False, 65536),
}


def scan_time(unix):
    # The scan converts the 100 ns count in unsigned arithmetic: before 1970 wraps.
    return ((unix * 10_000_000) & MASK64) // 10_000_000


def read_manifest(path):
    entries, aliases, orphans, reparse = {}, [], [], {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#"):
                continue
            c = line.rstrip("\n").split("\t")
            if c[0] in ("entry", "orphan"):
                e = dict(path=c[1], size=int(c[2]), deleted=c[4] == "1", folder=c[5] == "1", time=int(c[6]),
                         record=int(c[7]), scan=c[8])
                (orphans.append(e) if c[0] == "orphan" else entries.__setitem__(e["path"], e))
            elif c[0] == "file":  # ntfs-demo: file DELETED FOLDER SIZE MTIME SHA256 PATH
                entries[c[6]] = dict(path=c[6], size=int(c[3]), deleted=c[1] == "1", folder=c[2] == "1",
                                     time=None, record=None, scan="normal")
            elif c[0] == "alias":
                aliases.append((c[1], int(c[2])))
            elif c[0] == "reparse":
                reparse[c[1]] = c[4]
    return entries, aliases, orphans, reparse


def link_target(link, print_name, entries, letter):
    """The manifest path that a link's print name names on a volume with that drive letter."""
    parts = link.split("/")[:-1]
    rest = print_name
    if len(rest) > 2 and rest[1:3] == ":\\":
        if rest[0].upper() != letter:
            return None  # another volume's: stays unresolved
        parts, rest = [], rest[3:]
    elif rest.startswith("\\"):
        parts, rest = [], rest[1:]
    while rest.startswith("..\\"):
        if not parts:
            return None
        parts, rest = parts[:-1], rest[3:]
    target = "/".join(parts + [p for p in rest.split("\\") if p])
    return target if target in entries else None


def expected(entries, aliases, reparse, scan, with_time, letter):
    want = {}
    by_record = {e["record"]: e for e in entries.values()}
    for e in entries.values():
        if e["scan"] == "normal" or e["scan"] == scan:
            want[e["path"]] = dict(e)
    for path, record in aliases:
        base = by_record[record]
        if base["scan"] == "normal" or base["scan"] == scan:
            want[path] = dict(base, path=path)
    notes = []
    for path, print_name in reparse.items():
        target = link_target(path, print_name, entries, letter)
        if path in want and target:
            # A resolved link reports its target's size and folder bits.
            want[path]["size"] = entries[target]["size"]
            want[path]["folder"] = entries[target]["folder"]
            notes.append(f"link {path} -> {target}")
        elif path in want:
            notes.append(f"link {path} -> {print_name}: unresolved")
    for w in want.values():
        w["time"] = scan_time(w["time"]) if with_time and w["time"] is not None else None
    return want, notes


def run_list(wine_run, host, image, formatted):
    args = [wine_run, host, "list"] + (["--formatted"] if formatted else []) + [image, "0", "1"]
    with tempfile.TemporaryFile() as out:
        # Output to a file: Wine's helper processes may keep a pipe open.
        rc = subprocess.call(args, stdout=out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=600)
        out.seek(0)
        lines = out.read().decode("utf-8").splitlines()
    rows = []
    for line in lines:
        if line.startswith("entries: "):
            continue
        d, f, size, time, path = line.split("\t", 4)
        rows.append(dict(deleted=d == "1", folder=f == "1", size=int(size), time=int(time), path=path))
    return rc, rows, lines


def check(name, image, manifest, scan, with_time, letter, run):
    entries, aliases, orphans, reparse = read_manifest(manifest)
    want, notes = expected(entries, aliases, reparse, scan, with_time, letter)
    # "IMAGE|C": the stand-in core gives the volume drive letter C.
    rc, rows, lines = run(image + ("|" + letter if letter else ""), scan == "formatted")
    label = f"{name} ({scan}{', drive ' + letter if letter else ''})"
    failures = []
    if rc != 0 or not lines or not lines[-1].startswith("entries: "):
        return [f"{label}: recovery-host list exited {rc}"], []
    if int(lines[-1].split()[1]) != len(rows):
        failures.append(f"{label}: {lines[-1]} for {len(rows)} lines")
    info = [f"{label}: {n}" for n in notes]
    seen, virtual = {}, []
    for r in rows:
        top = r["path"].split("/")[1] if r["path"].count("/") else ""
        if top in ("UnknownPath", "LostPath"):
            virtual.append(r)
            continue
        rel = r["path"][1:]
        if rel in seen:
            failures.append(f"{label}: {r['path']} listed twice")
        seen[rel] = r
    for path, w in sorted(want.items()):
        got = seen.get(path)
        if not got:
            failures.append(f"{label}: /{path} missing (expected deleted={int(w['deleted'])} "
                            f"folder={int(w['folder'])} size={w['size']})")
            continue
        for key in ("deleted", "folder", "size", "time"):
            if w[key] is not None and got[key] != w[key]:
                failures.append(f"{label}: /{path} {key}: expected {int(w[key])}, got {int(got[key])}")
    for path in sorted(set(seen) - set(want)):
        r = seen[path]
        if UNLISTED.get((name, path)) == (r["deleted"], r["folder"], r["size"]):
            info.append(f"{label}: /{path} found, a record the manifest leaves out")
            continue
        failures.append(f"{label}: /{path} not in the manifest (deleted={int(r['deleted'])} "
                        f"folder={int(r['folder'])} size={r['size']})")
    for r in virtual:
        info.append(f"{label}: virtual {r['path']} deleted={int(r['deleted'])} folder={int(r['folder'])} "
                    f"size={r['size']} time={r['time']}")
    for o in orphans:
        hit = [r for r in virtual if not r["folder"] and r["size"] == o["size"]]
        if not hit:
            # A deleted base record with neither a name nor a base reference makes no entry.
            info.append(f"{label}: orphan {o['path']} (record {o['record']}, size {o['size']}) not listed")
        else:
            info.append(f"{label}: orphan {o['path']} found as {hit[0]['path']}")
    print(f"{label}: {len(rows)} entries, {len(want)} expected, {len(virtual)} virtual, "
          f"{len(failures)} mismatch(es)")
    return failures, info


def main():
    wine_run, host, fixtures = sys.argv[1:4]
    images = [("ntfs-demo", fixtures, False)]
    ntfs = os.path.join(fixtures, "ntfs")
    images += [(n[:-len(".manifest")], ntfs, True) for n in sorted(os.listdir(ntfs)) if n.endswith(".manifest")]
    run = lambda image, formatted: run_list(wine_run, host, image, formatted)
    failures = []
    for name, folder, with_time in images:
        image = os.path.join(folder, name + ".img")
        manifest = os.path.join(folder, name + ".manifest")
        runs = [("normal", None)]
        if name == "ntfs-reformatted":
            runs.append(("formatted", None))
        if name == "ntfs-tree":
            # With the drive letter of its junction's target, the junction resolves to a
            # folder listed elsewhere; its content must not show twice.
            runs.append(("normal", "C"))
        for scan, letter in runs:
            f, info = check(name, image, manifest, scan, with_time, letter, run)
            for line in info:
                print("  " + line)
            failures += f
    return checks.end(failures)


if __name__ == "__main__":
    sys.exit(main())
