"""tarvo-catalog: case directories packed into a catalog and unpacked again
with the forecasts unchanged, shares merged exactly once, catalogs checked."""

import shutil
import subprocess

import numpy as np
import pytest
import xarray as xr

import tarvo
from conftest import BUILD, without_history


def run(program, *args, **kw):
    return subprocess.run([str(BUILD / program), *map(str, args)], capture_output=True, text=True, **kw)


def track_out_columns(path):
    """track.out's rows as numbers: month day hour lat lon vmax rm pmin."""
    return np.loadtxt(path, skiprows=1)


@pytest.fixture(scope="module")
def packed(cases, tmp_path_factory):
    path = tmp_path_factory.mktemp("pack") / "tracks.nc"
    r = run("tarvo-catalog", "pack", *cases, "-o", path)
    assert r.returncode == 0, r.stderr
    assert f"{len(cases)} storms -> " in r.stdout
    return path


def test_pack_then_batch_gives_tarvos_values(packed, cases, grids, world, tmp_path):
    out = tmp_path / "forecasts.nc"
    r = run("tarvo-batch", "--data", world / "world" / "data", "--catalog", packed, "--out", out)
    assert r.returncode == 0, r.stderr
    with xr.open_dataset(out) as ds:
        assert ds.sid.values.tolist() == [c.name for c in cases]
        assert ds.time.dt.year.values[0, 0] == 2001
        for i, case in enumerate(cases):
            expected = track_out_columns(case / "expected.out")
            m = len(expected)
            assert np.isnan(ds.max_sustained_wind.values[i, m:]).all()
            for col, k in ((3, "lat"), (5, "max_sustained_wind"), (7, "central_pressure")):
                shown = np.round(ds[k].values[i, :m].astype(np.float64), 3 if k == "lat" else 1)
                np.testing.assert_allclose(shown, expected[:, col], atol=1e-9, err_msg=f"{case.name} {k}")
            # The exact floats: those of a forecast of the case's own files.
            one = tarvo.forecast(tarvo.read_track(case / "track.in"), tarvo.read_params(case / "params.in"), grids)
            assert ds.max_sustained_wind.values[i, :m].tobytes() == one.vmax.values.tobytes()
            assert ds.central_pressure.values[i, :m].tobytes() == one.pmin.values.tobytes()


def test_unpack_gives_case_directories_that_forecast_byte_for_byte(packed, cases, world, tmp_path):
    r = run("tarvo-catalog", "unpack", packed, tmp_path / "cases")
    assert r.returncode == 0, r.stderr
    for case in cases:
        back = tmp_path / "cases" / case.name
        (back / "data").symlink_to(world / "world" / "data")
        assert run("tarvo", cwd=back).returncode == 0
        assert (back / "track.out").read_bytes() == (case / "expected.out").read_bytes(), case.name
    # And packed again: the same catalog values.
    again = tmp_path / "again.nc"
    assert run("tarvo-catalog", "pack", *sorted((tmp_path / "cases").iterdir()), "-o", again).returncode == 0
    with xr.open_dataset(packed) as a, xr.open_dataset(again) as b:
        assert without_history(a).identical(without_history(b))


def test_pack_takes_a_year_and_numbers_the_storms(cases, tmp_path):
    path = tmp_path / "1999.nc"
    assert run("tarvo-catalog", "pack", *cases, "--year", 1999, "-o", path).returncode == 0
    with xr.open_dataset(path) as ds:
        assert (ds.reference_time.dt.year.values == 1999).all() and (ds.year.values == 1999).all()
        assert ds.cyclone_number.values.tolist() == list(range(1, len(cases) + 1))
        assert ds.name.values.tolist() == ds.sid.values.tolist()
    r = run("tarvo-catalog", "pack", *cases, "--year", "99x", "-o", path)
    assert r.returncode == 2 and "--year takes a year" in r.stderr


