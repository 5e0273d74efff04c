// The verdict: the figures of each file and what looks wrong, the most important first. A
// finding's rank follows the questions a surveyor asks before packing up: did the scan cover
// the room, is anything missing, was the rig level, is there a fix.

import { circularSpread, localMetres, METRES_PER_INCH, type Attitude } from "./geometry";
import { FIX_QUALITY, fixed as isFix, invalidTotal, type GpsFile } from "./gps";
import type { GyroFile } from "./gyro";
import { SAMPLES_PER_LINE, type LaserFile } from "./laser";
import { finite, max, mean, median, min, percentiles, runs, std, unwrap } from "./stats";
import { fixed, general, plural, signed } from "./text";

// Ranks: lower is more important.
export const COVERAGE = 10, LASER_MISSING = 20, NO_RETURN = 25, SATURATED = 27;
export const GYRO_MISSING = 30, GYRO_PAUSE = 32, NOT_LEVEL = 40, MOVING = 45;
export const NO_FIX = 50, FEW_FIXES = 52, GPS_SILENT = 55, GPS_INVALID = 57, GPS_HDOP = 60;
// A file cut short comes just before what its cut explains.
export const LASER_CUT = 19, GYRO_CUT = 29, GPS_CUT = 56;
export const NOTE_FRAME = 90, NOTE_LAS = 92;

// Thresholds of the findings.
const FULL_COVERAGE = 0.95; // share of the azimuth the beams must cover
const NO_RETURN_SHARE = 0.05; // share of samples without an echo
const SATURATED_SHARE = 0.01;
const STRETCH = 50; // consecutive samples that make an empty or saturated stretch
const LEVEL_DEG = 5.0; // mean roll or pitch beyond this: the rig stood out of level
const MOVING_DEG = 1.0; // roll or pitch spread beyond this: the rig moved
const FIX_SHARE = 0.9;
const HDOP_POOR = 2.0;
const SATURATION = 4095; // the laser's highest amplitude

const DEG = 180 / Math.PI;

export interface Finding {
  rank: number;
  problem: boolean; // false: a note
  text: string;
}

export type Rows = [string, string][];

export class Summary {
  readonly findings: Finding[] = [];
  private readonly sections: { rank: number; title: string; rows: Rows }[] = [];

  /** The rows of a new section, shown in the place of its rank whichever file is read first. */
  section(rank: number, title: string): Rows {
    const rows: Rows = [];
    this.sections.push({ rank, title, rows });
    return rows;
  }

  get orderedSections(): { title: string; rows: Rows }[] {
    return [...this.sections].sort((a, b) => a.rank - b.rank);
  }

  problem(rank: number, text: string): void {
    this.findings.push({ rank, problem: true, text });
  }

  note(rank: number, text: string): void {
    this.findings.push({ rank, problem: false, text });
  }

  get problems(): Finding[] {
    return this.findings.filter((f) => f.problem).sort((a, b) => a.rank - b.rank);
  }

  get notes(): Finding[] {
    return this.findings.filter((f) => !f.problem).sort((a, b) => a.rank - b.rank);
  }

  get headline(): string {
    const problems = this.problems;
    if (!problems.length) return "Nothing looks wrong.";
    const more = problems.length > 1 ? ` (and ${problems.length - 1} more)` : "";
    return `${problems.length} problem${problems.length > 1 ? "s" : ""}: ${problems[0].text}${more}`;
  }

  /** summary.txt. */
  text(): string {
    const out = ["Verdict: " + this.headline, ""];
    if (this.problems.length) {
      out.push("What looks wrong, most important first:", ...this.problems.map((f) => `  - ${f.text}`), "");
    }
    if (this.notes.length) out.push("Notes:", ...this.notes.map((f) => `  - ${f.text}`), "");
    for (const { title, rows } of this.orderedSections) {
      out.push(title);
      const width = Math.max(0, ...rows.map(([label]) => label.length));
      out.push(...rows.map(([label, value]) => `  ${label.padEnd(width)}  ${value}`), "");
    }
    return out.join("\n");
  }
}

