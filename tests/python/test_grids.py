"""The ocean grids from the public data sets in their publishers' layouts
(ETOPO 2022, GEBCO, a CF depth grid; the World Ocean Atlas, a climate
model's thetao climatology; de Boyer Montegut's, Holte et al.'s and WOA18's
mixed-layer depth), by tarvo-grids and tarvo.build_grids alike; every bad
input named; the built grids run a forecast."""

import json
import os
import subprocess

import netCDF4
import numpy as np
import pytest

import tarvo
from conftest import BUILD

DEPTHS = np.r_[np.arange(0, 100, 5), np.arange(100, 500, 25), np.arange(500, 1501, 50)].astype("f4")
FILL = np.float32(9.96921e36)


def profile(h, g, top=28.0):
    """Temperatures at DEPTHS: mixed to h (m), then cooling at g (K per m)."""
    return np.where(DEPTHS <= h, top, top - g * (DEPTHS - h)).astype("f4")


def write_etopo(path, step=1.0, lon0=-180.0, z=lambda lat, lon: -4000.0 + 0 * lat, units="m", lat_order=1):
    """ETOPO 2022's layout: z(lat, lon) float, cell-centred, rows from the south."""
    with netCDF4.Dataset(path, "w") as d:
        n_lat, n_lon = int(round(180 / step)), int(round(360 / step))
        d.createDimension("lat", n_lat)
        d.createDimension("lon", n_lon)
        lat = -90 + step * (np.arange(n_lat) + 0.5)
        lon = lon0 + step * (np.arange(n_lon) + 0.5)
        if lat_order < 0:
            lat = lat[::-1]
        v = d.createVariable("lat", "f8", ("lat",))
        v[:] = lat
        v.units = "degrees_north"
        v = d.createVariable("lon", "f8", ("lon",))
        v[:] = lon
        v.units = "degrees_east"
        v = d.createVariable("z", "f4", ("lat", "lon"), zlib=True)
        if units is not None:
            v.units = units
        LON, LAT = np.meshgrid(lon, lat)
        v[:] = z(LAT, LON)
    return path


def write_woa(folder, t=lambda m: profile(30 + m, 0.05), months=range(1, 13), name="woa23_decav91C0_t{:02d}_01.nc",
              units="degrees_celsius", depth_attrs=None, lat=None, zlib=False):
    """The World Ocean Atlas's monthly 1-degree files: t_an(time, depth, lat,
    lon); ``t(month)`` gives the temperatures (depth, lat, lon), or one
    profile for every cell."""
    paths = []
    lat = np.arange(-89.5, 90, 1.0) if lat is None else lat
    lon = np.arange(-179.5, 180, 1.0)
    for m in months:
        path = folder / name.format(m)
        with netCDF4.Dataset(path, "w") as d:
            for k, n in (("time", 1), ("depth", len(DEPTHS)), ("lat", len(lat)), ("lon", 360), ("nbounds", 2)):
                d.createDimension(k, n)
            v = d.createVariable("time", "f4", ("time",))
            v.units = "months since 1955-01-01 00:00:00"  # WOA18's; WOA23's periods differ
            v[:] = 0.5
            v = d.createVariable("depth", "f4", ("depth",))
            v[:] = DEPTHS
            for k, a in (depth_attrs or {"units": "meters", "positive": "down", "standard_name": "depth"}).items():
                v.setncattr(k, a)
            v = d.createVariable("lat", "f4", ("lat",))
            v[:] = lat
            v.units = "degrees_north"
            v = d.createVariable("lon", "f4", ("lon",))
            v[:] = lon
            v.units = "degrees_east"
            v = d.createVariable("t_an", "f4", ("time", "depth", "lat", "lon"), fill_value=FILL, zlib=zlib,
                                 complevel=1)
            v.standard_name = "sea_water_temperature"
            if units is not None:
                v.units = units
            data = np.asarray(t(m), "f4")
            if data.ndim == 1:
                data = np.broadcast_to(data[:, None, None], (len(DEPTHS), len(lat), 360))
            v[0] = np.ma.masked_invalid(data)
        paths.append(path)
    return paths


def grids(folder, name, month):
    values = np.array(open(folder / f"{name}{month:02d}").read().split(), float)
    return values.reshape(180, 360)


def build(args, expect_ok=True):
    r = subprocess.run([str(BUILD / "tarvo-grids"), "build", *map(str, args)], capture_output=True, text=True)
    if expect_ok:
        assert r.returncode == 0, r.stderr
    return r


