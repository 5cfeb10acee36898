#!/usr/bin/env bash
# A risk study's tarvo part on this machine, in under a minute: a set of
# synthetic tracks of tarvo-synth's made-up world in CLIMADA's layout (a
# file a track, as TCTracks.write_netcdf writes them, with the members
# calc_perturbed_trajectories makes), the same storms under two climates
# (the made-up world's monthly fields, and the same 2 K warmer at the surface
# and more aloft), their forecasts with CLIMADA's one-file output of each,
# and the comparison of the two climates with its picture
# (demo-risk/changes.png). docs/risk.md walks the whole chain with
# CLIMADA's own calls on real data; the world and its storms here are made
# up: this shows the tool, not a projection.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j "$(nproc)" --target tarvo-synth tarvo-catalog tarvo-batch tarvo-compare tarvo_python > /dev/null
d=demo-risk
rm -rf "$d"
echo "== synthetic tracks in CLIMADA's layout ($d/climada/), two climates' monthly fields ($d/fields/), ocean grids ($d/data/)"
build/tarvo-synth --risk --storms 200 "$d"
echo "== the tracks in: a forecast from each one's first day on"
build/tarvo-catalog import "$d/climada" --starts first+24h --history 24 -o "$d/tracks.nc" | head -1
for climate in present future; do
  echo "== $climate: the environment along the tracks (a monthly climatology, whatever their year), the forecasts"
  build/tarvo-catalog env "$d/tracks.nc" --env "$d/fields/$climate.nc" --climatology -o "$d/tracks_$climate.nc" \
      | head -1
  build/tarvo-batch -j "$(nproc)" --data "$d/data" --catalog "$d/tracks_$climate.nc" --out "$d/$climate.nc" \
      --climada-hdf5 "$d/climada_$climate.nc" 2> /dev/null | tail -2
done
echo "== the two climates compared"
build/tarvo-compare "$d/present.nc" "$d/future.nc" --catalog "$d/tracks.nc" --data "$d/data" \
    --csv "$d/changes.csv" --plot "$d/changes.png"
echo "CLIMADA: TCTracks.from_hdf5(\"$d/climada_present.nc\") and (\"$d/climada_future.nc\") make the hazards (docs/risk.md)"
