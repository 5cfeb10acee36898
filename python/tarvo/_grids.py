"""The ocean grids of ``data/`` from public data sets, and a look at them."""

import json
import os
import sys
from typing import Optional, Sequence, Union

import xarray as xr

from . import _core

PathLike = Union[str, "os.PathLike[str]"]


def _paths(value, name):
    if isinstance(value, (str, os.PathLike)):
        return [os.fspath(value)]
    try:
        items = list(value)
    except TypeError:
        raise TypeError(f"{name} is a path or a sequence of paths, not {type(value).__name__}") from None
    for item in items:
        if not isinstance(item, (str, os.PathLike)):
            raise TypeError(f"{name} holds paths, not {type(item).__name__}")
    return [os.fspath(p) for p in items]


def build_grids(*, elevation: PathLike, temperature: Union[PathLike, Sequence[PathLike]], output: PathLike,
                mld: Optional[Union[PathLike, Sequence[PathLike]]] = None, strat_depth: float = 100.0,
                least_remaining: float = 20.0, mld_threshold: float = 0.2, mld_reference: float = 10.0,
                elevation_variable: str = "", temperature_variable: str = "", mld_variable: str = "",
                force: bool = False, progress: bool = False) -> dict:
    """Build the ocean grids of a ``data/`` folder from public data sets, as
    ``tarvo-grids build`` does (docs/ocean.md).

    Parameters
    ----------
    elevation : path
        ETOPO 2022 (``z``), GEBCO (``elevation``) or any CF grid of surface
        elevation (m) or of depth (positive down).
    temperature : path or sequence of paths
        The twelve World Ocean Atlas monthly temperature files
        (``woa23_<period>_tMM_01.nc``, degrees Celsius on depth levels in m),
        or CF files of ``sea_water_temperature`` or
        ``sea_water_potential_temperature`` (a climate model's ``thetao``
        climatology), twelve months in one file or one a file.
    output : path
        The folder to write (whole or not at all); refused when it exists,
        unless ``force``.
    mld : path or sequence of paths, optional
        A mixed-layer depth climatology (m): de Boyer Montegut's
        ``mld_dr003``, Holte et al.'s ``mld_da_mean``, WOA18's ``M_an``.
        Without it the mixed layer comes from the temperatures.
    strat_depth : float
        The depth D (m) below the mixed layer the gradient is taken over.
    least_remaining : float
        Less water than this (m) below the mixed layer: no gradient there.
    mld_threshold, mld_reference : float
        The mixed layer ends where the water is ``mld_threshold`` K colder
        than at ``mld_reference`` m.

    Returns
    -------
    dict
        The record written to ``output/grids.json`` (sources with their
        SHA-256, methods, options, what was filled each month).

    Examples
    --------
    >>> import glob
    >>> record = tarvo.build_grids(elevation="ETOPO_2022_v1_60s_N90W180_surface.nc",
    ...                            temperature=sorted(glob.glob("woa23_decav91C0_t??_01.nc")), output="data")
    >>> grids = tarvo.load_grids("data")
    """
    elevation = _paths(elevation, "elevation")
    if len(elevation) != 1:
        raise TypeError("elevation is one path")
    temperature = _paths(temperature, "temperature")
    mld = [] if mld is None else _paths(mld, "mld")
    if not isinstance(output, (str, os.PathLike)):
        raise TypeError(f"output is a path, not {type(output).__name__}")
    numbers = {"strat_depth": strat_depth, "least_remaining": least_remaining, "mld_threshold": mld_threshold,
               "mld_reference": mld_reference}
    for name, value in numbers.items():
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise TypeError(f"{name} is a number (m or K), not {type(value).__name__}")
    call = (f"tarvo.build_grids(elevation={elevation[0]!r}, temperature=[{len(temperature)} files], "
            f"output={os.fspath(output)!r})")
    out = _core.build_grids(elevation[0], temperature, mld, os.fspath(output), float(strat_depth),
                            float(least_remaining), float(mld_threshold), float(mld_reference), elevation_variable,
                            temperature_variable, mld_variable, bool(force), bool(progress), call)
    if progress:
        print(out["summary"], end="", file=sys.stderr)
    return json.loads(out["json"])


def check_grids(data_dir: PathLike) -> xr.Dataset:
    """The ranges of each grid of a ``data/`` folder, month by month, as
    ``tarvo-grids check`` prints them.

    Returns
    -------
    xarray.Dataset
        Over ``month`` (1..12): ``mld_min``, ``mld_mean``, ``mld_max`` (m),
        ``strat_min``, ``strat_mean``, ``strat_max`` (K per 100 m),
        ``zero_gradient_share`` and, from grids.json when there is one,
        ``mld_filled`` and ``strat_filled`` (cells; -1 without); attributes
        ``elevation_min``, ``elevation_max`` (m), ``ocean_share`` and
        ``warnings``.

    Examples
    --------
    >>> tarvo.check_grids("data").mld_max.sel(month=9).item()
    """
    if not isinstance(data_dir, (str, os.PathLike)):
        raise TypeError(f"data_dir is a path, not {type(data_dir).__name__}")
    r = _core.check_grids(os.fspath(data_dir))
    months = r["months"]
    data = {}
    for field, unit in (("mld", "m"), ("strat", "K (100 m)-1")):
        for k, what in enumerate(("min", "max", "mean")):
            data[f"{field}_{what}"] = ("month", [m[field][k] for m in months], {"units": unit})
    data["zero_gradient_share"] = ("month", [m["zero_gradient_share"] for m in months])
    data["mld_filled"] = ("month", [m["mld_filled"] for m in months])
    data["strat_filled"] = ("month", [m["strat_filled"] for m in months])
    ds = xr.Dataset(data, coords={"month": list(range(1, 13))})
    ds.attrs = {"elevation_min": r["elevation"][0], "elevation_max": r["elevation"][1], "ocean_share": r["ocean_share"],
                "warnings": "\n".join(r["warnings"]), "table": r["table"]}
    return ds
