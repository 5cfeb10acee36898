"""Pictures of tarvo's results (matplotlib).

    python3 -m tarvo.plots verification VERIFICATION.csv OUT.png
    python3 -m tarvo.plots aids ERRORS.csv RELIABILITY.csv OUT.png
    python3 -m tarvo.plots grids DATA_DIR OUT_DIR MONTH
    python3 -m tarvo.plots forecast ADECK BDECK OUT.png [FORECASTS.nc...]
    python3 -m tarvo.plots compare COMPARISON.csv OUT.png LABEL_A LABEL_B

draw what ``tarvo-verify --plot``, ``tarvo-grids check --plot``,
``tarvo-compare --plot`` and the forecast demo draw.
Every picture is written whole or not at all.
"""

import csv
import os
import sys

import numpy as np


def _save(fig, path):
    """Writes the figure to a temporary file beside ``path`` and renames it
    into place: a failed write leaves nothing under ``path``."""
    import matplotlib.pyplot as plt

    tmp = f"{path}.tmp{os.getpid()}"
    try:
        fig.savefig(tmp, format="png")
        with open(tmp, "rb") as f:
            os.fsync(f.fileno())
        os.replace(tmp, path)
    finally:
        plt.close(fig)
        if os.path.exists(tmp):
            os.remove(tmp)
    return path


def plot_verification(ds, path):
    """The mean absolute error and bias of the maximum wind against lead time,
    a line a basin, with persistence's error dashed (``ds``: what
    :func:`tarvo.verify` gives). Writes a PNG."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (ax_mae, ax_bias) = plt.subplots(1, 2, figsize=(11, 4.5), dpi=100)
    lead = ds.lead.values
    basins = list(ds.basin.values)
    if len(basins) == 2 and "all" in basins:  # one basin: "all" is the same
        basins = ["all"]
    for basin in basins:
        b = ds.sel(basin=basin)
        line, = ax_mae.plot(lead, b.mae.values, "o-", label=f"{basin} (n={int(b.n.values[0])} at 0 h)")
        ax_mae.plot(lead, b.persistence_mae.values, "--", color=line.get_color(), alpha=0.7,
                    label=f"{basin} persistence")
        ax_bias.plot(lead, b.bias.values, "o-", color=line.get_color(), label=basin)
    ax_mae.set_title("mean absolute error")
    ax_bias.set_title("bias (forecast minus best track)")
    ax_bias.axhline(0.0, color="gray", lw=0.5)
    for ax in (ax_mae, ax_bias):
        ax.set_xlabel("lead time (h)")
        ax.set_ylabel("maximum wind (kt)")
        ax.set_xticks(lead)
        ax.grid(True, lw=0.3)
        ax.legend(fontsize=8)
    fig.tight_layout()
    return _save(fig, path)


def plot_grids(data_dir, out_dir, month=9):
    """Maps of a ``data/`` folder: the elevation (m), and the mixed-layer
    depth (m) and the temperature gradient below it (K per 100 m) of
    ``month``, as the model reads them. Writes three PNGs into ``out_dir``
    and returns their paths."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from . import _core

    os.makedirs(out_dir, exist_ok=True)
    raw = np.fromfile(os.path.join(data_dir, "bathsmooth2.dat"), dtype="<f4")
    if raw.size != 1440 * 721:
        raise ValueError(f"{data_dir}/bathsmooth2.dat holds {raw.size} values, not 1440 x 721")
    elev = raw.reshape(721, 1440)
    month = int(month)

    def monthly(name):
        text = _core.read_text(os.path.join(data_dir, f"{name}{month:02d}"))
        values = np.array(text.split(), dtype=np.float64)
        if values.size < 180 * 360:
            raise ValueError(f"{data_dir}/{name}{month:02d} holds {values.size} values, not 180 x 360")
        return values[:180 * 360].reshape(180, 360)

    paths = []
    for name, field, extent, unit, cmap in (
            ("elevation", elev, (-0.125, 359.875, -90.125, 90.125), "m", "terrain"),
            (f"mixed_layer_depth_{month:02d}", monthly("mix"), (0.5, 360.5, -90.0, 90.0), "m", "viridis_r"),
            (f"gradient_{month:02d}", monthly("stratnorm"), (0.5, 360.5, -90.0, 90.0), "K per 100 m", "magma")):
        fig, ax = plt.subplots(figsize=(10, 5), dpi=100)
        robust = np.nanpercentile(field, [1, 99]) if name != "elevation" else (-8000, 6000)
        im = ax.imshow(field, origin="lower", extent=extent, cmap=cmap, vmin=robust[0], vmax=robust[1],
                       aspect="auto", interpolation="nearest")
        fig.colorbar(im, ax=ax, label=unit)
        ax.set_title(f"{name.replace('_', ' ')} ({data_dir})")
        ax.set_xlabel("longitude (degrees east)")
        ax.set_ylabel("latitude (degrees north)")
        fig.tight_layout()
        paths.append(_save(fig, os.path.join(out_dir, f"{name}.png")))
    return paths


