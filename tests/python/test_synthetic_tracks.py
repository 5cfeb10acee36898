"""Other tools' synthetic tracks in: CLIMADA's files as its writers make
them (TCTracks.write_hdf5 of CLIMADA 4 and later, the groups of CLIMADA 3,
write_netcdf's file a track and its folder, written here by xarray as
CLIMADA's code calls it), CLIMADA's TCTracks in memory (from_climada),
STORM's text and a CSV with named columns; orig_event_flag and id_no kept
through the forecast back into CLIMADA's files; every bad input named."""

import subprocess

import netCDF4
import numpy as np
import pandas as pd
import pytest
import xarray as xr

import tarvo
from conftest import BUILD

KT_PER_MS = 3600.0 / 1852.0


def climada_track(sid, lat, lon, wind, start="2005-08-23 18:00", step_h=6, unit="kn", orig=True, id_no=1,
                  times=None):
    """One track as CLIMADA keeps it in TCTracks.data."""
    n = len(lat)
    t = pd.date_range(start, periods=n, freq=f"{step_h}H").values if times is None else np.asarray(times, "datetime64[ns]")
    return xr.Dataset(
        {"time_step": ("time", np.full(n, float(step_h))), "radius_max_wind": ("time", np.full(n, 30.0)),
         "max_sustained_wind": ("time", np.asarray(wind, float)),
         "central_pressure": ("time", np.linspace(1005.0, 960.0, n)),
         "environmental_pressure": ("time", np.full(n, 1010.0)),
         "basin": ("time", np.full(n, "NA" if lon[0] < 0 or lon[0] > 180 else "WP", dtype="<U2"))},
        coords={"time": t, "lat": ("time", np.asarray(lat, float)), "lon": ("time", np.asarray(lon, float))},
        attrs={"max_sustained_wind_unit": unit, "central_pressure_unit": "mb", "name": sid.split("_")[0], "sid": sid,
               "orig_event_flag": orig, "data_provider": "ibtracs_usa", "id_no": id_no, "category": 3})


def tracks():
    """An original, two perturbed members (CLIMADA's sid_genK, orig_event_flag False, id_no + K/100),
    a track crossing 180 degrees, one in m/s, one with a gap of 12 h."""
    n = 12
    lat, lon = np.linspace(15, 26, n), np.linspace(-60, -75, n)
    wind = np.concatenate([np.linspace(35, 110, 8), np.linspace(105, 80, 4)])
    data = [climada_track("2005236N23285", lat, lon, wind, id_no=1)]
    for k in (1, 2):
        data.append(climada_track(f"2005236N23285_gen{k}", lat + 0.3 * k, lon - 0.2 * k, wind, orig=False,
                                  id_no=1 + k / 100))
    data.append(climada_track("2004230N13180", np.linspace(12, 20, n), np.linspace(174, 186, n) - 0.0, wind, id_no=2))
    data[-1]["lon"] = ("time", np.where(np.linspace(174, 186, n) > 180, np.linspace(174, 186, n) - 360,
                                        np.linspace(174, 186, n)))
    data.append(climada_track("2006250N14310", lat, lon + 5, wind / KT_PER_MS, unit="m/s", id_no=3))
    times = pd.date_range("2006-09-01 00:00", periods=n, freq="6H").values
    times = np.concatenate([times[:5], times[5:] + np.timedelta64(6, "h")])  # 12 h between the 5th and 6th fix
    data.append(climada_track("2006244N15300", lat, lon, wind, times=times, id_no=4))
    return data


def write_netcdf(data, folder):
    """TCTracks.write_netcdf: a file <sid>.nc a track, orig_event_flag an int."""
    folder.mkdir(exist_ok=True)
    for track in data:
        t = track.copy()
        t.attrs["orig_event_flag"] = int(t.attrs["orig_event_flag"])
        t.to_netcdf(folder / f"{t.sid}.nc")
    return folder


def write_hdf5(data, path):
    """TCTracks.write_hdf5 of CLIMADA 4 and later: the tracks combined along storm, steps along step,
    the attributes as variables of storm (zlib on the numbers: netCDF 4.9 takes no filter on strings)."""
    out = []
    for track in data:
        t = track.rename(time="step")
        t["time"] = ("step", t["step"].values)
        t["step"] = np.arange(t.sizes["step"])
        t.attrs["orig_event_flag"] = int(t.attrs["orig_event_flag"])
        out.append(t)
    combined = xr.combine_nested(out, concat_dim=["storm"])
    combined["storm"] = np.arange(combined.sizes["storm"])
    attrs = pd.DataFrame([t.attrs for t in out], index=combined["storm"].to_series())
    combined = xr.merge([combined, attrs.to_xarray()])
    encoding = {v: dict(zlib=True, complevel=5) for v in combined.data_vars if combined[v].dtype.kind not in "OUS"}
    combined.to_netcdf(path, encoding=encoding)
    return path


