#!/usr/bin/env bash
# Forecast cycles as a forecast centre runs them, on this machine in about a
# minute: a made-up storm's b-deck, its a-deck (CARQ, OFCL and two other
# aids) and GFS-layout GRIB2 fields of three cycles 6 h apart; at each cycle
# the catalog of the cycle along OFCL's track with its environment from that
# cycle's GFS forecast, an ensemble of 100 members (TRVO, TRVE and, from the
# cycle before, TRVI into the storm's a-deck; the probability of rapid
# intensification), then the verification of the aids against the best track
# and the picture forecasters look at (demo-forecast/forecast.png). The
# storm and its fields are made up: this shows the tool, not the model's
# skill (docs/forecast.md does the same with NHC's decks and NOMADS' GFS).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j "$(nproc)" --target tarvo-synth tarvo-catalog tarvo-batch tarvo-verify tarvo_python > /dev/null
d=demo-forecast
rm -rf "$d"
echo "== a made-up storm: $d/bal012005.dat, $d/aal012005.dat, GFS fields in $d/gfs/, ocean grids in $d/data/"
cycles=$(build/tarvo-synth --forecast --cycles 3 "$d" | sed -n 's/^cycles //p')
mkdir -p "$d/adecks"
cp "$d/aal012005.dat" "$d/adecks/"  # tarvo's aids join the storm's a-deck, as at a forecast centre
for c in $cycles; do
  # The cycle's own forecast files, and the analyses (f000) of the times before it for the history.
  fields=$(find "$d/gfs" -name 'gfs.t*z.pgrb2.1p00.f*' | sort | while read -r f; do
    day=$(basename "$(dirname "$(dirname "$(dirname "$f")")")"); hour=$(basename "$(dirname "$(dirname "$f")")")
    at="${day#gfs.}$hour"
    if [ "$at" = "$c" ] || { [ "$at" \< "$c" ] && [[ "$f" == *f000 ]]; }; then echo "$f"; fi
  done)
  echo "== cycle $c: the track from OFCL, the environment from $(echo "$fields" | wc -l) GFS files"
  # shellcheck disable=SC2086
  build/tarvo-catalog import "$d/bal012005.dat" --track-from "$d/aal012005.dat" --tech OFCL --cycles "$c" \
      --env $fields -o "$d/cycle_$c.nc" | head -1
  build/tarvo-batch -j "$(nproc)" --data "$d/data" --catalog "$d/cycle_$c.nc" --out "$d/forecast_$c.nc" \
      --members 100 --seed 1 --atcf "$d/adecks" --ri-table "$d/ri_$c.txt" 2> /dev/null | tail -3
done
echo "== the aids against the best track"
build/tarvo-verify --adeck "$d/adecks/aal012005.dat" --bdeck "$d/bal012005.dat" --techs TRVO,TRVI,TRVE,OFCL,AVNO,SHIP \
    --ensemble "$d"/forecast_*.nc --csv "$d/verification.csv" --plot "$d/verification.png"
picture=$(PYTHONPATH=build/python /usr/bin/python3 -m tarvo.plots forecast "$d/adecks/aal012005.dat" \
    "$d/bal012005.dat" "$d/forecast.png" "$d"/forecast_*.nc)
echo "picture: $PWD/$picture"
