"""The verdict: the figures of each file and what looks wrong, the most important first.

A finding's rank follows the questions a surveyor asks before packing up: did the scan cover
the room, is anything missing, was the rig level, is there a fix."""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

from . import geometry
from .readers import FIX_QUALITY, SAMPLES_PER_LINE

# Ranks: lower is more important.
COVERAGE, LASER_MISSING, NO_RETURN, SATURATED = 10, 20, 25, 27
GYRO_MISSING, GYRO_PAUSE, NOT_LEVEL, MOVING = 30, 32, 40, 45
NO_FIX, FEW_FIXES, GPS_SILENT, GPS_INVALID, GPS_HDOP = 50, 52, 55, 57, 60

# Thresholds of the findings.
FULL_COVERAGE = 0.95      # share of the azimuth the beams must cover
NO_RETURN_SHARE = 0.05    # share of samples without an echo
SATURATED_SHARE = 0.01
STRETCH = 50              # consecutive samples that make an empty or saturated stretch
LEVEL_DEG = 5.0           # mean roll or pitch beyond this: the rig stood out of level
MOVING_DEG = 1.0          # roll or pitch spread beyond this: the rig moved
FIX_SHARE = 0.9
HDOP_POOR = 2.0
SATURATION = 4095.0       # the laser's highest amplitude


@dataclass
class Finding:
    rank: int
    problem: bool   # False: a note
    text: str


@dataclass
class Summary:
    findings: list = field(default_factory=list)
    # Per file: its rank and the (label, value) rows for the text and the report.
    sections: dict = field(default_factory=dict)

    def section(self, rank: int, title: str) -> list:
        """The rows of a new section, which is shown in the place of its rank whichever file
        is read first."""
        rows = []
        self.sections[title] = (rank, rows)
        return rows

    @property
    def ordered_sections(self) -> list:
        """(title, rows) of every section, by rank."""
        return [(title, rows) for title, (_, rows) in
                sorted(self.sections.items(), key=lambda item: item[1][0])]

    def problem(self, rank: int, text: str):
        self.findings.append(Finding(rank, True, text))

    def note(self, rank: int, text: str):
        self.findings.append(Finding(rank, False, text))

    @property
    def problems(self) -> list:
        return sorted((f for f in self.findings if f.problem), key=lambda f: f.rank)

    @property
    def notes(self) -> list:
        return sorted((f for f in self.findings if not f.problem), key=lambda f: f.rank)

    @property
    def headline(self) -> str:
        problems = self.problems
        if not problems:
            return "Nothing looks wrong."
        more = f" (and {len(problems) - 1} more)" if len(problems) > 1 else ""
        return f"{len(problems)} problem{'s' if len(problems) > 1 else ''}: {problems[0].text}{more}"

    def text(self) -> str:
        out = ["Verdict: " + self.headline, ""]
        if self.problems:
            out.append("What looks wrong, most important first:")
            out += [f"  - {f.text}" for f in self.problems]
            out.append("")
        if self.notes:
            out.append("Notes:")
            out += [f"  - {f.text}" for f in self.notes]
            out.append("")
        for title, rows in self.ordered_sections:
            out.append(title)
            width = max((len(label) for label, _ in rows), default=0)
            out += [f"  {label.ljust(width)}  {value}" for label, value in rows]
            out.append("")
        return "\n".join(out)


