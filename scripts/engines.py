#!/usr/bin/python3
"""Storms per CPU-hour of one generated catalog on each engine, side by side:
tarvo-batch on threads, the Python package on threads, a Dask LocalCluster of
worker processes and a Slurm job array on a one-node Slurm started here (root
only). CPU time is the whole machine's (all processes, from /proc/stat), so
each engine's own overhead counts too.

    /usr/bin/python3 scripts/engines.py [STORMS [ENGINE...]]   (default 200, all; needs build/)

ENGINE: batch, python, dask, slurm.
"""

import os
import pathlib
import subprocess
import sys
import tempfile
import time
import warnings

ROOT = pathlib.Path(__file__).resolve().parents[1]
BUILD = pathlib.Path(os.environ.get("TARVO_BUILD", ROOT / "build"))
sys.path.insert(0, str(BUILD / "python"))

import tarvo  # noqa: E402


def cpu_seconds():
    """Busy CPU time of the whole machine so far, s."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    busy = sum(fields[:8]) - fields[3] - fields[4]  # all but idle and iowait
    return busy / os.sysconf("SC_CLK_TCK")


def measure(label, storms, run):
    cpu, wall = cpu_seconds(), time.perf_counter()
    run()
    cpu, wall = cpu_seconds() - cpu, time.perf_counter() - wall
    print(f"| {label} | {storms} | {wall:.1f} | {cpu:.1f} | {storms * 3600 / cpu:,.0f} | {storms * 3600 / wall:,.0f} |",
          flush=True)


def main():
    warnings.simplefilter("ignore", RuntimeWarning)  # xarray on the NaT of padded times
    storms = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    engines = set(sys.argv[2:]) or {"batch", "python", "dask", "slurm"}
    work = pathlib.Path(tempfile.mkdtemp(prefix="tarvo-engines-"))
    synth = str(BUILD / "tarvo-synth")
    subprocess.run([synth, work / "world"], check=True, stdout=subprocess.DEVNULL)
    cases = []
    for seed in range(1, storms + 1):
        case = work / f"storm{seed:06d}"
        subprocess.run([synth, "--no-grids", "--seed", str(seed), case], check=True, stdout=subprocess.DEVNULL)
        cases.append(case)
    catalog = work / "tracks.nc"
    subprocess.run([BUILD / "tarvo-catalog", "pack", *cases, "-o", catalog], check=True, stdout=subprocess.DEVNULL)
    data = work / "world" / "data"
    cores = os.cpu_count()
    print(f"{storms} generated storms, {cores} cores")
    print("| engine | storms | wall s | CPU s | storms per CPU-hour | storms per hour |")
    print("|---|---|---|---|---|---|")
    batch = [BUILD / "tarvo-batch", "--data", data, "--catalog", catalog]
    quiet = dict(check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if "batch" in engines:
        measure("tarvo-batch -j 1", storms,
                lambda: subprocess.run([batch[0], "-j", "1", *batch[1:], "--out", work / "j1.nc"], **quiet))
        measure(f"tarvo-batch -j {cores}", storms,
                lambda: subprocess.run([batch[0], "-j", str(cores), *batch[1:], "--out", work / "jn.nc"], **quiet))
    if "python" in engines:
        grids = tarvo.load_grids(data)
        measure(f"Python forecast_catalog, {cores} threads", storms,
                lambda: tarvo.forecast_catalog(catalog, grids, threads=cores, progress=False))
    try:
        if "dask" not in engines:
            raise ModuleNotFoundError("skipped")
        import distributed
        from tarvo import dask as tarvo_dask
        with distributed.LocalCluster(n_workers=cores, threads_per_worker=1, processes=True,
                                      dashboard_address=None, silence_logs=40) as cluster, \
                distributed.Client(cluster) as client:
            measure(f"Dask LocalCluster, {cores} worker processes", storms,
                    lambda: tarvo_dask.forecast_catalog(catalog, data, client, chunk_storms=max(1, storms // (4 * cores)),
                                                       out=work / "dask.nc"))
    except ModuleNotFoundError as e:
        if str(e) != "skipped":
            print("| Dask | - | - | - | python3-distributed is not installed | - |")
    if "slurm" in engines and os.geteuid() == 0:
        slurm = work / "slurm"
        conf = subprocess.run(["bash", ROOT / "scripts" / "local_slurm.sh", "start", slurm], check=True,
                              capture_output=True, text=True).stdout.strip()
        env = dict(os.environ, SLURM_CONF=conf, TARVO_BATCH=str(BUILD / "tarvo-batch"))

        def job_array():
            job = subprocess.run(["sbatch", "--parsable", f"--array=0-{cores - 1}", "--cpus-per-task=1",
                                  f"--output={work}/task-%a.log", ROOT / "scripts" / "slurm_catalog.sh", catalog,
                                  data, work / "parts"], env=env, check=True, capture_output=True,
                                 text=True).stdout.strip()
            while subprocess.run(["squeue", "-h", "-j", job], env=env, capture_output=True, text=True).stdout.strip():
                time.sleep(0.2)
            subprocess.run([BUILD / "tarvo-catalog", "merge", *sorted((work / "parts").glob("part-*.nc")),
                            "-o", work / "slurm.nc"], **quiet)

        try:
            measure(f"Slurm job array, {cores} tasks of 1 CPU, and merge", storms, job_array)
            for log in sorted(work.glob("task-*.log")):  # each task's own summary line
                print("   ", log.read_text().strip().splitlines()[-1], file=sys.stderr)
        finally:
            subprocess.run(["bash", ROOT / "scripts" / "local_slurm.sh", "stop", slurm], capture_output=True)
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
