#!/usr/bin/env bash
# Configures and builds the project (32-bit Windows binaries) into the folder given (default build/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
cache=${DEPS_CACHE:-/var/cache/quorv-recovery-deps}
[ -f "$cache/current" ] || "$top/scripts/deps.sh"
mkdir -p "$build"
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-i686-mingw.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DDEPS_PREFIX="$(cat "$cache/current")" > "$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j "$(nproc)" > "$build/build.log" 2>&1 \
  || { grep -E -B2 -A8 'error|Error' "$build/build.log" | head -150; exit 1; }
echo "build: done ($build)"
