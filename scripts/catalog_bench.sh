#!/usr/bin/env bash
# Wall time, CPU time and peak memory of tarvo-batch --catalog on generated
# catalogs of each size given (storms from tarvo-synth, packed with
# tarvo-catalog; the catalog is written once and reused by the larger runs).
#   scripts/catalog_bench.sh [STORMS...]        (default 1000; needs build/)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${TARVO_BUILD:-$PWD/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/tarvo-synth" "$work/world" > /dev/null
printf '| storms | threads | wall s | CPU s | peak MB | storms per CPU-hour |\n|---|---|---|---|---|---|\n'
for n in "${@:-1000}"; do
  mkdir -p "$work/cases$n"
  for seed in $(seq 1 "$n"); do
    "$bin/tarvo-synth" --no-grids --seed "$seed" "$work/cases$n/storm$(printf %06d "$seed")" > /dev/null
  done
  "$bin/tarvo-catalog" pack "$work/cases$n"/storm* -o "$work/tracks$n.nc" > /dev/null
  rm -rf "$work/cases$n"
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$bin/tarvo-batch" -j "$(nproc)" --data "$work/world/data" \
    --catalog "$work/tracks$n.nc" --out "$work/forecasts$n.nc" > /dev/null 2>&1
  read -r wall user sys peak < "$work/time"
  awk -v n="$n" -v j="$(nproc)" -v w="$wall" -v u="$user" -v s="$sys" -v m="$peak" \
    'BEGIN { printf "| %d | %d | %.1f | %.1f | %.0f | %.0f |\n", n, j, w, u + s, m / 1024, n * 3600 / (u + s) }'
  rm -f "$work/tracks$n.nc" "$work/forecasts$n.nc"
done
