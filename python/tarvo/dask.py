"""Catalogs on a Dask cluster: chunks of storms forecast on the workers of a
``distributed`` client, each worker loading the grids once.

>>> from distributed import Client, LocalCluster
>>> client = Client(LocalCluster(n_workers=2, threads_per_worker=1))
>>> ds = tarvo.dask.forecast_catalog("tracks.nc", "data", client, chunk_storms=500)
"""

import os

import xarray as xr

from . import _catalog, _core
from ._forecast import load_grids


def forecast_catalog(path, data_dir, client, chunk_storms=1000, out=None):
    """Forecasts every storm of the catalog file ``path`` on the workers of
    ``client`` (a ``distributed.Client``), ``chunk_storms`` storms a task, with
    the grids of ``data_dir`` (each worker loads them once).

    The chunks are pure tasks: a worker lost in the middle has its chunks run
    again elsewhere, and every storm comes back exactly once. Returns the
    forecasts as one Dataset in catalog order (see
    :func:`tarvo.forecast_catalog`), or writes it to ``out`` (a NetCDF file,
    whole or not at all) and returns its path.
    """
    path, data_dir = os.path.abspath(str(path)), os.path.abspath(str(data_dir))
    with xr.open_dataset(path, engine="netcdf4", decode_times=False) as ds:
        n = ds.sizes["storm"]
    _catalog.read_catalog(path)  # every fault of the file, here, before any task
    chunk_storms = max(1, int(chunk_storms))
    starts = list(range(0, n, chunk_storms))
    futures = client.map(_forecast_chunk, [path] * len(starts), [data_dir] * len(starts), starts,
                         [min(s + chunk_storms, n) for s in starts], pure=True, retries=2)
    parts = client.gather(futures)
    result = _catalog.join_parts(parts)
    result.attrs["history"] = _core.history_line(f"tarvo.dask.forecast_catalog({path!r}, {data_dir!r}, "
                                                 f"chunk_storms={chunk_storms}) on a Dask cluster")
    if out is None:
        return result
    _catalog._write_whole(result, str(out), {})
    return str(out)


def _forecast_chunk(path, data_dir, start, stop):
    from distributed import get_worker

    worker = get_worker()
    cache = worker.__dict__.setdefault("_tarvo_grids", {})  # one load per worker and data directory
    if data_dir not in cache:
        cache[data_dir] = load_grids(data_dir)
    return _catalog.forecast_catalog_part(path, cache[data_dir], start, stop)
