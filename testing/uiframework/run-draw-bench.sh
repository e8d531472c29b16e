#!/usr/bin/env bash
# Paints the benchmark page with the framework's drawing functions and with bare GDI
# (under Wine, same run) and prints both frame times.
# usage: testing/uiframework/run-draw-bench.sh <build folder>
set -euo pipefail
build=${1:?build folder}
cmake --build "$build" --target uiframework_draw_bench > /dev/null
"$build/wine-run" "$build/bin/uiframework_draw_bench.exe" "Z:$build/testing/uiframework/images" 60 | tr -d '\r'
