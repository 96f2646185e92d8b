#!/usr/bin/env bash
# Runs the three fuzz targets of a build side by side for a bounded time, seeded with every network
# input file of the tests. Fails on any finding (a sanitizer report, a broken rule of the run's
# outcome, a run past the time limit); the input that caused it is left in BUILD/fuzz/ as
# crash-*, leak-*, timeout-* or oom-*, and becomes a regression case in tests/bad-inputs/.
# Usage: run_fuzzers.sh BUILD [SECONDS]
set -euo pipefail
build=$(realpath "$1")
seconds=${2:-60}
root=$(realpath "$(dirname "$0")/../..")
work=$build/fuzz
rm -rf "$work"
mkdir -p "$work/program" "$work/reader" "$work/check"

k=0
for seed in "$root"/tests/cases/*/input/Tessaro-net.txt "$root"/tests/bad-inputs/*/input/Tessaro-net.txt \
    "$root"/../shared/cases/*/input/Tessaro-net.txt "$root"/examples/Tessaro-net.txt; do
  [ -f "$seed" ] || continue
  k=$((k + 1))
  cp "$seed" "$work/program/seed-$k"
  cp "$seed" "$work/check/seed-$k"
  # The reader target takes its first byte as the choice of the targets of its requests.
  { printf "\\$(printf %03o $((k % 8)))"; cat "$seed"; } >"$work/reader/seed-$k"
done

fuzz() {
  "$build/tests/fuzz/$1_fuzz" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=4096 \
    -dict="$root/tests/fuzz/input.dict" -artifact_prefix="$work/" -print_final_stats=1 \
    "$work/$1" >"$work/$1.log" 2>&1
}
status=0
fuzz program &
program=$!
fuzz reader &
reader=$!
fuzz check &
checker=$!
wait "$program" || status=1
wait "$reader" || status=1
wait "$checker" || status=1

for target in program reader check; do
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
  echo "fuzzing $target: ${runs:-?} inputs in ${seconds} s, $k seeds"
done
if [ "$status" != 0 ]; then
  for target in program reader check; do
    echo "---- $work/$target.log"
    grep -v -E '^#[0-9]+ ' "$work/$target.log" | tail -n 40
  done
  ls "$work" | grep -E '^(crash|leak|timeout|oom)-' || true
  echo "fuzzing found a fault"
  exit 1
fi
echo "fuzzing found nothing"