def plot_aids(errors_csv, reliability_csv, path):
    """The forecast aids' mean absolute error and bias against lead time
    (homogeneous), and the reliability diagram of an ensemble's probability
    of rapid intensification when there is one. Writes a PNG."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    rows = list(csv.DictReader(open(errors_csv, encoding="utf-8")))
    reliability = list(csv.DictReader(open(reliability_csv, encoding="utf-8"))) if reliability_csv else []
    panels = 3 if reliability else 2
    fig, axes = plt.subplots(1, panels, figsize=(5.2 * panels, 4.5), dpi=100)
    techs = list(dict.fromkeys(r["tech"] for r in rows))
    baseline = rows[0]["baseline"] if rows else ""
    for tech in techs:
        own = [r for r in rows if r["tech"] == tech]
        lead = [int(r["lead_h"]) for r in own]
        style = "--" if tech == baseline else "o-"
        axes[0].plot(lead, [float(r["mae_kt"]) for r in own], style, label=f"{tech} (n={own[-1]['n']} at {lead[-1]} h)")
        axes[1].plot(lead, [float(r["bias_kt"]) for r in own], style, label=tech)
    axes[0].set_title("mean absolute error (homogeneous)")
    axes[1].set_title("bias (forecast minus best track)")
    axes[1].axhline(0.0, color="gray", lw=0.5)
    for ax in axes[:2]:
        ax.set_xlabel("lead time (h)")
        ax.set_ylabel("maximum wind (kt)")
        ax.grid(True, lw=0.3)
        ax.legend(fontsize=7)
    if reliability:
        ax = axes[2]
        ax.plot([0, 1], [0, 1], color="gray", lw=0.5)
        for threshold in dict.fromkeys(r["threshold"] for r in reliability):
            own = [r for r in reliability if r["threshold"] == threshold and int(r["n"]) > 0]
            if own:
                skill = own[0]["brier_skill"]
                ax.plot([float(r["mean_probability"]) for r in own], [float(r["observed_frequency"]) for r in own], "o-",
                        label=f"{threshold} (BSS {skill})")
        ax.set_xlabel("forecast probability of rapid intensification")
        ax.set_ylabel("observed frequency")
        ax.set_title("reliability")
        ax.legend(fontsize=7)
        ax.grid(True, lw=0.3)
    fig.tight_layout()
    return _save(fig, path)


def plot_forecast(adeck, bdeck, path, forecasts=()):
    """What forecasters look at: each technique's intensity forecasts of the
    latest cycle against the best track, and an ensemble's spread (10 to 90 %
    of its members) when forecast files of one are given. Writes a PNG."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np

    def lines(file, tech=None):
        out = []
        for line in open(file, encoding="utf-8"):
            f = [x.strip() for x in line.split(",")]
            if len(f) > 8 and (tech is None or f[4] == tech):
                out.append(f)
        return out

    def hours(dtg):
        return np.datetime64(f"{dtg[:4]}-{dtg[4:6]}-{dtg[6:8]}T{dtg[8:10]}")

    best = lines(bdeck, "BEST")
    aids = lines(adeck)
    cycles = sorted({f[2] for f in aids if f[4] == "TRVO"}) or sorted({f[2] for f in aids})
    latest = cycles[-1]
    fig, ax = plt.subplots(figsize=(10, 5), dpi=100)
    ax.plot([hours(f[2]) for f in best], [float(f[8]) for f in best], "k-", lw=2.5, label="best track")
    for tech in dict.fromkeys(f[4] for f in aids if f[2] == latest and f[4] != "CARQ"):
        own = [f for f in aids if f[2] == latest and f[4] == tech]
        t = [hours(latest) + np.timedelta64(int(f[5]), "h") for f in own]
        ax.plot(t, [float(f[8]) for f in own], "o-" if tech.startswith("TRV") else "--", ms=3, label=tech)
    if forecasts:
        import xarray as xr

        for file in forecasts:
            with xr.open_dataset(file) as ds:
                if "max_sustained_wind_quantile" not in ds:
                    continue
                for k in range(ds.sizes["storm"]):
                    s = ds.isel(storm=k)
                    if np.datetime_as_string(s.reference_time.values, unit="h").replace("-", "").replace("T", "") != latest:
                        continue
                    q = s.max_sustained_wind_quantile
                    ok = np.isfinite(s.time.values)
                    ax.fill_between(s.time.values[ok], q.sel(quantile=0.1).values[ok], q.sel(quantile=0.9).values[ok],
                                    alpha=0.25, label="ensemble 10-90 %")
    ax.axvline(hours(latest), color="gray", lw=0.5)
    ax.set_title(f"intensity forecasts of cycle {latest}")
    ax.set_ylabel("maximum wind (kt)")
    ax.grid(True, lw=0.3)
    ax.legend(fontsize=8)
    fig.autofmt_xdate()
    fig.tight_layout()
    return _save(fig, path)


