"""What each picture shows, computed with numpy: the million samples binned into small images
and the long series thinned to a line and a band, so that the process that draws them is
sent a few megabytes at most (drawing.py) and draws no more than the picture's pixels."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from . import geometry


@dataclass
class Panorama:
    """scan.png: the mean distance (m), amplitude and share of samples without an echo of
    each cell, by elevation (rows, -90 to 90) and azimuth (columns, centred on -180 + c * step,
    the first drawn again at +180); NaN where no sample fell."""
    distance: np.ndarray
    amplitude: np.ndarray
    no_echo: np.ndarray
    az_step: float            # degrees per column
    samples: int


def _binned_mean(cells: np.ndarray, count: np.ndarray, values, shape) -> np.ndarray:
    """The mean of values (an array, or a mask counted as 0 and 1) in each cell of the image,
    NaN where count, the samples per cell, is 0; cells: each sample's cell, row by row."""
    if values.dtype == bool:
        total = np.bincount(cells[values], minlength=count.size)
    else:
        total = np.bincount(cells, weights=values, minlength=count.size)
    with np.errstate(invalid="ignore", divide="ignore"):
        return (total / count).reshape(shape).astype(np.float32)


def _fill_along_rows(image: np.ndarray) -> np.ndarray:
    """Empty cells (NaN) take a neighbour's value along the row: a pan that steps wider than
    the image's columns leaves no stripes."""
    out = image.copy()
    for shift in (1, -1):
        empty = np.isnan(out)
        out[empty] = np.roll(image, shift, axis=1)[empty]
    return out


def panorama(laser, azimuth: np.ndarray, elevation: np.ndarray, step: float) -> Panorama:
    """Each sample at its beam's azimuth and elevation (degrees); step: the pan's (radians),
    which sets the columns: one per pan position, 0.5 to 5 degrees wide."""
    cols = int(round(360 / min(max(0.5, np.degrees(step)), 5.0)))
    rows = 360
    shape = (rows, cols)
    cells = ((elevation + 90) / 180 * rows).astype(np.int32).clip(0, rows - 1) * cols
    cells += ((azimuth + 180) / 360 * cols + 0.5).astype(np.int32) % cols
    count = np.bincount(cells, minlength=rows * cols)
    images = (_binned_mean(cells, count, laser.distance, shape) * geometry.METRES_PER_INCH,
              _binned_mean(cells, count, laser.amplitude, shape),
              _binned_mean(cells, count, laser.amplitude <= 0, shape))
    distance, amplitude, no_echo = (np.hstack((a, a[:, :1])) for a in map(_fill_along_rows, images))
    return Panorama(distance=distance, amplitude=amplitude, no_echo=no_echo, az_step=360 / cols,
                    samples=laser.samples)


@dataclass
class Density:
    """One panel of plan.png: points per cell, the cell (cols, rows) covering x0 + col * cell,
    y0 + row * cell."""
    counts: np.ndarray
    x0: float
    y0: float
    cell: float
    title: str
    xlabel: str
    ylabel: str


@dataclass
class Plan:
    top: Density
    side: Density
    points: int


