// The command line as a process, and as tools/morvane-review runs it: its usage errors, the
// contract for bad input (one line, exit code 1, no outputs), outputs put in place only when
// complete, Ctrl+C, and real runs of the logger against the simulators (a full turn, the sensor
// modes, faults).

import assert from "node:assert/strict";
import { execFileSync, spawn, spawnSync } from "node:child_process";
import {
  chmodSync, copyFileSync, existsSync, mkdirSync, readdirSync, readFileSync, realpathSync, writeFileSync,
} from "node:fs";
import { open } from "node:fs/promises";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";
import { inflateSync } from "node:zlib";
import { unpack } from "../src/core/pack";
import type { Views } from "../src/core/views";
import { buildCloud } from "../src/core/cloud";
import { attitude, IDENTITY } from "../src/core/geometry";
import { readGyro } from "../src/core/gyro";
import { readLaser } from "../src/core/laser";
import { CLI, gga, gpsText, gyroText, laserText, NEEDS_BUILD, ROOT, runCli, simulatedRun, tempFolder } from "./helpers";

const RECORD = [1, -2, 45, 0, 0, 0, 0, 0, -1, 0.2, 0, 0.45];

function folderWithRun(): string {
  const folder = tempFolder("cli");
  writeFileSync(join(folder, "laser.txt"), laserText([[100, 2000, 0.1, 0.2], [120.5, 1500, 0.2, 0.2]]));
  writeFileSync(join(folder, "gyro.txt"), gyroText(Array(3).fill(RECORD)));
  writeFileSync(join(folder, "gps.txt"), gpsText(48.1, 11.5));
  return folder;
}

const USAGE = [
  { legend: "no file names", args: [], message: "the following arguments are required: laser, gyro" },
  { legend: "a mode that is none", args: ["l", "g", "-M", "x"], message: "argument -M/--mode: invalid choice: 'x'" },
  { legend: "an unknown output to skip", args: ["l", "g", "--skip", "ply,foo"], message: "--skip: unknown foo" },
  { legend: "a declination that is no number", args: ["l", "g", "--declination", "east"],
    message: "argument --declination: expected a number of degrees, found 'east'" },
  { legend: "an unknown option", args: ["l", "g", "--fast"], message: "unrecognized arguments: --fast" },
  { legend: "an option longer than any", args: ["l", "g", "--no-levels"],
    message: "unrecognized arguments: --no-levels" },
  { legend: "four file names", args: ["l", "g", "p", "q"], message: "unrecognized arguments: q" },
];

for (const c of USAGE) {
  test(`a bad command line gives the usage and exit code 1: ${c.legend}`, () => {
    const result = runCli(c.args, tmpdir());
    assert.equal(result.status, 1);
    assert.match(result.stderr, /^usage: morvane-review \[-h\]/);
    assert.ok(result.stderr.endsWith(`morvane-review: ${c.message}\n`) ||
      result.stderr.includes(`morvane-review: ${c.message}`), result.stderr);
  });
}

test("--help names every option and the exit codes", () => {
  const result = runCli(["--help"], tmpdir());
  assert.equal(result.status, 0);
  for (const word of ["-o DIR", "-M {a,c,r}", "--no-level", "--declination DEG", "--skip LIST", "130"]) {
    assert.ok(result.stdout.includes(word), word);
  }
});

test("tools/morvane-review runs the command line; without its build it says to run make review", () => {
  const launcher = join(ROOT, "tools", "morvane-review");
  const help = spawnSync(launcher, ["--help"], { encoding: "utf8" });
  assert.equal(help.status, 0, help.stderr);
  assert.equal(help.stdout, runCli(["--help"], tmpdir()).stdout);
  // The launcher in a tree of its own, with no review/dist.
  const tree = realpathSync(tempFolder("launcher"));
  mkdirSync(join(tree, "tools"));
  copyFileSync(launcher, join(tree, "tools", "morvane-review"));
  chmodSync(join(tree, "tools", "morvane-review"), 0o755);
  const missing = spawnSync(join(tree, "tools", "morvane-review"), ["laser.txt", "gyro.txt"], { encoding: "utf8" });
  assert.equal(missing.status, 1);
  assert.equal(missing.stderr,
    `morvane-review: ${tree}/review/dist/morvane-review.js is missing: run make review in ${tree}\n`);
});

