"""The environment along tracks from gridded fields, and the potential
intensity of columns (Bister and Emanuel 2002, as pyPI v1.3 computes it)."""

import numpy as np
import xarray as xr

from . import _core, _files
from ._errors import InputError
from ._track import Track

_PER_FIX = {  # name: units, long name
    "vpot": ("m s-1", "potential intensity along the track (filled in time where the column has none)"),
    "shear": ("m s-1", "wind shear between the two levels, each averaged over the annulus"),
    "t600": ("K", "temperature at the middle level, averaged over the annulus"),
    "rh600": ("percent", "relative humidity at the middle level, averaged over the annulus"),
    "sst": ("degC", "sea-surface temperature at the fix (NaN over land)"),
    "msl": ("hPa", "mean sea-level pressure at the fix"),
    "pi_vmax": ("m s-1", "potential intensity of the column at the fix"),
    "pi_pmin": ("hPa", "minimum central pressure of the column at the fix"),
    "t0": ("K", "outflow temperature"),
    "otl": ("hPa", "outflow level"),
    "pi_flag": ("1", "the algorithm's flag: 1 ok, 0 no result (land, cold sea, no convergence), 2 CAPE not converged, "
                     "3 missing values"),
    "vpot_source": ("1", "1 the column at the fix, 2 filled in time"),
}


def environment(tracks, fields, ckcd=0.9, ascent="reversible", dissipative_heating=True, wind_reduction=0.8,
                ptop=50.0, missing="fail", annulus=(200.0, 800.0), shear_levels=(200.0, 850.0), mid_level=600.0,
                parcel="first", *, climatology: bool = False, period=None):
    """The environment along tracks: at every fix the potential intensity
    (``vpot``), the shear, and the temperature and relative humidity of the
    middle level, from gridded fields.

    Parameters
    ----------
    tracks : xarray.Dataset, path, or sequence of Track
        A catalog (:func:`hindcast_starts`, :func:`read_catalog`'s file), its
        environment missing or to replace.
    fields : path, xarray.Dataset, or a sequence of them
        CF-NetCDF fields on pressure levels and at the surface: temperature,
        a humidity (specific humidity, mixing ratio or relative humidity), the
        two wind components, the sea-surface temperature and the mean sea-level
        pressure; ERA5's and CMIP's names and units (docs/real-storms.md).
        Analyses are interpolated linearly in time; monthly means between
        mid-months (12 months of one year: a climatology for any year).
    ckcd, ascent, dissipative_heating, wind_reduction, ptop, missing
        Of the potential intensity: Ck/Cd; "reversible" or "pseudo" ascent;
        dissipative heating; the reduction from the gradient wind to the 10-m
        wind; the pressure (hPa) above which levels are ignored; "fail" on a
        column with missing values, or "skip" the levels below its lowest valid one.
    parcel : {"first", "above"}
        Where a lifted parcel's CAPE is integrated from: the column's first
        level, as the published code does (the default; its potential
        intensities are the field's), or the lowest level at or above the
        parcel's pressure, as that code's comment reads (0.1 to 0.9 m/s less).
    annulus : (float, float)
        Inner and outer radius (km) of the annulus the shear, temperature and
        humidity are averaged over.
    shear_levels : (float, float)
        The upper and lower level (hPa) of the shear.
    mid_level : float
        The level (hPa) of ``t600`` and ``rh600``.
    climatology : bool
        Take monthly fields as a 12-month climatology whatever the tracks'
        years (synthetic tracks: their years mean nothing to a reanalysis);
        the catalog says so.
    period : (int, int), optional
        With a monthly series: each calendar month the mean of these years
        (1991, 2020); implies ``climatology``.

    Returns
    -------
    (xarray.Dataset, xarray.Dataset)
        The catalog with its environment, and the per-fix details (dimensions
        ``storm`` and ``step``): ``vpot``, ``shear``, ``t600``, ``rh600``,
        ``sst``, ``msl``, the column's ``pi_vmax``, ``pi_pmin``, ``t0``,
        ``otl``, ``pi_flag`` and ``vpot_source``, each with ``units``.
    """
    options = _options(ckcd, ascent, dissipative_heating, wind_reduction, ptop, missing, annulus, shear_levels,
                       mid_level, parcel)
    if period is not None:
        try:
            first, last = (int(y) for y in period)
        except (TypeError, ValueError):
            raise TypeError(f"environment: period is two years, (1991, 2020), not {period!r}") from None
        if not 1 <= first <= last <= 9999:
            raise InputError(f"environment: period {first}-{last} is not two years in order")
        options += f",climatology={first}-{last}"
    elif climatology:
        options += ",climatology=yes"
    with _files.scratch() as tmp:
        if not isinstance(tracks, (xr.Dataset, str)) and not hasattr(tracks, "__fspath__"):
            tracks = list(tracks)
            if not all(isinstance(t, Track) for t in tracks):
                raise InputError("environment: tracks are a catalog (Dataset or path) or a sequence of tarvo.Track")
            from ._catalog import write_catalog
            from ._track import Params
            path = f"{tmp}/tracks.nc"
            write_catalog(tracks, Params(), path)
            tracks = path
        with _files.as_paths(tracks, tmp, "tracks") as tpaths, _files.as_paths(fields, tmp, "fields") as fpaths:
            out = f"{tmp}/environment.nc"
            report, storms = _core.environment_catalog(tpaths[0], fpaths, options, out,
                                                       "tarvo.environment(...) from Python")
            catalog = _files.load(out)
    steps = catalog.sizes["step"]
    details = {}
    for key, (units, long_name) in _PER_FIX.items():
        integer = key in ("pi_flag", "vpot_source")
        a = np.full((len(storms), steps), 0 if integer else np.nan, np.int32 if integer else np.float32)
        for i, s in enumerate(storms):
            a[i, :len(s[key])] = s[key]
        details[key] = (("storm", "step"), a, {"units": units, "long_name": long_name})
    ds = xr.Dataset(details, coords={"sid": ("storm", catalog.sid.values), "time": catalog.time})
    ds.attrs = {"environment_fields": report["fields"], "environment_method": report["method"],
                "environment_options": report["options"], "notes": "\n".join(report["notes"]),
                "source": f"tarvo {_core.version()}"}
    return catalog, ds


