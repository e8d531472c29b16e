#!/usr/bin/env bash
# Opens the 5 MB benchmark skin with our 7z reader (under Wine) and with `7zz t`
# (native), in the same run, and prints both times and their ratio.
# usage: testing/uiframework/run-bench.sh <build folder>
set -euo pipefail
build=${1:?build folder}
skin=$build/testing/uiframework/bench/bench_skin.7z
[ -f "$skin" ] || cmake --build "$build" --target uiframework_bench
ours=$("$build/wine-run" "$build/bin/uiframework_bench.exe" "Z:$skin" 3 | tr -d '\r')
echo "ours:  $ours"
best=1000000
for _ in 1 2 3; do
  t0=$(date +%s%N); 7zz t -bd "$skin" > /dev/null; t1=$(date +%s%N)
  ms=$(( (t1 - t0) / 1000000 )); [ "$ms" -lt "$best" ] && best=$ms
done
echo "7zz t: best_ms=$best (native $(uname -m), whole process)"
ours_ms=${ours##*best_ms=}
python3 -c "print('ratio ours/7zz = %.2f' % (float('$ours_ms') / max(1, $best)))"
echo "note: ours runs as 32-bit code under Wine and, on this machine, qemu user emulation."
