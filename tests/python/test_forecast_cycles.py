"""Forecast cycles as a forecast centre runs them, with the real programs on
tarvo-synth's made-up storm: the catalog of each cycle along OFCL's track
with its environment from GFS-layout GRIB2 files, the ensemble (member 0 the
deterministic forecast bit for bit, the same seed the same members), the
storm's a-deck with TRVO, TRVE and TRVI read back by ATCF's fixed columns
(MET-TC's tc_pairs reads them so; MET is not a Debian package), and the
verification of the aids."""

import pathlib
import subprocess

import numpy as np
import pytest
import xarray as xr

from conftest import BUILD, same_but_history

MEMBERS = 6


def run(*args, ok=True):
    r = subprocess.run([str(a) for a in args], capture_output=True, text=True)
    if ok:
        assert r.returncode == 0, r.stderr
    return r


def cycle_files(root, cycle):
    """The cycle's forecast files and the analyses (f000) of the cycles before it."""
    out = []
    for f in sorted((root / "gfs").glob("gfs.*/*/atmos/gfs.t*z.pgrb2.1p00.f*")):
        at = f.parents[2].name[4:] + f.parents[1].name
        if at == cycle or (at < cycle and f.name.endswith("f000")):
            out.append(f)
    return out


@pytest.fixture(scope="module")
def storm(tmp_path_factory):
    """Two cycles of the made-up storm, each imported, forecast alone and as an ensemble."""
    root = tmp_path_factory.mktemp("cycles")
    printed = run(BUILD / "tarvo-synth", "--forecast", "--cycles", "2", root).stdout
    cycles = [line.split()[1:] for line in printed.splitlines() if line.startswith("cycles ")][0]
    (root / "adecks").mkdir()
    (root / "adecks" / "aal012005.dat").write_bytes((root / "aal012005.dat").read_bytes())
    for c in cycles:
        run(BUILD / "tarvo-catalog", "import", root / "bal012005.dat", "--track-from", root / "aal012005.dat",
            "--tech", "OFCL", "--cycles", c, "--env", *cycle_files(root, c), "-o", root / f"cycle_{c}.nc")
        run(BUILD / "tarvo-batch", "--data", root / "data", "--catalog", root / f"cycle_{c}.nc",
            "--out", root / f"deterministic_{c}.nc")
        run(BUILD / "tarvo-batch", "--data", root / "data", "--catalog", root / f"cycle_{c}.nc",
            "--out", root / f"ensemble_{c}.nc", "--members", MEMBERS, "--seed", "7", "--atcf", root / "adecks",
            "--ri-table", root / f"ri_{c}.txt")
    return root, cycles


def test_each_cycle_is_a_storm_along_the_technique_with_the_wind_of_the_cycle(storm):
    root, cycles = storm
    everything = root / "all.nc"
    r = run(BUILD / "tarvo-catalog", "import", root / "bal012005.dat", "--track-from", root / "aal012005.dat",
            "--tech", "OFCL", "--cycles", "all", "-o", everything)
    with xr.open_dataset(everything) as ds:
        deck = [[x.strip() for x in line.split(",")] for line in (root / "aal012005.dat").read_text().splitlines()]
        ofcl_cycles = sorted({f[2] for f in deck if f[4] == "OFCL"})
        assert [str(s) for s in ds.sid.values] == [f"AL012005_{c}" for c in ofcl_cycles]
        assert set(cycles) <= set(ofcl_cycles)
        assert ds.attrs["tracks_positions"] == "forecast:OFCL"
        ofcl = {}
        for line in (root / "aal012005.dat").read_text().splitlines():
            f = [x.strip() for x in line.split(",")]
            if f[4] == "OFCL" and f[2] == cycles[1]:
                lat = int(f[6][:-1]) / 10 * (1 if f[6][-1] == "N" else -1)
                lon = int(f[7][:-1]) / 10 * (1 if f[7][-1] == "E" else -1)
                ofcl[int(f[5])] = (lat, lon, int(f[8]))
        s = ds.isel(storm=ofcl_cycles.index(cycles[1]))
        hours = (s.time.values - np.datetime64(f"{cycles[1][:4]}-{cycles[1][4:6]}-{cycles[1][6:8]}T{cycles[1][8:]}:00")) \
            / np.timedelta64(1, "h")
        wind = s.vmax_obs.values
        at_cycle = wind[hours == 0][0]
        best = [line.split(",") for line in (root / "bal012005.dat").read_text().splitlines()]
        assert at_cycle == [int(b[8]) for b in best if b[2].strip() == cycles[1]][0]  # the best track's at the cycle
        for tau, (lat, lon, _) in ofcl.items():
            if tau <= 0:
                continue
            k = np.flatnonzero(hours == tau)
            assert len(k) == 1, tau
            assert float(s.lat[k[0]]) == pytest.approx(lat, abs=1e-4)
            assert (float(s.lon[k[0]]) - lon + 180) % 360 - 180 == pytest.approx(0, abs=1e-4)
            assert wind[k[0]] == at_cycle  # a forecast knows no wind after its cycle
        assert list(hours[:5]) == [-24, -18, -12, -6, 0]  # the history: 24 h of best track up to the cycle
    # A cycle the technique has none at, and a technique the deck lacks, are named.
    r = run(BUILD / "tarvo-catalog", "import", root / "bal012005.dat", "--track-from", root / "aal012005.dat",
            "--tech", "OFCL", "--cycles", "2005010100", "-o", root / "none.nc", ok=False)
    assert r.returncode == 2 and "OFCL has no forecast at 2005010100" in r.stderr
    r = run(BUILD / "tarvo-catalog", "import", root / "bal012005.dat", "--track-from", root / "aal012005.dat",
            "--tech", "HWRF", "--cycles", "all", "-o", root / "none.nc", ok=False)
    assert r.returncode == 2 and "the technique HWRF is not in the a-deck; its techniques: " in r.stderr