def write_groups(data, path):
    """CLIMADA 3's write_hdf5: a group a track, track0, track1, ..."""
    for i, track in enumerate(data):
        t = track.copy()
        t.attrs["orig_event_flag"] = int(t.attrs["orig_event_flag"])
        t.to_netcdf(path, group=f"track{i}", mode="w" if i == 0 else "a")
    return path


def check(ds, data):
    assert list(ds.sid.values) == [t.sid for t in data]
    assert list(ds.orig_event_flag.values) == [int(t.attrs["orig_event_flag"]) for t in data]
    np.testing.assert_allclose(ds.climada_id_no.values, [t.attrs["id_no"] for t in data])
    for i, t in enumerate(data):
        n = t.sizes["time"]
        kt = 1.0 if t.attrs["max_sustained_wind_unit"] == "kn" else KT_PER_MS
        np.testing.assert_allclose(ds.wind.values[i, :n], t.max_sustained_wind.values * kt, rtol=1e-6)
        np.testing.assert_allclose(ds.lat.values[i, :n], t.lat.values, rtol=1e-6)
        np.testing.assert_allclose(ds.lon.values[i, :n], t.lon.values, rtol=1e-6)
        assert (ds.time.values[i, :n] == t.time.values).all()
        assert ds.pressure.values[i, 0] == pytest.approx(1005.0)
    assert {str(b) for b, t in zip(ds.basin.values, data) if t.sid == "2004230N13180"} == {"wp"}
    assert {str(b) for b, t in zip(ds.basin.values, data) if t.sid.startswith("2005")} == {"al"}
    assert "CLIMADA" in ds.wind_source.values[0]


def test_climadas_files_read_as_its_writers_make_them(tmp_path):
    data = tracks()
    check(tarvo.read_tracks(write_hdf5(data, tmp_path / "tracks.h5")), data)
    check(tarvo.read_tracks(write_netcdf(data, tmp_path / "folder")), sorted(data, key=lambda t: t.sid))
    check(tarvo.read_tracks(write_groups(data, tmp_path / "legacy.h5")), data)
    one = tarvo.read_tracks(tmp_path / "folder" / "2005236N23285_gen1.nc")
    assert list(one.sid.values) == ["2005236N23285_gen1"] and one.orig_event_flag.values[0] == 0
    # In memory: a TCTracks (anything with .data) or its Datasets, without CLIMADA.
    class TCTracks:
        pass
    tc = TCTracks()
    tc.data = data
    check(tarvo.from_climada(tc), data)
    check(tarvo.from_climada(data), data)


def test_from_climada_refuses_what_is_not_a_track():
    with pytest.raises(TypeError, match="expected a TCTracks or a sequence"):
        tarvo.from_climada(tracks()[0])
    with pytest.raises(TypeError, match="track 1 is a str"):
        tarvo.from_climada([tracks()[0], "x"])
    bad = tracks()[0]
    del bad.attrs["max_sustained_wind_unit"]
    with pytest.raises(tarvo.InputError, match="2005236N23285.*no attribute max_sustained_wind_unit"):
        tarvo.from_climada([bad])


def run(*args):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True)


