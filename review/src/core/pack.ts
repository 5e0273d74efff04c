// A run's views as text that a page carries in a script tag: JSON in which every typed array
// is its bytes in base64 with its type, read back by unpack.

const TYPES = { Float32Array, Float64Array, Int32Array, Uint8Array, Uint32Array } as const;
type TypeName = keyof typeof TYPES;

const ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

export function toBase64(bytes: Uint8Array): string {
  const parts: string[] = [];
  const chunk = 3 * 16384;
  for (let start = 0; start < bytes.length; start += chunk) {
    const end = Math.min(start + chunk, bytes.length);
    let out = "";
    for (let i = start; i < end; i += 3) {
      const a = bytes[i], b = i + 1 < end ? bytes[i + 1] : 0, c = i + 2 < end ? bytes[i + 2] : 0;
      const n = (a << 16) | (b << 8) | c;
      out += ALPHABET[n >> 18] + ALPHABET[(n >> 12) & 63] +
        (i + 1 < end ? ALPHABET[(n >> 6) & 63] : "=") + (i + 2 < end ? ALPHABET[n & 63] : "=");
    }
    parts.push(out);
  }
  return parts.join("");
}

const CODES = new Int16Array(128).fill(-1);
for (let i = 0; i < 64; i++) CODES[ALPHABET.charCodeAt(i)] = i;

export function fromBase64(text: string): Uint8Array {
  const clean = text.replace(/=+$/, "");
  const out = new Uint8Array(Math.floor((clean.length * 3) / 4));
  let bits = 0, value = 0, o = 0;
  for (let i = 0; i < clean.length; i++) {
    value = (value << 6) | CODES[clean.charCodeAt(i)];
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out[o++] = (value >> bits) & 255;
    }
  }
  return out;
}

export function pack(value: unknown): string {
  return JSON.stringify(value, (_key, v) => {
    for (const name of Object.keys(TYPES) as TypeName[]) {
      if (v instanceof TYPES[name]) {
        const a = v as ArrayBufferView;
        return { $array: name, base64: toBase64(new Uint8Array(a.buffer, a.byteOffset, a.byteLength)) };
      }
    }
    // JSON has no NaN: a non-finite number is written as a string.
    if (typeof v === "number" && !Number.isFinite(v)) return { $number: String(v) };
    return v;
  });
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
