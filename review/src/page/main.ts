// The review page: the run's files dropped or picked in any order, read by the worker, then
// the verdict, the panorama, the cloud in 3D, plan and section, attitude, GPS and the
// downloads. A report written by the command line carries the run's views in the page itself.

import { unpack } from "../core/pack";
import type { Views } from "../core/views";
import { attitudeCharts, gpsCharts } from "./charts";
import { canDrawCloud, prepareCloud, showCloud, type ColourBy } from "./cloud3d";
import { densityPlot, imagePlot, panoramaPlots, type ImagePlot } from "../core/pictures";
import { Raster } from "../core/raster";
import type { FromWorker, ToWorker } from "./messages";

declare const WORKER_SOURCE: string;

const $ = <T extends HTMLElement>(id: string) => document.getElementById(id) as T;
const body = document.body;

/** Where the downloads come from: the worker that reviewed the dropped files, or the files the
 * command line wrote beside the report. */
type Source = { worker: Worker } | { beside: true };

function status(text: string, share: number | null, error = false): void {
  $("status").textContent = text;
  $("status").classList.toggle("error", error);
  const bar = $<HTMLProgressElement>("progress");
  bar.hidden = share === null;
  if (share !== null) bar.value = share;
}

/** The width a picture has: a section's, inside its padding. */
function width(): number {
  return Math.min($("verdict").clientWidth - 30, 1360);
}

/** An image plot drawn by the core's raster into a canvas, pixel for pixel. */
function drawImagePlot(canvas: HTMLCanvasElement, plot: ImagePlot, w: number, h: number): void {
  const raster = new Raster(Math.round(w), Math.round(h));
  imagePlot(raster, { x: 0, y: 0, w: raster.width, h: raster.height }, plot);
  canvas.width = raster.width;
  canvas.height = raster.height;
  canvas.getContext("2d")!.putImageData(new ImageData(raster.rgba(), raster.width, raster.height), 0, 0);
}

function show(views: Views, files: string[], source: Source): void {
  $("results").hidden = false;
  // The verdict first.
  $("headline").textContent = views.headline;
  $("verdict").classList.toggle("ok", views.problems.length === 0);
  const list = (id: string, items: string[]) => {
    $(id).replaceChildren(...items.map((t) => Object.assign(document.createElement("li"), { textContent: t })));
    $(id).parentElement!.hidden = items.length === 0;
  };
  list("problems", views.problems);
  list("notes", views.notes);
  $("summary").textContent = views.summaryText;

  const w = width();
  for (const id of ["panorama", "cloud-section", "plan", "attitude", "gps"]) $(id).hidden = false;
  if (views.panorama) {
    const p = views.panorama;
    const [distance, amplitude] = panoramaPlots(p);
    drawImagePlot($("scan-distance"), distance, w, 440);
    drawImagePlot($("scan-amplitude"), amplitude, w, 440);
    $("panorama-title").textContent = `Scan panorama: ${p.samples} samples, ${p.samples / 5000} lines`;
  } else $("panorama").hidden = true;

  if (views.cloud && canDrawCloud()) {
    const scene = showCloud($("cloud"), views.cloud);
    const pick = $<HTMLSelectElement>("colour-by");
    const recolour = () => {
      const [lo, hi] = scene.recolour(pick.value as ColourBy);
      const unit = pick.value === "amplitude" ? "" : " m";
      $("cloud-legend").textContent = `${pick.value}: ${lo.toFixed(2)}${unit} (dark blue) to ${hi.toFixed(2)}${unit} (yellow)`;
    };
    pick.onchange = recolour;
    recolour();
    $("cloud-title").textContent = `Point cloud: ${scene.count} points, ` +
      (views.cloud.levelled ? "levelled, north up (green arrow: north)" : "scanner frame, not levelled") +
      "; the scanner: red cross";
  } else if (views.cloud) {
    // Without WebGL the rest of the review is shown all the same.
    $("cloud-title").textContent = "Point cloud: not drawn here, this browser offers no WebGL 2 " +
      "(switched off, or no driver for it); scan.ply and scan.las hold it";
    for (const part of $("cloud-section").querySelectorAll<HTMLElement>("p, canvas")) part.style.display = "none";
  } else $("cloud-section").hidden = true;

  if (views.plan) {
    // One above the other, the full width, each as tall as its extent needs (at most 600 px).
    for (const [id, d] of [["plan-top", views.plan.top], ["plan-side", views.plan.side]] as const) {
      const tall = Math.min(Math.max(((w - 190) * d.rows) / d.cols + 76, 220), 600);
      drawImagePlot($(id), densityPlot(d), w, Math.round(tall));
    }
  } else $("plan").hidden = true;

  $("attitude-charts").replaceChildren();
  if (views.attitude) {
    $("attitude-title").textContent = views.attitude.title;
    attitudeCharts($("attitude-charts"), views.attitude, w);
  } else $("attitude").hidden = true;

  $("gps-charts").replaceChildren();
  if (views.gps) {
    $("gps-title").textContent = views.gps.title;
    gpsCharts($("gps-charts"), views.gps, w);
  } else {
    $("gps-title").textContent = "GPS: no fix to show";
  }

  // The downloads.
  $("downloads").replaceChildren(...files.map((name) => {
    const link = document.createElement("a");
    link.textContent = name;
    link.className = "download";
    if ("beside" in source) {
      link.href = name;
      link.download = name;
      return link;
    }
    link.href = "#";
    link.onclick = (event) => {
      event.preventDefault();
      source.worker.postMessage({ type: "make", name } satisfies ToWorker);
    };
    return link;
  }));
  body.dataset.state = "done";
}

