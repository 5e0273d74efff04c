// Shared pieces of the review's tests: the files of a run written the way the logger writes
// them, the command line run as the program it is, and a real run of the logger against the
// simulators.

import { spawn, spawnSync, type ChildProcess, type SpawnSyncReturns } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { setTimeout as sleep } from "node:timers/promises";
import { fileURLToPath } from "node:url";

export const REVIEW = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
export const ROOT = resolve(REVIEW, "..");
export const CLI = join(REVIEW, "dist", "morvane-review.js");
export const INCH = 0.0254;

const folders: string[] = [];
// Each test file runs in a process of its own: its folders go when it ends, passed or not.
process.on("exit", () => folders.forEach((folder) => rmSync(folder, { recursive: true, force: true })));

/** A new folder of the system's temporary folder for a test, removed when the test file ends. */
export function tempFolder(kind: string): string {
  const folder = mkdtempSync(join(tmpdir(), `review-${kind}-`));
  folders.push(folder);
  return folder;
}

export const LASER_HEADER = "Distance(inches)\tRaw Range(bits)\tAmplitude\tTemp(F)\tAngle1(radins)\t" +
  "Angle2(radins\tIndex1\tIndex2\t";

/** A laser file of [distance inches, amplitude, angle1, angle2] rows: each row introduced by the
 * line end, every row ending in a tab. */
export function laserText(rows: number[][], crlf = false): string {
  const end = crlf ? "\r\n" : "\n";
  return LASER_HEADER + rows.map(([d, amplitude, a1, a2]) =>
    `${end}${d.toFixed(2)}\t${(d * 1000).toFixed(0)}\t${amplitude.toFixed(1)}\t70.1\t` +
    `${a1.toFixed(4)}\t${a2.toFixed(4)}\t0\t0\t`).join("");
}

/** A gyro file of records (mode a: roll pitch yaw and the nine channels; c and r: the nine
 * channels), counts from 1, TAIL_WORD from 0, with a time column when times are given. */
export function gyroText(records: number[][], times?: number[]): string {
  return records.map((values, k) => `${k + 1}${times ? " " + times[k].toFixed(6) : ""} ` +
    values.map((v) => v.toFixed(6)).join(" ") + ` 25.000000 ${k}\n`).join("");
}

export function nmea(body: string): string {
  let sum = 0;
  for (const ch of body) sum ^= ch.charCodeAt(0);
  return `$${body}*${sum.toString(16).toUpperCase().padStart(2, "0")}`;
}

export function gga(lat: number, lon: number, { quality = 1, hdop = 0.9, alt = 545.4 } = {}): string {
  const dm = (value: number, width: number) => {
    const v = Math.abs(value);
    return String(Math.trunc(v)).padStart(width, "0") + ((v - Math.trunc(v)) * 60).toFixed(4).padStart(7, "0");
  };
  return nmea(`GPGGA,123519.00,${dm(lat, 2)},${lat >= 0 ? "N" : "S"},${dm(lon, 3)},` +
    `${lon >= 0 ? "E" : "W"},${quality},08,${hdop},${alt},M,46.9,M,,`);
}

/** A GPS file of one fix a second at a position. */
export function gpsText(lat: number, lon: number, seconds = 5): string {
  return Array.from({ length: seconds }, (_, t) => `${(t + 0.25).toFixed(6)} ${gga(lat, lon)}\n`).join("");
}

export const bytes = (text: string) => Buffer.from(text, "latin1");

/** Body (X ahead, Y right, Z down) to north-east-down, angles in degrees, by rows. */
export function rotation(roll: number, pitch: number, heading: number): number[][] {
  const [r, p, h] = [roll, pitch, heading].map((v) => (v * Math.PI) / 180);
  const rx = [[1, 0, 0], [0, Math.cos(r), -Math.sin(r)], [0, Math.sin(r), Math.cos(r)]];
  const ry = [[Math.cos(p), 0, Math.sin(p)], [0, 1, 0], [-Math.sin(p), 0, Math.cos(p)]];
  const rz = [[Math.cos(h), -Math.sin(h), 0], [Math.sin(h), Math.cos(h), 0], [0, 0, 1]];
  return matmul(rz, matmul(ry, rx));
}

export function matmul(a: number[][], b: number[][]): number[][] {
  return a.map((row) => b[0].map((_, c) => row.reduce((s, v, k) => s + v * b[k][c], 0)));
}

