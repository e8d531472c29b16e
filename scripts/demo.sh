#!/usr/bin/env bash
# The main job on the embedded default: a small NTFS volume with deleted files
# (testing/fixtures/ntfs-demo.img), shown through Intermediate.dll by the host program.
# Usage: scripts/demo.sh [IMAGE]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}

"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$build"

export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all
"$top/testing/wine-prefix.sh" "$WINEPREFIX"

image=${1:-$build/fixtures/ntfs-demo.img}
host="$build/wine-run $build/bin/recovery-host.exe"

echo "== disks and partitions of $image"
$host disks "$image" < /dev/null
echo "== files found on disk 0, partition 1 (deleted, folder, size, time, path)"
status=0
$host list "$image" 0 1 < /dev/null || status=$?
wineserver -k > /dev/null 2>&1 || true
exit $status