def test_pack_errors_name_the_case_and_leave_no_file(cases, tmp_path):
    out = tmp_path / "x.nc"
    twin = tmp_path / "other" / cases[0].name
    shutil.copytree(cases[0], twin, symlinks=True)
    r = run("tarvo-catalog", "pack", cases[0], twin, "-o", out)
    assert r.returncode == 2 and f"sid {cases[0].name}" in r.stderr and "must be unique" in r.stderr
    bad = tmp_path / "bad_case"
    shutil.copytree(cases[0], bad, symlinks=True)
    (bad / "track.in").write_text("caption\n'al' 13 1 0\nheader\n0 15 300 30 70 5 270 70\n")
    r = run("tarvo-catalog", "pack", cases[0], bad, "-o", out)
    assert r.returncode == 2 and "bad_case/track.in" in r.stderr and "month" in r.stderr, r.stderr
    (bad / "track.in").unlink()
    r = run("tarvo-catalog", "pack", bad, "-o", out)
    assert r.returncode == 2 and "bad_case/track.in" in r.stderr
    assert not out.exists() and not list(tmp_path.glob("x.nc*"))
    r = run("tarvo-catalog", "pack", cases[0])
    assert r.returncode == 2 and "usage" in r.stderr


def test_check_says_what_is_wrong(packed, tmp_path):
    r = run("tarvo-catalog", "check", packed)
    assert r.returncode == 0 and "a catalog of 4 storms" in r.stdout and ": ok" in r.stdout
    with xr.open_dataset(packed, decode_times=False) as ds:
        ds.load()
    ds.time.values[2, 1] = ds.time.values[2, 0]
    ds.to_netcdf(tmp_path / "repeat.nc")
    r = run("tarvo-catalog", "check", tmp_path / "repeat.nc")
    assert r.returncode == 2 and "storm 2 (case43): variable time does not increase" in r.stderr
    ds.drop_vars("vpot").to_netcdf(tmp_path / "novpot.nc")
    r = run("tarvo-catalog", "check", tmp_path / "novpot.nc")
    assert r.returncode == 2 and "novpot.nc: variable vpot is missing" in r.stderr
    whole = packed.read_bytes()
    (tmp_path / "cut.nc").write_bytes(whole[: len(whole) // 3])
    r = run("tarvo-catalog", "check", tmp_path / "cut.nc")
    assert r.returncode == 2 and "cut.nc: not a readable NetCDF catalog" in r.stderr


def test_merge_of_shares_equals_one_run(packed, world, tmp_path):
    data = world / "world" / "data"
    whole = tmp_path / "whole.nc"
    assert run("tarvo-batch", "--data", data, "--catalog", packed, "--out", whole).returncode == 0
    shares = []
    for k in range(3):
        shares.append(tmp_path / f"share{k}.nc")
        r = run("tarvo-batch", "--data", data, "--shard", f"{k}/3", "--catalog", packed, "--out", shares[-1])
        assert r.returncode == 0, r.stderr
    merged = tmp_path / "merged.nc"
    r = run("tarvo-catalog", "merge", shares[2], shares[0], shares[1], "-o", merged)  # any order
    assert r.returncode == 0 and "3 parts -> " in r.stdout, r.stderr
    with xr.open_dataset(whole) as a, xr.open_dataset(merged) as b:
        assert without_history(a).identical(without_history(b))
        assert b.storm.values.tolist() == list(range(4))
    bad = tmp_path / "bad.nc"
    r = run("tarvo-catalog", "merge", shares[0], shares[2], "-o", bad)
    assert r.returncode == 2 and "is in none of the 2 parts (of a catalog of 4 storms)" in r.stderr, r.stderr
    r = run("tarvo-catalog", "merge", shares[0], shares[1], shares[1], shares[2], "-o", bad)
    assert r.returncode == 2 and "(is it given twice?)" in r.stderr
    r = run("tarvo-catalog", "merge", shares[0], whole, "-o", bad)
    assert r.returncode == 2 and "storm 0 (case41) is also in" in r.stderr
    r = run("tarvo-catalog", "merge", packed, "-o", bad)
    assert r.returncode == 2 and "not a tarvo forecast file" in r.stderr
    assert not bad.exists() and not list(tmp_path.glob("bad.nc*"))
