"""GFS 0.25-degree files for the benchmark of one forecast cycle's environment.

Writes, for one cycle of a `tarvo-synth --forecast` folder, the 21 files a
forecaster downloads (gfs.tHHz.pgrb2.0p25.f000 ... f120, 6-hourly) in the
layout of NOMADS' files: 1440 x 721 points from the north, complex packing
with spatial differencing (GRIB2 template 5.3) as GFS packs them, the
temperature, humidities, winds and geopotential at 33 pressure levels, the
vertical velocity, vorticity, ozone and cloud water that tarvo does not
read, and the surface fields (the made-up world's values of the 1-degree
files upsampled; the steps in between the made-up files' 12-hourly ones
repeat the step before). About 400 messages and 350 MB a file.

    bench_grib.py SYNTH_DIR CYCLE WORK

With --region, the same files as NOMADS' GRIB filter gives them: only the
variables tarvo reads, on the region from LAT0 to LAT1 N and LON0 to LON1 E
(cut from the global files of WORK):

    bench_grib.py --region LAT0 LAT1 LON0 LON1 WORK REGION_DIR
"""
import os
import sys

import eccodes
import numpy as np

LEVELS = [1000, 975, 950, 925, 900, 850, 800, 750, 700, 650, 600, 550, 500, 450, 400, 350, 300, 250, 200, 150,
          100, 70, 50, 40, 30, 20, 15, 10, 7, 5, 3, 2, 1]
UNREAD = ["gh", "w", "absv", "o3mr", "clwmr"]  # in GFS's files at the pressure levels; not read by tarvo


def read_messages(path):
    out = {}
    with open(path, "rb") as f:
        while True:
            h = eccodes.codes_grib_new_from_file(f)
            if h is None:
                break
            key = (eccodes.codes_get(h, "shortName"), eccodes.codes_get(h, "typeOfLevel"), eccodes.codes_get(h, "level"))
            out[key] = eccodes.codes_get_values(h).reshape(181, 360)
            eccodes.codes_release(h)
    return out


def upsample(v):
    """1 degree to 0.25 degree (721 x 1440, from the north, 0 to 359.75 E), bilinear."""
    lat = np.arange(721) / 4.0
    lon = np.arange(1440) / 4.0
    j0 = np.minimum(np.floor(lat).astype(int), 179)
    i0 = np.floor(lon).astype(int)
    wj = (lat - j0)[:, None]
    wi = (lon - i0)[None, :]
    i1 = (i0 + 1) % 360
    a = v[j0][:, i0] * (1 - wi) + v[j0][:, i1] * wi
    b = v[j0 + 1][:, i0] * (1 - wi) + v[j0 + 1][:, i1] * wi
    return a * (1 - wj) + b * wj


def template(sample):
    h = eccodes.codes_grib_new_from_samples(sample)
    for key, value in [("centre", 7), ("Ni", 1440), ("Nj", 721), ("latitudeOfFirstGridPointInDegrees", 90.0),
                       ("longitudeOfFirstGridPointInDegrees", 0.0), ("latitudeOfLastGridPointInDegrees", -90.0),
                       ("longitudeOfLastGridPointInDegrees", 359.75), ("iDirectionIncrementInDegrees", 0.25),
                       ("jDirectionIncrementInDegrees", 0.25), ("jScansPositively", 0), ("stepUnits", 1)]:
        eccodes.codes_set(h, key, value)
    eccodes.codes_set_values(h, np.linspace(0.0, 1.0, 1440 * 721))
    eccodes.codes_set(h, "packingType", "grid_complex_spatial_differencing")
    return h


