"""Every writer under every write fault, with the real programs: a full
filesystem (a small tmpfs filled up, with no room or a little; as root, as CI
runs), a file size limit (RLIMIT_FSIZE, SIGXFSZ ignored), a read-only
folder. Each ends with tarvo's own message naming a file in the folder, exit
status 2 (or a finished run), never a signal; nothing is left under a final
name that is not whole (every file there equals the clean run's), and no
temporary file is left behind. Then kills at several moments of a run and of
a merge, each followed by --resume: the clean run's file; and parts damaged
on disk or foreign, set aside and forecast again."""

import contextlib
import os
import pathlib
import resource
import shutil
import signal
import subprocess
import sys
import time

import netCDF4
import numpy as np
import pytest

import tarvo
from conftest import BUILD, SOURCE, same_but_history
from test_environment import TIMES, era5, track

ROOT = os.geteuid() == 0
FIXTURES = SOURCE / "tests" / "fixtures"


def run(args, cwd=None, preexec=None, env=None):
    return subprocess.run([str(a) for a in args], cwd=cwd, capture_output=True, text=True, preexec_fn=preexec,
                          env=env, timeout=300)


@pytest.fixture(scope="module")
def inputs(world, cases, tmp_path_factory):
    """What the writers read, made once outside the faulty folders."""
    d = tmp_path_factory.mktemp("inputs")
    tracks = [tarvo.read_track(c / "track.in") for c in cases]
    tarvo.write_catalog(tracks, tarvo.Params(), d / "tracks.nc", year=2005)
    data = world / "world" / "data"
    for args in (["--out", d / "forecasts.nc"], ["--shard", "0/2", "--out", d / "part0.nc"],
                 ["--shard", "1/2", "--out", d / "part1.nc"]):
        r = run([BUILD / "tarvo-batch", "--data", data, "--catalog", d / "tracks.nc", *args])
        assert r.returncode == 0, r.stderr
    era5(TIMES).to_netcdf(d / "fields.nc")
    tarvo.write_catalog([track()], tarvo.Params(), d / "envtracks.nc")
    r = run([BUILD / "tarvo-synth", "--public-layouts", d / "public"])
    assert r.returncode == 0, r.stderr
    return {"dir": d, "data": data, "cases": cases}


def copy_case(case, to, data):
    to.mkdir()
    for name in ("params.in", "track.in"):
        shutil.copy(case / name, to / name)
    (to / "data").symlink_to(data)


