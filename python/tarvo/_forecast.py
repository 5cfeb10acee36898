"""Forecasts as xarray Datasets: one storm, many storms on C++ threads, or a case directory."""

import os
import sys
import time as _time

import numpy as np
import xarray as xr

from . import _core
from ._errors import InputError
from ._track import Params, Track, read_params, read_track


def load_grids(data_dir):
    """The elevation grid and monthly ocean climatologies of ``data_dir``.

    Loaded once; the returned :class:`Grids` is read-only and shared by every
    forecast and thread that uses it.
    """
    return _core.load_grids(str(data_dir))


Grids = _core.Grids


def forecast(track, params, grids, year=None):
    """The intensity forecast of one storm.

    Parameters
    ----------
    track : Track
    params : Params
    grids : Grids
    year : int, optional
        The year of the reference time, when the track has none
        (``Track.year``): the ``time`` coordinate is then real times
        (datetime64, leap days included). Otherwise it is hours since the
        reference time, with tarvo's own date labels (``month``, ``day``,
        ``hour``, a calendar without leap days, as track.out has them).

    Returns
    -------
    xarray.Dataset
        Dimension ``time`` (every 2 h from the first fix to the last) with
        ``lat``, ``lon`` (degrees), ``vmax`` (kt), ``rmw`` (km, as track.out
        shows it), ``pmin`` (hPa) and ``vobs`` (the observed wind at the
        sample, kt). Attributes: ``status`` ("finished" or "stopped_early"),
        ``basin``, the parameters and the warnings.

    Raises
    ------
    InputError
        When the track cannot be forecast.
    """
    _check(track, params, grids)
    year = _year_of(track, year)
    result = _core.forecast_many([track._fields()], [params._tuple()], grids, 1)[0]
    if result["status"] == "failed":
        raise InputError(result["error"], result["error_path"], result["error_line"] or None)
    return _dataset(result, track, params, year)


def forecast_many(tracks, params, grids, threads=None, progress=True, year=None):
    """Forecasts of many storms on C++ threads (the GIL released), in input order.

    Parameters
    ----------
    tracks : sequence of Track
    params : Params, or a sequence of Params (one a track)
    grids : Grids
    threads : int, optional
        Default: the number of cores.
    progress : bool
        A progress bar on standard error when it is a terminal.
    year : int, optional
        As for :func:`forecast`.

    Returns
    -------
    list of xarray.Dataset
        One a track. A storm that failed raises nothing: its Dataset is empty,
        with ``status = "failed"`` and the reason in ``error``.
    """
    tracks = list(tracks)
    if isinstance(params, Params):
        params = [params] * len(tracks)
    params = list(params)
    if len(params) != len(tracks):
        raise InputError(f"forecast_many: {len(params)} params for {len(tracks)} tracks")
    for t, p in zip(tracks, params):
        _check(t, p, grids)
    years = [_year_of(t, year) for t in tracks]
    threads = (os.cpu_count() or 1) if threads is None else int(threads)
    if threads < 1:
        raise InputError(f"forecast_many: threads must be at least 1, not {threads}")
    bar = _ProgressBar(len(tracks)) if progress and sys.stderr.isatty() else None
    results = _core.forecast_many([t._fields() for t in tracks], [p._tuple() for p in params], grids,
                                  threads, bar.update if bar else None)
    if bar:
        bar.close()
    return [_dataset(r, t, p, y) for r, t, p, y in zip(results, tracks, params, years)]


def run_case(case_dir, grids=None, year=None):
    """What the tarvo program does in a directory: reads params.in and track.in
    (and ``data/`` unless ``grids`` is given), writes track.out whole or not at
    all, and returns the forecast's Dataset. A storm stopped early writes no
    track.out."""
    case_dir = str(case_dir)
    if grids is None:
        grids = load_grids(os.path.join(case_dir, "data"))
    track = read_track(os.path.join(case_dir, "track.in"))
    params = read_params(os.path.join(case_dir, "params.in"))
    _check(track, params, grids)
    result = _core.forecast_many([track._fields()], [params._tuple()], grids, 1)[0]
    if result["status"] == "failed":
        raise InputError(result["error"], result["error_path"], result["error_line"] or None)
    if result["status"] == "finished":
        _core.write_text_whole(os.path.join(case_dir, "track.out"), result["track_out"])
    return _dataset(result, track, params, _year_of(track, year))


