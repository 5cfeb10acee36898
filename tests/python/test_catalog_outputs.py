"""tarvo-batch --climada and --atcf: one CLIMADA track file and one ATCF
a-deck per storm, with exactly the names, units and columns their readers
expect, and the values of the forecast file."""

import subprocess

import numpy as np
import pytest
import xarray as xr

import tarvo
from conftest import BUILD

CLIMADA_VARIABLES = {"time_step": "h", "radius_max_wind": "nautical_mile", "max_sustained_wind": "knot",
                     "central_pressure": "hPa", "environmental_pressure": "hPa"}
CLIMADA_ATTRIBUTES = {"max_sustained_wind_unit", "central_pressure_unit", "name", "sid", "orig_event_flag",
                      "data_provider", "id_no", "category", "status"}


def run_batch(*args):
    return subprocess.run([str(BUILD / "tarvo-batch"), *map(str, args)], capture_output=True, text=True)


@pytest.fixture(scope="module")
def outputs(cases, world, tmp_path_factory):
    root = tmp_path_factory.mktemp("outputs")
    tracks = [tarvo.read_track(c / "track.in") for c in cases]
    params = [tarvo.read_params(c / "params.in") for c in cases]
    path = root / "tracks.nc"
    tarvo.write_catalog(tracks, params, path, year=2005, cyclone_numbers=[3, 4, 12, 5])
    r = run_batch("--data", world / "world" / "data", "--catalog", path, "--out", root / "forecasts.nc",
                  "--climada", root / "climada", "--atcf", root / "atcf")
    assert r.returncode == 0, r.stderr
    return root, tracks


def test_forecast_file_has_exactly_the_catalog_schema(outputs):
    root, tracks = outputs
    raw = xr.open_dataset(root / "forecasts.nc", decode_times=False, decode_coords=False)
    per_sample = {"time": "hours since 1970-01-01 00:00:00", "lat": "degrees_north", "lon": "degrees_east",
                  "max_sustained_wind": "knot", "central_pressure": "hPa", "environmental_pressure": "hPa",
                  "radius_max_wind": "nautical_mile", "time_step": "h", "basin": None}
    per_storm = {"storm", "sid", "name", "data_provider", "orig_event_flag", "id_no", "category",
                 "max_sustained_wind_unit", "central_pressure_unit", "status"}
    assert set(raw.variables) == set(per_sample) | per_storm | {"step"}
    assert dict(raw.sizes) == {"storm": len(tracks), "step": raw.sizes["step"]}
    for k, u in per_sample.items():
        assert raw[k].dims == ("storm", "step") and raw[k].attrs.get("units") == u, k
        assert raw[k].attrs.get("coordinates") == (None if k in ("time", "lat", "lon") else "time lat lon"), k
    for k in per_storm:
        assert raw[k].dims == ("storm",), k
    assert raw.orig_event_flag.dtype == np.int8 and raw.category.dtype == np.int8
    assert raw.sid.attrs["cf_role"] == "trajectory_id" and raw.time.attrs["calendar"] == "standard"
    assert raw.attrs["featureType"] == "trajectory" and raw.attrs["Conventions"] == "CF-1.8"
    assert raw.attrs["catalog_storms"] == len(tracks)
    assert set(raw.data_provider.values) == {"tarvo"} and set(raw.max_sustained_wind_unit.values) == {"kn"}
    assert set(raw.central_pressure_unit.values) == {"mb"}
    assert np.isnan(raw.time.values[np.isnan(raw.max_sustained_wind.values)]).all()  # padding NaN everywhere


