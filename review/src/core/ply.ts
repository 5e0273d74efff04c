// The point cloud as a binary little-endian PLY file: x y z (float, metres), amplitude, distance
// (metres), line (int, from 0), with the transform and the mean GPS position in the header's
// comments.

import { METRES_PER_INCH } from "./geometry";
import type { LaserFile } from "./laser";
import { SAMPLES_PER_LINE } from "./laser";
import { asciiEscaped } from "./text";

const PROPERTIES = ["float x", "float y", "float z", "float amplitude", "float distance", "int line"];
const VERTEX_BYTES = 24;

/** The PLY header: every comment on one line (runs of white space made one blank), the whole
 * header ASCII (other characters written as escapes). */
export function plyHeader(count: number, comments: string[]): string {
  const lines = ["ply", "format binary_little_endian 1.0",
    ...comments.map((c) => "comment " + c.split(/\s+/).filter(Boolean).join(" ")),
    `element vertex ${count}`, ...PROPERTIES.map((p) => "property " + p), "end_header"];
  return asciiEscaped(lines.join("\n") + "\n");
}

/** Points a piece of a written cloud holds: 1.5 MB of PLY vertices, 1.25 MB of LAS points. */
const POINTS_PER_PIECE = 1 << 16;

/** Fixed-size records of points 0 to n - 1, POINTS_PER_PIECE to a piece, so that a writer holds
 * one piece rather than the whole file: `write` fills point i's record at byte `at` of the piece
 * (`view` and `bytes` both over it). */
export function* recordPieces(n: number, recordBytes: number,
  write: (view: DataView, bytes: Uint8Array, at: number, i: number) => void): Generator<Uint8Array> {
  for (let first = 0; first < n; first += POINTS_PER_PIECE) {
    const count = Math.min(POINTS_PER_PIECE, n - first);
    const piece = new Uint8Array(count * recordBytes);
    const view = new DataView(piece.buffer);
    for (let k = 0; k < count; k++) write(view, piece, k * recordBytes, first + k);
    yield piece;
  }
}

/** Pieces (Uint8Arrays) as one. */
export function joined(pieces: Iterable<Uint8Array>): Uint8Array {
  const all = [...pieces];
  const out = new Uint8Array(all.reduce((s, p) => s + p.length, 0));
  let at = 0;
  for (const p of all) {
    out.set(p, at);
    at += p.length;
  }
  return out;
}

/** scan.ply: the points (x y z in metres, one triple per sample of the laser file). */
export function writePly(points: Float32Array, laser: LaserFile, comments: string[]): Uint8Array {
  return joined(plyPieces(points, laser, comments));
}

/** scan.ply in pieces: the header, then the vertices a piece at a time (recordPieces), so a writer
 * holds one piece rather than the whole file. */
export function* plyPieces(points: Float32Array, laser: LaserFile, comments: string[]): Generator<Uint8Array> {
  const n = laser.samples;
  yield new TextEncoder().encode(plyHeader(n, comments));
  yield* recordPieces(n, VERTEX_BYTES, (view, _bytes, at, i) => {
    view.setFloat32(at, points[3 * i], true);
    view.setFloat32(at + 4, points[3 * i + 1], true);
    view.setFloat32(at + 8, points[3 * i + 2], true);
    view.setFloat32(at + 12, laser.amplitude[i], true);
    view.setFloat32(at + 16, laser.distance[i] * METRES_PER_INCH, true);
    view.setInt32(at + 20, Math.floor(i / SAMPLES_PER_LINE), true);
  });
}
