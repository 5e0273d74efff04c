// node bench/review_page.mjs FOLDER ROUNDS: the review page's time on a run, for
// bench_review.py. Opens review/dist/review.html in Debian's Chromium, headless with software
// WebGL and the flags of the page's own tests, hands it FOLDER's laser.txt, gyro.txt and gps.txt
// through its file picker, and times from the hand-over until the page says it is done (it sets
// body's data-state to "done" once the verdict, the pictures, the charts and the cloud are
// drawn), the next frame is out and every canvas can be read back. Prints one JSON line:
// {"times": [seconds, ...]}. A fresh page per round, so no round reuses the one before it.

import { existsSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const ROOT = dirname(dirname(fileURLToPath(import.meta.url)));
const REVIEW = join(ROOT, "review");
const PAGE = join(REVIEW, "dist", "review.html");
const CHROMIUM = "/usr/bin/chromium";
// The flags of review/test/browser.test.ts.
const CHROMIUM_ARGS = ["--headless=new", "--no-sandbox", "--disable-gpu", "--use-angle=swiftshader",
  "--enable-unsafe-swiftshader", "--disable-background-networking", "--disable-component-update",
  "--disable-sync", "--no-first-run"];

const { chromium } = createRequire(join(REVIEW, "package.json"))("playwright-core");

const [folder, rounds = "1"] = process.argv.slice(2);
if (!folder) {
  console.error("usage: node bench/review_page.mjs FOLDER [ROUNDS]");
  process.exit(2);
}
for (const needed of [CHROMIUM, PAGE]) {
  if (!existsSync(needed)) {
    console.error(`review_page: ${needed} is missing`);
    process.exit(1);
  }
}

const browser = await chromium.launch({ executablePath: CHROMIUM, args: CHROMIUM_ARGS });
const times = [];
try {
  for (let k = 0; k < Number(rounds); k++) {
    const page = await browser.newPage({ viewport: { width: 1366, height: 900 } });
    const errors = [];
    page.on("pageerror", (e) => errors.push(e.message));
    await page.goto(`file://${PAGE}`);
    await page.waitForFunction(() => document.body.dataset.state === "ready");
    const started = performance.now();
    await page.setInputFiles("#pick", ["laser.txt", "gyro.txt", "gps.txt"].map((name) => join(folder, name)));
    await page.waitForFunction(() => ["done", "error"].includes(document.body.dataset.state), null,
      { timeout: 300_000, polling: 10 });
    // The next frame, then a pixel read from every canvas: the read waits until the GPU has
    // carried out what was drawn (software WebGL draws after the page's script is done).
    await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => resolve())));
    await page.$$eval("canvas", (all) => {
      const probe = document.createElement("canvas").getContext("2d");
      for (const c of all) if (c.width && c.height) probe.drawImage(c, 0, 0, 1, 1, 0, 0, 1, 1);
      return probe.getImageData(0, 0, 1, 1).data[0];
    });
    const took = (performance.now() - started) / 1000;
    const state = await page.getAttribute("body", "data-state");
    if (state !== "done" || errors.length) {
      console.error(`review_page: the page ended in "${state}": ${await page.textContent("#status")} ${errors.join("; ")}`);
      process.exit(1);
    }
    times.push(took);
    await page.close();
  }
} finally {
  await browser.close();
}
console.log(JSON.stringify({ times }));
