// The review of a run: the three files read, the points computed, the verdict made and the
// outputs written, bytes in and bytes out, so the command line and the page share it whole.

import { buildCloud } from "./cloud";
import { InputError } from "./errors";
import { attitude, IDENTITY, scannerToEnu, type Attitude, type Matrix } from "./geometry";
import { describeGpsCut, readGps } from "./gps";
import { describeGyroCut, readGyro, type Mode } from "./gyro";
import { lasPieces, type LasFrame } from "./las";
import { describeCut, readLaser, type LaserFile } from "./laser";
import { joined, plyPieces } from "./ply";
import { fixed } from "./text";
import { gridAt, utmZone } from "./utm";
import { attitudeView, gpsView, panorama, plan, type Views } from "./views";
import {
  altitude, GPS_CUT, GYRO_CUT, LASER_CUT, NOTE_FRAME, NOTE_LAS, reviewGps,
  reviewGyro, reviewLaser, Summary, type GpsFigures,
} from "./verdict";

/** A file handed to the review: its name as the user gave it, and its bytes. */
export interface InputFile {
  name: string;
  bytes: Uint8Array;
}

/** An output: its name and functions that write its bytes, called when it is wanted, so a
 * caller that stores each before asking for the next holds one at a time: make gives them
 * whole, pieces a piece at a time (a file writer then holds one piece). */
export interface OutputFile {
  name: string;
  make: () => Uint8Array;
  pieces: () => Iterable<Uint8Array>;
}

function output(name: string, pieces: () => Iterable<Uint8Array>): OutputFile {
  return { name, pieces, make: () => joined(pieces()) };
}

export interface ReviewOptions {
  mode: Mode | null; // the gyro file's mode, null: told from the records
  noLevel: boolean; // leave the points in the scanner frame
  declination: number; // degrees east, added to the heading
  skip: Set<string>; // outputs left out: "ply", "las" (the pictures are the caller's)
  created: Date | null; // the day written into scan.las, null: none
  views?: boolean; // also compute what the pictures and the page show
}

export const SOFTWARE = "morvane-review";

export interface ReviewResult {
  headline: string;
  summary: Summary;
  files: OutputFile[]; // in the order they are put in place
  views: Views | null; // with options.views
}

/** The laser file read ahead by the caller a chunk at a time (LaserReader), so its text is never
 * held whole: the columns, or the InputError the reading threw, which the review throws where
 * it reads the laser file (after the gyro and GPS files, whose errors come first). */
export interface ReadLaser {
  name: string;
  read: LaserFile | InputError;
}

/** The review of a run. gps: null when no GPS file was given; bytes null when the named file
 * is not there (no error: the review leaves GPS out). Throws InputError for a file that is not
 * what the review expects. Each file's bytes are let go once read (its bytes are emptied), so
 * the inputs are not held beside the columns and outputs made from them. */
export function review(laserFile: InputFile | ReadLaser, gyroFile: InputFile,
  gpsFile: { name: string; bytes: Uint8Array | null } | null, options: ReviewOptions): ReviewResult {
  const summary = new Summary();
  const gyro = readGyro(gyroFile.name, gyroFile.bytes, options.mode);
  gyroFile.bytes = new Uint8Array(0);
  const gps = readGps(gpsFile?.name ?? "", gpsFile?.bytes ?? null);
  if (gpsFile?.bytes) gpsFile.bytes = new Uint8Array(0);
  const att = attitude(gyro, options.declination);
  const gyroFigures = reviewGyro(gyro, att, summary);
  if (gyro.cut) summary.problem(GYRO_CUT, describeGyroCut(gyro));
  const gpsFigures = reviewGps(gps, summary);
  if (gps.cut) summary.problem(GPS_CUT, describeGpsCut(gps));

  let laser: LaserFile;
  if ("bytes" in laserFile) {
    laser = readLaser(laserFile.name, laserFile.bytes);
    laserFile.bytes = new Uint8Array(0);
  } else if (laserFile.read instanceof InputError) {
    throw laserFile.read;
  } else {
    laser = laserFile.read;
  }
  const transform: Matrix = options.noLevel ? IDENTITY
    : scannerToEnu(att.meanRoll, att.meanPitch, att.meanHeading);
  const cloud = buildCloud(laser, transform);
  const laserFigures = reviewLaser(laser, cloud.azimuth, cloud.elevation, summary);
  if (laser.cut) summary.problem(LASER_CUT, describeCut(laser));
  if (options.noLevel) summary.note(NOTE_FRAME, "the point cloud is left in the scanner frame (--no-level)");

  const files: OutputFile[] = [];
  const las = laserFigures !== null && !options.skip.has("las")
    ? lasFrame(options.noLevel, gpsFigures, summary) : null;
  const text = summary.text();
  files.push(output("summary.txt", () => [new TextEncoder().encode(text)]));
  if (laserFigures !== null && !options.skip.has("ply")) {
    const comments = plyComments(laserFile.name, laser, options.noLevel, att, transform, gpsFigures);
    files.push(output("scan.ply", () => plyPieces(cloud.points, laser, comments)));
  }
  if (las !== null) {
    files.push(output("scan.las", () => lasPieces({
      points: cloud.points, amplitude: laser.amplitude, frame: las, software: SOFTWARE,
      created: options.created,
    })));
  }
  let views: Views | null = null;
  if (options.views) {
    views = {
      headline: summary.headline, problems: summary.problems.map((f) => f.text),
      notes: summary.notes.map((f) => f.text), summaryText: text,
      panorama: laserFigures && panorama(laser, cloud.azimuth, cloud.elevation, laserFigures.panStep),
      plan: laser.samples ? plan(cloud.points, !options.noLevel) : null,
      cloud: laser.samples ? {
        points: cloud.points, amplitude: laser.amplitude, levelled: !options.noLevel,
      } : null,
      attitude: gyro.records ? attitudeView(gyro, att, gyroFigures.gaps) : null,
      gps: gpsView(gps, gpsFigures),
    };
  }
  return { headline: summary.headline, summary, files, views };
}

