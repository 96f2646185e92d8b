#!/bin/sh
# Times the picture: builds the program and the network generator, writes mesh networks of about
# 300, 1,000, 10,000 and 50,000 nodes (tolerance 1E9, so that the solver is done after its first
# sweep), and runs the program on each without options and with --svg. The table shows the
# fastest wall time of RUNS runs (default 3) of each, their difference (the picture's own time:
# layout and SVG), the layout engine and the size of the SVG. BUILD names the build folder.
set -eu
cd "$(dirname "$0")/.."
build=${BUILD:-build}
runs=${RUNS:-3}

cmake -S . -B "$build" -G Ninja -DTESSARO_BENCH=ON >/dev/null
cmake --build "$build" --target tessaro make_network >/dev/null
program=$(pwd)/$build/tessaro
generator=$(pwd)/$build/bench/make_network

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The fastest of $runs runs of the program with the given options, in seconds.
fastest() {
  best=
  i=0
  while [ "$i" -lt "$runs" ]; do
    start=$(date +%s.%N)
    "$program" "$@" >/dev/null
    end=$(date +%s.%N)
    best=$(echo "$start $end ${best:-}" | awk '{ t = $2 - $1; if ($3 != "" && $3 < t) t = $3; printf "%.3f", t }')
    i=$((i + 1))
  done
  echo "$best"
}

printf '%8s %8s %8s %10s %10s %10s %7s %9s\n' nodes branches engine "plain s" "--svg s" \
  "picture s" "SVG MB" outcome
for size in 550 2000 20000 100000; do
  folder=$work/$size
  mkdir -p "$folder"
  "$generator" "$size" 1E9 200 "$folder/Tessaro-net.txt" >/dev/null
  cd "$folder"
  nodes=$(awk '$1 == 0 { zero++; next } zero == 1 { n++ } END { print n }' Tessaro-net.txt)
  branches=$(awk '/^7$/ { on = 1; next } $1 == 0 { exit } on { n++ } END { print n }' Tessaro-net.txt)
  plain=$(fastest)
  svg=$(fastest --svg)
  engine=sfdp
  [ "$nodes" -le 1000 ] && engine=neato
  [ "$nodes" -gt 50000 ] && engine=note
  megabytes=$(du -k Tessaro-net.svg | awk '{ printf "%.1f", $1 / 1024 }')
  outcome=$(tr -d '\r' <"Log file.txt" | sed 's/^ //' | head -n 1 | cut -c1-20)
  printf '%8s %8s %8s %10s %10s %10s %7s %9s\n' "$nodes" "$branches" "$engine" "$plain" "$svg" \
    "$(echo "$svg $plain" | awk '{ printf "%.3f", $1 - $2 }')" "$megabytes" "$outcome"
  cd - >/dev/null
done
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