def potential_intensity(sst, msl, p, t, q, ckcd=0.9, ascent="reversible", dissipative_heating=True,
                        wind_reduction=0.8, ptop=50.0, missing="fail", humidity="specific", level_dim=None,
                        parcel="first"):
    """The potential intensity of columns (Bister and Emanuel 2002), as the
    field computes it (pyPI v1.3, Gilford 2021), over numpy or xarray arrays
    with xarray's broadcasting.

    Parameters
    ----------
    sst : array-like
        Sea-surface temperature: K (numpy), or as its ``units`` say (xarray:
        K or degC).
    msl : array-like
        Mean sea-level pressure: Pa (numpy), or as its ``units`` say (Pa, hPa).
    p : array-like, 1-D
        The pressure levels: hPa (numpy), or as its ``units`` say (hPa, Pa).
    t : array-like
        Temperature on the levels (K, or its ``units``): numpy with the
        levels along the last axis; xarray along ``p``'s dimension.
    q : array-like
        Specific humidity (kg/kg, or its ``units``); with
        ``humidity="mixing_ratio"`` the water-vapour mixing ratio.
    ckcd, ascent, dissipative_heating, wind_reduction, ptop, missing, parcel
        As for :func:`environment`.
    level_dim : str, optional
        xarray: the levels' dimension (default: ``p``'s only one).

    Returns
    -------
    xarray.Dataset
        ``vmax`` (m/s, the 10-m wind), ``pmin`` (hPa), ``ifl`` (the
        algorithm's flag: 1 ok; 0 no result: a sea of 5 C or less, or no
        convergence; 2 CAPE did not converge; 3 missing values), ``t0``
        (outflow temperature, K) and ``otl`` (outflow level, hPa); NaN where
        the flag is not 1.
    """
    options = _options(ckcd, ascent, dissipative_heating, wind_reduction, ptop, missing, (200.0, 800.0),
                       (200.0, 850.0), 600.0, parcel)
    if humidity not in ("specific", "mixing_ratio"):
        raise InputError(f"potential_intensity: humidity is 'specific' or 'mixing_ratio', not {humidity!r}")
    arrays = [sst, msl, p, t, q]
    if any(isinstance(a, xr.DataArray) for a in arrays):
        arrays = [a if isinstance(a, xr.DataArray) else xr.DataArray(a) for a in arrays]
        if arrays[2].ndim != 1:
            raise InputError("potential_intensity: p is the levels, one dimension")
        dim = level_dim or arrays[2].dims[0]
        for name, a in (("t", arrays[3]), ("q", arrays[4])):
            if dim not in a.dims:
                raise InputError(f"potential_intensity: {name} has no dimension {dim!r} of the levels")
        sst_k, t_k = _kelvin(arrays[0], "sst"), _kelvin(arrays[3], "t")
        msl_hpa = _hpa(arrays[1], "msl", default="Pa")
        p_hpa = _hpa(arrays[2], "p", default="hPa")
        _plausible(sst_k.values, "sst", 150.0, 400.0, "K", "after its units")
        _plausible(t_k.values, "t", 100.0, 400.0, "K", "after its units")
        _plausible(msl_hpa.values, "msl", 100.0, 2000.0, "hPa", "after its units")
        _plausible(p_hpa.values, "p", 0.01, 1100.0, "hPa", "after its units")
        sst_c, t_c = sst_k - 273.15, t_k - 273.15
        r_gkg = 1000.0 * _mixing_ratio(arrays[4], humidity)
        out = xr.apply_ufunc(lambda a, b, c, d, e: _columns(a, b, c, d, e, options), sst_c, msl_hpa, p_hpa, t_c, r_gkg,
                             input_core_dims=[[], [], [dim], [dim], [dim]], output_core_dims=[[]] * 5)
        # The dimensions in the temperature's order (the field's), then any others.
        order = [d for d in arrays[3].dims if d != dim]
        return _result(*out).transpose(*order, ...)
    sst, msl, p, t, q = (np.asarray(a, dtype=np.float64) for a in arrays)
    if p.ndim != 1:
        raise InputError("potential_intensity: p is the levels, one dimension")
    if t.shape[-1:] != p.shape or q.shape[-1:] != p.shape:
        raise InputError(f"potential_intensity: t and q have the levels ({p.size}) along their last axis")
    _plausible(sst, "sst", 150.0, 400.0, "K")
    _plausible(msl, "msl", 10000.0, 200000.0, "Pa")
    _plausible(t, "t", 100.0, 400.0, "K")
    _plausible(p, "p", 0.01, 1100.0, "hPa")
    q = np.where(np.isnan(q), np.nan, q)
    r = q / (1.0 - q) if humidity == "specific" else q
    return _result(*(xr.DataArray(a) for a in _columns(sst - 273.15, msl * 0.01, p, t - 273.15, 1000.0 * r, options)))


