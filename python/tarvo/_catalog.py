"""Catalogs of storms in one CF-NetCDF file (docs/catalog.md): written and read
back exactly, forecast on threads into CLIMADA's variable names."""

import os
import re

import numpy as np
import xarray as xr

from ._errors import InputError
from ._forecast import forecast_many
from ._track import Params, Track

TIME_UNITS = "hours since 1970-01-01 00:00:00"
MAX_FIXES = 200
MAX_HOURS = 1200
PARAMS = ("smooth_vobs", "smooth_dist", "smooth_f6", "nudge_gain")
# Per fix: the catalog's name, the Track's attribute, the units.
FIX_FIELDS = (("lat", "lat", "degrees_north"), ("lon", "lon", "degrees_east"),
              ("vmax_obs", "vmax_kt", "knot"), ("vpot", "vpot", "m s-1"), ("shear", "shear", "m s-1"),
              ("t600", "t600", "K"), ("rh600", "rh600", "percent"))
SID_PATTERN = re.compile(r"^[A-Za-z0-9][A-Za-z0-9._-]*$")
# Saffir-Simpson thresholds of the peak wind, kt: category -1 (depression) to 5.
CATEGORY_KT = (34.0, 64.0, 83.0, 96.0, 113.0, 137.0)


def write_catalog(tracks, params, path, year=2001, sids=None, names=None, cyclone_numbers=None):
    """Writes tracks and their run parameters as one catalog file.

    Parameters
    ----------
    tracks : sequence of Track
    params : Params, or a sequence of Params (one a track)
    path : str or path
    year : int or sequence of int
        The year of each track's reference time (track.in has none; 2001 is a
        common year, as tarvo's calendar has no leap day).
    sids : sequence of str, optional
        Unique storm ids, safe as file names. Default: the name of the
        directory of each track's track.in, else ``storm000001``, ...
    names : sequence of str, optional
        Storm names (default: the sids).
    cyclone_numbers : sequence of int, optional
        Each storm's number in its basin and year, 1 to 99 (what ATCF a-decks
        are named by); 0 or absent for none.
    """
    tracks = list(tracks)
    n = len(tracks)
    params = [params] * n if isinstance(params, Params) else list(params)
    years = [int(year)] * n if np.isscalar(year) else [int(y) for y in year]
    if len(params) != n or len(years) != n:
        raise InputError(f"{path}: {len(tracks)} tracks, {len(params)} params, {len(years)} years")
    sids = [_default_sid(t, i) for i, t in enumerate(tracks)] if sids is None else [str(s) for s in sids]
    _check_sids(sids, str(path))
    names = sids if names is None else [str(x) for x in names]
    numbers = np.zeros(n, dtype=np.int32) if cyclone_numbers is None else np.asarray(cyclone_numbers, dtype=np.int32)
    if numbers.shape != (n,) or (numbers < 0).any():
        raise InputError(f"{path}: cyclone_numbers must be {n} whole numbers of 0 or more", path)
    steps = max((len(t) for t in tracks), default=0)
    ref = np.array([_reference_time(y, t) for y, t in zip(years, tracks)], dtype="datetime64[h]")
    time = np.full((n, steps), np.nan)
    fix = {k: np.full((n, steps), np.nan, dtype=np.float32) for k, _, _ in FIX_FIELDS}
    for i, t in enumerate(tracks):
        m = len(t)
        time[i, :m] = (ref[i] - np.datetime64(0, "h")).astype(np.int64) + t.hours
        for k, attr, _ in FIX_FIELDS:
            fix[k][i, :m] = getattr(t, attr)
    ds = xr.Dataset(
        {
            "sid": ("storm", np.array(sids, dtype=object), {"cf_role": "trajectory_id", "long_name": "storm id"}),
            "name": ("storm", np.array(names, dtype=object), {"long_name": "storm name"}),
            "basin": ("storm", np.array([t.basin.strip() for t in tracks], dtype=object),
                      {"long_name": "basin code"}),
            "year": ("storm", np.array(years, dtype=np.int32), {"long_name": "year of the reference time"}),
            "cyclone_number": ("storm", numbers, {"long_name": "number of the storm in its basin and year"}),
            "reference_time": ("storm", (ref - np.datetime64(0, "h")).astype(np.float64),
                               {"units": TIME_UNITS, "calendar": "standard", "long_name": "time of track time 0"}),
            "time": (("storm", "step"), time, {"units": TIME_UNITS, "calendar": "standard", "long_name": "time of the fix"}),
            **{k: (("storm", "step"), fix[k], {"units": u, "coordinates": "time lat lon"}) for k, _, u in FIX_FIELDS},
            **{k: ("storm", np.array([getattr(p, k) for p in params], dtype=np.float32), {"units": "1"})
               for k in PARAMS},
        },
        coords={"storm": np.arange(n, dtype=np.int32), "step": np.arange(steps, dtype=np.int32)},
        attrs={"featureType": "trajectory", "Conventions": "CF-1.8", "title": "tarvo track catalog",
               "source": "tarvo"},
    )
    for k in ("lat", "lon"):
        del ds[k].attrs["coordinates"]
    encoding = {k: {"_FillValue": np.float32(np.nan)} for k, _, _ in FIX_FIELDS}
    encoding["time"] = {"_FillValue": np.nan, "dtype": "float64"}
    encoding["reference_time"] = {"_FillValue": None, "dtype": "float64"}
    for k in ("sid", "name", "basin"):
        encoding[k] = {"dtype": str}
    _write_whole(ds, str(path), encoding)


