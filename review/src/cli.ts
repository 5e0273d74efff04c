// morvane-review LASER GYRO [GPS] -o DIR: the command line of the review. Reads the files, runs
// the core, and puts the outputs in place: written into a hidden folder beside their place and
// renamed into it only when all are complete, so an error or Ctrl+C leaves none half written.

import {
  closeSync, fstat, mkdirSync, mkdtempSync, open, openSync, readFile, readSync, renameSync, rmSync,
  statSync, unlinkSync, writeSync,
} from "node:fs";
import { Socket } from "node:net";
import { join } from "node:path";
import { promisify } from "node:util";
import { deflateSync } from "node:zlib";
import { InputError } from "./core/errors";
import type { Mode } from "./core/gyro";
import type { Views } from "./core/views";
import { packPieces } from "./core/pack";
import { pictures } from "./core/pictures";
import { countRows, LaserReader } from "./core/laser";
import { review, type OutputFile, type ReadLaser } from "./core/review";

// The page, built beside this command line: report.html is it with the run's views inside.
declare const PAGE_HTML: string;
const DATA_SLOT = '<script id="run-data" type="application/json"></script>';
const DATA_OPEN = DATA_SLOT.slice(0, DATA_SLOT.indexOf("</script>"));

const PROG = "morvane-review";
// Outputs this command line and the ones before it may leave in the folder, in the order they
// are put in place. One not written by this review is removed: it would not belong to it.
const OUTPUTS = ["summary.txt", "scan.png", "plan.png", "attitude.png", "gps.png", "scan.ply",
  "scan.las", "report.html"];
const SKIPPABLE = ["scan", "plan", "attitude", "gps", "ply", "las"];

const USAGE = `usage: ${PROG} [-h] [-o DIR] [-M {a,c,r}] [--no-level]
                      [--declination DEG] [--skip LIST]
                      laser gyro [gps]
`;

const HELP = `${USAGE}
Turns a run's laser, gyro and GPS files into a verdict, pictures and a point cloud:
summary.txt, scan.png, plan.png, attitude.png, gps.png, scan.ply, scan.las and
report.html (the review page with this run in it) in the output folder.

positional arguments:
  laser                 the laser file (tab-separated samples)
  gyro                  the gyro file (one AHRS record per line)
  gps                   the GPS file (one NMEA sentence per line); optional

options:
  -h, --help            show this help message and exit
  -o DIR, --output DIR  folder for the outputs, made when missing (default:
                        review)
  -M {a,c,r}, --mode {a,c,r}
                        the gyro file's mode, as given to morvane -M (default:
                        told from the records); a file of another mode is
                        refused
  --no-level            leave the point cloud in the scanner frame (x ahead, y
                        left, z up) instead of levelling it and turning it to
                        north
  --declination DEG     magnetic declination added to the heading, degrees
                        east (default 0)
  --skip LIST           comma-separated outputs to leave out: ${SKIPPABLE.join(", ")}

Exit code 0: reviewed (the verdict may still name problems); 1: a file is not
what the review expects, or the output cannot be written; 130: interrupted
(Ctrl+C). A missing GPS file is no error: the review leaves GPS out. A file
cut short at its end (a power loss) is reviewed to its last whole row. Frames
and formulas: docs/geometry.md.
`;

interface Args {
  laser: string;
  gyro: string;
  gps: string | null;
  output: string;
  mode: Mode | null;
  noLevel: boolean;
  declination: number;
  skip: Set<string>;
}

class UsageError extends Error {}

/** The command line: options before, between or after the file names, "--opt=value" and "-oDIR"
 * forms, "--" ending the options. */