def _columns(sst_c, msl_hpa, p_hpa, t_c, r_gkg, options):
    t_c, r_gkg = np.broadcast_arrays(np.asarray(t_c, np.float64), np.asarray(r_gkg, np.float64))
    shape = np.broadcast_shapes(np.shape(sst_c), np.shape(msl_hpa), t_c.shape[:-1])
    levels = np.asarray(p_hpa, np.float64).reshape(-1)
    if levels.ndim != 1 or t_c.shape[-1] != levels.size:
        raise InputError("potential_intensity: the levels of t and q are not those of p")
    # From the surface up: levels given from the top down (ERA5's "level") are turned over.
    if levels.size > 1 and levels[0] < levels[-1]:
        levels, t_c, r_gkg = levels[::-1], t_c[..., ::-1], r_gkg[..., ::-1]
    if not np.all(np.isfinite(levels)) or (levels.size > 1 and not np.all(np.diff(levels) < 0)):
        raise InputError(f"potential_intensity: the pressure levels are not in order (one way or the other): {levels}")
    sst = np.broadcast_to(sst_c, shape).reshape(-1)
    msl = np.broadcast_to(msl_hpa, shape).reshape(-1)
    t = np.broadcast_to(t_c, shape + (levels.size,)).reshape(-1, levels.size)
    r = np.broadcast_to(r_gkg, shape + (levels.size,)).reshape(-1, levels.size)
    out = _core.potential_intensity(np.ascontiguousarray(sst), np.ascontiguousarray(msl), levels,
                                    np.ascontiguousarray(t), np.ascontiguousarray(r), options)
    return tuple(a.reshape(shape) for a in out)