# Each writer: what it needs in the folder beforehand, its command, what it
# writes there under final names.
def writers(i):
    d, data, cases = i["dir"], i["data"], i["cases"]
    py = [sys.executable, "-B", "-c"]
    return {
        "track.out": dict(
            prepare=lambda p: copy_case(cases[0], p / "case", data), cwd=lambda p: p / "case",
            cmd=lambda p: [BUILD / "tarvo"], outputs=["case/track.out"]),
        "case directories": dict(
            prepare=lambda p: (copy_case(cases[0], p / "c1", data), copy_case(cases[1], p / "c2", data)),
            cmd=lambda p: [BUILD / "tarvo-batch", "--data", data, p / "c1", p / "c2"],
            outputs=["c1/track.out", "c2/track.out"]),
        "forecast file": dict(
            cmd=lambda p: [BUILD / "tarvo-batch", "--data", data, "--catalog", d / "tracks.nc", "--chunk", "2",
                           "--out", p / "out.nc"], outputs=["out.nc"]),
        "CLIMADA files and a-decks": dict(
            cmd=lambda p: [BUILD / "tarvo-batch", "--data", data, "--catalog", d / "tracks.nc", "--out", p / "out.nc",
                           "--climada", p / "climada", "--climada-hdf5", p / "climada.h5", "--atcf", p / "adecks"],
            outputs=["out.nc", "climada", "climada.h5", "adecks"]),
        "ensemble and its table": dict(
            cmd=lambda p: [BUILD / "tarvo-batch", "--data", data, "--catalog", d / "tracks.nc", "--out", p / "ens.nc",
                           "--members", "3", "--ri-table", p / "ri.txt"], outputs=["ens.nc", "ri.txt"]),
        "pack": dict(cmd=lambda p: [BUILD / "tarvo-catalog", "pack", *cases[:2], "-o", p / "packed.nc"],
                     outputs=["packed.nc"]),
        "import": dict(cmd=lambda p: [BUILD / "tarvo-catalog", "import", FIXTURES / "bdeck_cycles.dat",
                                      "-o", p / "imported.nc"], outputs=["imported.nc"]),
        "forecast cycles": dict(
            cmd=lambda p: [BUILD / "tarvo-catalog", "import", FIXTURES / "bdeck_cycles.dat", "--track-from",
                           FIXTURES / "adeck_cycles.dat", "--cycles", "all", "-o", p / "cycles.nc"],
            outputs=["cycles.nc"]),
        "env": dict(cmd=lambda p: [BUILD / "tarvo-catalog", "env", d / "envtracks.nc", "--env", d / "fields.nc",
                                   "-o", p / "env.nc"], outputs=["env.nc"]),
        "merge": dict(cmd=lambda p: [BUILD / "tarvo-catalog", "merge", d / "part0.nc", d / "part1.nc",
                                     "-o", p / "merged.nc", "--atcf", p / "adecks"], outputs=["merged.nc", "adecks"]),
        "export": dict(cmd=lambda p: [BUILD / "tarvo-catalog", "export", d / "forecasts.nc", "--climada", p / "c",
                                      "--climada-hdf5", p / "c.h5"], outputs=["c", "c.h5"]),
        "grids": dict(cmd=lambda p: [BUILD / "tarvo-grids", "build", "--quiet", "--elevation",
                                     d / "public" / "sources" / "elevation_etopo_layout.nc", "--temperature",
                                     *sorted((d / "public" / "sources").glob("woa23_synth_t??_01.nc")), "-o",
                                     p / "data"], outputs=["data"]),
        "verification": dict(cmd=lambda p: [BUILD / "tarvo-verify", "--catalog", d / "tracks.nc", "--forecasts",
                                            d / "forecasts.nc", "--csv", p / "v.csv", "--plot", p / "v.png"],
                             outputs=["v.csv", "v.png"]),
        "Python catalog": dict(
            cmd=lambda p: py + [f"""
import sys, tarvo
tracks, params = tarvo.read_catalog({str(d / 'tracks.nc')!r})
try:
    tarvo.write_catalog(tracks, params, {str(p / 'py.nc')!r})
except tarvo.InputError as e:
    print(e, file=sys.stderr); sys.exit(2)
"""], outputs=["py.nc"]),
        "Python forecast of a Dataset (temporary files)": dict(
            env=lambda p: {"TMPDIR": str(p)},
            cmd=lambda p: py + [f"""
import sys, tarvo, xarray as xr
catalog = xr.open_dataset({str(d / 'tracks.nc')!r}).load()
try:
    ds = tarvo.forecast_catalog(catalog, tarvo.load_grids({str(data)!r}), threads=1, progress=False)
    tarvo.export_forecasts(ds, climada={str(p / 'pc')!r})
except tarvo.InputError as e:
    print(e, file=sys.stderr); sys.exit(2)
"""], outputs=["pc"]),
    }


WRITERS = ["track.out", "case directories", "forecast file", "CLIMADA files and a-decks", "ensemble and its table",
           "pack", "import", "forecast cycles", "env", "merge", "export", "grids", "verification", "Python catalog",
           "Python forecast of a Dataset (temporary files)"]


@pytest.fixture(scope="module")
def clean(inputs, tmp_path_factory):
    """Each writer's outputs written where nothing fails."""
    out = {}
    for name, w in writers(inputs).items():
        p = tmp_path_factory.mktemp("clean")
        if "prepare" in w:
            w["prepare"](p)
        r = run(w["cmd"](p), cwd=w.get("cwd", lambda q: None)(p), env=environment(w, p))
        assert r.returncode == 0, (name, r.stdout, r.stderr)
        out[name] = p
    return out


def environment(w, p):
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"), PYTHONDONTWRITEBYTECODE="1")
    env.update(w.get("env", lambda q: {})(p))
    return env


