// The gyro file: one record per line, fields separated by single blanks, each line ending in a
// line feed. Mode a: count [time] roll pitch yaw, the nine sensor channels, temperature, tail
// word; modes c and r the same without the angles.

import { InputError } from "./errors";
import { LASER_HEADER } from "./laser";
import { general, latin1, plural, shown, shownBytes } from "./text";

export type Mode = "a" | "c" | "r";

export const SENSOR_CHANNELS = ["gyro x", "gyro y", "gyro z", "accel x", "accel y", "accel z",
  "mag x", "mag y", "mag z"];
export const ANGLE_CHANNELS = ["roll", "pitch", "yaw"];

const BLANK = 32, LF = 10, CR = 13, MINUS = 45, DOT = 46, ZERO = 48, NINE = 57;

export interface GyroFile {
  name: string;
  mode: Mode;
  modeFrom: "given" | "from the records";
  records: number;
  count: Float64Array; // packets read when the record was written
  time: Float64Array | null; // seconds (-t or -D), null with counts only
  angles: Float64Array[] | null; // roll, pitch, yaw in degrees (mode a)
  sensors: Float64Array[]; // the nine channels
  temperature: Float64Array; // degrees C
  tail: Float64Array; // TAIL_WORD
  cut: { line: number; text: string } | null; // a last line without its line end, left out
}

const LAYOUTS: Record<number, { family: "a" | "cr"; timed: boolean }> = {
  15: { family: "a", timed: false }, 16: { family: "a", timed: true },
  12: { family: "cr", timed: false }, 13: { family: "cr", timed: true },
};

function layoutText(fields: number): string {
  return "15 or 16 (mode a: the count, a time with -t or -D, roll pitch yaw, the nine sensor " +
    "channels, the temperature and the tail word) or 12 or 13 (modes c and r, without the " +
    `angles); found ${fields}`;
}

/** Reads a gyro file. mode: the mode the file must be of; null tells it from the records (the
 * field count tells a from c and r, voltages near 2.5 V tell r from c). A last line without
 * its line end (a write cut short) is left out and described in `cut`; anything else that is not
 * a gyro record throws InputError naming the line and what was expected. */
export function readGyro(name: string, bytes: Uint8Array, mode: Mode | null = null): GyroFile {
  const size = bytes.length;
  if (size === 0) {
    throw new InputError(name, null, "the file is empty: no gyro records (expected one record " +
      "per line, fields separated by blanks)");
  }
  // Whole lines end at the last line feed; what follows it is a record cut short.
  const wholeEnd = bytes.lastIndexOf(LF) + 1;
  let rows = 0;
  for (let at = bytes.indexOf(LF); at >= 0; at = bytes.indexOf(LF, at + 1)) rows++;
  let cut: GyroFile["cut"] = null;
  if (wholeEnd < size) {
    cut = { line: rows + 1, text: shownBytes(bytes, wholeEnd, size) };
    if (rows === 0) {
      throw new InputError(name, 1, `the file ends in the middle of its first record (no line ` +
        `end after ${cut.text}): no whole record to review`);
    }
  }
  const firstEnd = bytes.indexOf(LF);
  const crlf = firstEnd > 0 && bytes[firstEnd - 1] === CR;
  const first = latin1(bytes, 0, crlf ? firstEnd - 1 : firstEnd);
  if (first.startsWith(LASER_HEADER.slice(0, 16))) {
    throw new InputError(name, 1, "this is the laser file's header row, not a gyro record");
  }
  const fields = first.split(" ").length;
  const layout = LAYOUTS[fields];
  if (!layout) {
    throw new InputError(name, 1, "expected a gyro record with fields separated by single " +
      `blanks: ${layoutText(fields)}: ${shown(first)}`);
  }
  const { family, timed } = layout;
  if (mode !== null && (mode === "a") !== (family === "a")) {
    throw new InputError(name, 1, `expected a mode-${mode} record of ` +
      `${mode === "a" ? "15 or 16" : "12 or 13"} fields, found ${fields}: this is the gyro ` +
      `file of mode ${family === "a" ? "a" : "c or r"}`);
  }
  const titles = ["count", ...(timed ? ["time"] : []), ...(family === "a" ? ANGLE_CHANNELS : []),
    ...SENSOR_CHANNELS, "temperature", "tail word"];
  const table = Array.from({ length: fields }, () => new Float64Array(rows));
  const what = `a record of this file (mode ${family === "a" ? "a" : "c or r"}, as its first line)`;
  let start = 0;
  for (let row = 0; row < rows; row++) {
    let end = bytes.indexOf(LF, start);
    const next = end + 1;
    if (crlf) {
      if (bytes[end - 1] !== CR) {
        throw new InputError(name, row + 1,
          "a line end without CR where the file's first line ends in CR LF");
      }
      end--;
    }
    if (!fastRecord(bytes, start, end, table, row)) {
      slowRecord(name, latin1(bytes, start, end), row + 1, titles, what, table, row);
    }
    start = next;
  }

  let at = 1;
  const time = timed ? table[at++] : null;
  const angles = family === "a" ? table.slice(at, (at += 3)) : null;
  const sensors = table.slice(at, at + 9);
  let found: Mode = "a";
  if (family === "cr") {
    found = sensorMode(sensors, rows);
    if (mode !== null && mode !== found) refuseSensorMode(name, mode, sensors, rows);
  }
  return {
    name, mode: found, modeFrom: mode !== null ? "given" : "from the records", records: rows,
    count: table[0], time, angles, sensors, temperature: table[at + 9], tail: table[at + 10], cut,
  };
}

