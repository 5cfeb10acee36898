"""Synthetic tracks for the benchmark of a risk study's chain: N storms of
tarvo-synth's made-up world (born over its warm basin, moving west-north-
west, a day of track before three days of forecast, 6-hourly) in the layout
CLIMADA's TCTracks.write_hdf5 gives them (combined along storm, padded along
step, the per-track items as variables of storm), written directly with
netCDF4 (xarray would take minutes to combine 10^5 Datasets).

    bench_risk.py N OUT.nc
"""
import sys

import netCDF4
import numpy as np


def main():
    n, path = int(sys.argv[1]), sys.argv[2]
    rng = np.random.default_rng(7)
    steps = 17  # -24 .. 72 h, 6-hourly
    hours = np.arange(steps) * 6.0
    lat0 = rng.uniform(12.0, 17.0, n)[:, None]
    lon0 = rng.uniform(-64.0, -56.0, n)[:, None]
    lat = lat0 + 0.11 * hours[None, :] + 0.4 * np.sin(hours[None, :] / 30.0)
    lon = lon0 - 0.25 * hours[None, :]
    peak = rng.uniform(95.0, 130.0, n)[:, None]
    wind = 30.0 + (peak - 30.0) * np.minimum(1.0, hours[None, :] / 96.0) + rng.uniform(-3, 3, (n, steps))
    start = (rng.integers(0, 61, n) * 24 + rng.integers(0, 4, n) * 6).astype(float)  # August and September
    with netCDF4.Dataset(path, "w") as d:
        d.createDimension("storm", n)
        d.createDimension("step", steps)
        d.createVariable("step", "i8", ("step",))[:] = np.arange(steps)
        d.createVariable("storm", "i8", ("storm",))[:] = np.arange(n)

        def series(name, values, coordinates=True):
            v = d.createVariable(name, "f8", ("storm", "step"), zlib=True, complevel=5, fill_value=np.nan)
            if coordinates:
                v.coordinates = "lat lon"
            v[:] = values

        series("time_step", np.full((n, steps), 6.0))
        series("radius_max_wind", np.full((n, steps), 30.0))
        series("max_sustained_wind", np.round(wind))
        series("central_pressure", np.round(1010.0 - (np.maximum(wind, 15.0) / 6.7) ** (1 / 0.644)))
        series("environmental_pressure", np.full((n, steps), 1010.0))
        basin = d.createVariable("basin", str, ("storm", "step"))
        basin.coordinates = "lat lon"
        basin[:] = np.full((n, steps), "NA", dtype=object)
        series("lat", lat, False)
        series("lon", lon, False)
        t = d.createVariable("time", "f8", ("storm", "step"), zlib=True, complevel=5, fill_value=np.nan)
        t.units = "hours since 2001-08-01 00:00:00"
        t.calendar = "proleptic_gregorian"
        t.coordinates = "lat lon"
        t[:] = start[:, None] + hours[None, :]
        for name, value in (("max_sustained_wind_unit", "kn"), ("central_pressure_unit", "mb"),
                            ("data_provider", "bench")):
            d.createVariable(name, str, ("storm",))[:] = np.full(n, value, dtype=object)
        sids = np.array([f"B{i:07d}" for i in range(n)], dtype=object)
        d.createVariable("sid", str, ("storm",))[:] = sids
        d.createVariable("name", str, ("storm",))[:] = sids
        d.createVariable("orig_event_flag", "i8", ("storm",))[:] = np.ones(n, np.int64)
        d.createVariable("id_no", "f8", ("storm",))[:] = np.arange(1, n + 1, dtype=float)
        d.createVariable("category", "i8", ("storm",))[:] = np.full(n, 3)


if __name__ == "__main__":
    main()