export function transpose(a: number[][]): number[][] {
  return a[0].map((_, c) => a.map((row) => row[c]));
}

/** The nine channels of a unit at rest at this attitude (rates 0) in a field of 0.20 gauss north
 * and 0.45 down; mode r as the converter's voltages. */
export function sensors(mode: "c" | "r", roll: number, pitch: number, heading: number): number[] {
  const [r, p] = [roll, pitch].map((v) => (v * Math.PI) / 180);
  const accel = [Math.sin(p), -Math.sin(r) * Math.cos(p), -Math.cos(r) * Math.cos(p)];
  const mag = transpose(rotation(roll, pitch, heading)).map((row) => row[0] * 0.2 + row[2] * 0.45);
  const channels = [0, 0, 0, ...accel, ...mag];
  const scale = [150, 150, 150, 6, 6, 6, 1.5, 1.5, 1.5];
  return mode === "r" ? channels.map((v, k) => 2.5 + (v / scale[k]) * 2) : channels;
}

/** The command line run as a process in cwd. */
export function runCli(args: string[], cwd: string): SpawnSyncReturns<string> {
  return spawnSync(process.execPath, [CLI, ...args], { cwd, encoding: "utf8", timeout: 120_000 });
}

/** A run in a room of 8 by 5 by 3 m, the scanner 1.2 m above the floor, 3 m from the west and
 * 2 m from the south wall, level and facing north: lines of 5000 samples, the mirror turning 5
 * times a line, the pan head stepping a full turn over the lines; a second of gyro records at
 * 100 Hz and ten GPS fixes around 48.1 N 11.5 E. */
export function roomRun(lines: number): { laser: string; gyro: string; gps: string } {
  const rows: number[][] = [];
  const walls = [[5, -3], [3, -2], [1.8, -1.2]]; // metres from the scanner along +/- x, y, z
  for (let line = 0; line < lines; line++) {
    const a2 = -Math.PI + (2 * Math.PI * line) / lines;
    for (let k = 0; k < 5000; k++) {
      const a1 = ((2 * Math.PI * k) / 1000) % (2 * Math.PI) - Math.PI;
      const dir = [Math.cos(a1) * Math.cos(a2), Math.cos(a1) * Math.sin(a2), Math.sin(a1)];
      let reach = Infinity;
      dir.forEach((d, axis) => {
        if (Math.abs(d) > 1e-9) reach = Math.min(reach, (d > 0 ? walls[axis][0] : -walls[axis][1]) / Math.abs(d));
      });
      rows.push([reach / INCH, 800 + 2000 * Math.abs(dir[2]), a1, a2]);
    }
  }
  // Facing north: the body's x ahead to the north, level (mode a: roll pitch yaw in degrees).
  const records = Array.from({ length: 100 }, (_, i) =>
    [0.1 * Math.sin(i / 10), -0.2, 0.5, 0, 0, 0, 0, 0, -1, 0.2, 0, 0.45]);
  const times = records.map((_, i) => i / 100);
  const gps = Array.from({ length: 10 }, (_, t) =>
    `${(t + 0.25).toFixed(6)} ${gga(48.1 + t * 1e-6, 11.5 - t * 1e-6, { hdop: 0.8 + t / 20 })}\n`).join("");
  return { laser: laserText(rows), gyro: gyroText(records, times), gps };
}

/** The native build the real runs use: MORVANE_BUILD, or build/ beside review/. */
export const BUILD = process.env.MORVANE_BUILD ?? join(ROOT, "build");
const MISSING = ["morvane", "ahrs-sim", "sim/libhsif.so"].filter((p) => !existsSync(join(BUILD, p)));

/** The test option that skips a real run, by name, where the native build is missing. */
export const NEEDS_BUILD = {
  skip: MISSING.length ? `${MISSING.map((p) => join(BUILD, p)).join(", ")} missing: run make first` : false,
};

// The laser control port: a raw pseudo-terminal whose far end takes whatever the library sends,
// held by python3 as tools/demo holds it (Node has no call that opens one).
const RAW_PTY = `
import os, pty, tty, termios
master, slave = pty.openpty()
tty.setraw(slave, termios.TCSANOW)
print(os.ttyname(slave), flush=True)
while True:
    try:
        os.read(master, 4096)
    except OSError:
        break
`;

