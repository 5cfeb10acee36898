#!/usr/bin/env bash
# The whole chain of a hindcast on this machine, in about a minute: a season
# of storms of tarvo-synth's made-up world as a best track (HURDAT2),
# environment fields in ERA5's layout, and its elevation and ocean in the
# layouts of ETOPO 2022 and the World Ocean Atlas, from which the ocean grids
# of data/ are built; their forecast starts every 6 h with
# the environment along the tracks; the forecasts; their verification against
# the best track (demo-hindcast/verification.png). The world and its storms are
# made up: this shows the tool, not the model's skill (docs/real-storms.md
# does the same with IBTrACS and ERA5).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j "$(nproc)" --target tarvo-synth tarvo-grids tarvo-catalog tarvo-batch tarvo-verify tarvo_python > /dev/null
d=demo-hindcast
rm -rf "$d"
echo "== a made-up season: best track $d/besttrack.txt, fields $d/fields/, elevation and ocean $d/sources/"
build/tarvo-synth --season --storms 5 --no-grids --public-layouts "$d" > /dev/null
echo "== the ocean grids of $d/data/ from the elevation (ETOPO's layout) and the ocean (WOA's)"
build/tarvo-grids build --elevation "$d/sources/elevation_etopo_layout.nc" \
    --temperature "$d"/sources/woa23_synth_t??_01.nc -o "$d/data" --quiet
echo "== import: forecast starts every 6 h, the environment from the fields"
build/tarvo-catalog import "$d/besttrack.txt" --starts every:6h --history 24 \
    --env "$d/fields/era5_pl.nc" "$d/fields/era5_sl.nc" -o "$d/tracks.nc"
echo "== forecasts"
build/tarvo-batch -j "$(nproc)" --data "$d/data" --catalog "$d/tracks.nc" --out "$d/forecasts.nc" --atcf "$d/adecks" \
    2> /dev/null
echo "== verification"
build/tarvo-verify --catalog "$d/tracks.nc" --forecasts "$d/forecasts.nc" --csv "$d/verification.csv" \
    --plot "$d/verification.png"
