// The charts over time and the GPS fixes, drawn with uPlot: attitude and body rates over the
// recording (drag to zoom, double-click to zoom out; the three zoom together; red lines: gaps
// in the packet count), the fixes in metres around their mean and HDOP with satellites.

import uPlot from "uplot";
import { headingRange } from "../core/pictures";
import type { AttitudeView, GpsView } from "../core/views";

const COLOURS = ["#1f77b4", "#ff7f0e", "#2ca02c", "#d62728"];

/** A plugin that draws a red line at each x of gaps. */
function gapLines(gaps: ArrayLike<number>): uPlot.Plugin {
  return {
    hooks: {
      draw: (u: uPlot) => {
        const g = u.ctx;
        g.save();
        g.strokeStyle = "rgba(220, 0, 0, 0.6)";
        g.lineWidth = 1;
        g.beginPath();
        for (let i = 0; i < gaps.length; i++) {
          const x = Math.round(u.valToPos(gaps[i], "x", true)) + 0.5;
          if (x < u.bbox.left || x > u.bbox.left + u.bbox.width) continue;
          g.moveTo(x, u.bbox.top);
          g.lineTo(x, u.bbox.top + u.bbox.height);
        }
        g.stroke();
        g.restore();
      },
    },
  };
}

function axis(label: string, extra: Partial<uPlot.Axis> = {}): uPlot.Axis {
  return { label, labelSize: 20, size: 56, font: "12px system-ui", labelFont: "13px system-ui", ...extra };
}

export function attitudeCharts(host: HTMLElement, view: AttitudeView, width: number): uPlot[] {
  const charts: uPlot[] = [];
  let syncing = false;
  const zoomTogether: uPlot.Hooks.Defs = {
    setScale: [(u: uPlot, key: string) => {
      if (key !== "x" || syncing) return;
      syncing = true;
      const { min, max } = u.scales.x;
      for (const other of charts) if (other !== u) other.setScale("x", { min: min!, max: max! });
      syncing = false;
    }],
  };
  const gapsNote = view.gaps.length ? ` (red: ${view.gaps.length} gaps in the packet count)` : "";
  const make = (title: string, ylabel: string, names: string[], series: ArrayLike<number>[],
    y?: uPlot.Scale) => {
    const opts: uPlot.Options = {
      title, width, height: 220,
      cursor: { sync: { key: "attitude" } },
      scales: { x: { time: false }, ...(y ? { y } : {}) },
      axes: [axis(view.xlabel), axis(ylabel)],
      series: [{ label: view.xlabel.split(" (")[0] }, ...names.map((label, k) => ({ label, stroke: COLOURS[k], width: 1 }))],
      plugins: [gapLines(view.gaps)],
      hooks: zoomTogether,
    };
    const chart = new uPlot(opts, [view.x as unknown as number[], ...series as unknown as number[][]], host);
    charts.push(chart);
  };
  make(`Roll and pitch${gapsNote}`, "angle (deg)", ["roll (deg)", "pitch (deg)"], [view.roll, view.pitch]);
  make("Heading (magnetic, 0 = north, clockwise)", "heading (deg)", ["heading (deg)"], [view.heading],
    { range: () => headingRange(view.heading) });
  make("Body rates", "rate (deg/s)", ["x (deg/s)", "y (deg/s)", "z (deg/s)"], view.rates);
  return charts;
}

export function gpsCharts(host: HTMLElement, view: GpsView, width: number): uPlot[] {
  const charts: uPlot[] = [];
  // The fixes as points, by east (uPlot wants x in order), one series per fix quality.
  const order = Array.from(view.east.keys()).sort((a, b) => view.east[a] - view.east[b]);
  const qualities = [...new Set(view.quality)].sort((a, b) => a - b);
  const xs = order.map((i) => view.east[i]);
  const ys = qualities.map((q) => order.map((i) => (view.quality[i] === q ? view.north[i] : null)));
  const reach = Math.max(0.5, ...Array.from(view.east, Math.abs), ...Array.from(view.north, Math.abs)) * 1.1;
  const side = Math.min(width, 460);
  const mean: uPlot.Plugin = {
    hooks: {
      draw: (u: uPlot) => {
        const x = u.valToPos(0, "x", true), y = u.valToPos(0, "y", true), s = 9 * devicePixelRatio;
        u.ctx.save();
        u.ctx.strokeStyle = "#d00";
        u.ctx.lineWidth = 2 * devicePixelRatio;
        u.ctx.beginPath();
        u.ctx.moveTo(x - s, y);
        u.ctx.lineTo(x + s, y);
        u.ctx.moveTo(x, y - s);
        u.ctx.lineTo(x, y + s);
        u.ctx.stroke();
        u.ctx.restore();
      },
    },
  };
  charts.push(new uPlot({
    title: "Fixes around their mean (red +)", width: side, height: side,
    scales: { x: { time: false, range: [-reach, reach] }, y: { range: [-reach, reach] } },
    axes: [axis("east of the mean (m)"), axis("north of the mean (m)")],
    series: [{ label: "east (m)" }, ...qualities.map((q, k) => ({
      label: `${view.qualityNames[q] ?? `quality ${q}`} (${view.quality.filter((v) => v === q).length})`,
      stroke: COLOURS[k % COLOURS.length], fill: COLOURS[k % COLOURS.length],
      paths: () => null, points: { show: true, size: 5, fill: COLOURS[k % COLOURS.length] },
    }))],
    plugins: [mean],
  }, [xs, ...ys] as uPlot.AlignedData, host));
  charts.push(new uPlot({
    title: "HDOP and satellites", width: Math.max(width - side - 16, 420), height: side,
    scales: { x: { time: false }, sats: { range: (_u, _lo, hi) => [0, Math.max(hi + 1, 4)] } },
    axes: [axis("program clock (s)"), axis("HDOP", { stroke: COLOURS[0] }),
      axis("satellites", { scale: "sats", side: 1, stroke: COLOURS[2], grid: { show: false } })],
    series: [{ label: "clock (s)" }, { label: "HDOP", stroke: COLOURS[0], width: 1 },
      { label: "satellites", stroke: COLOURS[2], width: 1, scale: "sats" }],
  }, [view.time, view.hdop, view.satellites] as unknown as uPlot.AlignedData, host));
  return charts;
}
