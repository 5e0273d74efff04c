// Geometry round trips: laser rows of known points come out where they belong, and a known tilt
// and heading in the gyro file are taken out in each gyro mode.

import assert from "node:assert/strict";
import { test } from "node:test";
import { buildCloud } from "../src/core/cloud";
import { attitude, IDENTITY, samplePoint, scannerToEnu, type Matrix } from "../src/core/geometry";
import { readGyro } from "../src/core/gyro";
import { readLaser } from "../src/core/laser";
import {
  bytes, gyroText, INCH, laserText, matmul, rotation, sensors, transpose,
} from "./helpers";

/** Scanner (x ahead, y left, z up) to east-north-up, written out independently of the core. */
function scannerToWorld(roll: number, pitch: number, heading: number): number[][] {
  return matmul(matmul([[0, 1, 0], [1, 0, 0], [0, 0, -1]], rotation(roll, pitch, heading)),
    [[1, 0, 0], [0, -1, 0], [0, 0, -1]]);
}

/** Laser rows for scanner-frame points, rounded as the file rounds them, and the points those
 * rounded rows stand for. */
function rowsOf(points: number[][]): { rows: number[][]; exact: number[][] } {
  const rows: number[][] = [], exact: number[][] = [];
  const turn = (v: number) => ((v % (2 * Math.PI)) + 2 * Math.PI) % (2 * Math.PI);
  for (const [x, y, z] of points) {
    const d = Math.hypot(x, y, z);
    const a1 = Number(turn(Math.asin(z / d)).toFixed(4));
    const a2 = Number(turn(Math.atan2(y, x)).toFixed(4));
    const inches = Number((d / INCH).toFixed(2));
    rows.push([inches, 1000, a1, a2]);
    const r = inches * INCH;
    exact.push([r * Math.cos(a1) * Math.cos(a2), r * Math.cos(a1) * Math.sin(a2), r * Math.sin(a1)]);
  }
  return { rows, exact };
}

function near(actual: ArrayLike<number>, expected: number[], tolerance: number, what: string) {
  for (let k = 0; k < expected.length; k++) {
    assert.ok(Math.abs(actual[k] - expected[k]) <= tolerance,
      `${what}[${k}]: ${actual[k]} where ${expected[k]} (within ${tolerance})`);
  }
}

function apply(m: number[][], p: number[]): number[] {
  return m.map((row) => row[0] * p[0] + row[1] * p[1] + row[2] * p[2]);
}

test("without levelling the points are the rows, within 1e-6 m", () => {
  // Ahead, left, up, straight down, over the top and behind, at odd pan angles, far away.
  const rows = [[100, 500, 0, 0], [200, 1, 0, 1.5708], [50.5, 2, 1.5708, 0], [80.25, 3, 4.7124, 2],
    [123.45, 4, 2.5, 4], [321, 5, 3.1416, 0.7854], [2400, 4095, 0.3, 6.2831]];
  const laser = readLaser("laser.txt", bytes(laserText(rows, true)));
  rows.forEach(([d, , a1, a2], i) => {
    const r = d * INCH;
    const point = samplePoint(IDENTITY, laser.distance[i], laser.angle1[i], laser.angle2[i]);
    near(point, [r * Math.cos(a1) * Math.cos(a2), r * Math.cos(a1) * Math.sin(a2), r * Math.sin(a1)],
      1e-6, `row ${i}`);
  });
});

// A room in the world: the floor 1.45 m below the scanner, walls 4 m north and 3 m east.
let seed = 3;
const random = (lo: number, hi: number) => {
  seed = (seed * 1103515245 + 12345) % 2147483648;
  return lo + ((hi - lo) * seed) / 2147483648;
};
const FLOOR = Array.from({ length: 100 }, () => [random(-2, 2.5), random(-2, 3.5), -1.45]);
const NORTH = Array.from({ length: 100 }, () => [random(-2, 2.5), 4, random(-1.4, 1.3)]);
const EAST = Array.from({ length: 100 }, () => [3, random(-2, 3.5), random(-1.4, 1.3)]);

const LEVELLING = [
  { legend: "mode a, counts only", mode: "a", roll: 5, pitch: -3, heading: 30, timed: false },
  { legend: "mode a, a time column", mode: "a", roll: -2, pitch: 7.5, heading: 300, timed: true },
  { legend: "mode c, from gravity and field", mode: "c", roll: 5, pitch: -3, heading: 30, timed: true },
  { legend: "mode c, heading south-west", mode: "c", roll: -4, pitch: 6, heading: 250, timed: false },
  { legend: "mode r, sensor voltages", mode: "r", roll: 3, pitch: 2, heading: 135, timed: true },
] as const;

for (const c of LEVELLING) {
  test(`levelling takes the tilt and heading out: ${c.legend}`, () => {
    const m = scannerToWorld(c.roll, c.pitch, c.heading);
    const world = [...FLOOR, ...NORTH, ...EAST];
    const { rows, exact } = rowsOf(world.map((p) => apply(transpose(m), p)));
    const record = c.mode === "a"
      ? [c.roll, c.pitch, ((c.heading + 180) % 360) - 180, ...sensors("c", c.roll, c.pitch, c.heading)]
      : sensors(c.mode, c.roll, c.pitch, c.heading);
    const times = c.timed ? Array.from({ length: 50 }, (_, k) => k * 0.01) : undefined;
    const gyro = readGyro("gyro.txt", bytes(gyroText(Array(50).fill(record), times)));
    assert.equal(gyro.mode, c.mode);
    const att = attitude(gyro);
    const found = scannerToEnu(att.meanRoll, att.meanPitch, att.meanHeading);
    // The attitude as the file's six decimals of degrees, g and gauss give it.
    near(found, m.flat(), 1e-5, "M");
    const cloud = buildCloud(readLaser("laser.txt", bytes(laserText(rows))), found);
    const rowsM = [found.slice(0, 3), found.slice(3, 6), found.slice(6, 9)];
    exact.forEach((p, i) => {
      const point = cloud.points.subarray(3 * i, 3 * i + 3);
      // M times the rows' own points, to float precision.
      near(point, apply(rowsM, p), 1e-6, `point ${i}`);
      // Level and facing north: each surface where the world has it.
      const [axis, value] = i < 100 ? [2, -1.45] : i < 200 ? [1, 4] : [0, 3];
      assert.ok(Math.abs(point[axis] - value) < 2e-3, `point ${i}: ${point[axis]} where ${value}`);
    });
  });
}

test("the declination turns the heading east and is named", () => {
  const gyro = readGyro("gyro.txt", bytes(gyroText(Array(5).fill([0, 0, 350, ...sensors("c", 0, 0, 350)]))));
  const att = attitude(gyro, 12.5);
  assert.ok(Math.abs((att.meanHeading * 180) / Math.PI - 2.5) < 1e-9);
  assert.match(att.method, /declination \+12\.50 deg$/);
  const expected: Matrix = scannerToEnu(0, 0, (2.5 * Math.PI) / 180);
  near(scannerToEnu(att.meanRoll, att.meanPitch, att.meanHeading), expected, 1e-12, "M");
});
