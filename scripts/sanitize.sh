#!/usr/bin/env bash
# The whole test suite, the demo case and (when given) the reference cases
# under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/). Any
# report fails the run.
#   scripts/sanitize.sh [REFERENCE_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake --preset asan > /dev/null
# What the tests and the runs below use (not the other programs).
cmake --build --preset asan -j "$(nproc)" --target tarvo_tests tarvo_exp_check tarvo tarvo-synth tarvo-batch \
    tarvo-catalog tarvo-grids tarvo-trace
ctest --preset asan -j "$(nproc)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build-asan/tarvo-synth --seed 1 "$work/demo" > /dev/null
top=$PWD
(cd "$work/demo" && "$top/build-asan/tarvo" > /dev/null)
echo "sanitized demo run: $(($(wc -l < "$work/demo/track.out") - 1)) lines"
if [ $# -gt 0 ] && [ -d "$1" ]; then
  bash scripts/check_reference.sh "$1" build-asan/tarvo
fi

# A catalog through every tool: pack, check, forecast in chunks with the
# CLIMADA and ATCF outputs, shares merged, unpacked again.
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp  # libhdf5's own leaks
for seed in 2 3 4; do build-asan/tarvo-synth --no-grids --seed $seed "$work/storm$seed" > /dev/null; done
b=build-asan
$b/tarvo-catalog pack "$work"/storm* -o "$work/tracks.nc" > /dev/null
$b/tarvo-catalog check "$work/tracks.nc" > /dev/null
$b/tarvo-batch -j 2 --chunk 2 --data "$work/demo/data" --catalog "$work/tracks.nc" --out "$work/all.nc" \
  --climada "$work/climada" --climada-hdf5 "$work/climada.nc" --atcf "$work/atcf" > /dev/null 2>&1
for k in 0 1; do
  $b/tarvo-batch --shard $k/2 --data "$work/demo/data" --catalog "$work/tracks.nc" --out "$work/part$k.nc" > /dev/null 2>&1
done
$b/tarvo-catalog merge "$work/part1.nc" "$work/part0.nc" -o "$work/merged.nc" --atcf "$work/atcf-merged" > /dev/null
$b/tarvo-catalog unpack "$work/tracks.nc" "$work/unpacked" > /dev/null
echo "sanitized catalog run: $(ls "$work/climada" | wc -l) CLIMADA files, $(ls "$work/atcf" | wc -l) a-decks"

# The ocean grids built from the made-up world in the public data sets' layouts, and checked.
build-asan/tarvo-synth --no-grids --public-layouts "$work/public" > /dev/null
build-asan/tarvo-grids build --elevation "$work/public/sources/elevation_etopo_layout.nc" \
  --temperature "$work"/public/sources/woa23_synth_t??_01.nc -o "$work/public/data" --quiet > /dev/null
build-asan/tarvo-grids check "$work/public/data" > /dev/null
echo "sanitized grid build: $(ls "$work/public/data" | wc -l) files"
