#!/bin/sh
# Times whole-process runs of the global solver on the grid networks of make_network and the
# sparse networks of make_sparse_network (about 1.2 pipes per junction) of about 10,000, 100,000
# and 1,000,000 branches, with /usr/bin/time -v (wall time and peak resident memory), and in the
# same benchmark run the classic setup-and-report run on the same file (tolerance 1E9: the first
# sweep and the first friction update already meet it, so that run reads, prepares, balances
# once and writes the results file). The global solver does not read the tolerance; the file's
# iteration limit (100) bounds its Newton iterations. SIZES overrides the sizes, BUILD the build
# folder (default build).
set -eu
cd "$(dirname "$0")/.."
build=${BUILD:-build}
sizes=${SIZES:-"10000 100000 1000000"}

cmake -S . -B "$build" -G Ninja -DTESSARO_BENCH=ON >/dev/null
cmake --build "$build" >/dev/null
program=$(pwd)/$build/tessaro

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

wall_seconds() {
  sed -n 's/^.*Elapsed (wall clock) time.*: //p' "$1" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.2f", s }'
}
peak_mbytes() {
  sed -n 's/^.*Maximum resident set size (kbytes): //p' "$1" | awk '{ printf "%.1f", $1 / 1024 }'
}

printf '%-7s %9s %-8s %7s %9s %10s  %s\n' layout branches solver "wall s" "wall ms" "peak MB" \
  outcome
for size in $sizes; do
  for layout in grid sparse; do
    folder=$work/$layout-$size
    mkdir -p "$folder"
    if [ "$layout" = grid ]; then
      generator=$build/bench/make_network
    else
      generator=$build/bench/make_sparse_network
    fi
    shape=$("$generator" "$size" 1E9 100 "$folder/Tessaro-net.txt")
    branches=${shape%% *}
    for solver in global classic; do
      rm -f "$folder/Log file.txt" "$folder/Tessaro-res.txt"
      if [ "$solver" = global ]; then set -- --solver global --summary; else set --; fi
      start=$(date +%s%N)
      (cd "$folder" && /usr/bin/time -v -o time.txt "$program" "$@" >/dev/null 2>summary.txt)
      ms=$(awk "BEGIN { printf \"%.0f\", ($(date +%s%N) - $start) / 1e6 }")
      outcome=$(tr -d '\r' <"$folder/Log file.txt" | head -n 1 | cut -c 2-)
      if [ "$solver" = global ]; then
        iterations=$(sed -n 's/^  Newton iterations: //p' "$folder/summary.txt")
        solving=$(sed -n 's/^.*solving \([^,]*\),.*/\1/p' "$folder/summary.txt")
        outcome="$outcome; $iterations Newton iterations, solving $solving"
      fi
      printf '%-7s %9s %-8s %7s %9s %10s  %s\n' "$layout" "$branches" "$solver" \
        "$(wall_seconds "$folder/time.txt")" "$ms" "$(peak_mbytes "$folder/time.txt")" "$outcome"
    done
  done
done
