// Number and text formatting shared by the verdict, the messages and the file headers. The
// figures are written as printf writes them ("%.3f", "%+.2f", "%g"), so the command line and the
// page show the same text.

/** x with `decimals` digits after the point, as printf rounds it: to the nearest, and a value
 * exactly halfway to the even digit (99.25 gives 99.2, where toFixed gives 99.3); "nan", "inf"
 * and "-inf" for the other values. */
export function fixed(x: number, decimals: number): string {
  if (Number.isNaN(x)) return "nan";
  if (!Number.isFinite(x)) return x > 0 ? "inf" : "-inf";
  if (Math.abs(x) >= 1e21) return x.toExponential(decimals);
  const text = x.toFixed(decimals);
  // toFixed is exact: a value halfway between two results shows as a 5 and zeros after them.
  const longer = x.toFixed(Math.min(decimals + 30, 100));
  const cut = longer.indexOf(".") + 1 + decimals;
  if (!/^50*$/.test(longer.slice(cut))) return text;
  const down = longer.slice(0, decimals ? cut : cut - 1);
  return Number(down[down.length - 1]) % 2 === 0 ? down : text;
}

/** As fixed, with a + before values that are not negative. */
export function signed(x: number, decimals: number): string {
  const text = fixed(x, decimals);
  return x >= 0 || Number.isNaN(x) ? "+" + text : text;
}

/** x as "%g" writes it: six significant digits, no trailing zeros, an exponent beyond 1e6. */
export function general(x: number): string {
  if (Number.isNaN(x)) return "nan";
  if (!Number.isFinite(x)) return x > 0 ? "inf" : "-inf";
  if (x === 0) return "0";
  const exponent = Number(x.toExponential(5).split("e")[1]);
  if (exponent < -4 || exponent >= 6) {
    const [mantissa, power] = x.toExponential(5).split("e");
    const p = Number(power);
    return `${trimZeros(mantissa)}e${p < 0 ? "-" : "+"}${String(Math.abs(p)).padStart(2, "0")}`;
  }
  return trimZeros(x.toFixed(5 - exponent));
}

function trimZeros(text: string): string {
  return text.includes(".") ? text.replace(/0+$/, "").replace(/\.$/, "") : text;
}

/** "1 gap", "3 gaps", "2 stretches". */
export function plural(n: number, word: string): string {
  const many = word + (word.endsWith("s") || word.endsWith("ch") ? "es" : "s");
  return `${n} ${n === 1 ? word : many}`;
}

/** Bytes as ISO 8859-1 text: every byte one character. The bytes go to fromCharCode as an
 * array-like (apply), not spread: spreading a typed array walks its iterator, an object a byte,
 * which made a GPS file of 0.6 MB allocate 45 MB. */
export function latin1(bytes: Uint8Array, start = 0, end = bytes.length): string {
  let out = "";
  const CHUNK = 8192;
  for (let at = start; at < end; at += CHUNK) {
    out += String.fromCharCode.apply(null, bytes.subarray(at, Math.min(at + CHUNK, end)) as unknown as number[]);
  }
  return out;
}

/** A field or line as a message shows it: quoted, control bytes escaped, cut after `limit`
 * characters with " ..." after it. */
export function shown(text: string, limit = 60): string {
  const part = text.slice(0, limit);
  const quote = part.includes("'") && !part.includes('"') ? '"' : "'";
  let out = quote;
  for (const ch of part) {
    const code = ch.charCodeAt(0);
    if (ch === "\\") out += "\\\\";
    else if (ch === quote) out += "\\" + quote;
    else if (ch === "\t") out += "\\t";
    else if (ch === "\n") out += "\\n";
    else if (ch === "\r") out += "\\r";
    else if (code < 0x20 || (code >= 0x7f && code <= 0xa0) || code === 0xad) {
      out += "\\x" + code.toString(16).padStart(2, "0");
    } else out += ch;
  }
  return out + quote + (text.length > limit ? " ..." : "");
}

/** Shown bytes: the part of `bytes` from start to end as shown() quotes it. */
export function shownBytes(bytes: Uint8Array, start: number, end: number, limit = 60): string {
  const text = latin1(bytes, start, Math.min(end, start + limit + 1));
  return shown(text, limit);
}

/** Text as ASCII with every other character written as a \xHH, \uHHHH or \UHHHHHHHH escape,
 * for headers that must stay ASCII (the PLY header). */
export function asciiEscaped(text: string): string {
  let out = "";
  for (const ch of text) {
    const code = ch.codePointAt(0)!;
    if (code < 0x80) out += ch;
    else if (code < 0x100) out += "\\x" + code.toString(16).padStart(2, "0");
    else if (code < 0x10000) out += "\\u" + code.toString(16).padStart(4, "0");
    else out += "\\U" + code.toString(16).padStart(8, "0");
  }
  return out;
}

/** A plain decimal number as the logger writes one: an optional minus sign, digits and at most
 * one decimal point, at least one digit. NaN for anything else. */
export function plainNumber(text: string): number {
  return /^-?(\d+\.?\d*|\.\d+)$/.test(text) ? Number(text) : NaN;
}

/** A number as a general reader takes one (signs, exponents); NaN for anything else. */
export function anyNumber(text: string): number {
  return /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(text.trim()) ? Number(text) : NaN;
}