def plot_comparison(comparison_csv, path, labels=("present", "future")):
    """Two climates side by side: the exceedance curves of the storms'
    lifetime maximum intensity, and the storms of each Saffir-Simpson
    category (tarvo-compare's CSV). Writes a PNG."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    rows = list(csv.DictReader(open(comparison_csv, encoding="utf-8")))
    exceed = [r for r in rows if r["metric"] == "lmi_exceedance"]
    cats = [r for r in rows if r["metric"] == "category_storms"]
    fig, axes = plt.subplots(1, 2, figsize=(11, 4.5), dpi=100)
    wind = [float(r["quantity"]) for r in exceed]
    for key, label, style in (("present", labels[0], "-"), ("future", labels[1], "--")):
        axes[0].plot(wind, [float(r[key]) for r in exceed], style, label=label)
    axes[0].set_yscale("log")
    axes[0].set_xlabel("lifetime maximum wind (kt)")
    axes[0].set_ylabel("share of storms at or above")
    axes[0].set_title("exceedance of the lifetime maximum intensity")
    for t, name in ((64, "hurricane"), (96, "major")):
        axes[0].axvline(t, color="gray", lw=0.4)
        axes[0].text(t + 1, axes[0].get_ylim()[1] * 0.6 if axes[0].get_ylim()[1] > 0 else 1, name, fontsize=7)
    axes[0].legend()
    axes[0].grid(True, which="both", lw=0.3)
    x = np.arange(len(cats))
    axes[1].bar(x - 0.2, [float(r["present"]) for r in cats], 0.4, label=labels[0])
    axes[1].bar(x + 0.2, [float(r["future"]) for r in cats], 0.4, label=labels[1])
    axes[1].set_xticks(x, [r["quantity"] for r in cats])
    axes[1].set_xlabel("Saffir-Simpson category of the lifetime maximum")
    axes[1].set_ylabel("storms")
    axes[1].set_title("storms by category")
    axes[1].legend()
    fig.tight_layout()
    return _save(fig, path)


def _from_csv(path):
    import xarray as xr

    rows = list(csv.DictReader(open(path, encoding="utf-8")))
    basins = list(dict.fromkeys(r["basin"] for r in rows))
    leads = sorted({int(r["lead_h"]) for r in rows})
    shape = (len(basins), len(leads))
    data = {k: np.full(shape, np.nan) for k in ("n", "mae_kt", "bias_kt", "persistence_mae_kt", "skill_percent")}
    for r in rows:
        i, j = basins.index(r["basin"]), leads.index(int(r["lead_h"]))
        for k in data:
            data[k][i, j] = float(r[k])
    return xr.Dataset({"n": (("basin", "lead"), data["n"]), "mae": (("basin", "lead"), data["mae_kt"]),
                       "bias": (("basin", "lead"), data["bias_kt"]),
                       "persistence_mae": (("basin", "lead"), data["persistence_mae_kt"]),
                       "skill": (("basin", "lead"), data["skill_percent"])},
                      coords={"basin": basins, "lead": leads})


def main(argv):
    if len(argv) == 4 and argv[1] == "verification":
        plot_verification(_from_csv(argv[2]), argv[3])
        return 0
    if len(argv) == 5 and argv[1] == "grids":
        plot_grids(argv[2], argv[3], argv[4])
        return 0
    if len(argv) == 5 and argv[1] == "aids":
        plot_aids(argv[2], argv[3] if os.path.getsize(argv[3]) > 0 else None, argv[4])
        return 0
    if len(argv) == 6 and argv[1] == "compare":
        plot_comparison(argv[2], argv[3], (argv[4], argv[5]))
        return 0
    if len(argv) >= 5 and argv[1] == "forecast":
        print(plot_forecast(argv[2], argv[3], argv[4], argv[5:]))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
