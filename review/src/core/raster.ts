// A small RGB raster for the pictures: rectangles, lines, text from the bitmap font and scaled
// images of cells, and its PNG encoding. The deflate step is handed in (zlib on the command
// line), which keeps this file free of any platform's API.

import { FONT_BASELINE, FONT_DATA, FONT_HEIGHT, FONT_WIDTHS } from "./font";
import { fromBase64 } from "./pack";

export type RGB = readonly [number, number, number];

let glyphs: Uint8Array | null = null;
const offsets: number[] = [];

function font(): Uint8Array {
  if (glyphs === null) {
    glyphs = fromBase64(FONT_DATA);
    let at = 0;
    for (const w of FONT_WIDTHS) {
      offsets.push(at);
      at += w * FONT_HEIGHT;
    }
  }
  return glyphs;
}

export interface TextOptions {
  align?: "left" | "center" | "right";
  up?: boolean; // turned a quarter counter-clockwise, read from the bottom up
  bold?: boolean;
}

export class Raster {
  readonly pixels: Uint8Array;

  constructor(readonly width: number, readonly height: number) {
    this.pixels = new Uint8Array(width * height * 3).fill(255);
  }

  /** Mixes colour into pixel (x, y) by share (0 to 1). */
  blend(x: number, y: number, rgb: RGB, share = 1): void {
    if (x < 0 || y < 0 || x >= this.width || y >= this.height) return;
    const at = 3 * (y * this.width + x);
    if (share === 1) {
      // The same bytes as the mix below gives, without its arithmetic: most pixels drawn are
      // opaque (lines, boxes, images).
      this.pixels[at] = rgb[0];
      this.pixels[at + 1] = rgb[1];
      this.pixels[at + 2] = rgb[2];
      return;
    }
    for (let k = 0; k < 3; k++) this.pixels[at + k] += (rgb[k] - this.pixels[at + k]) * share;
  }

  rect(x: number, y: number, w: number, h: number, rgb: RGB): void {
    for (let j = Math.max(Math.round(y), 0); j < Math.min(Math.round(y + h), this.height); j++) {
      for (let i = Math.max(Math.round(x), 0); i < Math.min(Math.round(x + w), this.width); i++) this.blend(i, j, rgb);
    }
  }

  frame(x: number, y: number, w: number, h: number, rgb: RGB): void {
    this.rect(x, y, w, 1, rgb);
    this.rect(x, y + h - 1, w, 1, rgb);
    this.rect(x, y, 1, h, rgb);
    this.rect(x + w - 1, y, 1, h, rgb);
  }

  /** A line one pixel wide, a point at every step of the longer axis. */
  line(x0: number, y0: number, x1: number, y1: number, rgb: RGB, share = 1): void {
    const steps = Math.max(Math.abs(x1 - x0), Math.abs(y1 - y0), 1);
    if (!Number.isFinite(steps) || steps > 1e5) return;
    for (let s = 0; s <= steps; s++) {
      this.blend(Math.round(x0 + ((x1 - x0) * s) / steps), Math.round(y0 + ((y1 - y0) * s) / steps), rgb, share);
    }
  }

  textWidth(text: string, bold = false): number {
    let w = 0;
    for (const ch of text) w += FONT_WIDTHS[glyphIndex(ch)] + (bold ? 1 : 0);
    return w;
  }

  /** Text with its top at y (or, turned up, its left side at x). */
  text(text: string, x: number, y: number, rgb: RGB, options: TextOptions = {}): void {
    const data = font();
    const width = this.textWidth(text, options.bold);
    const shift = options.align === "center" ? width / 2 : options.align === "right" ? width : 0;
    let pen = Math.round(options.up ? y + shift : x - shift);
    const top = Math.round(options.up ? x : y);
    for (const ch of text) {
      const g = glyphIndex(ch), w = FONT_WIDTHS[g], base = offsets[g];
      for (let pass = 0; pass < (options.bold ? 2 : 1); pass++) {
        for (let row = 0; row < FONT_HEIGHT; row++) {
          for (let col = 0; col < w; col++) {
            const cover = data[base + row * w + col];
            if (!cover) continue;
            if (options.up) this.blend(top + row, pen - col - pass, rgb, cover / 255);
            else this.blend(pen + col + pass, top + row, rgb, cover / 255);
          }
        }
      }
      pen += options.up ? -(w + (options.bold ? 1 : 0)) : w + (options.bold ? 1 : 0);
    }
  }