/** The range, 1 % to 99 % and median of values times scale. */
function spread(values: ArrayLike<number>, scale = 1): string {
  const p = percentiles(values, [0, 1, 50, 99, 100]).map((v) => v * scale);
  return `${fixed(p[0], 3)} to ${fixed(p[4], 3)} (1 % to 99 %: ${fixed(p[1], 3)} to ` +
    `${fixed(p[3], 3)}, median ${fixed(p[2], 3)})`;
}

function mod(x: number, m: number): number {
  return ((x % m) + m) % m;
}

// ---------------------------------------------------------------------------------------------

export interface LaserFigures {
  lines: number;
  azimuthCoverage: number; // share of 360 degrees the beams cover
  panSweepDeg: number;
  panStep: number; // radians between pan positions (estimated)
  lostGaps: number[]; // sample index where the mirror sweep jumps (samples lost)
  lostSamples: number;
}

/** The pan head's step (radians) from its angles: the usual spacing of its distinct positions,
 * or the file's resolution when the pan turns smoothly. */
export function panStep(pan: ArrayLike<number>): number {
  const positions = [...new Set(Array.from(pan, (v) => Math.round(v * 1e4) / 1e4))].sort((a, b) => a - b);
  if (positions.length < 2) return 2 * Math.PI;
  const steps = positions.slice(1).map((v, i) => v - positions[i]);
  return Math.max(median(steps), 1e-4);
}

