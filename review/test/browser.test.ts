/// <reference lib="dom" />
// The page in a real browser: Debian's Chromium, headless with software WebGL, driven by
// playwright-core. The run's files dropped in any order give the verdict of the command line,
// every picture drawn, the cloud of every sample and valid downloads, with no console error;
// a report.html written by the command line shows its run with nothing dropped, also in a browser
// without WebGL and in Firefox (headless, a screenshot).

import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { existsSync, readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, test } from "node:test";
import { inflateSync } from "node:zlib";
import { chromium, type Browser, type Page } from "playwright-core";
import { REVIEW, roomRun, runCli, tempFolder } from "./helpers";

const CHROMIUM = "/usr/bin/chromium";
const PAGE = join(REVIEW, "dist", "review.html");
const NEEDS = { skip: existsSync(CHROMIUM) ? false : `${CHROMIUM} missing: apt-get install chromium` };
export const CHROMIUM_ARGS = ["--headless=new", "--no-sandbox", "--disable-gpu", "--use-angle=swiftshader",
  "--enable-unsafe-swiftshader", "--disable-background-networking", "--disable-component-update",
  "--disable-sync", "--no-first-run"];
const LINES = 20;

let browser: Browser | null = null;
let folder = "";

before(async () => {
  folder = tempFolder("page");
  for (const [name, text] of Object.entries(roomRun(LINES))) writeFileSync(join(folder, `${name}.txt`), text, "latin1");
  const result = runCli(["laser.txt", "gyro.txt", "gps.txt", "-o", "out"], folder);
  assert.equal(result.status, 0, result.stderr);
  if (!NEEDS.skip) browser = await chromium.launch({ executablePath: CHROMIUM, args: CHROMIUM_ARGS });
});

after(async () => {
  await browser?.close();
});

/** A page that records its console errors and uncaught exceptions. */
async function open(url: string, on = browser!): Promise<{ page: Page; errors: string[] }> {
  const page = await on.newPage({ viewport: { width: 1366, height: 900 }, acceptDownloads: true });
  const errors: string[] = [];
  page.on("console", (m) => { if (m.type() === "error") errors.push(m.text()); });
  page.on("pageerror", (e) => errors.push(e.message));
  await page.goto(url);
  return { page, errors };
}

