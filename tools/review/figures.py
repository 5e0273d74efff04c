"""The pictures: every large data set is binned into an image first (numpy), so a million
samples cost one histogram and one imshow, never a million markers."""

from __future__ import annotations

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

from . import geometry  # noqa: E402
from .readers import FIX_QUALITY  # noqa: E402

DPI = 100
# Fast PNG compression: the pictures are mostly flat colour, level 1 is nearly as small.
PNG = {"compress_level": 1}
plt.rcParams.update({"font.size": 9, "axes.titlesize": 10, "figure.titlesize": 11})


def _binned_mean(cells: np.ndarray, count: np.ndarray, values, shape) -> np.ndarray:
    """The mean of values (an array, or a mask counted as 0 and 1) in each cell of the image,
    NaN where count, the samples per cell, is 0; cells: each sample's cell, row by row."""
    if values.dtype == bool:
        total = np.bincount(cells[values], minlength=count.size)
    else:
        total = np.bincount(cells, weights=values, minlength=count.size)
    with np.errstate(invalid="ignore", divide="ignore"):
        return (total / count).reshape(shape)


def _fill_along_rows(image: np.ndarray) -> np.ndarray:
    """Empty cells (NaN) take a neighbour's value along the row: a pan that steps wider than
    the image's columns leaves no stripes."""
    out = image.copy()
    for shift in (1, -1):
        empty = np.isnan(out)
        out[empty] = np.roll(image, shift, axis=1)[empty]
    return out


def scan(laser, azimuth: np.ndarray, elevation: np.ndarray, step: float, path: str):
    """The panorama: each sample at its beam's azimuth (across, as seen from the scanner) and
    elevation (up), degrees; the mean distance and the mean amplitude of each cell."""
    cols = int(round(360 / min(max(0.5, np.degrees(step)), 5.0)))
    az_step = 360 / cols
    rows = 360
    shape = (rows, cols)
    cells = ((elevation + 90) / 180 * rows).astype(np.int32).clip(0, rows - 1) * cols
    cells += ((azimuth + 180) / 360 * cols + 0.5).astype(np.int32) % cols
    count = np.bincount(cells, minlength=rows * cols)
    distance = _binned_mean(cells, count, laser.distance, shape) * geometry.METRES_PER_INCH
    amplitude = _binned_mean(cells, count, laser.amplitude, shape)
    no_echo = _binned_mean(cells, count, laser.amplitude <= 0, shape)
    # Column c is centred on azimuth -180 + c * az_step; column 0 is drawn again at +180 so
    # that both edges of the picture are filled. The axis runs right to left.
    distance, amplitude, no_echo = (np.hstack((a, a[:, :1])) for a in map(
        _fill_along_rows, (distance, amplitude, no_echo)))

    fig, axes = plt.subplots(2, 1, figsize=(11, 9))
    fig.subplots_adjust(left=0.07, right=0.96, bottom=0.06, top=0.92, hspace=0.3)
    extent = (-180 - az_step / 2, 180 + az_step / 2, -90, 90)
    echo_mask = no_echo > 0.5
    for ax, image, title, label, cmap in (
            (axes[0], distance, "Distance", "distance (m)", "viridis"),
            (axes[1], amplitude, "Amplitude", "amplitude (0 to 4095)", "gray")):
        shown = np.ma.masked_where(np.isnan(image) | echo_mask, image)
        colours = plt.get_cmap(cmap).copy()
        colours.set_bad("#f2c2f2" if echo_mask.any() else "white")
        im = ax.imshow(shown, origin="lower", extent=extent, aspect="auto", cmap=colours,
                       interpolation="nearest")
        fig.colorbar(im, ax=ax, label=label, fraction=0.04, pad=0.01)
        ax.set_title(f"{title} by beam direction, as seen from the scanner"
                     + (" (pink: no echo or no sample)" if echo_mask.any() else
                        " (white: no sample)"))
        ax.set_xlabel("azimuth (deg, counter-clockwise from the scanner's pan 0; left is left)")
        ax.set_ylabel("elevation (deg)")
        ax.set_xticks(np.arange(-180, 181, 45))
        ax.set_yticks(np.arange(-90, 91, 30))
        ax.set_xlim(180, -180)
    fig.suptitle(f"Scan panorama: {laser.samples} samples, {laser.samples / 5000:g} lines")
    fig.savefig(path, dpi=DPI, format="png", pil_kwargs=PNG)
    plt.close(fig)