def _runs(mask: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Starts and lengths of the runs of True in mask."""
    edges = np.diff(np.concatenate(([0], mask.view(np.int8), [0])))
    starts = np.flatnonzero(edges == 1)
    return starts, np.flatnonzero(edges == -1) - starts


def _plural(n: int, word: str) -> str:
    plural = word + ("es" if word.endswith(("s", "ch")) else "s")
    return f"{n} {word if n == 1 else plural}"


def _spread(values: np.ndarray, scale: float = 1.0) -> str:
    """The range, 1 % to 99 % and median of values times scale (scaled after the sorting, so
    no scaled copy of a large column is made)."""
    p = np.percentile(values, [0, 1, 50, 99, 100]) * scale
    return f"{p[0]:.3f} to {p[4]:.3f} (1 % to 99 %: {p[1]:.3f} to {p[3]:.3f}, median {p[2]:.3f})"


# ---------------------------------------------------------------------------------------------


@dataclass
class LaserFigures:
    lines: float
    azimuth_coverage: float      # share of 360 degrees the beams cover
    pan_sweep_deg: float
    pan_step: float              # radians between pan positions (estimated)
    lost_gaps: np.ndarray        # sample index where the mirror sweep jumps (samples lost)
    lost_samples: int


def pan_step(pan: np.ndarray) -> float:
    """The pan head's step (radians) from its angles pan: the usual spacing of its distinct
    positions, or the file's resolution when the pan turns smoothly."""
    positions = np.unique(np.round(pan, 4))
    if len(positions) < 2:
        return 2 * np.pi
    return max(float(np.median(np.diff(positions))), 1e-4)


def review_laser(laser, azimuth: np.ndarray, elevation: np.ndarray,
                 summary: Summary) -> LaserFigures | None:
    """azimuth, elevation: each sample's beam direction in degrees (cloud.Beams)."""
    rows = summary.section(1, "Laser file " + laser.path)
    n = laser.samples
    rows.append(("samples", f"{n} ({n / SAMPLES_PER_LINE:g} lines of {SAMPLES_PER_LINE})"))
    rows.append(("line ends", "CR LF (Windows)" if laser.crlf else "LF"))
    if n == 0:
        summary.problem(COVERAGE, "the laser file holds no samples: no scan to look at")
        return None
    if n % SAMPLES_PER_LINE:
        summary.problem(LASER_MISSING, f"the laser file ends within a line: {n} samples are not "
                        f"whole lines of {SAMPLES_PER_LINE} (the last has {n % SAMPLES_PER_LINE})")

    # Coverage: the share of the azimuth that the beams (all but the near-vertical) point to.
    # Every 97th sample and the last: a pan that steps once a line is still seen at each of its
    # steps, and at its ends.
    pan = laser.angle2[np.r_[0:n:97, n - 1]]
    step = pan_step(pan)
    side = azimuth[np.abs(elevation) < 80]
    bins = max(int(360 / max(2.0, 2 * np.degrees(step))), 1)
    hit = np.bincount(((side + 180) / 360 * bins).astype(int).clip(0, bins - 1), minlength=bins)
    coverage = float(np.count_nonzero(hit) / bins)
    unwrapped = np.unwrap(pan)
    sweep = float(np.degrees(unwrapped.max() - unwrapped.min()))
    rows.append(("pan sweep", f"{sweep:.1f} deg (step {np.degrees(step):.2f} deg)"))
    rows.append(("azimuth covered", f"{coverage * 100:.1f} % of 360 deg"))
    if coverage < FULL_COVERAGE:
        summary.problem(COVERAGE, f"the scan covers {coverage * 100:.0f} % of the room's azimuth "
                        f"(the pan swept {sweep:.0f} deg; half a turn sees every direction): "
                        "parts of the room are missing")

    # Lost samples: the mirror turns at a steady rate, so a jump in its angle from one sample
    # to the next means samples never reached the file.
    # One column of a million at a time: the usual advance from every 16th (the same value,
    # without a sorted copy), the steady mean without a copy of the steady ones.
    advance = np.diff(laser.angle1)
    np.mod(advance, 2 * np.pi, out=advance)
    usual = float(np.median(advance[::16])) if len(advance) else 0.0
    jump = advance > 3 * usual + 0.01
    gaps = np.flatnonzero(jump) + 1
    steady = len(advance) - len(gaps)
    mirror_step = float(np.sum(advance, where=~jump)) / steady if steady else 0.0
    lost = int(np.sum(np.round(advance[gaps - 1] / mirror_step) - 1)) \
        if mirror_step > 0 and len(gaps) else 0
    rows.append(("mirror", f"{np.degrees(mirror_step):.3f} deg a sample"
                 + (f", {_plural(int(np.count_nonzero(laser.index1)), 'index pulse')}")))
    if usual <= 0:
        summary.problem(LASER_MISSING, "the mirror angle does not change: the mirror did not turn")
    if len(gaps):
        lines = np.unique(gaps // SAMPLES_PER_LINE)
        shown = ", ".join(str(int(v)) for v in lines[:8]) + (" ..." if len(lines) > 8 else "")
        summary.problem(LASER_MISSING, f"samples lost in {_plural(len(lines), 'line')} "
                        f"({shown}, counted from 0): the mirror angle jumps "
                        f"{_plural(len(gaps), 'time')}, about {lost} samples missing")
    rows.append(("lost samples", f"{lost} in {_plural(len(gaps), 'jump')} of the mirror angle"))

    rows.append(("distance (m)", _spread(laser.distance, geometry.METRES_PER_INCH)))
    rows.append(("amplitude", _spread(laser.amplitude)))
    rows.append(("temperature (F)", f"{laser.temperature.min():.1f} to {laser.temperature.max():.1f}"))
    for name, mask, rank, limit in (
            ("no echo (amplitude 0)", laser.amplitude <= 0, NO_RETURN, NO_RETURN_SHARE),
            ("saturated (amplitude 4095)", laser.amplitude >= SATURATION, SATURATED,
             SATURATED_SHARE)):
        count = int(np.count_nonzero(mask))
        starts, lengths = _runs(mask)
        long = lengths >= STRETCH
        text = f"{count} samples ({count / n * 100:.2f} %), {_plural(int(long.sum()), 'stretch')} " \
               f"of {STRETCH} or more"
        if long.any():
            k = int(np.argmax(lengths))
            text += (f"; longest {lengths[k]} samples in line {starts[k] // SAMPLES_PER_LINE} at "
                     f"pan {np.degrees(laser.angle2[starts[k]]):.1f} deg")
        rows.append((name, text))
        if count / n > limit or long.any():
            summary.problem(rank, f"{name.split(' (')[0]}: {text}")
    return LaserFigures(lines=n / SAMPLES_PER_LINE, azimuth_coverage=coverage,
                        pan_sweep_deg=sweep, pan_step=step, lost_gaps=gaps, lost_samples=lost)


# ---------------------------------------------------------------------------------------------


@dataclass
class GyroFigures:
    step: int                    # packets per record (the decimation)
    gaps: np.ndarray             # record index after which records are missing
    invalid: int                 # packets read but not recorded
    lost: int                    # packets the unit sent that were not read as packets


def review_gyro(gyro, att: geometry.Attitude, summary: Summary) -> GyroFigures:
    rows = summary.section(2, "Gyro file " + gyro.path)
    n = gyro.records
    how = "given" if gyro.mode_from == "given" else "told from the records"
    rows.append(("records", f"{n}, mode {gyro.mode} ({how}), "
                 + ("a time column" if gyro.time is not None else "counts only (no time column)")))
    count = gyro.count
    diffs = np.diff(count)
    step = int(np.median(diffs)) if len(diffs) else 1
    step = max(step, 1)
    gaps = np.flatnonzero(diffs > step)
    invalid = int(np.sum(diffs[gaps] - step)) if len(gaps) else 0
    back = np.flatnonzero(diffs <= 0)
    tail_diffs = np.mod(np.diff(gyro.tail), 65536)
    lost = int(np.sum(np.maximum(tail_diffs - diffs, 0))) if len(diffs) else 0
    span_packets = int(count[-1] - count[0]) + step if n else 0
    rows.append(("packets", f"counts {int(count[0])} to {int(count[-1])}, one record per "
                 f"{_plural(step, 'packet')}"))
    rows.append(("gaps in the count", f"{_plural(len(gaps), 'gap')}, {invalid} packets read "
                 "but not recorded (invalid)"))
    rows.append(("lost on the line", f"{lost} packets (the unit's TAIL_WORD ran further than "
                 "the count)"))
    if len(back):
        summary.problem(GYRO_MISSING, f"the packet count goes back at record {int(back[0]) + 2} "
                        "(line of the file): two recordings in one file?")
    if invalid or lost:
        parts = []
        if invalid:
            parts.append(f"{invalid} invalid packets in {_plural(len(gaps), 'gap')} of the count")
        if lost:
            parts.append(f"{lost} packets lost on the line")
        summary.problem(GYRO_MISSING, "gyro: " + " and ".join(parts) +
                        f" ({(invalid + lost) / max(span_packets + lost, 1) * 100:.2f} % of the packets)")
    if gyro.time is not None and n > 1:
        span = float(gyro.time[-1] - gyro.time[0])
        rate = (count[-1] - count[0]) / span if span > 0 else float("nan")
        rows.append(("time", f"{gyro.time[0]:.3f} to {gyro.time[-1]:.3f} s ({span:.1f} s), "
                     f"{rate:.1f} packets/s, {(n - 1) / span if span > 0 else float('nan'):.1f} "
                     "records/s"))
        intervals = np.diff(gyro.time)
        usual = float(np.median(intervals))
        pauses = np.flatnonzero(intervals > max(5 * usual, 0.5))
        if len(pauses):
            k = int(pauses[np.argmax(intervals[pauses])])
            summary.problem(GYRO_PAUSE, f"gyro: the records stop {_plural(len(pauses), 'time')}, "
                            f"longest {intervals[k]:.1f} s at {gyro.time[k]:.1f} s")
    else:
        rows.append(("time", "no time column: the records are placed by their packet count"))

    deg = np.degrees
    rows.append(("mean attitude", f"roll {deg(att.mean_roll):+.2f}, pitch {deg(att.mean_pitch):+.2f}, "
                 f"heading {deg(att.mean_heading) % 360:.1f} deg ({att.method})"))
    roll_sd, pitch_sd = float(deg(np.std(att.roll))), float(deg(np.std(att.pitch)))
    heading_sd = float(deg(geometry.circular_spread(att.heading)))
    rows.append(("attitude spread", f"roll {roll_sd:.2f}, pitch {pitch_sd:.2f}, heading "
                 f"{heading_sd:.2f} deg (standard deviation)"))
    rates = np.abs(att.rates).mean(axis=0)
    rows.append(("mean |rate|", f"x {rates[0]:.2f}, y {rates[1]:.2f}, z {rates[2]:.2f} deg/s"))
    rows.append(("temperature (C)", f"{gyro.temperature.min():.2f} to {gyro.temperature.max():.2f}"))
    tilt = max(abs(deg(att.mean_roll)), abs(deg(att.mean_pitch)))
    if tilt > LEVEL_DEG:
        summary.problem(NOT_LEVEL, f"the rig stood {tilt:.1f} deg out of level (roll "
                        f"{deg(att.mean_roll):+.1f}, pitch {deg(att.mean_pitch):+.1f} deg); the "
                        "point cloud is levelled with that")
    if max(roll_sd, pitch_sd) > MOVING_DEG:
        summary.problem(MOVING, f"the rig moved during the gyro recording (roll spread "
                        f"{roll_sd:.1f}, pitch {pitch_sd:.1f} deg): levelling by the mean attitude "
                        "is only as good as that")
    return GyroFigures(step=step, gaps=gaps, invalid=invalid, lost=lost)


# ---------------------------------------------------------------------------------------------


@dataclass
class GpsFigures:
    mean_lat: float
    mean_lon: float
    mean_alt: float
    silences: list               # (start time, seconds)


def altitude(metres: float, form: str) -> str:
    """The mean altitude as form writes it; RMC sentences and some GGA carry none."""
    return form.format(metres) if np.isfinite(metres) else "not reported"


def review_gps(gps, summary: Summary) -> GpsFigures | None:
    if not gps.present:
        summary.note(NO_FIX, "no GPS file" + (f" ({gps.path})" if gps.path else "") +
                     ": the review leaves GPS out")
        return None
    rows = summary.section(3, "GPS file " + gps.path)
    if gps.lines == 0:
        rows.append(("lines", "none"))
        summary.problem(NO_FIX, "the GPS file is empty: nothing came from the receiver")
        return None
    kinds = ", ".join(f"{k} {v}" for k, v in sorted(gps.kinds.items(), key=lambda kv: -kv[1]))
    rows.append(("sentences", f"{gps.sentences} valid ({kinds or 'none'})"))
    invalid = ", ".join(f"{k} {v}" for k, v in sorted(gps.invalid.items()))
    if gps.bad_checksum_in_file:
        invalid += (", " if invalid else "") + f"damaged in the file {gps.bad_checksum_in_file}"
    rows.append(("invalid", f"{gps.invalid_total}" + (f" ({invalid})" if invalid else "") +
                 (f"; {gps.cut_at_ends} cut by the start or the end of the recording"
                  if gps.cut_at_ends else "")))
    rows.append(("not kept", f"{gps.lost} sentences (#lost)"))
    total = gps.sentences + gps.invalid_total
    if gps.invalid_total > gps.cut_at_ends:
        summary.problem(GPS_INVALID, f"GPS: {gps.invalid_total} of {total} sentences invalid "
                        f"({invalid})")
    if gps.lost:
        summary.problem(GPS_INVALID, f"GPS: {gps.lost} sentences could not be kept (#lost)")

    silences = []
    times = gps.line_time
    if len(times) > 1:
        intervals = np.diff(times)
        usual = float(np.median(intervals))
        rows.append(("time", f"{times[0]:.3f} to {times[-1]:.3f} s"))
        for k in np.flatnonzero(intervals > max(2.0, 5 * usual)):
            silences.append((float(times[k]), float(intervals[k])))
        if silences:
            longest = max(silences, key=lambda s: s[1])
            summary.problem(GPS_SILENT, f"the GPS receiver fell silent {_plural(len(silences), 'time')}, "
                            f"longest {longest[1]:.1f} s from {longest[0]:.1f} s")
        rows.append(("silences", f"{len(silences)}" + "".join(
            f"; {s:.0f} s from {t:.1f} s" for t, s in silences[:5])))

    reports = len(gps.time)
    fixed = gps.fixed
    nfix = int(np.count_nonzero(fixed))
    if reports == 0:
        summary.problem(NO_FIX, "GPS: no position report (GGA or RMC) in the file: no fix")
        return None
    qualities = ", ".join(f"{FIX_QUALITY.get(int(q), f'quality {int(q)}')} {int(c)}"
                          for q, c in zip(*np.unique(gps.quality, return_counts=True)))
    rows.append(("fixes", f"{nfix} of {reports} {gps.position_from} reports "
                 f"({nfix / reports * 100:.1f} %): {qualities}"))
    if nfix == 0:
        summary.problem(NO_FIX, f"GPS: no fix in {reports} {gps.position_from} reports: the "
                        "review leaves GPS out")
        return None
    if nfix / reports < FIX_SHARE:
        summary.problem(FEW_FIXES, f"GPS: a fix in only {nfix / reports * 100:.0f} % of the "
                        f"{gps.position_from} reports")
    lat, lon = float(np.mean(gps.lat[fixed])), float(np.mean(gps.lon[fixed]))
    alts = gps.alt[fixed]
    alt = float(np.nanmean(alts)) if np.isfinite(alts).any() else float("nan")
    east, north = geometry.local_metres(gps.lat[fixed], gps.lon[fixed], lat, lon)
    radius = np.hypot(east, north)
    rows.append(("mean position", f"{lat:.7f}, {lon:.7f}, altitude {altitude(alt, '{:.2f} m')}"))
    rows.append(("spread", f"east {np.std(east):.2f} m, north {np.std(north):.2f} m, 95 % within "
                 f"{np.percentile(radius, 95):.2f} m of the mean"))
    hdop = gps.hdop[fixed]
    if np.isfinite(hdop).any():
        mean_hdop = float(np.nanmean(hdop))
        rows.append(("HDOP", f"mean {mean_hdop:.2f}, worst {np.nanmax(hdop):.2f}"))
        sats = gps.satellites[fixed]
        rows.append(("satellites", f"mean {np.nanmean(sats):.1f}, fewest {np.nanmin(sats):.0f}"))
        if mean_hdop > HDOP_POOR:
            summary.problem(GPS_HDOP, f"GPS: poor geometry, mean HDOP {mean_hdop:.1f}")
    return GpsFigures(mean_lat=lat, mean_lon=lon, mean_alt=alt, silences=silences)
