// The pictures of a review drawn from its views: scan.png (the panorama), plan.png (plan and
// section), attitude.png and gps.png. The command line writes them as PNG files; the page
// draws the panorama, plan and section with the same code into its canvases.

import { colour, robustRange, type Scale } from "./colors";
import { Raster, TEXT_HEIGHT, type RGB } from "./raster";
import type { AttitudeView, Density, GpsView, Panorama, Views } from "./views";

const INK: RGB = [34, 34, 34], GRID: RGB = [226, 228, 232], EMPTY: RGB = [235, 235, 235], MARK: RGB = [220, 0, 0];
export const SERIES: RGB[] = [[31, 119, 180], [255, 127, 14], [44, 160, 44], [214, 39, 40]];

interface Box {
  x: number;
  y: number;
  w: number;
  h: number;
}

/** Round values for an axis from lo to hi, about count of them. */
export function ticks(lo: number, hi: number, count: number): number[] {
  if (!(hi > lo)) return [lo];
  const raw = (hi - lo) / Math.max(count, 1);
  const power = 10 ** Math.floor(Math.log10(raw));
  const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= raw) ?? raw;
  const out: number[] = [];
  for (let v = Math.ceil(lo / step) * step; v <= hi + 1e-9 * step; v += step) out.push(Math.abs(v) < 1e-9 * step ? 0 : v);
  return out;
}

const label = (v: number) => String(+v.toPrecision(6));

/** Axes around a plot box: ticks with their numbers, the titles of both axes and the box's. */
function axes(r: Raster, box: Box, x: [number, number], y: [number, number], xlabel: string, ylabel: string,
  title: string, grid = false): void {
  const px = (v: number) => box.x + ((v - x[0]) / (x[1] - x[0])) * box.w;
  const py = (v: number) => box.y + box.h - ((v - y[0]) / (y[1] - y[0])) * box.h;
  for (const t of ticks(x[0], x[1], Math.max(Math.floor(box.w / 80), 4))) {
    if (grid) r.rect(px(t), box.y, 1, box.h, GRID);
    r.rect(px(t), box.y + box.h, 1, 5, INK);
    r.text(label(t), px(t), box.y + box.h + 6, INK, { align: "center" });
  }
  r.text(xlabel, box.x + box.w / 2, box.y + box.h + 24, INK, { align: "center" });
  for (const t of ticks(y[0], y[1], Math.max(Math.floor(box.h / 45), 4))) {
    if (grid) r.rect(box.x, py(t), box.w, 1, GRID);
    r.rect(box.x - 5, py(t), 5, 1, INK);
    r.text(label(t), box.x - 8, py(t) - TEXT_HEIGHT / 2 - 1, INK, { align: "right" });
  }
  r.text(ylabel, box.x - 62, box.y + box.h / 2, INK, { align: "center", up: true });
  r.text(title, box.x, box.y - TEXT_HEIGHT - 6, INK, { bold: true });
}

export interface ImagePlot {
  cols: number;
  rows: number; // row 0 at the bottom
  values: Float32Array;
  x: [number, number]; // the axis values at the image's left and right edge
  y: [number, number]; // at its bottom and top edge
  title: string;
  xlabel: string;
  ylabel: string;
  barLabel: string;
  scale: Scale;
  log?: boolean; // coloured by log10 of the value, 0 left blank
  equal?: boolean; // one unit as long across as up
  mark?: [number, number]; // a + at this place (the scanner)
}

