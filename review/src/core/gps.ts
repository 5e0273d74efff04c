// The GPS file: one line per NMEA sentence as "<seconds> <sentence>", an invalid stretch as
// "<seconds> #<reason> <bytes>", sentences the logger could not keep as "<seconds> #lost <n>".

import { InputError } from "./errors";
import { anyNumber, latin1, shown } from "./text";

export const INVALID_REASONS = ["checksum", "no-checksum", "too-long", "no-end", "not-nmea"];

/** GGA fix quality as the receiver reports it. */
export const FIX_QUALITY: Record<number, string> = {
  0: "no fix", 1: "GPS", 2: "DGPS", 3: "PPS", 4: "RTK fixed", 5: "RTK float",
  6: "dead reckoning", 7: "manual", 8: "simulation",
};

export interface GpsFile {
  name: string;
  present: boolean; // false: no GPS file
  lines: number; // whole lines read
  sentences: number; // valid sentences
  kinds: Map<string, number>; // sentence type (GGA, RMC, ...) -> count, in order of appearance
  invalid: Map<string, number>; // reason -> count
  badChecksumInFile: number; // lines written as valid whose checksum does not match
  lost: number; // sentences the logger could not keep (#lost n)
  // Invalid lines that only the recording's start or end cut short: a first line of bytes that
  // began before the port opened, a last sentence the end of the run cut.
  cutAtEnds: number;
  lineTime: Float64Array; // every line's clock
  // One entry per position report (GGA, or RMC where the file has no GGA):
  time: Float64Array; // program clock, s
  quality: Int32Array;
  lat: Float64Array; // degrees, NaN: none
  lon: Float64Array;
  alt: Float64Array; // metres above mean sea level (GGA), NaN: none
  hdop: Float64Array;
  satellites: Float64Array;
  positionFrom: "GGA" | "RMC" | "";
  cut: { line: number; text: string } | null; // a last line without its line end, left out
}

export function fixed(gps: GpsFile, i: number): boolean {
  return gps.quality[i] > 0 && Number.isFinite(gps.lat[i]) && Number.isFinite(gps.lon[i]);
}

export function invalidTotal(gps: GpsFile): number {
  let total = gps.badChecksumInFile;
  for (const n of gps.invalid.values()) total += n;
  return total;
}

function checksumOk(sentence: string): boolean {
  const star = sentence.lastIndexOf("*");
  if (star < 1 || sentence.length !== star + 3) return false;
  const hex = sentence.slice(star + 1);
  if (!/^[0-9A-Fa-f]{2}$/.test(hex)) return false;
  let total = 0;
  for (let i = 1; i < star; i++) total ^= sentence.charCodeAt(i);
  return total === parseInt(hex, 16);
}

/** ddmm.mmmm (or dddmm.mmmm) and N/S/E/W to signed degrees, the degrees being what stands
 * before the minutes' two whole digits (a longitude without its leading zero reads the same);
 * NaN when empty or not a position within limit degrees. */
function degrees(value: string, hemisphere: string, limit: number): number {
  const number = anyNumber(value);
  if (Number.isNaN(number)) return NaN;
  let whole = Math.floor(number / 100);
  const minutes = number - whole * 100;
  whole += minutes / 60;
  if (!["N", "S", "E", "W"].includes(hemisphere) || minutes >= 60 || !(whole >= 0 && whole <= limit)) {
    return NaN;
  }
  return hemisphere === "S" || hemisphere === "W" ? -whole : whole;
}

function empty(name: string, present: boolean): GpsFile {
  return {
    name, present, lines: 0, sentences: 0, kinds: new Map(), invalid: new Map(),
    badChecksumInFile: 0, lost: 0, cutAtEnds: 0, lineTime: new Float64Array(0),
    time: new Float64Array(0), quality: new Int32Array(0), lat: new Float64Array(0),
    lon: new Float64Array(0), alt: new Float64Array(0), hdop: new Float64Array(0),
    satellites: new Float64Array(0), positionFrom: "", cut: null,
  };
}

/** Reads a GPS file; bytes null: there is none, which is no error. A last line without its line
 * end (a write cut short) is left out and described in `cut`; a line that is none of the three
 * kinds throws InputError naming it. */
