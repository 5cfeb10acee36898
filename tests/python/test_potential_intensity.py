"""tarvo.potential_intensity over numpy and xarray arrays: xarray's
broadcasting, units from the attributes, levels either way up, the flags, and
inputs in the wrong units refused."""

import numpy as np
import pytest
import xarray as xr

import tarvo

P = np.array([1000, 975, 950, 925, 900, 850, 800, 700, 600, 500, 400, 300, 250, 200, 150, 100, 70, 50], np.float64)


def column(surface_k=300.0, humid=0.018):
    """Temperature (K) and specific humidity (kg/kg) of a tropical column at P."""
    t = np.where(P >= 100, surface_k * (P / 1000.0) ** 0.18, surface_k * 0.1 ** 0.18 + 10.0 * (100 - P) / 50)
    return t, humid * (P / 1000.0) ** 3 + 2e-6


def test_one_column_and_its_outflow():
    t, q = column()
    pi = tarvo.potential_intensity(302.0, 101200.0, P, t, q)
    assert int(pi.ifl) == 1
    assert 50 < float(pi.vmax) < 100 and 880 < float(pi.pmin) < 1000
    assert 180 < float(pi.t0) < 240 and 70 < float(pi.otl) < 300
    assert pi.vmax.attrs["units"] == "m s-1" and pi.pmin.attrs["units"] == "hPa" and pi.t0.attrs["units"] == "K"


def test_xarray_broadcasts_like_the_fields_tools():
    # Temperature over (time, level, lat, lon), the sea's over (lat, lon) only, one sea-level pressure.
    t0, q0 = column()
    warm = xr.DataArray([0.0, 1.5], dims="time")
    lat = xr.DataArray([10.0, 15.0, 20.0], dims="lat")
    lon = xr.DataArray([280.0, 300.0], dims="lon")
    level = xr.DataArray(P, dims="level", attrs={"units": "hPa"})
    t = (xr.DataArray(t0, dims="level") + warm + 0 * lat + 0 * lon).transpose("time", "level", "lat", "lon")
    t.attrs["units"] = "K"
    q = xr.DataArray(q0, dims="level", attrs={"units": "kg kg**-1"})
    sst = (301.0 + 0.1 * (lat - 10) + 0 * lon).assign_attrs(units="K")
    msl = xr.DataArray(101000.0, attrs={"units": "Pa"})
    pi = tarvo.potential_intensity(sst, msl, level, t, q)
    assert pi.vmax.dims == ("time", "lat", "lon")
    for i in range(2):
        for j in range(3):
            one = tarvo.potential_intensity(float(sst[j, 0]), 101000.0, P, t0 + float(warm[i]), q0)
            assert pi.vmax.values[i, j, 1] == one.vmax.values and pi.t0.values[i, j, 0] == one.t0.values
    # Warmer air over the same sea: less.
    assert (pi.vmax.isel(time=1) < pi.vmax.isel(time=0)).all()


def test_units_from_the_attributes_and_levels_either_way_up():
    t, q = column()
    base = tarvo.potential_intensity(302.0, 101200.0, P, t, q)
    other = tarvo.potential_intensity(
        xr.DataArray(302.0 - 273.15, attrs={"units": "degC"}), xr.DataArray(1012.0, attrs={"units": "hPa"}),
        xr.DataArray(P[::-1] * 100.0, dims="plev", attrs={"units": "Pa"}),
        xr.DataArray(t[::-1] - 273.15, dims="plev", attrs={"units": "degC"}),
        xr.DataArray(q[::-1] * 1000.0, dims="plev", attrs={"units": "g kg-1"}))
    np.testing.assert_allclose(other.vmax.values, base.vmax.values, rtol=1e-9)
    np.testing.assert_allclose(other.pmin.values, base.pmin.values, rtol=1e-9)
    # The mixing ratio given as such.
    mixing = tarvo.potential_intensity(302.0, 101200.0, P, t, q / (1 - q), humidity="mixing_ratio")
    np.testing.assert_allclose(mixing.vmax.values, base.vmax.values, rtol=1e-12)


def test_flags_and_no_numbers_where_there_is_no_result():
    t, q = column()
    gap = t.copy()
    gap[8] = np.nan
    pi = tarvo.potential_intensity(np.array([302.0, 278.0, np.nan, 302.0]), 101200.0, P,
                                   np.stack([t, t, t, gap]), q)
    assert list(pi.ifl.values) == [1, 0, 0, 3]
    assert np.isfinite(pi.vmax.values[0]) and np.isnan(pi.vmax.values[1:]).all() and np.isnan(pi.t0.values[1:]).all()
    # Told to skip levels missing under the ground.
    under = t.copy()
    under[0] = np.nan
    skip = tarvo.potential_intensity(302.0, 101200.0, P, under, q, missing="skip")
    assert int(skip.ifl) == 1
    # No exchange of enthalpy: no wind.
    assert float(tarvo.potential_intensity(302.0, 101200.0, P, t, q, ckcd=0.0).vmax) == 0.0


@pytest.mark.parametrize("args, words", [
    ((29.0, 101200.0, P, None, None), "sst is in K for numpy arrays"),
    ((302.0, 1012.0, P, None, None), "msl is in Pa for numpy arrays"),
    ((302.0, 101200.0, P * 100, None, None), "p is in hPa for numpy arrays"),
    ((302.0, 101200.0, P[:5], None, None), "along their last axis"),
    ((302.0, 101200.0, np.r_[P[:3], P[4], P[3], P[5:]], None, None), "not in order"),
])
def test_wrong_inputs_are_refused(args, words):
    t, q = column()
    sst, msl, p, _, _ = args
    with pytest.raises(tarvo.InputError, match=words):
        tarvo.potential_intensity(sst, msl, p, t, q)


def test_wrong_units_in_xarray_are_named():
    t, q = column()
    lev = xr.DataArray(P, dims="lev", attrs={"units": "hPa"})
    tt = xr.DataArray(t, dims="lev", attrs={"units": "K"})
    qq = xr.DataArray(q, dims="lev", attrs={"units": "kg kg-1"})
    with pytest.raises(tarvo.InputError, match="sst has units 'furlong'"):
        tarvo.potential_intensity(xr.DataArray(302.0, attrs={"units": "furlong"}), 101200.0, lev, tt, qq)
    with pytest.raises(tarvo.InputError, match="t is in K after its units"):
        tarvo.potential_intensity(302.0, 101200.0, lev, tt.assign_attrs(units="degC"), qq)
    with pytest.raises(tarvo.InputError, match="no dimension 'lev'"):
        tarvo.potential_intensity(302.0, 101200.0, lev, tt.rename(lev="level"), qq)
    with pytest.raises(tarvo.InputError, match="humidity is 'specific' or 'mixing_ratio'"):
        tarvo.potential_intensity(302.0, 101200.0, lev, tt, qq, humidity="relative")


def test_the_parcel_starts_at_the_first_level_as_the_published_code_unless_told():
    t, q = column()
    first = tarvo.potential_intensity(302.0, 101200.0, P, t, q)
    above = tarvo.potential_intensity(302.0, 101200.0, P, t, q, parcel="above")
    assert 0.0 < float(first.vmax - above.vmax) < 1.5
    with pytest.raises(tarvo.InputError, match="parcel is 'first' or 'above'"):
        tarvo.potential_intensity(302.0, 101200.0, P, t, q, parcel="lowest")
