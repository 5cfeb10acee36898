"""Catalogs: CF-NetCDF files written and read back exactly, forecast into
CLIMADA's names, and every fault of a bad catalog named."""

import numpy as np
import pytest
import xarray as xr

import tarvo


@pytest.fixture(scope="module")
def catalog(cases, tmp_path_factory):
    path = tmp_path_factory.mktemp("catalog") / "tracks.nc"
    tracks = [tarvo.read_track(c / "track.in") for c in cases]
    params = [tarvo.read_params(c / "params.in") for c in cases]
    tarvo.write_catalog(tracks, params, path, year=2001)
    return path, tracks, params


def test_written_catalog_reads_back_exactly(catalog, cases):
    path, tracks, params = catalog
    back, back_params = tarvo.read_catalog(path)
    assert [t.name for t in back] == [c.name for c in cases]  # sid: the case directory's name
    for a, b, p, q in zip(tracks, back, params, back_params):
        assert (a.basin, a.month, a.day, a.hour) == (b.basin, b.month, b.day, b.hour)
        for k in ("hours", "lat", "lon", "vmax_kt", "vpot", "shear", "t600", "rh600"):
            assert getattr(a, k).tobytes() == getattr(b, k).tobytes(), k
        assert p == q


def test_plain_xarray_opens_the_catalog(catalog):
    path, tracks, _ = catalog
    ds = xr.open_dataset(path)
    assert ds.attrs["featureType"] == "trajectory" and ds.attrs["Conventions"] == "CF-1.8"
    assert ds.sid.attrs["cf_role"] == "trajectory_id"
    assert np.issubdtype(ds.time.dtype, np.datetime64) and np.issubdtype(ds.reference_time.dtype, np.datetime64)
    shortest = int(np.argmin([len(t) for t in tracks]))
    assert np.isnat(ds.time.values[shortest, -1]) and np.isnan(ds.lat.values[shortest, -1])
    assert ds.vmax_obs.attrs["units"] == "knot" and ds.rh600.attrs["units"] == "percent"


def test_forecast_catalog_has_climadas_names_and_tarvos_values(catalog, grids, cases):
    path, tracks, params = catalog
    out = tarvo.forecast_catalog(path, grids, threads=2, progress=False)
    assert dict(out.sizes) == {"storm": len(tracks), "step": max(len(f.time) for f in
                                                               tarvo.forecast_many(tracks, params, grids, progress=False))}
    units = {"max_sustained_wind": "knot", "central_pressure": "hPa", "environmental_pressure": "hPa",
             "radius_max_wind": "nautical_mile", "time_step": "h", "lat": "degrees_north", "lon": "degrees_east"}
    for k, u in units.items():
        assert out[k].attrs["units"] == u and out[k].dims == ("storm", "step"), k
    saved = path.parent / "forecasts.nc"
    out.to_netcdf(saved)
    raw = xr.open_dataset(saved, decode_coords=False, decode_times=False)
    for k in ("max_sustained_wind", "central_pressure", "radius_max_wind", "basin"):
        assert raw[k].attrs["coordinates"] == "time lat lon", k
    assert raw.time.attrs["units"].startswith("hours since 1970-01-01")  # xarray writes the midnight short
    assert np.isnan(raw.max_sustained_wind.values).any()  # the padding of shorter storms
    for i, (t, p) in enumerate(zip(tracks, params)):
        one = tarvo.forecast(t, p, grids)
        m = one.sizes["time"]
        np.testing.assert_array_equal(out.max_sustained_wind.values[i, :m], one.vmax.values)
        np.testing.assert_array_equal(out.central_pressure.values[i, :m], one.pmin.values)
        np.testing.assert_array_equal(out.radius_max_wind.values[i, :m], one.rmw.values / np.float32(1.852))
        assert np.isnan(out.max_sustained_wind.values[i, m:]).all()
        assert out.status.values[i] == "finished"
        assert out.category.values[i] == tarvo.category_of(float(one.vmax.max()))
    storms = tarvo.to_climada(out)
    assert len(storms) == len(tracks)
    s = storms[0]
    assert set(s.data_vars) == {"time_step", "radius_max_wind", "max_sustained_wind", "central_pressure",
                                "environmental_pressure", "basin"}
    assert set(s.coords) == {"time", "lat", "lon"} and s.dims == {"time": s.sizes["time"]}
    assert s.attrs["max_sustained_wind_unit"] == "kn" and s.attrs["central_pressure_unit"] == "mb"
    assert isinstance(s.attrs["orig_event_flag"], int) and isinstance(s.attrs["category"], int)
    assert (s.environmental_pressure == 1005.0).all() and (s.time_step == 2.0).all()