def test_member_zero_is_the_deterministic_forecast_and_the_seed_gives_the_same_members(storm):
    root, cycles = storm
    for c in cycles:
        with xr.open_dataset(root / f"deterministic_{c}.nc") as d, xr.open_dataset(root / f"ensemble_{c}.nc") as e:
            for name in ("max_sustained_wind", "central_pressure", "radius_max_wind", "lat", "lon"):
                assert d[name].values.tobytes() == e[name].values.tobytes(), name
            assert e.sizes["member"] == MEMBERS
            m0 = e.member_max_sustained_wind.isel(member=0).values
            assert m0.tobytes() == d.max_sustained_wind.values.tobytes()
            spread = e.member_max_sustained_wind.values[0, :, -1]
            assert np.nanstd(spread) > 0  # the members differ
            mean = np.nanmean(e.member_max_sustained_wind.values[0], axis=0)
            np.testing.assert_allclose(e.ensemble_mean_max_sustained_wind.values[0], mean, rtol=1e-5)
            p = e.ri_probability.values[0]
            assert np.all((p >= 0) & (p <= 1))
            assert e.attrs["ensemble_seed"] == 7
        assert (root / f"ri_{c}.txt").read_text().count(f"AL012005_{c}") == 1
    again = root / "again.nc"
    run(BUILD / "tarvo-batch", "--data", root / "data", "--catalog", root / f"cycle_{cycles[0]}.nc", "--out", again,
        "--members", MEMBERS, "--seed", "7")
    assert same_but_history(again, root / f"ensemble_{cycles[0]}.nc")


# ATCF's fixed columns of an a-deck line (1-based, inclusive): what tc_pairs reads.
COLUMNS = {"basin": (1, 2), "number": (5, 6), "date": (9, 18), "technum": (21, 22), "tech": (25, 28), "tau": (31, 33),
           "lat": (36, 39), "lon": (42, 46), "vmax": (49, 51), "mslp": (54, 57), "ty": (60, 61)}