def test_synthetic_tracks_stay_synthetic_through_the_forecast_and_back_into_climada(world, tmp_path):
    data = tracks()[:4]
    folder = write_netcdf(data, tmp_path / "climada_in")
    assert run(BUILD / "tarvo-synth", "--risk", "--storms", "1", "--no-grids", tmp_path / "synth").returncode == 0
    r = run(BUILD / "tarvo-catalog", "import", folder, "--starts", "first+24h", "--history", "24",
            "--env", tmp_path / "synth" / "fields" / "present.nc", "--climatology", "-o", tmp_path / "tracks.nc")
    assert r.returncode == 0, r.stderr
    with xr.open_dataset(tmp_path / "tracks.nc") as c:  # the folder's files in the order of their names
        assert list(c.orig_event_flag.values) == [1, 1, 0, 0]
        np.testing.assert_allclose(c.climada_id_no.values, [2, 1, 1.01, 1.02])  # sorted by file name
        assert "CLIMADA" in c.attrs["tracks_wind"]
    r = run(BUILD / "tarvo-batch", "--data", world / "world" / "data", "--catalog", tmp_path / "tracks.nc", "--out",
            tmp_path / "out.nc", "--climada", tmp_path / "climada_out", "--climada-hdf5", tmp_path / "climada.h5")
    assert r.returncode == 0, r.stdout + r.stderr
    with xr.open_dataset(tmp_path / "out.nc") as f:
        assert list(f.orig_event_flag.values) == [1, 1, 0, 0]
        np.testing.assert_allclose(f.climada_id_no.values, [2, 1, 1.01, 1.02])
        forecasts = f.load()
    with netCDF4.Dataset(tmp_path / "climada.h5") as h:
        assert list(h["orig_event_flag"][:]) == [1, 1, 0, 0]
        assert h["id_no"].dtype == np.float64
        np.testing.assert_allclose(h["id_no"][:], [2, 1, 1.01, 1.02])
    # Read back: the forecasts' tracks, as CLIMADA will see them.
    for back in (tarvo.read_tracks(tmp_path / "climada.h5"), tarvo.read_tracks(tmp_path / "climada_out")):
        sids = list(forecasts.sid.values)
        order = [list(back.sid.values).index(s) for s in sids]
        assert list(back.orig_event_flag.values[order]) == [1, 1, 0, 0]
        for i, j in enumerate(order):
            keep = np.isfinite(forecasts.max_sustained_wind.values[i])
            n = keep.sum()
            np.testing.assert_allclose(back.wind.values[j, :n], forecasts.max_sustained_wind.values[i][keep], rtol=1e-6)
            np.testing.assert_allclose(back.lat.values[j, :n], forecasts.lat.values[i][keep], rtol=1e-6)
            lon = (back.lon.values[j, :n] - forecasts.lon.values[i][keep] + 180) % 360 - 180
            np.testing.assert_allclose(lon, 0, atol=1e-4)
            assert (back.time.values[j, :n] == forecasts.time.values[i][keep]).all()


def write_storm(path, rows):
    path.write_text("".join(",".join(str(v) for v in r) + "\n" for r in rows))
    return path


def storm_rows():
    """Two cyclones of STORM's year 3 in the North Atlantic, 3-hourly: year, month, number, step, basin,
    lat, lon, pressure, wind (10-minute, m/s), radius, category, landfall, distance to land."""
    rows = []
    for number, (lat0, lon0) in enumerate([(14.0, 310.0), (16.0, 300.0)]):
        for step in range(12):
            rows.append([3, 9, number, step, 1, lat0 + 0.2 * step, lon0 - 0.5 * step, 1000 - step,
                         20.0 + step, 40.0, 1, 0, 500.0])
    return rows


def test_storms_text_its_ten_minute_winds_made_one_minute(tmp_path):
    path = write_storm(tmp_path / "STORM_DATA_IBTRACS_NA_1000_YEARS_7.txt", storm_rows())
    ds = tarvo.read_tracks(path)
    assert list(ds.sid.values) == ["STORM_NA_7_0003_00", "STORM_NA_7_0003_01"]
    assert list(ds.basin.values) == ["al", "al"]
    # 10-minute m/s to 1-minute kt: times 3600/1852 and 1/0.88.
    np.testing.assert_allclose(ds.wind.values[0, :12], (20.0 + np.arange(12)) * KT_PER_MS / 0.88, rtol=1e-6)
    np.testing.assert_allclose(ds.lon.values[0, :12], 310.0 - 0.5 * np.arange(12), rtol=1e-6)
    # Its cyclones start on day 1 of their month at 00 UTC of 2001, 3-hourly.
    assert ds.time.values[0, 0] == np.datetime64("2001-09-01T00:00")
    assert ds.time.values[0, 11] == np.datetime64("2001-09-02T09:00")
    assert "10-minute" in ds.wind_source.values[0]
    rows = storm_rows()
    rows[5] = rows[5][:12]
    bad = write_storm(tmp_path / "STORM_bad_0.txt", rows)
    with pytest.raises(tarvo.InputError, match=r"STORM_bad_0.txt, line 6: expected STORM's 13 comma-separated numbers"):
        tarvo.read_tracks(bad, format="storm")
    rows = storm_rows()
    rows[5][3] = 7
    with pytest.raises(tarvo.InputError, match=r"line 6: time step 7 follows 4 in cyclone STORM_NA_0_0003_00"):
        tarvo.read_tracks(write_storm(tmp_path / "STORM_gap_0.txt", rows), format="storm")


