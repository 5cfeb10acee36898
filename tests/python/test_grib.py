"""The environment from GRIB fields through ecCodes: GFS's GRIB2 layout (a
file a forecast step, the sea's temperature from t at the surface masked by
lsm and ci) and ERA5's GRIB1 as the Copernicus data store delivers it, both
equal to the environment from NetCDF of the same values; every scanning
direction; every bad input named with its field, level and file."""

import os
import subprocess

import eccodes
import numpy as np
import pytest
import xarray as xr

import tarvo
from conftest import BUILD
from test_environment import LEVELS, sounding, track

LAT = np.arange(40.0, -0.1, -1.0)   # GFS: from the north
LON = np.arange(260.0, 330.1, 1.0)


def message(sample, values, lat=LAT, lon=LON, bits=24, j_positive=False, i_negative=False, **keys):
    """One GRIB message of a regular latitude-longitude grid, values [lat][lon] in LAT and LON's order."""
    h = eccodes.codes_grib_new_from_samples(sample)
    if j_positive:
        lat, values = lat[::-1], values[::-1]
    if i_negative:
        lon, values = lon[::-1], values[:, ::-1]
    grid = {"Ni": len(lon), "Nj": len(lat), "latitudeOfFirstGridPointInDegrees": float(lat[0]),
            "latitudeOfLastGridPointInDegrees": float(lat[-1]), "longitudeOfFirstGridPointInDegrees": float(lon[0]),
            "longitudeOfLastGridPointInDegrees": float(lon[-1]),
            "iDirectionIncrementInDegrees": abs(float(lon[1] - lon[0])),
            "jDirectionIncrementInDegrees": abs(float(lat[1] - lat[0])),
            "jScansPositively": int(j_positive), "iScansNegatively": int(i_negative)}
    if "centre" in keys:  # first: the centre's own parameter names (GFS's mslet) follow from it
        eccodes.codes_set(h, "centre", keys.pop("centre"))
    for k, v in {**keys, **grid}.items():
        eccodes.codes_set(h, k, v)
    eccodes.codes_set(h, "bitsPerValue", bits)
    if np.isnan(values).any():
        eccodes.codes_set(h, "bitmapPresent", 1)
        eccodes.codes_set(h, "missingValue", 9999.0)
        values = np.where(np.isnan(values), 9999.0, values)
    eccodes.codes_set_values(h, np.ascontiguousarray(values, dtype=np.float64).ravel())
    data = eccodes.codes_get_message(h)
    eccodes.codes_release(h)
    return data


def gfs_files(folder, cycle="20050820", hour=0, steps=range(0, 25, 6), sst=302.0, land=None, skip=(), **grid):
    """GFS's pgrb2 files, one a step: t, q, u, v on isobaricInhPa, prmsl and mslet
    at meanSea, t, lsm and ci at the surface."""
    t, q = sounding()
    x = np.log(850.0 / LEVELS) / np.log(850.0 / 200.0)
    u, v = -6.0 + 10.0 * x, 1.0 + 2.0 * x
    ones = np.ones((len(LAT), len(LON)))
    mask = np.zeros_like(ones) if land is None else land(LAT[:, None] + 0 * LON, LON[None, :] + 0 * LAT[:, None]).astype(float)
    paths = []
    for step in steps:
        when = {"dataDate": int(cycle), "dataTime": hour * 100, "stepUnits": 1, "forecastTime": step, "centre": "kwbc"}
        data = b""
        for k, p in enumerate(LEVELS):
            for name, value in (("t", t[k]), ("q", q[k]), ("u", u[k]), ("v", v[k])):
                if (name, p) in skip or (name, p, step) in skip or (name, "below", step) in skip and p < 300:
                    continue
                data += message("regular_ll_pl_grib2", value * ones, shortName=name, typeOfLevel="isobaricInhPa",
                                level=int(p), **when, **grid)
        for name, level_type, value in (("prmsl", "meanSea", 101200.0 * ones), ("mslet", "meanSea", 101000.0 * ones),
                                        ("t", "surface", np.where(mask > 0, 310.0, sst) * ones),
                                        ("lsm", "surface", mask), ("ci", "surface", 0 * ones)):
            if (name, level_type) in skip:
                continue
            data += message("regular_ll_sfc_grib2", value, shortName=name, typeOfLevel=level_type, **when, **grid)
        path = folder / f"gfs.t{hour:02d}z.pgrb2.1p00.f{step:03d}"
        path.write_bytes(data)
        paths.append(path)
    return paths


