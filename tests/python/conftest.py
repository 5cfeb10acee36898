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
