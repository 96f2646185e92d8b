#!/bin/sh
# Builds the program and the network generator, writes mesh networks of about 1,000, 10,000 and
# 100,000 branches, runs the program on each with /usr/bin/time -v and prints the wall time and
# peak resident memory of two kinds of run:
#
#   setup   tolerance 1E9: the first sweep already meets it and so does the first friction
#           update, so the run does every stage but the sweeps, up to a complete results file;
#   sweeps  tolerance 1E-9 and iteration limit 200: the run reads and prepares the network, then
#           ends after 202 sweeps with the limit's two log lines (no results file).
#
# Each run is repeated RUNS times (default 3); the table shows the fastest wall time and the
# largest peak memory. The wall time of /usr/bin/time -v has hundredths of a second; the column
# "wall ms" is the same run timed by the shell in milliseconds (including the start of
# /usr/bin/time itself, about a millisecond). BUILD names the build folder (default build).
set -eu
cd "$(dirname "$0")/.."
build=${BUILD:-build}
runs=${RUNS:-3}

cmake -S . -B "$build" -G Ninja -DTESSARO_BENCH=ON >/dev/null
cmake --build "$build" >/dev/null
program=$(pwd)/$build/tessaro
generator=$(pwd)/$build/bench/make_network

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Seconds from the "h:mm:ss" or "m:ss.ss" wall clock time of /usr/bin/time -v.
wall_seconds() {
  sed -n 's/^.*Elapsed (wall clock) time.*: //p' "$1" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.2f", s }'
}

peak_kbytes() {
  sed -n 's/^.*Maximum resident set size (kbytes): //p' "$1"
}

printf '%-7s %8s %8s %7s %8s %12s   %s\n' run branches entries "wall s" "wall ms" "peak RSS MB" \
  outcome
for size in 1000 10000 100000; do
  for kind in setup sweeps; do
    folder=$work/$kind-$size
    mkdir -p "$folder"
    if [ "$kind" = setup ]; then tolerance=1E9; else tolerance=1E-9; fi
    shape=$("$generator" "$size" "$tolerance" 200 "$folder/Tessaro-net.txt")
    branches=${shape%% *}
    best_wall=
    best_ms=
    peak=0
    run=1
    while [ "$run" -le "$runs" ]; do
      rm -f "$folder/Log file.txt" "$folder/Tessaro-res.txt"
      start=$(date +%s%N)
      (cd "$folder" && /usr/bin/time -v -o time.txt "$program" >/dev/null)
      ms=$(awk "BEGIN { printf \"%.1f\", ($(date +%s%N) - $start) / 1e6 }")
      if [ -z "$best_ms" ] || awk "BEGIN { exit !($ms < $best_ms) }"; then best_ms=$ms; fi
      wall=$(wall_seconds "$folder/time.txt")
      kbytes=$(peak_kbytes "$folder/time.txt")
      if [ -z "$best_wall" ] || awk "BEGIN { exit !($wall < $best_wall) }"; then
        best_wall=$wall
      fi
      if [ "$kbytes" -gt "$peak" ]; then peak=$kbytes; fi
      run=$((run + 1))
    done
    entries=$(echo "$shape" | cut -d ' ' -f 3)
    outcome=$(tr -d '\r' <"$folder/Log file.txt" | head -n 1 | cut -c 2-)
    if [ "$kind" = setup ] && [ -f "$folder/Tessaro-res.txt" ]; then
      outcome="$outcome, results file of $(wc -l <"$folder/Tessaro-res.txt") lines"
    fi
    if [ "$kind" = sweeps ]; then
      outcome="$outcome,$(tr -d '\r' <"$folder/Log file.txt" | sed -n 2p | sed 's/.*= *//' |
        sed 's/^/ imbalance /')"
    fi
    printf '%-7s %8s %8s %7s %8s %12.1f   %s\n' "$kind" "$branches" "$entries" "$best_wall" \
      "$best_ms" "$(awk "BEGIN { print $peak / 1024 }")" "$outcome"
  done
done