def read_catalog(path):
    """The tracks of a catalog file and their run parameters: ``(tracks, params)``.

    Raises :class:`InputError` naming the file, the variable and the storm
    (index and sid) for every fault: a missing variable, wrong dimensions,
    types or units, NaN inside a storm's fixes, times that do not increase or
    are not whole hours, duplicate sids, more than 200 fixes, 1200 h or more.
    """
    path = str(path)
    ds = _open(path)
    try:
        return _tracks_of(ds, path)
    finally:
        ds.close()


def forecast_catalog(catalog, grids, threads=None, progress=True):
    """Forecasts every storm of a catalog (a path or a Dataset from
    :func:`xarray.open_dataset`) into one Dataset of dimensions ``storm`` and
    ``step`` with CLIMADA's names (docs/catalog.md): ``time``, ``lat``,
    ``lon``, ``max_sustained_wind`` (kt), ``central_pressure`` (hPa),
    ``environmental_pressure``, ``radius_max_wind`` (nautical miles),
    ``time_step`` (h), ``basin``; per storm ``sid``, ``name``, ``category``,
    ``status`` and the rest. A storm that fails is padded and says why in
    ``status``."""
    if isinstance(catalog, xr.Dataset):
        source, ds = catalog.encoding.get("source", "catalog"), catalog
        tracks, params = _tracks_of(ds, source)
        sids, names, ref = _per_storm(ds)
    else:
        source = str(catalog)
        ds = _open(source)
        try:
            tracks, params = _tracks_of(ds, source)
            sids, names, ref = _per_storm(ds)
        finally:
            ds.close()
    results = forecast_many(tracks, params, grids, threads=threads, progress=progress)
    return _output(results, tracks, sids, names, ref)


def forecast_catalog_part(path, grids, start, stop, threads=1):
    """Forecasts storms ``start`` to ``stop - 1`` of a catalog file: the part of
    :func:`forecast_catalog`'s Dataset for them (``storm`` numbered in the
    catalog; ``id_no`` as there)."""
    path = str(path)
    ds = _open(path)
    try:
        part = ds.isel(storm=slice(int(start), int(stop))).load()
    finally:
        ds.close()
    tracks, params = _tracks_of(part, path)
    sids, names, ref = _per_storm(part)
    results = forecast_many(tracks, params, grids, threads=threads, progress=False)
    out = _output(results, tracks, sids, names, ref)
    return out.assign_coords(storm=part["storm"].values.astype(np.int32)).assign(
        id_no=("storm", part["storm"].values.astype(np.int64) + 1))


