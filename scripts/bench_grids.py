"""Files of the shapes of the public data sets the ocean grids are built
from, for measuring tarvo-grids build (scripts/bench_grids.sh):

    python3 scripts/bench_grids.py DIR [60|30|15]...

writes DIR/etopo_<res>s.nc in ETOPO 2022's layout (z(lat, lon) float,
cell-centred, -180..180, rows from the south, deflated, chunks of one row as
GDAL writes them) at each resolution asked for, and DIR/woa/ with the World
Ocean Atlas's twelve monthly 1-degree temperature files (57 levels, t_an
deflated). The values are made up: smooth relief with small-scale noise, so
that they compress about as much as real relief (about two to one).
"""

import os
import sys

import netCDF4
import numpy as np


def etopo(path, per_degree):
    n_lat, n_lon = 180 * per_degree, 360 * per_degree
    with netCDF4.Dataset(path, "w") as d:
        d.createDimension("lat", n_lat)
        d.createDimension("lon", n_lon)
        lat = -90 + (np.arange(n_lat) + 0.5) / per_degree
        lon = -180 + (np.arange(n_lon) + 0.5) / per_degree
        d.createVariable("lat", "f8", ("lat",))[:] = lat
        d.variables["lat"].units = "degrees_north"
        d.createVariable("lon", "f8", ("lon",))[:] = lon
        d.variables["lon"].units = "degrees_east"
        z = d.createVariable("z", "f4", ("lat", "lon"), zlib=True, complevel=4, chunksizes=(1, n_lon))
        z.units = "m"
        rng = np.random.default_rng(1)
        coslon = np.cos(np.radians(lon) * 3)
        rows = 360
        for j0 in range(0, n_lat, rows):
            la = lat[j0:j0 + rows, None]
            block = (-3000 + 3500 * np.sin(np.radians(la) * 2) * coslon +
                     40 * rng.standard_normal((len(la), n_lon)))
            z[j0:j0 + rows, :] = np.round(block, 1).astype("f4")


def woa(folder):
    os.makedirs(folder, exist_ok=True)
    depths = np.r_[np.arange(0, 100, 5), np.arange(100, 500, 25), np.arange(500, 1501, 50)].astype("f4")
    lat = np.arange(-89.5, 90, 1.0)
    lon = np.arange(-179.5, 180, 1.0)
    for m in range(1, 13):
        with netCDF4.Dataset(os.path.join(folder, f"woa23_decav91C0_t{m:02d}_01.nc"), "w") as d:
            for k, n in (("time", 1), ("depth", 57), ("lat", 180), ("lon", 360)):
                d.createDimension(k, n)
            d.createVariable("depth", "f4", ("depth",))[:] = depths
            d.variables["depth"].units = "meters"
            d.variables["depth"].positive = "down"
            d.createVariable("lat", "f4", ("lat",))[:] = lat
            d.variables["lat"].units = "degrees_north"
            d.createVariable("lon", "f4", ("lon",))[:] = lon
            d.variables["lon"].units = "degrees_east"
            t = d.createVariable("t_an", "f4", ("time", "depth", "lat", "lon"), fill_value=np.float32(9.96921e36),
                                 zlib=True)
            t.units = "degrees_celsius"
            top = 28 - 0.3 * np.abs(lat)[:, None] + 0 * lon
            h = 30 + 20 * np.cos(np.radians(lon))[None, :] + 0.5 * np.abs(lat)[:, None] + m
            z = depths[:, None, None]
            field = np.where(z <= h, top, top - 0.05 * (z - h))
            field[:, :8, :] = np.nan
            t[0] = np.ma.masked_invalid(field.astype("f4"))


def main(argv):
    folder = argv[1]
    os.makedirs(folder, exist_ok=True)
    if not os.path.exists(os.path.join(folder, "woa", "woa23_decav91C0_t12_01.nc")):
        woa(os.path.join(folder, "woa"))
    for res in argv[2:]:
        path = os.path.join(folder, f"etopo_{res}s.nc")
        if not os.path.exists(path):
            etopo(path + ".part", 3600 // int(res))
            os.replace(path + ".part", path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