def _bounds(points: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """The low and high corner of what a picture shows of points (n, k): all but the farthest
    0.1 % each way (stray echoes), 0.3 m more around. Taken from about 20000 of the points:
    the same to a centimetre, without sorting them all."""
    some = points[::max(len(points) // 20000, 1)]
    return (np.percentile(some, 0.1, axis=0) - 0.3, np.percentile(some, 99.9, axis=0) + 0.3)


def _density(ax, x: np.ndarray, y: np.ndarray, cell: float, title: str, xlabel: str,
             ylabel: str, fig):
    """Points per cell as an image, on a log scale (walls are dense, floors sparse)."""
    lo, hi = _bounds(np.column_stack((x, y)))
    xbins = max(int((hi[0] - lo[0]) / cell), 1)
    ybins = max(int((hi[1] - lo[1]) / cell), 1)
    col = ((x - lo[0]) / cell).astype(np.int64)
    row = ((y - lo[1]) / cell).astype(np.int64)
    inside = (col >= 0) & (col < xbins) & (row >= 0) & (row < ybins)
    counts = np.bincount(row[inside] * xbins + col[inside], minlength=xbins * ybins)
    image = np.ma.masked_equal(counts.reshape(ybins, xbins), 0)
    image = np.ma.log10(image)
    colours = plt.get_cmap("magma_r").copy()
    colours.set_bad("white")
    top = max(float(image.max()), 1.0)
    im = ax.imshow(image, origin="lower", cmap=colours, vmin=0, vmax=top,
                   extent=(lo[0], lo[0] + xbins * cell, lo[1], lo[1] + ybins * cell),
                   interpolation="nearest")
    bar = fig.colorbar(im, ax=ax, fraction=0.04, pad=0.02)
    ticks = np.arange(0, int(top) + 1)
    bar.set_ticks(ticks, labels=[f"{10 ** t:g}" for t in ticks])
    bar.set_label(f"points per {cell * 100:.0f} cm cell")
    ax.plot([0], [0], marker="+", color="tab:blue", markersize=12, mew=2)
    ax.set_title(title)
    ax.set_xlabel(xlabel)
    ax.set_ylabel(ylabel)
    ax.set_aspect("equal")


SLICE = 0.5  # metres either side of the scanner that the plan and the section keep


def _slice(points: np.ndarray, axis: int) -> tuple[np.ndarray, str]:
    """The points within SLICE of the scanner along axis, or all of them when that leaves
    under 1 % (a scan without walls near the scanner's height)."""
    keep = np.abs(points[:, axis]) <= SLICE
    if np.count_nonzero(keep) < 0.01 * len(points):
        return points, "all points"
    return points[keep], f"points within {SLICE:g} m"


def plan(points: np.ndarray, levelled: bool, path: str):
    """The point cloud from above and in section from the side, each a slice through the
    scanner (floor and ceiling left out above, so the walls show): point density per cell,
    the scanner marked +."""
    lo, hi = _bounds(points)
    span = float(np.max(hi - lo))
    cell = 0.02 if span < 20 else span / 1000
    names = ("east (m)", "north (m)", "up (m)") if levelled else \
        ("x, ahead (m)", "y, left (m)", "z, up (m)")
    fig, axes = plt.subplots(1, 2, figsize=(13, 6.5))
    fig.subplots_adjust(left=0.05, right=0.95, bottom=0.09, top=0.86, wspace=0.3)
    what = "levelled, north up" if levelled else "scanner frame, not levelled"
    above, which = _slice(points, 2)
    _density(axes[0], above[:, 0], above[:, 1], cell, f"Plan ({what}): {which} in height",
             names[0], names[1], fig)
    side, which = _slice(points, 1)
    _density(axes[1], side[:, 0], side[:, 2], cell,
             "Section from the " + ("south" if levelled else "right") +
             f": {which} {'north or south' if levelled else 'left or right'}", names[0],
             names[2], fig)
    fig.suptitle(f"Point cloud: {len(points)} points, scanner at +")
    fig.savefig(path, dpi=DPI, format="png", pil_kwargs=PNG)
    plt.close(fig)


def _envelope(x: np.ndarray, y: np.ndarray, most: int = 4000):
    """x, y thinned to at most `most` buckets: the mean line and the min-max band."""
    n = len(x)
    if n <= most:
        return x, y, None, None
    size = int(np.ceil(n / most))
    cut = n - n % size
    xs = x[:cut].reshape(-1, size)[:, 0]
    block = y[:cut].reshape(-1, size)
    return xs, block.mean(axis=1), block.min(axis=1), block.max(axis=1)


def attitude(gyro, att, gaps: np.ndarray, path: str):
    """Roll and pitch, heading and the body rates over the recording; gaps in the packet count
    marked in red."""
    if gyro.time is not None:
        x, xlabel = gyro.time, "time (s)"
    else:
        x, xlabel = gyro.count, "packet count (the file has no time column)"
    fig, axes = plt.subplots(3, 1, figsize=(11, 9), sharex=True)
    fig.subplots_adjust(left=0.08, right=0.98, bottom=0.06, top=0.92, hspace=0.25)
    heading = np.degrees(att.heading) % 360
    series = (
        (axes[0], ((np.degrees(att.roll), "roll"), (np.degrees(att.pitch), "pitch")),
         "Roll and pitch", "angle (deg)"),
        (axes[1], ((heading, "heading"),), "Heading (magnetic)",
         "heading (deg, 0 north, 90 east)"),
        (axes[2], ((att.rates[:, 0], "x"), (att.rates[:, 1], "y"), (att.rates[:, 2], "z")),
         "Body rates", "rate (deg/s)"),
    )
    for ax, lines, title, ylabel in series:
        for values, label in lines:
            xs, mean, low, high = _envelope(x, values)
            if values is heading:
                # The line breaks where the heading wraps through north.
                mean = mean.copy()
                mean[1:][np.abs(np.diff(mean)) > 180] = np.nan
                low = None
            (line,) = ax.plot(xs, mean, lw=0.8, label=label)
            if low is not None:
                ax.fill_between(xs, low, high, color=line.get_color(), alpha=0.25, lw=0)
        ax.set_title(title)
        ax.set_ylabel(ylabel)
        ax.grid(alpha=0.3)
        if len(lines) > 1:
            ax.legend(loc="upper right", ncol=len(lines), fontsize=8)
    low, high = float(np.min(heading)), float(np.max(heading))
    if high - low < 300:
        # A heading that stays away from north: its own scale, at least 20 deg tall.
        middle, half = (low + high) / 2, max((high - low) / 2 + 2, 10)
        axes[1].set_ylim(max(middle - half, 0), min(middle + half, 360))
    else:
        axes[1].set_ylim(0, 360)
        axes[1].set_yticks(range(0, 361, 90))
    if len(gaps):
        for ax in axes:
            ax.vlines(x[gaps], 0, 1, transform=ax.get_xaxis_transform(), color="red", lw=0.6,
                      alpha=0.6)
        axes[0].set_title(f"Roll and pitch (red: {len(gaps)} gaps in the packet count)")
    axes[2].set_xlabel(xlabel)
    fig.suptitle(f"Attitude: {gyro.records} records, mode {gyro.mode}; mean roll "
                 f"{np.degrees(att.mean_roll):+.2f}, pitch {np.degrees(att.mean_pitch):+.2f}, "
                 f"heading {np.degrees(att.mean_heading) % 360:.1f} deg")
    fig.savefig(path, dpi=DPI, format="png", pil_kwargs=PNG)
    plt.close(fig)


QUALITY_COLOURS = {1: "tab:blue", 2: "tab:green", 3: "tab:cyan", 4: "tab:purple",
                   5: "tab:olive", 6: "tab:orange", 7: "tab:brown", 8: "tab:gray"}


def _top(values: np.ndarray, least: float) -> float:
    """The top of an axis from 0 that shows values with a quarter to spare, at least least."""
    finite = values[np.isfinite(values)]
    return max(1.25 * float(finite.max()), least) if len(finite) else least


def gps(gps_file, figures, path: str):
    """The fixes in metres around their mean, coloured by fix quality; HDOP and satellites over
    the program clock with the receiver's silences shaded."""
    fixed = gps_file.fixed
    east, north = geometry.local_metres(gps_file.lat[fixed], gps_file.lon[fixed],
                                        figures.mean_lat, figures.mean_lon)
    quality = gps_file.quality[fixed]
    fig, axes = plt.subplots(1, 2, figsize=(13, 6), gridspec_kw={"width_ratios": [1, 1.3]})
    fig.subplots_adjust(left=0.07, right=0.94, bottom=0.09, top=0.88, wspace=0.25)
    ax = axes[0]
    for q in np.unique(quality):
        mine = quality == q
        ax.plot(east[mine], north[mine], ls="none", marker=".", ms=3,
                color=QUALITY_COLOURS.get(int(q), "black"),
                label=f"{FIX_QUALITY.get(int(q), f'quality {int(q)}')} ({int(mine.sum())})")
    ax.plot([0], [0], marker="+", color="red", ms=14, mew=2, label="mean")
    # Square around the mean, at least a metre each way: fixes that all agree stay a dot.
    reach = 1.1 * max(float(np.max(np.abs(east))), float(np.max(np.abs(north))), 1.0)
    ax.set_xlim(-reach, reach)
    ax.set_ylim(-reach, reach)
    ax.set_aspect("equal")
    ax.set_xlabel("east of the mean (m)")
    ax.set_ylabel("north of the mean (m)")
    ax.set_title(f"Fixes around {figures.mean_lat:.6f}, {figures.mean_lon:.6f}")
    ax.grid(alpha=0.3)
    ax.legend(loc="upper right", fontsize=8, title="fix quality")
    ax = axes[1]
    t = gps_file.time
    ax.set_xlabel("program clock (s)")
    ax.set_xlim(t.min() - 1, t.max() + 1)
    if np.isfinite(gps_file.hdop).any():
        # Each on a scale of its own that keeps a steady HDOP and satellite count apart.
        ax.plot(t, gps_file.hdop, lw=0.8, color="tab:blue", label="HDOP")
        ax.set_ylabel("HDOP", color="tab:blue")
        ax.set_ylim(0, _top(gps_file.hdop, 2.5))
        twin = ax.twinx()
        twin.plot(t, gps_file.satellites, lw=0.8, color="tab:green", label="satellites")
        twin.set_ylabel("satellites", color="tab:green")
        twin.set_ylim(0, _top(gps_file.satellites, 5.0))
    else:
        ax.text(0.5, 0.5, f"the {gps_file.position_from} sentences carry no HDOP or satellite "
                "count", transform=ax.transAxes, ha="center", va="center")
        ax.set_yticks([])
    nofix = ~fixed
    if nofix.any():
        ax.vlines(t[nofix], 0, 1, transform=ax.get_xaxis_transform(), color="0.6", lw=0.5)
    for start, seconds in figures.silences:
        ax.axvspan(start, start + seconds, color="red", alpha=0.2, lw=0)
    keys = (["red: receiver silent"] if figures.silences else []) + \
        (["grey: no fix"] if nofix.any() else [])
    ax.set_title("HDOP and satellites" + (f" ({'; '.join(keys)})" if keys else ""))
    ax.grid(alpha=0.3)
    fig.suptitle(f"GPS: {int(fixed.sum())} fixes of {len(t)} reports")
    fig.savefig(path, dpi=DPI, format="png", pil_kwargs=PNG)
    plt.close(fig)