const ALL = ["summary.txt", "scan.png", "plan.png", "attitude.png", "gps.png", "scan.ply", "scan.las", "report.html"];

const PUT_IN_PLACE = [
  { legend: "everything", skip: [], written: ALL },
  { legend: "pictures and clouds skipped", skip: ["--skip", "scan,plan,attitude,gps,ply,las"],
    written: ["summary.txt", "report.html"] },
  { legend: "no GPS file: no GPS picture", skip: [], gps: false, written: ALL.filter((n) => n !== "gps.png") },
];

for (const c of PUT_IN_PLACE) {
  test(`a review puts its outputs in place in order and removes an earlier one's: ${c.legend}`, () => {
    const folder = folderWithRun();
    mkdirSync(join(folder, "out"));
    writeFileSync(join(folder, "out", "scan.png"), "from an earlier review");
    writeFileSync(join(folder, "out", "gps.png"), "from an earlier review");
    const files = c.gps === false ? ["laser.txt", "gyro.txt"] : ["laser.txt", "gyro.txt", "gps.txt"];
    const result = runCli([...files, "-o", "out", "--decl=-1.5", ...c.skip], folder);
    assert.equal(result.status, 0, result.stderr);
    assert.equal(result.stdout.split("\n")[0].slice(0, 16), "morvane-review: ");
    assert.ok(result.stdout.endsWith(c.written.map((n) => `morvane-review: wrote out/${n}\n`).join("")), result.stdout);
    assert.deepEqual(readdirSync(join(folder, "out")).sort(), [...c.written].sort());
    assert.match(readFileSync(join(folder, "out", "summary.txt"), "utf8"), /declination -1\.50 deg/);
  });
}

/** A PNG's size and its pixels (8-bit RGB, unfiltered rows, as the review writes them). */
function readPng(bytes: Buffer): { width: number; height: number; pixels: Buffer } {
  assert.deepEqual([...bytes.subarray(0, 8)], [137, 80, 78, 71, 13, 10, 26, 10]);
  const width = bytes.readUInt32BE(16), height = bytes.readUInt32BE(20);
  assert.equal(bytes.subarray(12, 16).toString(), "IHDR");
  assert.deepEqual([...bytes.subarray(24, 29)], [8, 2, 0, 0, 0]);
  const idat: Buffer[] = [];
  for (let at = 8; at < bytes.length;) {
    const length = bytes.readUInt32BE(at), type = bytes.subarray(at + 4, at + 8).toString();
    if (type === "IDAT") idat.push(bytes.subarray(at + 8, at + 8 + length));
    at += 12 + length;
  }
  const rows = inflateSync(Buffer.concat(idat));
  assert.equal(rows.length, height * (1 + 3 * width));
  const pixels = Buffer.concat(Array.from({ length: height }, (_, y) =>
    rows.subarray(y * (1 + 3 * width) + 1, (y + 1) * (1 + 3 * width))));
  return { width, height, pixels };
}

test("the pictures are PNG files with text and data drawn; report.html carries the run", () => {
  const folder = folderWithRun();
  assert.equal(runCli(["laser.txt", "gyro.txt", "gps.txt", "-o", "out"], folder).status, 0);
  for (const name of ["scan.png", "plan.png", "attitude.png", "gps.png"]) {
    const { width, height, pixels } = readPng(readFileSync(join(folder, "out", name)));
    assert.ok(width >= 1000 && height >= 600, `${name} ${width}x${height}`);
    const colours = new Set<number>();
    for (let i = 0; i < pixels.length; i += 3 * 7) colours.add(pixels.readUIntBE(i, 3));
    assert.ok(colours.size > 20, `${name}: ${colours.size} colours`);
  }
  const report = readFileSync(join(folder, "out", "report.html"), "utf8");
  const data = /<script id="run-data" type="application\/json">([^<]*)<\/script>/.exec(report);
  assert.ok(data, "the run's data in report.html");
  const run = unpack<{ views: Views; files: string[] }>(data[1]);
  assert.equal(run.views.summaryText, readFileSync(join(folder, "out", "summary.txt"), "utf8"));
  assert.equal(run.views.cloud!.points.length, 2 * 3);
  assert.deepEqual(run.files, ALL.slice(0, -1));
});