def _bounds(points: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """The low and high corner of what a picture shows of points (n, k): all but the farthest
    0.1 % each way (stray echoes), 0.3 m more around. Taken from about 20000 of the points:
    the same to a centimetre, without sorting them all."""
    some = points[::max(len(points) // 20000, 1)]
    return (np.percentile(some, 0.1, axis=0) - 0.3, np.percentile(some, 99.9, axis=0) + 0.3)


def _density(x: np.ndarray, y: np.ndarray, cell: float, title: str, xlabel: str,
             ylabel: str) -> Density:
    lo, hi = _bounds(np.column_stack((x, y)))
    xbins = max(int((hi[0] - lo[0]) / cell), 1)
    ybins = max(int((hi[1] - lo[1]) / cell), 1)
    col = ((x - lo[0]) / cell).astype(np.int64)
    row = ((y - lo[1]) / cell).astype(np.int64)
    inside = (col >= 0) & (col < xbins) & (row >= 0) & (row < ybins)
    counts = np.bincount(row[inside] * xbins + col[inside], minlength=xbins * ybins)
    return Density(counts=counts.reshape(ybins, xbins).astype(np.int32), x0=float(lo[0]),
                   y0=float(lo[1]), cell=cell, title=title, xlabel=xlabel, ylabel=ylabel)


SLICE = 0.5  # metres either side of the scanner that the plan and the section keep


def _slice(points: np.ndarray, axis: int) -> tuple[np.ndarray, str]:
    """The points within SLICE of the scanner along axis, or all of them when that leaves
    under 1 % (a scan without walls near the scanner's height)."""
    keep = np.abs(points[:, axis]) <= SLICE
    if np.count_nonzero(keep) < 0.01 * len(points):
        return points, "all points"
    return points[keep], f"points within {SLICE:g} m"


def plan(points: np.ndarray, levelled: bool) -> Plan:
    """The point cloud from above and in section from the side, each a slice through the
    scanner (floor and ceiling left out above, so the walls show), in 2 cm cells (coarser
    beyond 20 m)."""
    lo, hi = _bounds(points)
    span = float(np.max(hi - lo))
    cell = 0.02 if span < 20 else span / 1000
    names = ("east (m)", "north (m)", "up (m)") if levelled else \
        ("x, ahead (m)", "y, left (m)", "z, up (m)")
    what = "levelled, north up" if levelled else "scanner frame, not levelled"
    above, which = _slice(points, 2)
    top = _density(above[:, 0], above[:, 1], cell, f"Plan ({what}): {which} in height",
                   names[0], names[1])
    side, which = _slice(points, 1)
    section = _density(side[:, 0], side[:, 2], cell,
                       "Section from the " + ("south" if levelled else "right") +
                       f": {which} {'north or south' if levelled else 'left or right'}",
                       names[0], names[2])
    return Plan(top=top, side=section, points=len(points))


@dataclass
class Series:
    """One line of attitude.png: the mean of each bucket, and the min-max band (None: none)."""
    label: str
    mean: np.ndarray
    low: np.ndarray | None
    high: np.ndarray | None


@dataclass
class Attitude:
    x: np.ndarray                 # the start of each bucket
    xlabel: str
    angles: list                  # roll and pitch, degrees
    heading: Series               # degrees, broken (NaN) where it wraps through north
    heading_limits: tuple         # the heading axis's (low, high)
    rates: list                   # x, y, z, deg/s
    gaps: np.ndarray              # x of the gaps in the packet count
    title: str


# Buckets a series is thinned to: about one per pixel across the picture.
BUCKETS = 1000


def _envelope(x: np.ndarray, y: np.ndarray, most: int = BUCKETS):
    """x, y thinned to at most `most` buckets: the mean line and the min-max band."""
    n = len(x)
    if n <= most:
        return x, y, None, None
    size = int(np.ceil(n / most))
    cut = n - n % size
    xs = x[:cut].reshape(-1, size)[:, 0]
    block = y[:cut].reshape(-1, size)
    return xs, block.mean(axis=1), block.min(axis=1), block.max(axis=1)


def attitude(gyro, att: geometry.Attitude, gaps: np.ndarray) -> Attitude:
    """Roll and pitch, heading and the body rates of every record, thinned; gaps: the record
    index after each gap in the packet count."""
    if gyro.time is not None:
        x, xlabel = gyro.time, "time (s)"
    else:
        x, xlabel = gyro.count, "packet count (the file has no time column)"

    def series(values, label):
        xs, mean, low, high = _envelope(x, values)
        return xs, Series(label, mean, low, high)

    xs, roll = series(np.degrees(att.roll), "roll")
    _, pitch = series(np.degrees(att.pitch), "pitch")
    rates = [series(att.rates[:, k], label)[1] for k, label in enumerate("xyz")]
    heading = np.degrees(att.heading) % 360
    _, wrapped = series(heading, "heading")
    mean = wrapped.mean.copy()
    mean[1:][np.abs(np.diff(mean)) > 180] = np.nan
    low, high = float(np.min(heading)), float(np.max(heading))
    if high - low < 300:
        # A heading that stays away from north: its own scale, at least 20 deg tall.
        middle, half = (low + high) / 2, max((high - low) / 2 + 2, 10)
        limits = (max(middle - half, 0), min(middle + half, 360))
    else:
        limits = (0, 360)
    title = (f"Attitude: {gyro.records} records, mode {gyro.mode}; mean roll "
             f"{np.degrees(att.mean_roll):+.2f}, pitch {np.degrees(att.mean_pitch):+.2f}, "
             f"heading {np.degrees(att.mean_heading) % 360:.1f} deg")
    return Attitude(x=xs, xlabel=xlabel, angles=[roll, pitch],
                    heading=Series("heading", mean, None, None), heading_limits=limits,
                    rates=rates, gaps=x[gaps], title=title)
