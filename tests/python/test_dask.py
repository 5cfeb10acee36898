"""Catalogs on a real Dask cluster of two worker processes, also with one
worker killed in the middle: every storm exactly once, the values of the
threads engine."""

import os
import signal
import threading

import numpy as np
import pytest
import xarray as xr

import tarvo

distributed = pytest.importorskip("distributed")
import tarvo.dask  # noqa: E402


@pytest.fixture(scope="module")
def catalog(cases, tmp_path_factory):
    tracks = [tarvo.read_track(c / "track.in") for c in cases] * 6
    params = [tarvo.read_params(c / "params.in") for c in cases] * 6
    path = tmp_path_factory.mktemp("dask") / "tracks.nc"
    tarvo.write_catalog(tracks, params, path, sids=[f"s{i:02d}" for i in range(len(tracks))])
    return path


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None, silence_logs=40)
    c = distributed.Client(cluster)
    yield c
    c.close()
    cluster.close()


def same(a, b):
    for k in ("max_sustained_wind", "central_pressure", "radius_max_wind", "lat", "lon"):
        np.testing.assert_array_equal(a[k].values, b[k].values)
    assert list(a.sid.values) == list(b.sid.values)
    assert list(a.status.values) == list(b.status.values)
    np.testing.assert_array_equal(a.time.values, b.time.values)


def test_dask_gives_the_threads_results(catalog, client, grids, world, tmp_path):
    expected = tarvo.forecast_catalog(catalog, grids, progress=False)
    got = tarvo.dask.forecast_catalog(catalog, world / "world" / "data", client, chunk_storms=5)
    same(got, expected)
    out = tarvo.dask.forecast_catalog(catalog, world / "world" / "data", client, chunk_storms=7,
                                      out=tmp_path / "forecasts.nc")
    with xr.open_dataset(out) as written:
        same(written.load(), expected)


def test_a_worker_killed_midway(catalog, client, grids, world):
    expected = tarvo.forecast_catalog(catalog, grids, progress=False)
    pids = client.run(os.getpid)
    victim = sorted(pids.values())[0]
    killed = {}

    def kill_when_one_chunk_is_done():
        # The first chunk result shows on the scheduler as a key in memory.
        while not killed:
            done = client.run_on_scheduler(
                lambda dask_scheduler: sum(ts.state == "memory" for ts in dask_scheduler.tasks.values()))
            if done >= 1:
                os.kill(victim, signal.SIGKILL)
                killed["after"] = done
            else:
                threading.Event().wait(0.01)

    killer = threading.Thread(target=kill_when_one_chunk_is_done)
    killer.start()
    got = tarvo.dask.forecast_catalog(catalog, world / "world" / "data", client, chunk_storms=1)
    killer.join()
    assert killed["after"] < expected.sizes["storm"]  # killed with storms still to run
    same(got, expected)
    client.wait_for_workers(2, timeout=60)
    assert victim not in client.run(os.getpid).values()
