"""Catalogs of storms in one CF-NetCDF file (docs/catalog.md): written and read
back exactly, forecast on threads into CLIMADA's variable names. The files
are read, checked and written by the same C++ code as tarvo-batch's."""

import os
import re
import sys
import tempfile

import numpy as np
import xarray as xr

from . import _core
from ._errors import InputError
from ._forecast import Grids, _ProgressBar
from ._track import Params, Track

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
    if not all(isinstance(t, Track) for t in tracks):
        raise InputError(f"{path}: expected a sequence of tarvo.Track", str(path))
    params = [params] * n if isinstance(params, Params) else list(params)
    years = [int(year)] * n if np.isscalar(year) else [int(y) for y in year]
    numbers = [0] * n if cyclone_numbers is None else [int(c) for c in cyclone_numbers]
    if len(params) != n or len(years) != n or len(numbers) != n:
        raise InputError(f"{path}: {n} tracks, {len(params)} params, {len(years)} years, "
                         f"{len(numbers)} cyclone numbers", str(path))
    if not all(isinstance(p, Params) for p in params):
        raise InputError(f"{path}: expected tarvo.Params", str(path))
    if any(c < 0 for c in numbers):
        raise InputError(f"{path}: cyclone_numbers must be whole numbers of 0 or more", str(path))
    sids = [_default_sid(t, i) for i, t in enumerate(tracks)] if sids is None else [str(s) for s in sids]
    names = sids if names is None else [str(x) for x in names]
    if len(sids) != n or len(names) != n:
        raise InputError(f"{path}: {n} tracks, {len(sids)} sids, {len(names)} names", str(path))
    _core.write_catalog(str(path), [dict(t._fields(), sid=s, name=m, year=y, cyclone_number=c, params=p._tuple())
                                    for t, s, m, y, c, p in zip(tracks, sids, names, years, numbers, params)])


def read_catalog(path):
    """The tracks of a catalog file and their run parameters: ``(tracks, params)``.

    Raises :class:`InputError` naming the file, the variable and the storm
    (index and sid) for every fault: a missing variable, wrong dimensions,
    types or units, NaN inside a storm's fixes, times that do not increase or
    are not whole hours, duplicate sids, more than 200 fixes, 1200 h or more.
    """
    tracks, params = [], []
    for d in _core.read_catalog(str(path)):
        tracks.append(Track(d["basin"], d["month"], d["day"], d["hour"], d["hours"], d["lat"], d["lon"],
                            d["vmax_kt"], d["vpot"], d["shear"], d["t600"], d["rh600"], name=d["sid"]))
        params.append(Params(*d["params"]))
    return tracks, params


def forecast_catalog(catalog, grids, threads=None, progress=True):
    """Forecasts every storm of a catalog (a path or a Dataset from
    :func:`xarray.open_dataset`) into one Dataset of dimensions ``storm`` and
    ``step`` with CLIMADA's names (docs/catalog.md): ``time``, ``lat``,
    ``lon``, ``max_sustained_wind`` (kt), ``central_pressure`` (hPa),
    ``environmental_pressure``, ``radius_max_wind`` (nautical miles),
    ``time_step`` (h), ``basin``; per storm ``sid``, ``name``, ``category``,
    ``status`` and the rest: what ``tarvo-batch --catalog`` writes. A storm
    that fails is padded and says why in ``status``."""
    return _forecast_file(catalog, grids, threads, 0, None, progress)


def forecast_catalog_part(path, grids, start, stop, threads=1):
    """Forecasts storms ``start`` to ``stop - 1`` of a catalog file: the part of
    :func:`forecast_catalog`'s Dataset for them (``storm`` numbered in the
    catalog; ``id_no`` as there)."""
    return _forecast_file(path, grids, threads, int(start), int(stop), False)


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
    return _core.category_of(float(peak_kt))


# ---------------------------------------------------------------- internals

_SID = re.compile(r"^[A-Za-z0-9][A-Za-z0-9._-]*$")  # safe as a file name


def _default_sid(track, i):
    base = os.path.basename(os.path.dirname(track.name)) if track.name.endswith("track.in") else track.name
    return base if _SID.match(base or "") else f"storm{i + 1:06d}"


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


def _forecast_file(catalog, grids, threads, start, stop, progress):
    """The forecasts of storms start .. stop - 1 (stop None: to the end),
    run by the C++ catalog runner into a temporary file and loaded."""
    if not isinstance(grids, Grids):
        raise InputError(f"expected tarvo.Grids (tarvo.load_grids), not {type(grids).__name__}")
    threads = (os.cpu_count() or 1) if threads is None else int(threads)
    if threads < 1:
        raise InputError(f"forecast_catalog: threads must be at least 1, not {threads}")
    with tempfile.TemporaryDirectory(prefix="tarvo-") as tmp:
        if isinstance(catalog, xr.Dataset):
            shown, path = catalog.encoding.get("source", "catalog"), os.path.join(tmp, "catalog.nc")
            catalog.to_netcdf(path, format="NETCDF4", engine="netcdf4")
        else:
            shown = path = str(catalog)
        out = os.path.join(tmp, "forecasts.nc")
        bar = _ProgressBar(0) if progress and sys.stderr.isatty() else None

        def update(done, failed, total):
            bar.total = total
            bar.update(done, failed)

        try:
            _core.forecast_catalog_file(path, out, grids, threads, start, sys.maxsize if stop is None else stop,
                                        update if bar else None)
        except InputError as e:
            if path == shown:
                raise
            raise InputError(str(e).replace(path, shown), shown) from None
        finally:
            if bar:
                bar.close()
        with xr.open_dataset(out, engine="netcdf4") as ds:
            return ds.load()
