// The laser file: a header row of eight titles, each followed by a tab, then one row per sample,
// each introduced by a line end and ending in a tab. Read straight from the bytes, one row at a
// time and a chunk of the file at a time; any row that is not exactly as the logger writes it is
// looked at again field by field, which names what is wrong.

import { InputError } from "./errors";
import { latin1, plural, shown, shownBytes } from "./text";

export const LASER_TITLES = [
  "Distance(inches)", "Raw Range(bits)", "Amplitude", "Temp(F)", "Angle1(radins)",
  "Angle2(radins", "Index1", "Index2",
] as const;
export const LASER_HEADER = LASER_TITLES.map((t) => t + "\t").join("");
export const SAMPLES_PER_LINE = 5000;
const FIELDS = LASER_TITLES.length;

const TAB = 9, LF = 10, CR = 13, MINUS = 45, DOT = 46, ZERO = 48, NINE = 57;

/** What a power loss left of the file's last row: it is not among the samples. */
export interface CutRow {
  line: number; // the cut row's line in the file, from 1
  fields: number; // the whole fields it has (each ended by its tab)
}

export interface LaserFile {
  name: string;
  size: number; // bytes
  crlf: boolean; // CR LF line ends (written under Windows)
  samples: number;
  distance: Float64Array; // inches
  amplitude: Float32Array; // 0 to 4095
  temperature: Float32Array; // degrees F
  angle1: Float64Array; // mirror, radians
  angle2: Float64Array; // pan, radians
  index1: Uint8Array; // mirror index pulse, 0 or 1
  index2: Uint8Array; // pan index pulse, 0 or 1
  cut: CutRow | null;
}

/** The laser line (of 5000 samples, from 0) of sample i. */
export function lineOf(i: number): number {
  return Math.floor(i / SAMPLES_PER_LINE);
}

function looksLikeGyro(first: string): boolean {
  const parts = first.split(" ");
  return [12, 13, 15, 16].includes(parts.length) &&
    parts.every((p) => /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(p));
}

/** Reads a laser file. Throws InputError naming the line and what was expected for any file
 * that is not one; a last row with fewer fields than a row has (a save cut short) is left out
 * and described in `cut`. */
export function readLaser(name: string, bytes: Uint8Array): LaserFile {
  const reader = new LaserReader(name, countRows(bytes));
  reader.push(bytes);
  return reader.finish();
}

/** The rows a laser file's bytes can hold at most: one per line feed. A reader that is told
 * this (from a first pass over a file) needs no room beyond it. */
export function countRows(bytes: Uint8Array, from = 0): number {
  let n = 0;
  for (let at = bytes.indexOf(LF, from); at >= 0; at = bytes.indexOf(LF, at + 1)) n++;
  return n;
}

/** A laser file read a chunk at a time (of any size, in order): push each, then finish. Rows
 * are parsed as their bytes arrive, so the file's text is never held whole; the columns grow
 * when the rows outnumber `capacity`. What it accepts and the errors it throws are readLaser's:
 * a row is taken as the last only once the file has ended. */
export class LaserReader {
  private file: LaserFile;
  private carry = new Uint8Array(0); // bytes from the start of a row (or the header) not yet used
  private header = false; // the header row has been checked
  private crlf = false;
  private rows = 0; // rows stored
  private size = 0;
  private readonly value = new Float64Array(FIELDS);

  constructor(readonly name: string, capacity = 0) {
    this.file = {
      name, size: 0, crlf: false, samples: 0, cut: null,
      distance: new Float64Array(capacity), amplitude: new Float32Array(capacity),
      temperature: new Float32Array(capacity), angle1: new Float64Array(capacity),
      angle2: new Float64Array(capacity), index1: new Uint8Array(capacity), index2: new Uint8Array(capacity),
    };
  }

  push(chunk: Uint8Array): void {
    this.size += chunk.length;
    let bytes = chunk;
    if (this.carry.length) {
      bytes = new Uint8Array(this.carry.length + chunk.length);
      bytes.set(this.carry);
      bytes.set(chunk, this.carry.length);
    }
    let start = 0;
    if (!this.header) {
      const firstEnd = bytes.indexOf(LF);
      if (firstEnd < 0) {
        this.carry = bytes.slice();
        return;
      }
      this.checkHeader(bytes, firstEnd);
      start = firstEnd + 1;
    }
    start = this.rowsFrom(bytes, start);
    // A copy: the caller may reuse its chunk's memory.
    this.carry = bytes.slice(start);
  }