def test_categories():
    assert [tarvo.category_of(v) for v in (20, 34, 63.9, 64, 83, 96, 113, 137, 200, float("nan"))] == \
        [-1, 0, 0, 1, 2, 3, 4, 5, 5, -1]


def broken(catalog, tmp_path, change):
    path, _, _ = catalog
    ds = xr.open_dataset(path, decode_times=False).load()
    change(ds)
    out = tmp_path / "bad.nc"
    ds.to_netcdf(out)
    return out


@pytest.mark.parametrize("change, words", [
    (lambda ds: ds.__delitem__("vpot"), "variable vpot is missing"),
    (lambda ds: ds["vmax_obs"].attrs.update(units="m s-1"), "variable vmax_obs has units 'm s-1', expected 'knot'"),
    (lambda ds: ds.lat.values.__setitem__((1, 2), np.nan), r"storm 1 \(case42\): variable lat is NaN"),
    (lambda ds: ds.time.values.__setitem__((0, 1), ds.time.values[0, 1] + 0.5), "storm 0 .*not on whole hours"),
    (lambda ds: ds.time.values.__setitem__((0, 2), ds.time.values[0, 1]), "storm 0 .*does not increase"),
    (lambda ds: ds.time.values.__setitem__((2, 3), np.nan), r"storm 2 \(case43\): variable time has a gap"),
    (lambda ds: ds.sid.values.__setitem__(3, "case41"), "storm 3 .*the same sid as storm 0"),
    (lambda ds: ds.sid.values.__setitem__(1, "../evil"), "not safe as a file name"),
    (lambda ds: ds.time.values.__setitem__((0, 1), ds.time.values[0, 0] + 2000), "storm 0 .*does not increase|lasts"),
    (lambda ds: ds.__setitem__("vpot", ds.vpot.isel(step=0)), r"variable vpot has the wrong dimensions \(expected storm, step\)"),
    (lambda ds: ds.__setitem__("sid", ("storm", np.arange(ds.sizes["storm"]))), "variable sid is of the wrong type"),
    (lambda ds: ds.__setitem__("t600", ds.t600.astype(np.int32)), "variable t600 is of the wrong type"),
    (lambda ds: ds.attrs.__setitem__("featureType", "point"), "not a trajectory catalog"),
])
def test_bad_catalogs_name_the_variable_and_the_storm(catalog, tmp_path, change, words):
    with pytest.raises(tarvo.InputError, match=words) as e:
        tarvo.read_catalog(broken(catalog, tmp_path, change))
    assert e.value.path.endswith("bad.nc")