export function parse(argv: string[]): Args | "help" {
  const positional: string[] = [];
  const args: Args = {
    laser: "", gyro: "", gps: null, output: "review", mode: null, noLevel: false,
    declination: 0, skip: new Set(),
  };
  const takes = new Map([["-o", "output"], ["--output", "output"], ["-M", "mode"],
    ["--mode", "mode"], ["--declination", "declination"], ["--skip", "skip"]]);
  for (let i = 0; i < argv.length; i++) {
    const word = argv[i];
    if (word === "--") {
      positional.push(...argv.slice(i + 1));
      break;
    }
    if (word === "-h" || word === "--help") return "help";
    if (word === "--no-level") {
      args.noLevel = true;
      continue;
    }
    if (!word.startsWith("-") || word === "-" || /^-\d|^-\.\d/.test(word)) {
      positional.push(word);
      continue;
    }
    let name = word, value: string | undefined;
    if (word.startsWith("--") && word.includes("=")) {
      name = word.slice(0, word.indexOf("="));
      value = word.slice(word.indexOf("=") + 1);
    } else if (!word.startsWith("--") && word.length > 2) {
      name = word.slice(0, 2);
      value = word.slice(2);
    }
    if (name.startsWith("--")) name = longOption(name, word);
    if (name === "--help") return "help";
    if (name === "--no-level" && value === undefined) {
      args.noLevel = true;
      continue;
    }
    const key = takes.get(name);
    if (!key) throw new UsageError(`unrecognized arguments: ${word}`);
    const shown = name.startsWith("--") ? name : `${name}/${name === "-o" ? "--output" : "--mode"}`;
    if (value === undefined) {
      if (i + 1 >= argv.length || (argv[i + 1].startsWith("-") && !/^-\d|^-\.\d/.test(argv[i + 1]))) {
        throw new UsageError(`argument ${shown}: expected one argument`);
      }
      value = argv[++i];
    }
    if (key === "output") args.output = value;
    else if (key === "mode") {
      if (!["a", "c", "r"].includes(value)) {
        throw new UsageError(`argument ${shown}: invalid choice: '${value}' (choose from 'a', 'c', 'r')`);
      }
      args.mode = value as Mode;
    } else if (key === "declination") {
      const degrees = /^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*$/.test(value) ? Number(value) : NaN;
      if (!Number.isFinite(degrees)) {
        throw new UsageError(`argument --declination: expected a number of degrees, found '${value}'`);
      }
      args.declination = degrees;
    } else {
      args.skip = new Set(value.split(",").filter(Boolean));
    }
  }
  if (positional.length < 2) {
    const missing = ["laser", "gyro"].slice(positional.length);
    throw new UsageError(`the following arguments are required: ${missing.join(", ")}`);
  }
  if (positional.length > 3) throw new UsageError(`unrecognized arguments: ${positional.slice(3).join(" ")}`);
  [args.laser, args.gyro] = positional;
  args.gps = positional[2] ?? null;
  const unknown = [...args.skip].filter((s) => !SKIPPABLE.includes(s)).sort();
  if (unknown.length) {
    throw new UsageError(`--skip: unknown ${unknown.join(", ")} (choose from ${SKIPPABLE.join(", ")})`);
  }
  return args;
}

const LONG_OPTIONS = ["--help", "--output", "--mode", "--no-level", "--declination", "--skip"];

/** A long option as written or by a prefix that names one option alone ("--decl"). */
function longOption(name: string, word: string): string {
  if (LONG_OPTIONS.includes(name)) return name;
  // No two of them share a prefix after the dashes.
  const match = LONG_OPTIONS.find((o) => name.length > 2 && o.startsWith(name));
  if (match === undefined) throw new UsageError(`unrecognized arguments: ${word}`);
  return match;
}

// Texts of the system's error numbers, as the C library words them (the messages name them so).
const REASONS: Record<string, string> = {
  ENOENT: "No such file or directory", EACCES: "Permission denied", EISDIR: "Is a directory",
  ENOTDIR: "Not a directory", ENOSPC: "No space left on device", EROFS: "Read-only file system",
  EEXIST: "File exists", EIO: "Input/output error", EPERM: "Operation not permitted",
  EDQUOT: "Disk quota exceeded", ENAMETOOLONG: "File name too long",
};

function reason(error: unknown): string {
  const code = (error as NodeJS.ErrnoException).code ?? "";
  return REASONS[code] ?? (code || String(error));
}

/** A file's bytes. A pipe (a FIFO, process substitution) is read through the event loop rather
 * than a worker thread, so a signal that comes while it waits for data ends the review at once:
 * a worker blocked in a read would hold the process's exit. */
