#!/usr/bin/env python3
"""recovery-host disks, end to end: Intermediate.dll over the stand-in core must list
every fixture image's partitions with the numbers, type words and sizes of its manifest."""
import os
import subprocess
import sys
import tempfile
import checks


def manifest_parts(path):
    image_size, parts = None, []
    with open(path, encoding="utf-8") as f:
        for line in f:
            cols = line.rstrip("\n").split("\t")
            if cols[0] == "image":
                image_size = int(cols[2])
            elif cols[0] == "part":
                parts.append((int(cols[1]), int(cols[3]), int(cols[5])))
    return image_size, parts


def main():
    wine_run, host, fixtures = sys.argv[1:4]
    names = sorted(n[:-len(".manifest")] for n in os.listdir(fixtures) if n.endswith(".manifest"))
    images = [os.path.join(fixtures, n + ".img") for n in names]
    with tempfile.TemporaryFile() as out:
        # Output to a file: Wine's helper processes may keep a pipe open.
        rc = subprocess.call([wine_run, host, "disks", *images], stdout=out, stderr=subprocess.DEVNULL,
                             stdin=subprocess.DEVNULL, timeout=300)
        out.seek(0)
        lines = out.read().decode("utf-8").splitlines()
    if rc != 0:
        print(f"recovery-host disks exited {rc}")
        return 1
    disks = [l.split("\t") for l in lines if l.startswith("disk\t")]
    parts = [l.split("\t") for l in lines if l.startswith("part\t")]
    failures = []
    if len(disks) != len(images):
        failures.append(f"{len(disks)} disks listed for {len(images)} images")
    for index, name in enumerate(names):
        size, want = manifest_parts(os.path.join(fixtures, name + ".manifest"))
        got = [(int(p[2]), int(p[3]), int(p[4])) for p in parts if int(p[1]) == index]
        disk = [d for d in disks if int(d[1]) == index]
        if not disk or int(disk[0][2]) != size:
            failures.append(f"{name}: disk line {disk} does not give size {size}")
        if got != want:
            failures.append(f"{name}: partitions {got}, manifest says {want}")
        else:
            print(f"{name}: {len(got)} partition(s) as in the manifest")
    return checks.end(failures)


if __name__ == "__main__":
    sys.exit(main())