/** azimuth, elevation: each sample's beam direction in degrees. */
export function reviewLaser(laser: LaserFile, azimuth: Float32Array, elevation: Float32Array,
  summary: Summary): LaserFigures | null {
  const rows = summary.section(1, "Laser file " + laser.name);
  const n = laser.samples;
  rows.push(["samples", `${n} (${general(n / SAMPLES_PER_LINE)} lines of ${SAMPLES_PER_LINE})`]);
  rows.push(["line ends", laser.crlf ? "CR LF (Windows)" : "LF"]);
  if (laser.cut) {
    rows.push(["cut short", `line ${laser.cut.line}: ${laser.cut.fields} of 8 fields, left out`]);
  }
  if (n === 0) {
    summary.problem(COVERAGE, "the laser file holds no samples: no scan to look at");
    return null;
  }
  if (n % SAMPLES_PER_LINE) {
    summary.problem(LASER_MISSING, `the laser file ends within a line: ${n} samples are not ` +
      `whole lines of ${SAMPLES_PER_LINE} (the last has ${n % SAMPLES_PER_LINE})`);
  }

  // Coverage: the share of the azimuth that the beams (all but the near-vertical) point to.
  // Every 97th sample and the last: a pan that steps once a line is still seen at each of its
  // steps, and at its ends.
  const pan: number[] = [];
  for (let i = 0; i < n; i += 97) pan.push(laser.angle2[i]);
  pan.push(laser.angle2[n - 1]);
  const step = panStep(pan);
  const bins = Math.max(Math.trunc(360 / Math.max(2, 2 * step * DEG)), 1);
  const hit = new Uint8Array(bins);
  for (let i = 0; i < n; i++) {
    if (Math.abs(elevation[i]) < 80) {
      const bin = Math.trunc(((azimuth[i] + 180) / 360) * bins);
      hit[Math.min(Math.max(bin, 0), bins - 1)] = 1;
    }
  }
  const coverage = hit.reduce((a, b) => a + b, 0) / bins;
  const unwrapped = unwrap(pan);
  const sweep = (max(unwrapped) - min(unwrapped)) * DEG;
  rows.push(["pan sweep", `${fixed(sweep, 1)} deg (step ${fixed(step * DEG, 2)} deg)`]);
  rows.push(["azimuth covered", `${fixed(coverage * 100, 1)} % of 360 deg`]);
  if (coverage < FULL_COVERAGE) {
    summary.problem(COVERAGE, `the scan covers ${fixed(coverage * 100, 0)} % of the room's ` +
      `azimuth (the pan swept ${fixed(sweep, 0)} deg; half a turn sees every direction): parts ` +
      "of the room are missing");
  }

  // Lost samples: the mirror turns at a steady rate, so a jump in its angle from one sample to
  // the next means samples never reached the file.
  const advance = new Float64Array(Math.max(n - 1, 0));
  for (let i = 1; i < n; i++) advance[i - 1] = mod(laser.angle1[i] - laser.angle1[i - 1], 2 * Math.PI);
  const every16: number[] = [];
  for (let i = 0; i < advance.length; i += 16) every16.push(advance[i]);
  const usual = advance.length ? median(every16) : 0;
  const gaps: number[] = [];
  let steadySum = 0;
  for (let i = 0; i < advance.length; i++) {
    if (advance[i] > 3 * usual + 0.01) gaps.push(i + 1);
    else steadySum += advance[i];
  }
  const steady = advance.length - gaps.length;
  const mirrorStep = steady ? steadySum / steady : 0;
  let lost = 0;
  if (mirrorStep > 0) for (const g of gaps) lost += Math.round(advance[g - 1] / mirrorStep) - 1;
  let pulses = 0;
  for (let i = 0; i < n; i++) pulses += laser.index1[i];
  rows.push(["mirror", `${fixed(mirrorStep * DEG, 3)} deg a sample, ${plural(pulses, "index pulse")}`]);
  if (usual <= 0) summary.problem(LASER_MISSING, "the mirror angle does not change: the mirror did not turn");
  if (gaps.length) {
    const lines = [...new Set(gaps.map((g) => Math.floor(g / SAMPLES_PER_LINE)))];
    const listed = lines.slice(0, 8).join(", ") + (lines.length > 8 ? " ..." : "");
    summary.problem(LASER_MISSING, `samples lost in ${plural(lines.length, "line")} (${listed}, ` +
      `counted from 0): the mirror angle jumps ${plural(gaps.length, "time")}, about ${lost} ` +
      "samples missing");
  }
  rows.push(["lost samples", `${lost} in ${plural(gaps.length, "jump")} of the mirror angle`]);

  rows.push(["distance (m)", spread(laser.distance, METRES_PER_INCH)]);
  rows.push(["amplitude", spread(laser.amplitude)]);
  rows.push(["temperature (F)", `${fixed(min(laser.temperature), 1)} to ${fixed(max(laser.temperature), 1)}`]);
  const checks: [string, (a: number) => boolean, number, number][] = [
    ["no echo (amplitude 0)", (a) => a <= 0, NO_RETURN, NO_RETURN_SHARE],
    ["saturated (amplitude 4095)", (a) => a >= SATURATION, SATURATED, SATURATED_SHARE],
  ];
  for (const [name, test, rank, limit] of checks) {
    // Plain loops: a typed array's map and reduce call back once a sample, several times as
    // slow over a million of them.
    const mask = new Uint8Array(n);
    let count = 0;
    for (let i = 0; i < n; i++) {
      if (test(laser.amplitude[i])) {
        mask[i] = 1;
        count++;
      }
    }
    const { starts, lengths } = runs(mask);
    const long = lengths.filter((l) => l >= STRETCH).length;
    let text = `${count} samples (${fixed((count / n) * 100, 2)} %), ${plural(long, "stretch")} ` +
      `of ${STRETCH} or more`;
    if (long) {
      let k = 0;
      lengths.forEach((l, i) => { if (l > lengths[k]) k = i; });
      text += `; longest ${lengths[k]} samples in line ${Math.floor(starts[k] / SAMPLES_PER_LINE)} ` +
        `at pan ${fixed(laser.angle2[starts[k]] * DEG, 1)} deg`;
    }
    rows.push([name, text]);
    if (count / n > limit || long) summary.problem(rank, `${name.split(" (")[0]}: ${text}`);
  }
  return {
    lines: n / SAMPLES_PER_LINE, azimuthCoverage: coverage, panSweepDeg: sweep, panStep: step,
    lostGaps: gaps, lostSamples: lost,
  };
}

