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
cmake --build --preset asan -j "$(nproc)"
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
