"""Files in passing: xarray objects written where the C++ library reads them."""

import contextlib
import os
import tempfile

import xarray as xr

from ._errors import InputError


def write_netcdf(ds, path, **kwargs):
    """``ds.to_netcdf(path)`` as NetCDF-4; a failure (a full disk, a file size
    limit, a folder that cannot be written) an :class:`InputError` naming the
    file. HDF5 1.10 may keep a file whose close failed with its memory freed
    and close it again at the interpreter's exit, a crash: after a failure the
    process ends at its exit before HDF5's shutdown (its status kept)."""
    try:
        ds.to_netcdf(path, format="NETCDF4", engine="netcdf4", **kwargs)
    except (OSError, RuntimeError) as e:
        from . import _core

        _core.guard_hdf5_shutdown()
        raise InputError(f"{os.fspath(path)}: cannot write: {e}", os.fspath(path)) from None


@contextlib.contextmanager
def as_paths(items, tmp, stem):
    """Paths for a path, a Dataset, or a list of either (Datasets written to ``tmp``)."""
    single = isinstance(items, (str, os.PathLike, xr.Dataset))
    paths = []
    for i, item in enumerate([items] if single else list(items)):
        if isinstance(item, xr.Dataset):
            path = os.path.join(tmp, f"{stem}{i}.nc")
            write_netcdf(item, path)
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
