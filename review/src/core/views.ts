// What each picture shows: the million samples binned into small images and the series kept as
// columns, so the page (and the command line's pictures) draw them without the inputs.

import { fixed as isFix, FIX_QUALITY, type GpsFile } from "./gps";
import { localMetres, METRES_PER_INCH, type Attitude } from "./geometry";
import type { GyroFile } from "./gyro";
import type { LaserFile } from "./laser";
import { percentiles } from "./stats";
import { fixed } from "./text";
import type { GpsFigures } from "./verdict";

/** scan.png: the mean distance (m) and amplitude of each cell by elevation (rows, -90 at the
 * bottom row 0 to 90) and azimuth (columns from -180 to 180); NaN where no sample fell. */
export interface Panorama {
  rows: number;
  cols: number;
  distance: Float32Array;
  amplitude: Float32Array;
  samples: number;
}

/** One panel of plan.png: points per cell, cell (col, row) covering x0 + col * cell,
 * y0 + row * cell; row 0 at the bottom. */
export interface Density {
  cols: number;
  rows: number;
  counts: Float32Array;
  x0: number;
  y0: number;
  cell: number;
  title: string;
  xlabel: string;
  ylabel: string;
}

export interface Plan {
  top: Density;
  side: Density;
  points: number;
}

/** The cloud as the 3D view draws it: x y z in metres (east north up when levelled). */
export interface CloudView {
  points: Float32Array;
  amplitude: Float32Array; // distance: the length of x y z, the scanner at the origin
  levelled: boolean;
}

export interface AttitudeView {
  x: Float64Array; // seconds or packet counts, one per record
  xlabel: string;
  roll: Float32Array; // degrees
  pitch: Float32Array;
  heading: Float32Array; // 0 to 360
  rates: Float32Array[]; // x, y, z, deg/s
  gaps: Float64Array; // x of each gap in the packet count
  title: string;
}

export interface GpsView {
  east: Float32Array; // metres from the mean fix, fixes only
  north: Float32Array;
  quality: Int32Array; // of each fix
  time: Float64Array; // program clock of every report
  hdop: Float32Array;
  satellites: Float32Array;
  qualityNames: Record<number, string>;
  title: string;
  fixes: number;
  reports: number;
}

export interface Views {
  headline: string;
  problems: string[];
  notes: string[];
  summaryText: string;
  panorama: Panorama | null;
  plan: Plan | null;
  cloud: CloudView | null;
  attitude: AttitudeView | null;
  gps: GpsView | null;
}

function binnedMeans(cells: Int32Array, values: ArrayLike<number>, size: number, scale: number): Float32Array {
  const total = new Float64Array(size), count = new Uint32Array(size);
  for (let i = 0; i < cells.length; i++) {
    total[cells[i]] += values[i];
    count[cells[i]]++;
  }
  const out = new Float32Array(size);
  for (let c = 0; c < size; c++) out[c] = count[c] ? (total[c] / count[c]) * scale : NaN;
  return out;
}

/** Empty cells take a neighbour's value along the row: a pan that steps wider than the image's
 * columns leaves no stripes. */
function fillAlongRows(image: Float32Array, rows: number, cols: number): void {
  const source = image.slice();
  for (let r = 0; r < rows; r++) {
    for (let c = 0; c < cols; c++) {
      const at = r * cols + c;
      if (!Number.isNaN(image[at])) continue;
      const left = source[r * cols + ((c + cols - 1) % cols)], right = source[r * cols + ((c + 1) % cols)];
      image[at] = Number.isNaN(left) ? right : left;
    }
  }
}

/** Each sample at its beam's azimuth and elevation (degrees); step: the pan's step (radians),
 * which sets the columns: one per pan position, 0.5 to 5 degrees wide. */
export function panorama(laser: LaserFile, azimuth: Float32Array, elevation: Float32Array,
  step: number): Panorama {
  const stepDeg = Math.min(Math.max(0.5, (step * 180) / Math.PI), 5);
  const cols = Math.round(360 / stepDeg), rows = 360;
  const cells = new Int32Array(laser.samples);
  for (let i = 0; i < cells.length; i++) {
    const row = Math.min(Math.max(Math.floor(((elevation[i] + 90) / 180) * rows), 0), rows - 1);
    const col = Math.floor(((azimuth[i] + 180) / 360) * cols + 0.5) % cols;
    cells[i] = row * cols + col;
  }
  const distance = binnedMeans(cells, laser.distance, rows * cols, METRES_PER_INCH);
  const amplitude = binnedMeans(cells, laser.amplitude, rows * cols, 1);
  fillAlongRows(distance, rows, cols);
  fillAlongRows(amplitude, rows, cols);
  return { rows, cols, distance, amplitude, samples: laser.samples };
}

/** The low and high corner of what a picture shows of the points along the given axes: all
 * but the farthest 0.1 % each way (stray echoes), 0.3 m more around, from about 20000 points. */
