"""Catalogs of storms in one CF-NetCDF file (docs/catalog.md): written and read
back exactly, forecast on threads into CLIMADA's variable names. The files
are read, checked and written by the same C++ code as tarvo-batch's."""

import os
import re
import sys
import tempfile

import numpy as np
import xarray as xr

from . import _core, _files
from ._errors import InputError
from ._forecast import Grids, _ProgressBar
from ._track import Params, Track

def write_catalog(tracks, params, path, year=None, sids=None, names=None, cyclone_numbers=None):
    """Writes tracks and their run parameters as one catalog file.

    Parameters
    ----------
    tracks : sequence of Track
    params : Params, or a sequence of Params (one a track)
    path : str or path
    year : int or sequence of int, optional
        The year of each track's reference time, for tracks that have none
        (``Track.year``; track.in has none). Default 2001.
    sids : sequence of str, optional
        Unique storm ids, safe as file names. Default: the name of the
        directory of each track's track.in, else ``storm000001``, ...
    names : sequence of str, optional
        Storm names (default: the sids).
    cyclone_numbers : sequence of int, optional
        Each storm's number in its basin and year, 1 to 99 (what ATCF a-decks
        are named by); 0 for none. Default: the storms numbered 1, 2, ... in
        each basin and year in the order given, as ``tarvo-catalog pack``
        does (0 beyond 99).
    """
    tracks = list(tracks)
    n = len(tracks)
    if not all(isinstance(t, Track) for t in tracks):
        raise InputError(f"{path}: expected a sequence of tarvo.Track", str(path))
    params = [params] * n if isinstance(params, Params) else list(params)
    given = [year] * n if year is None or np.isscalar(year) else list(year)
    if len(given) != n:
        raise InputError(f"{path}: {n} tracks, {len(given)} years", str(path))
    years = []
    for t, y in zip(tracks, given):
        if y is not None and t.year is not None and int(y) != t.year:
            raise InputError(f"{path}: track {t.name} is of {t.year}, not of year={int(y)}", str(path))
        years.append(t.year if t.year is not None else (2001 if y is None else int(y)))
    numbers = _numbers(tracks, years) if cyclone_numbers is None else [int(c) for c in cyclone_numbers]
    if len(params) != n or len(numbers) != n:
        raise InputError(f"{path}: {n} tracks, {len(params)} params, {len(numbers)} cyclone numbers", str(path))
    if not all(isinstance(p, Params) for p in params):
        raise InputError(f"{path}: expected tarvo.Params", str(path))
    if any(c < 0 for c in numbers):
        raise InputError(f"{path}: cyclone_numbers must be whole numbers of 0 or more", str(path))
    sids = [_default_sid(t, i) for i, t in enumerate(tracks)] if sids is None else [str(s) for s in sids]
    names = sids if names is None else [str(x) for x in names]
    if len(sids) != n or len(names) != n:
        raise InputError(f"{path}: {n} tracks, {len(sids)} sids, {len(names)} names", str(path))
    _core.write_catalog(str(path), [dict(t._fields(), sid=s, name=m, year=y, cyclone_number=c, params=p._tuple())
                                    for t, s, m, y, c, p in zip(tracks, sids, names, years, numbers, params)],
                        f"tarvo.write_catalog(..., {str(path)!r}) from Python")


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
                            d["vmax_kt"], d["vpot"], d["shear"], d["t600"], d["rh600"], name=d["sid"],
                            year=d["year"]))
        params.append(Params(*d["params"]))
    return tracks, params


