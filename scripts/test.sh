#!/usr/bin/env bash
# Sets the machine up, builds everything and runs the whole test suite under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}

"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$build"

export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all
"$top/testing/wine-prefix.sh" "$WINEPREFIX"

# One persistent wineserver for the whole run, stopped by its own pid.
wineserver -f -p > "$build/wineserver.log" 2>&1 &
server=$!
stop_server() {
  wineserver -k > /dev/null 2>&1 || true
  kill "$server" > /dev/null 2>&1 || true
  wait "$server" 2> /dev/null || true
}
trap stop_server EXIT
# Start Wine's own background services now, detached from ctest's pipes: a service
# started by the first test would keep that test's output pipe open.
wine cmd.exe /c exit < /dev/null > /dev/null 2>&1 || true

status=0
ctest --test-dir "$build" -j "$(nproc)" --timeout 900 --output-on-failure "$@" || status=$?
exit $status
