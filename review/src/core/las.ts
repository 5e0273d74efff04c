// The point cloud as a LAS 1.2 file of point data format 0, the form every survey and GIS tool
// opens: x y z as scaled integers, intensity from the amplitude, the laser line as the point
// source id, and with a projected frame the coordinate system as a GeoKeyDirectoryTag record.

import { SAMPLES_PER_LINE } from "./laser";
import { joined, recordPieces } from "./ply";

export const LAS_SCALE = 0.001; // metres: millimetre integers
const HEADER_BYTES = 227; // LAS 1.2 public header block
const VLR_HEADER_BYTES = 54;
const POINT_BYTES = 20; // point data format 0
// Amplitude 0 to 4095 (12 bits) spread over the 16 bits of the intensity field.
export const INTENSITY_PER_AMPLITUDE = 16;

/** How the points are placed: in metres east, north and up around an origin (or the scanner
 * frame), and, with a projected coordinate system, how that frame lands on its grid. */
export interface LasFrame {
  epsg: number | null; // a projected system (UTM on WGS 84), null for a local frame
  origin: [number, number, number]; // the frame's origin in the file's coordinates
  // Metres east and north on the ground to metres of the grid, by rows (identity for local).
  ground: [number, number, number, number];
}

export interface LasInput {
  points: Float32Array; // x y z per point, metres, in the local frame (east, north, up)
  amplitude: Float32Array; // 0 to 4095
  frame: LasFrame;
  software: string; // the generating software, at most 31 characters
  created: Date | null; // the file's creation day, null: not given
}

function ascii(view: Uint8Array, at: number, width: number, text: string): void {
  for (let i = 0; i < Math.min(text.length, width - 1); i++) view[at + i] = text.charCodeAt(i) & 0x7f;
}

function dayOfYear(date: Date): number {
  return Math.floor((Date.UTC(date.getUTCFullYear(), date.getUTCMonth(), date.getUTCDate()) -
    Date.UTC(date.getUTCFullYear(), 0, 1)) / 86400000) + 1;
}

/** The GeoKeyDirectoryTag of a projected system given by its EPSG code: model type projected,
 * raster type pixel is area, the projected CS, and metres horizontally and vertically. */
export function geoKeys(epsg: number): Uint16Array {
  const keys = [
    [1024, 0, 1, 1], // GTModelTypeGeoKey: projected
    [1025, 0, 1, 1], // GTRasterTypeGeoKey: pixel is area
    [3072, 0, 1, epsg], // ProjectedCSTypeGeoKey
    [3076, 0, 1, 9001], // ProjLinearUnitsGeoKey: metre
    [4099, 0, 1, 9001], // VerticalUnitsGeoKey: metre
  ];
  return Uint16Array.from([1, 1, 0, keys.length, ...keys.flat()]);
}

/** scan.las. */
export function writeLas(input: LasInput): Uint8Array {
  return joined(lasPieces(input));
}

/** scan.las in pieces: the header (with the bounds, from a first pass over the points), then
 * the points a piece at a time (recordPieces), so a writer holds one piece rather than the whole
 * file. */
export function* lasPieces(input: LasInput): Generator<Uint8Array> {
  const { points, amplitude, frame } = input;
  const n = amplitude.length;
  const keys = frame.epsg !== null ? geoKeys(frame.epsg) : null;
  const vlrBytes = keys ? VLR_HEADER_BYTES + keys.byteLength : 0;
  const offsetToPoints = HEADER_BYTES + vlrBytes;

  // Offsets: the origin to whole metres, so the integers stay small and the header readable.
  const offset = frame.origin.map((v) => Math.round(v));
  const [g0, g1, g2, g3] = frame.ground;
  const xyz = [0, 0, 0];
  /** The scaled integers of point i, into xyz. */
  const scaled = (i: number) => {
    const e = points[3 * i], nn = points[3 * i + 1], u = points[3 * i + 2];
    xyz[0] = Math.round((frame.origin[0] + g0 * e + g1 * nn - offset[0]) / LAS_SCALE);
    xyz[1] = Math.round((frame.origin[1] + g2 * e + g3 * nn - offset[1]) / LAS_SCALE);
    xyz[2] = Math.round((frame.origin[2] + u - offset[2]) / LAS_SCALE);
  };
  const lo = [Infinity, Infinity, Infinity], hi = [-Infinity, -Infinity, -Infinity];
  for (let i = 0; i < n; i++) {
    scaled(i);
    for (let k = 0; k < 3; k++) {
      const stored = xyz[k] * LAS_SCALE + offset[k];
      if (stored < lo[k]) lo[k] = stored;
      if (stored > hi[k]) hi[k] = stored;
    }
  }
  if (n === 0) lo.fill(0), hi.fill(0);

  const out = new Uint8Array(offsetToPoints);
  const view = new DataView(out.buffer);
  ascii(out, 0, 5, "LASF");
  // File source id, global encoding and the project GUID stay 0.
  out[24] = 1; // version 1.2
  out[25] = 2;
  ascii(out, 26, 32, "OTHER");
  ascii(out, 58, 32, input.software);
  if (input.created) {
    view.setUint16(90, dayOfYear(input.created), true);
    view.setUint16(92, input.created.getUTCFullYear(), true);
  }
  view.setUint16(94, HEADER_BYTES, true);
  view.setUint32(96, offsetToPoints, true);
  view.setUint32(100, keys ? 1 : 0, true); // variable length records
  out[104] = 0; // point data format 0
  view.setUint16(105, POINT_BYTES, true);
  view.setUint32(107, n, true);
  view.setUint32(111, n, true); // points by return: all first returns
  for (let k = 0; k < 3; k++) {
    view.setFloat64(131 + 8 * k, LAS_SCALE, true);
    view.setFloat64(155 + 8 * k, offset[k], true);
    view.setFloat64(179 + 16 * k, hi[k], true);
    view.setFloat64(187 + 16 * k, lo[k], true);
  }
  if (keys) {
    const at = HEADER_BYTES;
    // The record's first two bytes are reserved (0).
    ascii(out, at + 2, 17, "LASF_Projection");
    view.setUint16(at + 18, 34735, true);
    view.setUint16(at + 20, keys.byteLength, true);
    ascii(out, at + 22, 32, `EPSG ${frame.epsg}`);
    keys.forEach((v, k) => view.setUint16(at + VLR_HEADER_BYTES + 2 * k, v, true));
  }
  yield out;

  yield* recordPieces(n, POINT_BYTES, (view, bytes, at, i) => {
    scaled(i);
    view.setInt32(at, xyz[0], true);
    view.setInt32(at + 4, xyz[1], true);
    view.setInt32(at + 8, xyz[2], true);
    const intensity = Math.round(Math.max(0, amplitude[i]) * INTENSITY_PER_AMPLITUDE);
    view.setUint16(at + 12, Math.min(intensity, 65535), true);
    bytes[at + 14] = 1 | (1 << 3); // return 1 of 1, scan direction and edge 0
    // Classification (created, never classified), scan angle rank and user data stay 0.
    view.setUint16(at + 18, Math.floor(i / SAMPLES_PER_LINE), true); // point source id: the line
  });
}
