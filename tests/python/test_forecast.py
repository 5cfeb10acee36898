"""Forecasts from Python: the values and bytes of the tarvo program, many
storms on threads, the GIL released, failures kept to their storm."""

import resource
import shutil
import subprocess
import threading

import numpy as np
import pytest

import tarvo
from conftest import BUILD, REFERENCE


def track_out_rows(path):
    lines = path.read_text().splitlines()[1:]
    return np.array([[float(x) for x in line.split()] for line in lines])


def test_forecast_equals_track_out(cases, grids):
    for case in cases:
        ds = tarvo.forecast(tarvo.read_track(case / "track.in"), tarvo.read_params(case / "params.in"), grids)
        rows = track_out_rows(case / "expected.out")
        assert ds.sizes["time"] == len(rows)
        assert ds.attrs["status"] == "finished"
        np.testing.assert_array_equal(ds.month, rows[:, 0])
        np.testing.assert_array_equal(ds.hour, rows[:, 2])
        for name, col in (("lat", 3), ("lon", 4), ("vmax", 5), ("rmw", 6), ("pmin", 7)):
            np.testing.assert_array_equal(np.round(ds[name].values.astype(np.float64), 1 if col > 4 else 3),
                                          rows[:, col])
            assert ds[name].attrs["units"]
        np.testing.assert_array_equal(np.diff(ds.time), 2)


@pytest.mark.skipif(not (REFERENCE / "r1").is_dir(), reason="no reference cases")
@pytest.mark.parametrize("name", ["r1", "r2", "r3"])
def test_run_case_writes_the_reference_bytes(tmp_path, name):
    case = tmp_path / name
    case.mkdir()
    for f in ("track.in", "params.in"):
        shutil.copy(REFERENCE / name / f, case / f)
    (case / "data").symlink_to(REFERENCE / "world0" / "data")
    ds = tarvo.run_case(case)
    assert (case / "track.out").read_bytes() == (REFERENCE / name / "expected" / "track.out").read_bytes()
    assert ds.sizes["time"] == len((case / "track.out").read_text().splitlines()) - 1


def test_run_case_writes_what_tarvo_writes(cases, grids, tmp_path):
    case = tmp_path / "case"
    shutil.copytree(cases[1], case, symlinks=True)
    (case / "track.out").unlink()
    tarvo.run_case(case, grids=grids)
    assert (case / "track.out").read_bytes() == (cases[1] / "expected.out").read_bytes()


def test_forecast_many_threads_agree_and_failures_stay_with_their_storm(cases, grids):
    tracks = [tarvo.read_track(c / "track.in") for c in cases]
    params = [tarvo.read_params(c / "params.in") for c in cases]
    # A storm the ocean grids cannot take fails on its own.
    far = tarvo.Track(**{**{k: getattr(tracks[0], k) for k in ("basin", "month", "day", "hour", "hours", "lon",
                                                                 "vmax_kt", "vpot", "shear", "t600", "rh600")},
                         "lat": np.full(len(tracks[0]), 89.9, dtype=np.float32)}, name="polar")
    many = tracks[:2] + [far] + tracks[2:]
    ps = params[:2] + [params[0]] + params[2:]
    one = tarvo.forecast_many(many, ps, grids, threads=1, progress=False)
    two = tarvo.forecast_many(many, ps, grids, threads=2, progress=False)
    assert [d.attrs["status"] for d in one] == ["finished", "finished", "failed", "finished", "finished"]
    assert "polar" in one[2].attrs["error"] and "outside the ocean grids" in one[2].attrs["error"]
    for a, b in zip(one, two):
        assert a.identical(b)
    for d, c in zip(one[:2] + one[3:], cases):
        assert d.vmax.size == len(track_out_rows(c / "expected.out"))
    with pytest.raises(tarvo.InputError, match="2 params for 5 tracks"):
        tarvo.forecast_many(many, ps[:2], grids)


def test_year_gives_datetimes(cases, grids):
    t = tarvo.read_track(cases[0] / "track.in")
    ds = tarvo.forecast(t, tarvo.read_params(cases[0] / "params.in"), grids, year=2004)
    assert np.issubdtype(ds.time.dtype, np.datetime64)
    plain = tarvo.forecast(t, tarvo.read_params(cases[0] / "params.in"), grids)
    first = np.datetime64(f"2004-{int(plain.month[0]):02d}-{int(plain.day[0]):02d}T{int(plain.hour[0]):02d}")
    assert ds.time.values[0] == first
    assert (np.diff(ds.time.values) == np.timedelta64(2, "h")).all() or plain.month.values[0] == 2


