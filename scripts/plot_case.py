#!/usr/bin/python3
"""Draws a finished forecast: modelled and observed maximum wind and modelled
central pressure against time (the start of the forecast marked), and the
track on a longitude-latitude map coloured by modelled wind. Writes a PNG.

    scripts/plot_case.py CASE_DIR [OUTPUT.png]     (default CASE_DIR/forecast.png)

Needs matplotlib (Debian: apt-get install python3-matplotlib) and the tarvo
package (installed, or as built in build/python).
"""
import math
import os
import sys

import matplotlib

try:
    import tarvo
except ImportError:  # not installed: the package as built beside this script
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "python"))
    import tarvo

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

WIDTH_IN, HEIGHT_IN, DPI = 12.0, 5.0, 100


def read_track(path):
    """Observed records (hours, lat, lon, wind in knots) and the basin, read by the tarvo package."""
    t = tarvo.read_track(path)
    records = [(int(h), float(la), float(lo) % 360.0, float(w))
               for h, la, lo, w in zip(t.hours, t.lat, t.lon, t.vmax_kt)]
    return records, t.basin.strip()


def read_output(path):
    rows = []
    with open(path, encoding="utf-8") as f:
        next(f)
        for line in f:
            def num(a, b):
                try:
                    return float(line[a:b])
                except ValueError:
                    return math.nan
            rows.append((num(16, 23), num(26, 33), num(37, 42), num(46, 51), num(55, 61)))
    return rows


def draw_coast(ax, path, lons, lats):
    """The coast line (elevation 0) of the quarter-degree grid around the track, if it is there."""
    try:
        import numpy as np
        grid = np.fromfile(path, dtype="<f4", count=1440 * 721).reshape(721, 1440)
    except (OSError, ValueError, ImportError):
        return
    lat0, lat1 = max(-90.0, min(lats) - 8), min(90.0, max(lats) + 8)
    lon0, lon1 = min(lons) - 8, max(lons) + 8
    rows = np.arange(int((lat0 + 90) * 4), int((lat1 + 90) * 4) + 1)
    cols = np.arange(int(lon0 * 4), int(lon1 * 4) + 1)
    sub = grid[np.ix_(rows, cols % 1440)]
    ax.contourf(cols / 4.0, rows / 4.0 - 90, sub, levels=[0, 1e9], colors=["#d8cfb0"])
    ax.contour(cols / 4.0, rows / 4.0 - 90, sub, levels=[0], colors=["#7a6a40"], linewidths=0.6)


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    case = argv[1].rstrip("/")
    out = argv[2] if len(argv) > 2 else case + "/forecast.png"
    try:
        records, header = read_track(case + "/track.in")
        rows = read_output(case + "/track.out")
    except (OSError, StopIteration, tarvo.InputError) as e:
        print(f"plot_case: {e}", file=sys.stderr)
        return 2
    if not records or not rows:
        print("plot_case: no track records or no output lines", file=sys.stderr)
        return 2
    first = records[0][0]
    start = max(h for h, *_ in records if h <= 0) if any(h <= 0 for h, *_ in records) else first
    hours = [first + 2 * k for k in range(len(rows))]

    fig, (ax, ax_map) = plt.subplots(1, 2, figsize=(WIDTH_IN, HEIGHT_IN), dpi=DPI)
    ax.plot(hours, [r[2] for r in rows], color="tab:red", label="modelled max wind")
    ax.plot([r[0] for r in records], [r[3] for r in records], "o--", color="black", ms=3,
            label="observed max wind")
    ax.axvline(start, color="gray", ls=":", label="forecast start")
    ax.set_xlabel("hours from the reference time")
    ax.set_ylabel("maximum wind (knots)")
    ax2 = ax.twinx()
    ax2.plot(hours, [r[4] for r in rows], color="tab:blue", alpha=0.6, label="modelled pressure")
    ax2.set_ylabel("central pressure (hPa)")
    lines = ax.get_legend_handles_labels()
    lines2 = ax2.get_legend_handles_labels()
    ax.legend(lines[0] + lines2[0], lines[1] + lines2[1], loc="upper left", fontsize=8)
    title = f"{case}" + (f"  (basin {header})" if header else "")
    ax.set_title(title)

    lons = [r[1] for r in rows]
    if max(lons) - min(lons) > 180:  # across the 0/360 meridian
        lons = [x - 360 if x > 180 else x for x in lons]
    draw_coast(ax_map, case + "/data/bathsmooth2.dat", lons, [r[0] for r in rows])
    sc = ax_map.scatter(lons, [r[0] for r in rows], c=[r[2] for r in rows], cmap="plasma", s=12)
    ax_map.plot(lons, [r[0] for r in rows], color="gray", lw=0.5)
    fig.colorbar(sc, ax=ax_map, label="modelled max wind (knots)")
    ax_map.set_xlabel("longitude (deg E)")
    ax_map.set_ylabel("latitude (deg N)")
    ax_map.set_aspect("equal", adjustable="datalim")
    ax_map.grid(True, lw=0.3)
    ax_map.set_title("track")
    fig.tight_layout()
    fig.savefig(out)
    print(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
