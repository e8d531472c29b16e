#!/usr/bin/env python3
"""recovery-host list and recover over NTFS fixture images whose MFT records were damaged
here, one kind of damage per copy: the damaged file may be lost or come back under a name
of its own, but every other file of the volume must come back byte-exact, and nothing of
the damage may hand one file's bytes to another.

  - a name whose first character is NUL: the file is named after its record in its own
    folder; the folder's other files are untouched;
  - an extension record whose base reference names another file (one without and one with
    an attribute list): the other file keeps its own bytes;
  - an old record of a formatted volume that claims the number of the record after it:
    that record keeps its number and its bytes;
  - a record that lost its name: a real orphan, listed and recovered under UnknownPath.
Also: the live children of $Extend ($ObjId, $Quota, $Reparse) are not listed at all."""
import os
import shutil
import struct
import sys
import tempfile

import check_list
import check_recover

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures", "ntfs"))
import ntfsimg  # noqa: E402  (the fixtures' record reader and patcher)
import checks


def manifest_entry(manifest, path):
    entries, _, _, _ = check_list.read_manifest(manifest)
    return entries[path]


def file_name_attrs(rec):
    return [a for a in ntfsimg.attributes(rec) if a["type"] == 0x30]


def patch_record(image, number, patch):
    vol = ntfsimg.Volume(image, writable=True)
    rec = vol.record(number)
    if rec is None:
        raise SystemExit(f"record {number} of {image} is no FILE record")
    patch(rec)
    vol.write_record(number, rec)
    vol.f.close()


def judged(label, failures, allowed):
    """The failures of a run less the allowed ones; an allowed one that did not happen is
    itself a failure (the damage did not do what the case says)."""
    rest = [f for f in failures if f not in allowed]
    for a in allowed:
        if a not in failures:
            rest.append(f"{label}: expected '{a}' did not happen")
    return rest


def case_empty_name(wine_run, host, folder, work):
    label = "ntfs-tree (first name character NUL)"
    image = os.path.join(work, "empty-name.img")
    shutil.copyfile(os.path.join(folder, "ntfs-tree.img"), image)
    manifest = os.path.join(folder, "ntfs-tree.manifest")
    draft = manifest_entry(manifest, "docs/draft.txt")

    def blank(rec):
        for a in file_name_attrs(rec):
            rec[a["voff"] + 0x42:a["voff"] + 0x44] = b"\0\0"
    patch_record(image, draft["record"], blank)

    placeholder = f"docs/UnnamedFile{draft['record']}"
    _, rows, _ = check_list.run_list(wine_run, host, image, False)
    failures = []
    paths = [r["path"] for r in rows]
    if f"/{placeholder}" not in paths:
        failures.append(f"{label}: /{placeholder} not listed")
    for p in sorted(set(paths)):
        if paths.count(p) > 1:
            failures.append(f"{label}: {p} listed {paths.count(p)} times")
    got, info, _ = check_recover.check_run(label, wine_run, host, image, manifest, "normal", False, "ntfs-tree",
                                           broken_files=0)
    allowed = [f"{label}: docs/draft.txt not written (expected at docs/draft.txt)",
               f"{label}: {placeholder} written ({draft['size']} bytes) but not in the manifest"]
    failures += judged(label, got, allowed)
    return failures, info


def case_foreign_extension(wine_run, host, folder, work, owner_path):
    """An extension record of frag/split.txt names owner_path's record as its base."""
    manifest = os.path.join(folder, "ntfs-tree.manifest")
    split = manifest_entry(manifest, "frag/split.txt")
    owner = manifest_entry(manifest, owner_path)
    label = f"ntfs-tree (extension record of frag/split.txt names {owner_path})"
    image = os.path.join(work, "foreign-extension.img")
    shutil.copyfile(os.path.join(folder, "ntfs-tree.img"), image)
    vol = ntfsimg.Volume(image)
    # The extension record that holds the name: taken over, it would name the owner's file.
    extensions = [n for n in range(split["record"] + 1, split["record"] + 8)
                  if (r := vol.record(n)) is not None and struct.unpack_from("<I", r, 0x20)[0] == split["record"]]
    vol.f.close()
    named = [n for n in extensions if file_name_attrs(vol_record(image, n))]
    if not named:
        return [f"{label}: no extension record of frag/split.txt holds its name"], []
    victim = named[0]

    def rebase(rec):
        struct.pack_into("<IH", rec, 0x20, owner["record"], 0)
    patch_record(image, victim, rebase)
    got, info, _ = check_recover.check_run(label, wine_run, host, image, manifest, "normal", False, "ntfs-tree",
                                           broken_files=1)
    allowed = [f"{label}: frag/split.txt not written (expected at frag/split.txt)"]
    info.append(f"{label}: record {victim} now names record {owner['record']} as its base")
    return judged(label, got, allowed), info