def divmod_date(yyyymmdd):
    return yyyymmdd // 10000, yyyymmdd // 100 % 100, yyyymmdd % 100


def decoded(path):
    """Every message's shortName, level type, level, valid time and values, as ecCodes gives them."""
    out = []
    with open(path, "rb") as f:
        while True:
            h = eccodes.codes_grib_new_from_file(f)
            if h is None:
                break
            vals = eccodes.codes_get_values(h).reshape(eccodes.codes_get(h, "Nj"), eccodes.codes_get(h, "Ni"))
            if eccodes.codes_get(h, "jScansPositively") == 1:
                vals = vals[::-1]
            out.append((eccodes.codes_get(h, "shortName"), eccodes.codes_get(h, "typeOfLevel"),
                        eccodes.codes_get(h, "level"),
                        np.datetime64("{0:04d}-{1:02d}-{2:02d}".format(*divmod_date(eccodes.codes_get(h, "validityDate"))),
                                      "h") +
                        np.timedelta64(eccodes.codes_get(h, "validityTime") // 100, "h"), vals))
            eccodes.codes_release(h)
    return out


def as_netcdf(paths, folder):
    """The same values, as decoded from the GRIB files, in ERA5's NetCDF layout."""
    msgs = [m for p in paths for m in decoded(p)]
    times = sorted({m[3] for m in msgs})
    grid = {"latitude": ("latitude", LAT, {"units": "degrees_north"}),
            "longitude": ("longitude", LON, {"units": "degrees_east"})}
    out = {}
    for name in ("t", "q", "u", "v"):
        arr = np.full((len(times), len(LEVELS), len(LAT), len(LON)), np.nan)
        for s, lt, level, when, vals in msgs:
            if s == name and lt == "isobaricInhPa":
                arr[times.index(when), list(LEVELS).index(level)] = vals
        out[name] = (("valid_time", "pressure_level", "latitude", "longitude"), arr,
                     {"units": {"t": "K", "q": "kg kg**-1", "u": "m s**-1", "v": "m s**-1"}[name]})
    sst = np.full((len(times), len(LAT), len(LON)), np.nan)
    msl = np.full_like(sst, np.nan)
    land = np.zeros_like(sst)
    for s, lt, level, when, vals in msgs:
        k = times.index(when)
        if s == "t" and lt == "surface":
            sst[k] = vals
        elif s == "prmsl":
            msl[k] = vals
        elif s == "lsm":
            land[k] = vals
    sst[land >= 0.5] = np.nan
    out["sst"] = (("valid_time", "latitude", "longitude"), sst, {"units": "K"})
    out["msl"] = (("valid_time", "latitude", "longitude"), msl, {"units": "Pa"})
    ds = xr.Dataset(out, coords={"valid_time": np.array(times, "datetime64[ns]"),
                                 "pressure_level": ("pressure_level", LEVELS, {"units": "hPa"}), **grid})
    path = folder / "same.nc"
    ds.to_netcdf(path)
    return path


def test_gfs_grib2_gives_the_environment_of_netcdf_of_the_same_values(tmp_path):
    land = lambda lat, lon: (lat > 25) & (lon > 290)  # noqa: E731
    paths = gfs_files(tmp_path, land=land)
    tracks = [track(hours=(-6, 0, 6, 12, 18), lat0=18.0, lon0=300.0, day=20, hour=6)]
    from_grib, details_grib = tarvo.environment(tracks, paths)
    from_nc, details_nc = tarvo.environment(tracks, [as_netcdf(paths, tmp_path)])
    for name in ("vpot", "shear", "t600", "rh600"):
        np.testing.assert_allclose(from_grib[name].values, from_nc[name].values, rtol=1e-6, err_msg=name)
    np.testing.assert_allclose(details_grib["sst"].values, details_nc["sst"].values, rtol=1e-6)
    assert "t at the surface where lsm and ci say sea" in from_grib.attrs["environment_fields"]
    # The programs take them alike.
    catalog = tmp_path / "tracks.nc"
    tarvo.write_catalog(tracks, [tarvo.Params()], catalog)
    out = tmp_path / "env.nc"
    r = subprocess.run([str(BUILD / "tarvo-catalog"), "env", str(catalog), "--env", *map(str, paths), "-o", str(out)],
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    np.testing.assert_array_equal(xr.open_dataset(out).vpot.values, from_grib.vpot.values)


def test_every_scanning_direction_gives_the_same_values(tmp_path):
    base = gfs_files(tmp_path, steps=[0, 6])
    tracks = [track(hours=(0, 6), lat0=18.0, lon0=300.0, day=20, hour=0)]
    expected = tarvo.environment(tracks, base)[0]
    for j_positive, i_negative in ((True, False), (False, True), (True, True)):
        folder = tmp_path / f"scan{int(j_positive)}{int(i_negative)}"
        folder.mkdir()
        got = tarvo.environment(tracks, gfs_files(folder, steps=[0, 6], j_positive=j_positive,
                                                  i_negative=i_negative))[0]
        for name in ("vpot", "shear", "t600", "rh600"):
            np.testing.assert_array_equal(got[name].values, expected[name].values, err_msg=f"{name} {folder.name}")


def test_era5_grib1_as_the_data_store_delivers_it(tmp_path):
    t, q = sounding()
    times = np.arange(np.datetime64("2005-08-19T18"), np.datetime64("2005-08-21T01"), np.timedelta64(6, "h"))
    lat, lon = np.arange(40.0, -0.1, -0.5), np.arange(260.0, 330.1, 0.5)
    ones = np.ones((len(lat), len(lon)))
    x = np.log(850.0 / LEVELS) / np.log(850.0 / 200.0)
    pl, sl = b"", b""
    for when in times:
        date = int(str(when)[:10].replace("-", ""))
        keys = {"dataDate": date, "dataTime": int(str(when)[11:13]) * 100, "stepRange": "0"}
        for k, p in enumerate(LEVELS):
            for name, value in (("t", t[k]), ("q", q[k]), ("u", -6.0 + 10.0 * x[k]), ("v", 1.0 + 2.0 * x[k])):
                pl += message("GRIB1", value * ones, lat=lat, lon=lon, bits=16, shortName=name,
                              typeOfLevel="isobaricInhPa", level=int(p), **keys)
        sea = np.where((lat[:, None] > 30) & (lon[None, :] < 270), np.nan, 302.0) * ones
        sl += message("GRIB1", sea, lat=lat, lon=lon, bits=16, shortName="sst", typeOfLevel="surface", **keys)
        sl += message("GRIB1", 101200.0 * ones, lat=lat, lon=lon, bits=16, shortName="msl", typeOfLevel="surface", **keys)
    (tmp_path / "era5_pl.grib").write_bytes(pl)
    (tmp_path / "era5_sl.grib").write_bytes(sl)
    tracks = [track(hours=(-6, 0, 6, 12, 18), lat0=18.0, lon0=300.0, day=20, hour=0)]
    catalog, details = tarvo.environment(tracks, [tmp_path / "era5_pl.grib", tmp_path / "era5_sl.grib"])
    assert np.all(details.pi_flag.values == 1)
    # ERA5's packing: 16 bits; the NetCDF of the values decoded gives the same to 1e-6.
    era5_nc = xr.Dataset(
        {"t": (("valid_time", "pressure_level"), np.array([[m[4][0, 0] for m in decoded(tmp_path / "era5_pl.grib")
                                                           if m[0] == "t" and m[3] == w] for w in times]))})
    assert era5_nc.t.shape == (len(times), len(LEVELS))
    assert 0 < float(catalog.shear.max()) < 30


def test_a_needed_field_or_level_missing_an_unknown_grid_and_a_truncated_file_are_named(tmp_path):
    tracks = [track(hours=(0, 6), lat0=18.0, lon0=300.0, day=20, hour=0)]
    (tmp_path / "a").mkdir()
    paths = gfs_files(tmp_path / "a", steps=[0, 6], skip=[("t", 500.0, 6)])
    with pytest.raises(tarvo.InputError, match=r"gfs.t00z.pgrb2.1p00.f000: temperature \(t, ta\) \(GRIB shortName t\) "
                                               r"at 500 hPa valid 2005-08-20 06:00 is in none of the files given"):
        tarvo.environment(tracks, paths)
    (tmp_path / "a2").mkdir()
    paths = gfs_files(tmp_path / "a2", steps=[0, 6], skip=[("u", "below", 0), ("u", "below", 6)])
    with pytest.raises(tarvo.InputError, match=r"u in .*gfs.t00z.pgrb2.1p00.f000 \(and 1 more files\) has no level at "
                                               r"or around 200"):
        tarvo.environment(tracks, paths)
    (tmp_path / "b").mkdir()
    paths = gfs_files(tmp_path / "b", steps=[0, 6], skip=[("lsm", "surface")])
    with pytest.raises(tarvo.InputError, match=r"needs the land-sea mask \(lsm\).*lsm valid 2005-08-20"):
        tarvo.environment(tracks, paths)
    (tmp_path / "c").mkdir()
    paths = gfs_files(tmp_path / "c", steps=[0, 6], skip=[("prmsl", "meanSea"), ("mslet", "meanSea")])
    with pytest.raises(tarvo.InputError, match="the environment fields lack mean sea-level pressure"):
        tarvo.environment(tracks, paths)
    # A grid that does not reach the track.
    with pytest.raises(tarvo.InputError, match="does not cover the fix"):
        tarvo.environment([track(hours=(0, 6), lat0=-30.0, lon0=300.0, day=20, hour=0)], gfs_files(tmp_path, steps=[0, 6]))
    # A Gaussian grid and a polar stereographic one: not a regular latitude-longitude grid.
    gg = tmp_path / "gg.grib2"
    h = eccodes.codes_grib_new_from_samples("gg_sfc_grib2")
    eccodes.codes_set(h, "shortName", "t")
    gg.write_bytes(eccodes.codes_get_message(h))
    with pytest.raises(tarvo.InputError, match=r"gg.grib2: GRIB message 1: shortName t: its grid is reduced_gg: tarvo reads regular latitude-longitude"):
        tarvo.environment(tracks, [gg])
    # Truncated.
    cut = tmp_path / "cut.grib2"
    whole = gfs_files(tmp_path, steps=[0])[0].read_bytes()
    cut.write_bytes(whole[:len(whole) // 2 + 7])
    with pytest.raises(tarvo.InputError, match=r"cut.grib2: GRIB message \d+: cannot be read: the file ends in the middle of it"):
        tarvo.environment(tracks, [cut])
    r = subprocess.run([str(BUILD / "tarvo-catalog"), "env", "x.nc", "--env", str(cut), "-o", str(tmp_path / "o.nc")],
                       capture_output=True, text=True)
    assert r.returncode == 2


def test_bytes_between_messages_are_passed_over_and_a_damaged_message_is_named(tmp_path):
    """The index reads each message's header sections and steps by its length:
    padding between messages (as some archives write) changes nothing; a
    message whose length does not end at its 7777 is named."""
    tracks = [track(hours=(0, 6), lat0=18.0, lon0=300.0, day=20, hour=0)]
    paths = gfs_files(tmp_path, steps=[0, 6])
    _, plain = tarvo.environment(tracks, paths)
    padded = []
    for p in paths:
        with open(p, "rb") as f:
            messages = []
            while (h := eccodes.codes_grib_new_from_file(f)) is not None:
                messages.append(eccodes.codes_get_message(h))
                eccodes.codes_release(h)
        q = tmp_path / ("padded_" + p.name)
        q.write_bytes(b"".join(m + b"\0" * 120 for m in messages))
        padded.append(q)
    _, again = tarvo.environment(tracks, padded)
    for name in ("pi_vmax", "shear", "t600", "rh600", "sst", "msl"):
        np.testing.assert_array_equal(again[name].values, plain[name].values)
    damaged = tmp_path / "damaged.grib2"
    data = bytearray(messages[0] + messages[1])
    data[len(messages[0]) - 2] = ord("X")  # the first message's 7777
    damaged.write_bytes(bytes(data))
    with pytest.raises(tarvo.InputError, match=r"damaged.grib2: GRIB message 1: does not end with 7777 where its length says"):
        tarvo.environment(tracks, [damaged])
    edition3 = tmp_path / "edition3.grib"
    data = bytearray(messages[0])
    data[7] = 3
    edition3.write_bytes(bytes(data))
    with pytest.raises(tarvo.InputError, match=r"edition3.grib: GRIB message 1: is of GRIB edition 3: tarvo reads editions 1 and 2"):
        tarvo.environment(tracks, [edition3])
