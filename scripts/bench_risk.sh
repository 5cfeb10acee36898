#!/usr/bin/env bash
# A risk study's chain measured on N synthetic three-day tracks (with a day
# before) in CLIMADA's write_hdf5 layout over tarvo-synth's made-up world:
# import, the environment from a monthly climatology, the forecasts with
# CLIMADA's one file; and tarvo-batch alone on the same catalog. Prints CPU
# time and peak memory of each, and the chain's storms per CPU-hour against
# tarvo-batch's alone (docs/performance.md).
#   scripts/bench_risk.sh N [WORK]      (default WORK /tmp/tarvo-bench-risk)
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:?the number of storms}
work=${2:-/tmp/tarvo-bench-risk}
b=$PWD/build
cmake --build build -j "$(nproc)" --target tarvo-synth tarvo-catalog tarvo-batch > /dev/null
mkdir -p "$work"
[ -f "$work/synth/fields/present.nc" ] || "$b/tarvo-synth" --risk --storms 1 "$work/synth" > /dev/null
[ -f "$work/tracks_$n.nc" ] || /usr/bin/python3 scripts/bench_risk.py "$n" "$work/tracks_$n.nc"
cd "$work"
measure() {  # label, command...: prints "label cpu_s peak_mb"
  local label=$1; shift
  /usr/bin/time -f '%U %S %M' -o time.txt "$@" > /dev/null 2>&1 || { echo "$label failed"; exit 1; }
  awk -v l="$label" '{printf "%s %.1f %.0f\n", l, $1 + $2, $3 / 1024}' time.txt
}
rm -f "catalog_$n.nc" "env_$n.nc" "chain_$n.nc" "climada_$n.nc" "alone_$n.nc"
{
  measure import "$b/tarvo-catalog" import "tracks_$n.nc" --starts first+24h --history 24 -o "catalog_$n.nc"
  measure env "$b/tarvo-catalog" env "catalog_$n.nc" --env synth/fields/present.nc --climatology -o "env_$n.nc"
  measure forecasts+climada "$b/tarvo-batch" -j "$(nproc)" --data synth/data --catalog "env_$n.nc" \
      --out "chain_$n.nc" --climada-hdf5 "climada_$n.nc"
  measure batch-alone "$b/tarvo-batch" -j "$(nproc)" --data synth/data --catalog "env_$n.nc" --out "alone_$n.nc"
} | tee "results_$n.txt"
awk -v n="$n" '$1 != "batch-alone" {chain += $2; if ($3 > peak) peak = $3} $1 == "batch-alone" {alone = $2}
  END {printf "%d storms: chain %.0f s CPU (%.0f storms per CPU-hour), peak %d MB; tarvo-batch alone %.0f s CPU (%.0f storms per CPU-hour): the chain at %.1f %%\n",
       n, chain, n * 3600 / chain, peak, alone, n * 3600 / alone, 100 * alone / chain}' "results_$n.txt"
