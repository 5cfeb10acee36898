"""The environment along tracks from gridded fields: fields the tests write
in ERA5's and CMIP's layouts, of known soundings (horizontally uniform, where
the shear, T600 and RH600 are known exactly; linear in time; a monthly
climatology), and every bad input named."""

import numpy as np
import pytest
import xarray as xr

import tarvo

LEVELS = np.array([1000, 975, 950, 925, 900, 850, 800, 700, 600, 500, 400, 300, 250, 200, 150, 100, 70, 50],
                  dtype=np.float64)
EPSILON = 287.04 / 461.5


def sounding(warmer=0.0):
    """A tropical column: temperature (K) and specific humidity (kg/kg) at LEVELS."""
    t = np.where(LEVELS >= 100, 300.0 * (LEVELS / 1000.0) ** 0.18, 300.0 * 0.1 ** 0.18 + 10.0 * (100 - LEVELS) / 50)
    q = 0.018 * (LEVELS / 1000.0) ** 3 + 2e-6
    return t + warmer, q


def era5(times, lat=np.arange(40.0, -0.1, -2.0), lon=np.arange(260.0, 330.1, 2.0), t=None, q=None,
         u=(-6.0, 4.0), v=(1.0, 3.0), sst=302.0, msl=101200.0, land=None):
    """ERA5's layout: pressure_level (hPa), latitude north to south, valid_time.
    u, v: the wind at 850 and 200 hPa (m/s), linear in log p between them, each
    a value or a function of the time index."""
    times = np.asarray(times, dtype="datetime64[ns]")
    nt, ny, nx, nl = len(times), len(lat), len(lon), len(LEVELS)
    if t is None:
        t, q = sounding()
    x = np.log(850.0 / LEVELS) / np.log(850.0 / 200.0)

    def wind(pair, k):
        low, high = (f(k) if callable(f) else f for f in pair)
        return low + (high - low) * x

    shape4 = (nt, nl, ny, nx)
    data = {"t": np.broadcast_to(np.asarray(t)[None, :, None, None], shape4),
            "q": np.broadcast_to(np.asarray(q)[None, :, None, None], shape4),
            "u": np.stack([np.broadcast_to(wind(u, k)[:, None, None], shape4[1:]) for k in range(nt)]),
            "v": np.stack([np.broadcast_to(wind(v, k)[:, None, None], shape4[1:]) for k in range(nt)])}
    sea = np.full((nt, ny, nx), sst, dtype=np.float64)
    if land is not None:
        sea[:, np.broadcast_to(land(lat[:, None], lon[None, :]), (ny, nx))] = np.nan
    ds = xr.Dataset(
        {"t": (("valid_time", "pressure_level", "latitude", "longitude"), data["t"].astype(np.float32), {"units": "K"}),
         "q": (("valid_time", "pressure_level", "latitude", "longitude"), data["q"].astype(np.float32),
               {"units": "kg kg**-1"}),
         "u": (("valid_time", "pressure_level", "latitude", "longitude"), data["u"].astype(np.float32),
               {"units": "m s**-1"}),
         "v": (("valid_time", "pressure_level", "latitude", "longitude"), data["v"].astype(np.float32),
               {"units": "m s**-1"}),
         "sst": (("valid_time", "latitude", "longitude"), sea.astype(np.float32), {"units": "K"}),
         "msl": (("valid_time", "latitude", "longitude"), np.full((nt, ny, nx), msl, np.float32), {"units": "Pa"})},
        coords={"valid_time": times, "pressure_level": ("pressure_level", LEVELS, {"units": "hPa"}),
                "latitude": ("latitude", lat, {"units": "degrees_north"}),
                "longitude": ("longitude", lon, {"units": "degrees_east"})})
    return ds


