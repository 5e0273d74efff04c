// Colour scales of the pictures: a perceptually even blue-green-yellow scale for values and a
// dark-to-bright one for densities, as RGB bytes.

const VIRIDIS = [[68, 1, 84], [72, 40, 120], [62, 74, 137], [49, 104, 142], [38, 130, 142],
  [31, 158, 137], [53, 183, 121], [110, 206, 88], [181, 222, 43], [253, 231, 37]];
const MAGMA = [[0, 0, 4], [28, 16, 68], [79, 18, 123], [129, 37, 129], [181, 54, 122],
  [229, 80, 100], [251, 135, 97], [254, 194, 135], [252, 253, 191]];

export type Scale = "viridis" | "magma";

/** The colour of t (0 to 1, clamped) on a scale, written into out at offset. */
export function colour(scale: Scale, t: number, out: Uint8Array | Uint8ClampedArray | number[], at: number): void {
  const stops = scale === "viridis" ? VIRIDIS : MAGMA;
  const x = Math.min(Math.max(Number.isFinite(t) ? t : 0, 0), 1) * (stops.length - 1);
  const i = Math.min(Math.floor(x), stops.length - 2), f = x - i;
  for (let k = 0; k < 3; k++) out[at + k] = Math.round(stops[i][k] + (stops[i + 1][k] - stops[i][k]) * f);
}

/** colour() of every value scaled from [lo, hi] to [0, 1], written into out three bytes a
 * value: the same bytes, in one loop over flat stops, for the million points of a cloud. */
export function colourAll(scale: Scale, values: ArrayLike<number>, lo: number, hi: number, out: Uint8Array): void {
  const stops = scale === "viridis" ? VIRIDIS : MAGMA;
  const flat = Float64Array.from(stops.flat());
  const last = stops.length - 1;
  for (let j = 0; j < values.length; j++) {
    const t = (values[j] - lo) / (hi - lo);
    const x = (Number.isFinite(t) ? Math.min(Math.max(t, 0), 1) : 0) * last;
    const i = Math.min(Math.floor(x), last - 1), f = x - i;
    const a = 3 * i, o = 3 * j;
    out[o] = Math.round(flat[a] + (flat[a + 3] - flat[a]) * f);
    out[o + 1] = Math.round(flat[a + 1] + (flat[a + 4] - flat[a + 1]) * f);
    out[o + 2] = Math.round(flat[a + 2] + (flat[a + 5] - flat[a + 2]) * f);
  }
}

/** The 1st and 99th percentile of the finite values (from up to 20000 of them), the range a
 * colour scale spans so that a few stray values do not wash it out. */
export function robustRange(values: ArrayLike<number>): [number, number] {
  const every = Math.max(Math.floor(values.length / 20000), 1);
  const some: number[] = [];
  for (let i = 0; i < values.length; i += every) if (Number.isFinite(values[i])) some.push(values[i]);
  if (!some.length) return [0, 1];
  some.sort((a, b) => a - b);
  const lo = some[Math.floor(0.01 * (some.length - 1))], hi = some[Math.ceil(0.99 * (some.length - 1))];
  return hi > lo ? [lo, hi] : [lo, lo + 1];
}
