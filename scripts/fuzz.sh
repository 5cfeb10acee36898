#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for a
# bounded time, as many at once as there are cores, from the seed corpus
# (fuzz/corpus/TARGET and tests/fixtures).
# Any crash, sanitizer report or failed check fails the script; the input that
# caused it is left in fuzz-artifacts/.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]      (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
cmake --preset fuzz > /dev/null
cmake --build --preset fuzz -j "$(nproc)" --target fuzz_free_format fuzz_params fuzz_track fuzz_grid fuzz_catalog \
    fuzz_hurdat2 fuzz_bdeck fuzz_grid_sources > /dev/null
mkdir -p fuzz-artifacts
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
# Leaks inside libhdf5 and libnetcdf (the catalog target) are theirs, not ours.
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp
targets=(free_format params track grid catalog hurdat2 bdeck grid_sources)
# One target a core at a time; their summaries in the order of the list.
fuzz_one() {
  local target=$1
  mkdir -p "$work/$target"
  if build-fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=fuzz-artifacts/ \
      "$work/$target" "fuzz/corpus/$target" tests/fixtures > "$work/$target.log" 2>&1; then
    echo ok > "$work/$target.result"
  else
    echo FAILED > "$work/$target.result"
  fi
}
cores=$(nproc)
for ((k = 0; k < ${#targets[@]}; k += cores)); do
  for target in "${targets[@]:k:cores}"; do fuzz_one "$target" & done
  wait
done
for target in "${targets[@]}"; do
  result=$(cat "$work/$target.result")
  if [ "$result" != ok ]; then
    status=1
    grep -E "ERROR|runtime error|fuzz check failed" "$work/$target.log" | head -5 || true
  fi
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/$target.log" | grep -o '[0-9]*$' || echo 0)
  printf 'fuzz %-12s %-6s %10s executions in %s s\n' "$target" "$result" "$execs" "$seconds"
done
exit $status