/** Parses a record of plain decimal numbers separated by single blanks into row `row` of the
 * table; false when the record is anything else (the general way then names what is wrong). */
function fastRecord(bytes: Uint8Array, start: number, end: number, table: Float64Array[],
  row: number): boolean {
  let at = start;
  const fields = table.length;
  for (let f = 0; f < fields; f++) {
    let negative = false;
    if (bytes[at] === MINUS) {
      negative = true;
      at++;
    }
    let mantissa = 0, digits = 0, decimals = 0, point = false;
    for (; at < end; at++) {
      const c = bytes[at];
      if (c >= ZERO && c <= NINE) {
        mantissa = mantissa * 10 + (c - ZERO);
        digits++;
        if (point) decimals++;
      } else if (c === DOT && !point) {
        point = true;
      } else if (c === BLANK) {
        break;
      } else {
        return false;
      }
    }
    if (digits === 0 || digits > 15) return false;
    const v = decimals ? mantissa / 10 ** decimals : mantissa;
    table[f][row] = negative ? -v : v;
    if (f < fields - 1) {
      if (at >= end) return false; // a field short
      at++; // the blank
    }
  }
  return at === end;
}

function slowRecord(name: string, text: string, line: number, titles: string[], what: string,
  table: Float64Array[], row: number): void {
  const fields = text.split(" ");
  if (fields.length !== table.length) {
    throw new InputError(name, line,
      `${fields.length} fields where ${what} has ${table.length}: ${shown(text)}`);
  }
  fields.forEach((field, c) => {
    if (!/^-?(\d+\.?\d*|\.\d+)$/.test(field)) {
      throw new InputError(name, line, `column ${titles[c]}: expected a number, found ` +
        (field ? shown(field) : "an empty field"));
    }
    table[c][row] = Number(field);
  });
}

/** 'r' when the nine channels are converter voltages (0 to 5 V, near 2.5 V on the whole), 'c'
 * when they are scaled values (rates near 0, gravity near 1 g, a field under a gauss). */
function sensorMode(sensors: Float64Array[], rows: number): Mode {
  let sum = 0;
  for (const channel of sensors) {
    for (let i = 0; i < rows; i++) {
      const v = channel[i];
      if (!(v >= 0 && v <= 5)) return "c";
      sum += v;
    }
  }
  return sum / (rows * sensors.length) > 1.25 ? "r" : "c";
}

function refuseSensorMode(name: string, mode: Mode, sensors: Float64Array[], rows: number): never {
  if (mode === "r") {
    // The first record with a channel outside 0 to 5 V, or the first when none is.
    let row = 0;
    while (row < rows && !sensors.some((c) => c[row] < 0 || c[row] > 5)) row++;
    if (row === rows) row = 0;
    throw new InputError(name, row + 1, "expected a mode-r record (nine sensor voltages from 0 " +
      "to 5 V, near 2.5 V at rest), found " + sensors.map((c) => general(c[row])).join(" ") +
      ": this is the gyro file of mode c");
  }
  throw new InputError(name, 1, "expected mode-c records (rates in deg/s, acceleration in g, the " +
    "field in gauss), found sensor voltages near 2.5 V in every record: this is the gyro file " +
    "of mode r");
}

/** The verdict's words for a cut record. */
export function describeGyroCut(file: GyroFile): string {
  const cut = file.cut!;
  return `the gyro file is cut short: its last line (line ${cut.line}) has no line end ` +
    `(${cut.text}), as a write interrupted by a power loss leaves it; the review reads the ` +
    `${plural(file.records, "whole record")} before it`;
}
