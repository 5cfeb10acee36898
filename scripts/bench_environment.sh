#!/usr/bin/env bash
# The environment's cost against the forecasts': a made-up season of 99
# storms (tarvo-synth --season) started every 12 h (about 1,000 catalog
# storms), its environment from 6-hourly fields in ERA5's layout and from a
# monthly climatology in CMIP's, and the forecasts of the catalog on one
# thread. CPU seconds (user + system) and peak memory of each, and the
# environment's share of the forecast's CPU time.
#   scripts/bench_environment.sh [BUILD_DIR]
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tarvo-synth" --season --storms 99 --monthly "$work" > /dev/null
starts=$("$build/tarvo-catalog" import "$work/besttrack.txt" --starts every:12h -o "$work/tracks.nc" |
    grep -o '[0-9]* forecast starts' | grep -o '^[0-9]*')

# CPU seconds and peak resident memory (MB) of a command: "cpu mb".
measure() {
  /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" > "$work/out" 2>&1 || { cat "$work/out"; exit 1; }
  awk '{ printf "%.2f %.0f", $1 + $2, $3 / 1024 }' "$work/time"
}
read -r env6_cpu env6_mb <<< "$(measure "$build/tarvo-catalog" env "$work/tracks.nc" \
    --env "$work/fields/era5_pl.nc" "$work/fields/era5_sl.nc" -o "$work/env6h.nc")"
fixes6=$(grep -o '^environment: [0-9]* fixes' "$work/out" | grep -o '[0-9]*')
read -r envm_cpu envm_mb <<< "$(measure "$build/tarvo-catalog" env "$work/tracks.nc" \
    --env "$work/fields/cmip_monthly.nc" -o "$work/envmonthly.nc")"
read -r fc_cpu fc_mb <<< "$(measure "$build/tarvo-batch" -j 1 --data "$work/data" --catalog "$work/env6h.nc" \
    --out "$work/forecasts.nc")"
storms=$("$build/tarvo-catalog" check "$work/env6h.nc" | grep -o 'a catalog of [0-9]*' | grep -o '[0-9]*$')
printf '%s starts of 99 storms, %s with a fix over the sea; %s fixes\n' "$starts" "$storms" "$fixes6"
printf '%-42s %8s %8s %8s\n' "" "CPU s" "peak MB" "share"
printf '%-42s %8s %8s %7.1f%%\n' "environment, 6-hourly fields (ERA5 layout)" "$env6_cpu" "$env6_mb" \
    "$(echo "100 * $env6_cpu / $fc_cpu" | bc -l)"
printf '%-42s %8s %8s %7.1f%%\n' "environment, monthly climatology (CMIP)" "$envm_cpu" "$envm_mb" \
    "$(echo "100 * $envm_cpu / $fc_cpu" | bc -l)"
printf '%-42s %8s %8s\n' "forecasts, tarvo-batch -j 1" "$fc_cpu" "$fc_mb"
