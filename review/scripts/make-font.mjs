// Writes src/core/font.ts: the printable ASCII characters of DejaVu Sans at 13 px as 8-bit
// coverage bitmaps, rendered once in Chromium, so that the command line's pictures carry text
// without a font engine. Run: node scripts/make-font.mjs (needs /usr/bin/chromium).

import { writeFileSync } from "node:fs";
import { chromium } from "playwright-core";

const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--headless=new", "--no-sandbox"] });
const page = await browser.newPage();
const glyphs = await page.evaluate(() => {
  const height = 16, baseline = 12;
  const canvas = document.createElement("canvas");
  canvas.width = 32;
  canvas.height = height;
  const g = canvas.getContext("2d", { willReadFrequently: true });
  const out = [];
  for (let code = 32; code < 127; code++) {
    const ch = String.fromCharCode(code);
    g.clearRect(0, 0, 32, height);
    g.font = "13px 'DejaVu Sans'";
    g.fillStyle = "#000";
    g.textBaseline = "alphabetic";
    g.fillText(ch, 0, baseline);
    const width = Math.round(g.measureText(ch).width);
    const data = g.getImageData(0, 0, width, height).data;
    const alpha = [];
    for (let i = 3; i < data.length; i += 4) alpha.push(data[i]);
    out.push({ width, alpha });
  }
  return { height, baseline, out };
});
await browser.close();
const widths = glyphs.out.map((g) => g.width);
const bytes = Buffer.from(glyphs.out.flatMap((g) => g.alpha));
writeFileSync("src/core/font.ts", `// The printable ASCII characters (32 to 126) of DejaVu Sans (a free font) at 13 px: each
// glyph's advance in pixels and its coverage (0 to 255), row by row, ${glyphs.height} rows a glyph, in
// base64. Written by scripts/make-font.mjs.

export const FONT_HEIGHT = ${glyphs.height};
export const FONT_BASELINE = ${glyphs.baseline};
export const FONT_WIDTHS = [${widths.join(", ")}];
export const FONT_DATA =
${bytes.toString("base64").match(/.{1,96}/g).map((l) => `  "${l}"`).join(" +\n")};
`);