def test_the_gil_is_released_during_a_forecast(cases, grids):
    t = tarvo.read_track(cases[0] / "track.in")
    p = tarvo.read_params(cases[0] / "params.in")
    counted = []
    running = threading.Event()

    def count():
        n = 0
        running.set()
        while not done.is_set():
            n += 1
        counted.append(n)

    done = threading.Event()
    counter = threading.Thread(target=count)
    counter.start()
    running.wait()
    results = []
    workers = [threading.Thread(target=lambda: results.append(tarvo.forecast(t, p, grids))) for _ in range(2)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    done.set()
    counter.join()
    assert len(results) == 2 and results[0].identical(results[1])
    # Python code ran on while both forecasts computed: the GIL was free.
    assert counted[0] > 100000


def test_a_thousand_storms_in_constant_memory(cases, grids):
    t = tarvo.read_track(cases[0] / "track.in")
    p = tarvo.read_params(cases[0] / "params.in")
    keep = t.hours <= 12
    short = tarvo.Track(t.basin, t.month, t.day, t.hour, t.hours[keep], t.lat[keep], t.lon[keep], t.vmax_kt[keep],
                        t.vpot[keep], t.shear[keep], t.t600[keep], t.rh600[keep])
    peak = []
    for _ in range(4):
        out = tarvo.forecast_many([short] * 250, p, grids, threads=2, progress=False)
        assert all(d.attrs["status"] == "finished" for d in out)
        del out
        peak.append(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
    assert peak[-1] - peak[0] < 20 * 1024  # KB: flat after the first 250


def uniform_world(path, elev=-4000.0, mld=50.0, strat=20.0):
    """A data directory of one value everywhere (text grids through repeat counts)."""
    path.mkdir()
    np.full(1440 * 721, elev, dtype="<f4").tofile(path / "bathsmooth2.dat")
    for m in range(1, 13):
        (path / f"mix{m:02d}").write_text(f"360*{mld}\n" * 180)
        (path / f"stratnorm{m:02d}").write_text(f"360*{strat}\n" * 180)
    return tarvo.load_grids(path)


def test_a_storm_stopped_early(tmp_path):
    grids = uniform_world(tmp_path / "data")
    hours = np.arange(-6, 7, 6)
    s = (hours + 6) / 6.0
    vpot = np.array([75.0, 1e30, 75.0])  # an absurd potential intensity at the start record
    kw = dict(basin="al", month=9, day=14, hour=0, hours=hours, lat=np.round(15.0 + 0.1 * s, 2),
              lon=np.round(300.0 - 0.5 * s, 2), vmax_kt=np.full(3, 50.0), shear=np.full(3, 5.0),
              t600=np.full(3, 271.0), rh600=np.full(3, 60.0))
    bad = tarvo.Track(**kw, vpot=vpot, name="absurd")
    good = tarvo.Track(**kw, vpot=np.full(3, 75.0))
    p = tarvo.Params()
    ds = tarvo.forecast(bad, p, grids)
    assert ds.attrs["status"] == "stopped_early at +1.7 h (a negative squared radius at ring 2)"
    assert ds.sizes["time"] == 0
    fine, stopped = tarvo.forecast_many([good, bad], p, grids, progress=False)
    assert fine.attrs["status"] == "finished" and stopped.attrs["status"] == ds.attrs["status"]
    case = tmp_path / "case"
    case.mkdir()
    (case / "track.in").write_text(bad.to_text())
    (case / "params.in").write_text("0.5\n0.5\n0.5\n2.0\n")
    (case / "track.out").write_text("an earlier result\n")
    assert tarvo.run_case(case, grids=grids).attrs["status"] == ds.attrs["status"]
    assert (case / "track.out").read_text() == "an earlier result\n"


def test_real_times_across_the_end_of_february_in_a_leap_year(cases, grids, tmp_path):
    t = tarvo.read_track(cases[0] / "track.in")
    late_feb = tarvo.Track(t.basin, 2, 26, 6, t.hours, t.lat, t.lon, t.vmax_kt, t.vpot, t.shear, t.t600, t.rh600)
    ds = tarvo.forecast(late_feb, tarvo.Params(), grids, year=2020)
    first = np.datetime64("2020-02-26T06") + np.timedelta64(int(t.hours[0]), "h")
    expected = first + 2 * np.arange(ds.sizes["time"]) * np.timedelta64(1, "h")
    np.testing.assert_array_equal(ds.time.values, expected.astype("datetime64[ns]"))
    assert np.datetime64("2020-02-29T12") in ds.time.values  # the leap day is there, every step 2 h
    # The forecast values are those of the same track without a year: only the times are real.
    plain = tarvo.forecast(late_feb, tarvo.Params(), grids)
    assert plain.vmax.values.tobytes() == ds.vmax.values.tobytes()
    # The catalog of the same track gives the same times.
    path = tmp_path / "feb.nc"
    tarvo.write_catalog([late_feb], tarvo.Params(), path, year=2020)
    cat = tarvo.forecast_catalog(path, grids, progress=False)
    m = ds.sizes["time"]
    np.testing.assert_array_equal(cat.time.values[0, :m], ds.time.values)
    np.testing.assert_array_equal(cat.max_sustained_wind.values[0, :m], ds.vmax.values)
    # A track of its own year, starting on 29 February.
    leap = tarvo.Track(t.basin, 2, 29, 0, t.hours, t.lat, t.lon, t.vmax_kt, t.vpot, t.shear, t.t600, t.rh600,
                       year=2020)
    ds = tarvo.forecast(leap, tarvo.Params(), grids)
    assert ds.time.values[0] == np.datetime64("2020-02-29T00") + np.timedelta64(int(t.hours[0]), "h")
    with pytest.raises(tarvo.InputError, match="year=2021, but the track's reference time is in 2020"):
        tarvo.forecast(leap, tarvo.Params(), grids, year=2021)
    tarvo.write_catalog([leap], tarvo.Params(), path)
    back, _ = tarvo.read_catalog(path)
    assert (back[0].year, back[0].month, back[0].day) == (2020, 2, 29)
    cat = tarvo.forecast_catalog(path, grids, progress=False)
    np.testing.assert_array_equal(cat.time.values[0, :ds.sizes["time"]], ds.time.values)


def test_eastern_pacific_codes_all_select_the_eastern_pacific(cases, grids):
    t = tarvo.read_track(cases[0] / "track.in")
    p = tarvo.read_params(cases[0] / "params.in")

    def with_basin(code):
        return tarvo.forecast(tarvo.Track(code, t.month, t.day, t.hour, t.hours, t.lat, t.lon, t.vmax_kt, t.vpot,
                                          t.shear, t.t600, t.rh600), p, grids)

    ep = with_basin("ep")
    for code in ("EP", "Ep", "eP"):
        got = with_basin(code)
        assert got.vmax.values.tobytes() == ep.vmax.values.tobytes() and got.attrs["basin"] == "ep", code
    atlantic = with_basin("NA")
    assert atlantic.attrs["basin"] == "al" and atlantic.vmax.values.tobytes() != ep.vmax.values.tobytes()
    assert atlantic.vmax.values.tobytes() == with_basin("al").vmax.values.tobytes()


def test_track_in_keeps_its_rules_for_the_program_and_warns(cases, tmp_path):
    """The tarvo program reads track.in as its format says (the basin code
    compared exactly, values as read), with a warning naming the line."""
    case = tmp_path / "case"
    shutil.copytree(cases[0], case, symlinks=True)
    lines = (case / "track.in").read_text().splitlines(keepends=True)
    lines[1] = lines[1].replace("'al'", "'EP'")
    fields = lines[5].split()
    fields[4] = "nan"
    lines[5] = " ".join(fields) + "\n"
    (case / "track.in").write_text("".join(lines))
    r = subprocess.run([BUILD / "tarvo"], cwd=case, capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert ("tarvo: warning: track.in, line 2: basin code 'EP' is not 'ep' as written: the forecast runs with "
            "the Atlantic coefficients") in r.stderr
    assert "tarvo: warning: track.in, line 6: record 3: vpot (potential intensity, m/s) is NaN" in r.stderr
    # The same file through the library is refused, naming the fix.
    with pytest.raises(tarvo.InputError, match=r"fix 3 \(-?\d+ h\): vpot \(potential intensity, m/s\) is NaN"):
        tarvo.read_track(case / "track.in")
