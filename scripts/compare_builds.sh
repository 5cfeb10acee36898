#!/usr/bin/env bash
# Side-by-side figures of two builds on one case (default: reference case r1,
# else the demo case): the time loop per step, the grid load, a whole tarvo
# run (wall, median of 21), tarvo-batch -j 1 over 12 generated five- to
# six-and-a-half-day storms (CPU, best of 5, as storms per CPU-hour) and the
# peak memory of both.
#   scripts/compare_builds.sh OLD_BUILD_DIR [NEW_BUILD_DIR] [CASE_DIR]
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
batch() {  # build: best CPU seconds of 5 runs over the 12 storms, and peak KB
  for _ in $(seq 1 5); do
    /usr/bin/time -f "%U %S %M" -o "$work/t" "$1/tarvo-batch" -j 1 --no-verify --data "$work/world/data" \
      "$work"/set/case* > /dev/null 2>&1
    awk '{ print $1 + $2, $3 }' "$work/t"
  done | sort -n | head -n 1
}
peak() { (cd "$case_dir" && /usr/bin/time -f %M -o "$work/t" "$1/tarvo" > /dev/null && cat "$work/t"); }

printf "%-40s %14s %14s\n" "" "old" "new"
printf "%-40s %14s %14s\n" "step path" "-" "$("$new/tarvo-trace" paths | tail -n 1) (default)"
printf "%-40s %14s %14s\n" "time loop per step" "$(bench "$old" BM_TimeLoop per_step)" "$(bench "$new" BM_TimeLoop per_step)"
printf "%-40s %14s %14s\n" "grid load (ms, wall)" "$(bench "$old" BM_LoadGrids ms)" "$(bench "$new" BM_LoadGrids ms)"
printf "%-40s %14s %14s\n" "whole tarvo run (ms, wall, median)" "$(whole "$old")" "$(whole "$new")"
read -r old_cpu old_kb <<< "$(batch "$old")"
read -r new_cpu new_kb <<< "$(batch "$new")"
printf "%-40s %14s %14s\n" "tarvo-batch -j 1, 12 storms (CPU s)" "$old_cpu" "$new_cpu"
printf "%-40s %14.0f %14.0f\n" "storms per CPU-hour" "$(echo "12 * 3600 / $old_cpu" | bc -l)" "$(echo "12 * 3600 / $new_cpu" | bc -l)"
printf "%-40s %14s %14s\n" "peak memory, tarvo (MB)" "$(( $(peak "$old") / 1024 ))" "$(( $(peak "$new") / 1024 ))"
printf "%-40s %14s %14s\n" "peak memory, tarvo-batch 12 storms (MB)" "$(( old_kb / 1024 ))" "$(( new_kb / 1024 ))"
