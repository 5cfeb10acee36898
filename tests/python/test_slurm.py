"""A real Slurm on this machine (munged, slurmctld and slurmd from Debian's
slurm-wlm, with a temporary one-node configuration): the job-array script
over a catalog, its parts merged, every storm exactly once and the values of
one tarvo-batch run."""

import os
import shutil
import socket
import subprocess
import time

import pytest
import xarray as xr

import tarvo
from conftest import BUILD, SOURCE

DAEMONS = ("munged", "slurmctld", "slurmd", "sbatch", "squeue", "scontrol")
pytestmark = pytest.mark.skipif(
    os.geteuid() != 0 or not all(shutil.which(d) or os.path.exists(f"/usr/sbin/{d}") for d in DAEMONS),
    reason="needs root and Debian's slurm-wlm and munge (bash scripts/setup.sh installs them)")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def memory_mb():
    with open("/proc/meminfo") as f:
        return int(f.readline().split()[1]) // 1024


def wait_for(check, what, seconds=30):
    deadline = time.monotonic() + seconds
    while not check():
        if time.monotonic() > deadline:
            raise TimeoutError(what)
        time.sleep(0.1)


@pytest.fixture(scope="module")
def slurm(tmp_path_factory):
    """A running one-node cluster; its environment (SLURM_CONF) for the clients."""
    root = tmp_path_factory.mktemp("slurm")
    key = root / "munge.key"
    key.write_bytes(os.urandom(1024))
    key.chmod(0o400)
    sock = root / "munge.sock"
    subprocess.run(["munged", "--force", f"--key-file={key}", f"--socket={sock}", f"--pid-file={root}/munged.pid",
                    f"--log-file={root}/munged.log", f"--seed-file={root}/munged.seed"], check=True)
    host = socket.gethostname()
    (root / "state").mkdir()
    (root / "spool").mkdir()
    conf = root / "slurm.conf"
    conf.write_text(f"""ClusterName=tarvotest
SlurmctldHost={host}
AuthType=auth/munge
AuthInfo=socket={sock}
SlurmUser=root
SlurmdUser=root
SlurmctldPort={free_port()}
SlurmdPort={free_port()}
StateSaveLocation={root}/state
SlurmdSpoolDir={root}/spool
SlurmctldPidFile={root}/slurmctld.pid
SlurmdPidFile={root}/slurmd.pid
SlurmctldLogFile={root}/slurmctld.log
SlurmdLogFile={root}/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
NodeName={host} CPUs={os.cpu_count()} RealMemory={memory_mb() * 9 // 10} State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
""")
    env = dict(os.environ, SLURM_CONF=str(conf))
    try:
        subprocess.run(["slurmctld"], env=env, check=True)
        subprocess.run(["slurmd"], env=env, check=True)
        wait_for(lambda: subprocess.run(["sinfo", "-h", "-o", "%t"], env=env, capture_output=True,
                                        text=True).stdout.strip() == "idle", "the node to come up idle")
        yield env
    finally:
        subprocess.run(["scontrol", "shutdown"], env=env, capture_output=True)
        subprocess.run(["munged", f"--socket={sock}", "--stop"], capture_output=True)
        for pid_file in ("slurmd.pid", "slurmctld.pid"):  # whatever did not stop when asked
            try:
                pid = int((root / pid_file).read_text())
                wait_for(lambda: not os.path.exists(f"/proc/{pid}") or
                         open(f"/proc/{pid}/stat").read().split()[2] == "Z", "the daemons to stop", 10)
            except (FileNotFoundError, ValueError, TimeoutError):
                subprocess.run(["pkill", "-F", str(root / pid_file)], capture_output=True)


def test_job_array_over_a_catalog_then_merge(slurm, cases, world, tmp_path):
    tracks = [tarvo.read_track(c / "track.in") for c in cases] * 5
    path = tmp_path / "tracks.nc"
    tarvo.write_catalog(tracks, tarvo.Params(), path, sids=[f"s{i:02d}" for i in range(len(tracks))])
    data = world / "world" / "data"
    env = dict(slurm, TARVO_BATCH=str(BUILD / "tarvo-batch"))
    submitted = subprocess.run(["sbatch", "--parsable", "--array=0-2", f"--output={tmp_path}/task-%a.log",
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
        assert a.identical(b)