def test_a_csv_with_named_columns(tmp_path):
    csv = tmp_path / "tracks.csv"
    csv.write_text("id,when,y,x,ws,p\n"
                   "A,2010-08-01 00:00,15.0,-50.0,20.0,1000\n"
                   "B,2010-08-02T06:00Z,12.0,140.0,30.0,990\n"
                   "A,2010-08-01 06:00,15.5,-51.0,25.0,998\n"
                   "A,2010081012,16.0,-52.0,,996\n")
    ds = tarvo.read_tracks(csv, format="csv",
                           columns="sid=id,time=when,lat=y,lon=x,vmax=ws,pressure=p,unit=m/s,averaging=10,basin=al")
    assert list(ds.sid.values) == ["A", "B"]
    assert ds.time.values[0, 1] == np.datetime64("2010-08-01T06:00")
    np.testing.assert_allclose(ds.wind.values[0, :2], np.array([20.0, 25.0]) * KT_PER_MS / 0.88, rtol=1e-6)
    assert np.isnan(ds.wind.values[0, 2])  # a fix without a wind is kept as such
    np.testing.assert_allclose(ds.pressure.values[1, 0], 990.0)
    with pytest.raises(tarvo.InputError, match=r"--columns names no vmax column"):
        tarvo.read_tracks(csv, format="csv", columns="sid=id,time=when,lat=y,lon=x,basin=al")
    with pytest.raises(tarvo.InputError, match=r"tracks.csv, line 1: the header has no column wind \(for vmax\)"):
        tarvo.read_tracks(csv, format="csv", columns="sid=id,time=when,lat=y,lon=x,vmax=wind,basin=al")
    with pytest.raises(tarvo.InputError, match=r"a CSV needs its columns named"):
        tarvo.read_tracks(csv, format="csv")
    back = tmp_path / "back.csv"
    back.write_text("id,when,y,x,ws\nA,2010-08-01 06:00,15,-50,20\nA,2010-08-01 00:00,15,-50,20\n")
    with pytest.raises(tarvo.InputError, match=r"back.csv, line 3: storm A: its time .* times go backwards"):
        tarvo.read_tracks(back, format="csv", columns="sid=id,time=when,lat=y,lon=x,vmax=ws,basin=al")
    with pytest.raises(TypeError, match="columns must be a str"):
        tarvo.read_tracks(csv, format="csv", columns={"sid": "id"})


def test_bad_climada_files_are_named(tmp_path):
    data = tracks()[:2]
    folder = write_netcdf(data, tmp_path / "f")
    with netCDF4.Dataset(folder / "2005236N23285.nc", "a") as d:
        d.delncattr("max_sustained_wind_unit")
    with pytest.raises(tarvo.InputError, match=r"2005236N23285.nc: track 2005236N23285: no max_sustained_wind_unit"):
        tarvo.read_tracks(folder)
    combined = write_hdf5(data, tmp_path / "c.h5")
    with netCDF4.Dataset(combined, "a") as d:
        d.renameVariable("max_sustained_wind_unit", "unit")
    with pytest.raises(tarvo.InputError, match=r"c.h5: no variable max_sustained_wind_unit"):
        tarvo.read_tracks(combined)
    knots = tracks()[:1]
    knots[0].attrs["max_sustained_wind_unit"] = "beaufort"
    with pytest.raises(tarvo.InputError, match=r"max_sustained_wind_unit 'beaufort' is not a unit of wind speed"):
        tarvo.read_tracks(write_hdf5(knots, tmp_path / "b.h5"))
    back = tracks()[:1]
    back[0]["time"] = back[0].time.values[::-1]
    with pytest.raises(tarvo.InputError, match=r"track 2005236N23285: its times do not increase"):
        tarvo.read_tracks(write_netcdf(back, tmp_path / "back"))
    r = run(BUILD / "tarvo-catalog", "import", tmp_path / "back", "-o", tmp_path / "x.nc")
    assert r.returncode == 2 and "its times do not increase" in r.stderr
    empty = tmp_path / "empty"
    empty.mkdir()
    with pytest.raises(tarvo.InputError, match="holds no .nc file"):
        tarvo.read_tracks(empty)
