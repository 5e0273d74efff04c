// A run's views as text that a page carries in a script tag: JSON in which every typed array
// is its bytes in base64 with its type, read back by unpack.

const TYPES = { Float32Array, Float64Array, Int32Array, Uint8Array, Uint32Array } as const;
type TypeName = keyof typeof TYPES;

const ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const CODES = Uint8Array.from(ALPHABET, (c) => c.charCodeAt(0));

/** Bytes as base64 text. */
export function toBase64(bytes: Uint8Array): string {
  return new TextDecoder().decode(base64Bytes(bytes));
}

/** Bytes as base64, the characters' ASCII codes written straight into one byte array: a view of
 * a full run carries megabytes, which a string built a piece at a time (btoa of
 * String.fromCharCode chunks) costs several times as long to make, and a writer can put these
 * bytes into a file as they are. */
export function base64Bytes(bytes: Uint8Array): Uint8Array {
  const n = bytes.length;
  const out = new Uint8Array(Math.ceil(n / 3) * 4);
  const whole = n - (n % 3);
  let o = 0;
  for (let i = 0; i < whole; i += 3) {
    const triple = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out[o] = CODES[triple >>> 18];
    out[o + 1] = CODES[(triple >>> 12) & 63];
    out[o + 2] = CODES[(triple >>> 6) & 63];
    out[o + 3] = CODES[triple & 63];
    o += 4;
  }
  if (n > whole) {
    const rest = n - whole;
    const triple = (bytes[whole] << 16) | (rest === 2 ? bytes[whole + 1] << 8 : 0);
    out[o] = CODES[triple >>> 18];
    out[o + 1] = CODES[(triple >>> 12) & 63];
    out[o + 2] = rest === 2 ? CODES[(triple >>> 6) & 63] : 61; // "="
    out[o + 3] = 61;
  }
  return out;
}

/** Base64 as bytes, a chunk of whole quadruples at a time. */
export function fromBase64(text: string): Uint8Array {
  const clean = text.replace(/\s+/g, "");
  const padding = clean.endsWith("==") ? 2 : clean.endsWith("=") ? 1 : 0;
  const out = new Uint8Array((clean.length / 4) * 3 - padding);
  const chunk = 4 * 8192;
  let o = 0;
  for (let start = 0; start < clean.length; start += chunk) {
    const binary = atob(clean.slice(start, start + chunk));
    for (let i = 0; i < binary.length; i++) out[o++] = binary.charCodeAt(i);
  }
  return out;
}

export function pack(value: unknown): string {
  const decoder = new TextDecoder();
  return [...packPieces(value)].map((p) => (typeof p === "string" ? p : decoder.decode(p))).join("");
}

// Stands in a typed array's place while the JSON around it is written: a NUL cannot be in a file
// name or in the verdict's text (both show control bytes escaped), so none of the text is taken
// for it.
const SLOT = "\u0000array\u0000";
const SLOT_JSON = JSON.stringify(SLOT);

/** pack's text in pieces, made as they are asked for, each typed array's base64 as bytes (ASCII) between strings of JSON,
 * so a writer puts a report of tens of megabytes into its file without making it one string.
 * Every "<" in the strings is written as "\u003c" (base64 has none): the text cannot end a
 * script element it sits in. */
export function* packPieces(value: unknown): Generator<string | Uint8Array> {
  const arrays: Uint8Array[] = [];
  const json = JSON.stringify(value, (_key, v) => {
    for (const name of Object.keys(TYPES) as TypeName[]) {
      if (v instanceof TYPES[name]) {
        const a = v as ArrayBufferView;
        arrays.push(new Uint8Array(a.buffer, a.byteOffset, a.byteLength));
        return { $array: name, base64: SLOT };
      }
    }
    // JSON has no NaN: a non-finite number is written as a string.
    if (typeof v === "number" && !Number.isFinite(v)) return { $number: String(v) };
    return v;
  });
  const parts = json.split(SLOT_JSON);
  yield parts[0].replace(/</g, "\\u003c");
  // One array's base64 at a time: the cloud's alone is 16 MB.
  for (let k = 0; k < arrays.length; k++) {
    yield '"';
    yield base64Bytes(arrays[k]);
    yield '"' + parts[k + 1].replace(/</g, "\\u003c");
  }
}

export function unpack<T>(text: string): T {
  return JSON.parse(text, (_key, v) => {
    if (v && typeof v === "object" && typeof v.$array === "string") {
      const bytes = fromBase64(v.base64);
      const Type = TYPES[v.$array as TypeName];
      return new Type(bytes.buffer as ArrayBuffer, 0, bytes.length / Type.BYTES_PER_ELEMENT);
    }
    if (v && typeof v === "object" && typeof v.$number === "string") return Number(v.$number);
    return v;
  }) as T;
}