let worker: Worker | null = null;
let pending: File[] = [];

function take(files: File[]): void {
  if (!files.length) return;
  // Files join those dropped before (a file of the same name replaces its namesake); after a
  // review or an error, a drop starts over.
  if (body.dataset.state === "done" || body.dataset.state === "error") pending = [];
  pending = [...pending.filter((f) => !files.some((g) => g.name === f.name)), ...files];
  worker?.terminate();
  const url = URL.createObjectURL(new Blob([WORKER_SOURCE], { type: "text/javascript" }));
  const own = new Worker(url);
  URL.revokeObjectURL(url);
  worker = own;
  body.dataset.state = "reading";
  status("Reading the files…", 0);
  own.onmessage = (event: MessageEvent<FromWorker>) => {
    const m = event.data;
    if (m.type === "progress") status(m.what[0].toUpperCase() + m.what.slice(1) + "…", m.share);
    else if (m.type === "waiting") {
      status(`Have ${m.have.join(", ")}; drop the ${m.missing.join(" and ")} file too.`, null);
      body.dataset.state = "waiting";
    } else if (m.type === "error") {
      status(m.text, null, true);
      body.dataset.state = "error";
    } else if (m.type === "done") {
      status(`Reviewed ${pending.map((f) => f.name).join(", ")}.`, null);
      show(m.views, m.files, { worker: own });
    } else if (m.type === "file") {
      const link = document.createElement("a");
      link.href = URL.createObjectURL(new Blob([m.bytes as BlobPart]));
      link.download = m.name;
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 60_000);
    }
  };
  own.onerror = (event) => {
    status(`The review stopped: ${event.message}`, null, true);
    body.dataset.state = "error";
  };
  own.postMessage({ type: "files", files: pending } satisfies ToWorker);
  // While the worker reads and reviews.
  if (canDrawCloud()) prepareCloud($("cloud"));
}

function start(): void {
  const embedded = document.getElementById("run-data");
  if (embedded && embedded.textContent!.trim()) {
    const run = unpack<{ views: Views; files: string[] }>(embedded.textContent!);
    $("drop").hidden = true;
    status("", null);
    show(run.views, run.files, { beside: true });
    return;
  }
  const input = $<HTMLInputElement>("pick");
  input.onchange = () => take([...input.files!]);
  const zone = $("drop");
  for (const name of ["dragenter", "dragover"]) {
    window.addEventListener(name, (event) => {
      event.preventDefault();
      zone.classList.add("over");
    });
  }
  window.addEventListener("dragleave", () => zone.classList.remove("over"));
  window.addEventListener("drop", (event) => {
    event.preventDefault();
    zone.classList.remove("over");
    take([...(event.dataTransfer?.files ?? [])]);
  });
  body.dataset.state = "ready";
}

start();
