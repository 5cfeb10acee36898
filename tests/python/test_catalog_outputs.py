"""The files made from forecasts for the tools tarvo is paired with: the
forecast file's own items (start, lead times, provenance), CLIMADA's track
files and one-file form with CLIMADA's conventions, and ATCF a-decks read
back by ATCF's fixed columns, every forecast of a storm in its one file."""

import datetime
import re
import subprocess

import netCDF4
import numpy as np
import pytest
import xarray as xr

import tarvo
from conftest import BUILD

CLIMADA_VARIABLES = {"time_step": "h", "radius_max_wind": "nautical_mile", "max_sustained_wind": "knot",
                     "central_pressure": "hPa", "environmental_pressure": "hPa"}
CLIMADA_ATTRIBUTES = {"max_sustained_wind_unit", "central_pressure_unit", "name", "sid", "orig_event_flag",
                      "data_provider", "id_no", "category", "status", "tarvo_basin"}
# ATCF's fixed columns (1-based, inclusive) of the common fields up to EYE.
ATCF_COLUMNS = {"basin": (1, 2), "cy": (5, 6), "dtg": (9, 18), "technum": (21, 22), "tech": (25, 28),
                "tau": (31, 33), "lat": (36, 39), "lon": (42, 46), "vmax": (49, 51), "mslp": (54, 57),
                "ty": (60, 61), "rad": (64, 66), "windcode": (69, 71), "rad1": (74, 77), "rad2": (80, 83),
                "rad3": (86, 89), "rad4": (92, 95), "radp": (98, 101), "rrp": (104, 107), "mrd": (110, 112),
                "gusts": (115, 117), "eye": (120, 122)}


def run_batch(*args):
    return subprocess.run([str(BUILD / "tarvo-batch"), *map(str, args)], capture_output=True, text=True)


def run_catalog(*args):
    return subprocess.run([str(BUILD / "tarvo-catalog"), *map(str, args)], capture_output=True, text=True)


def atcf_fields(line):
    """An a-deck line read by ATCF's fixed columns, the separators checked."""
    fields = {k: line[a - 1:b] for k, (a, b) in ATCF_COLUMNS.items()}
    spans = sorted(ATCF_COLUMNS.values())
    for (_, end), (start, _) in zip(spans, spans[1:]):
        assert line[end:start - 1] == ", ", (line, end)
    assert line[122:] == ",", line  # ATCF ends the line with a comma after EYE
    return {k: v.strip() for k, v in fields.items()}


def latlon(lat, lon):
    """ATCF's tenths of a degree with hemisphere, from degrees north and east."""
    west = -(((float(lon) + 180.0) % 360.0) - 180.0)
    return (f"{round(abs(float(lat)) * 10)}{'N' if lat >= 0 else 'S'}",
            f"{round(abs(west) * 10)}{'W' if west > 0 else 'E'}")


def shifted(track, hours, name):
    """The same fixes with the reference time `hours` later (hindcast-like starts)."""
    ref = datetime.datetime(track.year or 2005, track.month, track.day, track.hour) + datetime.timedelta(hours=hours)
    return tarvo.Track(track.basin, ref.month, ref.day, ref.hour, track.hours - hours, track.lat, track.lon,
                       track.vmax_kt, track.vpot, track.shear, track.t600, track.rh600, name=name)


@pytest.fixture(scope="module")
def outputs(cases, world, tmp_path_factory):
    root = tmp_path_factory.mktemp("outputs")
    tracks = [tarvo.read_track(c / "track.in") for c in cases]
    params = [tarvo.read_params(c / "params.in") for c in cases]
    path = root / "tracks.nc"
    tarvo.write_catalog(tracks, params, path, year=2005, cyclone_numbers=[3, 4, 12, 5])
    r = run_batch("--data", world / "world" / "data", "--catalog", path, "--out", root / "forecasts.nc",
                  "--climada", root / "climada", "--climada-hdf5", root / "climada.nc", "--atcf", root / "atcf")
    assert r.returncode == 0, r.stderr
    return root, tracks, r