def forecast_catalog(catalog, grids, threads=None, progress=True, *, members: int = 0, seed: int = 1,
                     spreads: str = ""):
    """Forecasts every storm of a catalog (a path or a Dataset from
    :func:`xarray.open_dataset`) into one Dataset of dimensions ``storm`` and
    ``step`` with CLIMADA's names (docs/catalog.md): ``time``, ``lat``,
    ``lon``, ``max_sustained_wind`` (kt), ``central_pressure`` (hPa),
    ``environmental_pressure``, ``radius_max_wind`` (nautical miles),
    ``time_step`` (h), ``basin``; per storm ``sid``, ``name``, ``category``,
    ``status`` and the rest: what ``tarvo-batch --catalog`` writes. A storm
    that fails is padded and says why in ``status``.

    ``members=N`` (2 or more; 0 and 1: none) runs an ensemble of each storm, as
    ``tarvo-batch --members N --seed S --spread ...`` (docs/forecast.md):
    member 0 the storm as given (the Dataset's own forecast, bit for bit),
    the others with the environment, positions and feedback gain perturbed;
    adds ``member_max_sustained_wind`` (kt, ``storm, member, step``),
    ``ensemble_mean_max_sustained_wind``, ``max_sustained_wind_quantile``
    and ``ri_probability`` (``storm, ri_threshold``). ``spreads`` as
    ``"vpot=3,shear=4"`` (m/s at 48 h, the others as documented).

    >>> ds = tarvo.forecast_catalog("cycle.nc", grids, members=100, seed=1)
    >>> ds.ri_probability.sel(ri_threshold=1)  # 30 kt in 24 h
    """
    for name, value in (("members", members), ("seed", seed)):
        if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
            raise TypeError(f"forecast_catalog: {name} must be an integer, not {type(value).__name__}")
    if not isinstance(spreads, str):
        raise TypeError(f"forecast_catalog: spreads must be a str such as 'vpot=3,shear=4', not {type(spreads).__name__}")
    if members < 0 or members > 10000:
        raise InputError(f"forecast_catalog: members must be 0 or 1 (no ensemble) or up to 10000, not {members}")
    if seed < 0:
        raise InputError(f"forecast_catalog: seed must be 0 or more, not {seed}")
    return _forecast_file(catalog, grids, threads, 0, None, progress, members=int(members), seed=int(seed),
                          spreads=spreads)


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
    ``TCTracks.data`` holds them: dimension ``time``; variables as doubles;
    ``basin`` CLIMADA's code a sample (``NA``, ``EP``, ``WP``, ``NI``, ``SI``,
    ``SP``, ``SA``, as ``<U2``), tarvo's own in the attribute
    ``tarvo_basin``; longitudes in -180..180 (continuous for a track that
    crosses 180 degrees); ``orig_event_flag`` and ``id_no`` those of the
    CLIMADA track a storm was made from (a synthetic track stays synthetic),
    else True (a model's own track, as CLIMADA marks the tracks it reads) and
    the storm's place in the catalog plus one; the per-storm items as attributes. The
    same tracks as ``tarvo-batch --climada`` files (docs/climada.md); pass them
    to ``climada.hazard.TCTracks(data=...)``. Storms without samples (failed or
    stopped early) are left out: their status is in ``ds``."""
    out = []
    for i in range(ds.sizes["storm"]):
        s = ds.isel(storm=i)
        keep = np.isfinite(s["max_sustained_wind"].values)
        if not keep.any() or str(s["status"].values) != "finished":
            continue
        time = s["time"].values[keep]
        lon = s["lon"].values[keep].astype(np.float32)
        tarvo_basin = str(s["basin"].values[keep][0])
        one = xr.Dataset(
            {k: ("time", s[k].values[keep].astype(np.float64), {"units": s[k].attrs.get("units", "")})
             for k in ("time_step", "radius_max_wind", "max_sustained_wind", "central_pressure",
                       "environmental_pressure")},
            coords={"time": time,
                    "lat": ("time", s["lat"].values[keep].astype(np.float64), {"units": "degrees_north"}),
                    "lon": ("time", _core.climada_longitudes(lon), {"units": "degrees_east"})},
        )
        one["basin"] = ("time", np.array(_core.climada_basins(tarvo_basin, lon), dtype="<U2"))
        one.attrs = {"max_sustained_wind_unit": "kn", "central_pressure_unit": "mb",
                     "name": str(s["name"].values), "sid": str(s["sid"].values),
                     "data_provider": "tarvo", "tarvo_basin": tarvo_basin, "status": str(s["status"].values),
                     "orig_event_flag": bool(s["orig_event_flag"].values), "id_no": _climada_id(s),
                     "category": int(s["category"].values)}
        out.append(one)
    return out


def _climada_id(s):
    """CLIMADA's id_no of a storm of a forecast Dataset: the one it came with, else its place plus one."""
    if "climada_id_no" in s and np.isfinite(s["climada_id_no"].values):
        return float(s["climada_id_no"].values)
    return int(s["id_no"].values)


def export_forecasts(forecasts, climada=None, climada_hdf5=None, atcf=None, atcf_step=6, atcf_max_tau=240):
    """Writes the files made from forecasts for the tools tarvo is paired
    with, what ``tarvo-catalog export`` writes (docs/climada.md, docs/atcf.md).

    Parameters
    ----------
    forecasts : str, path or xarray.Dataset
        A forecast file (``tarvo-batch --out``) or the Dataset of
        :func:`forecast_catalog`.
    climada : str or path, optional
        A folder for one CLIMADA track file a storm (``TCTracks.from_netcdf``).
    climada_hdf5 : str or path, optional
        One file of every track (``TCTracks.from_hdf5``).
    atcf : str or path, optional
        A folder of ATCF a-decks, every forecast of a storm joined into its
        one file (``a<basin><number><year>.dat``).
    atcf_step, atcf_max_tau : int
        Hours between TAUs (6; 2 writes every sample) and the last TAU (240).

    Returns
    -------
    dict
        What was written: ``tracks``, ``left_out``, ``adeck_files``,
        ``adeck_forecasts``, ``unnumbered``, ``replaced`` and a ``report``.
    """
    with tempfile.TemporaryDirectory(prefix="tarvo-") as tmp:
        if isinstance(forecasts, xr.Dataset):
            path = os.path.join(tmp, "forecasts.nc")
            _files.write_netcdf(forecasts, path)
        else:
            path = str(forecasts)
        return _core.export_forecasts(path, "" if climada is None else str(climada),
                                      "" if climada_hdf5 is None else str(climada_hdf5),
                                      "" if atcf is None else str(atcf), int(atcf_step), int(atcf_max_tau),
                                      "tarvo.export_forecasts(...) from Python")


def category_of(peak_kt):
    """Saffir-Simpson category of a peak wind in knots: -1 (depression) to 5."""
    return _core.category_of(float(peak_kt))


# ---------------------------------------------------------------- internals

_SID = re.compile(r"^[A-Za-z0-9][A-Za-z0-9._-]*$")  # safe as a file name


def _numbers(tracks, years):
    """Storms numbered 1, 2, ... in each basin and year, in the order given (0 beyond 99)."""
    seen, numbers = {}, []
    for t, y in zip(tracks, years):
        k = seen[(t.basin, y)] = seen.get((t.basin, y), 0) + 1
        numbers.append(k if k <= 99 else 0)
    return numbers


def _default_sid(track, i):
    base = os.path.basename(os.path.dirname(track.name)) if track.name.endswith("track.in") else track.name
    return base if _SID.match(base or "") else f"storm{i + 1:06d}"


def _write_whole(ds, path, encoding):
    """Writes the file beside its place, then renames it over: whole or not at all."""
    directory = os.path.dirname(os.path.abspath(path))
    tmp = os.path.join(directory, f".{os.path.basename(path)}.{os.getpid()}.tmp")
    try:
        _files.write_netcdf(ds, tmp, encoding=encoding)
        os.replace(tmp, path)
    except BaseException:
        if os.path.exists(tmp):
            os.remove(tmp)
        raise


def _forecast_file(catalog, grids, threads, start, stop, progress, members=0, seed=1, spreads=""):
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
            _files.write_netcdf(catalog, path)
        else:
            shown = path = str(catalog)
        out = os.path.join(tmp, "forecasts.nc")
        bar = _ProgressBar(0) if progress and sys.stderr.isatty() else None

        def update(done, failed, total):
            bar.total = total
            bar.update(done, failed)

        try:
            _core.forecast_catalog_file(path, out, grids, threads, start, sys.maxsize if stop is None else stop,
                                        update if bar else None,
                                        f"tarvo.forecast_catalog({shown!r}) from Python", members, seed, spreads)
        except InputError as e:
            message = str(e)
            if message.startswith(tmp):
                message += (f" ({tmp} holds tarvo's temporary files: TMPDIR, here {tempfile.gettempdir()}, "
                            "says where they go)")
            if path == shown and message == str(e):
                raise
            raise InputError(message.replace(path, shown), shown) from None
        finally:
            if bar:
                bar.close()
        with xr.open_dataset(out, engine="netcdf4") as ds:
            return ds.load()