/** Files dropped on the page as the operator drops them from a file manager. */
async function drop(page: Page, names: string[]): Promise<void> {
  const files = names.map((name) => ({ name, base64: readFileSync(join(folder, name)).toString("base64") }));
  await page.evaluate((files) => {
    const transfer = new DataTransfer();
    for (const f of files) {
      transfer.items.add(new File([Uint8Array.from(atob(f.base64), (c) => c.charCodeAt(0))], f.name));
    }
    window.dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, files);
}

/** How many colours a canvas shows, from pixels sampled across it: 1 for a blank one. WebGL's
 * canvas is copied into a 2D one first (it keeps its drawing buffer). */
function colours(page: Page, selector: string): Promise<number> {
  return page.$eval(selector, (canvas) => {
    const c = canvas as HTMLCanvasElement;
    const copy = document.createElement("canvas");
    copy.width = c.width;
    copy.height = c.height;
    const g = copy.getContext("2d")!;
    g.drawImage(c, 0, 0);
    const data = g.getImageData(0, 0, c.width, c.height).data;
    const seen = new Set<number>();
    for (let i = 0; i < data.length; i += 4 * 97) seen.add((data[i] << 16) | (data[i + 1] << 8) | data[i + 2]);
    return seen.size;
  });
}

async function pictures(page: Page): Promise<Record<string, number>> {
  const out: Record<string, number> = {};
  for (const id of ["scan-distance", "scan-amplitude", "cloud", "plan-top", "plan-side"]) out[id] = await colours(page, `#${id}`);
  const charts = await page.$$eval("#attitude-charts canvas, #gps-charts canvas", (all) => all.length);
  for (let k = 0; k < charts; k++) {
    out[`chart ${k + 1}`] = await colours(page, `:is(#attitude-charts, #gps-charts) .uplot >> nth=${k} >> canvas`);
  }
  return out;
}

test("the page: files dropped one by one in any order give the verdict, the pictures, the cloud and the downloads",
  { ...NEEDS, timeout: 180_000 }, async () => {
    const { page, errors } = await open(`file://${PAGE}`);
    await drop(page, ["gps.txt"]);
    await page.waitForFunction(() => document.body.dataset.state === "waiting");
    assert.match(await page.textContent("#status") ?? "", /Have gps\.txt; drop the laser and gyro file too/);
    await drop(page, ["gyro.txt", "laser.txt"]);
    await page.waitForFunction(() => ["done", "error"].includes(document.body.dataset.state!), null, { timeout: 120_000 });
    assert.equal(await page.getAttribute("body", "data-state"), "done", await page.textContent("#status") ?? "");

    // The verdict: the command line's summary.txt, word for word.
    const summary = readFileSync(join(folder, "out", "summary.txt"), "utf8");
    assert.equal(await page.textContent("#headline"), summary.split("\n")[0].replace("Verdict: ", ""));
    assert.equal(await page.textContent("#summary"), summary);

    const drawn = await pictures(page);
    assert.equal(Object.keys(drawn).length, 5 + 5, JSON.stringify(drawn));
    for (const [name, count] of Object.entries(drawn)) assert.ok(count >= 4, `${name}: ${count} colours`);
    assert.equal(await page.getAttribute("#cloud", "data-points"), String(LINES * 5000));
    await page.selectOption("#colour-by", "height");
    assert.match(await page.textContent("#cloud-legend") ?? "", /^height: -1\.\d\d m .* to 1\.\d\d m/);

    for (const name of ["summary.txt", "scan.ply", "scan.las"]) {
      const [download] = await Promise.all([page.waitForEvent("download"), page.click(`a.download:text-is("${name}")`)]);
      const bytes = readFileSync((await download.path())!);
      assert.equal(download.suggestedFilename(), name);
      if (name === "summary.txt") {
        assert.equal(bytes.toString("utf8"), summary);
      } else if (name === "scan.ply") {
        const header = bytes.subarray(0, bytes.indexOf("end_header\n") + 11).toString("latin1");
        assert.match(header, /^ply\nformat binary_little_endian 1\.0\n/);
        assert.match(header, new RegExp(`^element vertex ${LINES * 5000}$`, "m"));
      } else {
        assert.equal(bytes.subarray(0, 4).toString(), "LASF");
        assert.deepEqual([bytes[24], bytes[25]], [1, 2]);
        assert.equal(bytes.readUInt32LE(107), LINES * 5000);
        assert.equal(bytes.length, bytes.readUInt32LE(96) + LINES * 5000 * bytes.readUInt16LE(105));
      }
    }
    assert.deepEqual(errors, []);
    await page.close();
  });

test("the page: a file that is none of a run's is refused by name", { ...NEEDS, timeout: 60_000 }, async () => {
  const { page, errors } = await open(`file://${PAGE}`);
  writeFileSync(join(folder, "notes.txt"), "survey of the hall\n");
  await drop(page, ["notes.txt", "gyro.txt"]);
  await page.waitForFunction(() => document.body.dataset.state === "error");
  assert.match(await page.textContent("#status") ?? "", /^notes\.txt: is none of a run's files/);
  assert.deepEqual(errors, []);
  await page.close();
});

test("report.html written by the command line shows its run with nothing dropped", { ...NEEDS, timeout: 60_000 }, async () => {
  const { page, errors } = await open(`file://${join(folder, "out", "report.html")}`);
  await page.waitForFunction(() => document.body.dataset.state === "done");
  const summary = readFileSync(join(folder, "out", "summary.txt"), "utf8");
  assert.equal(await page.textContent("#summary"), summary);
  assert.equal(await page.getAttribute("#cloud", "data-points"), String(LINES * 5000));
  assert.ok(await colours(page, "#cloud") >= 4);
  assert.deepEqual(await page.$$eval("a.download", (all) => all.map((a) => a.getAttribute("href"))),
    ["summary.txt", "scan.png", "plan.png", "attitude.png", "gps.png", "scan.ply", "scan.las"]);
  assert.deepEqual(errors, []);
  await page.close();
});

test("report.html in a browser without WebGL: the cloud named as not drawn, everything else shown", { ...NEEDS, timeout: 60_000 }, async () => {
  const bare = await chromium.launch({ executablePath: CHROMIUM, args: [...CHROMIUM_ARGS, "--disable-3d-apis"] });
  try {
    const { page, errors } = await open(`file://${join(folder, "out", "report.html")}`, bare);
    await page.waitForFunction(() => document.body.dataset.state === "done");
    assert.match(await page.textContent("#cloud-title") ?? "", /not drawn here, this browser offers no WebGL 2/);
    const { cloud, ...drawn } = await pictures(page);
    assert.equal(Object.keys(drawn).length, 4 + 5, JSON.stringify(drawn));
    for (const [name, count] of Object.entries(drawn)) assert.ok(count >= 4, `${name}: ${count} colours`);
    assert.equal(await page.$$eval("a.download", (all) => all.length), 7);
    assert.deepEqual(errors, []);
  } finally {
    await bare.close();
  }
});

/** A PNG's pixels, its rows' filters undone (8 bits a channel, RGB or RGBA, not interlaced). */
function decodePng(bytes: Buffer): { width: number; height: number; channels: number; pixels: Buffer } {
  const width = bytes.readUInt32BE(16), height = bytes.readUInt32BE(20);
  const channels = bytes[25] === 6 ? 4 : 3;
  assert.deepEqual([bytes[24], bytes[25] & ~4, bytes[28]], [8, 2, 0], "8-bit RGB(A), not interlaced");
  const idat: Buffer[] = [];
  for (let at = 8; at < bytes.length; at += 12 + bytes.readUInt32BE(at)) {
    if (bytes.toString("latin1", at + 4, at + 8) === "IDAT") idat.push(bytes.subarray(at + 8, at + 8 + bytes.readUInt32BE(at)));
  }
  const raw = inflateSync(Buffer.concat(idat)), stride = width * channels;
  const pixels = Buffer.alloc(height * stride), none = Buffer.alloc(stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)], line = raw.subarray(y * (stride + 1) + 1);
    const out = pixels.subarray(y * stride), up = y ? pixels.subarray((y - 1) * stride) : none;
    for (let i = 0; i < stride; i++) {
      const a = i >= channels ? out[i - channels] : 0, b = up[i], c = i >= channels ? up[i - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      out[i] = line[i] + [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
    }
  }
  return { width, height, channels, pixels };
}

const FIREFOX = "/usr/bin/firefox-esr";

test("report.html in Firefox: a headless screenshot shows the page drawn to its end", {
  skip: existsSync(FIREFOX) ? false : `${FIREFOX} missing: apt-get install firefox-esr`, timeout: 120_000,
}, () => {
  // A profile of its own: Firefox refuses a second instance on a profile in use.
  const profile = tempFolder("firefox"), shot = join(profile, "report.png");
  const run = spawnSync(FIREFOX, ["--headless", "--no-remote", "--profile", profile, "--window-size=1366,3600",
    "--screenshot", shot, `file://${join(folder, "out", "report.html")}`], { encoding: "utf8", timeout: 100_000 });
  assert.equal(run.status, 0, run.stderr);
  const { width, height, channels, pixels } = decodePng(readFileSync(shot));
  assert.deepEqual([width, height], [1366, 3600]);
  // Bands of 600 rows from the verdict down to the charts: each shows text and pictures, where a
  // page that stopped halfway leaves its background.
  for (let top = 0; top < height; top += 600) {
    const seen = new Set<number>();
    for (let i = top * width * channels; i < (top + 600) * width * channels; i += channels * 37) {
      seen.add((pixels[i] << 16) | (pixels[i + 1] << 8) | pixels[i + 2]);
    }
    assert.ok(seen.size >= 20, `rows ${top} to ${top + 600}: ${seen.size} colours`);
  }
});