def test_times_in_other_cf_units_read_as_tarvos_own(catalog, tmp_path):
    """Another tool's catalog: days since another date as reals, minutes as
    integers, the calendar named; the same tracks. A calendar of no leap days
    is refused: a track's times are real dates."""
    path, tracks, _ = catalog
    raw = xr.open_dataset(path, decode_times=False).load()
    hours, ref = raw.time.values, raw.reference_time.values
    for units, scale, offset in (("days since 2000-01-01", 24.0, 262968.0),
                                 ("minutes since 1970-01-01T00:00:00Z", 1 / 60.0, 0.0)):
        ds = raw.copy(deep=True)
        ds["time"] = (("storm", "step"), (hours - offset) / scale, {"units": units, "calendar": "proleptic_gregorian"})
        ds["reference_time"] = ("storm", (ref - offset) / scale, {"units": units})
        other = tmp_path / "other.nc"
        ds.to_netcdf(other)
        back, _ = tarvo.read_catalog(other)
        for a, b in zip(tracks, back):
            assert (a.month, a.day, a.hour) == (b.month, b.day, b.hour) and a.hours.tobytes() == b.hours.tobytes()
    ds = raw.copy(deep=True)
    ds.time.attrs["calendar"] = "noleap"
    ds.to_netcdf(tmp_path / "noleap.nc")
    with pytest.raises(tarvo.InputError, match="variable time: the calendar 'noleap' is not the real one"):
        tarvo.read_catalog(tmp_path / "noleap.nc")
    ds = raw.copy(deep=True)
    ds.time.attrs["units"] = "fortnights since 2000-01-01"
    ds.to_netcdf(tmp_path / "fortnights.nc")
    with pytest.raises(tarvo.InputError, match="variable time: .*fortnights"):
        tarvo.read_catalog(tmp_path / "fortnights.nc")