/** Where scan.las puts the points: with a fix and levelled points, the UTM grid of the mean
 * position with the origin at the mean fix and its altitude; otherwise the local frame, which the
 * verdict notes. Adds the grid to the GPS figures. */
function lasFrame(noLevel: boolean, gps: GpsFigures | null, summary: Summary): LasFrame {
  const local: LasFrame = { epsg: null, origin: [0, 0, 0], ground: [1, 0, 0, 1] };
  const frame = noLevel ? "the scanner frame (--no-level)" : "the local levelled frame";
  if (gps === null) {
    summary.note(NOTE_LAS, `scan.las is in ${frame}, metres from the scanner, with no ` +
      "coordinate system: there is no GPS fix");
    return local;
  }
  const zone = utmZone(gps.meanLat, gps.meanLon);
  if (zone === null || noLevel) {
    summary.note(NOTE_LAS, `scan.las is in ${frame}, metres from the scanner, with no ` +
      "coordinate system: " + (noLevel ? "the points are not levelled and turned to north"
        : "the mean position lies outside the UTM zones (80 S to 84 N)"));
    return local;
  }
  const grid = gridAt(zone, gps.meanLat, gps.meanLon);
  const height = Number.isFinite(gps.meanAlt) ? gps.meanAlt : 0;
  if (!Number.isFinite(gps.meanAlt)) {
    summary.note(NOTE_LAS, "scan.las: the GPS reports carry no altitude, so z is the height " +
      "above the scanner");
  }
  summary.note(NOTE_LAS, `scan.las is in UTM zone ${zone.zone}${zone.south ? "S" : "N"} ` +
    `(WGS 84, EPSG ${zone.epsg}): the scanner at E ${fixed(grid.easting, 3)}, ` +
    `N ${fixed(grid.northing, 3)}, z ${altitude(gps.meanAlt, 3)} (the mean fix)`);
  return { epsg: zone.epsg, origin: [grid.easting, grid.northing, height], ground: grid.ground };
}

/** The PLY header's comments: what the file is, its frame and transform, the mean GPS position. */
export function plyComments(laserName: string, laser: LaserFile, noLevel: boolean, att: Attitude,
  transform: Matrix, gps: GpsFigures | null): string[] {
  const deg = 180 / Math.PI;
  const base = laserName.split(/[\\/]/).pop();
  const comments = [`morvane-review point cloud of ${base}, ${laser.samples} samples`];
  if (noLevel) {
    comments.push("frame scanner: x ahead, y left, z up, metres, origin at the scanner (not levelled)");
  } else {
    comments.push("frame east north up, metres, origin at the scanner");
    const sign = (v: number) => (v >= 0 ? "+" : "") + fixed(v, 4);
    comments.push(`levelled roll ${sign(att.meanRoll * deg)} pitch ${sign(att.meanPitch * deg)} ` +
      `heading ${fixed((((att.meanHeading * deg) % 360) + 360) % 360, 4)} deg: ${att.method}`);
  }
  for (let r = 0; r < 3; r++) {
    comments.push(`transform row${r + 1} ` + transform.slice(3 * r, 3 * r + 3).map((v) => fixed(v, 9)).join(" "));
  }
  comments.push("transform: point = M . (distance x 0.0254 m) . (cos a1 cos a2, cos a1 sin a2, " +
    "sin a1), M by rows above; see docs/geometry.md");
  comments.push(gps ? `gps mean latitude ${fixed(gps.meanLat, 8)} longitude ${fixed(gps.meanLon, 8)} ` +
    `altitude ${altitude(gps.meanAlt, 3)}` : "gps none");
  comments.push("amplitude 0 to 4095; distance in metres; line: the laser line of 5000 samples, from 0");
  return comments;
}