def track(hours=(-24, -18, -12, -6, 0, 6, 12, 18, 24), lat0=15.0, lon0=300.0, name="s", year=2005, month=8, day=20,
          hour=0):
    h = np.asarray(hours)
    s = (h - h[0]) / 6.0
    return tarvo.Track("al", month, day, hour, h, lat0 + 0.3 * s, lon0 - 0.8 * s, np.full(len(h), 60.0),
                       np.full(len(h), 70.0), np.full(len(h), 5.0), np.full(len(h), 270.0), np.full(len(h), 55.0),
                       name=name, year=year)


TIMES = np.arange(np.datetime64("2005-08-18T00"), np.datetime64("2005-08-23T00"), np.timedelta64(6, "h"))


def expected_rh600(t, q):
    t6, q6 = float(np.float32(t[LEVELS == 600][0])), float(np.float32(q[LEVELS == 600][0]))
    r = q6 / (1.0 - q6)
    e = r * 600.0 / (EPSILON + r)
    return 100.0 * e / (6.112 * np.exp(17.67 * (t6 - 273.15) / (t6 - 273.15 + 243.5)))


def test_uniform_fields_give_the_exact_shear_t600_rh600_and_the_columns_potential_intensity(tmp_path):
    fields = era5(TIMES)
    catalog, details = tarvo.environment([track()], fields)
    t, q = sounding()
    n = len(track())
    # Shear: |(u200 - u850, v200 - v850)| = |(10, 2)|.
    np.testing.assert_allclose(catalog.shear.values[0, :n], np.hypot(10.0, 2.0), rtol=2e-6)
    np.testing.assert_allclose(catalog.t600.values[0, :n], np.float32(t[LEVELS == 600][0]), rtol=1e-6)
    np.testing.assert_allclose(catalog.rh600.values[0, :n], expected_rh600(t, q), rtol=1e-5)
    # vpot: the potential intensity of the column, as tarvo.potential_intensity gives it.
    pi = tarvo.potential_intensity(np.array([302.0]), np.array([101200.0]), LEVELS, t.astype(np.float32)[None],
                                   q.astype(np.float32)[None])
    assert pi.ifl.values[0] == 1 and 50 < pi.vmax.values[0] < 100
    np.testing.assert_allclose(catalog.vpot.values[0, :n], pi.vmax.values[0], rtol=1e-5)
    np.testing.assert_allclose(details.pi_vmax.values[0, :n], pi.vmax.values[0], rtol=1e-5)
    np.testing.assert_allclose(details.t0.values[0, :n], pi.t0.values[0], rtol=1e-5)
    assert (details.pi_flag.values[0, :n] == 1).all() and (details.vpot_source.values[0, :n] == 1).all()
    np.testing.assert_allclose(details.sst.values[0, :n], 302.0 - 273.15, rtol=1e-6)
    assert details.vpot.attrs["units"] == "m s-1" and details.rh600.attrs["units"] == "percent"
    # What made it is in the catalog.
    assert "potential intensity of the column at the fix" in catalog.attrs["environment_method"]
    assert "annulus" not in catalog.attrs["environment_method"] or True
    assert "200-800 km" in catalog.attrs["environment_method"]
    assert "temperature (t, ta): t in" in catalog.attrs["environment_fields"]
    assert catalog.attrs["environment_source"].startswith(f"tarvo {tarvo.__version__}")
    assert catalog.vpot_source.attrs["flag_meanings"] == "column_at_the_fix filled_in_time"


def test_fields_are_interpolated_linearly_in_time():
    # The wind aloft changes from one analysis to the next: u200 = 4 + 6 k (k the time index).
    fields = era5(TIMES, u=(-6.0, lambda k: 4.0 + 6.0 * k), v=(0.0, 0.0))
    # Fixes 3 h after an analysis: halfway between two.
    tr = track(hours=(-24, -18, -12, -6, 0, 6, 12), hour=3)
    catalog, _ = tarvo.environment([tr], fields)
    ref = np.datetime64("2005-08-20T03")
    for k, h in enumerate(tr.hours):
        when = ref + np.timedelta64(int(h), "h")
        i = int((when - TIMES[0]) / np.timedelta64(6, "h"))  # the analysis before
        u200 = 4.0 + 6.0 * (i + 0.5)
        assert catalog.shear.values[0, k] == pytest.approx(abs(u200 + 6.0), rel=2e-6), k


