"""Two climates, one set of storms: what ``tarvo-compare`` reports, as a Dataset."""

import os
from typing import Optional, Sequence, Union

import numpy as np
import xarray as xr

from . import _core, _files
from ._errors import InputError

PathLike = Union[str, os.PathLike]
_CATEGORIES = ["TD", "TS", "1", "2", "3", "4", "5"]


def compare(present: Union[PathLike, xr.Dataset], future: Union[PathLike, xr.Dataset], *,
            catalog: Union[PathLike, xr.Dataset], data: Optional[PathLike] = None,
            labels: Sequence[str] = ("present", "future"), resamples: int = 1000, seed: int = 1) -> xr.Dataset:
    """The forecasts of the same storms under two climates, compared as risk analysts look at them.

    Parameters
    ----------
    present, future : path or xarray.Dataset
        Forecast files (``tarvo-batch --out``, :func:`forecast_catalog`) of
        one catalog's storms, under two environments.
    catalog : path or xarray.Dataset
        The catalog both were made from.
    data : path, optional
        A folder of ocean grids: where its elevation is above 0 is land, for
        the intensity at landfall (the first sample over land after sea).
    labels : (str, str)
        The two climates' names, the coordinate ``climate``.
    resamples : int
        Bootstrap resamples of the storms (the intervals are the 5 and 95 %
        points of the resampled statistics; 0: no intervals).

    Returns
    -------
    xarray.Dataset
        ``lmi_quantile`` (kt, ``climate, quantile``: the lifetime maximum
        intensity's quantiles) with ``lmi_quantile_low``/``_high`` and the
        paired ``lmi_quantile_change`` (with ``_low``/``_high``);
        ``lmi_mean`` likewise; ``category_storms`` (``climate, category``:
        TD, TS, 1 to 5, by each storm's lifetime maximum); ``exceedance``
        (``climate, threshold``: the share of storms whose lifetime maximum
        reaches each wind, kt); ``landfall_wind`` (kt, the mean at landfall)
        and ``landfall_hurricane_share``; ``rapid_intensification_share`` (a
        rise of 30 kt within 24 h at any time); attributes ``storms``,
        ``landfalls``, ``notes``.

    Examples
    --------
    >>> ds = tarvo.compare("present.nc", "future.nc", catalog="tracks.nc", data="data")
    >>> ds.lmi_quantile_change.sel(quantile=0.9).item()  # kt
    """
    if isinstance(labels, str) or len(labels) != 2 or not all(isinstance(x, str) for x in labels):
        raise TypeError(f"compare: labels are two str, as ('present', 'future'), not {labels!r}")
    for name, value in (("resamples", resamples), ("seed", seed)):
        if isinstance(value, bool) or not isinstance(value, (int, np.integer)):
            raise TypeError(f"compare: {name} must be an integer, not {type(value).__name__}")
    if not 0 <= resamples <= 100000:
        raise InputError(f"compare: resamples is 0 to 100000, not {resamples}")
    with _files.scratch() as tmp:
        with _files.as_paths([present, future], tmp, "forecasts") as paths, \
                _files.as_paths(catalog, tmp, "catalog") as cpath:
            r = _core.compare_forecast_files(paths[0], paths[1], cpath[0], os.fspath(data) if data else "",
                                             int(resamples), int(seed))
    climate = list(labels)
    out = {}

    def paired(name, values, dims=(), coords=()):
        """A statistic in both climates and its change, each with its interval."""
        def field(key):
            return np.array([v[key] for v in values]) if dims else values[0][key]
        shape_dims = ("climate",) + tuple(dims)
        both = np.stack([field("present"), field("future")])
        low = np.stack([field("present_low"), field("future_low")])
        high = np.stack([field("present_high"), field("future_high")])
        out[name] = (shape_dims, both)
        out[name + "_low"] = (shape_dims, low)
        out[name + "_high"] = (shape_dims, high)
        out[name + "_change"] = (tuple(dims), field("change"))
        out[name + "_change_low"] = (tuple(dims), field("change_low"))
        out[name + "_change_high"] = (tuple(dims), field("change_high"))

    paired("lmi_quantile", r["lmi_quantile"], ("quantile",))
    paired("lmi_mean", [r["lmi_mean"]])
    paired("landfall_wind", [r["landfall_wind"]])
    paired("landfall_hurricane_share", [r["landfall_hurricane_share"]])
    paired("rapid_intensification_share", [r["rapid_share"]])
    out["category_storms"] = (("climate", "category"), np.array([r["category_present"], r["category_future"]], np.int64))
    out["exceedance"] = (("climate", "threshold"), np.array([r["exceedance_present"], r["exceedance_future"]]))
    ds = xr.Dataset(out, coords={"climate": climate, "quantile": np.array(r["quantiles"]), "category": _CATEGORIES,
                                 "threshold": ("threshold", np.array(r["thresholds_kt"]), {"units": "knot"})})
    for k in ds.data_vars:
        if k.startswith(("lmi_", "landfall_wind")):
            ds[k].attrs["units"] = "knot"
        elif "share" in k or k == "exceedance":
            ds[k].attrs["units"] = "1"
    ds.attrs = {"storms": int(r["storms"]), "landfalls": int(r["landfalls"]), "notes": "\n".join(r["notes"]),
                "confidence": float(r["confidence"]), "resamples": int(resamples),
                "method": "lifetime maximum intensity from each forecast's start; categories by Saffir-Simpson; "
                          "landfall the first sample over land (the grids' elevation above 0) after one over the sea; "
                          "rapid intensification a rise of 30 kt within 24 h; intervals from resampling the storms "
                          "(paired: the same storms in both climates)",
                "source": f"tarvo {_core.version()}"}
    return ds