def test_forecast_file_has_exactly_the_catalog_schema(outputs):
    root, tracks, r = outputs
    raw = xr.open_dataset(root / "forecasts.nc", decode_times=False, decode_coords=False)
    per_sample = {"time": "hours since 1970-01-01 00:00:00", "lat": "degrees_north", "lon": "degrees_east",
                  "max_sustained_wind": "knot", "central_pressure": "hPa", "environmental_pressure": "hPa",
                  "radius_max_wind": "nautical_mile", "time_step": "h", "lead_time": "h", "basin": None}
    per_storm = {"storm", "sid", "name", "data_provider", "orig_event_flag", "id_no", "climada_id_no", "category",
                 "max_sustained_wind_unit", "central_pressure_unit", "status", "reference_time", "year",
                 "cyclone_number", "smooth_vobs", "smooth_dist", "smooth_f6", "nudge_gain"}
    assert set(raw.variables) == set(per_sample) | per_storm | {"step"}
    assert dict(raw.sizes) == {"storm": len(tracks), "step": raw.sizes["step"]}
    for k, u in per_sample.items():
        assert raw[k].dims == ("storm", "step") and raw[k].attrs.get("units") == u, k
        assert raw[k].attrs.get("coordinates") == (None if k in ("time", "lat", "lon") else "time lat lon"), k
    for k in per_storm:
        assert raw[k].dims == ("storm",), k
    assert raw.orig_event_flag.dtype == np.int8 and raw.category.dtype == np.int8
    assert (raw.orig_event_flag.values == 1).all()  # a model's own tracks, as CLIMADA marks those it reads
    assert raw.sid.attrs["cf_role"] == "trajectory_id" and raw.time.attrs["calendar"] == "standard"
    assert raw.attrs["featureType"] == "trajectory" and raw.attrs["Conventions"] == "CF-1.8"
    assert raw.attrs["catalog_storms"] == len(tracks)
    assert set(raw.data_provider.values) == {"tarvo"} and set(raw.max_sustained_wind_unit.values) == {"kn"}
    assert set(raw.central_pressure_unit.values) == {"mb"}
    assert np.isnan(raw.time.values[np.isnan(raw.max_sustained_wind.values)]).all()  # padding NaN everywhere
    assert raw.year.values.tolist() == [2005] * 4 and raw.cyclone_number.values.tolist() == [3, 4, 12, 5]
    # Provenance: the build, the command and when, the instruction-set path.
    assert raw.attrs["source"] == f"tarvo {tarvo.__version__}"
    assert re.match(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ: \S*tarvo-batch --data .* --atcf ", raw.attrs["history"])
    assert raw.attrs["tarvo_step_path"] in ("scalar", "sse", "avx2", "avx512")
    assert raw.nudge_gain.values.tolist() == [2.0] * 4 and raw.nudge_gain.attrs["units"] == "1"


def test_reference_time_is_the_forecast_start_and_lead_time_counts_from_it(outputs):
    root, tracks, _ = outputs
    raw = xr.open_dataset(root / "forecasts.nc", decode_times=False)
    for i, t in enumerate(tracks):
        start = int(t.hours[t.hours <= 0][-1])  # the start record: the last fix at or before 0 h
        ref = (np.datetime64(f"2005-{t.month:02d}-{t.day:02d}T{t.hour:02d}") - np.datetime64("1970-01-01T00")) \
            / np.timedelta64(1, "h") + start
        assert raw.reference_time.values[i] == ref
        m = int(np.isfinite(raw.time.values[i]).sum())
        np.testing.assert_array_equal(raw.lead_time.values[i, :m], raw.time.values[i, :m] - ref)
        assert raw.lead_time.values[i, 0] == t.hours[0] - start and 0.0 in raw.lead_time.values[i, :m]
    ds = xr.open_dataset(root / "forecasts.nc")
    assert np.issubdtype(ds.reference_time.dtype, np.datetime64) and ds.lead_time.dtype == np.float32


def test_climada_files_have_climadas_conventions_and_the_catalog_values(outputs, cases):
    root, _, _ = outputs
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
            assert raw[k].attrs["units"] == u and raw[k].dims == ("time",) and raw[k].dtype == np.float64, k
        assert raw.time.attrs["units"] == "hours since 1970-01-01 00:00:00"
        assert raw.lat.dtype == raw.lon.dtype == np.float64
        assert set(raw.attrs) == CLIMADA_ATTRIBUTES  # what made it is in its group "provenance"
        assert raw.attrs["orig_event_flag"] == 1 and isinstance(raw.attrs["category"], (int, np.integer))
        assert raw.attrs["max_sustained_wind_unit"] == "kn" and raw.attrs["central_pressure_unit"] == "mb"
        assert raw.attrs["data_provider"] == "tarvo" and raw.attrs["id_no"] == i + 1
        assert raw.attrs["tarvo_basin"] == "al" and raw.basin.values.tolist() == ["NA"] * raw.sizes["time"]
        assert (raw.lon.values >= -180).all() and (raw.lon.values <= 180).all()  # the demo world's storms: -60..-100
        with netCDF4.Dataset(root / "climada" / f"{case.name}.nc") as nc:
            p = nc.groups["provenance"]
            assert p.source == f"tarvo {tarvo.__version__}" and "tarvo-batch" in p.history
            assert p.nudge_gain == 2.0
        one = xr.open_dataset(root / "climada" / f"{case.name}.nc")
        want = expected[i]
        assert want.attrs["orig_event_flag"] is True and want.basin.dtype == np.dtype("<U2")
        for k in list(CLIMADA_VARIABLES) + ["lat", "lon", "time"]:
            np.testing.assert_array_equal(one[k].values, want[k].values, err_msg=k)
        assert one.basin.values.tolist() == want.basin.values.tolist()
        assert {k: v for k, v in one.attrs.items() if k != "orig_event_flag"} == \
            {k: v for k, v in want.attrs.items() if k != "orig_event_flag"}
        m = one.sizes["time"]
        np.testing.assert_array_equal(one.max_sustained_wind.values, catalog.max_sustained_wind.values[i, :m])


def test_climada_conventions_of_basins_and_longitudes():
    # IBTrACS's codes from tarvo's; the southern hemisphere by longitude.
    assert tarvo._core.climada_basins("al", np.float32([280.0])) == ["NA"]
    assert tarvo._core.climada_basins("cp", np.float32([200.0])) == ["EP"]
    assert tarvo._core.climada_basins("io", np.float32([88.0])) == ["NI"]
    assert tarvo._core.climada_basins("sh", np.float32([60.0, 134.9, 135.0, 200.0, 289.0])) == \
        ["SI", "SI", "SP", "SP", "SP"]
    assert tarvo._core.climada_basins("sl", np.float32([320.0])) == ["SA"]
    lon = tarvo._core.climada_longitudes(np.float32([300.0, 290.5, 359.5, 0.5, 10.0]))
    np.testing.assert_array_equal(lon, [-60.0, -69.5, -0.5, 0.5, 10.0])
    # A track that crosses 180 degrees stays continuous, in 0..360, as CLIMADA's IBTrACS reader leaves it.
    np.testing.assert_array_equal(tarvo._core.climada_longitudes(np.float32([176.0, 179.5, 180.5, 185.0])),
                                  [176.0, 179.5, 180.5, 185.0])
    np.testing.assert_array_equal(tarvo._core.climada_longitudes(np.float32([185.0, 190.0])), [-175.0, -170.0])


@pytest.fixture(scope="module")
def troubled(cases, world, tmp_path_factory):
    """A catalog of six storms, one failing (off the grids) and one stopped early."""
    root = tmp_path_factory.mktemp("troubled")
    tracks = [tarvo.read_track(c / "track.in") for c in cases]
    t = tracks[0]
    polar = tarvo.Track(t.basin, t.month, t.day, t.hour, t.hours, np.full(len(t), 89.9), t.lon, t.vmax_kt, t.vpot,
                        t.shear, t.t600, t.rh600, name="polar")
    hours = np.arange(-6, 7, 6)  # a short storm with an absurd potential intensity at its start: it stops
    absurd = tarvo.Track("al", 9, 14, 0, hours, 15.0 + 0.1 * (hours + 6) / 6, 300.0 - 0.5 * (hours + 6) / 6,
                         np.full(3, 50.0), [75.0, 1e30, 75.0], np.full(3, 5.0), np.full(3, 271.0), np.full(3, 60.0),
                         name="absurd")
    path = root / "tracks.nc"
    tarvo.write_catalog(tracks[:2] + [polar, absurd] + tracks[2:], tarvo.Params(), path, year=2005,
                        sids=["a", "b", "polar", "absurd", "c", "d"])
    r = run_batch("--data", world / "world" / "data", "--catalog", path, "--out", root / "forecasts.nc",
                  "--climada", root / "climada", "--climada-hdf5", root / "climada.nc", "--atcf", root / "atcf")
    assert r.returncode == 2  # a storm failed
    return root, r


def test_climada_hdf5_file_holds_every_storm_with_samples_and_only_those(troubled):
    root, r = troubled
    assert "2 storms without samples are left out of the CLIMADA files and a-decks" in r.stdout
    assert "polar: failed: " in r.stdout and "absurd: stopped_early at " in r.stdout
    with xr.open_dataset(root / "forecasts.nc") as own:
        assert own.sizes["storm"] == 6  # tarvo's own file keeps every storm, with its status
        assert own.status.values[2].startswith("failed: ") and own.status.values[3].startswith("stopped_early")
        own.load()
    assert sorted(p.name for p in (root / "climada").iterdir()) == ["a.nc", "b.nc", "c.nc", "d.nc"]
    raw = xr.open_dataset(root / "climada.nc", decode_times=False)
    assert raw.attrs == {}  # CLIMADA copies a file's attributes into every track
    assert raw.sid.values.tolist() == ["a", "b", "c", "d"]
    assert set(raw.dims) >= {"storm", "step"} and raw.storm.values.tolist() == [0, 1, 2, 3]
    for k, u in CLIMADA_VARIABLES.items():
        assert raw[k].dims == ("storm", "step") and raw[k].dtype == np.float64 and raw[k].attrs["units"] == u, k
    assert raw.orig_event_flag.values.tolist() == [1] * 4 and raw.tarvo_basin.values.tolist() == ["al"] * 4
    with netCDF4.Dataset(root / "climada.nc") as nc:
        assert nc.groups["provenance"].source == f"tarvo {tarvo.__version__}"
    # Each storm read back as CLIMADA's one-file reader takes it: its time steps up to its
    # first padding, at least one, the same values as the per-storm file.
    ds = xr.open_dataset(root / "climada.nc")
    for i, sid in enumerate(["a", "b", "c", "d"]):
        s = ds.isel(storm=i)
        n = int(s.time.notnull().sum())
        assert n > 0 and s.time.notnull().values[:n].all() and np.isnan(s.max_sustained_wind.values[n:]).all()
        with xr.open_dataset(root / "climada" / f"{sid}.nc") as one:
            assert one.sizes["time"] == n
            for k in list(CLIMADA_VARIABLES) + ["lat", "lon", "time"]:
                np.testing.assert_array_equal(s[k].values[:n], one[k].values, err_msg=f"{sid} {k}")
            assert s.basin.values[:n].tolist() == one.basin.values.tolist()
            for k in ("name", "category", "id_no", "status"):
                assert s[k].values.item() == one.attrs[k], k
    # to_climada leaves them out too.
    assert [d.attrs["sid"] for d in tarvo.to_climada(own)] == ["a", "b", "c", "d"]


def test_atcf_adecks_read_back_by_atcfs_fixed_columns(outputs, cases):
    root, tracks, _ = outputs
    names = sorted(p.name for p in (root / "atcf").iterdir() if not p.name.startswith("."))
    assert names == ["aal032005.dat", "aal042005.dat", "aal052005.dat", "aal122005.dat"]
    with xr.open_dataset(root / "forecasts.nc") as catalog:
        catalog.load()
    for i, number in enumerate([3, 4, 12, 5]):
        lines = (root / "atcf" / f"aal{number:02d}2005.dat").read_text().splitlines()
        track = tracks[i]
        start = int(track.hours[track.hours <= 0][-1])
        start_time = np.datetime64(f"2005-{track.month:02d}-{track.day:02d}T{track.hour:02d}") + np.timedelta64(start, "h")
        lead = catalog.lead_time.values[i]
        last = int(np.nanmax(lead))
        assert [int(atcf_fields(l)["tau"]) for l in lines] == list(range(0, min(last, 240) + 1, 6))
        for line in lines:
            f = atcf_fields(line)
            assert (f["basin"], f["cy"], f["technum"], f["tech"], f["ty"]) == ("AL", f"{number:02d}", "03", "TRVO", "XX")
            assert f["dtg"] == str(start_time).replace("-", "").replace("T", "")[:10]
            j = int(np.flatnonzero(lead == int(f["tau"]))[0])  # even offsets: a sample at every TAU
            assert (f["lat"], f["lon"]) == latlon(catalog.lat.values[i, j], catalog.lon.values[i, j])
            assert int(f["vmax"]) == round(float(catalog.max_sustained_wind.values[i, j]))
            assert int(f["mslp"]) == round(float(catalog.central_pressure.values[i, j]))
            assert int(f["mrd"]) == round(float(catalog.radius_max_wind.values[i, j]))
            assert (f["rad"], f["windcode"], f["gusts"], f["eye"]) == ("0", "", "0", "0")


def test_atcf_tau_0_and_a_regular_step_whatever_the_first_fix(cases, world, tmp_path):
    t = tarvo.read_track(cases[0] / "track.in")
    hours = np.array(t.hours)
    hours[0] -= 1  # the first fix an odd number of hours before the start: samples at odd leads
    odd = tarvo.Track(t.basin, t.month, t.day, t.hour, hours, t.lat, t.lon, t.vmax_kt, t.vpot, t.shear, t.t600,
                      t.rh600, name="odd")
    path = tmp_path / "tracks.nc"
    tarvo.write_catalog([odd], tarvo.Params(), path, year=2005, cyclone_numbers=[7])
    data = world / "world" / "data"
    for step in (6, 2):
        out = tmp_path / f"step{step}"
        r = run_batch("--data", data, "--catalog", path, "--out", out / "f.nc", "--atcf", out / "atcf",
                      "--atcf-step", step)
        assert r.returncode == 0, r.stderr
        with xr.open_dataset(out / "f.nc") as ds:
            lead, wind = ds.lead_time.values[0], ds.max_sustained_wind.values[0].astype(np.float64)
            pmin, lat = ds.central_pressure.values[0].astype(np.float64), ds.lat.values[0].astype(np.float64)
        assert (lead[np.isfinite(lead)] % 2 == 1).all()  # no sample at TAU 0 itself
        lines = (out / "atcf" / "aal072005.dat").read_text().splitlines()
        taus = [int(atcf_fields(l)["tau"]) for l in lines]
        assert taus[0] == 0 and taus == list(range(0, taus[-1] + 1, step)) and taus[-1] >= np.nanmax(lead) - step
        for line in lines:
            f = atcf_fields(line)
            k = int(np.flatnonzero(lead == int(f["tau"]) - 1)[0])  # halfway between leads TAU - 1 and TAU + 1
            assert int(f["vmax"]) == round(wind[k] + 0.5 * (wind[k + 1] - wind[k]))
            assert int(f["mslp"]) == round(pmin[k] + 0.5 * (pmin[k + 1] - pmin[k]))
            assert f["lat"] == f"{round((lat[k] + 0.5 * (lat[k + 1] - lat[k])) * 10)}N"
    # The forecast file and track.out are as they were: only the a-decks interpolate.
    with xr.open_dataset(tmp_path / "step6" / "f.nc") as a, xr.open_dataset(tmp_path / "step2" / "f.nc") as b:
        assert a.max_sustained_wind.values.tobytes() == b.max_sustained_wind.values.tobytes()


def test_atcf_taus_stop_at_240_and_say_what_was_left_out(cases, world, tmp_path):
    t = tarvo.read_track(cases[1] / "track.in")
    slow = tarvo.Track(t.basin, t.month, t.day, t.hour, t.hours * 5 // 2, t.lat, t.lon, t.vmax_kt, t.vpot, t.shear,
                       t.t600, t.rh600, name="slow")  # fixes every 15 h: the forecast runs to 300 h
    path = tmp_path / "tracks.nc"
    tarvo.write_catalog([slow], tarvo.Params(), path, year=2005, cyclone_numbers=[9])
    data = world / "world" / "data"
    r = run_batch("--data", data, "--catalog", path, "--out", tmp_path / "f.nc", "--atcf", tmp_path / "atcf")
    assert r.returncode == 0, r.stderr
    assert "1 forecasts run past TAU 240: up to 60 h of each are left out of the a-decks" in r.stdout
    taus = [int(atcf_fields(l)["tau"]) for l in (tmp_path / "atcf" / "aal092005.dat").read_text().splitlines()]
    assert taus[-1] == 240 and len(taus) == 41
    r = run_batch("--data", data, "--catalog", path, "--out", tmp_path / "g.nc", "--atcf", tmp_path / "long",
                  "--atcf-max-tau", 999)
    assert r.returncode == 0 and "run past" not in r.stdout
    lines = (tmp_path / "long" / "aal092005.dat").read_text().splitlines()
    assert int(atcf_fields(lines[-1])["tau"]) == 300
    r = run_batch("--data", data, "--catalog", path, "--out", tmp_path / "h.nc", "--atcf", tmp_path / "x",
                  "--atcf-max-tau", 1000)
    assert r.returncode == 2 and "--atcf-max-tau takes hours from 0 to 999, not '1000'" in r.stderr


def test_every_forecast_of_a_storm_in_its_one_adeck(cases, world, tmp_path):
    t = tarvo.read_track(cases[0] / "track.in")
    later = shifted(t, 12, "later")  # the same storm started 12 h later
    path = tmp_path / "tracks.nc"
    tarvo.write_catalog([later, t], tarvo.Params(), path, year=2005, cyclone_numbers=[7, 7], sids=["late", "early"])
    data = world / "world" / "data"
    r = run_batch("--data", data, "--catalog", path, "--out", tmp_path / "f.nc", "--atcf", tmp_path / "atcf")
    assert r.returncode == 0, r.stderr
    assert "2 forecasts joined into 1 a-decks" in r.stdout
    lines = (tmp_path / "atcf" / "aal072005.dat").read_text().splitlines()
    keys = [(atcf_fields(l)["dtg"], int(atcf_fields(l)["tau"])) for l in lines]
    assert keys == sorted(keys) and len({d for d, _ in keys}) == 2  # by start time, then TAU
    # Two forecasts of one storm from one start time are refused, before any work.
    tarvo.write_catalog([t, t], tarvo.Params(), path, year=2005, cyclone_numbers=[7, 7], sids=["one", "two"])
    r = run_batch("--data", data, "--catalog", path, "--out", tmp_path / "g.nc", "--atcf", tmp_path / "again")
    assert r.returncode == 2
    assert "storms 0 (one) and 1 (two) are both forecasts of aal072005.dat from " in r.stderr
    assert not (tmp_path / "g.nc").exists() and not (tmp_path / "again").exists()


def test_shares_leave_the_adecks_to_the_merge_and_lose_nothing(cases, world, tmp_path):
    tracks = [tarvo.read_track(c / "track.in") for c in cases]
    later = [shifted(t, 6, f"later{i}") for i, t in enumerate(tracks)]
    path = tmp_path / "tracks.nc"
    tarvo.write_catalog(tracks + later, tarvo.Params(), path, year=2005, cyclone_numbers=[1, 2, 3, 4] * 2)
    data = world / "world" / "data"
    whole = tmp_path / "whole"
    assert run_batch("--data", data, "--catalog", path, "--out", whole / "f.nc", "--atcf", whole / "atcf").returncode == 0
    r = run_batch("--data", data, "--shard", "0/2", "--catalog", path, "--out", tmp_path / "p0.nc",
                  "--atcf", tmp_path / "shared")
    assert r.returncode == 2 and "cannot write them" in r.stderr and "tarvo-catalog merge" in r.stderr
    assert not (tmp_path / "p0.nc").exists() and not (tmp_path / "shared").exists()
    for k in range(2):
        assert run_batch("--data", data, "--shard", f"{k}/2", "--catalog", path,
                         "--out", tmp_path / f"p{k}.nc").returncode == 0
    r = run_catalog("merge", tmp_path / "p1.nc", tmp_path / "p0.nc", "-o", tmp_path / "all.nc", "--atcf",
                    tmp_path / "merged", "--climada-hdf5", tmp_path / "climada.nc")
    assert r.returncode == 0, r.stderr
    assert "8 forecasts joined into 4 a-decks" in r.stdout and "CLIMADA: 8 tracks" in r.stdout
    for name in sorted(p.name for p in (whole / "atcf").glob("*.dat")):
        assert (tmp_path / "merged" / name).read_bytes() == (whole / "atcf" / name).read_bytes(), name
    # The same a-decks again from the forecast file: forecasts there before are replaced, with a word.
    r = run_catalog("export", whole / "f.nc", "--atcf", tmp_path / "merged")
    assert r.returncode == 0 and "replaced TRVO forecasts an earlier run had written: aal012005.dat from" in r.stdout
    for name in sorted(p.name for p in (whole / "atcf").glob("*.dat")):
        assert (tmp_path / "merged" / name).read_bytes() == (whole / "atcf" / name).read_bytes(), name


def test_adecks_join_the_lines_already_there(cases, world, tmp_path):
    t = tarvo.read_track(cases[2] / "track.in")
    path = tmp_path / "tracks.nc"
    tarvo.write_catalog([t], tarvo.Params(), path, year=2005, cyclone_numbers=[11])
    start = np.datetime64(f"2005-{t.month:02d}-{t.day:02d}T{t.hour:02d}") + np.timedelta64(int(t.hours[t.hours <= 0][-1]), "h")
    dtg = str(start).replace("-", "").replace("T", "")[:10]
    atcf = tmp_path / "atcf"
    atcf.mkdir()
    ofcl = f"AL, 11, {dtg}, 03, OFCL,   0, 150N,  600W,  50, 1000, TS,"
    earlier = "AL, 11, 2005010100, 03, TRVO,   0, 100N,  500W,  30, 1010, XX,"
    stale = f"AL, 11, {dtg}, 03, TRVO,   0, 100N,  500W,  30, 1010, XX,"
    (atcf / "aal112005.dat").write_text("\n".join([ofcl, earlier, stale]) + "\n")
    r = run_batch("--data", world / "world" / "data", "--catalog", path, "--out", tmp_path / "f.nc", "--atcf", atcf)
    assert r.returncode == 0, r.stderr
    assert f"replaced TRVO forecasts an earlier run had written: aal112005.dat from {dtg}" in r.stdout
    lines = (atcf / "aal112005.dat").read_text().splitlines()
    assert lines[0] == earlier and lines[1] == ofcl and stale not in lines  # by start time; others' lines kept
    assert all(l.startswith(f"AL, 11, {dtg}, 03, TRVO, ") for l in lines[2:])
    assert not list(atcf.glob(".tarvo-adecks-*"))  # nothing left aside


def test_storms_without_a_cyclone_number_are_left_out_with_a_warning(cases, world, tmp_path):
    tracks = [tarvo.read_track(c / "track.in") for c in cases[:2]]
    path = tmp_path / "unnumbered.nc"
    tarvo.write_catalog(tracks, tarvo.Params(), path, cyclone_numbers=[0, 0])
    r = run_batch("--data", world / "world" / "data", "--catalog", path, "--out", tmp_path / "f.nc",
                  "--atcf", tmp_path / "atcf")
    assert r.returncode == 0, r.stderr
    assert "warning: 2 storms have no cyclone number and are left out of the a-decks" in r.stdout
    assert "case41; case42" in r.stdout and (tmp_path / "f.nc").exists()
    assert not list((tmp_path / "atcf").glob("*.dat"))
    # write_catalog numbers them per basin and year, as tarvo-catalog pack does.
    tarvo.write_catalog(tracks, tarvo.Params(), path)
    with xr.open_dataset(path) as ds:
        assert ds.cyclone_number.values.tolist() == [1, 2]
    r = run_batch("--data", world / "world" / "data", "--catalog", path, "--out", tmp_path / "g.nc",
                  "--atcf", tmp_path / "numbered")
    assert r.returncode == 0 and sorted(p.name for p in (tmp_path / "numbered").glob("*.dat")) == \
        ["aal012001.dat", "aal022001.dat"]


def test_export_from_python_writes_what_the_programs_write(outputs, tmp_path):
    root, _, _ = outputs
    with xr.open_dataset(root / "forecasts.nc") as ds:
        ds.load()
    got = tarvo.export_forecasts(ds, atcf=tmp_path / "atcf", climada_hdf5=tmp_path / "c.nc")
    assert got["tracks"] == 4 and got["adeck_files"] == 4 and got["left_out"] == []
    for p in sorted((root / "atcf").glob("*.dat")):
        assert (tmp_path / "atcf" / p.name).read_bytes() == p.read_bytes()
    with xr.open_dataset(tmp_path / "c.nc") as a, xr.open_dataset(root / "climada.nc") as b:
        assert a.identical(b)
