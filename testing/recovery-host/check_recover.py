#!/usr/bin/env python3
"""recovery-host recover, end to end: every file that a scan of each NTFS fixture image
finds is written through Intermediate.dll into a fresh folder, and what lands there is
held against the image's manifest.

Every manifest file of the scan (hard-link names too) must lie at its path, made safe for
Windows, with exactly the manifest's size and SHA-256; a manifest orphan must turn up by
its content under the lost-files folder when the scan lists it; nothing may be written
beside the output folder. Files the manifest does not know (the system's leftovers under
LostPath/UnknownPath) are reported, not judged, and so are recovery failures that only
such leftovers can explain. A copy of ntfs-tree.img with one broken extension record of
frag/split.txt must fail that file alone."""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import check_list
import checks

VIRTUAL_TOPS = ("LostPath", "UnknownPath")
RESERVED = {"CON", "PRN", "AUX", "NUL"} | {f"{d}{n}" for d in ("COM", "LPT") for n in range(1, 10)}


def safe_component(name):
    if name in ("", "."):
        return "_"
    if name == "..":
        return "__"
    text = "".join("_" if ord(ch) < 0x20 or ch in '<>:"/\\|?*' else ch for ch in name)
    kept = text.rstrip(". ")
    text = kept + "_" * (len(text) - len(kept))
    if text.split(".")[0].upper() in RESERVED:
        text = "_" + text
    return text


def safe_path(path):
    return "/".join(safe_component(part) for part in path.split("/"))


def manifest_hashes(path):
    """Path -> SHA-256 of every file line; orphans by their former path."""
    hashes = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            c = line.rstrip("\n").split("\t")
            if c[0] in ("entry", "orphan") and c[5] == "0":
                hashes[c[1]] = c[3]
            elif c[0] == "file" and c[2] == "0":  # ntfs-demo: file DELETED FOLDER SIZE MTIME SHA256 PATH
                hashes[c[6]] = c[5]
    return hashes


