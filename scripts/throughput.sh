#!/usr/bin/env bash
# Throughput of tarvo over many storms: storms per CPU-hour (and per wall-clock
# hour) for separate tarvo processes, tarvo-batch -j 1 and tarvo-batch -j 2,
# on the demo case and on a set of generated cases sharing one world.
#   scripts/throughput.sh [NUMBER_OF_CASES]        (default 12; needs build/)
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-12}
bin=${TARVO_BUILD:-$PWD/build}  # TARVO_BUILD: another build to measure
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/tarvo-synth" --seed 1 "$work/demo" > /dev/null
mkdir -p "$work/set"
for i in $(seq 1 "$n"); do
  "$bin/tarvo-synth" --no-grids --seed $((100 + i)) "$work/set/case$i"
  ln -s "$work/demo/data" "$work/set/case$i/data"
done

TIMEFORMAT='%U %S %R'
measure() {  # label, storms, command...: prints storms per CPU-hour and per hour
  local label=$1 storms=$2
  shift 2
  local t
  t=$( { time "$@" > /dev/null 2>&1; } 2>&1 )
  read -r user sys real <<< "$t"
  awk -v l="$label" -v s="$storms" -v u="$user" -v y="$sys" -v r="$real" \
    'BEGIN { printf "%-34s %6d %10.2f %10.2f %12.0f %12.0f\n", l, s, u + y, r, s * 3600 / (u + y), s * 3600 / r }'
}
separate() { for c in "$@"; do (cd "$c" && "$bin/tarvo"); done; }

printf "%-34s %6s %10s %10s %12s %12s\n" "how" "storms" "CPU s" "wall s" "per CPU-h" "per hour"
measure "demo: tarvo" 1 separate "$work/demo"
measure "demo: tarvo-batch -j 1" 1 "$bin/tarvo-batch" -j 1 --no-verify "$work/demo"
cases=("$work"/set/case*)
measure "$n cases: separate tarvo processes" "$n" separate "${cases[@]}"
measure "$n cases: tarvo-batch -j 1" "$n" "$bin/tarvo-batch" -j 1 --no-verify --data "$work/demo/data" "${cases[@]}"
measure "$n cases: tarvo-batch -j 2" "$n" "$bin/tarvo-batch" -j 2 --no-verify --data "$work/demo/data" "${cases[@]}"
