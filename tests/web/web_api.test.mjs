// The browser edition's module on the sample: the native programs' bytes, and their messages when a file is missing.
//
// Run by CI as: TROV_WEB_MODULE=build-wasm/trov_web.js TROV_SAMPLE_DIR=build/sample node --test tests/web/
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';

import { point_view } from '../../src/apps/web/page/trov_run.js';

const require = createRequire(import.meta.url);
const skip = process.env.TROV_WEB_MODULE ? false : 'TROV_WEB_MODULE is not set';
const createTrov = skip ? null : require(path.resolve(process.env.TROV_WEB_MODULE));
const sample = process.env.TROV_SAMPLE_DIR;
const inputs = ['SAMPLE.EXP', 'SAMPLE.P01', 'SAMPLE.P03'];

// A module with the given files (name -> bytes) in its working folder, as the page puts dropped files there.
async function withFiles(files) {
  const trov = await createTrov();
  trov.FS.mkdir('/work');
  trov.FS.chdir('/work');
  for (const [name, bytes] of Object.entries(files)) trov.FS.writeFile(name, bytes);
  return trov;
}

const call = (trov, what, expnam, histograms = '') =>
  what === 'plan' ? trov.ccall('trov_web_plan', 'number', ['string'], [expnam])
                  : trov.ccall(`trov_web_${what}`, 'number', ['string', 'string'], [expnam, histograms]);
const text = (trov) => trov.UTF8ToString(trov.ccall('trov_web_text', 'number', [], []));
const sampleFiles = (names) => Object.fromEntries(names.map((n) => [n, fs.readFileSync(path.join(sample, n))]));

test('the sample converts and exports to the native programs\' bytes', { skip }, async () => {
  const trov = await withFiles(sampleFiles(inputs));
  assert.equal(call(trov, 'convert', 'SAMPLE'), 0, text(trov));
  assert.equal(call(trov, 'export', 'SAMPLE'), 0, text(trov));
  for (const name of ['SAMPLE.a01', 'SAMPLE.b01', 'SAMPLE.a03', 'SAMPLE.b03', 'SAMPLE_01.csv', 'SAMPLE_01_ticks.csv',
                      'SAMPLE_03.csv', 'SAMPLE_03_ticks.csv', 'SAMPLE.cif', 'SAMPLE.json']) {
    assert.ok(Buffer.from(trov.FS.readFile(name)).equals(fs.readFileSync(path.join(sample, name))), name);
  }
});

test('a missing profile and a file of no experiment are told as the native programs tell them', { skip }, async () => {
  const trov = await withFiles(sampleFiles(['SAMPLE.EXP', 'SAMPLE.P01']));
  assert.equal(call(trov, 'plan', 'sample'), 0);
  const plan = JSON.parse(text(trov));
  assert.deepEqual(plan.histograms.map((h) => h.profile), ['SAMPLE.P01', null]);
  assert.equal(call(trov, 'convert', 'SAMPLE'), 1);
  assert.equal(text(trov), 'Error opening SAMPLE.P03');
  assert.ok(trov.FS.readdir('.').includes('SAMPLE.a01'));  // the histograms before it are complete
  assert.equal(call(trov, 'export', 'SAMPLE'), 1);
  assert.equal(text(trov), 'Error opening SAMPLE.P03');
  assert.ok(!trov.FS.readdir('.').some((n) => n.endsWith('.csv') || n.endsWith('.tmp')));  // all or nothing
  // The page then asks for the histograms whose profiles are there.
  assert.equal(call(trov, 'export', 'SAMPLE', '1'), 0, text(trov));
  assert.ok(Buffer.from(trov.FS.readFile('SAMPLE_01.csv')).equals(fs.readFileSync(path.join(sample, 'SAMPLE_01.csv'))));
  trov.FS.writeFile('NOTES.EXP', 'a letter, not an experiment\n');
  assert.equal(call(trov, 'export', 'NOTES'), 1);
  assert.equal(text(trov), 'NOTES.EXP lists no powder histogram');
});

