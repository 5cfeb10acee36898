"""Files in passing: xarray objects written where the C++ library reads them."""

import contextlib
import os
import tempfile

import xarray as xr


@contextlib.contextmanager
def as_paths(items, tmp, stem):
    """Paths for a path, a Dataset, or a list of either (Datasets written to ``tmp``)."""
    single = isinstance(items, (str, os.PathLike, xr.Dataset))
    paths = []
    for i, item in enumerate([items] if single else list(items)):
        if isinstance(item, xr.Dataset):
            path = os.path.join(tmp, f"{stem}{i}.nc")
            item.to_netcdf(path, format="NETCDF4", engine="netcdf4")
            paths.append(path)
        else:
            paths.append(os.fspath(item))
    yield paths


@contextlib.contextmanager
def scratch():
    """A temporary folder, removed afterwards."""
    with tempfile.TemporaryDirectory(prefix="tarvo-") as tmp:
        yield tmp


def load(path):
    """A NetCDF file as a Dataset in memory (the file can go)."""
    with xr.open_dataset(path, engine="netcdf4") as ds:
        return ds.load()