@contextlib.contextmanager
def place(kind, tmp_path, prepare):
    """A folder where writes fail: 'full' (a 4 MB tmpfs filled up but for a
    little room), 'limit' (a file size limit on the writer: its preexec),
    'readonly'. Skipped, saying why, where this machine cannot make it."""
    p = tmp_path / "place"
    p.mkdir()
    mounted = False
    if kind.startswith("full") or (kind == "readonly" and ROOT):
        if not ROOT:
            pytest.skip("a full filesystem needs a small tmpfs, which only root can mount (CI runs as root)")
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", str(p)], capture_output=True, text=True)
        if r.returncode != 0:
            pytest.skip(f"cannot mount a tmpfs here: {r.stderr.strip()}")
        mounted = True
    preexec = None
    try:
        prepare(p)
        if kind.startswith("full"):
            room = {"full": 0, "full-but-32k": 32 << 10}[kind]
            st = os.statvfs(p)
            with contextlib.suppress(OSError), open(p / ".filler", "wb") as f:
                f.write(b"\0" * max(0, st.f_bavail * st.f_frsize - room))
        elif kind == "readonly":
            if mounted:
                subprocess.run(["mount", "-o", "remount,ro", str(p)], check=True)
            else:
                for q in [p, *p.rglob("*")]:
                    if q.is_dir() and not q.is_symlink():
                        q.chmod(0o555)
        elif kind == "limit":
            def preexec():
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (48 << 10, 48 << 10))
        yield p, preexec
    finally:
        if mounted:
            subprocess.run(["umount", "-l", str(p)], capture_output=True)
        else:
            for q in [p, *p.rglob("*")]:
                if q.is_dir() and not q.is_symlink():
                    q.chmod(0o755)


def whole(path, clean_path):
    """A file (or every file of a folder) equal to the clean run's."""
    if path.is_dir():
        return all(whole(q, clean_path / q.relative_to(path)) for q in path.rglob("*") if q.is_file())
    if not clean_path.exists():
        return False
    if path.suffix in (".nc", ".h5"):
        try:
            return same_but_history(path, clean_path)
        except OSError:
            return False
    if path.suffix == ".png":
        data = path.read_bytes()
        return data[:8] == b"\x89PNG\r\n\x1a\n" and data[-8:-4] == b"IEND"
    if path.name == "grids.json":
        return path.stat().st_size > 0
    return path.read_bytes() == clean_path.read_bytes()


@pytest.mark.parametrize("kind", ["full", "full-but-32k", "limit", "readonly"])
@pytest.mark.parametrize("writer", WRITERS)
def test_a_write_fault_ends_cleanly(writer, kind, inputs, clean, tmp_path):
    w = writers(inputs)[writer]
    with place(kind, tmp_path, w.get("prepare", lambda p: None)) as (p, preexec):
        r = run(w["cmd"](p), cwd=w.get("cwd", lambda q: None)(p), preexec=preexec, env=environment(w, p))
        assert r.returncode >= 0, f"{writer} under {kind}: ended by signal {-r.returncode}\n{r.stderr}"
        assert r.returncode in (0, 2), f"{writer} under {kind}: status {r.returncode}\n{r.stdout}\n{r.stderr}"
        if r.returncode == 2:  # the message names the file (tarvo, run in its case folder: relative to it)
            said = r.stdout + r.stderr  # tarvo-batch of case folders lists each failed case on its output
            named = str(p) in said or ("cwd" in w and any(f": {o.split('/')[-1]}:" in said for o in w["outputs"]))
            assert named, f"{writer} under {kind}: the message names no file of the folder:\n{said}"
        for name in w["outputs"]:
            out = p / name
            if out.exists():
                assert whole(out, clean[writer] / name), f"{writer} under {kind}: {name} is there but not whole"
            else:
                assert r.returncode == 2, f"{writer} under {kind}: finished without {name}"
        left = [q.name for q in p.rglob("*") if ".tmp" in q.name]
        assert not left, f"{writer} under {kind}: temporary files left: {left}"


@pytest.fixture(scope="module")
def many(inputs, tmp_path_factory):
    """A catalog of 120 one-day storms in 60 parts, forecast whole once."""
    d = tmp_path_factory.mktemp("many")
    t = tarvo.read_track(inputs["cases"][0] / "track.in")
    n = 13
    short = tarvo.Track(t.basin, t.month, t.day, t.hour, t.hours[:n], t.lat[:n], t.lon[:n], t.vmax_kt[:n],
                        t.vpot[:n], t.shear[:n], t.t600[:n], t.rh600[:n])
    tarvo.write_catalog([short] * 120, tarvo.Params(), d / "tracks.nc", year=2005,
                        sids=[f"s{i:04d}" for i in range(120)])
    args = ["-j", "1", "--chunk", "2", "--data", inputs["data"], "--catalog", d / "tracks.nc"]
    r = run([BUILD / "tarvo-batch", *args, "--out", d / "whole.nc"])
    assert r.returncode == 0, r.stderr
    return d, args