test('the figure\'s columns are the values of the CSV file', { skip }, async () => {
  const trov = await withFiles(sampleFiles(inputs));
  const handle = trov.ccall('trov_web_points', 'number', ['string', 'number'], ['SAMPLE', 1]);
  assert.notEqual(handle, 0, text(trov));
  const view = point_view(trov, handle);
  const column = (name) => new Float64Array(trov.HEAPU8.buffer, view[name], view.count);
  const rows = fs.readFileSync(path.join(sample, 'SAMPLE_01.csv'), 'utf8').trim().split('\n').slice(1);
  assert.equal(view.count, rows.length);
  for (const i of [0, 1234, rows.length - 1]) {
    const cells = rows[i].split(',').map(Number);
    assert.deepEqual(['x', 'd', 'q', 'observed', 'calculated', 'difference'].map((name) => column(name)[i]), cells.slice(0, 6));
    assert.equal(trov.HEAPU8[view.fitted + i], cells[10]);
  }
  const ticks = fs.readFileSync(path.join(sample, 'SAMPLE_01_ticks.csv'), 'utf8').trim().split('\n').length - 1;
  assert.equal(view.tick_count, ticks);
  trov.ccall('trov_web_free_points', null, ['number'], [handle]);
  assert.equal(trov.ccall('trov_web_points', 'number', ['string', 'number'], ['SAMPLE', 2]), 0);
});

// Blobs whose bytes a test can read at once, as a worker's FileReaderSync reads any Blob.
class ReadableBlob extends Blob {
  constructor(parts = [], options) {
    super(parts, options);
    this.bytes = Buffer.concat(parts.map((part) => (part instanceof ReadableBlob ? part.bytes : Buffer.from(part))));
  }
}

test('spooled files hold what the module wrote, whatever it does with them after', { skip }, async () => {
  const { spool } = await import('../../src/apps/web/page/spooled_files.js');
  const { crc32 } = await import('../../src/apps/web/page/zip_file.js');
  const saved = [globalThis.Blob, globalThis.FileReaderSync];
  globalThis.Blob = ReadableBlob;
  globalThis.FileReaderSync = class { readAsArrayBuffer(blob) { return blob.bytes; } };
  try {
    const trov = await withFiles({ 'BEFORE.EXP': Buffer.from('an input\n') });
    const take = spool(trov);
    const big = Buffer.alloc(9 << 20, 'x');  // past two parts
    const cases = [
      ['appended', (fd) => { trov.FS.write(fd, big, 0, big.length); trov.FS.write(fd, Buffer.from('end\n'), 0, 4); },
       Buffer.concat([big, Buffer.from('end\n')]), true],
      ['written back over', (fd) => { trov.FS.write(fd, Buffer.from('abcdef'), 0, 6); trov.FS.write(fd, Buffer.from('XY'), 0, 2, 1); },
       Buffer.from('aXYdef'), false],
      ['read back', (fd) => {
        trov.FS.write(fd, Buffer.from('hello'), 0, 5);
        const back = Buffer.alloc(5);
        trov.FS.read(fd, back, 0, 5, 0);
        assert.equal(back.toString(), 'hello');
        trov.FS.write(fd, Buffer.from('!'), 0, 1, 5);
      }, Buffer.from('hello!'), false],
      ['truncated and written again', (fd, name) => { trov.FS.write(fd, Buffer.from('old'), 0, 3); trov.FS.truncate(name, 0); trov.FS.write(fd, Buffer.from('new'), 0, 3, 0); },
       Buffer.from('new'), true],
      ['empty', () => {}, Buffer.alloc(0), false],
    ];
    // [what the module does, its writes, the file's bytes, whether it stays spooled]
    for (const [what, write, expected, spooled] of cases) {
      const name = `${what.replace(/ /g, '_')}.txt`;
      const stream = trov.FS.open(name, 'w+');
      write(stream, name);
      trov.FS.close(stream);
      assert.equal(trov.FS.stat(name).size, expected.length, what);
      const file = take(name, 'text/plain');
      const bytes = file.blob ? file.blob.bytes : Buffer.from(file.bytes);
      assert.ok(bytes.equals(expected), what);
      assert.equal(Boolean(file.blob), spooled, what);
      if (file.blob) assert.equal(file.crc, crc32(expected), what);
    }
    assert.equal(take('BEFORE.EXP').bytes.length, 9, 'a file written before spool() is left as it is');
    assert.equal(take('missing.txt'), null);
  } finally {
    [globalThis.Blob, globalThis.FileReaderSync] = saved;
  }
});