// ---------------------------------------------------------------------------------------------

export interface GyroFigures {
  step: number; // packets per record (the decimation)
  gaps: number[]; // record index after which records are missing
  invalid: number; // packets read but not recorded
  lost: number; // packets the unit sent that were not read as packets
}

export function reviewGyro(gyro: GyroFile, att: Attitude, summary: Summary): GyroFigures {
  const rows = summary.section(2, "Gyro file " + gyro.name);
  const n = gyro.records;
  const how = gyro.modeFrom === "given" ? "given" : "told from the records";
  rows.push(["records", `${n}, mode ${gyro.mode} (${how}), ` +
    (gyro.time ? "a time column" : "counts only (no time column)")]);
  if (gyro.cut) rows.push(["cut short", `line ${gyro.cut.line} has no line end, left out`]);
  const count = gyro.count;
  const diffs = Array.from({ length: Math.max(n - 1, 0) }, (_, i) => count[i + 1] - count[i]);
  const step = Math.max(diffs.length ? Math.trunc(median(diffs)) : 1, 1);
  const gaps: number[] = [];
  let invalid = 0;
  let lost = 0;
  let back = -1;
  diffs.forEach((d, i) => {
    if (d > step) {
      gaps.push(i);
      invalid += d - step;
    }
    if (d <= 0 && back < 0) back = i;
    const tail = mod(gyro.tail[i + 1] - gyro.tail[i], 65536);
    lost += Math.max(tail - d, 0);
  });
  const spanPackets = n ? count[n - 1] - count[0] + step : 0;
  rows.push(["packets", `counts ${count[0]} to ${count[n - 1]}, one record per ${plural(step, "packet")}`]);
  rows.push(["gaps in the count", `${plural(gaps.length, "gap")}, ${invalid} packets read but ` +
    "not recorded (invalid)"]);
  rows.push(["lost on the line", `${lost} packets (the unit's TAIL_WORD ran further than the count)`]);
  if (back >= 0) {
    summary.problem(GYRO_MISSING, `the packet count goes back at record ${back + 2} (line of the ` +
      "file): two recordings in one file?");
  }
  if (invalid || lost) {
    const parts: string[] = [];
    if (invalid) parts.push(`${invalid} invalid packets in ${plural(gaps.length, "gap")} of the count`);
    if (lost) parts.push(`${lost} packets lost on the line`);
    summary.problem(GYRO_MISSING, "gyro: " + parts.join(" and ") +
      ` (${fixed(((invalid + lost) / Math.max(spanPackets + lost, 1)) * 100, 2)} % of the packets)`);
  }
  if (gyro.time && n > 1) {
    const t = gyro.time;
    const span = t[n - 1] - t[0];
    const rate = span > 0 ? (count[n - 1] - count[0]) / span : NaN;
    rows.push(["time", `${fixed(t[0], 3)} to ${fixed(t[n - 1], 3)} s (${fixed(span, 1)} s), ` +
      `${fixed(rate, 1)} packets/s, ${fixed(span > 0 ? (n - 1) / span : NaN, 1)} records/s`]);
    const intervals = Array.from({ length: n - 1 }, (_, i) => t[i + 1] - t[i]);
    const usual = median(intervals);
    const pauses = intervals.map((v, i) => [v, i]).filter(([v]) => v > Math.max(5 * usual, 0.5));
    if (pauses.length) {
      let [longest, k] = pauses[0];
      for (const [v, i] of pauses) if (v > longest) [longest, k] = [v, i];
      summary.problem(GYRO_PAUSE, `gyro: the records stop ${plural(pauses.length, "time")}, ` +
        `longest ${fixed(longest, 1)} s at ${fixed(t[k], 1)} s`);
    }
  } else {
    rows.push(["time", "no time column: the records are placed by their packet count"]);
  }

  rows.push(["mean attitude", `roll ${signed(att.meanRoll * DEG, 2)}, pitch ` +
    `${signed(att.meanPitch * DEG, 2)}, heading ${fixed(mod(att.meanHeading * DEG, 360), 1)} deg ` +
    `(${att.method})`]);
  const rollSd = std(att.roll) * DEG, pitchSd = std(att.pitch) * DEG;
  const headingSd = circularSpread(att.heading) * DEG;
  rows.push(["attitude spread", `roll ${fixed(rollSd, 2)}, pitch ${fixed(pitchSd, 2)}, heading ` +
    `${fixed(headingSd, 2)} deg (standard deviation)`]);
  const rates = att.rates.map((r) => mean(r.map(Math.abs)));
  rows.push(["mean |rate|", `x ${fixed(rates[0], 2)}, y ${fixed(rates[1], 2)}, z ${fixed(rates[2], 2)} deg/s`]);
  rows.push(["temperature (C)", `${fixed(min(gyro.temperature), 2)} to ${fixed(max(gyro.temperature), 2)}`]);
  const tiltDeg = Math.max(Math.abs(att.meanRoll * DEG), Math.abs(att.meanPitch * DEG));
  if (tiltDeg > LEVEL_DEG) {
    summary.problem(NOT_LEVEL, `the rig stood ${fixed(tiltDeg, 1)} deg out of level (roll ` +
      `${signed(att.meanRoll * DEG, 1)}, pitch ${signed(att.meanPitch * DEG, 1)} deg); the point ` +
      "cloud is levelled with that");
  }
  if (Math.max(rollSd, pitchSd) > MOVING_DEG) {
    summary.problem(MOVING, `the rig moved during the gyro recording (roll spread ` +
      `${fixed(rollSd, 1)}, pitch ${fixed(pitchSd, 1)} deg): levelling by the mean attitude is ` +
      "only as good as that");
  }
  return { step, gaps, invalid, lost };
}

