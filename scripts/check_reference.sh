#!/usr/bin/env bash
# Runs tarvo on every reference case (a folder holding track.in, params.in and
# expected/, beside world0/data) and compares track.out byte for byte and the
# progress lines token by token with the expected results; with tarvo-trace
# beside the binary, also every set-up value and the state bits of the traced
# steps. It does so on every instruction-set path of the time step that this
# CPU runs (TARVO_SIMD=scalar, sse, avx2, avx512), or on the one path that
# TARVO_SIMD already names.
#   scripts/check_reference.sh REFERENCE_DIR [TARVO_BINARY]
set -uo pipefail
ref=$(cd "$1" && pwd)
bin=$(realpath "${2:-build/tarvo}")
trace=$(dirname "$bin")/tarvo-trace  # set-up values and state bits, when built beside it
[ -x "$trace" ] || trace=
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
checked=0
if [ -n "${TARVO_SIMD:-}" ] || [ -z "$trace" ]; then
  paths=("${TARVO_SIMD:-}")
else
  mapfile -t paths < <("$trace" paths)
fi
for path in "${paths[@]}"; do
export TARVO_SIMD=$path
for case_dir in "$ref"/*/; do
  name=$(basename "$case_dir")${path:+ on $path}
  [ -f "$case_dir/track.in" ] && [ -d "$case_dir/expected" ] || continue
  rm -rf "${work:?}/$name"
  mkdir -p "$work/$name"
  cp "$case_dir/track.in" "$case_dir/params.in" "$work/$name/"
  ln -s "$ref/world0/data" "$work/$name/data"
  if ! (cd "$work/$name" && "$bin" > stdout 2> stderr); then
    echo "FAIL $name: exit status $?: $(cat "$work/$name/stderr")"
    failed=$((failed + 1))
  elif ! cmp -s "$work/$name/track.out" "$case_dir/expected/track.out"; then
    echo "FAIL $name: track.out differs"
    diff "$work/$name/track.out" "$case_dir/expected/track.out" | head -5
    failed=$((failed + 1))
  elif ! diff -q <(awk '{print $1, $2, $3}' "$work/$name/stdout") \
                 <(awk '{print $1, $2, $3}' "$case_dir/expected/stdout") > /dev/null; then
    echo "FAIL $name: progress lines differ"
    failed=$((failed + 1))
  elif [ -x "$trace" ] && [ -f "$case_dir/expected/trace.txt" ] &&
       ! cmp -s <("$trace" "$work/$name" "$ref/world0/data" trace) "$case_dir/expected/trace.txt"; then
    echo "FAIL $name: the state bits of trace.txt differ"
    failed=$((failed + 1))
  elif [ -x "$trace" ] && [ -f "$case_dir/expected/setup.txt" ] &&
       ! cmp -s <("$trace" "$work/$name" "$ref/world0/data" setup) <(grep -v '^# time' "$case_dir/expected/setup.txt"); then
    echo "FAIL $name: the set-up values of setup.txt differ"
    failed=$((failed + 1))
  else
    echo "ok   $name: track.out, progress lines${trace:+, set-up values and state bits} identical"
  fi
  checked=$((checked + 1))
done
done
echo "reference: $((checked - failed)) passed, $failed failed"
[ "$checked" -gt 0 ] && [ "$failed" -eq 0 ]