  /** cells (RGB bytes, cols by rows, row 0 at the top) scaled into the box, nearest cell. */
  image(cells: Uint8Array, cols: number, rows: number, x: number, y: number, w: number, h: number): void {
    const column = new Int32Array(w);
    for (let i = 0; i < w; i++) column[i] = 3 * Math.min(Math.floor((i / w) * cols), cols - 1);
    const px = this.pixels;
    for (let j = 0; j < h; j++) {
      const yy = y + j;
      if (yy < 0 || yy >= this.height) continue;
      const row = 3 * cols * Math.min(Math.floor((j / h) * rows), rows - 1);
      for (let i = 0; i < w; i++) {
        const xx = x + i;
        if (xx < 0 || xx >= this.width) continue;
        const at = row + column[i], to = 3 * (yy * this.width + xx);
        px[to] = cells[at];
        px[to + 1] = cells[at + 1];
        px[to + 2] = cells[at + 2];
      }
    }
  }

  /** The raster as RGBA bytes, for a canvas's ImageData. */
  rgba(): Uint8ClampedArray {
    const out = new Uint8ClampedArray(this.width * this.height * 4);
    for (let p = 0, q = 0; p < this.pixels.length; p += 3, q += 4) {
      out[q] = this.pixels[p];
      out[q + 1] = this.pixels[p + 1];
      out[q + 2] = this.pixels[p + 2];
      out[q + 3] = 255;
    }
    return out;
  }

  /** The raster as a PNG file: 8-bit RGB, every row unfiltered, deflated by deflate (zlib). */
  png(deflate: (bytes: Uint8Array) => Uint8Array): Uint8Array {
    const rows = new Uint8Array(this.height * (1 + 3 * this.width));
    for (let y = 0; y < this.height; y++) {
      rows.set(this.pixels.subarray(3 * y * this.width, 3 * (y + 1) * this.width), y * (1 + 3 * this.width) + 1);
    }
    const header = new Uint8Array(13);
    const view = new DataView(header.buffer);
    view.setUint32(0, this.width);
    view.setUint32(4, this.height);
    header.set([8, 2, 0, 0, 0], 8); // 8 bits, RGB, deflate, no filter method, no interlace
    const chunks = [chunk("IHDR", header), chunk("IDAT", deflate(rows)), chunk("IEND", new Uint8Array(0))];
    const signature = [137, 80, 78, 71, 13, 10, 26, 10];
    const out = new Uint8Array(8 + chunks.reduce((s, c) => s + c.length, 0));
    out.set(signature);
    let at = 8;
    for (const c of chunks) {
      out.set(c, at);
      at += c.length;
    }
    return out;
  }
}

export const TEXT_HEIGHT = FONT_HEIGHT;
export const TEXT_BASELINE = FONT_BASELINE;

function glyphIndex(ch: string): number {
  const code = ch.charCodeAt(0);
  return code >= 32 && code < 127 ? code - 32 : "?".charCodeAt(0) - 32;
}

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes: Uint8Array): number {
  let c = 0xffffffff;
  for (const b of bytes) c = CRC_TABLE[(c ^ b) & 255] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type: string, data: Uint8Array): Uint8Array {
  const out = new Uint8Array(12 + data.length);
  const view = new DataView(out.buffer);
  view.setUint32(0, data.length);
  for (let i = 0; i < 4; i++) out[4 + i] = type.charCodeAt(i);
  out.set(data, 8);
  view.setUint32(8 + data.length, crc32(out.subarray(4, 8 + data.length)));
  return out;
}
