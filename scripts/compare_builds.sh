#!/usr/bin/env bash
# Side-by-side figures of two builds on one case (default: reference case r1,
# else the demo case): the time loop per step, the grid load, a whole tarvo
# run (wall, median of 21), tarvo-batch -j 1 over 12 generated five- to
# six-and-a-half-day storms from case directories and from a catalog (CPU,
# best of 5, as storms per CPU-hour), the peak memory of both, and (when
# STORMS is set, e.g. STORMS=1000) as many generated storms once each way.
#   [STORMS=N] scripts/compare_builds.sh OLD_BUILD_DIR [NEW_BUILD_DIR] [CASE_DIR]
set -euo pipefail
export LC_ALL=C  # a point in EPOCHREALTIME and in the figures
cd "$(dirname "$0")/.."
old=$(realpath "$1")
new=$(realpath "${2:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case_dir=${3:-}
if [ -z "$case_dir" ]; then
  if [ -d ../shared/reference/r1 ]; then
    mkdir "$work/case"
    cp ../shared/reference/r1/track.in ../shared/reference/r1/params.in "$work/case/"
    ln -s "$(realpath ../shared/reference/world0/data)" "$work/case/data"
  else
    "$new/tarvo-synth" --seed 1 "$work/case" > /dev/null
  fi
  case_dir=$work/case
fi
"$new/tarvo-synth" --seed 1 "$work/world" > /dev/null
mkdir -p "$work/set"
for i in $(seq 1 12); do
  "$new/tarvo-synth" --no-grids --seed $((100 + i)) "$work/set/case$i"
done

storms=${STORMS:-0}
"$new/tarvo-catalog" pack "$work"/set/case* -o "$work/set.nc" > /dev/null
if [ "$storms" -gt 0 ]; then
  mkdir -p "$work/many"
  for i in $(seq 1 "$storms"); do
    "$new/tarvo-synth" --no-grids --seed $((1000 + i)) "$work/many/case$(printf %06d "$i")" > /dev/null
  done
  "$new/tarvo-catalog" pack "$work"/many/case* -o "$work/many.nc" > /dev/null
fi

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
bench() {  # build, benchmark name, counter: median of 5 repetitions
  "$1/tarvo_bench" "$case_dir" --benchmark_filter="^$2\$" --benchmark_repetitions=5 \
      --benchmark_report_aggregates_only=true 2>/dev/null |
    awk -v c="$3" '/_median/ { for (i = 1; i <= NF; ++i) if ($i ~ "^" c "=") { sub(c "=", "", $i); print $i }
                               if (c == "ms") print $2 }'
}
whole() {  # build: median wall milliseconds of 21 tarvo runs in the case
  for _ in $(seq 1 21); do
    local start=$EPOCHREALTIME
    (cd "$case_dir" && "$1/tarvo" > /dev/null)
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f\n", (b - a) * 1000 }'
  done | median
}
batch() {  # build, runs, storms as tarvo-batch takes them: best CPU seconds of the runs, and peak KB
  local build=$1 runs=$2
  shift 2
  for _ in $(seq 1 "$runs"); do
    rm -f "$work/out.nc"
    /usr/bin/time -f "%U %S %M" -o "$work/t" "$build/tarvo-batch" -j 1 --no-verify --data "$work/world/data" \
      "$@" > /dev/null 2>&1
    awk '{ print $1 + $2, $3 }' "$work/t"
  done | sort -n | head -n 1
}
both() {  # label, storms, runs, storms as tarvo-batch takes them: a row of CPU s, storms per CPU-hour, peak MB
  local label=$1 n=$2 runs=$3
  shift 3
  read -r oc ok <<< "$(batch "$old" "$runs" "$@")"
  read -r nc nk <<< "$(batch "$new" "$runs" "$@")"
  printf "%-40s %14s %14s\n" "$label (CPU s)" "$oc" "$nc"
  printf "%-40s %14.0f %14.0f\n" "  storms per CPU-hour" "$(echo "$n * 3600 / $oc" | bc -l)" "$(echo "$n * 3600 / $nc" | bc -l)"
  printf "%-40s %14s %14s\n" "  peak memory (MB)" "$(( ok / 1024 ))" "$(( nk / 1024 ))"
}
peak() { (cd "$case_dir" && /usr/bin/time -f %M -o "$work/t" "$1/tarvo" > /dev/null && cat "$work/t"); }

printf "%-40s %14s %14s\n" "" "old" "new"
printf "%-40s %14s %14s\n" "step path" "-" "$("$new/tarvo-trace" paths | tail -n 1) (default)"
printf "%-40s %14s %14s\n" "time loop per step" "$(bench "$old" BM_TimeLoop per_step)" "$(bench "$new" BM_TimeLoop per_step)"
printf "%-40s %14s %14s\n" "grid load (ms, wall)" "$(bench "$old" BM_LoadGrids ms)" "$(bench "$new" BM_LoadGrids ms)"
printf "%-40s %14s %14s\n" "whole tarvo run (ms, wall, median)" "$(whole "$old")" "$(whole "$new")"
printf "%-40s %14s %14s\n" "peak memory, tarvo (MB)" "$(( $(peak "$old") / 1024 ))" "$(( $(peak "$new") / 1024 ))"
both "tarvo-batch -j 1, 12 cases" 12 5 "$work"/set/case*
both "tarvo-batch -j 1, 12 as a catalog" 12 5 --catalog "$work/set.nc" --out "$work/out.nc"
if [ "$storms" -gt 0 ]; then
  both "tarvo-batch -j 1, $storms cases" "$storms" 1 "$work"/many/case*
  both "tarvo-batch -j 1, $storms as a catalog" "$storms" 1 --catalog "$work/many.nc" --out "$work/out.nc"
fi
