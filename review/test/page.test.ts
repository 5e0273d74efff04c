// The page's pieces that run without a browser: files told apart by their content, and the
// views carried through the text a report holds.

import assert from "node:assert/strict";
import test from "node:test";
import { colour, colourAll, type Scale } from "../src/core/colors";
import { identify } from "../src/core/identify";
import { pack, unpack } from "../src/core/pack";
import { bytes, gga, gyroText, LASER_HEADER, laserText } from "./helpers";

test("a file is told apart by its first bytes", () => {
  const cases = [
    { name: "laser, LF", head: laserText([[100, 900, 0.1, 0.2]]), kind: "laser" },
    { name: "laser, CR LF", head: laserText([[100, 900, 0.1, 0.2]], true), kind: "laser" },
    { name: "laser, header only", head: LASER_HEADER, kind: "laser" },
    { name: "gyro, mode a, timed", head: gyroText([Array(12).fill(0.5)], [0.01]), kind: "gyro" },
    { name: "gyro, mode c", head: gyroText([Array(9).fill(-1.25)]), kind: "gyro" },
    { name: "gps, sentence", head: `0.250000 ${gga(48.1, 11.5)}\n`, kind: "gps" },
    { name: "gps, invalid first", head: "0.100000 #not-nmea 0d0a\n", kind: "gps" },
    { name: "text", head: "hello world\n", kind: null },
    { name: "empty", head: "", kind: null },
  ];
  for (const c of cases) assert.equal(identify(bytes(c.head)), c.kind, c.name);
});

test("views packed into text come back whole: typed arrays, NaN, nesting", () => {
  const value = {
    title: "a </script> in a title",
    image: Float32Array.from([1.5, NaN, -2, 3e30]),
    x: Float64Array.from([0, 1e-12, Math.PI]),
    counts: Int32Array.from([-7, 0, 2 ** 31 - 1]),
    odd: Uint8Array.from([1, 2]), // a length that base64 pads
    nested: [{ mean: NaN, none: null, far: Infinity }],
  };
  const back = unpack<typeof value>(pack(value));
  assert.deepEqual(back, value);
  assert.ok(back.image instanceof Float32Array && back.counts instanceof Int32Array);
});

test("the cloud's colours in one loop are colour()'s bytes, out of range and non-finite values included", () => {
  const cases: { scale: Scale; lo: number; hi: number; values: number[] }[] = [
    { scale: "viridis", lo: 0, hi: 4095, values: [0, 1, 455, 2047.5, 4094, 4095, -3, 5000, NaN, Infinity, -Infinity] },
    { scale: "magma", lo: -2.5, hi: 7.25, values: [-2.5, -1e-9, 0.3, 3.1, 7.2499, 7.25, 9, NaN] },
  ];
  for (const c of cases) {
    const all = new Uint8Array(3 * c.values.length), one = new Uint8Array(3 * c.values.length);
    colourAll(c.scale, c.values, c.lo, c.hi, all);
    c.values.forEach((v, i) => colour(c.scale, (v - c.lo) / (c.hi - c.lo), one, 3 * i));
    assert.deepEqual(all, one, c.scale);
  }
});