def test_long_tracks_and_broken_files(catalog, tmp_path, cases):
    path, _, _ = catalog
    ds = xr.open_dataset(path, decode_times=False).load()
    steps = ds.sizes["step"]
    ds = ds.pad(step=(0, 202 - steps))
    ds = ds.assign_coords(step=np.arange(202, dtype=np.int32))
    for k in ("lat", "lon", "vmax_obs", "vpot", "shear", "t600", "rh600"):
        ds[k].values[0, :] = ds[k].values[0, 0]
    ds.time.values[0, :] = ds.time.values[0, 0] + np.arange(202)
    ds.to_netcdf(tmp_path / "long.nc")
    with pytest.raises(tarvo.InputError, match=r"storm 0 \(case41\): 202 fixes; at most 200"):
        tarvo.read_catalog(tmp_path / "long.nc")
    ds.time.values[0, :] = ds.time.values[0, 0] + 7 * np.arange(202)
    ds.to_netcdf(tmp_path / "long2.nc")
    with pytest.raises(tarvo.InputError, match=r"storm 0 \(case41\): 202 fixes"):
        tarvo.read_catalog(tmp_path / "long2.nc")
    path, _, _ = catalog
    data = path.read_bytes()
    (tmp_path / "cut.nc").write_bytes(data[: len(data) // 2])
    with pytest.raises(tarvo.InputError, match="cut.nc"):
        tarvo.read_catalog(tmp_path / "cut.nc")
    (tmp_path / "text.nc").write_text("not a catalog\n")
    with pytest.raises(tarvo.InputError, match="not a readable NetCDF"):
        tarvo.read_catalog(tmp_path / "text.nc")
    with pytest.raises(tarvo.InputError, match="no such file"):
        tarvo.read_catalog(tmp_path / "missing.nc")
    t = tarvo.read_track(cases[0] / "track.in")
    with pytest.raises(tarvo.InputError, match="the same sid"):
        tarvo.write_catalog([t, t], tarvo.Params(), tmp_path / "dup.nc", sids=["a", "a"])
    assert not (tmp_path / "dup.nc").exists()


def run_batch(*args):
    import subprocess
    from conftest import BUILD
    return subprocess.run([str(BUILD / "tarvo-batch"), *map(str, args)], capture_output=True, text=True)


def test_tarvo_batch_catalog_gives_the_python_values(catalog, grids, world, tmp_path):
    path, tracks, _ = catalog
    out = tmp_path / "forecasts.nc"
    r = run_batch("-j", 2, "--data", world / "world" / "data", "--catalog", path, "--out", out)
    assert r.returncode == 0, r.stderr
    assert f"{len(tracks)} storms: {len(tracks)} finished" in r.stdout
    expected = tarvo.forecast_catalog(path, grids, progress=False)
    with xr.open_dataset(out) as got:
        assert dict(got.sizes) == dict(expected.sizes)
        for k in ("max_sustained_wind", "central_pressure", "radius_max_wind", "environmental_pressure",
                  "time_step", "lat", "lon"):
            np.testing.assert_array_equal(got[k].values, expected[k].values, err_msg=k)
            assert got[k].attrs["units"] == expected[k].attrs["units"]
        np.testing.assert_array_equal(got.time.values, expected.time.values)
        for k in ("sid", "name", "status", "category", "orig_event_flag", "id_no", "basin"):
            assert got[k].values.tolist() == expected[k].values.tolist(), k
    raw = xr.open_dataset(out, decode_coords=False, decode_times=False)
    assert raw.time.attrs["units"] == "hours since 1970-01-01 00:00:00"
    assert raw.max_sustained_wind.attrs["coordinates"] == "time lat lon"
    assert raw.attrs["featureType"] == "trajectory" and raw.sid.attrs["cf_role"] == "trajectory_id"
    # Shares: each its own storms, together the whole.
    parts = []
    for k in range(2):
        part = tmp_path / f"part{k}.nc"
        assert run_batch("--data", world / "world" / "data", "--shard", f"{k}/2", "--catalog", path,
                         "--out", part).returncode == 0
        with xr.open_dataset(part) as p:
            parts.append(p.load())
    assert sum(p.sizes["storm"] for p in parts) == len(tracks)
    assert [s for p in parts for s in p.sid.values.tolist()] == expected.sid.values.tolist()
    assert [i for p in parts for i in p.storm.values.tolist()] == list(range(len(tracks)))


def test_tarvo_batch_catalog_errors(catalog, world, tmp_path):
    path, _, _ = catalog
    data = world / "world" / "data"
    bad = broken(catalog, tmp_path, lambda ds: ds["vmax_obs"].attrs.update(units="m s-1"))
    r = run_batch("--data", data, "--catalog", bad, "--out", tmp_path / "x.nc")
    assert r.returncode == 2 and "bad.nc: variable vmax_obs has units 'm s-1', expected 'knot'" in r.stderr
    assert not (tmp_path / "x.nc").exists() and not list(tmp_path.glob("x.nc.tmp*"))
    bad = broken(catalog, tmp_path, lambda ds: ds.lat.values.__setitem__((1, 2), np.nan))
    r = run_batch("--data", data, "--catalog", bad, "--out", tmp_path / "x.nc")
    assert r.returncode == 2 and "storm 1 (case42): variable lat is NaN among the fixes" in r.stderr
    (tmp_path / "text.nc").write_text("not NetCDF\n")
    r = run_batch("--data", data, "--catalog", tmp_path / "text.nc", "--out", tmp_path / "x.nc")
    assert r.returncode == 2 and "text.nc: not a readable NetCDF catalog" in r.stderr
    whole = path.read_bytes()
    (tmp_path / "cut.nc").write_bytes(whole[: len(whole) // 2])
    r = run_batch("--data", data, "--catalog", tmp_path / "cut.nc", "--out", tmp_path / "x.nc")
    assert r.returncode == 2 and "cut.nc: not a readable NetCDF catalog" in r.stderr, r.stderr
    r = run_batch("--catalog", path, "--out", tmp_path / "x.nc")
    assert r.returncode == 2 and "needs --out OUT.nc and --data DIR" in r.stderr
    # A storm the grids cannot take fails alone, recorded in its status.
    polar = broken(catalog, tmp_path, lambda ds: ds.lat.values.__setitem__(
        (0, slice(None)), np.where(np.isnan(ds.lat.values[0]), np.nan, 89.9)))
    r = run_batch("--data", data, "--catalog", polar, "--out", tmp_path / "polar.nc")
    assert r.returncode == 2 and "failed  case41:" in r.stdout
    with xr.open_dataset(tmp_path / "polar.nc") as out:
        assert out.status.values[0].startswith("failed: ") and "outside the ocean grids" in out.status.values[0]
        assert np.isnan(out.max_sustained_wind.values[0]).all()
        assert out.status.values[1] == "finished"


def test_resume_after_sigkill_finishes_only_the_rest(cases, world, tmp_path):
    import signal
    import subprocess
    import time
    from conftest import BUILD, same_but_history
    tracks = [tarvo.read_track(c / "track.in") for c in cases] * 6
    path = tmp_path / "tracks.nc"
    tarvo.write_catalog(tracks, tarvo.Params(), path, sids=[f"s{i:02d}" for i in range(len(tracks))])
    args = ["-j", 1, "--chunk", 2, "--data", world / "world" / "data", "--catalog", path]
    whole = tmp_path / "whole.nc"
    assert run_batch(*args, "--out", whole).returncode == 0
    out, parts = tmp_path / "out.nc", tmp_path / "out.nc.parts"
    job = subprocess.Popen([str(BUILD / "tarvo-batch"), *map(str, args), "--out", str(out)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    while len(list(parts.glob("chunk-*.nc"))) < 3 and job.poll() is None and time.monotonic() < deadline:
        time.sleep(0.01)
    job.send_signal(signal.SIGKILL)
    job.wait()
    kept = len(list(parts.glob("chunk-*.nc")))
    assert 3 <= kept < len(tracks) // 2 and not out.exists()
    r = run_batch(*args, "--out", out)
    assert r.returncode == 2 and "out.nc.parts: holds the finished chunks of an earlier run" in r.stderr
    assert "--resume" in r.stderr
    r = run_batch(*args, "--out", out, "--resume")
    assert r.returncode == 0, r.stderr
    assert "24 storms: 24 finished, 0 stopped early, 0 failed" in r.stdout
    assert f"{2 * kept} storms kept from the run before" in r.stdout
    assert same_but_history(out, whole)  # every value and attribute but when and by what it was made
    assert not parts.exists()
    # A file in the folder that is not this catalog's chunk is not taken for one: it is set
    # aside beside the output and its storms are forecast again.
    parts.mkdir()
    (parts / "chunk-000000000.nc").write_bytes(whole.read_bytes())
    out.unlink()
    r = run_batch(*args, "--out", out, "--resume")
    assert r.returncode == 0, r.stderr
    aside = tmp_path / "out.nc.chunk-000000000.nc.damaged"
    assert f"set aside  {aside}: its storms are not storms 0 to 1 of {path}" in r.stdout, r.stdout
    assert "1 parts of the run before could not be taken up" in r.stdout
    assert aside.read_bytes() == whole.read_bytes()
    assert same_but_history(out, whole)


def test_a_catalog_beyond_one_reading_of_the_file(cases, tmp_path):
    """More storms than the reader takes before it opens its file again: every
    storm read back, and a storm id repeated across that boundary still found."""
    t = tarvo.read_track(cases[0] / "track.in")
    short = tarvo.Track(t.basin, t.month, t.day, t.hour, t.hours[:3], t.lat[:3], t.lon[:3], t.vmax_kt[:3],
                        t.vpot[:3], t.shear[:3], t.t600[:3], t.rh600[:3])
    n = 4100
    sids = [f"s{i:05d}" for i in range(n)]
    path = tmp_path / "many.nc"
    tarvo.write_catalog([short] * n, tarvo.Params(), path, year=2001, sids=sids)
    back, _ = tarvo.read_catalog(path)
    assert [b.name for b in back] == sids
    assert back[-1].lat.tobytes() == short.lat.tobytes()
    ds = xr.open_dataset(path, decode_times=False).load()
    ds.sid.values[4099] = "s00002"
    ds.to_netcdf(tmp_path / "dup.nc")
    with pytest.raises(tarvo.InputError, match=r"storm 4099 .*the same sid as storm 2"):
        tarvo.read_catalog(tmp_path / "dup.nc")
