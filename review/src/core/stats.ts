// Small statistics over typed arrays, computed as numpy computes them (linear percentiles,
// population standard deviation), so the figures match the tools that went before.

/** The q-th percentiles (0 to 100) of values, interpolated linearly between the sorted values;
 * NaN for no values. Sorts a copy. */
export function percentiles(values: ArrayLike<number>, qs: number[]): number[] {
  const sorted = Float64Array.from(values).sort();
  const n = sorted.length;
  return qs.map((q) => {
    if (n === 0) return NaN;
    const at = (q / 100) * (n - 1);
    const lo = Math.floor(at), hi = Math.min(lo + 1, n - 1);
    return sorted[lo] + (sorted[hi] - sorted[lo]) * (at - lo);
  });
}

export function median(values: ArrayLike<number>): number {
  return percentiles(values, [50])[0];
}

export function mean(values: ArrayLike<number>): number {
  let sum = 0;
  for (let i = 0; i < values.length; i++) sum += values[i];
  return sum / values.length;
}

/** The population standard deviation. */
export function std(values: ArrayLike<number>): number {
  const m = mean(values);
  let sum = 0;
  for (let i = 0; i < values.length; i++) sum += (values[i] - m) ** 2;
  return Math.sqrt(sum / values.length);
}

export function min(values: ArrayLike<number>): number {
  let out = Infinity;
  for (let i = 0; i < values.length; i++) if (values[i] < out) out = values[i];
  return out;
}

export function max(values: ArrayLike<number>): number {
  let out = -Infinity;
  for (let i = 0; i < values.length; i++) if (values[i] > out) out = values[i];
  return out;
}

/** The finite values of an array. */
export function finite(values: ArrayLike<number>): Float64Array {
  return Float64Array.from(values).filter(Number.isFinite);
}

/** Starts and lengths of the runs of true in a mask. */
export function runs(mask: ArrayLike<boolean | number>): { starts: number[]; lengths: number[] } {
  const starts: number[] = [], lengths: number[] = [];
  let start = -1;
  for (let i = 0; i <= mask.length; i++) {
    const on = i < mask.length && !!mask[i];
    if (on && start < 0) start = i;
    else if (!on && start >= 0) {
      starts.push(start);
      lengths.push(i - start);
      start = -1;
    }
  }
  return { starts, lengths };
}

/** The angles with jumps of more than pi taken out (numpy's unwrap). */
export function unwrap(angles: ArrayLike<number>): Float64Array {
  const out = Float64Array.from(angles);
  let correction = 0;
  for (let i = 1; i < out.length; i++) {
    const d = angles[i] - angles[i - 1];
    let dd = ((((d + Math.PI) % (2 * Math.PI)) + 2 * Math.PI) % (2 * Math.PI)) - Math.PI;
    if (dd === -Math.PI && d > 0) dd = Math.PI;
    if (Math.abs(d) >= Math.PI) correction += dd - d;
    out[i] = angles[i] + correction;
  }
  return out;
}