def join_parts(parts):
    """Forecast parts (in catalog order) as one Dataset, shorter parts padded."""
    steps = max(p.sizes["step"] for p in parts)
    padded = [p.pad(step=(0, steps - p.sizes["step"])).assign_coords(step=np.arange(steps, dtype=np.int32))
              if p.sizes["step"] < steps else p for p in parts]
    out = xr.concat(padded, dim="storm", data_vars="minimal", coords="minimal", compat="override",
                    combine_attrs="override")
    for k in ("max_sustained_wind", "central_pressure", "environmental_pressure", "radius_max_wind", "time_step",
              "basin"):
        out[k].encoding["coordinates"] = "time lat lon"
    return out


def to_climada(ds):
    """The per-storm Datasets of a forecast catalog, as CLIMADA's
    ``TCTracks.data`` holds them (dimension ``time``; per-storm items as
    attributes, ``orig_event_flag`` and ``category`` as ints), the same as the
    files of ``tarvo-batch --climada``. Storms without samples are left out."""
    out = []
    for i in range(ds.sizes["storm"]):
        s = ds.isel(storm=i)
        keep = np.isfinite(s["max_sustained_wind"].values)
        if not keep.any():
            continue
        time = s["time"].values[keep]
        one = xr.Dataset(
            {k: ("time", s[k].values[keep].astype(np.float64), {"units": s[k].attrs.get("units", "")})
             for k in ("time_step", "radius_max_wind", "max_sustained_wind", "central_pressure",
                       "environmental_pressure")},
            coords={"time": time,
                    "lat": ("time", s["lat"].values[keep].astype(np.float64), {"units": "degrees_north"}),
                    "lon": ("time", s["lon"].values[keep].astype(np.float64), {"units": "degrees_east"})},
        )
        one["basin"] = ("time", s["basin"].values[keep].astype(str).astype(object))
        one.attrs = {"max_sustained_wind_unit": "kn", "central_pressure_unit": "mb",
                     "name": str(s["name"].values), "sid": str(s["sid"].values),
                     "orig_event_flag": int(s["orig_event_flag"].values), "data_provider": "tarvo",
                     "id_no": int(s["id_no"].values), "category": int(s["category"].values),
                     "status": str(s["status"].values)}
        out.append(one)
    return out


def category_of(peak_kt):
    """Saffir-Simpson category of a peak wind in knots: -1 (depression) to 5."""
    return int(np.searchsorted(CATEGORY_KT, peak_kt, side="right")) - 1 if np.isfinite(peak_kt) else -1


# ---------------------------------------------------------------- internals

def _default_sid(track, i):
    base = os.path.basename(os.path.dirname(track.name)) if track.name.endswith("track.in") else track.name
    return base if SID_PATTERN.match(base or "") else f"storm{i + 1:06d}"


def _check_sids(sids, path):
    seen = {}
    for i, s in enumerate(sids):
        if not SID_PATTERN.match(s) or len(s) > 200:
            raise InputError(f"{path}: variable sid, storm {i} ({s!r}): not safe as a file name "
                             "(letters, digits, '.', '_', '-')", path)
        if s in seen:
            raise InputError(f"{path}: variable sid, storm {i} ({s!r}): the same sid as storm {seen[s]}", path)
        seen[s] = i


def _reference_time(year, track):
    return np.datetime64(f"{year:04d}-{track.month:02d}-{track.day:02d}T{track.hour:02d}", "h")


