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

/** scan.ply: the points (x y z in metres, one triple per sample of the laser file). */
export function writePly(points: Float32Array, laser: LaserFile, comments: string[]): Uint8Array {
  const n = laser.samples;
  const header = new TextEncoder().encode(plyHeader(n, comments));
  const out = new Uint8Array(header.length + n * VERTEX_BYTES);
  out.set(header);
  const view = new DataView(out.buffer, header.length);
  for (let i = 0; i < n; i++) {
    const at = i * VERTEX_BYTES;
    view.setFloat32(at, points[3 * i], true);
    view.setFloat32(at + 4, points[3 * i + 1], true);
    view.setFloat32(at + 8, points[3 * i + 2], true);
    view.setFloat32(at + 12, laser.amplitude[i], true);
    view.setFloat32(at + 16, laser.distance[i] * METRES_PER_INCH, true);
    view.setInt32(at + 20, Math.floor(i / SAMPLES_PER_LINE), true);
  }
  return out;
}
