"""The verification of hindcasts against the best track, as an xarray Dataset."""

import numpy as np
import xarray as xr

from . import _core, _files


def verify(catalog, forecasts):
    """Mean absolute error and bias of the maximum wind of hindcasts against
    the best track, at lead times 0 to 120 h, by basin and overall,
    homogeneous (at each lead time the forecasts with both a forecast and an
    observation), with the skill against persistence (the wind at the start
    held constant): what ``tarvo-verify --catalog ... --forecasts ...`` prints.

    Parameters
    ----------
    catalog : path or xarray.Dataset
        The catalog the forecasts were made from (its winds the best track).
    forecasts : path or xarray.Dataset
        Their forecast file (``tarvo-batch --out``, :func:`forecast_catalog`).

    Returns
    -------
    xarray.Dataset
        Dimensions ``basin`` (tarvo's codes, then "all") and ``lead`` (h):
        ``n`` (forecasts), ``mae``, ``bias``, ``persistence_mae`` (kt) and
        ``skill`` (%); ``attrs["table"]`` the table as printed.
    """
    with _files.scratch() as tmp:
        with _files.as_paths(catalog, tmp, "catalog") as c, _files.as_paths(forecasts, tmp, "forecasts") as f:
            v = _core.verify_hindcasts(c[0], f[0])
    ds = xr.Dataset(
        {"n": (("basin", "lead"), v["n"], {"long_name": "forecasts"}),
         "mae": (("basin", "lead"), v["mae"], {"units": "knot", "long_name": "mean absolute error of the maximum wind"}),
         "bias": (("basin", "lead"), v["bias"], {"units": "knot", "long_name": "mean error (forecast minus best track)"}),
         "persistence_mae": (("basin", "lead"), v["persistence_mae"],
                             {"units": "knot", "long_name": "mean absolute error of persistence"}),
         "skill": (("basin", "lead"), v["skill"], {"units": "percent", "long_name": "skill against persistence"})},
        coords={"basin": np.array(v["basins"], dtype=object), "lead": ("lead", np.array(v["leads"]), {"units": "h"})})
    ds.attrs = {"table": v["table"], "forecasts": v["forecasts"], "without_result": v["without_result"],
                "source": f"tarvo {_core.version()}"}
    return ds
