// The browser edition's speed beside the native trov's, in one run: a million-point experiment converted, drawn and exported in headless Chromium.
//
// node bench/page.mjs BUILD/trov BUILD-WEB/trov.html [ROUNDS]
// Prints medians: the page's opening; per run, trov's conversion in the page
// against the native trov on the same files (the ratio that matters), the
// figure drawn and every file offered, counted from the files' arrival.
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
const opening = [];
const timings = [];
for (let r = 0; r < rounds; ++r) {
  const start = Date.now();
  await page.goto(`file://${path.resolve(page_file)}`);
  await page.waitForSelector('#status[data-state="idle"]');
  opening.push(Date.now() - start);
  await page.setInputFiles('#files', [path.join(folder, 'BIG.EXP'), path.join(folder, 'BIG.P01')]);
  await page.waitForSelector('#status[data-state="done"]', { timeout: 120000 });
  timings.push(await page.evaluate(() => globalThis.trov_timings));
}
await browser.close();
fs.rmSync(folder, { recursive: true });

const convert = median(timings.map((t) => t.convert));
console.log(`native trov, ${POINTS} points: ${median(native).toFixed(0)} ms (process start included)`);
console.log(`page opened: ${median(opening)} ms`);
console.log(`in the page: trov's conversion ${convert} ms (${(convert / median(native)).toFixed(2)}x native), ` +
            `figure drawn ${median(timings.map((t) => t.drawn))} ms, every file offered ${median(timings.map((t) => t.files))} ms`);