/** An image of binned values in the area, with its axes and colour bar. */
export function imagePlot(r: Raster, area: Box, plot: ImagePlot): void {
  const margin = { left: 80, right: 110, top: 30, bottom: 46 };
  let w = area.w - margin.left - margin.right, h = area.h - margin.top - margin.bottom;
  const spanX = plot.x[1] - plot.x[0], spanY = plot.y[1] - plot.y[0];
  if (plot.equal) {
    const unit = Math.min(w / spanX, h / spanY);
    w = Math.round(unit * spanX);
    h = Math.round(unit * spanY);
  }
  const box = { x: area.x + margin.left, y: area.y + margin.top, w, h };
  let values = plot.values;
  if (plot.log) {
    // A plain loop: a typed array's map calls back once a cell, several times as slow.
    values = new Float32Array(plot.values.length);
    for (let i = 0; i < values.length; i++) values[i] = plot.values[i] > 0 ? Math.log10(plot.values[i]) : NaN;
  }
  const [lo, hi] = plot.log ? [0, Math.max(robustRange(values)[1], 1)] : robustRange(values);
  const cells = new Uint8Array(3 * plot.cols * plot.rows);
  for (let row = 0; row < plot.rows; row++) {
    for (let c = 0; c < plot.cols; c++) {
      const v = values[row * plot.cols + c], at = 3 * ((plot.rows - 1 - row) * plot.cols + c);
      if (Number.isNaN(v)) {
        cells[at] = EMPTY[0];
        cells[at + 1] = EMPTY[1];
        cells[at + 2] = EMPTY[2];
      } else colour(plot.scale, (v - lo) / (hi - lo), cells, at);
    }
  }
  r.image(cells, plot.cols, plot.rows, box.x, box.y, box.w, box.h);
  r.frame(box.x - 1, box.y - 1, box.w + 2, box.h + 2, INK);
  if (plot.mark) {
    const mx = Math.round(box.x + ((plot.mark[0] - plot.x[0]) / spanX) * w);
    const my = Math.round(box.y + h - ((plot.mark[1] - plot.y[0]) / spanY) * h);
    r.rect(mx - 8, my - 1, 17, 3, MARK);
    r.rect(mx - 1, my - 8, 3, 17, MARK);
  }
  axes(r, box, plot.x, plot.y, plot.xlabel, plot.ylabel, plot.title);
  // The colour bar.
  const bx = box.x + w + 16;
  for (let j = 0; j < h; j++) {
    const rgb = [0, 0, 0];
    colour(plot.scale, 1 - j / h, rgb, 0);
    r.rect(bx, box.y + j, 14, 1, rgb as unknown as RGB);
  }
  r.frame(bx - 1, box.y - 1, 16, h + 2, INK);
  for (const t of ticks(lo, hi, 5)) {
    const y = box.y + h - ((t - lo) / (hi - lo)) * h;
    r.rect(bx + 14, y, 4, 1, INK);
    r.text(plot.log ? label(+(10 ** t).toPrecision(2)) : label(t), bx + 20, y - TEXT_HEIGHT / 2 - 1, INK);
  }
  r.text(plot.barLabel, bx + 66, box.y + h / 2, INK, { align: "center", up: true });
}

export interface Line {
  name: string;
  x: ArrayLike<number>;
  y: ArrayLike<number | null>;
  rgb: RGB;
  dots?: boolean; // points, not a line
}

/** Series over a shared x in the area: lines (or dots), a legend in the title row, red lines at
 * the gaps. */
