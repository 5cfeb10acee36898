#!/usr/bin/env bash
# Builds tarvo and its Python package, writes the demo case to demo/ (a
# made-up world and storm) when it is not there yet, runs the forecast in it,
# shows track.out and draws the forecast (demo/forecast.png). Any step that
# fails, the picture included, fails the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j "$(nproc)" --target tarvo tarvo-synth tarvo_python
[ -f demo/track.in ] || build/tarvo-synth --seed 1 demo
cd demo
../build/tarvo
echo
cat track.out
echo
picture=$(/usr/bin/python3 ../scripts/plot_case.py . forecast.png)
echo "picture: $PWD/$picture"