def vol_record(image, number):
    vol = ntfsimg.Volume(image)
    rec = vol.record(number)
    vol.f.close()
    return rec


def case_formatted_conflict(wine_run, host, folder, work):
    label = "ntfs-reformatted (formatted; an old record claims the next one's number)"
    manifest = os.path.join(folder, "ntfs-reformatted.manifest")
    todo = manifest_entry(manifest, "projects/2023/todo.txt")
    beach = manifest_entry(manifest, "photos/beach.jpg")
    image = os.path.join(work, "formatted-conflict.img")
    shutil.copyfile(os.path.join(folder, "ntfs-reformatted.img"), image)
    # The old $MFT lies where the new one starts, one record after another: the old
    # records are found at their numbers' places past the new $MFT's end.
    vol = ntfsimg.Volume(image)
    start = vol.mft_runs[0][1] * vol.cluster
    rsize = vol.rsize
    vol.f.close()
    with open(image, "r+b") as f:
        f.seek(start + todo["record"] * rsize)
        head = f.read(0x30)
        if head[:4] != b"FILE" or struct.unpack_from("<I", head, 0x2C)[0] != todo["record"]:
            return [f"{label}: old record {todo['record']} is not at its place"], []
        f.seek(start + todo["record"] * rsize + 0x2C)
        f.write(struct.pack("<I", beach["record"]))
    got, info, _ = check_recover.check_run(label, wine_run, host, image, manifest, "formatted", False,
                                           "ntfs-reformatted", broken_files=1)
    allowed = [f"{label}: projects/2023/todo.txt not written (expected at projects/2023/todo.txt)"]
    return judged(label, got, allowed), info


def case_orphan(wine_run, host, folder, work):
    label = "ntfs-tree (readme.txt lost its name)"
    manifest = os.path.join(folder, "ntfs-tree.manifest")
    readme = manifest_entry(manifest, "readme.txt")
    image = os.path.join(work, "orphan.img")
    shutil.copyfile(os.path.join(folder, "ntfs-tree.img"), image)

    def unname(rec):
        for a in file_name_attrs(rec):
            struct.pack_into("<I", rec, a["off"], 0x40)  # now an attribute the scan skips
    patch_record(image, readme["record"], unname)
    _, rows, _ = check_list.run_list(wine_run, host, image, False)
    failures = []
    orphans = [r for r in rows if r["path"].startswith("/UnknownPath/") and not r["folder"]]
    if [r["size"] for r in orphans] != [readme["size"]]:
        failures.append(f"{label}: UnknownPath holds {[(r['path'], r['size']) for r in orphans]}, "
                        f"expected one orphan of {readme['size']} bytes")
    got, info, _ = check_recover.check_run(label, wine_run, host, image, manifest, "normal", False, "ntfs-tree",
                                           broken_files=0)
    allowed = [f"{label}: readme.txt not written (expected at readme.txt)"]
    failures += judged(label, got, allowed)
    # The orphan comes back with readme.txt's bytes under the lost files' folder.
    if orphans and not any(line.startswith(f"{label}: leftover ") and f"({readme['size']} bytes)" in line
                           for line in info):
        failures.append(f"{label}: the orphan was not recovered")
    return failures, info


def case_system_files(wine_run, host, fixtures):
    failures = []
    for image in (os.path.join(fixtures, "ntfs-demo.img"), os.path.join(fixtures, "ntfs", "ntfs-tree.img")):
        _, rows, _ = check_list.run_list(wine_run, host, image, False)
        system = [r["path"] for r in rows if r["path"].startswith("/UnknownPath/$")]
        if system:
            failures.append(f"{os.path.basename(image)}: system files listed as lost: {system}")
        print(f"{os.path.basename(image)}: {len(rows)} entries, {len(system)} system files under UnknownPath")
    return failures, []


def main():
    wine_run, host, fixtures = sys.argv[1:4]
    ntfs = os.path.join(fixtures, "ntfs")
    failures = []
    runs = [lambda w: case_system_files(wine_run, host, fixtures),
            lambda w: case_empty_name(wine_run, host, ntfs, w),
            lambda w: case_foreign_extension(wine_run, host, ntfs, w, "docs/report.txt"),
            lambda w: case_foreign_extension(wine_run, host, ntfs, w, "many/shared.bin"),
            lambda w: case_formatted_conflict(wine_run, host, ntfs, w),
            lambda w: case_orphan(wine_run, host, ntfs, w)]
    for run in runs:
        with tempfile.TemporaryDirectory(prefix="damaged-") as work:
            f, info = run(work)
        for line in info:
            print("  " + line)
        failures += f
    return checks.end(failures)


if __name__ == "__main__":
    sys.exit(main())
