"""Shared inputs of the Python tests: a generated world with storms, made by
the build's tarvo-synth in a temporary directory, and the reference cases
when ../shared/reference is there."""

import os
import pathlib
import shutil
import subprocess

import pytest

import tarvo

BUILD = pathlib.Path(os.environ.get("TARVO_BUILD", pathlib.Path(__file__).parents[2] / "build")).resolve()
SOURCE = pathlib.Path(os.environ.get("TARVO_SOURCE", pathlib.Path(__file__).parents[2]))
REFERENCE = SOURCE.parent / "shared" / "reference"


@pytest.fixture(scope="session")
def world(tmp_path_factory):
    """A directory with world/data and storms case41..case44, each run once by tarvo."""
    root = tmp_path_factory.mktemp("world")
    subprocess.run([BUILD / "tarvo-synth", root / "world"], check=True, stdout=subprocess.DEVNULL)
    for seed in (41, 42, 43, 44):
        case = root / f"case{seed}"
        subprocess.run([BUILD / "tarvo-synth", "--no-grids", "--seed", str(seed), case], check=True)
        (case / "data").symlink_to(root / "world" / "data")
        subprocess.run([BUILD / "tarvo"], cwd=case, check=True, stdout=subprocess.DEVNULL)
        shutil.copy(case / "track.out", case / "expected.out")
    return root


@pytest.fixture(scope="session")
def grids(world):
    return tarvo.load_grids(world / "world" / "data")


@pytest.fixture(scope="session")
def cases(world):
    return sorted(world.glob("case*"))


def same_but_history(a, b):
    """Whether two NetCDF files hold the same variables, values (bit for bit),
    dimensions and attributes, the history attribute (when and by what
    command a file was made) aside."""
    import netCDF4
    import numpy as np

    def content(path):
        with netCDF4.Dataset(path) as ds:
            ds.set_auto_maskandscale(False)
            attrs = {k: ds.getncattr(k) for k in ds.ncattrs() if k != "history"}
            dims = {k: len(d) for k, d in ds.dimensions.items()}
            variables = {}
            for k, v in ds.variables.items():
                data = v[...]
                raw = np.asarray(data).tobytes() if data.dtype != object else repr(data.tolist()).encode()
                variables[k] = (v.dtype.str if v.dtype != str else "str", v.dimensions,
                                repr({a: v.getncattr(a) for a in v.ncattrs()}), raw)  # repr: NaN fill values
            return repr(attrs), dims, variables

    return content(a) == content(b)


def without_history(ds):
    """A Dataset without its history attribute (when and by what command its file was made)."""
    ds = ds.copy()
    ds.attrs = {k: v for k, v in ds.attrs.items() if k != "history"}
    return ds