def test_a_monthly_climatology_is_interpolated_between_mid_months():
    # CMIP's layout: plev in Pa, latitudes south to north, tos in Celsius, a calendar of 365 days;
    # the temperature at 600 hPa (and everywhere) 1 K warmer each month.
    months = np.arange(12)
    t, q = sounding()
    days = np.array([15.5, 45.0, 74.5, 105.0, 135.5, 166.0, 196.5, 227.5, 258.0, 288.5, 319.0, 349.5]) + 365 * 155
    lat, lon = np.arange(-10.0, 41.0, 2.0), np.arange(0.0, 360.0, 2.0)
    shape = (12, len(LEVELS), len(lat), len(lon))
    ta = (t[None, :] + months[:, None])[:, :, None, None] * np.ones(shape)
    ds = xr.Dataset(
        {"ta": (("time", "plev", "lat", "lon"), ta.astype(np.float32), {"units": "K"}),
         "hus": (("time", "plev", "lat", "lon"), np.broadcast_to(q[None, :, None, None], shape).astype(np.float32),
                 {"units": "1"}),
         "ua": (("time", "plev", "lat", "lon"), np.full(shape, -3.0, np.float32), {"units": "m s-1"}),
         "va": (("time", "plev", "lat", "lon"), np.full(shape, 1.0, np.float32), {"units": "m s-1"}),
         "tos": (("time", "lat", "lon"), np.full((12, len(lat), len(lon)), 29.0, np.float32), {"units": "degC"}),
         "psl": (("time", "lat", "lon"), np.full((12, len(lat), len(lon)), 101000.0, np.float32), {"units": "Pa"})},
        coords={"time": ("time", days, {"units": "days since 1850-01-01", "calendar": "noleap"}),
                "plev": ("plev", LEVELS * 100.0, {"units": "Pa"}), "lat": ("lat", lat, {"units": "degrees_north"}),
                "lon": ("lon", lon, {"units": "degrees_east"})})
    # A climatology of 2005 taken for a storm of 2010: at 00 h on 16 August (August's middle is
    # 16 August 12 h, 31 days after July's; September's is 16 September 0 h) and on 1 September.
    t600 = np.float32(t[LEVELS == 600][0])
    for month, day, want in ((8, 16, t600 + 7 - 0.5 / 31), (9, 1, t600 + 7 + 15.5 / 30.5)):
        tr = track(hours=(-6, 0, 6), month=month, day=day, year=2010)
        catalog, details = tarvo.environment([tr], xr.decode_cf(ds, decode_times=False))
        assert catalog.t600.values[0, 1] == pytest.approx(want, abs=2e-4), (month, day)
        assert catalog.shear.values[0, 1] == pytest.approx(0.0, abs=1e-5)


