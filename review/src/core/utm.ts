// The UTM projection of a position (WGS 84) with proj4, and the local turn from metres east,
// north and up around a position to the UTM grid there.

import proj4 from "proj4";

export interface UtmZone {
  zone: number; // 1 to 60
  south: boolean;
  epsg: number; // 326zz north, 327zz south
}

/** The zone of a position in degrees, with the exceptions for south-west Norway and Svalbard;
 * null outside the latitudes UTM covers (80 S to 84 N). */
export function utmZone(lat: number, lon: number): UtmZone | null {
  if (!(lat >= -80 && lat <= 84) || !Number.isFinite(lon)) return null;
  const wrapped = ((((lon + 180) % 360) + 360) % 360) - 180;
  let zone = Math.min(Math.floor((wrapped + 180) / 6) + 1, 60);
  if (lat >= 56 && lat < 64 && wrapped >= 3 && wrapped < 12) zone = 32;
  if (lat >= 72) {
    if (wrapped >= 0 && wrapped < 9) zone = 31;
    else if (wrapped >= 9 && wrapped < 21) zone = 33;
    else if (wrapped >= 21 && wrapped < 33) zone = 35;
    else if (wrapped >= 33 && wrapped < 42) zone = 37;
  }
  const south = lat < 0;
  return { zone, south, epsg: (south ? 32700 : 32600) + zone };
}

function converter(zone: UtmZone) {
  return proj4("WGS84",
    `+proj=utm +zone=${zone.zone}${zone.south ? " +south" : ""} +datum=WGS84 +units=m +no_defs`);
}

/** Easting and northing (metres) of a position in degrees in the given zone. */
export function toUtm(zone: UtmZone, lat: number, lon: number): [number, number] {
  const [x, y] = converter(zone).forward([lon, lat]);
  return [x, y];
}

// WGS 84
const A = 6378137;
const E2 = 0.00669437999014;

/** The grid at a position: its easting and northing, and the 2 x 2 matrix (by rows) that turns
 * metres east and north on the ground there into metres of easting and northing. It holds the
 * grid's convergence (the angle between grid north and true north) and its scale, so a cloud
 * turned to true north lands on the grid as the projection would put each point; over the tens
 * of metres of a scan the error of the linear form is far below a millimetre. */
export function gridAt(zone: UtmZone, lat: number, lon: number):
  { easting: number; northing: number; ground: [number, number, number, number] } {
  const forward = converter(zone).forward;
  const phi = (lat * Math.PI) / 180;
  const w = Math.sqrt(1 - E2 * Math.sin(phi) ** 2);
  const northRadius = (A * (1 - E2)) / w ** 3; // metres per radian of latitude
  const eastRadius = (A / w) * Math.cos(phi); // metres per radian of longitude
  const step = 10; // metres: central differences over 20 m
  const dLat = ((step / northRadius) * 180) / Math.PI;
  const dLon = ((step / eastRadius) * 180) / Math.PI;
  const [e1, n1] = forward([lon + dLon, lat]);
  const [e0, n0] = forward([lon - dLon, lat]);
  const [e3, n3] = forward([lon, lat + dLat]);
  const [e2, n2] = forward([lon, lat - dLat]);
  const [easting, northing] = forward([lon, lat]);
  return {
    easting, northing,
    ground: [(e1 - e0) / (2 * step), (e3 - e2) / (2 * step), (n1 - n0) / (2 * step),
      (n3 - n2) / (2 * step)],
  };
}
