#!/usr/bin/env bash
# A set of generated storms in one made-up world (demo-set/), run with
# tarvo-batch, then verified against their observed tracks
# (demo-set/verification.csv).
#   scripts/demo_set.sh [NUMBER_OF_CASES]     (default 12)
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-12}
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j "$(nproc)" --target tarvo-batch tarvo-synth
mkdir -p demo-set
[ -f demo-set/world/data/bathsmooth2.dat ] || build/tarvo-synth --seed 1 demo-set/world > /dev/null
for i in $(seq 1 "$n"); do
  c=demo-set/case$(printf %03d "$i")
  [ -f "$c/track.in" ] || build/tarvo-synth --no-grids --seed $((100 + i)) "$c"
done
build/tarvo-batch --data demo-set/world/data --csv demo-set/verification.csv demo-set/case*
