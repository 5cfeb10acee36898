#!/usr/bin/env bash
# The ocean grids' build measured on files of the public data sets' shapes:
# ETOPO 2022's 60 and 30 arc-second layouts (10800 x 21600 and 21600 x 43200
# floats, deflated) with the World Ocean Atlas's twelve monthly 1-degree
# temperature files. Writes the files once into WORK (default
# /tmp/tarvo-bench-grids: about 2.6 GB), then prints CPU time and peak memory
# of each build (docs/performance.md).
#   scripts/bench_grids.sh [WORK]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-/tmp/tarvo-bench-grids}
cmake --build build -j "$(nproc)" --target tarvo-grids > /dev/null
/usr/bin/python3 scripts/bench_grids.py "$work" 60 30
for res in 60 30; do
  /usr/bin/time -v build/tarvo-grids build --elevation "$work/etopo_${res}s.nc" \
      --temperature "$work"/woa/woa23_decav91C0_t??_01.nc -o "$work/data$res" --force --quiet > /dev/null \
      2> "$work/time$res.log"
  cpu=$(awk -F': ' '/User time/ {u=$2} /System time/ {s=$2} END {printf "%.1f", u + s}' "$work/time$res.log")
  rss=$(awk -F': ' '/Maximum resident/ {printf "%.0f", $2 / 1024}' "$work/time$res.log")
  echo "ETOPO ${res} s layout + 12 WOA months: ${cpu} s CPU, ${rss} MB peak"
done