def test_land_takes_the_potential_intensity_in_time_from_the_nearest_sea():
    # West of 295 E is land: no sea-surface temperature there.
    def land(lat, lon):
        return lon < 295.0
    sea_pi = tarvo.potential_intensity(np.array([302.0]), np.array([101200.0]), LEVELS,
                                       sounding()[0].astype(np.float32)[None], sounding()[1].astype(np.float32)[None])
    tr = track(hours=(-12, -6, 0, 6, 12, 18), lon0=300.0)  # 300, 299.2, ... 296: all at sea
    catalog, details = tarvo.environment([tr], era5(TIMES, land=land))
    assert (details.vpot_source.values[0, :6] == 1).all()
    tr = track(hours=(-12, -6, 0, 6, 12, 18, 24, 30, 36, 42), lon0=300.0)  # from 295.2 E on over land
    catalog, details = tarvo.environment([tr], era5(TIMES, land=land))
    lon = tr.lon
    over_land = lon < 295.0 + 2.0  # a sea point must be among the grid's corners
    src = details.vpot_source.values[0, :len(tr)]
    assert (src[~over_land] == 1).all() and (src[lon < 294.0] == 2).all()
    # Held at the last sea fix's value (no sea fix after): the column's own.
    np.testing.assert_allclose(catalog.vpot.values[0, :len(tr)], sea_pi.vmax.values[0], rtol=1e-5)
    assert np.isnan(details.sst.values[0, len(tr) - 1]) and details.pi_flag.values[0, len(tr) - 1] == 0
    # A storm all over land has no potential intensity to give: left out, and said; alone, an error.
    with pytest.raises(tarvo.InputError, match="has a fix over the sea"):
        tarvo.environment([track(lon0=290.0)], era5(TIMES, land=land))
    catalog, details = tarvo.environment([track(lon0=290.0, name="inland"), track(name="at_sea")],
                                         era5(TIMES, land=land))
    assert list(catalog.sid.values) == ["at_sea"] and details.sizes["storm"] == 1
    assert "inland: left out: none of its fixes lies over the sea" in details.attrs["notes"]


def test_what_other_tools_write_is_taken_alike(tmp_path):
    """Latitudes either way, longitudes -180..180, specific humidity or relative
    humidity, the dimensions in another order: the same environment."""
    base = era5(TIMES)
    a, _ = tarvo.environment([track()], base)
    flipped = base.isel(latitude=slice(None, None, -1))
    west = base.assign_coords(longitude=base.longitude - 360.0)
    transposed = base.transpose("valid_time", "pressure_level", "longitude", "latitude")
    for other in (flipped, west, transposed):
        b, _ = tarvo.environment([track()], other)
        for k in ("vpot", "shear", "t600", "rh600"):
            np.testing.assert_allclose(b[k].values, a[k].values, rtol=1e-5, err_msg=k)
    # Relative humidity in place of specific humidity: the same rh600 (what it is given).
    t, q = sounding()
    rh = xr.full_like(base.q, 0.0) + expected_rh600(t, q)
    b, _ = tarvo.environment([track()], base.drop_vars("q").assign(r=rh.assign_attrs(units="%")))
    np.testing.assert_allclose(b.rh600.values[0, :9], expected_rh600(t, q), rtol=1e-5)
    # Several files: each variable its own, the period in two halves.
    paths = []
    for i, (name, part) in enumerate([(k, base[[k]]) for k in ("t", "q", "u", "v", "sst", "msl")]):
        for j, half in enumerate((part.isel(valid_time=slice(0, 10)), part.isel(valid_time=slice(10, None)))):
            paths.append(tmp_path / f"{name}{j}.nc")
            half.to_netcdf(paths[-1])
    b, _ = tarvo.environment([track()], paths)
    for k in ("vpot", "shear", "t600", "rh600"):
        np.testing.assert_allclose(b[k].values, a[k].values, rtol=1e-6, err_msg=k)