export function readGps(name: string, bytes: Uint8Array | null): GpsFile {
  if (bytes === null) return empty(name, false);
  const gps = empty(name, true);
  const rows = latin1(bytes).split("\n");
  const tail = rows.pop()!;
  if (tail !== "") gps.cut = { line: rows.length + 1, text: shown(tail) };
  const expected = "expected '<seconds> $<sentence>*HH', '<seconds> #<reason> <bytes>' or " +
    "'<seconds> #lost <n>'";
  const reports: number[][] = [];
  const rmc: number[][] = [];
  let anyGga = false;
  const times = new Float64Array(rows.length);
  rows.forEach((row, k) => {
    const line = k + 1;
    const blank = row.indexOf(" ");
    const stamp = blank < 0 ? row : row.slice(0, blank);
    const rest = blank < 0 ? "" : row.slice(blank + 1);
    const seconds = anyNumber(stamp);
    if (blank < 0 || !Number.isFinite(seconds)) {
      throw new InputError(name, line, `${expected}; found ${shown(row)}`);
    }
    times[k] = seconds;
    if (rest.startsWith("#")) {
      const space = rest.indexOf(" ");
      const reason = space < 0 ? rest.slice(1) : rest.slice(1, space);
      const detail = space < 0 ? "" : rest.slice(space + 1);
      if (reason === "lost") {
        if (!/^\s*[+-]?\d+\s*$/.test(detail)) {
          throw new InputError(name, line, `'#lost' takes a count of sentences; found ${shown(row)}`);
        }
        gps.lost += parseInt(detail, 10);
      } else if (INVALID_REASONS.includes(reason)) {
        gps.invalid.set(reason, (gps.invalid.get(reason) ?? 0) + 1);
        if ((line === 1 && (reason === "no-end" || reason === "not-nmea")) ||
          (line === rows.length && line > 1 && reason === "no-end")) {
          gps.cutAtEnds++;
        }
      } else {
        throw new InputError(name, line, `unknown reason '#${reason}': expected one of ` +
          `${INVALID_REASONS.join(", ")} or lost`);
      }
      return;
    }
    if (rest[0] !== "$" && rest[0] !== "!") {
      throw new InputError(name, line, `${expected}; found ${shown(row)}`);
    }
    if (!checksumOk(rest)) {
      gps.badChecksumInFile++;
      return;
    }
    gps.sentences++;
    const body = rest.slice(1, rest.lastIndexOf("*")).split(",");
    const kind = body[0].length === 5 ? body[0].slice(2) : body[0];
    gps.kinds.set(kind, (gps.kinds.get(kind) ?? 0) + 1);
    if (kind === "GGA" && body.length >= 10) {
      anyGga = true;
      reports.push([seconds, body[6] ? anyNumber(body[6]) : 0, degrees(body[2], body[3], 90),
        degrees(body[4], body[5], 180), anyNumber(body[9]), anyNumber(body[8]),
        anyNumber(body[7])]);
    } else if (kind === "RMC" && body.length >= 7) {
      rmc.push([seconds, body[2] === "A" ? 1 : 0, degrees(body[3], body[4], 90),
        degrees(body[5], body[6], 180), NaN, NaN, NaN]);
    }
  });
  gps.lines = rows.length;
  gps.lineTime = times;
  const table = anyGga ? reports : rmc;
  gps.positionFrom = anyGga ? "GGA" : rmc.length ? "RMC" : "";
  const column = (c: number) => Float64Array.from(table, (r) => r[c]);
  gps.time = column(0);
  gps.quality = Int32Array.from(table, (r) => (Number.isFinite(r[1]) ? Math.trunc(r[1]) : 0));
  gps.lat = column(2);
  gps.lon = column(3);
  gps.alt = column(4);
  gps.hdop = column(5);
  gps.satellites = column(6);
  return gps;
}

/** The verdict's words for a cut line. */
export function describeGpsCut(gps: GpsFile): string {
  const cut = gps.cut!;
  return `the GPS file is cut short: its last line (line ${cut.line}) has no line end ` +
    `(${cut.text}); the review reads the ${gps.lines} whole lines before it`;
}
