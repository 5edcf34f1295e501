// The browser edition's speed beside the native trov's, in one run: a million-point experiment converted, drawn and exported in headless Chromium.
//
// node bench/page.mjs BUILD/trov BUILD-WEB/trov.html [ROUNDS]
// Prints medians: the page's opening; per run, trov's conversion in the page
// against the native trov on the same files (the ratio that matters), the
// figure drawn and every file offered, counted from the files' arrival; the
// longest task of the page's own thread through the run and the downloads
// of the zip, a CSV, the SVG and the PNG (what a user feels as a freeze:
// target under 100 ms) and the browser's peak memory (all its processes'
// resident size, sampled every 50 ms), each the largest of the runs.
import { execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const [trov, page_file, rounds_text = '5'] = process.argv.slice(2);
if (!trov || !page_file) throw new Error('usage: node bench/page.mjs BUILD/trov BUILD-WEB/trov.html [ROUNDS]');
const rounds = Number(rounds_text);
const require = createRequire(new URL('../src/apps/web/package.json', import.meta.url));
const { chromium } = require('playwright-core');

// One constant-wavelength histogram of a million points: 2θ from 5° in
// 0.0115° steps, a peak every 7°, a tick every 5,000 points.
const POINTS = 1_000_000;
const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'trov-page-bench-'));
const record = (text) => text.padEnd(80);
fs.writeFileSync(path.join(folder, 'BIG.EXP'),
                 [record('      DESCR   A million points'), record(' EXPR  HTYP1  PXC ')].join('\r\n') + '\r\n');
const blocks = Math.ceil(POINTS / 14);
const profile = Buffer.alloc(blocks * 512);
for (let i = 0; i < POINTS; ++i) {
  const at = Math.floor(i / 14) * 512 + (i % 14) * 36;
  const two_theta = 5 + i * 0.000115;
  const calculated = 100 + 5000 * Math.exp(-(((two_theta % 7) - 3.5) ** 2) / 0.001);
  const observed = calculated + 10 * Math.sin(i);
  profile.writeInt32LE(i % 5000 === 0 ? 4 : 0, at);
  for (const [k, v] of [[1, two_theta * 100], [2, observed], [3, calculated], [4, 1], [6, 1 / observed]]) {
    profile.writeFloatLE(v, at + 4 * k);
  }
}
fs.writeFileSync(path.join(folder, 'BIG.P01'), profile);

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const native = [];
for (let r = 0; r < rounds; ++r) {
  const start = process.hrtime.bigint();
  execFileSync(path.resolve(trov), { cwd: folder, input: 'BIG\n' });
  native.push(Number(process.hrtime.bigint() - start) / 1e6);
}

const browser = await chromium.launch({
  executablePath: process.env.TROV_CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update', '--no-first-run'],
});
const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
// Every task of the page's thread over 50 ms, as the browser reports it.
await page.addInitScript(() => {
  globalThis.trov_long_tasks = [];
  new PerformanceObserver((list) => globalThis.trov_long_tasks.push(...list.getEntries().map((e) => e.duration)))
    .observe({ type: 'longtask', buffered: true });
});
// The resident memory of the browser's processes, in MB.
const browser_mb = () => {
  try {
    const kb = execFileSync('ps', ['-C', 'chromium', '-o', 'rss='], { encoding: 'utf8' }).split(/\s+/).filter(Boolean).map(Number);
    return kb.reduce((a, b) => a + b, 0) / 1024;
  } catch {
    return 0;
  }
};
let longest = 0;
let peak = 0;
const opening = [];
const timings = [];
for (let r = 0; r < rounds; ++r) {
  const start = Date.now();
  await page.goto(`file://${path.resolve(page_file)}`);
  await page.waitForSelector('#status[data-state="idle"]');
  opening.push(Date.now() - start);
  await page.evaluate(() => { globalThis.trov_long_tasks.length = 0; });  // the page's opening is not a run's
  const sampler = setInterval(() => { peak = Math.max(peak, browser_mb()); }, 50);
  await page.setInputFiles('#files', [path.join(folder, 'BIG.EXP'), path.join(folder, 'BIG.P01')]);
  await page.waitForSelector('#status[data-state="done"]', { timeout: 120000 });
  timings.push(await page.evaluate(() => globalThis.trov_timings));
  // The downloads a user follows, each made as the link is reached.
  for (const name of ['BIG.zip', 'BIG_01.csv', 'BIG_01.svg', 'BIG_01.png']) {
    await page.hover(`a[download="${name}"]`);
    await Promise.all([page.waitForEvent('download'), page.click(`a[download="${name}"]`)]).then(([file]) => file.path());
  }
  clearInterval(sampler);
  longest = Math.max(longest, await page.evaluate(() => Math.max(0, ...globalThis.trov_long_tasks)));
}
await browser.close();
fs.rmSync(folder, { recursive: true });

const convert = median(timings.map((t) => t.convert));
console.log(`native trov, ${POINTS} points: ${median(native).toFixed(0)} ms (process start included)`);
console.log(`page opened: ${median(opening)} ms`);
console.log(`in the page: trov's conversion ${convert} ms (${(convert / median(native)).toFixed(2)}x native), ` +
            `figure drawn ${median(timings.map((t) => t.drawn))} ms, every file offered ${median(timings.map((t) => t.files))} ms, ` +
            `the zip ${median(timings.map((t) => t.all))} ms`);
console.log(`longest task of the page's thread: ${longest.toFixed(0)} ms; browser's peak memory: ${peak.toFixed(0)} MB ` +
            `(input ${(profile.length / 1048576).toFixed(0)} MB)`);
