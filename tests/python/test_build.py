"""The build as a newcomer meets it: a missing dependency stops the
configuration naming the Debian package, every program and the package say
which build they are, the Python extension stands on the library API alone,
and the README's demo runs on a fresh copy of the sources."""

import os
import re
import shutil
import subprocess

import pytest

import tarvo
from conftest import BUILD, SOURCE

PROGRAMS = ["tarvo", "tarvo-batch", "tarvo-catalog", "tarvo-verify"]


@pytest.mark.parametrize("option, words", [
    ("-DCMAKE_IGNORE_PATH=/usr/include", "the netCDF C library with its headers (netcdf.h) is missing"),
    ("-DCMAKE_DISABLE_FIND_PACKAGE_GTest=TRUE", "GoogleTest is missing"),
    ("-DCMAKE_DISABLE_FIND_PACKAGE_benchmark=TRUE", "Google Benchmark is missing"),
    ("-DCMAKE_DISABLE_FIND_PACKAGE_pybind11=TRUE", "pybind11 for the Python package is missing"),
    ("-DCMAKE_DISABLE_FIND_PACKAGE_Python3=TRUE", "Python 3 with its development files (Python.h)"),
])
def test_a_missing_dependency_stops_the_configuration_naming_its_package(tmp_path, option, words):
    r = subprocess.run(["cmake", "-S", SOURCE, "-B", tmp_path / "build", option], capture_output=True, text=True)
    assert r.returncode != 0
    text = " ".join(r.stderr.split())
    assert words in text and "apt-get install " in text, r.stderr
    package = {"netCDF": "libnetcdf-dev", "GoogleTest": "libgtest-dev", "Benchmark": "libbenchmark-dev",
               "pybind11": "pybind11-dev", "Python 3": "python3-dev"}
    assert any(k in words and v in text for k, v in package.items()), r.stderr
    assert not (tmp_path / "build" / "Makefile").exists()


def test_optional_parts_can_be_left_out_instead(tmp_path):
    r = subprocess.run(["cmake", "-S", SOURCE, "-B", tmp_path / "build", "-DCMAKE_DISABLE_FIND_PACKAGE_GTest=TRUE",
                        "-DTARVO_TESTS=OFF", "-DTARVO_BENCH=OFF", "-DTARVO_PYTHON=OFF"], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr


@pytest.mark.parametrize("program", PROGRAMS)
def test_every_program_says_which_build_it_is(program):
    r = subprocess.run([BUILD / program, "--version"], capture_output=True, text=True)
    assert r.returncode == 0 and r.stderr == ""
    assert re.fullmatch(rf"{program} \(tarvo {re.escape(tarvo.__version__)}\), time step on "
                        r"(scalar|sse|avx2|avx512)\n", r.stdout), r.stdout


def test_the_version_names_the_commit_it_was_built_from():
    assert re.fullmatch(r"\d+\.\d+\.\d+(\+g[0-9a-f]{12}(\.dirty)?)?", tarvo.__version__)
    head = subprocess.run(["git", "-C", SOURCE, "rev-parse", "--short=12", "HEAD"], capture_output=True, text=True)
    if head.returncode == 0:
        assert f"+g{head.stdout.strip()}" in tarvo.__version__


def test_the_python_extension_includes_the_library_api_alone():
    extension = (SOURCE / "python" / "src" / "core.cpp").read_text()
    included = re.findall(r'#include\s+"([^"]+)"', extension)
    assert included and all(path.startswith("api/") for path in included), included


def tracked_files(source):
    r = subprocess.run(["git", "-C", source, "ls-files", "-z"], capture_output=True)
    return [f for f in r.stdout.decode().split("\0") if f] if r.returncode == 0 else []


@pytest.mark.skipif(not tracked_files(SOURCE), reason="the sources are not a git checkout")
@pytest.mark.skipif(os.environ.get("TARVO_DEMO_RAN_FRESH") == "1",
                    reason=".ci/run ran the README's demo on its fresh checkout before the tests")
def test_the_readme_demo_runs_on_a_fresh_copy_and_draws_its_picture(tmp_path):
    """What a newcomer gets from the README's demo command: a fresh copy of
    the sources (every tracked file, as it is now), nothing built."""
    fresh = tmp_path / "tarvo"
    for name in tracked_files(SOURCE):
        if os.path.isfile(SOURCE / name):
            (fresh / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(SOURCE / name, fresh / name)
    readme = (fresh / "README.md").read_text()
    assert "bash scripts/demo.sh" in readme
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "TARVO_BUILD", "TARVO_SOURCE")}
    r = subprocess.run(["bash", "scripts/demo.sh"], cwd=fresh, capture_output=True, text=True, env=env)
    assert r.returncode == 0, r.stderr[-3000:]
    picture = re.search(r"^picture: (\S+)$", r.stdout, re.M)
    assert picture and picture.group(1) == str(fresh / "demo" / "forecast.png"), r.stdout[-500:]
    assert (fresh / "demo" / "forecast.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert " month day time latitude longitude vmax(knots) Rm(km) Pmin(mb)" in r.stdout
    # A picture that cannot be drawn fails the demo (here: a folder where it would go).
    (fresh / "demo" / "forecast.png").unlink()
    (fresh / "demo" / "forecast.png").mkdir()
    r = subprocess.run(["bash", "scripts/demo.sh"], cwd=fresh, capture_output=True, text=True, env=env)
    assert r.returncode != 0 and "picture:" not in r.stdout