def cut(lat0, lat1, lon0, lon1, work, out_dir):
    """The filter's files: tarvo's variables on a region, from the global files."""
    os.makedirs(out_dir, exist_ok=True)
    wanted = {("t", "isobaricInhPa"), ("q", "isobaricInhPa"), ("u", "isobaricInhPa"), ("v", "isobaricInhPa"),
              ("prmsl", "meanSea"), ("t", "surface"), ("lsm", "surface"), ("ci", "surface")}
    lat = 90.0 - np.arange(721) / 4.0
    lon = np.arange(1440) / 4.0
    rows = np.flatnonzero((lat >= lat0) & (lat <= lat1))
    cols = np.flatnonzero((lon >= lon0) & (lon <= lon1))
    for name in sorted(os.listdir(work)):
        if ".pgrb2.0p25.f" not in name or name.endswith(".tmp"):
            continue
        out = os.path.join(out_dir, name)
        if os.path.exists(out):
            continue
        with open(os.path.join(work, name), "rb") as f, open(out + ".tmp", "wb") as g:
            while (h := eccodes.codes_grib_new_from_file(f)) is not None:
                if (eccodes.codes_get(h, "shortName"), eccodes.codes_get(h, "typeOfLevel")) in wanted:
                    v = eccodes.codes_get_values(h).reshape(721, 1440)[rows][:, cols]
                    for key, value in [("Ni", len(cols)), ("Nj", len(rows)),
                                       ("latitudeOfFirstGridPointInDegrees", float(lat[rows[0]])),
                                       ("latitudeOfLastGridPointInDegrees", float(lat[rows[-1]])),
                                       ("longitudeOfFirstGridPointInDegrees", float(lon[cols[0]])),
                                       ("longitudeOfLastGridPointInDegrees", float(lon[cols[-1]]))]:
                        eccodes.codes_set(h, key, value)
                    eccodes.codes_set_values(h, v.ravel())
                    eccodes.codes_write(h, g)
                eccodes.codes_release(h)
        os.replace(out + ".tmp", out)


def main():
    if sys.argv[1] == "--region":
        cut(*[float(x) for x in sys.argv[2:6]], sys.argv[6], sys.argv[7])
        return
    synth, cycle, work = sys.argv[1], sys.argv[2], sys.argv[3]
    day, hour = cycle[:8], int(cycle[8:])
    src = os.path.join(synth, "gfs", "gfs." + day, "%02d" % hour, "atmos")
    os.makedirs(work, exist_ok=True)
    pl, sfc = template("regular_ll_pl_grib2"), template("regular_ll_sfc_grib2")
    noise = np.random.default_rng(1).standard_normal((721, 1440))
    for step in range(0, 121, 6):
        out = os.path.join(work, "gfs.t%02dz.pgrb2.0p25.f%03d" % (hour, step))
        if os.path.exists(out):
            continue
        fields = read_messages(os.path.join(src, "gfs.t%02dz.pgrb2.1p00.f%03d" % (hour, step - step % 12)))
        known = sorted(level for (name, kind, level) in fields if name == "t" and kind == "isobaricInhPa")

        def at_level(name, p):
            nearest = min(known, key=lambda k: abs(k - p))
            return upsample(fields[(name, "isobaricInhPa", nearest)])

        with open(out + ".tmp", "wb") as f:
            def put(h, name, kind, level, values, bits):
                eccodes.codes_set(h, "dataDate", int(day))
                eccodes.codes_set(h, "dataTime", hour * 100)
                eccodes.codes_set(h, "forecastTime", step)
                eccodes.codes_set(h, "shortName", name)
                eccodes.codes_set(h, "typeOfLevel", kind)
                eccodes.codes_set(h, "level", level)
                eccodes.codes_set(h, "bitsPerValue", bits)
                eccodes.codes_set_values(h, values.ravel())
                eccodes.codes_write(h, f)

            for p in LEVELS:
                t = at_level("t", p)
                put(pl, "t", "isobaricInhPa", p, t + 0.05 * noise, 14)
                q = at_level("q", p)
                put(pl, "q", "isobaricInhPa", p, q * (1 + 0.001 * noise), 16)
                put(pl, "r", "isobaricInhPa", p, np.clip(50 + 10 * noise, 0, 100), 10)
                put(pl, "u", "isobaricInhPa", p, at_level("u", p) + 0.1 * noise, 14)
                put(pl, "v", "isobaricInhPa", p, at_level("v", p) + 0.1 * noise, 14)
                for name in UNREAD:
                    put(pl, name, "isobaricInhPa", p, t * 10 + noise, 14)
            put(sfc, "prmsl", "meanSea", 0, upsample(fields[("prmsl", "meanSea", 0)]) + noise, 16)
            for name in ("t", "lsm", "ci"):
                put(sfc, name, "surface", 0, upsample(fields[(name, "surface", 0)]), 12 if name == "t" else 4)
        os.replace(out + ".tmp", out)
        print(out, flush=True)


if __name__ == "__main__":
    main()
