// Files that are not what the review expects get one message naming the file, the line and what
// was expected; a file cut short at its end is reviewed to its last whole row, and the verdict
// says what was cut.

import assert from "node:assert/strict";
import { test } from "node:test";
import { InputError } from "../src/core/errors";
import { LaserReader, readLaser, type LaserFile } from "../src/core/laser";
import { review, type ReviewOptions } from "../src/core/review";
import { bytes, gga, gyroText, laserText, nmea } from "./helpers";

const ROWS = [[100, 2000, 0.1, 0.2], [120.5, 1500, 0.2, 0.2], [130.25, 1400, 0.3, 0.2]];
const LASER = laserText(ROWS);
const RECORD_A = [1, -2, 45, 0, 0, 0, 0, 0, -1, 0.2, 0, 0.45];
const GYRO = gyroText(Array(3).fill(RECORD_A));
const GYRO_C = gyroText(Array(3).fill(RECORD_A.slice(3)));
const SCALE = [150, 150, 150, 6, 6, 6, 1.5, 1.5, 1.5];
const GYRO_R = gyroText(Array(3).fill(RECORD_A.slice(3).map((v, k) => 2.5 + (v / SCALE[k]) * 2)));
const GPS = [0, 1, 2].map((t) => `${t.toFixed(6)} ${gga(48.1, 11.5)}\n`).join("");

const OPTIONS: ReviewOptions = { mode: null, noLevel: false, declination: 0, skip: new Set(), created: null };

function run(files: { laser?: string; gyro?: string; gps?: string | null }, options: Partial<ReviewOptions> = {}) {
  const f = { laser: LASER, gyro: GYRO, gps: GPS as string | null, ...files };
  return review({ name: "laser.txt", bytes: bytes(f.laser) }, { name: "gyro.txt", bytes: bytes(f.gyro) },
    { name: "gps.txt", bytes: f.gps === null ? null : bytes(f.gps) }, { ...OPTIONS, ...options });
}

const BAD: { legend: string; files: Parameters<typeof run>[0]; mode?: "a" | "c" | "r"; message: string }[] = [
  { legend: "laser: empty", files: { laser: "" }, message: "laser.txt: the file is empty" },
  { legend: "laser: another header", files: { laser: "Distance\tRange\t\n1.00\t2\t" },
    message: "laser.txt, line 1: expected the laser file's header row" },
  { legend: "laser: the gyro file in its place", files: { laser: GYRO },
    message: "laser.txt, line 1: expected the laser file's header row: the eight titles " },
  { legend: "laser: a row of seven fields", files: { laser: LASER.replace("\t120500\t", "\t") },
    message: "laser.txt, line 3: 7 fields where a laser file row has 8: '120.50\\t1500.0" },
  { legend: "laser: text for a number", files: { laser: LASER.replace("100.00", "1o0.00") },
    message: "laser.txt, line 2: column Distance(inches): expected a number, found '1o0.00'" },
  { legend: "laser: an empty field", files: { laser: LASER.replace("\t130250\t", "\t\t") },
    message: "laser.txt, line 4: column Raw Range(bits): expected a number, found an empty field" },
  { legend: "laser: a row without its last tab", files: { laser: LASER.replace("0\t0\t\n", "0\t0\n") },
    message: "laser.txt, line 2: 7 fields where a laser file row has 8" },
  { legend: "laser: a last row of nine fields", files: { laser: LASER + "5\t" },
    message: "laser.txt, line 4: 9 fields where a laser file row has 8" },
  { legend: "laser: a cut last row with text for a number", files: { laser: LASER + "\n1x.00\t5" },
    message: "laser.txt, line 5: column Distance(inches): expected a number, found '1x.00'" },
  { legend: "laser: LF among CR LF line ends", files: { laser: laserText(ROWS, true).replace(/\r\n(?!.*\r\n)/s, "\n") },
    message: "laser.txt, line 3: a line end without CR where the file's first line ends in CR LF" },
  { legend: "gyro: empty", files: { gyro: "" }, message: "gyro.txt: the file is empty" },
  { legend: "gyro: nine fields", files: { gyro: "1 2 3 4 5 6 7 8 9\n" },
    message: "gyro.txt, line 1: expected a gyro record with fields separated by single blanks: 15 or 16" },
  { legend: "gyro: mode c where -M a is given", files: { gyro: GYRO_C }, mode: "a",
    message: "gyro.txt, line 1: expected a mode-a record of 15 or 16 fields, found 12" },
  { legend: "gyro: mode a where -M r is given", files: { gyro: GYRO }, mode: "r",
    message: "gyro.txt, line 1: expected a mode-r record of 12 or 13 fields, found 15" },
  { legend: "gyro: mode c where -M r is given", files: { gyro: GYRO_C }, mode: "r",
    message: "gyro.txt, line 1: expected a mode-r record (nine sensor voltages from 0 to 5 V" },
  { legend: "gyro: mode r where -M c is given", files: { gyro: GYRO_R }, mode: "c",
    message: "gyro.txt, line 1: expected mode-c records (rates in deg/s, acceleration in g" },
  { legend: "gyro: a mode c record among mode a", files: { gyro: GYRO + GYRO_C },
    message: "gyro.txt, line 4: 12 fields where a record of this file (mode a, as its first line) has 15" },
  { legend: "gyro: a double blank", files: { gyro: GYRO.replace("2 1.0", "2  1.0") },
    message: "gyro.txt, line 2: 16 fields where a record of this file (mode a, as its first line) has 15" },
  { legend: "gyro: text for a number", files: { gyro: GYRO.replace("-2.000000", "-2.0x0000") },
    message: "gyro.txt, line 1: column pitch: expected a number, found '-2.0x0000'" },
  { legend: "gyro: the laser file in its place", files: { gyro: LASER + "\n" },
    message: "gyro.txt, line 1: this is the laser file's header row" },
  { legend: "gyro: only a cut record", files: { gyro: GYRO.slice(0, 20) },
    message: "gyro.txt, line 1: the file ends in the middle of its first record" },
  { legend: "gps: a line without its time", files: { gps: GPS + gga(48.1, 11.5) + "\n" },
    message: "gps.txt, line 4: expected '<seconds> $<sentence>*HH'" },
  { legend: "gps: an unknown reason", files: { gps: GPS + "3.000000 #garbled abc\n" },
    message: "gps.txt, line 4: unknown reason '#garbled'" },
  { legend: "gps: a lost count that is no number", files: { gps: GPS + "3.000000 #lost many\n" },
    message: "gps.txt, line 4: '#lost' takes a count of sentences" },
];

