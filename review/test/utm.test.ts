// The UTM projection at points whose grid coordinates are published, and the zone chosen for a
// position, exceptions included.

import assert from "node:assert/strict";
import { test } from "node:test";
import { gridAt, toUtm, utmZone } from "../src/core/utm";

const KNOWN = [
  // On a central meridian at the equator: the false easting, northing 0 by definition.
  { legend: "equator, zone 31 centre", lat: 0, lon: 3, epsg: 32631, e: 500000, n: 0 },
  // 45 N on the central meridian: 0.9996 x the meridian arc of WGS 84 to 45 deg.
  { legend: "45 N, central meridian", lat: 45, lon: 3, epsg: 32631, e: 500000, n: 4982950.4 },
  // The same south of the equator: 10,000 km false northing less the same arc.
  { legend: "45 S, central meridian", lat: -45, lon: 3, epsg: 32731, e: 500000, n: 5017049.6 },
  // The worked example of a widely used geodesic library's converter: 38N 444140.54 3684706.36.
  { legend: "33.3 N 44.4 E", lat: 33.3, lon: 44.4, epsg: 32638, e: 444140.54, n: 3684706.36 },
];

for (const c of KNOWN) {
  test(`UTM at a known point: ${c.legend}`, () => {
    const zone = utmZone(c.lat, c.lon)!;
    assert.equal(zone.epsg, c.epsg);
    const [e, n] = toUtm(zone, c.lat, c.lon);
    assert.ok(Math.abs(e - c.e) < 0.01 && Math.abs(n - c.n) < 0.01, `${e} ${n}`);
  });
}

test("UTM zones: edges, south-west Norway, Svalbard, and none near the poles", () => {
  const cases: [number, number, number | null][] = [
    [10, -180, 32601], [10, 179.99, 32660], [-10, -0.01, 32730], [10, 0, 32631],
    [60, 5, 32632], [60, 2.9, 32631], [78, 15, 32633], [78, 8.9, 32631], [85, 0, null],
    [-81, 0, null],
  ];
  for (const [lat, lon, epsg] of cases) {
    assert.equal(utmZone(lat, lon)?.epsg ?? null, epsg, `${lat} ${lon}`);
  }
});

test("the ground-to-grid turn holds the convergence and the scale", () => {
  // 33.3 N 44.4 E lies 0.6 deg west of its zone's central meridian (45 E): there true north
  // leans east of grid north by about 0.6 deg x sin(33.3 deg).
  const zone = utmZone(33.3, 44.4)!;
  const [a, b, c, d] = gridAt(zone, 33.3, 44.4).ground;
  const scale = Math.hypot(a, c);
  const convergence = (Math.atan2(b, d) * 180) / Math.PI;
  assert.ok(Math.abs(scale - Math.hypot(b, d)) < 1e-9, "the same scale both ways");
  assert.ok(Math.abs(a - d) < 1e-9 && Math.abs(b + c) < 1e-9, "a rotation and a scale");
  assert.ok(scale > 0.9996 && scale < 0.9997, `scale ${scale}`);
  assert.ok(Math.abs(convergence - 0.6 * Math.sin((33.3 * Math.PI) / 180)) < 1e-3, `${convergence}`);
});