function bounds(points: Float32Array, axes: number[]): { lo: number[]; hi: number[] } {
  const n = points.length / 3;
  const every = Math.max(Math.floor(n / 20000), 1);
  const lo: number[] = [], hi: number[] = [];
  for (const axis of axes) {
    const some: number[] = [];
    for (let i = 0; i < n; i += every) some.push(points[3 * i + axis]);
    const [a, b] = percentiles(some, [0.1, 99.9]);
    lo.push(a - 0.3);
    hi.push(b + 0.3);
  }
  return { lo, hi };
}

const SLICE = 0.5; // metres either side of the scanner that the plan and the section keep

function density(points: Float32Array, ax: number, ay: number, across: number, cell: number,
  title: (which: string) => string, xlabel: string, ylabel: string): Density {
  const n = points.length / 3;
  let near = 0;
  for (let i = 0; i < n; i++) if (Math.abs(points[3 * i + across]) <= SLICE) near++;
  const all = near < 0.01 * n;
  const { lo, hi } = bounds(points, [ax, ay]);
  const cols = Math.max(Math.floor((hi[0] - lo[0]) / cell), 1);
  const rows = Math.max(Math.floor((hi[1] - lo[1]) / cell), 1);
  const counts = new Float32Array(cols * rows);
  for (let i = 0; i < n; i++) {
    if (!all && Math.abs(points[3 * i + across]) > SLICE) continue;
    const c = Math.floor((points[3 * i + ax] - lo[0]) / cell);
    const r = Math.floor((points[3 * i + ay] - lo[1]) / cell);
    if (c >= 0 && c < cols && r >= 0 && r < rows) counts[r * cols + c]++;
  }
  return {
    cols, rows, counts, x0: lo[0], y0: lo[1], cell, xlabel, ylabel,
    title: title(all ? "all points" : `points within ${SLICE} m`),
  };
}

/** The cloud from above and in section from the side, each a slice through the scanner (floor
 * and ceiling left out above, so the walls show), in 2 cm cells (coarser beyond 20 m). */
export function plan(points: Float32Array, levelled: boolean): Plan {
  const { lo, hi } = bounds(points, [0, 1, 2]);
  const span = Math.max(...hi.map((h, k) => h - lo[k]));
  const cell = span < 20 ? 0.02 : span / 1000;
  const names = levelled ? ["east (m)", "north (m)", "up (m)"] : ["x, ahead (m)", "y, left (m)", "z, up (m)"];
  const what = levelled ? "levelled, north up" : "scanner frame, not levelled";
  const top = density(points, 0, 1, 2, cell, (which) => `Plan (${what}): ${which} in height`,
    names[0], names[1]);
  const side = density(points, 0, 2, 1, cell, (which) => `Section from the ${levelled ? "south" : "right"}: ` +
    `${which} ${levelled ? "north or south" : "left or right"}`, names[0], names[2]);
  return { top, side, points: points.length / 3 };
}

/** f of every value, as Float32Array.from(values, f) gives it, in a plain loop: the iterator
 * that from() goes through costs several times as much on series of a recording's length. */
function mapped(values: ArrayLike<number>, f: (v: number) => number): Float32Array {
  const out = new Float32Array(values.length);
  for (let i = 0; i < values.length; i++) out[i] = f(values[i]);
  return out;
}

export function attitudeView(gyro: GyroFile, att: Attitude, gaps: number[]): AttitudeView {
  const deg = 180 / Math.PI;
  const x = gyro.time ?? gyro.count;
  const heading = mapped(att.heading, (h) => (((h * deg) % 360) + 360) % 360);
  const sign = (v: number) => (v >= 0 ? "+" : "") + fixed(v, 2);
  return {
    x: new Float64Array(x),
    xlabel: gyro.time ? "time (s)" : "packet count (the file has no time column)",
    roll: mapped(att.roll, (v) => v * deg),
    pitch: mapped(att.pitch, (v) => v * deg),
    heading,
    rates: att.rates.map((r) => new Float32Array(r)),
    gaps: Float64Array.from(gaps, (i) => x[i]),
    title: `Attitude: ${gyro.records} records, mode ${gyro.mode}; mean roll ${sign(att.meanRoll * deg)}, ` +
      `pitch ${sign(att.meanPitch * deg)}, heading ${fixed((((att.meanHeading * deg) % 360) + 360) % 360, 1)} deg`,
  };
}

export function gpsView(gps: GpsFile, figures: GpsFigures | null): GpsView | null {
  if (!gps.present || figures === null) return null;
  const east: number[] = [], north: number[] = [], quality: number[] = [];
  for (let i = 0; i < gps.time.length; i++) {
    if (!isFix(gps, i)) continue;
    const [e, n] = localMetres(gps.lat[i], gps.lon[i], figures.meanLat, figures.meanLon);
    east.push(e);
    north.push(n);
    quality.push(gps.quality[i]);
  }
  return {
    east: Float32Array.from(east), north: Float32Array.from(north), quality: Int32Array.from(quality),
    time: new Float64Array(gps.time), hdop: new Float32Array(gps.hdop),
    satellites: new Float32Array(gps.satellites), qualityNames: { ...FIX_QUALITY },
    title: `GPS: ${east.length} fixes of ${gps.time.length} reports around ` +
      `${fixed(figures.meanLat, 6)}, ${fixed(figures.meanLon, 6)}`,
    fixes: east.length, reports: gps.time.length,
  };
}