test("bad input: one line naming file and line, exit code 1, the earlier outputs untouched", () => {
  const folder = folderWithRun();
  mkdirSync(join(folder, "out"));
  writeFileSync(join(folder, "out", "summary.txt"), "an earlier verdict");
  writeFileSync(join(folder, "gyro.txt"), "1 2 3\n");
  const result = runCli(["laser.txt", "gyro.txt", "gps.txt", "-o", "out"], folder);
  assert.equal(result.status, 1);
  assert.equal(result.stdout, "");
  assert.match(result.stderr, /^morvane-review: gyro\.txt, line 1: expected a gyro record [^\n]*\n$/);
  assert.deepEqual(readdirSync(join(folder, "out")), ["summary.txt"]);
  assert.equal(readFileSync(join(folder, "out", "summary.txt"), "utf8"), "an earlier verdict");
});

test("an output folder that is a file: exit code 1, said so", () => {
  const folder = folderWithRun();
  writeFileSync(join(folder, "out"), "");
  const result = runCli(["laser.txt", "gyro.txt", "-o", "out"], folder);
  assert.equal(result.status, 1);
  assert.equal(result.stderr, "morvane-review: cannot write the outputs out: a file, not a folder\n");
});

test("Ctrl+C ends the review with exit code 130 and no outputs", { timeout: 60_000 }, async () => {
  const folder = folderWithRun();
  // A laser file that is a pipe: the review waits in its read until the signal comes.
  execFileSync("rm", [join(folder, "laser.txt")]);
  execFileSync("mkfifo", [join(folder, "laser.txt")]);
  const child = spawn(process.execPath, [CLI, "laser.txt", "gyro.txt", "-o", "out"], { cwd: folder });
  let stdout = "", stderr = "";
  child.stdout.on("data", (d) => (stdout += d));
  child.stderr.on("data", (d) => (stderr += d));
  const ended = new Promise<number | null>((resolve) => child.on("close", resolve));
  const writer = await open(join(folder, "laser.txt"), "w"); // returns once the review opened it
  let code: number | null;
  try {
    child.kill("SIGINT");
    code = await ended;
  } finally {
    if (child.exitCode === null) child.kill("SIGKILL");
    await writer.close();
  }
  assert.equal(code, 130);
  assert.equal(stderr, "morvane-review: interrupted; no outputs written\n");
  assert.equal(stdout, "");
  assert.ok(!existsSync(join(folder, "out")));
});

/** A GPS file of one fix a second around 48.1 N 11.5 E; silent: [start, length] seconds left
 * out; the first noFix reports without a fix; invalid lines from 10 s, a #lost line at 20 s. */
function gpsFile(seconds: number, silent: [number, number] = [0, 0], invalid = 0, lost = 0, noFix = 0): string {
  const lines: string[] = [];
  for (let t = 0; t < seconds; t++) {
    if (t >= silent[0] && t < silent[0] + silent[1]) continue;
    lines.push(`${(t + 0.25).toFixed(6)} ${gga(48.1, 11.5, { quality: t < noFix ? 0 : 1 })}`);
  }
  for (let k = 0; k < invalid; k++) lines.splice(10 + k, 0, `${(10.5 + k).toFixed(6)} #checksum $GPGGA,bad*00`);
  if (lost) lines.splice(20, 0, `20.900000 #lost ${lost}`);
  return lines.join("\n") + "\n";
}

const runFolder = () => tempFolder("run");

/** A full turn of the pan head (200 lines) in mode a, with a GPS file of ten minutes of fixes cut
 * as the logger cuts them: the bytes before the port opened, the sentence the end stopped. Made
 * once for the tests that read it. */