for (const c of BAD) {
  test(`bad input is refused by name and line: ${c.legend}`, () => {
    assert.throws(() => run(c.files, { mode: c.mode ?? null }), (error: unknown) => {
      assert.ok(error instanceof InputError, String(error));
      assert.ok(error.message.startsWith(c.message), `${error.message}\nwhere: ${c.message}`);
      assert.ok(!error.message.includes("\n"), "one line");
      return true;
    });
  });
}

const CUT = [
  { legend: "laser: the last row cut within a field", files: { laser: LASER.slice(0, -9) }, samples: 2,
    finding: "the laser file is cut short: its last row (line 4) has 5 of 8 fields, as a save " +
      "interrupted by a power loss leaves it; the review reads the 2 whole rows before it" },
  { legend: "laser: the last row cut, then an editor's line end", files: { laser: LASER.slice(0, -9) + "\n" },
    samples: 2, finding: "its last row (line 4) has 5 of 8 fields" },
  { legend: "laser: the last row cut after its first digits", files: { laser: LASER + "\n12" },
    samples: 3, finding: "its last row (line 5) has 0 of 8 fields" },
  { legend: "laser: CR LF line ends, the file cut between CR and LF",
    files: { laser: laserText(ROWS, true) + "\r" }, samples: 3, finding: null },
  { legend: "gyro: the last record without its line end", files: { gyro: GYRO.slice(0, -1) },
    samples: 3, finding: "the gyro file is cut short: its last line (line 3) has no line end " +
      "('3 1.000000 -2.000000 45.000000 0.000000 0.000000 0.000000 0.' ...), as a write " +
      "interrupted by a power loss leaves it; the review reads the 2 whole records before it" },
  { legend: "gps: the last line without its line end", files: { gps: GPS + "3.000000 $GPGGA,12" },
    samples: 3, finding: "the GPS file is cut short: its last line (line 4) has no line end " +
      "('3.000000 $GPGGA,12'); the review reads the 3 whole lines before it" },
];

for (const c of CUT) {
  test(`a run cut short is reviewed: ${c.legend}`, () => {
    const result = run(c.files);
    const text = new TextDecoder().decode(result.files[0].make());
    if (c.finding) assert.ok(result.summary.problems.some((f) => f.text.includes(c.finding)), text);
    else assert.ok(!text.includes("cut short"), text);
    assert.match(text, new RegExp(`^  samples +${c.samples} `, "m"));
    assert.deepEqual(result.files.map((f) => f.name), ["summary.txt", "scan.ply", "scan.las"]);
  });
}

