"""A real Slurm on this machine (munged, slurmctld and slurmd from Debian's
slurm-wlm, with a temporary one-node configuration): the job-array script
over a catalog, its parts merged, every storm exactly once and the values of
one tarvo-batch run."""

import os
import shutil
import subprocess
import time

import pytest
import xarray as xr

import tarvo
from conftest import BUILD, without_history, SOURCE

DAEMONS = ("munged", "slurmctld", "slurmd", "sbatch", "sinfo", "squeue", "scontrol")
pytestmark = pytest.mark.skipif(
    os.geteuid() != 0 or not all(shutil.which(d) or os.path.exists(f"/usr/sbin/{d}") for d in DAEMONS),
    reason="needs root and Debian's slurm-wlm and munge (bash scripts/setup.sh installs them)")


def wait_for(check, what, seconds):
    deadline = time.monotonic() + seconds
    while not check():
        if time.monotonic() > deadline:
            raise TimeoutError(what)
        time.sleep(0.1)


@pytest.fixture(scope="module")
def slurm(tmp_path_factory):
    """A running one-node cluster (scripts/local_slurm.sh); the clients' environment."""
    root = tmp_path_factory.mktemp("slurm")
    script = str(SOURCE / "scripts" / "local_slurm.sh")
    try:
        started = subprocess.run(["bash", script, "start", root], capture_output=True, text=True)
        assert started.returncode == 0, started.stderr
        yield dict(os.environ, SLURM_CONF=started.stdout.strip())
    finally:
        subprocess.run(["bash", script, "stop", root], capture_output=True)
        for pid_file in root.glob("*.pid"):  # each daemon it started has gone
            pid = pid_file.read_text().strip()
            assert not os.path.exists(f"/proc/{pid}") or open(f"/proc/{pid}/stat").read().split()[2] == "Z"


def test_job_array_over_a_catalog_then_merge(slurm, cases, world, tmp_path):
    tracks = [tarvo.read_track(c / "track.in") for c in cases] * 5
    path = tmp_path / "tracks.nc"
    tarvo.write_catalog(tracks, tarvo.Params(), path, sids=[f"s{i:02d}" for i in range(len(tracks))])
    data = world / "world" / "data"
    env = dict(slurm, TARVO_BATCH=str(BUILD / "tarvo-batch"))
    submitted = subprocess.run(["sbatch", "--parsable", "--array=0-2", "--cpus-per-task=1",
                                f"--output={tmp_path}/task-%a.log",
                                SOURCE / "scripts" / "slurm_catalog.sh", path, data, tmp_path / "parts"],
                               env=env, capture_output=True, text=True, cwd=tmp_path)
    assert submitted.returncode == 0, submitted.stderr
    job = submitted.stdout.strip()
    wait_for(lambda: subprocess.run(["squeue", "-h", "-j", job], env=env, capture_output=True,
                                    text=True).stdout.strip() == "", "the job array to end", 120)
    logs = [(tmp_path / f"task-{k}.log").read_text() for k in range(3)]
    for k, log in enumerate(logs):
        assert f"(share {k} of 3): " in log and ", 0 failed" in log, log
    parts = sorted((tmp_path / "parts").glob("part-*.nc"))
    assert [p.name for p in parts] == ["part-0.nc", "part-1.nc", "part-2.nc"]
    merged = tmp_path / "merged.nc"
    r = subprocess.run([BUILD / "tarvo-catalog", "merge", *parts, "-o", merged], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    single = tmp_path / "single.nc"
    r = subprocess.run([BUILD / "tarvo-batch", "--data", data, "--catalog", path, "--out", single],
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    with xr.open_dataset(merged) as a, xr.open_dataset(single) as b:
        assert a.sid.values.tolist() == [f"s{i:02d}" for i in range(len(tracks))]  # each exactly once, in order
        assert without_history(a).identical(without_history(b))