let fullRun: Promise<string> | undefined;
function fullTurn(): Promise<string> {
  return (fullRun ??= (async () => {
    const folder = runFolder();
    const made = await simulatedRun(folder, { lines: 200, records: 160 });
    assert.equal(made.status, 0, made.stderr);
    writeFileSync(join(folder, "gps.txt"), "0.100000 #not-nmea 0.25,N,01131.0002,E,1*4B\\x0D\\x0A\n" +
      gpsFile(600) + "600.100000 #no-end $GPGGA,0935\n");
    return folder;
  })());
}

// hsif-sim's room and the cabinet in it, in the scanner frame (docs/geometry.md), metres.
const ROOM = [[-2.6, -3.7, -1.45], [3.2, 4.1, 1.35]];
const CABINET = [[1.6, 2.1, -1.45], [2.4, 3.1, -0.4]];

test("a real run: the logger against ahrs-sim and hsif-sim, a full turn, reviewed; the room is the simulator's box",
  { ...NEEDS_BUILD, timeout: 300_000 }, async () => {
    const folder = await fullTurn();
    const result = runCli(["laser.txt", "gyro.txt", "gps.txt", "-o", "review"], folder);
    assert.equal(result.status, 0, result.stderr);
    const summary = readFileSync(join(folder, "review", "summary.txt"), "utf8");
    assert.match(summary, /^  samples +1000000 \(200 lines of 5000\)$/m);
    assert.match(summary, /^  records +\d+, mode a \(told from the records\)/m);
    assert.match(summary, /^  azimuth covered +100\.0 % of 360 deg$/m);
    assert.match(summary, /fixes +600 of 600 GGA reports \(100\.0 %\): GPS 600/);
    assert.ok(summary.includes("2 cut by the start or the end of the recording"), summary);
    assert.ok(!summary.split("Notes:")[0].includes("sentences invalid"), "the run's ends are no problem");
    assert.equal(readFileSync(join(folder, "review", "scan.las")).readUInt32LE(107), 1000000);
    // Every sample on a wall, the floor, the ceiling or the cabinet, and every face seen.
    const cloud = buildCloud(readLaser("laser.txt", readFileSync(join(folder, "laser.txt"))), IDENTITY);
    const [low, high] = ROOM;
    const near = Array(6).fill(0);
    let worst = 0;
    for (let i = 0; i < cloud.points.length; i += 3) {
      const p = cloud.points.subarray(i, i + 3);
      let toRoom = Infinity, outside = 0;
      for (let k = 0; k < 3; k++) {
        toRoom = Math.min(toRoom, p[k] - low[k], high[k] - p[k]);
        outside += Math.max(CABINET[0][k] - p[k], p[k] - CABINET[1][k], 0) ** 2;
        if (Math.abs(p[k] - low[k]) < 0.03) near[2 * k]++;
        if (Math.abs(p[k] - high[k]) < 0.03) near[2 * k + 1]++;
      }
      worst = Math.max(worst, Math.min(Math.abs(toRoom), Math.sqrt(outside)));
    }
    assert.ok(worst < 0.03, `a point ${worst} m from every surface`);
    assert.ok(near.every((n) => n > 1000), `points on each face: ${near}`);
  });

const SENSOR_MODES = [
  { legend: "mode c with computed times", mode: "c", logger: ["-t", "0.01"] },
  { legend: "mode r with the clock", mode: "r", logger: ["-D"] },
] as const;

