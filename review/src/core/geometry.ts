// The frames of docs/geometry.md: sample directions in the scanner frame, the attitude from the
// gyro file, and the turn from the scanner frame to east-north-up.

import type { GyroFile } from "./gyro";
import { fixed } from "./text";

export const METRES_PER_INCH = 0.0254;
export const EARTH_RADIUS = 6371008.8; // metres, the mean radius

// Mode r: every channel sits at 2.5 V at rest and swings 2 V at full scale (gyro 150 deg/s,
// accelerometer 6 g, magnetometer 1.5 gauss: the unit's ranges x 1.5).
const VOLTS_CENTRE = 2.5;
const VOLTS_SWING = 2.0;
const FULL_SCALE = [150, 150, 150, 6, 6, 6, 1.5, 1.5, 1.5];

/** A 3 x 3 matrix by rows. */
export type Matrix = [number, number, number, number, number, number, number, number, number];

export const IDENTITY: Matrix = [1, 0, 0, 0, 1, 0, 0, 0, 1];

export function multiply(a: Matrix, b: Matrix): Matrix {
  const out = new Array(9).fill(0) as Matrix;
  for (let r = 0; r < 3; r++) {
    for (let c = 0; c < 3; c++) {
      out[3 * r + c] = a[3 * r] * b[c] + a[3 * r + 1] * b[3 + c] + a[3 * r + 2] * b[6 + c];
    }
  }
  return out;
}

/** C = Rz(heading) Ry(pitch) Rx(roll), radians: p_ned = C p_body. */
export function bodyToNed(roll: number, pitch: number, heading: number): Matrix {
  const [cr, sr, cp, sp, ch, sh] = [Math.cos(roll), Math.sin(roll), Math.cos(pitch),
    Math.sin(pitch), Math.cos(heading), Math.sin(heading)];
  const rx: Matrix = [1, 0, 0, 0, cr, -sr, 0, sr, cr];
  const ry: Matrix = [cp, 0, sp, 0, 1, 0, -sp, 0, cp];
  const rz: Matrix = [ch, -sh, 0, sh, ch, 0, 0, 0, 1];
  return multiply(rz, multiply(ry, rx));
}

// Scanner frame (x ahead, y left, z up) to the AHRS body frame (X ahead, Y right, Z down).
const SCANNER_TO_BODY: Matrix = [1, 0, 0, 0, -1, 0, 0, 0, -1];
// North-east-down to east-north-up.
const NED_TO_ENU: Matrix = [0, 1, 0, 1, 0, 0, 0, 0, -1];

/** M with p_enu = M p_scanner, for the attitude in radians. */
export function scannerToEnu(roll: number, pitch: number, heading: number): Matrix {
  return multiply(NED_TO_ENU, multiply(bodyToNed(roll, pitch, heading), SCANNER_TO_BODY));
}

/** The point a sample measured, in metres in the frame M turns the scanner frame into:
 * M (distance x 0.0254) (cos a1 cos a2, cos a1 sin a2, sin a1). */
export function samplePoint(m: Matrix, inches: number, angle1: number, angle2: number,
  out: Float64Array | Float32Array = new Float64Array(3), at = 0): Float64Array | Float32Array {
  // The unit vector first, then its length: scan.ply's float32 values have always been computed
  // in this order, so a run reviewed again gives the same bytes.
  const d = inches * METRES_PER_INCH;
  const c1 = Math.cos(angle1);
  const x = c1 * Math.cos(angle2) * d, y = c1 * Math.sin(angle2) * d, z = Math.sin(angle1) * d;
  out[at] = m[0] * x + m[1] * y + m[2] * z;
  out[at + 1] = m[3] * x + m[4] * y + m[5] * z;
  out[at + 2] = m[6] * x + m[7] * y + m[8] * z;
  return out;
}

/** Roll and pitch (radians) from the specific force of a unit at rest. */
export function tilt(fx: number, fy: number, fz: number): [number, number] {
  return [Math.atan2(-fy, -fz), Math.atan2(fx, Math.hypot(fy, fz))];
}

/** Heading (radians, -pi to pi, clockwise from magnetic north) from the field in the body axes,
 * tilt-compensated with roll and pitch. */