def _write_whole(ds, path, encoding):
    """Writes the file beside its place, then renames it over: whole or not at all."""
    directory = os.path.dirname(os.path.abspath(path))
    tmp = os.path.join(directory, f".{os.path.basename(path)}.{os.getpid()}.tmp")
    try:
        ds.to_netcdf(tmp, format="NETCDF4", engine="netcdf4", encoding=encoding)
        os.replace(tmp, path)
    except BaseException:
        if os.path.exists(tmp):
            os.remove(tmp)
        raise


def _open(path):
    try:
        return xr.open_dataset(path, engine="netcdf4", decode_times=False)
    except FileNotFoundError:
        raise InputError(f"{path}: cannot open: no such file", path) from None
    except (OSError, ValueError) as e:
        raise InputError(f"{path}: not a readable NetCDF file ({e})", path) from None


def _variable(ds, path, name, dims, units=None, kind="f"):
    if name not in ds.variables:
        raise InputError(f"{path}: variable {name} is missing", path)
    v = ds[name]
    if v.dims != dims:
        raise InputError(f"{path}: variable {name} has dimensions {v.dims}, expected {dims}", path)
    if kind == "f" and not np.issubdtype(v.dtype, np.floating):
        raise InputError(f"{path}: variable {name} is of type {v.dtype}, expected a floating-point type", path)
    if kind == "s" and v.dtype.kind not in "OSU":
        raise InputError(f"{path}: variable {name} is of type {v.dtype}, expected strings", path)
    if units is not None and v.attrs.get("units") != units:
        raise InputError(f"{path}: variable {name} has units {v.attrs.get('units')!r}, expected {units!r}", path)
    return v.values


def _tracks_of(ds, path):
    if ds.attrs.get("featureType") != "trajectory":
        raise InputError(f"{path}: not a trajectory catalog (featureType is {ds.attrs.get('featureType')!r})", path)
    sids = [str(s) for s in _variable(ds, path, "sid", ("storm",), kind="s")]
    _check_sids(sids, path)
    basins = [str(b) for b in _variable(ds, path, "basin", ("storm",), kind="s")]
    ref = _variable(ds, path, "reference_time", ("storm",), TIME_UNITS)
    time = _variable(ds, path, "time", ("storm", "step"), TIME_UNITS)
    fix = {k: _variable(ds, path, k, ("storm", "step"), u) for k, _, u in FIX_FIELDS}
    pars = {k: _variable(ds, path, k, ("storm",)) for k in PARAMS}
    tracks, params = [], []
    for i, sid in enumerate(sids):
        where = f"{path}: storm {i} ({sid})"
        if not np.isfinite(ref[i]) or ref[i] != np.round(ref[i]):
            raise InputError(f"{where}: variable reference_time is not a whole hour", path)
        used = np.isfinite(time[i])
        m = int(used.sum())
        if m == 0:
            raise InputError(f"{where}: variable time has no fixes", path)
        if not used[:m].all():
            raise InputError(f"{where}: variable time has a gap (NaN) among the fixes", path)
        if m > MAX_FIXES:
            raise InputError(f"{where}: {m} fixes; at most {MAX_FIXES}", path)
        t = time[i, :m]
        if (t != np.round(t)).any():
            raise InputError(f"{where}: variable time is not on whole hours", path)
        if (np.diff(t) <= 0).any():
            raise InputError(f"{where}: variable time does not increase", path)
        if t[-1] - t[0] >= MAX_HOURS:
            raise InputError(f"{where}: the track lasts {t[-1] - t[0]:.0f} h; it must last less than {MAX_HOURS} h", path)
        for k, _, _ in FIX_FIELDS:
            if not np.isfinite(fix[k][i, :m]).all():
                raise InputError(f"{where}: variable {k} is NaN among the fixes", path)
        r = np.datetime64(int(ref[i]), "h").astype(object)
        try:
            track = Track(basins[i], r.month, r.day, r.hour, (t - ref[i]).astype(np.int64),
                          *(fix[k][i, :m] for k, _, _ in FIX_FIELDS), name=sid)
            p = Params(*(pars[k][i] for k in PARAMS))
        except InputError as e:
            raise InputError(f"{where}: {e}", path) from None
        tracks.append(track)
        params.append(p)
    return tracks, params


