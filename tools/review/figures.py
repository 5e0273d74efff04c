"""The pictures, drawn with matplotlib from what views.py computed: a million samples come
as a small image, a long series as a line and a band, never as a million markers."""

from __future__ import annotations

import io

import matplotlib
import numpy as np
from matplotlib.figure import Figure

from . import geometry
from .readers import FIX_QUALITY

DPI = 100
# Fast PNG compression: the pictures are mostly flat colour, level 1 is nearly as small.
PNG = {"compress_level": 1}
# A title at a fixed height: no axis labels above the plots to make room for.
matplotlib.rcParams.update({"font.size": 9, "axes.titlesize": 10, "figure.titlesize": 11,
                            "axes.titley": 1.0})


def _save(fig: Figure, path):
    """Writes fig to path, a file name or an open binary file, as PNG."""
    fig.savefig(path, dpi=DPI, format="png", pil_kwargs=PNG)


def warm_up():
    """Draws a small picture nowhere: the fonts, the renderer and the PNG writer are loaded
    once, before the drawing process forks its helper."""
    fig = Figure(figsize=(2, 2))
    ax = fig.subplots()
    ax.plot([0, 1], [0, 1])
    ax.set_title("warm-up")
    _save(fig, io.BytesIO())


def scan(view, path):
    """The panorama (views.Panorama): each cell at its beams' azimuth (across, as seen from
    the scanner) and elevation (up), degrees; the mean distance and the mean amplitude."""
    fig = Figure(figsize=(11, 9))
    axes = fig.subplots(2, 1)
    fig.subplots_adjust(left=0.07, right=0.96, bottom=0.06, top=0.92, hspace=0.3)
    step = view.az_step
    # The axis runs right to left.
    extent = (-180 - step / 2, 180 + step / 2, -90, 90)
    echo_mask = view.no_echo > 0.5
    for ax, image, title, label, cmap in (
            (axes[0], view.distance, "Distance", "distance (m)", "viridis"),
            (axes[1], view.amplitude, "Amplitude", "amplitude (0 to 4095)", "gray")):
        shown = np.ma.masked_where(np.isnan(image) | echo_mask, image)
        colours = matplotlib.colormaps[cmap].copy()
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
    fig.suptitle(f"Scan panorama: {view.samples} samples, {view.samples / 5000:g} lines")
    _save(fig, path)


def _density(ax, panel, fig):
    """Points per cell (views.Density) as an image, on a log scale (walls are dense, floors
    sparse)."""
    image = np.ma.log10(np.ma.masked_equal(panel.counts, 0))
    colours = matplotlib.colormaps["magma_r"].copy()
    colours.set_bad("white")
    top = max(float(image.max()), 1.0)
    rows, cols = panel.counts.shape
    im = ax.imshow(image, origin="lower", cmap=colours, vmin=0, vmax=top,
                   extent=(panel.x0, panel.x0 + cols * panel.cell, panel.y0,
                           panel.y0 + rows * panel.cell), interpolation="nearest")
    bar = fig.colorbar(im, ax=ax, fraction=0.04, pad=0.02)
    ticks = np.arange(0, int(top) + 1)
    bar.set_ticks(ticks, labels=[f"{10 ** t:g}" for t in ticks])
    bar.set_label(f"points per {panel.cell * 100:.0f} cm cell")
    ax.plot([0], [0], marker="+", color="tab:blue", markersize=12, mew=2)
    ax.set_title(panel.title)
    ax.set_xlabel(panel.xlabel)
    ax.set_ylabel(panel.ylabel)
    ax.set_aspect("equal")


def plan(view, path):
    """The plan and the section (views.Plan) side by side, the scanner marked +."""
    fig = Figure(figsize=(13, 6.5))
    axes = fig.subplots(1, 2)
    fig.subplots_adjust(left=0.05, right=0.95, bottom=0.09, top=0.86, wspace=0.3)
    _density(axes[0], view.top, fig)
    _density(axes[1], view.side, fig)
    fig.suptitle(f"Point cloud: {view.points} points, scanner at +")
    _save(fig, path)


def attitude(view, path):
    """Roll and pitch, heading and the body rates (views.Attitude) over the recording; gaps
    in the packet count marked in red."""
    fig = Figure(figsize=(11, 9))
    axes = fig.subplots(3, 1, sharex=True)
    fig.subplots_adjust(left=0.08, right=0.98, bottom=0.06, top=0.92, hspace=0.25)
    for ax, lines, title, ylabel in (
            (axes[0], view.angles, "Roll and pitch", "angle (deg)"),
            (axes[1], [view.heading], "Heading (magnetic)", "heading (deg, 0 north, 90 east)"),
            (axes[2], view.rates, "Body rates", "rate (deg/s)")):
        for series in lines:
            (line,) = ax.plot(view.x, series.mean, lw=0.8, label=series.label)
            if series.low is not None:
                ax.fill_between(view.x, series.low, series.high, color=line.get_color(),
                                alpha=0.25, lw=0)
        ax.set_title(title)
        ax.set_ylabel(ylabel)
        ax.grid(alpha=0.3)
        if len(lines) > 1:
            ax.legend(loc="upper right", ncol=len(lines), fontsize=8)
    axes[1].set_ylim(*view.heading_limits)
    if view.heading_limits == (0, 360):
        axes[1].set_yticks(range(0, 361, 90))
    if len(view.gaps):
        for ax in axes:
            ax.vlines(view.gaps, 0, 1, transform=ax.get_xaxis_transform(), color="red",
                      lw=0.6, alpha=0.6)
        axes[0].set_title(f"Roll and pitch (red: {len(view.gaps)} gaps in the packet count)")
    axes[2].set_xlabel(view.xlabel)
    fig.suptitle(view.title)
    _save(fig, path)


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
    fig = Figure(figsize=(13, 6))
    axes = fig.subplots(1, 2, gridspec_kw={"width_ratios": [1, 1.3]})
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
    _save(fig, path)