export function magneticHeading(mx: number, my: number, mz: number, roll: number,
  pitch: number): number {
  const cr = Math.cos(roll), sr = Math.sin(roll), cp = Math.cos(pitch), sp = Math.sin(pitch);
  const hx = mx * cp + (my * sr + mz * cr) * sp;
  const hy = my * cr - mz * sr;
  return Math.atan2(-hy, hx);
}

export function circularMean(angles: ArrayLike<number>): number {
  let s = 0, c = 0;
  for (let i = 0; i < angles.length; i++) {
    s += Math.sin(angles[i]);
    c += Math.cos(angles[i]);
  }
  return Math.atan2(s / angles.length, c / angles.length);
}

/** The circular standard deviation (radians). */
export function circularSpread(angles: ArrayLike<number>): number {
  let s = 0, c = 0;
  for (let i = 0; i < angles.length; i++) {
    s += Math.sin(angles[i]);
    c += Math.cos(angles[i]);
  }
  const r = Math.hypot(s / angles.length, c / angles.length);
  return Math.sqrt(-2 * Math.log(Math.max(Math.min(r, 1), 1e-300)));
}

/** The attitude of every record (radians) and the mean the scan is levelled with. */
export interface Attitude {
  roll: Float64Array;
  pitch: Float64Array;
  heading: Float64Array; // magnetic, -pi to pi
  rates: Float64Array[]; // body rates x, y, z, deg/s
  meanRoll: number;
  meanPitch: number;
  meanHeading: number; // declination added, -pi to pi
  method: string; // how it was found, for the summary and the PLY header
}

/** Each record's attitude and the mean attitude of a gyro file; declination in degrees east. */
export function attitude(gyro: GyroFile, declinationDeg = 0): Attitude {
  const n = gyro.records;
  // The nine channels in deg/s, g and gauss: mode r's voltages converted.
  const units = gyro.sensors.map((channel, k) => gyro.mode === "r"
    ? channel.map((v) => ((v - VOLTS_CENTRE) / VOLTS_SWING) * FULL_SCALE[k]) : channel);
  const roll = new Float64Array(n), pitch = new Float64Array(n), heading = new Float64Array(n);
  let meanRoll: number, meanPitch: number, meanHeading: number, method: string;
  const rad = Math.PI / 180;
  if (gyro.mode === "a") {
    const [r, p, h] = gyro.angles!;
    for (let i = 0; i < n; i++) {
      roll[i] = r[i] * rad;
      pitch[i] = p[i] * rad;
      heading[i] = h[i] * rad;
    }
    meanRoll = circularMean(roll);
    meanPitch = circularMean(pitch);
    meanHeading = circularMean(heading);
    method = "mean of the unit's roll, pitch and yaw (mode a)";
  } else {
    const mean = [0, 0, 0, 0, 0, 0];
    for (let i = 0; i < n; i++) {
      const f = [units[3][i], units[4][i], units[5][i]];
      const m = [units[6][i], units[7][i], units[8][i]];
      [roll[i], pitch[i]] = tilt(f[0], f[1], f[2]);
      heading[i] = magneticHeading(m[0], m[1], m[2], roll[i], pitch[i]);
      for (let k = 0; k < 6; k++) mean[k] += units[3 + k][i] / n;
    }
    [meanRoll, meanPitch] = tilt(mean[0], mean[1], mean[2]);
    meanHeading = magneticHeading(mean[3], mean[4], mean[5], meanRoll, meanPitch);
    method = "roll and pitch from the mean gravity vector, heading from the mean magnetic " +
      `field, tilt-compensated (mode ${gyro.mode})`;
  }
  if (declinationDeg) method += `, declination ${declinationDeg >= 0 ? "+" : ""}${fixed(declinationDeg, 2)} deg`;
  const turned = meanHeading + declinationDeg * rad;
  meanHeading = Math.atan2(Math.sin(turned), Math.cos(turned));
  return {
    roll, pitch, heading, rates: units.slice(0, 3), meanRoll, meanPitch, meanHeading, method,
  };
}

/** East and north (metres) of a position from (lat0, lon0), degrees, on the sphere of the mean
 * radius: good to millimetres over the few hundred metres of a site. */
export function localMetres(lat: number, lon: number, lat0: number, lon0: number): [number, number] {
  const rad = Math.PI / 180;
  return [EARTH_RADIUS * (lon - lon0) * rad * Math.cos(lat0 * rad), EARTH_RADIUS * (lat - lat0) * rad];
}
