// A run's views as text that a page carries in a script tag: JSON in which every typed array
// is its bytes in base64 with its type, read back by unpack.

const TYPES = { Float32Array, Float64Array, Int32Array, Uint8Array, Uint32Array } as const;
type TypeName = keyof typeof TYPES;

/** Bytes as base64, through the platform's btoa a chunk at a time (a chunk of whole triples,
 * so the pieces join without padding between them). */
export function toBase64(bytes: Uint8Array): string {
  const parts: string[] = [];
  const chunk = 3 * 8192;
  for (let start = 0; start < bytes.length; start += chunk) {
    const piece = bytes.subarray(start, Math.min(start + chunk, bytes.length));
    parts.push(btoa(String.fromCharCode.apply(null, piece as unknown as number[])));
  }
  return parts.join("");
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
