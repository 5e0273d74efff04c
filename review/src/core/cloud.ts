// The beams and the points of a laser file.

import { samplePoint, type Matrix } from "./geometry";
import type { LaserFile } from "./laser";

export interface Cloud {
  azimuth: Float32Array; // degrees, -180 to 180, of each beam in the scanner frame
  elevation: Float32Array; // degrees, -90 to 90
  points: Float32Array; // x y z of each sample, metres, in the output frame
  transform: Matrix; // M: output frame = M scanner frame
}

export function buildCloud(laser: LaserFile, transform: Matrix): Cloud {
  const n = laser.samples;
  const azimuth = new Float32Array(n), elevation = new Float32Array(n);
  const points = new Float32Array(3 * n);
  const deg = 180 / Math.PI;
  for (let i = 0; i < n; i++) {
    const a1 = laser.angle1[i], a2 = laser.angle2[i];
    const c1 = Math.cos(a1);
    azimuth[i] = Math.atan2(c1 * Math.sin(a2), c1 * Math.cos(a2)) * deg;
    elevation[i] = Math.asin(Math.max(-1, Math.min(1, Math.sin(a1)))) * deg;
    samplePoint(transform, laser.distance[i], a1, a2, points, 3 * i);
  }
  return { azimuth, elevation, points, transform };
}