def _result(vmax, pmin, ifl, t0, otl):
    ds = xr.Dataset({"vmax": vmax, "pmin": pmin, "ifl": ifl, "t0": t0, "otl": otl})
    ds.vmax.attrs = {"units": "m s-1", "long_name": "potential intensity (10-m wind)"}
    ds.pmin.attrs = {"units": "hPa", "long_name": "minimum central pressure"}
    ds.ifl.attrs = {"long_name": "flag: 1 ok, 0 no result, 2 CAPE not converged, 3 missing values"}
    ds.t0.attrs = {"units": "K", "long_name": "outflow temperature"}
    ds.otl.attrs = {"units": "hPa", "long_name": "outflow level"}
    ds.attrs = {"source": f"tarvo {_core.version()}",
                "method": "Bister and Emanuel (2002) as documented for pyPI v1.3 (Gilford 2021)"}
    return ds


def _options(ckcd, ascent, dissipative_heating, wind_reduction, ptop, missing, annulus, shear_levels, mid_level,
             parcel):
    if ascent not in ("reversible", "pseudo"):
        raise InputError(f"ascent is 'reversible' or 'pseudo', not {ascent!r}")
    if parcel not in ("first", "above"):
        raise InputError(f"parcel is 'first' or 'above', not {parcel!r}")
    if missing not in ("fail", "skip"):
        raise InputError(f"missing is 'fail' or 'skip', not {missing!r}")
    values = [float(x) for x in (ckcd, wind_reduction, ptop, *annulus, *shear_levels, mid_level)]
    if not all(np.isfinite(values)):
        raise InputError("the environment's options must be finite numbers")
    return (f"ckcd={values[0]!r},ascent={ascent},dissipative={'yes' if dissipative_heating else 'no'},"
            f"reduction={values[1]!r},ptop={values[2]!r},missing={missing},parcel={parcel},"
            f"annulus={values[3]!r}-{values[4]!r},"
            f"shear={values[5]!r}-{values[6]!r},mid={values[7]!r}")


def _units(a, name, default):
    u = a.attrs.get("units", default)
    if u is None:
        raise InputError(f"potential_intensity: {name} has no units attribute")
    return str(u).replace(" ", "").lower()


def _kelvin(a, name):
    u = _units(a, name, "K")
    if u in ("k", "kelvin", "degk"):
        return a
    if u in ("degc", "c", "deg_c", "degrees_celsius", "celsius", "degree_c", "degrees_c"):
        return a + 273.15
    raise InputError(f"potential_intensity: {name} has units {a.attrs.get('units')!r}, not those of a temperature")


def _hpa(a, name, default):
    u = _units(a, name, default)
    if u in ("hpa", "mb", "mbar", "millibar", "millibars"):
        return a
    if u in ("pa", "pascal"):
        return a * 0.01
    raise InputError(f"potential_intensity: {name} has units {a.attrs.get('units')!r}, not those of a pressure")


def _mixing_ratio(a, humidity):
    u = _units(a, "q", "kg kg-1")
    factor = {"kgkg-1": 1.0, "kg/kg": 1.0, "1": 1.0, "kgkg**-1": 1.0, "kg.kg-1": 1.0, "g/kg": 0.001, "gkg-1": 0.001,
              "gkg**-1": 0.001, "g.kg-1": 0.001}.get(u)
    if factor is None:
        raise InputError(f"potential_intensity: q has units {a.attrs.get('units')!r}, not kg/kg or g/kg")
    x = a * factor
    return x / (1.0 - x) if humidity == "specific" else x


def _plausible(a, name, low, high, units, given="for numpy arrays"):
    a = np.asarray(a)
    finite = a[np.isfinite(a)]
    if finite.size and (finite.min() < low or finite.max() > high):
        raise InputError(f"potential_intensity: {name} is in {units} {given} (values from {low:g} to {high:g}); "
                         f"it has {finite.min():g} to {finite.max():g}: give xarray arrays with units, or convert")