const NO_FIX = [
  { legend: "no GPS file", gps: null, finding: "no GPS file (gps.txt): the review leaves GPS out" },
  { legend: "an empty GPS file", gps: "", finding: "the GPS file is empty: nothing came from the receiver" },
  { legend: "sentences without a fix", gps: [0, 1, 2].map((t) => `${t}.000000 ${gga(0, 0, { quality: 0 })}\n`).join(""),
    finding: "GPS: no fix in 3 GGA reports" },
  { legend: "only invalid stretches", gps: `1.000000 #checksum ${nmea("GPGGA,1").slice(0, -2)}00\n2.000000 #lost 4\n`,
    finding: "GPS: no position report (GGA or RMC) in the file: no fix" },
];

for (const c of NO_FIX) {
  test(`without a fix GPS is left out and scan.las stays local: ${c.legend}`, () => {
    const result = run({ gps: c.gps }, { views: true });
    const text = new TextDecoder().decode(result.files[0].make());
    assert.ok(text.includes(c.finding), text);
    assert.equal(result.views!.gps, null, "no GPS picture");
    assert.ok(text.includes("scan.las is in the local levelled frame, metres from the scanner, " +
      "with no coordinate system: there is no GPS fix"), text);
  });
}

test("a checksum that does not match counts as damaged", () => {
  const good = gga(48.1, 11.5);
  const damaged = good.slice(0, -2) + (good.endsWith("00") ? "01" : "00");
  const text = new TextDecoder().decode(run({
    gps: `0.000000 ${good}\n1.000000 ${damaged}\n2.000000 ${nmea("GPRMC,1")}\n`,
  }).files[0].make());
  assert.ok(text.includes("GPS: 1 of 3 sentences invalid (damaged in the file 1)"), text);
});

const COORDINATES = [
  { legend: "as receivers write them", position: "4807.0381,N,01131.0002,E", mean: "48.1173017, 11.5166700" },
  { legend: "a longitude without its leading zero", position: "4807.0381,N,1131.0002,E", mean: "48.1173017, 11.5166700" },
  { legend: "south and west", position: "3351.5100,S,15112.6200,W", mean: "-33.8585000, -151.2103333" },
];

for (const c of COORDINATES) {
  test(`GPS positions are read in degrees and minutes: ${c.legend}`, () => {
    const sentence = nmea(`GPGGA,123519.00,${c.position},1,08,0.9,545.4,M,46.9,M,,`);
    const gps = [0, 1, 2].map((t) => `${t}.000000 ${sentence}\n`).join("");
    const text = new TextDecoder().decode(run({ gps }).files[0].make());
    assert.ok(text.includes(`mean position  ${c.mean}, altitude 545.40 m`), text);
  });
}

/** What reading a laser file gives, to compare: its columns and cut, or the error's message. */
function outcome(read: () => LaserFile): unknown {
  try {
    const f = read();
    return { samples: f.samples, crlf: f.crlf, size: f.size, cut: f.cut, columns: [f.distance, f.amplitude,
      f.temperature, f.angle1, f.angle2, f.index1, f.index2].map((c) => Array.from(c)) };
  } catch (error) {
    assert.ok(error instanceof InputError, String(error));
    return error.message;
  }
}

test("a laser file read in chunks of any size gives what it gives read whole", () => {
  const texts = [LASER, LASER + "\n", laserText(ROWS, true), laserText(ROWS, true) + "\r\n",
    ...[...BAD, ...CUT].flatMap((c) => (c.files.laser === undefined ? [] : [c.files.laser]))];
  let seed = 7;
  const random = () => (seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648;
  for (const text of texts) {
    const whole = outcome(() => readLaser("laser.txt", bytes(text)));
    for (const split of ["byte by byte", "random pieces"]) {
      const chunked = outcome(() => {
        const all = bytes(text), reader = new LaserReader("laser.txt");
        for (let at = 0; at < all.length;) {
          const next = split === "byte by byte" ? at + 1 : at + 1 + Math.floor(random() * 40);
          reader.push(all.slice(at, next));
          at = next;
        }
        return reader.finish();
      });
      assert.deepEqual(chunked, whole, `${split}: ${JSON.stringify(text.slice(-40))}`);
    }
  }
});