export function linePlot(r: Raster, area: Box, lines: Line[], xlabel: string, ylabel: string, title: string,
  options: { gaps?: ArrayLike<number>; y?: [number, number]; x?: [number, number]; mark?: boolean } = {}): void {
  const box = { x: area.x + 80, y: area.y + 30, w: area.w - 100, h: area.h - 76 };
  const all = (pick: (l: Line) => ArrayLike<number | null>) => {
    let lo = Infinity, hi = -Infinity;
    for (const l of lines) {
      const values = pick(l);
      for (let i = 0; i < values.length; i++) {
        const v = values[i];
        if (v !== null && Number.isFinite(v)) {
          lo = Math.min(lo, v);
          hi = Math.max(hi, v);
        }
      }
    }
    if (!Number.isFinite(lo)) return [0, 1] as [number, number];
    const pad = hi > lo ? 0.04 * (hi - lo) : 0.5;
    return [lo - pad, hi + pad] as [number, number];
  };
  const x = options.x ?? all((l) => l.x);
  const y = options.y ?? all((l) => l.y);
  const px = (v: number) => box.x + ((v - x[0]) / (x[1] - x[0])) * box.w;
  const py = (v: number) => box.y + box.h - ((v - y[0]) / (y[1] - y[0])) * box.h;
  axes(r, box, x, y, xlabel, ylabel, title, true);
  for (const g of Array.from(options.gaps ?? [])) r.rect(px(g), box.y, 1, box.h, [230, 120, 120]);
  for (const l of lines) {
    // The pen's last pixel, NaN when the line is broken (a gap in the values or off the box).
    // A segment from a pixel to itself is not drawn again: a long series puts many points on
    // each column of the picture.
    let lastX = NaN, lastY = NaN;
    for (let i = 0; i < l.x.length; i++) {
      const v = l.y[i];
      if (v === null || !Number.isFinite(v)) {
        lastX = NaN;
        continue;
      }
      const qx = Math.round(px(l.x[i])), qy = Math.round(py(v));
      if (qx < box.x || qx > box.x + box.w || qy < box.y || qy > box.y + box.h) {
        lastX = NaN;
        continue;
      }
      if (l.dots) r.rect(qx - 2, qy - 2, 5, 5, l.rgb);
      else if (!Number.isNaN(lastX) && (qx !== lastX || qy !== lastY)) r.line(lastX, lastY, qx, qy, l.rgb);
      lastX = qx;
      lastY = qy;
    }
  }
  if (options.mark) {
    r.rect(px(0) - 9, py(0) - 1, 19, 3, MARK);
    r.rect(px(0) - 1, py(0) - 9, 3, 19, MARK);
  }
  r.frame(box.x - 1, box.y - 1, box.w + 2, box.h + 2, INK);
  let at = box.x + box.w;
  for (const l of [...lines].reverse()) {
    at -= r.textWidth(l.name) + 26;
    r.rect(at, box.y - TEXT_HEIGHT - 2, 12, 10, l.rgb);
    r.text(l.name, at + 16, box.y - TEXT_HEIGHT - 6, INK);
  }
}

function titled(width: number, height: number, title: string): Raster {
  const r = new Raster(width, height);
  r.text(title, width / 2, 8, INK, { align: "center", bold: true });
  return r;
}

const PANORAMA_AXES = {
  x: [-180, 180] as [number, number], y: [-90, 90] as [number, number],
  xlabel: "azimuth (deg, counter-clockwise from the scanner's pan 0; left is left)", ylabel: "elevation (deg)",
};

export function panoramaPlots(p: Panorama): ImagePlot[] {
  return [
    { ...PANORAMA_AXES, cols: p.cols, rows: p.rows, values: p.distance, scale: "viridis", barLabel: "distance (m)",
      title: "Distance by beam direction, as seen from the scanner" },
    { ...PANORAMA_AXES, cols: p.cols, rows: p.rows, values: p.amplitude, scale: "magma",
      barLabel: "amplitude (0 to 4095)", title: "Amplitude by beam direction, as seen from the scanner" },
  ];
}

export function densityPlot(d: Density): ImagePlot {
  return {
    cols: d.cols, rows: d.rows, values: d.counts, x: [d.x0, d.x0 + d.cols * d.cell], y: [d.y0, d.y0 + d.rows * d.cell],
    title: d.title, xlabel: d.xlabel, ylabel: d.ylabel, barLabel: `points per ${Math.round(d.cell * 100)} cm cell`,
    scale: "magma", log: true, equal: true, mark: [0, 0],
  };
}

export function panoramaPicture(p: Panorama): Raster {
  const r = titled(1400, 980, `Scan panorama: ${p.samples} samples, ${+(p.samples / 5000).toFixed(1)} lines`);
  panoramaPlots(p).forEach((plot, k) => imagePlot(r, { x: 0, y: 36 + k * 472, w: 1400, h: 472 }, plot));
  return r;
}

export function planPicture(views: Views): Raster {
  const plan = views.plan!;
  const r = titled(1400, 720, `Point cloud: ${plan.points} points, scanner at +`);
  imagePlot(r, { x: 0, y: 36, w: 700, h: 680 }, densityPlot(plan.top));
  imagePlot(r, { x: 700, y: 36, w: 700, h: 680 }, densityPlot(plan.side));
  return r;
}