async function readInput(name: string): Promise<Uint8Array> {
  let fd: number | null = null;
  try {
    fd = await promisify(open)(name, "r");
    const info = await promisify(fstat)(fd);
    if (info.isFIFO() || info.isSocket()) {
      const socket = new Socket({ fd, readable: true, writable: false });
      fd = null; // the socket closes it
      const chunks: Buffer[] = [];
      socket.on("data", (chunk: Buffer) => chunks.push(chunk));
      await new Promise((resolve, reject) => {
        socket.on("end", resolve);
        socket.on("error", reject);
      });
      socket.destroy();
      return Buffer.concat(chunks);
    }
    return await promisify(readFile)(fd);
  } catch (error) {
    throw new InputError(name, null, `cannot be read: ${reason(error)}`);
  } finally {
    if (fd !== null) closeSync(fd);
  }
}

// A laser file is read this much at a time: the columns are parsed from each piece as it comes.
const LASER_CHUNK = 4 << 20;

/** The laser file parsed as it is read, a chunk at a time, so that its text (44 MB on a full
 * run) is never held whole. A file that cannot be read throws here, as readInput does; what is
 * wrong in its content is kept for the review to throw in its turn. A regular file is read
 * twice, first to count its rows (the columns are then made to size), which costs less than
 * the file's bytes held beside its columns; a pipe is read once, the columns growing. */
async function readLaserInput(name: string): Promise<ReadLaser> {
  let fd: number | null = null;
  let parsed: LaserReader | null = null, wrong: InputError | null = null;
  const take = (chunk: Uint8Array) => {
    if (wrong !== null) return;
    try {
      parsed!.push(chunk);
    } catch (error) {
      if (!(error instanceof InputError)) throw error;
      wrong = error;
    }
  };
  try {
    fd = await promisify(open)(name, "r");
    const info = await promisify(fstat)(fd);
    if (info.isFIFO() || info.isSocket()) {
      parsed = new LaserReader(name);
      const socket = new Socket({ fd, readable: true, writable: false });
      fd = null; // the socket closes it
      socket.on("data", (chunk: Buffer) => take(chunk));
      await new Promise((resolve, reject) => {
        socket.on("end", resolve);
        socket.on("error", reject);
      });
      socket.destroy();
    } else {
      const chunk = new Uint8Array(LASER_CHUNK);
      let rows = 0;
      for (let at = 0, got; (got = readSync(fd, chunk, 0, chunk.length, at)) > 0; at += got) {
        rows += countRows(chunk.subarray(0, got));
      }
      parsed = new LaserReader(name, rows);
      for (let at = 0, got; (got = readSync(fd, chunk, 0, chunk.length, at)) > 0; at += got) {
        take(chunk.subarray(0, got));
      }
    }
  } catch (error) {
    throw new InputError(name, null, `cannot be read: ${reason(error)}`);
  } finally {
    if (fd !== null) closeSync(fd);
  }
  if (wrong === null) {
    try {
      return { name, read: parsed.finish() };
    } catch (error) {
      if (!(error instanceof InputError)) throw error;
      wrong = error;
    }
  }
  return { name, read: wrong };
}

/** A GPS file that is not there is no error: null. */
async function readOptional(name: string): Promise<Uint8Array | null> {
  try {
    statSync(name);
  } catch (error) {
    if ((error as NodeJS.ErrnoException).code === "ENOENT") return null;
  }
  return readInput(name);
}

class WriteError extends Error {
  constructor(readonly path: string, readonly why: string) {
    super(`cannot write the outputs ${path}: ${why}`);
  }
}

/** The hidden folder the outputs are written into; null until made. */
let staging: string | null = null;

function dropStaging(): void {
  if (staging !== null) rmSync(staging, { recursive: true, force: true });
  staging = null;
}

/** An output of the command line: its name and its bytes in pieces, made as they are written, so
 * a file of tens of megabytes is never held whole. */
interface Output {
  name: string;
  pieces: () => Iterable<Uint8Array>;
}