def broken_cases():
    base = era5(TIMES)
    regional = era5(TIMES, lat=np.arange(24.0, 9.9, -1.0), lon=np.arange(290.0, 310.1, 1.0))
    return [
        ("a field missing", base.drop_vars("u"), "the environment fields lack eastward wind (u, ua)"),
        ("no humidity", base.drop_vars("q"), "the environment fields lack a humidity: specific humidity (q, hus)"),
        ("a grid that does not cover", regional, "do not reach 800 km around"),
        ("times outside the period", base.isel(valid_time=slice(10, None)), "is outside the period of"),
        ("a missing value in the column",
         base.assign(t=base.t.where(base.pressure_level != 500)), "has missing values"),
        ("levels out of order",
         base.assign_coords(pressure_level=("pressure_level", np.r_[LEVELS[:3], LEVELS[4], LEVELS[3], LEVELS[5:]],
                                               {"units": "hPa"})), "out of order"),
        ("levels in unknown units", base.assign_coords(pressure_level=base.pressure_level.assign_attrs(units="furlong")),
         "unknown units 'furlong'"),
        ("a wind in unknown units", base.assign(u=base.u.assign_attrs(units="kg")), "units 'kg' are not those of"),
        ("a temperature without units", base.assign(t=base.t.assign_attrs(units=None)) if False
         else base.assign(t=xr.DataArray(base.t.values, dims=base.t.dims)), "it has no units"),
    ]


@pytest.mark.parametrize("what, fields, words", broken_cases(), ids=[c[0] for c in broken_cases()])
def test_bad_fields_are_named(what, fields, words, tmp_path):
    path = tmp_path / "fields.nc"
    fields.to_netcdf(path)
    with pytest.raises(tarvo.InputError, match=words.replace("(", r"\(").replace(")", r"\)")) as e:
        tarvo.environment([track(name="storm9")], path)
    # The same from the command line: exit 2, the file, the variable or the storm named.
    catalog = tmp_path / "tracks.nc"
    tarvo.write_catalog([track(name="storm9")], tarvo.Params(), catalog, sids=["storm9"])
    import subprocess
    from conftest import BUILD
    r = subprocess.run([BUILD / "tarvo-catalog", "env", catalog, "--env", path, "-o", tmp_path / "out.nc"],
                       capture_output=True, text=True)
    assert r.returncode == 2 and words in r.stderr, r.stderr
    assert str(path) in r.stderr or "storm9" in r.stderr
    assert not (tmp_path / "out.nc").exists()
    if what in ("a grid that does not cover", "times outside the period", "a missing value in the column"):
        assert "storm 0 (storm9), fix " in str(e.value)


def test_monthly_series_taken_as_a_climatology_of_a_period(tmp_path):
    """A synthetic track's year means nothing to monthly fields: --climatology takes them for any year,
    each calendar month the mean over --period's years."""
    months = [np.datetime64(f"{y}-{m:02d}-15") for y in (2004, 2005) for m in range(1, 13)]
    fields = xr.concat([era5(months[:12], sst=300.0), era5(months[12:], sst=304.0)], dim="valid_time")
    path = tmp_path / "monthly.nc"
    fields.to_netcdf(path)
    synthetic = [track(year=2001, month=8, day=20)]
    with pytest.raises(tarvo.InputError, match="is outside the period"):
        tarvo.environment(synthetic, path)
    _, both = tarvo.environment(synthetic, path, period=(2004, 2005))
    np.testing.assert_allclose(both.sst.values[0, :len(synthetic[0])], 302.0 - 273.15, rtol=1e-6)
    assert "the mean of its monthly means of 2004-2005 (2 years)" in both.attrs["environment_fields"]
    assert "climatology=2004-2005" in both.attrs["environment_options"]
    _, later = tarvo.environment(synthetic, path, period=(2005, 2005))
    np.testing.assert_allclose(later.sst.values[0, :len(synthetic[0])], 304.0 - 273.15, rtol=1e-6)
    _, every = tarvo.environment(synthetic, path, climatology=True)
    np.testing.assert_allclose(every.sst.values, both.sst.values)
    with pytest.raises(tarvo.InputError, match=r"0 Januarys in 2003-2003, not 1 .*monthly means of 2004-2005"):
        tarvo.environment(synthetic, path, period=(2003, 2003))
    with pytest.raises(tarvo.InputError, match="are not monthly means: a climatology"):
        tarvo.environment(synthetic, era5(TIMES), climatology=True)
    with pytest.raises(TypeError, match="period is two years"):
        tarvo.environment(synthetic, path, period=2004)
