#!/usr/bin/env bash
# Builds tarvo, writes the demo case to demo/ (a made-up world and storm) when
# it is not there yet, runs the forecast in it and shows track.out.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j "$(nproc)" --target tarvo tarvo-synth
[ -f demo/track.in ] || build/tarvo-synth --seed 1 demo
cd demo
../build/tarvo
echo
cat track.out
if /usr/bin/python3 -c "import matplotlib" 2> /dev/null; then
  echo
  echo "picture: $(/usr/bin/python3 ../scripts/plot_case.py . forecast.png | sed "s|^|$PWD/|")"
fi
