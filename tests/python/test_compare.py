"""Two climates compared (tarvo-compare, tarvo.compare) on forecasts whose
distributions are known: built here from a real forecast file, every storm's
wind made to rise from 40 kt to a lifetime maximum of 40 + i kt in 24 h, the
future's 10 kt more at every sample, a fifth of the storms over land from
30 h on (land where the test's own elevation grid says)."""

import shutil
import subprocess

import netCDF4
import numpy as np
import pytest

import tarvo
from conftest import BUILD

N = 100
THRESHOLDS = [34, 64, 83, 96, 113, 137]  # Saffir-Simpson, kt
LAND_LON = 205.0


@pytest.fixture(scope="module")
def climates(world, cases, tmp_path_factory):
    d = tmp_path_factory.mktemp("compare")
    t = tarvo.read_track(cases[0] / "track.in")
    n = 13  # -36 .. 36 h
    short = tarvo.Track(t.basin, t.month, t.day, t.hour, t.hours[:n], t.lat[:n], t.lon[:n], t.vmax_kt[:n],
                        t.vpot[:n], t.shear[:n], t.t600[:n], t.rh600[:n])
    tarvo.write_catalog([short] * N, tarvo.Params(), d / "tracks.nc", year=2005, sids=[f"s{i:03d}" for i in range(N)])
    # Ocean grids whose land is a band from 200 to 210 degrees east.
    data = d / "data"
    shutil.copytree(world / "world" / "data", data)
    lon = np.arange(1440) * 0.25
    elevation = np.where((lon >= 200.0) & (lon <= 210.0), 100.0, -4000.0).astype("<f4")
    (data / "bathsmooth2.dat").write_bytes(np.tile(elevation, 721).tobytes())
    r = subprocess.run([str(BUILD / "tarvo-batch"), "--data", str(data), "--catalog", str(d / "tracks.nc"), "--out",
                        str(d / "present.nc")], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    shutil.copy(d / "present.nc", d / "future.nc")
    lmi = 40.0 + np.arange(N)
    for name, extra in (("present", 0.0), ("future", 10.0)):
        with netCDF4.Dataset(d / f"{name}.nc", "a") as f:
            lead = f["lead_time"][0, :].filled(np.nan)
            assert not ((f["lon"][0, :] >= 200) & (f["lon"][0, :] <= 210)).any()  # the track is over the sea
            for i in range(N):
                wind = np.where(lead <= 0, 40.0, np.where(lead >= 24, lmi[i], 40.0 + (lmi[i] - 40.0) * lead / 24.0))
                f["max_sustained_wind"][i, :] = np.where(np.isfinite(lead), wind + extra, np.nan)
                if i % 5 == 0:
                    lons = f["lon"][i, :]
                    lons[lead >= 30] = LAND_LON
                    f["lon"][i, :] = lons
    return d, lmi


def test_known_distributions_give_their_numbers(climates):
    d, lmi = climates
    ds = tarvo.compare(d / "present.nc", d / "future.nc", catalog=d / "tracks.nc", data=d / "data",
                       labels=("now", "warmer"), resamples=300)
    assert ds.attrs["storms"] == N and list(ds.climate.values) == ["now", "warmer"]
    for q in ds["quantile"].values:
        np.testing.assert_allclose(ds.lmi_quantile.sel(climate="now", quantile=q), np.quantile(lmi, q), rtol=1e-6)
        np.testing.assert_allclose(ds.lmi_quantile.sel(climate="warmer", quantile=q), np.quantile(lmi + 10, q),
                                   rtol=1e-6)
    # Every storm 10 kt stronger: the paired change is 10 kt in every resample.
    np.testing.assert_allclose(ds.lmi_quantile_change.values, 10.0, rtol=1e-6)
    np.testing.assert_allclose(ds.lmi_quantile_change_low.values, 10.0, rtol=1e-6)
    np.testing.assert_allclose(ds.lmi_quantile_change_high.values, 10.0, rtol=1e-6)
    np.testing.assert_allclose(ds.lmi_mean.values, [lmi.mean(), lmi.mean() + 10], rtol=1e-6)
    # The intervals of each climate's median hold it, and are not a point.
    low, high = ds.lmi_quantile_low.sel(quantile=0.5).values, ds.lmi_quantile_high.sel(quantile=0.5).values
    assert (low < ds.lmi_quantile.sel(quantile=0.5).values).all() and (high > low).all()
    for k, peaks in enumerate((lmi, lmi + 10)):
        counts = np.bincount(np.digitize(peaks, THRESHOLDS), minlength=7)
        assert list(ds.category_storms.values[k]) == list(counts)
        for t in (34.0, 64.0, 100.0, 136.0):
            assert ds.exceedance.values[k][list(ds.threshold.values).index(t)] == pytest.approx((peaks >= t).mean())
    # Landfall: storms 0, 5, ..., 95 reach land at 30 h, at their lifetime maximum.
    landfall = lmi[::5]
    assert ds.attrs["landfalls"] == len(landfall)
    np.testing.assert_allclose(ds.landfall_wind.values, [landfall.mean(), landfall.mean() + 10], rtol=1e-6)
    np.testing.assert_allclose([ds.landfall_wind_change_low, ds.landfall_wind_change_high], 10.0, rtol=1e-6)
    np.testing.assert_allclose(ds.landfall_hurricane_share.values, [(landfall >= 64).mean(), (landfall + 10 >= 64).mean()])
    # A rise of 30 kt in 24 h: the storms from i = 30 on, in both climates.
    np.testing.assert_allclose(ds.rapid_intensification_share.values, [0.7, 0.7])
    assert ds.rapid_intensification_share_change.item() == 0.0
    assert ds.lmi_quantile.attrs["units"] == "knot"


def test_the_program_writes_the_same_numbers_and_its_picture(climates, tmp_path):
    d, lmi = climates
    r = subprocess.run([str(BUILD / "tarvo-compare"), str(d / "present.nc"), str(d / "future.nc"), "--catalog",
                        str(d / "tracks.nc"), "--data", str(d / "data"), "--csv", str(tmp_path / "c.csv"),
                        "--plot", str(tmp_path / "c.png"), "--resamples", "300"], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert f"{N} storms in both climates" in r.stdout and "20 storms reach land after sea" in r.stdout
    rows = [line.split(",") for line in (tmp_path / "c.csv").read_text().splitlines()]
    assert rows[0][:5] == ["metric", "quantity", "present", "future", "change"]
    median = [row for row in rows if row[0] == "lmi_quantile_kt" and row[1] == "0.5"][0]
    assert float(median[2]) == pytest.approx(np.quantile(lmi, 0.5)) and float(median[4]) == pytest.approx(10.0)
    ds = tarvo.compare(d / "present.nc", d / "future.nc", catalog=d / "tracks.nc", data=d / "data", resamples=300)
    assert float(median[5]) == pytest.approx(ds.lmi_quantile_low.sel(climate="present", quantile=0.5).item(), rel=1e-5)
    assert (tmp_path / "c.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_storms_that_failed_are_left_out_and_foreign_files_named(climates, tmp_path):
    d, lmi = climates
    failed = tmp_path / "failed.nc"
    shutil.copy(d / "future.nc", failed)
    with netCDF4.Dataset(failed, "a") as f:
        f["status"][0] = "failed: made up by the test"
    ds = tarvo.compare(d / "present.nc", failed, catalog=d / "tracks.nc", resamples=0)
    assert ds.attrs["storms"] == N - 1 and "1 storms left out" in ds.attrs["notes"]
    assert "landfall not compared" in ds.attrs["notes"]
    other = tmp_path / "other.nc"
    t = tarvo.read_catalog(d / "tracks.nc")[0]
    tarvo.write_catalog(t[:N], tarvo.Params(), other, year=2005, sids=[f"x{i:03d}" for i in range(N)])
    with pytest.raises(tarvo.InputError, match=r"other.nc: storm 0 \(s000\) is x000 in the catalog"):
        tarvo.compare(d / "present.nc", d / "future.nc", catalog=other)
    r = subprocess.run([str(BUILD / "tarvo-compare"), str(d / "present.nc"), str(d / "future.nc")],
                       capture_output=True, text=True)
    assert r.returncode == 2 and "--catalog TRACKS.nc" in r.stderr
    with pytest.raises(TypeError, match="labels are two str"):
        tarvo.compare(d / "present.nc", d / "future.nc", catalog=d / "tracks.nc", labels="ab")
