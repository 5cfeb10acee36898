"""Pictures of tarvo's results (matplotlib).

    python3 -m tarvo.plots verification VERIFICATION.csv OUT.png

draws what ``tarvo-verify --plot`` draws.
"""

import csv
import sys

import numpy as np


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
    fig.savefig(path)
    plt.close(fig)
    return path


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
    if len(argv) != 4 or argv[1] != "verification":
        print(__doc__, file=sys.stderr)
        return 2
    plot_verification(_from_csv(argv[2]), argv[3])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