for (const c of SENSOR_MODES) {
  test(`a real run in a sensor mode gives the angles of mode a: ${c.legend}`, { ...NEEDS_BUILD, timeout: 300_000 }, async () => {
    const folder = runFolder();
    const made = await simulatedRun(folder, { lines: 1, records: 160, mode: c.mode, logger: [...c.logger] });
    assert.equal(made.status, 0, made.stderr);
    const result = runCli(["laser.txt", "gyro.txt", "-o", "review", "--skip", "scan,plan,attitude,ply,las"], folder);
    assert.equal(result.status, 0, result.stderr);
    assert.ok(readFileSync(join(folder, "review", "summary.txt"), "utf8")
      .includes(`mode ${c.mode} (told from the records), a time column`));
    // The simulated unit's values depend on the packet's TAIL_WORD alone: the same packets in
    // mode a give the angles themselves.
    const angles = (path: string) => {
      const gyro = readGyro(path, readFileSync(path));
      const att = attitude(gyro);
      const byTail = new Map<number, number[]>();
      gyro.tail.forEach((tail, i) => {
        if (tail < 150) byTail.set(tail, [att.roll[i], att.pitch[i], att.heading[i]].map((v) => (v * 180) / Math.PI));
      });
      return byTail;
    };
    const modeA = angles(join(await fullTurn(), "gyro.txt")), sensor = angles(join(folder, "gyro.txt"));
    const worst = [0, 0, 0], mean = [0, 0, 0];
    let common = 0;
    for (const [tail, found] of sensor) {
      const truth = modeA.get(tail);
      if (!truth) continue;
      common++;
      for (let k = 0; k < 3; k++) {
        const error = Math.abs(((found[k] - truth[k] + 540) % 360) - 180);
        worst[k] = Math.max(worst[k], error);
        mean[k] += error;
      }
    }
    assert.ok(common > 100, `${common} packets in both runs`);
    // Roll, pitch, heading in degrees: the sensors' noise (about 0.1 deg from the accelerometer,
    // 0.6 deg from the magnetometer's 0.002 gauss on 0.2 gauss horizontal) and no more.
    [0.5, 0.5, 3].forEach((limit, k) => assert.ok(worst[k] < limit, `worst ${worst}`));
    [0.15, 0.15, 0.8].forEach((limit, k) => assert.ok(mean[k] / common < limit, `mean ${mean.map((m) => m / common)}`));
  });
}

test("a run with faults is summed up, the scan first and the GPS last", { ...NEEDS_BUILD, timeout: 300_000 }, async () => {
  const folder = runFolder();
  const made = await simulatedRun(folder, {
    lines: 12, records: 250, ahrs: ["--bad-burst", "4@60", "--bad-burst", "3@150", "--sent-log", join(folder, "sent.log")],
    hsif: { HSIF_SIM_LOST_LINES: "3,8" },
  });
  assert.equal(made.status, 0, made.stderr);
  writeFileSync(join(folder, "gps.txt"), gpsFile(300, [100, 60], 3, 5, 60));
  const result = runCli(["laser.txt", "gyro.txt", "gps.txt", "-o", "review"], folder);
  assert.equal(result.status, 0, result.stderr);
  const problems = readFileSync(join(folder, "review", "summary.txt"), "utf8").split("Notes:")[0];
  const lost = /samples lost in 2 lines \(3, 8, counted from 0\): the mirror angle jumps 2 times, about (\d+) samples missing/.exec(problems);
  assert.ok(lost && Math.abs(Number(lost[1]) - 2000) <= 4, problems);
  // The packets the unit sent with a bad checksum that fell between the first and last record.
  const recorded = readFileSync(join(folder, "gyro.txt"), "utf8").trim().split("\n").map((l) => Number(l.split(" ").at(-1)));
  const bad = readFileSync(join(folder, "sent.log"), "utf8").split("\n").filter((l) => l.includes("checksum"))
    .map((l) => Number(l.split(" ")[1])).filter((t) => t > recorded[0] && t < recorded.at(-1)!);
  assert.equal(bad.length, 7, `bad packets inside the recording: ${bad}`);
  assert.ok(problems.includes("gyro: 7 invalid packets in 2 gaps of the count"), problems);
  for (const finding of ["the GPS receiver fell silent 1 time, longest 61.0 s from 99.2 s",
    "GPS: 3 of 243 sentences invalid (checksum 3)", "GPS: 5 sentences could not be kept (#lost)",
    "GPS: a fix in only 75 % of the GGA reports"]) {
    assert.ok(problems.includes(finding), `${finding}\n${problems}`);
  }
  assert.ok(problems.indexOf("samples lost") < problems.indexOf("gyro:") &&
    problems.indexOf("gyro:") < problems.indexOf("GPS"), problems);
});
