// Builds the review: dist/review.html, the page in one file (the worker and the page script
// bundled with esbuild, the worker's code carried in the page as a string and started from a
// Blob URL, script and styles inlined, so it opens from disk with nothing else), then
// dist/morvane-review.js, the command line, which carries the page to write report.html.

import { build } from "esbuild";
import { mkdirSync, readFileSync, writeFileSync } from "node:fs";

const bundle = async (entry, define = {}) => (await build({
  entryPoints: [entry], bundle: true, write: false, format: "iife", target: "es2020",
  minify: true, legalComments: "inline", define, logLevel: "warning",
})).outputFiles[0].text;

const worker = await bundle("src/page/worker.ts");
const script = await bundle("src/page/main.ts", { WORKER_SOURCE: JSON.stringify(worker) });
const style = readFileSync("node_modules/uplot/dist/uPlot.min.css", "utf8") + readFileSync("src/page/page.css", "utf8");
// Nothing in the script may end the script element early.
const safe = script.replace(/<\/script/gi, "<\\/script");
const page = readFileSync("src/page/review.html", "utf8")
  .replace("/*STYLE*/", () => style).replace("/*SCRIPT*/", () => safe).replace("/*DATA*/", "");
mkdirSync("dist", { recursive: true });
writeFileSync("dist/review.html", page);

if (process.argv[2] !== "page") {
  await build({
    entryPoints: ["src/cli.ts"], bundle: true, platform: "node", format: "esm", target: "node18",
    banner: { js: "#!/usr/bin/env node" }, outfile: "dist/morvane-review.js", logLevel: "warning",
    define: { PAGE_HTML: JSON.stringify(page) },
  });
}
