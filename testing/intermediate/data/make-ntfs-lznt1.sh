#!/usr/bin/env bash
# Makes the LZNT1 fixture: compression units exactly as ntfs-3g stores them on disk.
# A file of known bytes is written into a compressed folder of a fresh NTFS volume
# (4096-byte clusters, so 64 KiB units); after unmounting, the clusters of each unit are
# read out raw, following the run list that sleuthkit's istat prints (0 = sparse).
# Output beside this script:
#   ntfs3g-plain.bin   the file's bytes
#   ntfs3g-unitN.bin   the stored clusters of unit N (what NTFS recovery hands the codec)
#   ntfs3g-units.txt   one line per unit: file, offset in the plain bytes, length, stored raw
# Needs root and FUSE (ntfs-3g), mkntfs, sleuthkit (ifind, istat) and python3.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" = 0 ] || { echo "make-ntfs-lznt1: run as root (ntfs-3g mount)" >&2; exit 1; }
for tool in mkntfs ntfs-3g ifind istat python3; do
  command -v "$tool" > /dev/null || { echo "make-ntfs-lznt1: $tool missing" >&2; exit 1; }
done

work=$(mktemp -d)
mnt=$work/mnt
cleanup() {
  if mountpoint -q "$mnt" 2> /dev/null; then umount "$mnt" || fusermount -u "$mnt" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

img=$work/ntfs.img
truncate -s 8M "$img"
mkntfs -F -Q -q -c 4096 "$img" 2> /dev/null
mkdir "$mnt"
ntfs-3g -o compression "$img" "$mnt"
mkdir "$mnt/packed"
# FILE_ATTRIBUTE_COMPRESSED (0x800) on the folder: files made in it are compressed.
python3 - "$mnt/packed" <<'EOF'
import os, struct, sys
key = "system.ntfs_attrib_be"
attrs = struct.unpack(">I", os.getxattr(sys.argv[1], key))[0]
os.setxattr(sys.argv[1], key, struct.pack(">I", attrs | 0x800))
EOF

# Text lines with runs of zeros and short noise, and one stretch of noise longer than a
# chunk (stored raw inside a compressed unit); 100000 bytes, so the second unit is short.
python3 - "$here/ntfs3g-plain.bin" <<'EOF'
import random, sys
r = random.Random(2122)
words = ("the cluster record volume index stream attribute sparse unit chunk token "
         "literal flag header recovered file folder deleted").split()
out = bytearray()
while len(out) < 100000:
    if 20000 <= len(out) < 21000:
        out += bytes(r.randrange(256) for _ in range(5000))
    k = r.random()
    if k < 0.02:
        out += bytes(r.randrange(200, 3000))
    elif k < 0.05:
        out += bytes(r.randrange(256) for _ in range(r.randrange(50, 400)))
    else:
        line = " ".join(r.choice(words) for _ in range(r.randrange(3, 12)))
        out += ("%06d %s\r\n" % (len(out), line)).encode()
open(sys.argv[1], "wb").write(bytes(out[:100000]))
EOF
cp "$here/ntfs3g-plain.bin" "$mnt/packed/plain.bin"
umount "$mnt"

inode=$(ifind -n packed/plain.bin "$img")
istat "$img" "$inode" > "$work/istat.txt"
grep -q 'Type: \$DATA.*Compressed' "$work/istat.txt" || { echo "make-ntfs-lznt1: file not compressed" >&2; exit 1; }

python3 - "$img" "$work/istat.txt" "$here" <<'EOF'
import os, re, sys
img, listing, out = sys.argv[1], sys.argv[2], sys.argv[3]
cluster, unit_clusters = 4096, 16
lines = open(listing).read().splitlines()
at = next(i for i, l in enumerate(lines) if l.startswith("Type: $DATA"))
size = int(re.search(r"size: (\d+)", lines[at]).group(1))
vcns = []
for l in lines[at + 1:]:
    if not re.fullmatch(r"[\d ]+", l.strip() or "x"):
        break
    vcns += [int(x) for x in l.split()]
plain = open(os.path.join(out, "ntfs3g-plain.bin"), "rb").read()
assert len(plain) == size, (len(plain), size)
rows = ["# file\toffset\tlength\tstored raw (all 16 clusters present)"]
with open(img, "rb") as disk:
    n = 0
    while n * unit_clusters * cluster < size:
        lcns = vcns[n * unit_clusters:(n + 1) * unit_clusters]
        present = [c for c in lcns if c != 0]
        # A unit's stored clusters come first, the sparse ones follow.
        assert lcns[:len(present)] == present, lcns
        data = b""
        for c in present:
            disk.seek(c * cluster)
            data += disk.read(cluster)
        name = "ntfs3g-unit%d.bin" % n
        open(os.path.join(out, name), "wb").write(data)
        offset = n * unit_clusters * cluster
        length = min(unit_clusters * cluster, size - offset)
        rows.append("%s\t%d\t%d\t%d" % (name, offset, length, int(len(present) == unit_clusters)))
        print("make-ntfs-lznt1: %s: %d of %d clusters stored" % (name, len(present), len(lcns)))
        n += 1
open(os.path.join(out, "ntfs3g-units.txt"), "w").write("\n".join(rows) + "\n")
EOF