/** The first line a process prints (a simulator's device path); the rest of its output is
 * read and dropped so that it never blocks on a full pipe. */
function firstLine(child: ChildProcess, what: string): Promise<string> {
  return new Promise((resolve, reject) => {
    let text = "";
    child.stdout!.on("data", (chunk: Buffer) => {
      text += chunk;
      if (text.includes("\n")) resolve(text.slice(0, text.indexOf("\n")).trim());
    });
    child.on("error", reject);
    child.on("exit", (code) => reject(new Error(`${what} ended (exit code ${code}) before naming its device`)));
  });
}

function ended(child: ChildProcess): Promise<number | null> {
  return new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) resolve(child.exitCode);
    else child.on("exit", (code) => resolve(code)).on("error", () => resolve(null));
  });
}

/** The records the logger has written to a gyro file so far. */
function recordsIn(path: string): number {
  if (!existsSync(path)) return 0;
  const text = readFileSync(path, "latin1");
  let n = 0;
  for (let at = text.indexOf("\n"); at >= 0; at = text.indexOf("\n", at + 1)) n++;
  return n;
}

export interface SimulatedRunOptions {
  lines: number; // laser lines of 5000 samples
  records: number; // gyro records written before q is pressed
  mode?: "a" | "c" | "r";
  ahrs?: string[]; // more ahrs-sim options
  hsif?: Record<string, string>; // more HSIF_SIM_* variables
  logger?: string[]; // more morvane options
}

/** Runs morvane in folder (laser.txt, gyro.txt, gps.txt) as tools/demo does: ahrs-sim (100
 * packets/s, seed 7) on a pseudo-terminal for the gyro phase, q once the gyro file holds the
 * records asked for, then the laser phase against hsif-sim sped up 100 times with a raw
 * pseudo-terminal as the laser control port. Returns the logger's exit code and stderr. */
export async function simulatedRun(folder: string, o: SimulatedRunOptions): Promise<{ status: number | null; stderr: string }> {
  mkdirSync(folder, { recursive: true });
  const mode = o.mode ?? "a";
  const children: ChildProcess[] = [];
  try {
    const sim = spawn(join(BUILD, "ahrs-sim"), ["--mode", mode, "--rate", "100", "--seed", "7", "--quiet",
      ...(o.ahrs ?? [])], { stdio: ["ignore", "pipe", "ignore"] });
    children.push(sim);
    const device = await firstLine(sim, "ahrs-sim");
    const holder = spawn("/usr/bin/python3", ["-u", "-c", RAW_PTY], { stdio: ["ignore", "pipe", "ignore"] });
    children.push(holder);
    const laserPort = await firstLine(holder, "the laser control port");
    const logger = spawn(join(BUILD, "morvane"), ["laser.txt", "gyro.txt", "gps.txt", "-C", device,
      "-M", mode, "-l", String(o.lines), ...(o.logger ?? [])], {
      cwd: folder, stdio: ["pipe", "ignore", "pipe"],
      env: {
        ...process.env, LD_LIBRARY_PATH: join(BUILD, "sim"), HSIF_SIM_PORT: laserPort,
        HSIF_SIM_SPEEDUP: "100", HSIF_SIM_SEED: "7",
        HSIF_SIM_CALIBRATION_DIR: join(ROOT, "tools", "hsif_sim"), ...o.hsif,
      },
    });
    children.push(logger);
    let stderr = "";
    logger.stderr!.on("data", (chunk: Buffer) => (stderr += chunk));
    const exit = ended(logger);
    // The gyro file is written out at least once a second: q once it holds the records.
    const gyro = join(folder, "gyro.txt");
    for (const deadline = Date.now() + 60_000; recordsIn(gyro) < o.records;) {
      if (logger.exitCode !== null) return { status: logger.exitCode, stderr };
      if (Date.now() > deadline) throw new Error(`${recordsIn(gyro)} of ${o.records} gyro records after 60 s\n${stderr}`);
      await sleep(50);
    }
    logger.stdin!.end("q");
    const timer = setTimeout(() => logger.kill("SIGKILL"), 180_000);
    const status = await exit;
    clearTimeout(timer);
    return { status, stderr };
  } finally {
    for (const child of children) child.kill("SIGTERM");
    await Promise.all(children.map(ended));
  }
}
