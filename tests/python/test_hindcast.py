"""A hindcast from end to end: a made-up season (tarvo-synth --season: a
HURDAT2 best track, ERA5-layout fields, ocean grids) imported with its
environment, forecast and verified, by the programs and by the Python
package, with the same numbers."""

import subprocess

import numpy as np
import pytest
import xarray as xr

import tarvo
from conftest import BUILD


@pytest.fixture(scope="module")
def season(tmp_path_factory):
    root = tmp_path_factory.mktemp("season")
    subprocess.run([BUILD / "tarvo-synth", "--season", "--storms", "2", root], check=True, stdout=subprocess.DEVNULL)
    return root


def run(*args, **kw):
    r = subprocess.run([str(a) for a in args], capture_output=True, text=True, **kw)
    assert r.returncode == 0, r.stderr
    return r


def test_import_environment_forecasts_and_verification_agree_between_programs_and_python(season, tmp_path):
    fields = [season / "fields" / "era5_pl.nc", season / "fields" / "era5_sl.nc"]
    # The programs.
    tracks = tmp_path / "tracks.nc"
    r = run(BUILD / "tarvo-catalog", "import", season / "besttrack.txt", "--starts", "every:12h", "--env", *fields,
            "-o", tracks)
    assert "off the hour are left out" in r.stdout + r.stderr  # the landfall fixes
    forecasts = tmp_path / "forecasts.nc"
    run(BUILD / "tarvo-batch", "-j", "2", "--data", season / "data", "--catalog", tracks, "--out", forecasts)
    csv = tmp_path / "verification.csv"
    table = run(BUILD / "tarvo-verify", "--catalog", tracks, "--forecasts", forecasts, "--csv", csv).stdout
    # Python.
    best = tarvo.read_tracks(season / "besttrack.txt")
    starts = tarvo.hindcast_starts(best, starts="every:12h")
    catalog, details = tarvo.environment(starts, [str(f) for f in fields])
    ours = tarvo.forecast_catalog(catalog, tarvo.load_grids(season / "data"), threads=2, progress=False)
    verification = tarvo.verify(catalog, ours)
    # The same catalog ...
    with xr.open_dataset(tracks) as cli:
        assert list(cli.sid.values) == list(catalog.sid.values)
        for k in ("time", "lat", "lon", "vmax_obs", "vpot", "shear", "t600", "rh600", "vpot_source"):
            np.testing.assert_array_equal(cli[k].values, catalog[k].values, err_msg=k)
        assert cli.attrs["environment_method"] == catalog.attrs["environment_method"]
        assert "era5_pl.nc" in cli.attrs["environment_fields"]
    # ... the same forecasts, bit for bit ...
    with xr.open_dataset(forecasts) as cli:
        for k in ("max_sustained_wind", "central_pressure", "radius_max_wind"):
            np.testing.assert_array_equal(cli[k].values, ours[k].values, err_msg=k)
    # ... and the same verification.
    assert verification.attrs["table"] in table
    rows = np.genfromtxt(csv, delimiter=",", names=True, dtype=None, encoding="utf-8")
    overall = rows[rows["basin"] == "all"]
    np.testing.assert_allclose(overall["mae_kt"], verification.mae.sel(basin="all").values, atol=0.05)
    assert list(overall["n"]) == list(verification.n.sel(basin="all").values)
    # Leads of the table, and what it verifies against: at 0 h the forecast starts from the best track.
    assert list(verification.lead.values) == [0, 12, 24, 36, 48, 72, 96, 120]
    assert verification.n.sel(basin="all", lead=0) == catalog.sizes["storm"]
    assert (verification.n.sel(basin="all").values[1:] <= verification.n.sel(basin="all").values[:-1]).all()
    # The environment in range: potential intensity of tropical seas, shear and humidity of the air.
    vpot = details.vpot.values[np.isfinite(details.vpot.values)]
    assert 20 < vpot.mean() < 100
    assert np.nanmax(details.rh600.values) <= 100.0


def test_the_verification_plot_is_written(season, tmp_path):
    pytest.importorskip("matplotlib")
    tracks, forecasts = tmp_path / "tracks.nc", tmp_path / "forecasts.nc"
    fields = [season / "fields" / "era5_pl.nc", season / "fields" / "era5_sl.nc"]
    run(BUILD / "tarvo-catalog", "import", season / "besttrack.txt", "--starts", "first+24h", "--env", *fields,
        "-o", tracks)
    run(BUILD / "tarvo-batch", "--data", season / "data", "--catalog", tracks, "--out", forecasts)
    png = tmp_path / "errors.png"
    run(BUILD / "tarvo-verify", "--catalog", tracks, "--forecasts", forecasts, "--plot", png)
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_forecasts_of_another_catalog_are_refused(season, tmp_path):
    fields = [season / "fields" / "era5_pl.nc", season / "fields" / "era5_sl.nc"]
    a, b, f = tmp_path / "a.nc", tmp_path / "b.nc", tmp_path / "f.nc"
    run(BUILD / "tarvo-catalog", "import", season / "besttrack.txt", "--starts", "every:12h", "--env", *fields, "-o", a)
    run(BUILD / "tarvo-catalog", "import", season / "besttrack.txt", "--starts", "first+24h", "--env", *fields, "-o", b)
    run(BUILD / "tarvo-batch", "--data", season / "data", "--catalog", b, "--out", f)
    # Some sids of one are those of the other: the forecasts that are its storms are verified, the rest said.
    r = run(BUILD / "tarvo-verify", "--catalog", a, "--forecasts", f)
    n = xr.open_dataset(b).sizes["storm"]
    assert "not in the catalog" in r.stdout or f"{n} forecasts verified" in r.stdout
    # A catalog of other storms: none is its.
    c = tmp_path / "c.nc"
    best = tarvo.read_tracks(season / "besttrack.txt")
    run(BUILD / "tarvo-catalog", "import", season / "besttrack.txt", "--storm", str(best.sid.values[0]),
        "--starts", "every:12h", "--env", *fields, "-o", c)
    d = tmp_path / "d.nc"
    run(BUILD / "tarvo-catalog", "import", season / "besttrack.txt", "--storm", str(best.sid.values[1]),
        "--starts", "every:12h", "--env", *fields, "-o", d)
    g = tmp_path / "g.nc"
    run(BUILD / "tarvo-batch", "--data", season / "data", "--catalog", d, "--out", g)
    r = subprocess.run([BUILD / "tarvo-verify", "--catalog", c, "--forecasts", g], capture_output=True, text=True)
    assert r.returncode == 2 and str(g) in r.stderr and "is a storm of" in r.stderr, r.stderr
    with pytest.raises(tarvo.InputError, match="verify forecasts against the catalog they were made from"):
        tarvo.verify(c, g)
