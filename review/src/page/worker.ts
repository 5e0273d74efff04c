// The page's worker: reads the dropped files with progress, tells them apart by their content,
// runs the review's core on them and answers for the downloads, so the page stays responsive.

import { InputError } from "../core/errors";
import { identify, type Kind } from "../core/identify";
import { LaserReader } from "../core/laser";
import { review, type ReadLaser, type ReviewResult } from "../core/review";
import type { FromWorker, ToWorker } from "./messages";

declare const self: {
  onmessage: ((event: { data: ToWorker }) => void) | null;
  postMessage(message: FromWorker, transfer?: Transferable[]): void;
};

let result: ReviewResult | null = null;

function post(message: FromWorker, transfer: Transferable[] = []): void {
  self.postMessage(message, transfer);
}

/** A file's bytes, read in chunks so that the progress bar moves. */
async function readAll(file: File, done: number, total: number): Promise<Uint8Array> {
  const out = new Uint8Array(file.size);
  const reader = file.stream().getReader();
  let at = 0, shown = 0;
  for (;;) {
    const { done: end, value } = await reader.read();
    if (end) break;
    out.set(value, at);
    at += value.length;
    if (at - shown > 4 << 20) {
      shown = at;
      post({ type: "progress", share: (0.6 * (done + at)) / total, what: `reading ${file.name}` });
    }
  }
  return out.subarray(0, at);
}

/** The laser file parsed as its chunks arrive (LaserReader), so its text is never held whole
 * and the parsing goes on while the browser reads; what is wrong in it is kept for the review
 * to throw in its turn. */
async function readLaserFile(file: File, done: number, total: number): Promise<ReadLaser> {
  // Rows of the logger's files are about 44 bytes; the columns grow if there are more.
  const reader = new LaserReader(file.name, Math.ceil(file.size / 40));
  const stream = file.stream().getReader();
  let at = 0, shown = 0;
  try {
    for (;;) {
      const { done: end, value } = await stream.read();
      if (end) break;
      reader.push(value);
      at += value.length;
      if (at - shown > 4 << 20) {
        shown = at;
        post({ type: "progress", share: (0.6 * (done + at)) / total, what: `reading ${file.name}` });
      }
    }
    return { name: file.name, read: reader.finish() };
  } catch (error) {
    if (!(error instanceof InputError)) throw error;
    await stream.cancel();
    return { name: file.name, read: error };
  }
}

async function run(files: File[]): Promise<void> {
  const kinds = new Map<Kind, File>();
  for (const file of files) {
    const kind = identify(new Uint8Array(await file.slice(0, 512).arrayBuffer()));
    if (kind === null) {
      throw new InputError(file.name, null, "is none of a run's files: expected the laser file " +
        "(its header row), the gyro file (rows of numbers) or the GPS file (NMEA sentences)");
    }
    if (kinds.has(kind)) {
      throw new InputError(file.name, null, `is a second ${kind} file (the first: ${kinds.get(kind)!.name}): ` +
        "drop one run's files");
    }
    kinds.set(kind, file);
  }
  const missing = (["laser", "gyro"] as Kind[]).filter((k) => !kinds.has(k));
  if (missing.length) {
    post({ type: "waiting", missing, have: [...kinds.values()].map((f) => f.name) });
    return;
  }
  const total = [...kinds.values()].reduce((s, f) => s + f.size, 0) || 1;
  let done = 0;
  const bytes = new Map<Kind, Uint8Array>();
  let laser: ReadLaser | null = null;
  for (const [kind, file] of kinds) {
    if (kind === "laser") laser = await readLaserFile(file, done, total);
    else bytes.set(kind, await readAll(file, done, total));
    done += file.size;
  }
  post({ type: "progress", share: 0.65, what: "reviewing the run" });
  const gps = kinds.get("gps");
  result = review(laser!,
    { name: kinds.get("gyro")!.name, bytes: bytes.get("gyro")! },
    gps ? { name: gps.name, bytes: bytes.get("gps")! } : null,
    { mode: null, noLevel: false, declination: 0, skip: new Set(), created: new Date(), views: true });
  post({ type: "done", views: result.views!, files: result.files.map((f) => f.name) });
}

self.onmessage = (event) => {
  const message = event.data;
  if (message.type === "files") {
    result = null;
    run(message.files).catch((error) => {
      post({ type: "error", text: error instanceof InputError ? error.message : String(error?.stack ?? error) });
    });
  } else if (message.type === "make") {
    const file = result?.files.find((f) => f.name === message.name);
    if (!file) return;
    const bytes = file.make();
    post({ type: "file", name: file.name, bytes }, [bytes.buffer]);
  }
};
