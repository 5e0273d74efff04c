// An image of binned values drawn into a canvas with its axes, titles and colour bar: the
// panorama by beam direction and the plan and section's point densities.

import { colour, robustRange, type Scale } from "../core/colors";

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
  log?: boolean; // colour by log10 of the value, 0 left blank
  equal?: boolean; // one unit as long across as up
  mark?: [number, number]; // a + at this place (the scanner)
}

/** Round steps for an axis from lo to hi with about `count` ticks. */
export function ticks(lo: number, hi: number, count: number): number[] {
  const raw = (hi - lo) / Math.max(count, 1);
  const power = 10 ** Math.floor(Math.log10(raw));
  const step = [1, 2, 5, 10].map((m) => m * power).find((s) => s >= raw) ?? raw;
  const out: number[] = [];
  for (let v = Math.ceil(lo / step) * step; v <= hi + 1e-9 * step; v += step) out.push(Math.abs(v) < 1e-9 * step ? 0 : v);
  return out;
}

const FONT = "13px system-ui, sans-serif";

export function drawImagePlot(canvas: HTMLCanvasElement, plot: ImagePlot, cssWidth: number, cssHeight: number): void {
  const ratio = window.devicePixelRatio || 1;
  canvas.width = Math.round(cssWidth * ratio);
  canvas.height = Math.round(cssHeight * ratio);
  canvas.style.width = `${cssWidth}px`;
  canvas.style.height = `${cssHeight}px`;
  const g = canvas.getContext("2d")!;
  g.scale(ratio, ratio);
  g.fillStyle = "#fff";
  g.fillRect(0, 0, cssWidth, cssHeight);
  const margin = { left: 64, right: 96, top: 30, bottom: 46 };
  let w = cssWidth - margin.left - margin.right, h = cssHeight - margin.top - margin.bottom;
  const spanX = plot.x[1] - plot.x[0], spanY = plot.y[1] - plot.y[0];
  if (plot.equal) {
    const unit = Math.min(w / spanX, h / spanY);
    w = unit * spanX;
    h = unit * spanY;
  }
  const left = margin.left, top = margin.top;

  // The image, one pixel a cell, scaled up without smoothing.
  const values = plot.log ? plot.values.map((v) => (v > 0 ? Math.log10(v) : NaN)) : plot.values;
  const [lo, hi] = plot.log ? [0, Math.max(...robustRange(values).slice(1), 1)] : robustRange(values);
  const image = new ImageData(plot.cols, plot.rows);
  for (let r = 0; r < plot.rows; r++) {
    for (let c = 0; c < plot.cols; c++) {
      const v = values[r * plot.cols + c], at = 4 * ((plot.rows - 1 - r) * plot.cols + c);
      if (Number.isNaN(v)) {
        image.data.set([235, 235, 235, 255], at);
        continue;
      }
      colour(plot.scale, (v - lo) / (hi - lo), image.data, at);
      image.data[at + 3] = 255;
    }
  }
  const cells = document.createElement("canvas");
  cells.width = plot.cols;
  cells.height = plot.rows;
  cells.getContext("2d")!.putImageData(image, 0, 0);
  g.imageSmoothingEnabled = false;
  g.drawImage(cells, left, top, w, h);
  g.strokeStyle = "#444";
  g.strokeRect(left + 0.5, top + 0.5, w, h);

  const px = (x: number) => left + ((x - plot.x[0]) / spanX) * w;
  const py = (y: number) => top + h - ((y - plot.y[0]) / spanY) * h;
  if (plot.mark) {
    const [mx, my] = [px(plot.mark[0]), py(plot.mark[1])];
    g.strokeStyle = "#e00";
    g.lineWidth = 2;
    g.beginPath();
    g.moveTo(mx - 8, my);
    g.lineTo(mx + 8, my);
    g.moveTo(mx, my - 8);
    g.lineTo(mx, my + 8);
    g.stroke();
    g.lineWidth = 1;
  }

  // Axes: ticks, numbers and titles.
  g.fillStyle = "#222";
  g.strokeStyle = "#444";
  g.font = FONT;
  g.textAlign = "center";
  g.textBaseline = "top";
  for (const t of ticks(plot.x[0], plot.x[1], Math.max(Math.floor(w / 70), 2))) {
    g.beginPath();
    g.moveTo(px(t), top + h);
    g.lineTo(px(t), top + h + 5);
    g.stroke();
    g.fillText(String(+t.toPrecision(6)), px(t), top + h + 7);
  }
  g.fillText(plot.xlabel, left + w / 2, top + h + 26);
  g.textAlign = "right";
  g.textBaseline = "middle";
  for (const t of ticks(plot.y[0], plot.y[1], Math.max(Math.floor(h / 45), 2))) {
    g.beginPath();
    g.moveTo(left, py(t));
    g.lineTo(left - 5, py(t));
    g.stroke();
    g.fillText(String(+t.toPrecision(6)), left - 7, py(t));
  }
  g.save();
  g.translate(16, top + h / 2);
  g.rotate(-Math.PI / 2);
  g.textAlign = "center";
  g.fillText(plot.ylabel, 0, 0);
  g.restore();
  g.textAlign = "left";
  g.textBaseline = "bottom";
  g.font = "bold " + FONT;
  g.fillText(plot.title, left, top - 8);

  // The colour bar.
  g.font = FONT;
  const bx = left + w + 14, bw = 14;
  for (let i = 0; i < h; i++) {
    const rgb = [0, 0, 0];
    colour(plot.scale, 1 - i / h, rgb, 0);
    g.fillStyle = `rgb(${rgb.join(",")})`;
    g.fillRect(bx, top + i, bw, 1);
  }
  g.strokeRect(bx + 0.5, top + 0.5, bw, h);
  g.fillStyle = "#222";
  g.textBaseline = "middle";
  for (const t of ticks(lo, hi, 5)) {
    const y = top + h - ((t - lo) / (hi - lo)) * h;
    g.fillText(plot.log ? String(+(10 ** t).toPrecision(3)) : String(+t.toPrecision(6)), bx + bw + 4, y);
  }
  g.save();
  g.translate(bx + bw + 60, top + h / 2);
  g.rotate(Math.PI / 2);
  g.textAlign = "center";
  g.fillText(plot.barLabel, 0, 0);
  g.restore();
}