function writeOutputs(folder: string, files: Output[]): string[] {
  let at = folder;
  try {
    let isFile = false;
    try {
      isFile = !statSync(folder).isDirectory();
    } catch {
      // not there yet: made below
    }
    if (isFile) throw new WriteError(folder, "a file, not a folder");
    mkdirSync(folder, { recursive: true });
    staging = mkdtempSync(join(folder, `.${PROG}-`));
    for (const file of files) {
      at = join(staging, file.name);
      const fd = openSync(at, "w");
      try {
        for (const piece of file.pieces()) {
          for (let done = 0; done < piece.length;) done += writeSync(fd, piece, done);
        }
      } finally {
        closeSync(fd);
      }
    }
    const made: string[] = [];
    const written = new Set(files.map((f) => f.name));
    for (const name of OUTPUTS) {
      at = join(folder, name);
      if (written.has(name)) {
        renameSync(join(staging, name), at);
        made.push(at);
      } else {
        try {
          unlinkSync(at);
        } catch (error) {
          if ((error as NodeJS.ErrnoException).code !== "ENOENT") throw error;
        }
      }
    }
    rmSync(staging, { recursive: true, force: true });
    staging = null;
    return made;
  } catch (error) {
    dropStaging();
    if (error instanceof WriteError) throw error;
    throw new WriteError(at, reason(error));
  }
}

// zlib's level 3 deflates the pictures (flat areas, lines, text) four times as fast as its
// default and leaves them about 40 % larger: 0.1 s less on a full run for 0.2 MB more.
const PNG_ZLIB = { level: 3 };

/** The review's files with the pictures not skipped and report.html, in the order of OUTPUTS. */
function withPictures(files: OutputFile[], views: Views, skip: Set<string>): Output[] {
  const all: Output[] = files.map((f) => ({ name: f.name, pieces: f.pieces }));
  for (const picture of pictures(views)) {
    if (skip.has(picture.name.replace(/\.png$/, ""))) continue;
    all.push({ name: picture.name, pieces: () => [picture.draw().png((bytes) => deflateSync(bytes, PNG_ZLIB))] });
  }
  all.sort((a, b) => OUTPUTS.indexOf(a.name) - OUTPUTS.indexOf(b.name));
  const names = all.map((f) => f.name);
  all.push({ name: "report.html", pieces: () => report(views, names) });
  return all;
}

/** report.html: the page with the run's views in its data slot, written a piece at a time. */
function* report(views: Views, files: string[]): Iterable<Uint8Array> {
  const encoder = new TextEncoder();
  const page = PAGE_HTML; // the build writes the page's text where the name stands: once
  const slot = page.indexOf(DATA_SLOT);
  yield encoder.encode(page.slice(0, slot) + DATA_OPEN);
  for (const piece of packPieces({ views, files })) {
    yield typeof piece === "string" ? encoder.encode(piece) : piece;
  }
  yield encoder.encode(page.slice(slot + DATA_OPEN.length));
}

function interrupted(code: number): never {
  dropStaging();
  process.stderr.write(`${PROG}: interrupted; no outputs written\n`);
  process.exit(code);
}

export async function main(argv: string[]): Promise<number> {
  let args: Args | "help";
  try {
    args = parse(argv);
  } catch (error) {
    if (!(error instanceof UsageError)) throw error;
    process.stderr.write(`${USAGE}${PROG}: ${error.message}\n`);
    return 1;
  }
  if (args === "help") {
    process.stdout.write(HELP);
    return 0;
  }
  process.on("SIGINT", () => interrupted(130));
  process.on("SIGTERM", () => interrupted(143));
  process.on("SIGHUP", () => interrupted(129));
  try {
    const gyro = { name: args.gyro, bytes: await readInput(args.gyro) };
    const gps = args.gps === null ? null : { name: args.gps, bytes: await readOptional(args.gps) };
    const laser = await readLaserInput(args.laser);
    // Signals that came during the reads are handled before the long computation starts.
    await new Promise((resolve) => setImmediate(resolve));
    const result = review(laser, gyro, gps, {
      mode: args.mode, noLevel: args.noLevel, declination: args.declination, skip: args.skip,
      created: new Date(), views: true,
    });
    await new Promise((resolve) => setImmediate(resolve));
    const made = writeOutputs(args.output, withPictures(result.files, result.views!, args.skip));
    process.stdout.write(`${PROG}: ${result.headline}\n` + made.map((p) => `${PROG}: wrote ${p}\n`).join(""));
    return 0;
  } catch (error) {
    if (error instanceof InputError || error instanceof WriteError) {
      process.stderr.write(`${PROG}: ${error.message}\n`);
      return 1;
    }
    throw error;
  }
}

main(process.argv.slice(2)).then((code) => {
  process.exitCode = code;
});