def expected_files(manifest, scan, deleted_only):
    """Manifest path -> (size, sha256) of every file the run must write, and notes."""
    entries, aliases, orphans, reparse = check_list.read_manifest(manifest)
    hashes = manifest_hashes(manifest)
    by_record = {e["record"]: e for e in entries.values()}
    want, notes = {}, []

    def take(path, base):
        if base["folder"] or not (base["scan"] == "normal" or base["scan"] == scan):
            return
        if deleted_only and not base["deleted"]:
            return
        want[path] = (base["size"], hashes[base["path"]])

    for e in entries.values():
        take(e["path"], e)
    for path, record in aliases:
        take(path, by_record[record])
    for path, print_name in reparse.items():
        target = check_list.link_target(path, print_name, entries, None)
        if path in want and target:
            # A resolved link shows its target's size: its recovered bytes are the target's.
            want[path] = (entries[target]["size"], hashes[target])
            notes.append(f"link {path} -> {target}: recovered as its target")
    orphans = [dict(o, sha=hashes[o["path"]]) for o in orphans if not deleted_only or o["deleted"]]
    return want, orphans, notes


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def written_files(root):
    """Relative '/'-joined path of every file under root."""
    found = []
    for folder, _, files in os.walk(root):
        for name in files:
            found.append(os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/"))
    return sorted(found)


def run_recover(wine_run, host, image, out_dir, formatted, deleted_only):
    args = [wine_run, host, "recover"] + (["--formatted"] if formatted else []) + \
           (["--deleted-only"] if deleted_only else []) + [image, "0", "1", out_dir]
    with tempfile.TemporaryFile() as out:
        # Output to a file: Wine's helper processes may keep a pipe open.
        rc = subprocess.call(args, stdout=out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=900)
        out.seek(0)
        lines = out.read().decode("utf-8").splitlines()
    for line in lines:
        words = line.split()
        if len(words) == 4 and words[0] == "recovered:" and words[2] == "failed:":
            return rc, int(words[1]), int(words[3])
    return rc, None, None


def check_run(label, wine_run, host, image, manifest, scan, deleted_only, name, broken_files=0):
    """Recovers into a fresh folder; (failures, info, the counts). broken_files: manifest
    files that the image was damaged to lose."""
    want, orphans, notes = expected_files(manifest, scan, deleted_only)
    info = [f"{label}: {n}" for n in notes]
    failures = []
    with tempfile.TemporaryDirectory(prefix="recover-") as sandbox:
        out_dir = os.path.join(sandbox, "out")
        rc, recovered, failed = run_recover(wine_run, host, image, out_dir, scan == "formatted", deleted_only)
        if recovered is None:
            return [f"{label}: recovery-host recover exited {rc} without its counts"], info, None
        beside = sorted(set(os.listdir(sandbox)) - {"out"})
        if beside:
            failures.append(f"{label}: written beside the output folder: {beside}")
        written = written_files(out_dir)
        digests = {path: sha256(os.path.join(out_dir, path)) for path in written}
        sizes = {path: os.path.getsize(os.path.join(out_dir, path)) for path in written}

    matched = set()
    for path, (size, digest) in sorted(want.items()):
        at = safe_path(path)
        if at not in digests:
            failures.append(f"{label}: {path} not written (expected at {at})")
            continue
        matched.add(at)
        if sizes[at] != size or digests[at] != digest:
            failures.append(f"{label}: {at}: {sizes[at]} bytes sha256 {digests[at][:16]}.., "
                            f"expected {size} bytes sha256 {digest[:16]}..")

    lost = [p for p in written if p.split("/")[0] in VIRTUAL_TOPS and p not in matched]
    _, rows, _ = check_list.run_list(wine_run, host, image, scan == "formatted")
    virtual = [r for r in rows if r["path"].split("/")[1] in VIRTUAL_TOPS and not r["folder"]]
    for o in orphans:
        hit = [p for p in lost if digests[p] == o["sha"] and sizes[p] == o["size"]]
        listed = any(r["size"] == o["size"] for r in virtual)
        if hit:
            matched.add(hit[0])
            info.append(f"{label}: orphan {o['path']} recovered as {hit[0]}")
        elif listed:
            failures.append(f"{label}: orphan {o['path']} ({o['size']} bytes) listed but not recovered under "
                            f"{'/'.join(VIRTUAL_TOPS)}")
        else:
            info.append(f"{label}: orphan {o['path']} not listed by the scan, so not recovered")

    for path in written:
        if path in matched:
            continue
        if path.split("/")[0] in VIRTUAL_TOPS:
            info.append(f"{label}: leftover {path} ({sizes[path]} bytes)")
        elif (name, path) in check_list.UNLISTED:
            info.append(f"{label}: {path} written, a record the manifest leaves out")
        else:
            failures.append(f"{label}: {path} written ({sizes[path]} bytes) but not in the manifest")

    if recovered != len(written):
        failures.append(f"{label}: recovered {recovered} but {len(written)} files written")
    # Failures are only the leftovers' business: each must be a listed leftover file
    # that did not come back.
    leftovers_missing = max(len([r for r in virtual if not (deleted_only and not r["deleted"])]) - len(lost), 0)
    if failed:
        if failed > leftovers_missing + broken_files:
            failures.append(f"{label}: {failed} file(s) failed, more than the {leftovers_missing} leftover(s) "
                            f"not written{f' and {broken_files} broken file(s)' if broken_files else ''} (exit {rc})")
        else:
            info.append(f"{label}: {failed} failure(s), leftovers{' or broken files' if broken_files else ''}")
    elif rc != 0:
        failures.append(f"{label}: exit {rc} with no failure counted")
    print(f"{label}: recovered {recovered}, failed {failed}, {len(want)} expected, "
          f"{len(failures)} mismatch(es)")
    return failures, info, (recovered, failed)


def mft_geometry(image):
    with open(image, "rb") as f:
        boot = f.read(512)
    bytes_per_sector = struct.unpack_from("<H", boot, 0x0B)[0]
    cluster = bytes_per_sector * boot[0x0D]
    mft_lcn = struct.unpack_from("<q", boot, 0x30)[0]
    per_record = struct.unpack_from("<b", boot, 0x40)[0]
    record_size = cluster * per_record if per_record > 0 else 1 << -per_record
    return mft_lcn * cluster, record_size


def extension_records(manifest, path):
    with open(manifest, encoding="utf-8") as f:
        for line in f:
            c = line.rstrip("\n").split("\t")
            if c[0] == "entry" and c[1] == path:
                for item in c[9].split(","):
                    if item.startswith("hosts="):
                        hosts = [int(r) for r in item[len("hosts="):].split("+")]
                        return hosts[1:]
    return []


def check_damaged(wine_run, host, folder):
    """A copy of ntfs-tree.img whose frag/split.txt lost one extension record's signature."""
    label = "ntfs-tree (broken extension record)"
    manifest = os.path.join(folder, "ntfs-tree.manifest")
    extensions = extension_records(manifest, "frag/split.txt")
    if len(extensions) < 2:
        return [f"{label}: manifest names no extension records of frag/split.txt"], []
    broken = extensions[len(extensions) // 2]
    with tempfile.TemporaryDirectory(prefix="damaged-") as work:
        image = os.path.join(work, "ntfs-tree.img")
        shutil.copyfile(os.path.join(folder, "ntfs-tree.img"), image)
        mft_offset, record_size = mft_geometry(image)
        with open(image, "r+b") as f:
            # The first records of $MFT lie in one run here: record n is at n × size.
            f.seek(mft_offset + broken * record_size)
            head = f.read(0x30)
            if head[:4] != b"FILE" or struct.unpack_from("<I", head, 0x2C)[0] != broken:
                return [f"{label}: record {broken} is not where the boot sector puts it"], []
            f.seek(mft_offset + broken * record_size)
            f.write(b"BAAD")
        failures, info, counts = check_run(label, wine_run, host, image, manifest, "normal", False, "ntfs-tree",
                                           broken_files=1)
    if counts is None:
        return failures, info
    # The broken file is the one failure expected; all the rest must still be exact.
    expected_miss = f"{label}: frag/split.txt not written (expected at {safe_path('frag/split.txt')})"
    rest = [f for f in failures if f != expected_miss]
    if expected_miss not in failures:
        rest.append(f"{label}: frag/split.txt was written although record {broken} is broken")
    if counts[1] < 1:
        rest.append(f"{label}: no failure counted")
    info.append(f"{label}: record {broken} broken, recovered {counts[0]}, failed {counts[1]}")
    return rest, info


def main():
    wine_run, host, fixtures = sys.argv[1:4]
    ntfs = os.path.join(fixtures, "ntfs")
    images = [("ntfs-demo", fixtures)]
    images += [(n[:-len(".manifest")], ntfs) for n in sorted(os.listdir(ntfs)) if n.endswith(".manifest")]
    failures = []
    for name, folder in images:
        image = os.path.join(folder, name + ".img")
        manifest = os.path.join(folder, name + ".manifest")
        runs = [("normal", False)]
        if name == "ntfs-reformatted":
            runs.append(("formatted", False))
        if name in ("ntfs-tree", "ntfs-compressed"):
            runs.append(("normal", True))
        for scan, deleted_only in runs:
            label = f"{name} ({scan}{', deleted only' if deleted_only else ''})"
            f, info, _ = check_run(label, wine_run, host, image, manifest, scan, deleted_only, name)
            for line in info:
                print("  " + line)
            failures += f
    f, info = check_damaged(wine_run, host, ntfs)
    for line in info:
        print("  " + line)
    failures += f
    return checks.end(failures)


if __name__ == "__main__":
    sys.exit(main())
