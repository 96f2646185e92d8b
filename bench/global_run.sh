#!/bin/sh
# Times whole-process runs of the global solver on the grid networks of make_network and the
# sparse networks of make_sparse_network (about 1.2 pipes per junction) of about 10,000, 100,000
# and 1,000,000 branches, and in the same benchmark run the classic setup-and-report run on the
# same file (tolerance 1E9: the first sweep and the first friction update already meet it, so
# that run reads, prepares, balances once and writes the results file). The global solver does
# not read the tolerance; the file's iteration limit (100) bounds its Newton iterations.
#
# Each run is repeated RUNS times (default 3), timed by bench/timed_run; the table shows the
# fastest wall time, the largest peak resident memory, and for the global runs the Newton
# iterations and the fastest time of the solve alone (--summary), with its ratio to the classic
# run's whole time.
# Then networks of 1,000 to 5,000 branches, SMALL_RUNS times each (default 20), fastest whole
# process of the classic and the global run. SIZES and SMALL_SIZES override the sizes, BUILD the
# build folder (default build).
set -eu
cd "$(dirname "$0")/.."
build=${BUILD:-build}
runs=${RUNS:-3}
small_runs=${SMALL_RUNS:-20}
sizes=${SIZES:-"10000 100000 1000000"}
small_sizes=${SMALL_SIZES:-"1000 2000 3000 5000"}

cmake -S . -B "$build" -G Ninja -DTESSARO_BENCH=ON >/dev/null
cmake --build "$build" >/dev/null
program=$(pwd)/$build/tessaro
timer=$(pwd)/$build/bench/timed_run

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The solving time of a --summary report, in seconds.
solving_seconds() {
  sed -n 's/^.*solving \([0-9.]*\) \([a-z]*\),.*/\1 \2/p' "$1" |
    awk '{ scale = 1
           if ($2 == "ms") scale = 0.001
           else if ($2 == "min") scale = 60
           else if ($2 == "h") scale = 3600
           else if ($2 == "days") scale = 86400
           printf "%.3f", $1 * scale }'
}
larger() {
  if [ -z "$1" ] || awk "BEGIN { exit !($2 > $1) }"; then echo "$2"; else echo "$1"; fi
}
smaller() {
  if [ -z "$1" ] || awk "BEGIN { exit !($2 < $1) }"; then echo "$2"; else echo "$1"; fi
}
# The fastest of $1 whole-process runs of the command after the first two arguments, after $2
# runs to warm up, in milliseconds: timed by hyperfine (without a shell) where it is installed,
# by the shell's clock otherwise (which adds the shell's own few milliseconds).
fastest_ms() {
  count=$1
  warmup=$2
  shift 2
  if command -v hyperfine >/dev/null; then
    hyperfine -N -w "$warmup" -r "$count" --export-json "$work/times.json" "$*" >/dev/null 2>&1
    sed -n 's/^ *"min": \([0-9.e-]*\),*$/\1/p' "$work/times.json" | awk '{ printf "%.1f", $1 * 1000 }'
    return
  fi
  best=
  run=1
  while [ "$run" -le "$count" ]; do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    ms=$(awk "BEGIN { printf \"%.1f\", ($(date +%s%N) - $start) / 1e6 }")
    best=$(smaller "$best" "$ms")
    run=$((run + 1))
  done
  echo "$best"
}
generate() {
  if [ "$1" = grid ]; then
    "$build/bench/make_network" "$2" 1E9 100 "$3"
  else
    "$build/bench/make_sparse_network" "$2" 1E9 100 "$3"
  fi
}

printf '%-7s %9s %8s %7s %8s %10s %8s  %s\n' layout branches solver "wall s" "peak MB" \
  iterations "solve s" "solve / classic"
for size in $sizes; do
  for layout in grid sparse; do
    folder=$work/$layout-$size
    mkdir -p "$folder"
    shape=$(generate "$layout" "$size" "$folder/Tessaro-net.txt")
    branches=${shape%% *}
    for solver in classic global; do
      if [ "$solver" = global ]; then set -- --solver global --summary; else set --; fi
      cd "$folder"
      wall=
      peak=
      solve=
      iterations=
      run=1
      while [ "$run" -le "$runs" ]; do
        # Wall seconds, peak kB and exit status of one run, its standard error in summary.txt.
        timed=$("$timer" summary.txt "$program" "$@")
        wall=$(smaller "$wall" "$(echo "$timed" | cut -d ' ' -f 1)")
        peak=$(larger "$peak" "$(echo "$timed" | awk '{ printf "%.1f", $2 / 1024 }')")
        if [ "$solver" = global ]; then
          solve=$(smaller "$solve" "$(solving_seconds summary.txt)")
          iterations=$(sed -n 's/^  Newton iterations: //p' summary.txt)
        fi
        run=$((run + 1))
      done
      wall=$(awk "BEGIN { printf \"%.3f\", $wall }")
      cd - >/dev/null
      outcome=$(tr -d '\r' <"$folder/Log file.txt" | head -n 1 | cut -c 2-)
      if [ "$solver" = classic ]; then
        classic_wall=$wall
        printf '%-7s %9s %8s %7s %8s %10s %8s  %s\n' "$layout" "$branches" classic "$wall" \
          "$peak" - - "$outcome"
      else
        ratio=$(awk "BEGIN { printf \"%.2f\", $solve / $classic_wall }")
        printf '%-7s %9s %8s %7s %8s %10s %8s  %s\n' "$layout" "$branches" global "$wall" \
          "$peak" "$iterations" "$solve" "$ratio; $outcome"
      fi
    done
  done
done

# Small networks: the whole process, in milliseconds, fastest of SMALL_RUNS.
printf '\n%-7s %9s %12s %12s\n' layout branches "classic ms" "global ms"
for size in $small_sizes; do
  for layout in grid sparse; do
    folder=$work/small-$layout-$size
    mkdir -p "$folder"
    shape=$(generate "$layout" "$size" "$folder/Tessaro-net.txt")
    branches=${shape%% *}
    cd "$folder"
    classic_ms=$(fastest_ms "$small_runs" 3 "$program")
    global_ms=$(fastest_ms "$small_runs" 3 "$program" --solver global)
    cd - >/dev/null
    printf '%-7s %9s %12s %12s\n' "$layout" "$branches" "$classic_ms" "$global_ms"
  done
done