  finish(): LaserFile {
    const bytes = this.carry;
    this.carry = new Uint8Array(0);
    const file = this.file;
    file.size = this.size;
    if (!this.header) {
      if (this.size === 0) {
        throw new InputError(this.name, null, "the file is empty: expected the laser file's " +
          "header row (Distance(inches), Raw Range(bits), ... each followed by a tab)");
      }
      this.checkHeader(bytes, bytes.length);
    } else if (bytes.length) {
      this.lastRow(bytes);
    }
    const n = this.rows;
    file.samples = n;
    if (file.distance.length !== n) {
      file.distance = file.distance.subarray(0, n);
      file.amplitude = file.amplitude.subarray(0, n);
      file.temperature = file.temperature.subarray(0, n);
      file.angle1 = file.angle1.subarray(0, n);
      file.angle2 = file.angle2.subarray(0, n);
      file.index1 = file.index1.subarray(0, n);
      file.index2 = file.index2.subarray(0, n);
    }
    return file;
  }

  /** The first line, which ends at firstEnd (its line feed, or the end of the file). */
  private checkHeader(bytes: Uint8Array, firstEnd: number): void {
    this.crlf = firstEnd > 0 && firstEnd < bytes.length && bytes[firstEnd - 1] === CR;
    this.file.crlf = this.crlf;
    const header = latin1(bytes, 0, this.crlf ? firstEnd - 1 : firstEnd);
    if (header !== LASER_HEADER) {
      const hint = looksLikeGyro(header) ? "this is a gyro record, not the laser file's header row"
        : `found ${shown(header, 100)}`;
      throw new InputError(this.name, 1, "expected the laser file's header row: the eight titles " +
        `${LASER_TITLES.join(", ")}, each followed by a tab; ${hint}`);
    }
    this.header = true;
  }

  /** Parses the rows from start whose line feed has more bytes after it (so none of them is the
   * file's last row); returns where the first row left for later begins. */
  private rowsFrom(bytes: Uint8Array, start: number): number {
    const size = bytes.length, value = this.value;
    for (;;) {
      const next = fastRow(bytes, start, this.crlf, value);
      if (next >= 0 && next < size - 1) {
        this.store(value);
        start = next + 1;
        continue;
      }
      if (next >= 0) return start; // a whole row, but perhaps the last
      const end = bytes.indexOf(LF, start);
      if (end < 0 || end === size - 1) return start;
      let stop = end;
      if (this.crlf) {
        if (bytes[end - 1] !== CR) {
          throw new InputError(this.name, this.rows + 2,
            "a line end without CR where the file's first line ends in CR LF");
        }
        stop--;
      }
      slowRow(this.name, bytes, start, stop, this.rows + 2, false, value);
      this.store(value);
      start = end + 1;
    }
  }

  /** What is left once the file has ended: the last row, perhaps with its line end (an
   * editor's), perhaps cut short. */
  private lastRow(bytes: Uint8Array): void {
    const size = bytes.length, value = this.value;
    if (fastRow(bytes, 0, this.crlf, value) >= 0) {
      this.store(value);
      return;
    }
    let end = bytes.indexOf(LF);
    if (end < 0) {
      // A CR after the row is a line end cut in two, which introduces no row.
      end = this.crlf && bytes[size - 1] === CR ? size - 1 : size;
    } else if (this.crlf) {
      if (bytes[end - 1] !== CR) {
        throw new InputError(this.name, this.rows + 2,
          "a line end without CR where the file's first line ends in CR LF");
      }
      end--;
    }
    const cutFields = slowRow(this.name, bytes, 0, end, this.rows + 2, true, value);
    if (cutFields !== null) {
      this.file.cut = { line: this.rows + 2, fields: cutFields };
      return;
    }
    this.store(value);
  }

  private store(value: Float64Array): void {
    if (this.rows === this.file.distance.length) this.grow();
    store(this.file, this.rows++, value);
  }

  /** Room for half as many rows again (a pipe, whose size is not known ahead). */
  private grow(): void {
    const f = this.file, n = Math.max(1024, Math.ceil(f.distance.length * 1.5));
    const more = <T extends Float64Array | Float32Array | Uint8Array>(a: T, make: new (n: number) => T): T => {
      const b = new make(n);
      b.set(a);
      return b;
    };
    f.distance = more(f.distance, Float64Array);
    f.amplitude = more(f.amplitude, Float32Array);
    f.temperature = more(f.temperature, Float32Array);
    f.angle1 = more(f.angle1, Float64Array);
    f.angle2 = more(f.angle2, Float64Array);
    f.index1 = more(f.index1, Uint8Array);
    f.index2 = more(f.index2, Uint8Array);
  }
}