def test_climada_files_have_climadas_schema_and_the_catalog_values(outputs, cases):
    root, _ = outputs
    assert sorted(p.name for p in (root / "climada").iterdir()) == [f"{c.name}.nc" for c in cases]
    with xr.open_dataset(root / "forecasts.nc") as catalog:
        catalog.load()
    expected = tarvo.to_climada(catalog)
    for i, case in enumerate(cases):
        raw = xr.open_dataset(root / "climada" / f"{case.name}.nc", decode_times=False)
        assert set(raw.dims) == {"time"}
        assert set(raw.data_vars) == set(CLIMADA_VARIABLES) | {"basin"}
        assert set(raw.coords) == {"time", "lat", "lon"}
        for k, u in CLIMADA_VARIABLES.items():
            assert raw[k].attrs["units"] == u and raw[k].dims == ("time",), k
        assert raw.time.attrs["units"] == "hours since 1970-01-01 00:00:00"
        assert raw.lat.attrs["units"] == "degrees_north" and raw.lon.attrs["units"] == "degrees_east"
        assert set(raw.attrs) == CLIMADA_ATTRIBUTES
        assert isinstance(raw.attrs["orig_event_flag"], (int, np.integer)) and raw.attrs["orig_event_flag"] == 0
        assert isinstance(raw.attrs["category"], (int, np.integer))
        assert raw.attrs["max_sustained_wind_unit"] == "kn" and raw.attrs["central_pressure_unit"] == "mb"
        assert raw.attrs["data_provider"] == "tarvo" and raw.attrs["id_no"] == i + 1
        one = xr.open_dataset(root / "climada" / f"{case.name}.nc")
        assert one.identical(expected[i]), case.name  # what to_climada gives from the catalog
        m = one.sizes["time"]
        np.testing.assert_array_equal(one.max_sustained_wind.values, catalog.max_sustained_wind.values[i, :m])
        assert one.basin.values.tolist() == ["al"] * m


def test_atcf_adecks_have_the_columns_of_the_centres(outputs, cases):
    root, tracks = outputs
    names = sorted(p.name for p in (root / "atcf").iterdir())
    assert names == ["aal032005.dat", "aal042005.dat", "aal052005.dat", "aal122005.dat"]
    with xr.open_dataset(root / "forecasts.nc") as catalog:
        catalog.load()
    for i, number in enumerate([3, 4, 12, 5]):
        lines = (root / "atcf" / f"aal{number:02d}2005.dat").read_text().splitlines()
        track = tracks[i]
        start = int(track.hours[track.hours <= 0][-1])  # the start record
        first = int(track.hours[0])
        skip = (start - first + 1) // 2  # samples before the start record
        m = int(np.isfinite(catalog.max_sustained_wind.values[i]).sum())
        assert len(lines) == m - skip and lines[0].split(", ")[5] == f"{(start - first) % 2:3d}"
        start_time = np.datetime64(f"2005-{track.month:02d}-{track.day:02d}T{track.hour:02d}") + np.timedelta64(start, "h")
        for k, line in enumerate(lines):
            f = line.split(", ")
            assert len(f) == 20 and [len(x) for x in f] == [2, 2, 10, 2, 4, 3, 4, 5, 3, 4, 2, 3, 3, 4, 4, 4, 4, 4, 4, 3]
            assert f[0] == "AL" and f[1] == f"{number:02d}" and f[3] == "03" and f[4] == "TRVO"
            assert f[2] == str(start_time).replace("-", "").replace("T", "")[:10]
            assert int(f[5]) == first + 2 * (skip + k) - start  # 0, 2, 4, ... from an even offset
            j = skip + k
            lat, lon = catalog.lat.values[i, j], catalog.lon.values[i, j]
            assert f[6] == f"{round(abs(float(lat)) * 10):3d}{'N' if lat >= 0 else 'S'}"
            west = 360.0 - float(lon) if lon > 180 else -float(lon)
            assert f[7] == f"{round(abs(west) * 10):4d}{'W' if west > 0 else 'E'}"
            assert int(f[8]) == round(float(catalog.max_sustained_wind.values[i, j]))
            assert int(f[9]) == round(float(catalog.central_pressure.values[i, j]))
            assert int(f[19]) == round(float(catalog.radius_max_wind.values[i, j]))


def test_atcf_needs_cyclone_numbers(cases, world, tmp_path):
    tracks = [tarvo.read_track(c / "track.in") for c in cases[:2]]
    path = tmp_path / "unnumbered.nc"
    tarvo.write_catalog(tracks, tarvo.Params(), path)
    r = run_batch("--data", world / "world" / "data", "--catalog", path, "--out", tmp_path / "f.nc",
                  "--atcf", tmp_path / "atcf")
    assert r.returncode == 2 and "storm 0 (case41): --atcf needs a two-letter basin and a cyclone_number" in r.stderr
    tarvo.write_catalog(tracks, tarvo.Params(), path, cyclone_numbers=[7, 7])
    r = run_batch("--data", world / "world" / "data", "--catalog", path, "--out", tmp_path / "f.nc",
                  "--atcf", tmp_path / "atcf")
    assert r.returncode == 2 and "its a-deck aal072001.dat would replace that of storm 0 (case41)" in r.stderr
    assert not (tmp_path / "f.nc").exists() and not (tmp_path / "atcf").exists()
