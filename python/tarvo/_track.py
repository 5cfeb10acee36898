"""Tracks and run parameters: built from arrays, or read from track.in and params.in."""

from dataclasses import dataclass, field

import numpy as np

from . import _core
from ._errors import InputError

_FIELDS = ("lat", "lon", "vmax_kt", "vpot", "shear", "t600", "rh600")


class Track:
    """One storm's track: the reference time of track time 0 and its fixes.

    Parameters
    ----------
    basin : str
        Basin code: ATCF's (``al``, ``ep``, ``cp``, ``wp``, ``io``, ``sh``,
        ``sl``, in any case) or IBTrACS's (``NA``, ``EP``, ``WP``, ``NI``,
        ``SI``, ``SP``, ``SA``), kept as tarvo's lower-case ATCF code
        (docs/formats.md). Eastern-Pacific storms (``ep``) get the
        eastern-Pacific coefficients.
    month, day, hour : int
        Date and hour of track time 0.
    hours : array-like of int
        Time of each fix, in hours from the reference time; increasing, with
        at least one fix at or before 0 (the forecast starts at the last one).
    lat, lon : array-like
        Position, degrees north and degrees east (west may be negative).
    vmax_kt : array-like
        Observed maximum wind, knots.
    vpot : array-like
        Potential intensity, m/s.
    shear : array-like
        Vertical wind shear (the track's field 6), m/s.
    t600 : array-like
        Temperature at 600 hPa, K.
    rh600 : array-like
        Relative humidity at 600 hPa, percent.
    name : str
        Names the track in messages.
    year : int, optional
        The year of the reference time, where it is known: forecasts then
        have real times (:func:`tarvo.forecast`), and a track may start on
        29 February of a leap year. track.in has no year.

    Every value of every fix must be a finite number: a NaN or an infinity
    raises :class:`InputError` naming the field, the fix and the track.
    """

    def __init__(self, basin, month, day, hour, hours, lat, lon, vmax_kt, vpot, shear, t600, rh600,
                 name="track", year=None):
        self.name = str(name)
        if not isinstance(basin, str) or len(basin) > 2:
            raise InputError(f"{self.name}: the basin code {basin!r} is not a text of two characters", self.name)
        self.month, self.day, self.hour = (_integer(v, k, self.name)
                                           for k, v in (("month", month), ("day", day), ("hour", hour)))
        self.year = None if year is None else _integer(year, "year", self.name)
        self.hours = _int_array(hours, "hours", self.name)
        n = len(self.hours)
        values = {}
        for key, value in zip(_FIELDS, (lat, lon, vmax_kt, vpot, shear, t600, rh600)):
            try:
                a = np.asarray(value, dtype=np.float64)
            except (TypeError, ValueError):
                raise InputError(f"{self.name}: {key} must be numbers", self.name) from None
            if a.ndim != 1 or len(a) != n:
                raise InputError(f"{self.name}: {key} has {a.size} values, hours has {n}", self.name)
            values[key] = a.astype(np.float32)
        for key in _FIELDS:
            setattr(self, key, values[key])
        self.skipped = []
        self.basin = basin.ljust(2)
        self.basin = _core.check_track(*self._core_args(), self.name)

    def _core_args(self):
        return ((self.basin, self.month, self.day, self.hour, self.year or 0, self.hours)
                + tuple(getattr(self, k) for k in _FIELDS))

    def _fields(self):
        d = dict(zip(("basin", "month", "day", "hour", "year", "hours") + _FIELDS, self._core_args()))
        d["name"] = self.name
        return d

    def to_text(self):
        """The track as a track.in text that reads back to the same values
        (track.in has no year: a track that starts on 29 February cannot be
        written, and raises :class:`InputError`)."""
        return _core.track_text(*self._core_args(), self.name)

    def __len__(self):
        return len(self.hours)

    def __repr__(self):
        year = f"{self.year:04d}-" if self.year else ""
        return (f"Track({self.name!r}, basin={self.basin!r}, reference {year}{self.month:02d}-{self.day:02d} "
                f"{self.hour:02d}h, {len(self)} fixes from {self.hours[0]} h to {self.hours[-1]} h)")


def read_track(path):
    """The track of a track.in file; records skipped as unreadable are listed in ``.skipped``."""
    path = str(path)
    d = _core.parse_track(_core.read_text(path), path)
    t = Track(d["basin"], d["month"], d["day"], d["hour"], d["hours"],
              *(d[k] for k in _FIELDS), name=path)
    t.skipped = list(d["skipped"])
    return t


@dataclass(frozen=True)
class Params:
    """The four run parameters of params.in (dimensionless weights)."""

    smooth_vobs: float = 0.5   #: smoothing weight of the observed wind
    smooth_dist: float = 0.5   #: smoothing weight of the along-track distance
    smooth_f6: float = 0.5     #: smoothing weight of field 6 (the shear)
    nudge_gain: float = 2.0    #: gain of the intensity feedback

    def __post_init__(self):
        for k in ("smooth_vobs", "smooth_dist", "smooth_f6", "nudge_gain"):
            v = getattr(self, k)
            try:
                f = float(np.float32(v))
            except (TypeError, ValueError):
                raise InputError(f"params: {k} is not a number: {v!r}", "params") from None
            if not np.isfinite(f):
                raise InputError(f"params: {k} is {v!r}; it must be a finite number", "params")
            object.__setattr__(self, k, f)

    def _tuple(self):
        return (self.smooth_vobs, self.smooth_dist, self.smooth_f6, self.nudge_gain)


def read_params(path):
    """The parameters of a params.in file."""
    path = str(path)
    return Params(*_core.parse_params(_core.read_text(path), path))


def _integer(value, key, name):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, np.integer)):
        raise InputError(f"{name}: {key} is not a whole number: {value!r}", name)
    return int(value)


def _int_array(value, key, name):
    a = np.asarray(value)
    if a.ndim != 1 or a.size == 0:
        raise InputError(f"{name}: {key} must be a non-empty list of hours", name)
    if not np.issubdtype(a.dtype, np.integer):
        f = a.astype(np.float64)
        if not np.all(np.isfinite(f)) or not np.all(f == np.round(f)):
            raise InputError(f"{name}: {key} must be whole hours", name)
        a = f
    if np.any(np.abs(a.astype(np.float64)) > 100000):
        raise InputError(f"{name}: {key} must lie within -100000..100000", name)
    return a.astype(np.int32)