function store(file: LaserFile, row: number, value: Float64Array): void {
  file.distance[row] = value[0];
  file.amplitude[row] = value[2];
  file.temperature[row] = value[3];
  file.angle1[row] = value[4];
  file.angle2[row] = value[5];
  file.index1[row] = value[6] !== 0 ? 1 : 0;
  file.index2[row] = value[7] !== 0 ? 1 : 0;
}

/** Parses a row written exactly as the logger writes it (eight plain decimal numbers, each
 * followed by a tab, then the line end or the file's end) into value. Returns the offset of the
 * line feed that ends the row (the file's size for the last row), or -1 for anything else, which
 * the general way then looks at. */
function fastRow(bytes: Uint8Array, start: number, crlf: boolean, value: Float64Array): number {
  const size = bytes.length;
  let at = start;
  for (let f = 0; f < FIELDS; f++) {
    let negative = false;
    if (bytes[at] === MINUS) {
      negative = true;
      at++;
    }
    let mantissa = 0, digits = 0, decimals = 0, point = false;
    for (; ; at++) {
      if (at >= size) return -1;
      const c = bytes[at];
      if (c >= ZERO && c <= NINE) {
        mantissa = mantissa * 10 + (c - ZERO);
        digits++;
        if (point) decimals++;
      } else if (c === TAB) {
        break;
      } else if (c === DOT && !point) {
        point = true;
      } else {
        return -1;
      }
    }
    // Up to 15 digits the mantissa and the power of ten are exact, and their quotient is the
    // correctly rounded value; longer numbers go the general way.
    if (digits === 0 || digits > 15) return -1;
    const v = decimals ? mantissa / POWERS[decimals] : mantissa;
    value[f] = negative ? -v : v;
    at++; // the tab
  }
  if (at === size) return size;
  if (!crlf) return bytes[at] === LF ? at : -1;
  if (bytes[at] !== CR) return -1;
  // A CR at the very end is a line end cut in two: the row is whole.
  if (at + 1 === size) return size;
  return bytes[at + 1] === LF ? at + 1 : -1;
}

const POWERS = Array.from({ length: 16 }, (_, k) => 10 ** k);

/** Looks at a row that is not as the logger writes it: throws the InputError that names what
 * is wrong, returns the whole fields of a last row cut short (to be left out), or parses a row
 * that is fine but written otherwise (more digits) into value and returns null. */
function slowRow(name: string, bytes: Uint8Array, start: number, end: number, line: number,
  last: boolean, value: Float64Array): number | null {
  const text = latin1(bytes, start, end);
  const fields = text.split("\t");
  const tabs = fields.length - 1;
  const what = "a laser file row";
  if (tabs !== FIELDS) {
    if (last && tabs < FIELDS) {
      // A save cut short: its whole fields must still be numbers, or it is not a cut row.
      fields.slice(0, tabs).forEach((f, c) => parseField(name, line, c, f));
      return tabs;
    }
    throw new InputError(name, line, `${tabs} fields where ${what} has ${FIELDS}: ${shown(text)}`);
  }
  if (!text.endsWith("\t")) {
    throw new InputError(name, line, `the row does not end with a tab as ${what} does: ` +
      shownBytes(bytes, start, end));
  }
  for (let c = 0; c < FIELDS; c++) value[c] = parseField(name, line, c, fields[c]);
  return null;
}

function parseField(name: string, line: number, column: number, field: string): number {
  if (/^-?(\d+\.?\d*|\.\d+)$/.test(field)) return Number(field);
  throw new InputError(name, line, `column ${LASER_TITLES[column]}: expected a number, found ` +
    (field ? shown(field) : "an empty field"));
}

/** The verdict's words for a cut row. */
export function describeCut(file: LaserFile): string {
  const cut = file.cut!;
  return `the laser file is cut short: its last row (line ${cut.line}) has ${cut.fields} of ` +
    `${FIELDS} fields, as a save interrupted by a power loss leaves it; the review reads the ` +
    `${plural(file.samples, "whole row")} before it`;
}