def _per_storm(ds):
    sids = [str(s) for s in ds["sid"].values]
    names = [str(s) for s in ds["name"].values] if "name" in ds.variables else sids
    return sids, names, ds["reference_time"].values


def _output(results, tracks, sids, names, ref):
    n = len(results)
    steps = max([r.sizes.get("time", 0) for r in results] + [0])
    f = lambda: np.full((n, steps), np.nan, dtype=np.float32)  # noqa: E731
    time = np.full((n, steps), np.nan)
    lat, lon, wind, pres, rmw, penv, dt = f(), f(), f(), f(), f(), f(), f()
    basin = np.full((n, steps), "", dtype=object)
    status, category = [], np.full(n, -1, dtype=np.int8)
    for i, (r, t) in enumerate(zip(results, tracks)):
        status.append(r.attrs["status"] if r.attrs["status"] != "failed" else f"failed: {r.attrs['error']}")
        m = r.sizes.get("time", 0)
        if m == 0:
            continue
        time[i, :m] = ref[i] + r["time"].values
        lat[i, :m], lon[i, :m] = r["lat"].values, r["lon"].values
        wind[i, :m], pres[i, :m] = r["vmax"].values, r["pmin"].values
        rmw[i, :m] = r["rmw"].values / np.float32(1.852)
        penv[i, :m], dt[i, :m] = 1005.0, 2.0
        basin[i, :m] = t.basin.strip()
        category[i] = category_of(float(np.max(r["vmax"].values)))
    epoch = np.datetime64("1970-01-01T00", "ns")
    with np.errstate(invalid="ignore"):
        times = np.where(np.isfinite(time), epoch + (np.nan_to_num(time) * 3600e9).astype("timedelta64[ns]"),
                         np.datetime64("NaT", "ns"))
    per_sample = ("storm", "step")
    ds = xr.Dataset(
        {
            "max_sustained_wind": (per_sample, wind, {"units": "knot", "long_name": "maximum sustained wind"}),
            "central_pressure": (per_sample, pres, {"units": "hPa", "long_name": "central pressure"}),
            "environmental_pressure": (per_sample, penv, {"units": "hPa"}),
            "radius_max_wind": (per_sample, rmw, {"units": "nautical_mile", "long_name": "radius of maximum wind"}),
            "time_step": (per_sample, dt, {"units": "h"}),
            "basin": (per_sample, basin),
            "sid": ("storm", np.array(sids, dtype=object), {"cf_role": "trajectory_id"}),
            "name": ("storm", np.array(names, dtype=object)),
            "data_provider": ("storm", np.array(["tarvo"] * n, dtype=object)),
            "orig_event_flag": ("storm", np.zeros(n, dtype=np.int8)),
            "id_no": ("storm", np.arange(1, n + 1, dtype=np.int64)),
            "category": ("storm", category),
            "max_sustained_wind_unit": ("storm", np.array(["kn"] * n, dtype=object)),
            "central_pressure_unit": ("storm", np.array(["mb"] * n, dtype=object)),
            "status": ("storm", np.array(status, dtype=object)),
        },
        coords={"storm": np.arange(n, dtype=np.int32), "step": np.arange(steps, dtype=np.int32),
                "time": (per_sample, times), "lat": (per_sample, lat, {"units": "degrees_north"}),
                "lon": (per_sample, lon, {"units": "degrees_east"})},
        attrs={"featureType": "trajectory", "Conventions": "CF-1.8", "title": "tarvo forecasts", "source": "tarvo"},
    )
    ds["time"].encoding.update(units=TIME_UNITS, calendar="standard", dtype="float64")
    for k in ("max_sustained_wind", "central_pressure", "environmental_pressure", "radius_max_wind", "time_step",
              "basin"):
        ds[k].encoding["coordinates"] = "time lat lon"
    return ds