def test_the_storms_adeck_holds_the_late_early_and_ensemble_aids_in_atcfs_columns(storm):
    root, cycles = storm
    lines = (root / "adecks" / "aal012005.dat").read_text().splitlines()
    taus = {}
    for line in lines:
        fields = [x.strip() for x in line.split(",")]
        fixed = {k: line[a - 1:b].strip() for k, (a, b) in COLUMNS.items()}
        assert [fixed[k] for k in COLUMNS] == fields[:len(COLUMNS)], line
        taus.setdefault((fixed["tech"], fixed["date"]), []).append(int(fixed["tau"]))
    for c in cycles:
        assert sorted(set(taus[("TRVO", c)])) == list(range(0, 121, 6))
        assert sorted(set(taus[("TRVE", c)])) == list(range(0, 121, 6))
    # The early version exists from the second cycle on (the first has no TRVO 6 h before it); the
    # previous forecast ends at 120 h, so its shifted copy at 114 h.
    assert ("TRVI", cycles[0]) not in taus
    assert sorted(set(taus[("TRVI", cycles[1])])) == list(range(0, 115, 6))
    # Every OFCL lead of each cycle has a TRVO and TRVE line to pair with.
    for c in cycles:
        for tau in taus[("OFCL", c)]:
            if 0 <= tau <= 120 and tau % 6 == 0:  # OFCL's 3 h position is not a verification lead
                assert tau in taus[("TRVO", c)] and tau in taus[("TRVE", c)]
    # The deck stays sorted by start time; running a cycle again replaces its lines.
    dates = [line[8:18] for line in lines]
    assert dates == sorted(dates)
    before = (root / "adecks" / "aal012005.dat").read_text()
    run(BUILD / "tarvo-batch", "--data", root / "data", "--catalog", root / f"cycle_{cycles[1]}.nc",
        "--out", root / "rerun.nc", "--members", MEMBERS, "--seed", "7", "--atcf", root / "adecks")
    assert (root / "adecks" / "aal012005.dat").read_text() == before


def test_the_aids_verified_homogeneously_with_the_ensembles_reliability(storm):
    root, cycles = storm
    csv, rel, png = root / "v.csv", root / "r.csv", root / "v.png"
    r = run(BUILD / "tarvo-verify", "--adeck", root / "adecks" / "aal012005.dat", "--bdeck", root / "bal012005.dat",
            "--techs", "TRVO,TRVE,OFCL", "--ensemble", *[root / f"ensemble_{c}.nc" for c in cycles],
            "--csv", csv, "--reliability-csv", rel, "--plot", png)
    assert "homogeneous" in r.stdout
    rows = [line.split(",") for line in csv.read_text().splitlines()]
    assert rows[0] == ["tech", "lead_h", "n", "mae_kt", "bias_kt", "skill_percent", "baseline"]
    by = {(row[0], int(row[1])): row for row in rows[1:]}
    for lead in (0, 12, 24, 36, 48, 60, 72, 96, 120):
        ns = {by[(t, lead)][2] for t in ("TRVO", "TRVE", "OFCL", "persistence")}
        assert len(ns) == 1, (lead, ns)  # the same cycles for every technique
    assert int(by[("TRVO", 0)][2]) == len(cycles)
    assert rel.read_text().startswith("threshold,bin,n,mean_probability,observed_frequency,brier")
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    # An ensemble file that is not one, and an unknown technique, are named.
    r = run(BUILD / "tarvo-verify", "--adeck", root / "adecks" / "aal012005.dat", "--bdeck", root / "bal012005.dat",
            "--techs", "TRVO", "--ensemble", root / f"deterministic_{cycles[0]}.nc", ok=False)
    assert r.returncode == 2 and "is not the forecast file of an ensemble" in r.stderr
    r = run(BUILD / "tarvo-verify", "--adeck", root / "adecks" / "aal012005.dat", "--bdeck", root / "bal012005.dat",
            "--techs", "TRVO,HWRF", ok=False)
    assert r.returncode == 2 and "the technique HWRF is not in the a-deck" in r.stderr


def test_the_ensemble_from_python_is_the_programs(storm):
    import tarvo

    root, cycles = storm
    grids = tarvo.load_grids(root / "data")
    catalog = root / f"cycle_{cycles[0]}.nc"
    ds = tarvo.forecast_catalog(catalog, grids, threads=1, progress=False, members=MEMBERS, seed=7)
    with xr.open_dataset(root / f"ensemble_{cycles[0]}.nc") as e:
        for name in ("max_sustained_wind", "member_max_sustained_wind", "ri_probability", "max_sustained_wind_quantile"):
            assert ds[name].values.tobytes() == e[name].values.tobytes(), name
    with pytest.raises(TypeError, match="members must be an integer"):
        tarvo.forecast_catalog(catalog, grids, members="6")
    with pytest.raises(tarvo.InputError, match="spread 'wind=3' is not one tarvo takes"):
        tarvo.forecast_catalog(catalog, grids, members=3, spreads="wind=3")