@pytest.fixture(scope="module")
def woa(tmp_path_factory):
    return write_woa(tmp_path_factory.mktemp("woa"), zlib=True)  # deflated, as WOA's are


def test_woa_and_etopo_give_the_method_s_values_by_the_program_and_by_python(tmp_path, woa):
    etopo = write_etopo(tmp_path / "ETOPO_2022_v1_60s_N90W180_surface.nc")
    r = build(["--elevation", etopo, "--temperature", *woa, "-o", tmp_path / "data"])
    assert "mix01..mix12" in r.stdout and "month 12 of 12" in r.stderr
    record = tarvo.build_grids(elevation=etopo, temperature=woa, output=tmp_path / "data2")
    for name in ["bathsmooth2.dat"] + [f"{k}{m:02d}" for k in ("mix", "stratnorm") for m in range(1, 13)]:
        assert (tmp_path / "data" / name).read_bytes() == (tmp_path / "data2" / name).read_bytes(), name
    # Mixed to 30 + m m, 0.2 K colder 4 m below; 5 K per 100 m under it.
    for m in (1, 7, 12):
        np.testing.assert_allclose(grids(tmp_path / "data", "mix", m), 34.0 + m, rtol=1e-5)
        np.testing.assert_allclose(grids(tmp_path / "data", "stratnorm", m), 5.0, rtol=1e-5)
    # The record: sources with their digests, methods, options, months.
    disk = json.loads((tmp_path / "data" / "grids.json").read_text())
    assert disk["sources"]["elevation"]["variable"] == "z"
    assert len(disk["sources"]["elevation"]["sha256"]) == 64
    assert disk["sources"]["elevation"]["bytes"] == os.path.getsize(etopo)
    assert [f["file"] for f in disk["sources"]["temperature"]["files"]] == [p.name for p in woa]
    assert disk["sources"]["temperature"]["months"] == "from the file names (World Ocean Atlas)"
    assert disk["options"]["strat_depth_m"] == 100 and disk["tarvo"]["version"] == tarvo.__version__
    assert record["months"][6]["mld_min_m"] == pytest.approx(41.0)
    # What the model reads: a forecast runs on them.
    g = tarvo.load_grids(tmp_path / "data")
    track = tarvo.Track(basin="al", month=9, day=1, hour=0, year=2005, hours=list(range(-24, 49, 6)),
                        lat=[15.0 + 0.2 * k for k in range(13)], lon=[300.0 - 0.5 * k for k in range(13)],
                        vmax_kt=[50.0] * 13, vpot=[70.0] * 13, shear=[5.0] * 13, t600=[271.0] * 13, rh600=[60.0] * 13)
    ds = tarvo.forecast(track, tarvo.Params(), g, year=2005)
    assert np.isfinite(ds.vmax).all()
    check = tarvo.check_grids(tmp_path / "data")
    assert check.mld_max.sel(month=7).item() == pytest.approx(41.0) and check.attrs["warnings"] == ""
    r = subprocess.run([str(BUILD / "tarvo-grids"), "check", str(tmp_path / "data"), "--plot", str(tmp_path / "maps"),
                        "--month", "7"], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert "no implausible values" in r.stdout
    assert sorted(p.name for p in (tmp_path / "maps").iterdir()) == [
        "elevation.png", "gradient_07.png", "mixed_layer_depth_07.png"]


def test_gebco_and_a_cf_depth_grid_give_the_same_elevation(tmp_path, woa):
    # GEBCO: elevation(lat, lon) int16 in m; a CF grid of depth, positive down, in a 0..360 frame, rows from the north.
    gebco = tmp_path / "GEBCO_2024.nc"
    with netCDF4.Dataset(gebco, "w") as d:
        d.createDimension("lat", 720)
        d.createDimension("lon", 1440)
        lat = -90 + 0.25 * (np.arange(720) + 0.5)
        lon = -180 + 0.25 * (np.arange(1440) + 0.5)
        d.createVariable("lat", "f8", ("lat",))[:] = lat
        d.variables["lat"].units = "degrees_north"
        d.createVariable("lon", "f8", ("lon",))[:] = lon
        d.variables["lon"].units = "degrees_east"
        v = d.createVariable("elevation", "i2", ("lat", "lon"), zlib=True)
        v.units = "m"
        v.standard_name = "height_above_mean_sea_level"
        LON, LAT = np.meshgrid(lon, lat)
        v[:] = np.round(-3000 + 20 * LAT).astype("i2")
    depth = tmp_path / "depth.nc"
    with netCDF4.Dataset(depth, "w") as d:
        d.createDimension("latitude", 720)
        d.createDimension("longitude", 1440)
        lat = (-90 + 0.25 * (np.arange(720) + 0.5))[::-1]
        lon = 0.25 * (np.arange(1440) + 0.5)
        d.createVariable("latitude", "f8", ("latitude",))[:] = lat
        d.variables["latitude"].units = "degrees_north"
        d.createVariable("longitude", "f8", ("longitude",))[:] = lon
        d.variables["longitude"].units = "degrees_east"
        v = d.createVariable("depth", "f4", ("latitude", "longitude"), zlib=True)
        v.units = "m"
        v.positive = "down"
        LON, LAT = np.meshgrid(lon, lat)
        v[:] = -np.round(-3000 + 20 * LAT)
    build(["--elevation", gebco, "--temperature", *woa, "-o", tmp_path / "a"])
    build(["--elevation", depth, "--temperature", *woa, "-o", tmp_path / "b"])
    a = np.fromfile(tmp_path / "a" / "bathsmooth2.dat", "<f4").reshape(721, 1440)
    b = np.fromfile(tmp_path / "b" / "bathsmooth2.dat", "<f4").reshape(721, 1440)
    np.testing.assert_allclose(a, b, rtol=1e-6)
    lat = -90 + 0.25 * np.arange(721)
    inner = np.round(-3000 + 20 * lat[1:-1])  # boxes across two source rows of which each holds half
    assert np.all(np.abs(a[1:-1, 0] - inner) <= 6.0)


def test_a_climate_models_thetao_and_the_mixed_layer_climatologies(tmp_path):
    etopo = write_etopo(tmp_path / "etopo.nc", step=2.0)
    # thetao(time, lev, lat, lon): twelve months in one file, lev in centimetres, K, a calendar of 365 days.
    thetao = tmp_path / "thetao_Omon_MODEL_ssp585_r1i1p1f1_gn_208101-210012-clim.nc"
    with netCDF4.Dataset(thetao, "w") as d:
        for k, n in (("time", 12), ("lev", len(DEPTHS)), ("lat", 180), ("lon", 360)):
            d.createDimension(k, n)
        t = d.createVariable("time", "f8", ("time",))
        t.units = "days since 1850-01-01"
        t.calendar = "noleap"
        t[:] = 365 * 240 + np.array([15.5, 45, 74.5, 105, 135.5, 166, 196.5, 227.5, 258, 288.5, 319, 349.5])
        z = d.createVariable("lev", "f8", ("lev",))
        z.units = "centimeters"
        z.positive = "down"
        z[:] = DEPTHS * 100.0
        d.createVariable("lat", "f8", ("lat",))[:] = np.arange(-89.5, 90, 1.0)
        d.variables["lat"].units = "degrees_north"
        d.createVariable("lon", "f8", ("lon",))[:] = np.arange(0.5, 360, 1.0)
        d.variables["lon"].units = "degrees_east"
        v = d.createVariable("thetao", "f4", ("time", "lev", "lat", "lon"), fill_value=np.float32(1e20))
        v.standard_name = "sea_water_potential_temperature"
        v.units = "K"
        for m in range(12):
            v[m] = np.broadcast_to(profile(20, 0.08, top=300.0 + m)[:, None, None], (len(DEPTHS), 180, 360))
    build(["--elevation", etopo, "--temperature", thetao, "-o", tmp_path / "model"])
    np.testing.assert_allclose(grids(tmp_path / "model", "mix", 3), 20 + 2.5, rtol=1e-5)  # 0.2 K at 0.08 K/m
    np.testing.assert_allclose(grids(tmp_path / "model", "stratnorm", 3), 8.0, rtol=1e-5)
    record = json.loads((tmp_path / "model" / "grids.json").read_text())
    assert record["sources"]["temperature"]["standard_name"] == "sea_water_potential_temperature"
    assert record["sources"]["temperature"]["depths_m"][-1] == 1500
    # De Boyer Montegut's climatology, 2 degrees, with its land mask; Holte
    # et al.'s over iMONTH, iLAT, iLON; WOA18's M_an, a file a month.
    woa = write_woa(tmp_path, t=lambda m: profile(30, 0.05))
    dbm = tmp_path / "mld_dr003_ref10m_v2023.nc"
    with netCDF4.Dataset(dbm, "w") as d:
        for k, n in (("time", 12), ("lat", 90), ("lon", 180)):
            d.createDimension(k, n)
        d.createVariable("time", "f4", ("time",))[:] = np.arange(12) + 0.5
        d.createVariable("lat", "f4", ("lat",))[:] = np.arange(-89, 90, 2.0)
        d.variables["lat"].units = "degrees_north"
        d.createVariable("lon", "f4", ("lon",))[:] = np.arange(1, 360, 2.0)
        d.variables["lon"].units = "degrees_east"
        v = d.createVariable("mld_dr003", "f4", ("time", "lat", "lon"), fill_value=np.float32(1e9))
        v.units = "m"
        v[:] = (60.0 + np.arange(12))[:, None, None] * np.ones((12, 90, 180))
        mask = d.createVariable("mask", "f4", ("lat", "lon"))
        mask[:] = 1.0
        mask[:5, :] = 0.0  # land in the far south
    build(["--elevation", etopo, "--temperature", *woa, "--mld", dbm, "-o", tmp_path / "dbm"])
    np.testing.assert_allclose(grids(tmp_path / "dbm", "mix", 5), 64.0, rtol=1e-6)
    # The gradient below the given mixed layer: the profile's 5 K per 100 m.
    np.testing.assert_allclose(grids(tmp_path / "dbm", "stratnorm", 5), 5.0, rtol=1e-5)
    assert json.loads((tmp_path / "dbm" / "grids.json").read_text())["sources"]["mixed_layer_depth"]["land_mask_applied"]
    holte = tmp_path / "Argo_mixedlayers_monthlyclim_04142022.nc"
    with netCDF4.Dataset(holte, "w") as d:
        for k, n in (("iLAT", 180), ("iLON", 360), ("iMONTH", 12)):
            d.createDimension(k, n)
        d.createVariable("lat", "f4", ("iLAT",))[:] = np.arange(-89.5, 90, 1.0)
        d.createVariable("lon", "f4", ("iLON",))[:] = np.arange(-179.5, 180, 1.0)
        d.createVariable("month", "f4", ("iMONTH",))[:] = np.arange(1, 13)
        for name, base in (("mld_da_mean", 40.0), ("mld_dt_mean", 45.0)):
            v = d.createVariable(name, "f4", ("iMONTH", "iLAT", "iLON"))
            v.units = "m"
            v[:] = (base + np.arange(12))[:, None, None] * np.ones((12, 180, 360))
    build(["--elevation", etopo, "--temperature", *woa, "--mld", holte, "-o", tmp_path / "holte"])
    np.testing.assert_allclose(grids(tmp_path / "holte", "mix", 2), 41.0, rtol=1e-6)
    build(["--elevation", etopo, "--temperature", *woa, "--mld", holte, "--mld-variable", "mld_dt_mean",
           "-o", tmp_path / "holte_dt"])
    np.testing.assert_allclose(grids(tmp_path / "holte_dt", "mix", 2), 46.0, rtol=1e-6)
    m_an = []
    for m in range(1, 13):
        path = tmp_path / f"woa18_A5B7_M02{m:02d}.nc"
        path = tmp_path / f"woa18_A5B7_M{m:02d}01.nc"
        with netCDF4.Dataset(path, "w") as d:
            for k, n in (("time", 1), ("depth", 1), ("lat", 180), ("lon", 360)):
                d.createDimension(k, n)
            d.createVariable("depth", "f4", ("depth",))[:] = 0.0
            d.variables["depth"].units = "meters"
            d.variables["depth"].positive = "down"
            d.createVariable("lat", "f4", ("lat",))[:] = np.arange(-89.5, 90, 1.0)
            d.createVariable("lon", "f4", ("lon",))[:] = np.arange(-179.5, 180, 1.0)
            v = d.createVariable("M_an", "f4", ("time", "depth", "lat", "lon"), fill_value=FILL)
            v.units = "meters"
            v[:] = 70.0 + m
        m_an.append(path)
    build(["--elevation", etopo, "--temperature", *woa, "--mld", *m_an, "-o", tmp_path / "m_an"])
    np.testing.assert_allclose(grids(tmp_path / "m_an", "mix", 11), 81.0, rtol=1e-6)


BAD = {
    "a file of another kind": ("elevation_is_woa", "no elevation variable"),
    "a month missing": ("month_missing", "lacks month(s) 4"),
    "a month given twice": ("month_twice", "month 3 of the temperature is given twice"),
    "no units": ("no_units", "has no units (expected degrees_celsius or K)"),
    "wrong units": ("wrong_units", "units 'psu' are not a temperature"),
    "depths without units": ("depth_no_units", "have no units (expected m or cm)"),
    "depths without a direction": ("depth_no_direction", "do not say which way they count"),
    "not the globe": ("not_global", "does not cover the globe: missing latitudes -90..-60"),
    "curvilinear": ("curvilinear", "curvilinear"),
    "a gap in a column": ("gap", "has a level with a value below one without"),
    "truncated": ("truncated", "not a readable NetCDF file"),
    "annual WOA": ("annual", "annual or seasonal"),
}


@pytest.fixture(scope="module")
def bad_inputs(tmp_path_factory, woa):
    root = tmp_path_factory.mktemp("bad")
    etopo = write_etopo(root / "etopo.nc", step=2.0)
    cases = {}
    cases["elevation_is_woa"] = (woa[0], woa)
    cases["month_missing"] = (etopo, [p for p in woa if "_t04_" not in p.name])
    (root / "twice").mkdir()
    twice = write_woa(root / "twice", months=[3], name="woa18_decav_t{:02d}_01.nc")
    cases["month_twice"] = (etopo, woa + twice)
    for key, kw in (("no_units", {"units": None}), ("wrong_units", {"units": "psu"}),
                    ("depth_no_units", {"depth_attrs": {"positive": "down"}}),
                    ("depth_no_direction", {"depth_attrs": {"units": "m"}}),
                    ("not_global", {"lat": np.arange(-59.5, 90, 1.0)})):
        (root / key).mkdir()
        cases[key] = (etopo, write_woa(root / key, **kw))
    (root / "gap").mkdir()

    def gappy(m):
        t = np.broadcast_to(profile(30, 0.05)[:, None, None], (len(DEPTHS), 180, 360)).copy()
        if m == 5:
            t[3, 110, 119] = np.nan  # 20.5 N, 60.5 W
        return t
    cases["gap"] = (etopo, write_woa(root / "gap", t=gappy))
    curvilinear = root / "curvilinear.nc"
    with netCDF4.Dataset(curvilinear, "w") as d:
        for k, n in (("time", 12), ("lev", 3), ("j", 10), ("i", 20)):
            d.createDimension(k, n)
        d.createVariable("lev", "f4", ("lev",))[:] = [5, 15, 25]
        d.variables["lev"].units = "m"
        d.variables["lev"].positive = "down"
        d.createVariable("latitude", "f4", ("j", "i"))[:] = 0.0
        d.createVariable("longitude", "f4", ("j", "i"))[:] = 0.0
        v = d.createVariable("thetao", "f4", ("time", "lev", "j", "i"))
        v.units = "degC"
        v.coordinates = "latitude longitude"
    cases["curvilinear"] = (etopo, [curvilinear])
    truncated = root / "woa23_decav91C0_t06_01.nc"
    truncated.write_bytes(woa[5].read_bytes()[:5000])
    cases["truncated"] = (etopo, [p for p in woa if "_t06_" not in p.name] + [truncated])
    (root / "annual").mkdir()
    cases["annual"] = (etopo, write_woa(root / "annual", months=[0]) + woa[1:])
    return root, cases


@pytest.mark.parametrize("what", sorted(BAD))
def test_bad_input_is_named_with_the_file_and_what_was_expected_by_both_interfaces(what, bad_inputs, tmp_path):
    root, cases = bad_inputs
    key, expected = BAD[what]
    elevation, temperature = cases[key]
    r = build(["--elevation", elevation, "--temperature", *temperature, "-o", tmp_path / "data"], expect_ok=False)
    assert r.returncode == 2, r.stdout
    assert expected in r.stderr, r.stderr
    assert r.stderr.splitlines()[-1].startswith("tarvo-grids: /"), r.stderr  # the file, first
    with pytest.raises(tarvo.InputError, match=expected.replace("(", r"\(").replace(")", r"\)").replace(".", r"\.")) as e:
        tarvo.build_grids(elevation=elevation, temperature=temperature, output=tmp_path / "data")
    assert e.value.path and os.path.isabs(e.value.path)
    assert not (tmp_path / "data").exists()
    assert not any(".tmp" in p.name for p in tmp_path.iterdir())


def test_python_takes_paths_and_numbers_by_keyword(tmp_path, woa):
    with pytest.raises(TypeError):
        tarvo.build_grids("etopo.nc", woa, tmp_path / "data")  # noqa: keyword-only
    with pytest.raises(TypeError, match="strat_depth is a number"):
        tarvo.build_grids(elevation="e.nc", temperature=woa, output=tmp_path / "d", strat_depth="100")
    with pytest.raises(TypeError, match="temperature holds paths"):
        tarvo.build_grids(elevation="e.nc", temperature=[1, 2], output=tmp_path / "d")