def kill_when(args, out, ready, sig):
    """Starts a run into `out` and sends `sig` once ready(parts folder) holds."""
    parts = pathlib.Path(str(out) + ".parts")
    job = subprocess.Popen([str(BUILD / "tarvo-batch"), *map(str, args), "--out", str(out)],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 120
    while job.poll() is None and time.monotonic() < deadline and not ready(parts):
        time.sleep(0.002)
    job.send_signal(sig)
    return job.wait()


@pytest.mark.parametrize("moment, sig", [
    ("after the first part", signal.SIGKILL),
    ("halfway", signal.SIGKILL),
    ("halfway", signal.SIGTERM),
    ("while merging", signal.SIGKILL),
])
def test_a_killed_run_resumed_gives_the_clean_runs_file(moment, sig, many, tmp_path):
    d, args = many
    out = tmp_path / "out.nc"
    chunks = lambda parts: len(list(parts.glob("chunk-*.nc")))
    ready = {"after the first part": lambda parts: chunks(parts) >= 1,
             "halfway": lambda parts: chunks(parts) >= 30,
             "while merging": lambda parts: any(tmp_path.glob("out.nc.tmp*"))}[moment]
    status = kill_when(args, out, ready, sig)
    assert status == -sig, f"the run ended ({status}) before it was killed {moment}"
    assert not out.exists() or same_but_history(out, d / "whole.nc")  # nothing half written under the final name
    r = run([BUILD / "tarvo-batch", *args, "--out", out, "--resume"])
    assert r.returncode == 0, r.stderr
    assert same_but_history(out, d / "whole.nc")
    assert not pathlib.Path(str(out) + ".parts").exists()
    assert not list(tmp_path.glob("out.nc.tmp*")), "the killed run's temporary file is left"


@pytest.mark.parametrize("damage", ["truncated", "emptied", "foreign", "another ensemble"])
def test_a_damaged_part_is_set_aside_and_its_storms_forecast_again(damage, many, inputs, tmp_path):
    d, args = many
    out = tmp_path / "out.nc"
    kill_when(args, out, lambda parts: len(list(parts.glob("chunk-*.nc"))) >= 10, signal.SIGKILL)
    part = tmp_path / "out.nc.parts" / "chunk-000000004.nc"
    assert part.exists()
    if damage == "truncated":
        data = part.read_bytes()
        part.write_bytes(data[:len(data) // 2])
    elif damage == "emptied":
        part.write_bytes(b"")
    elif damage == "foreign":
        shutil.copy(inputs["dir"] / "forecasts.nc", part)
    else:  # the same storms' part of an ensemble of 2 members (chunks of 4 / 2 = 2 storms, as here)
        ensemble = ["-j", "1", "--chunk", "4", "--data", inputs["data"], "--catalog", d / "tracks.nc", "--members", "2"]
        kill_when(ensemble, tmp_path / "e.nc", lambda parts: len(list(parts.glob("chunk-*.nc"))) >= 3, signal.SIGKILL)
        shutil.copy(tmp_path / "e.nc.parts" / "chunk-000000004.nc", part)
    r = run([BUILD / "tarvo-batch", *args, "--out", out, "--resume"])
    assert r.returncode == 0, r.stderr
    aside = tmp_path / "out.nc.chunk-000000004.nc.damaged"
    assert f"set aside  {aside}: " in r.stdout and "1 parts of the run before could not be taken up" in r.stdout
    assert aside.exists()
    assert same_but_history(out, d / "whole.nc")
    why = r.stdout.split(f"set aside  {aside}: ")[1].splitlines()[0]
    expected = {"truncated": "not a readable NetCDF file", "emptied": "not a readable NetCDF file",
                "foreign": "its storms are not storms 4 to 5 of", "another ensemble": "it holds an ensemble of 2 members"}
    assert expected[damage] in why, why