def _check(track, params, grids):
    if not isinstance(track, Track):
        raise InputError(f"expected a tarvo.Track, not {type(track).__name__}")
    if not isinstance(params, Params):
        raise InputError(f"expected tarvo.Params, not {type(params).__name__}")
    if not isinstance(grids, Grids):
        raise InputError(f"expected tarvo.Grids (tarvo.load_grids), not {type(grids).__name__}")


def _year_of(track, year):
    """The year of a track's reference time: given, or the track's own."""
    if year is None:
        return track.year
    year = int(year)
    if track.year is not None and track.year != year:
        raise InputError(f"{track.name}: year={year}, but the track's reference time is in {track.year}", track.name)
    return year


def _attrs(track, params):
    return {"basin": track.basin.strip(), "track": track.name, "smooth_vobs": params.smooth_vobs,
            "smooth_dist": params.smooth_dist, "smooth_f6": params.smooth_f6, "nudge_gain": params.nudge_gain,
            "source": f"tarvo {_core.version()}", "tarvo_step_path": _core.step_path()}


def _dataset(result, track, params, year):
    attrs = _attrs(track, params)
    if result["status"] == "failed":
        return xr.Dataset(attrs=dict(attrs, status="failed", error=result["error"]))
    attrs["warnings"] = "\n".join(result["warnings"])
    if result["status"] == "stopped_early":
        attrs["status"] = (f"stopped_early at {result['stop_hours']:+.1f} h "
                           f"(a negative squared radius at ring {result['stop_ring']})")
    else:
        attrs["status"] = "finished"
    n = len(result["vmax"])
    hours = result["first_hour"] + 2 * np.arange(n, dtype=np.int64)
    variables = {
        "lat": ("time", result["lat"], {"units": "degrees_north", "long_name": "latitude"}),
        "lon": ("time", result["lon"], {"units": "degrees_east", "long_name": "longitude"}),
        "vmax": ("time", result["vmax"], {"units": "knot", "long_name": "maximum sustained wind"}),
        "rmw": ("time", result["rmw"], {"units": "km", "long_name": "radius of maximum wind (as track.out shows it)"}),
        "pmin": ("time", result["pmin"], {"units": "hPa", "long_name": "central pressure"}),
        "vobs": ("time", result["vobs"], {"units": "knot", "long_name": "observed maximum wind at the sample"}),
    }
    if year is None:
        coords = {"time": ("time", hours, {"units": "hours since the reference time", "long_name": "time"})}
        variables["month"] = ("time", result["month"], {"long_name": "month (tarvo's calendar, no leap day)"})
        variables["day"] = ("time", result["day"], {"long_name": "day of month"})
        variables["hour"] = ("time", result["hour"], {"units": "h", "long_name": "hour of day"})
    else:
        coords = {"time": ("time", reference_time(year, track) + hours.astype("timedelta64[h]"))}
    return xr.Dataset(variables, coords=coords, attrs=attrs)


def reference_time(year, track):
    """The real time (datetime64[ns]) of a track's time 0 in ``year``."""
    return np.datetime64(f"{int(year):04d}-{track.month:02d}-{track.day:02d}T{track.hour:02d}", "h").astype(
        "datetime64[ns]")


class _ProgressBar:
    def __init__(self, total):
        self.total, self.start = total, _time.monotonic()

    def update(self, done, failed):
        width = 30
        filled = width * done // max(self.total, 1)
        elapsed = _time.monotonic() - self.start
        left = elapsed / done * (self.total - done) if done else 0.0
        sys.stderr.write(f"\r[{'#' * filled}{'.' * (width - filled)}] {done}/{self.total} storms"
                         f"{f', {failed} failed' if failed else ''}, {left:5.0f} s left ")
        sys.stderr.flush()

    def close(self):
        sys.stderr.write("\n")