// ---------------------------------------------------------------------------------------------

export interface GpsFigures {
  meanLat: number;
  meanLon: number;
  meanAlt: number; // metres above mean sea level, NaN: not reported
  silences: [number, number][]; // (start time, seconds)
}

/** The mean altitude as form writes it; RMC sentences and some GGA carry none. */
export function altitude(metres: number, decimals: number): string {
  return Number.isFinite(metres) ? `${fixed(metres, decimals)} m` : "not reported";
}

export function reviewGps(gps: GpsFile, summary: Summary): GpsFigures | null {
  if (!gps.present) {
    summary.note(NO_FIX, "no GPS file" + (gps.name ? ` (${gps.name})` : "") + ": the review leaves GPS out");
    return null;
  }
  const rows = summary.section(3, "GPS file " + gps.name);
  if (gps.cut) rows.push(["cut short", `line ${gps.cut.line} has no line end, left out`]);
  if (gps.lines === 0) {
    rows.push(["lines", "none"]);
    summary.problem(NO_FIX, gps.cut ? "the GPS file holds no whole line: nothing to review"
      : "the GPS file is empty: nothing came from the receiver");
    return null;
  }
  const kinds = [...gps.kinds].sort((a, b) => b[1] - a[1]).map(([k, v]) => `${k} ${v}`).join(", ");
  rows.push(["sentences", `${gps.sentences} valid (${kinds || "none"})`]);
  let invalid = [...gps.invalid].sort((a, b) => (a[0] < b[0] ? -1 : 1)).map(([k, v]) => `${k} ${v}`).join(", ");
  if (gps.badChecksumInFile) invalid += (invalid ? ", " : "") + `damaged in the file ${gps.badChecksumInFile}`;
  const total = invalidTotal(gps);
  rows.push(["invalid", `${total}` + (invalid ? ` (${invalid})` : "") +
    (gps.cutAtEnds ? `; ${gps.cutAtEnds} cut by the start or the end of the recording` : "")]);
  rows.push(["not kept", `${gps.lost} sentences (#lost)`]);
  if (total > gps.cutAtEnds) {
    summary.problem(GPS_INVALID, `GPS: ${total} of ${gps.sentences + total} sentences invalid (${invalid})`);
  }
  if (gps.lost) summary.problem(GPS_INVALID, `GPS: ${gps.lost} sentences could not be kept (#lost)`);

  const silences: [number, number][] = [];
  const times = gps.lineTime;
  if (times.length > 1) {
    const intervals = Array.from({ length: times.length - 1 }, (_, i) => times[i + 1] - times[i]);
    const usual = median(intervals);
    rows.push(["time", `${fixed(times[0], 3)} to ${fixed(times[times.length - 1], 3)} s`]);
    intervals.forEach((v, k) => {
      if (v > Math.max(2, 5 * usual)) silences.push([times[k], v]);
    });
    if (silences.length) {
      const longest = silences.reduce((a, b) => (b[1] > a[1] ? b : a));
      summary.problem(GPS_SILENT, `the GPS receiver fell silent ${plural(silences.length, "time")}, ` +
        `longest ${fixed(longest[1], 1)} s from ${fixed(longest[0], 1)} s`);
    }
    rows.push(["silences", `${silences.length}` +
      silences.slice(0, 5).map(([t, s]) => `; ${fixed(s, 0)} s from ${fixed(t, 1)} s`).join("")]);
  }

  const reports = gps.time.length;
  if (reports === 0) {
    summary.problem(NO_FIX, "GPS: no position report (GGA or RMC) in the file: no fix");
    return null;
  }
  const fixes: number[] = [];
  for (let i = 0; i < reports; i++) if (isFix(gps, i)) fixes.push(i);
  const nfix = fixes.length;
  const counts = new Map<number, number>();
  for (const q of [...gps.quality].sort((a, b) => a - b)) counts.set(q, (counts.get(q) ?? 0) + 1);
  const qualities = [...counts].map(([q, c]) => `${FIX_QUALITY[q] ?? `quality ${q}`} ${c}`).join(", ");
  rows.push(["fixes", `${nfix} of ${reports} ${gps.positionFrom} reports ` +
    `(${fixed((nfix / reports) * 100, 1)} %): ${qualities}`]);
  if (nfix === 0) {
    summary.problem(NO_FIX, `GPS: no fix in ${reports} ${gps.positionFrom} reports: the review leaves GPS out`);
    return null;
  }
  if (nfix / reports < FIX_SHARE) {
    summary.problem(FEW_FIXES, `GPS: a fix in only ${fixed((nfix / reports) * 100, 0)} % of the ` +
      `${gps.positionFrom} reports`);
  }
  const lat = mean(fixes.map((i) => gps.lat[i])), lon = mean(fixes.map((i) => gps.lon[i]));
  const alts = finite(fixes.map((i) => gps.alt[i]));
  const alt = alts.length ? mean(alts) : NaN;
  const east: number[] = [], north: number[] = [], radius: number[] = [];
  for (const i of fixes) {
    const [e, nn] = localMetres(gps.lat[i], gps.lon[i], lat, lon);
    east.push(e);
    north.push(nn);
    radius.push(Math.hypot(e, nn));
  }
  rows.push(["mean position", `${fixed(lat, 7)}, ${fixed(lon, 7)}, altitude ${altitude(alt, 2)}`]);
  rows.push(["spread", `east ${fixed(std(east), 2)} m, north ${fixed(std(north), 2)} m, 95 % within ` +
    `${fixed(percentiles(radius, [95])[0], 2)} m of the mean`]);
  const hdop = finite(fixes.map((i) => gps.hdop[i]));
  if (hdop.length) {
    const meanHdop = mean(hdop);
    rows.push(["HDOP", `mean ${fixed(meanHdop, 2)}, worst ${fixed(max(hdop), 2)}`]);
    const sats = finite(fixes.map((i) => gps.satellites[i]));
    rows.push(["satellites", `mean ${fixed(mean(sats), 1)}, fewest ${fixed(min(sats), 0)}`]);
    if (meanHdop > HDOP_POOR) summary.problem(GPS_HDOP, `GPS: poor geometry, mean HDOP ${fixed(meanHdop, 1)}`);
  }
  return { meanLat: lat, meanLon: lon, meanAlt: alt, silences };
}

