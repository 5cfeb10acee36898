#!/usr/bin/env bash
# One forecast cycle measured as a forecaster runs it: the catalog of the
# cycle along OFCL's track with its environment from the 21 GFS 0.25-degree
# files f000 ... f120 (NOMADS' layout and packing, about 400 messages and
# 380 MB each: written once into WORK, about 8 GB, default
# /tmp/tarvo-bench-forecast; and cut as NOMADS' GRIB filter gives them),
# then the ensemble of 100 members. Prints CPU
# time and peak memory of each (docs/performance.md).
#   scripts/bench_forecast.sh [WORK]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-/tmp/tarvo-bench-forecast}
cmake --build build -j "$(nproc)" --target tarvo-synth tarvo-catalog tarvo-batch > /dev/null
mkdir -p "$work"
if [ ! -f "$work/synth/aal012005.dat" ]; then
  build/tarvo-synth --forecast --cycles 1 "$work/synth" > "$work/synth.log"
fi
cycle=$(sed -n 's/^cycles //p' "$work/synth.log" | cut -d' ' -f1)
/usr/bin/python3 scripts/bench_grib.py "$work/synth" "$cycle" "$work/gfs" > /dev/null
/usr/bin/python3 scripts/bench_grib.py --region 0 50 240 340 "$work/gfs" "$work/gfs_region"
measure() {  # label, command...
  local label=$1; shift
  /usr/bin/time -v "$@" > /dev/null 2> "$work/time.log" || { cat "$work/time.log"; exit 1; }
  awk -F': ' -v label="$label" '/User time/ {u=$2} /System time/ {s=$2} /Maximum resident/ {m=$2}
      END {printf "%s: %.2f s CPU (%.2f user, %.2f system), %.0f MB peak\n", label, u + s, u, s, m / 1024}' "$work/time.log"
}
h=${cycle:8:2}
measure "import + environment of cycle $cycle, 21 GFS 0.25-degree files" \
  build/tarvo-catalog import "$work/synth/bal012005.dat" --track-from "$work/synth/aal012005.dat" --tech OFCL \
    --cycles "$cycle" --history 0 --env "$work"/gfs/gfs.t"${h}"z.pgrb2.0p25.f??? -o "$work/cycle.nc"
measure "import + environment of cycle $cycle, the same as NOMADS' filter gives them (0-50 N, 240-340 E)" \
  build/tarvo-catalog import "$work/synth/bal012005.dat" --track-from "$work/synth/aal012005.dat" --tech OFCL \
    --cycles "$cycle" --history 0 --env "$work"/gfs_region/gfs.t"${h}"z.pgrb2.0p25.f??? -o "$work/cycle_region.nc"
measure "import alone (no fields)" \
  build/tarvo-catalog import "$work/synth/bal012005.dat" --track-from "$work/synth/aal012005.dat" --tech OFCL \
    --cycles "$cycle" --history 0 -o "$work/cycle_bare.nc"
measure "100 members of the cycle, one thread" \
  build/tarvo-batch -j 1 --data "$work/synth/data" --catalog "$work/cycle.nc" --out "$work/ensemble.nc" --members 100