/** The heading's axis: its own scale when it stays away from north, at least 20 deg tall. */
export function headingRange(heading: ArrayLike<number>): [number, number] {
  let lo = Infinity, hi = -Infinity;
  for (let i = 0; i < heading.length; i++) {
    lo = Math.min(lo, heading[i]);
    hi = Math.max(hi, heading[i]);
  }
  if (!(hi - lo < 300)) return [0, 360];
  const middle = (lo + hi) / 2, half = Math.max((hi - lo) / 2 + 2, 10);
  return [Math.max(middle - half, 0), Math.min(middle + half, 360)];
}

export function attitudePicture(a: AttitudeView): Raster {
  const r = titled(1400, 980, a.title);
  const gaps = a.gaps.length ? ` (red: ${a.gaps.length} gaps in the packet count)` : "";
  linePlot(r, { x: 0, y: 36, w: 1400, h: 314 }, [
    { name: "roll", x: a.x, y: a.roll, rgb: SERIES[0] }, { name: "pitch", x: a.x, y: a.pitch, rgb: SERIES[1] },
  ], a.xlabel, "angle (deg)", `Roll and pitch${gaps}`, { gaps: a.gaps });
  // The heading broken where it wraps through north.
  const heading = Array.from(a.heading, (h, i) => (i && Math.abs(h - a.heading[i - 1]) > 180 ? null : h));
  linePlot(r, { x: 0, y: 350, w: 1400, h: 314 }, [{ name: "heading", x: a.x, y: heading, rgb: SERIES[2] }],
    a.xlabel, "heading (deg)", "Heading (magnetic, clockwise from north)", { gaps: a.gaps, y: headingRange(a.heading) });
  linePlot(r, { x: 0, y: 664, w: 1400, h: 314 }, ["x", "y", "z"].map((name, k) => (
    { name, x: a.x, y: a.rates[k], rgb: SERIES[k] })), a.xlabel, "rate (deg/s)", "Body rates", { gaps: a.gaps });
  return r;
}

export function gpsPicture(g: GpsView): Raster {
  const r = titled(1400, 640, `${g.title}`);
  const qualities = [...new Set(g.quality)].sort((a, b) => a - b);
  let reach = 0.5;
  for (let i = 0; i < g.east.length; i++) reach = Math.max(reach, Math.abs(g.east[i]) * 1.1, Math.abs(g.north[i]) * 1.1);
  linePlot(r, { x: 0, y: 36, w: 620, h: 600 }, qualities.map((q, k) => ({
    name: `${g.qualityNames[q] ?? `quality ${q}`} (${g.quality.filter((v) => v === q).length})`,
    x: Array.from(g.east).filter((_, i) => g.quality[i] === q), y: Array.from(g.north).filter((_, i) => g.quality[i] === q),
    rgb: SERIES[k % SERIES.length], dots: true,
  })), "east of the mean (m)", "north of the mean (m)", "Fixes around their mean (red +)",
  { x: [-reach, reach], y: [-reach, reach], mark: true });
  linePlot(r, { x: 640, y: 36, w: 760, h: 290 }, [{ name: "HDOP", x: g.time, y: g.hdop, rgb: SERIES[0] }],
    "program clock (s)", "HDOP", "HDOP of each report");
  linePlot(r, { x: 640, y: 340, w: 760, h: 290 }, [{ name: "satellites", x: g.time, y: g.satellites, rgb: SERIES[2] }],
    "program clock (s)", "satellites", "Satellites in use");
  return r;
}

/** The pictures a review's views give, by file name; those without data are left out. */
export function pictures(views: Views): { name: string; draw: () => Raster }[] {
  const out: { name: string; draw: () => Raster }[] = [];
  if (views.panorama) out.push({ name: "scan.png", draw: () => panoramaPicture(views.panorama!) });
  if (views.plan) out.push({ name: "plan.png", draw: () => planPicture(views) });
  if (views.attitude) out.push({ name: "attitude.png", draw: () => attitudePicture(views.attitude!) });
  if (views.gps) out.push({ name: "gps.png", draw: () => gpsPicture(views.gps!) });
  return out;
}
