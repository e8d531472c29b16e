#!/usr/bin/env bash
# The main job on the embedded default: a small NTFS volume with deleted files
# (testing/fixtures/ntfs-demo.img), shown through Intermediate.dll by the host program,
# and its deleted files recovered into a folder; then Installer.exe under Xvfb driven
# through a default install against the local test server (the fake setup as the
# package), with a picture of every page.
# Usage: scripts/demo.sh [IMAGE [OUTDIR]]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}

"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$build"

export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all
"$top/testing/wine-prefix.sh" "$WINEPREFIX"

image=${1:-$build/fixtures/ntfs-demo.img}
out=${2:-$build/demo-recovered}
host="$build/wine-run $build/bin/recovery-host.exe"

echo "== disks and partitions of $image"
$host disks "$image" < /dev/null
echo "== files found on disk 0, partition 1 (deleted, folder, size, time, path)"
status=0
$host list "$image" 0 1 < /dev/null || status=$?
if [ $status -eq 0 ]; then
  echo "== deleted files recovered into $out"
  rm -rf "$out"
  mkdir -p "$out"
  $host recover --deleted-only "$image" 0 1 "Z:$out" < /dev/null || status=$?
  (cd "$out" && find . -type f | sort | while read -r f; do printf '%10d  %s\n' "$(stat -c %s "$f")" "${f#./}"; done)
fi
wineserver -k > /dev/null 2>&1 || true
echo "== Installer.exe: a default install, driven through its window"
shots=$build/demo-installer
python3 "$top/testing/installer/check_installer_e2e.py" "$build/wine-run" "$build/bin" "$shots" default-install \
  || status=$?
echo "== pictures of every page: $shots/default-install"
ls "$shots/default-install"/*.png
exit $status
