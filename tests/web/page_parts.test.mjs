// The page's parts that need no browser: sorting dropped files, line ends, axis ticks, excluded runs, the figure as SVG.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { group_experiments, name_problem, stored_name } from '../../src/apps/web/page/experiment_files.js';
import { csv_rows } from '../../src/apps/web/page/csv.js';
import { with_crlf } from '../../src/apps/web/page/downloads.js';
import { draw_figure, excluded_runs, nice_ticks, visible_window } from '../../src/apps/web/page/figure.js';
import { svg_painter } from '../../src/apps/web/page/painters.js';
import { series_panels, series_svg, series_x_label } from '../../src/apps/web/page/series_figure.js';
import { axis_label, chi2_text, curve_limits, padded, phase_colour, short_name, statistics_lines } from '../../src/apps/web/page/figure_style.js';
import { crc32, zip_blob } from '../../src/apps/web/page/zip_file.js';
import RULES from '../data/figure_rules.json' with { type: 'json' };
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

test('dropped files are sorted into experiments whatever their case, folder by folder', () => {
  const entries = ['run2/garnet.exp', 'run2/GARNET.P01', 'run2/Garnet.p03', 'GARNET.EXP', 'garnet.p02', 'notes.txt',
                   'run2/garnet.p1', 'run2/other.p01', 'run2/GARNET.EXP'].map((path) => ({ path }));
  const groups = group_experiments(entries);
  assert.deepEqual(groups.map((g) => [g.folder, g.stem, g.experiment.path, [...g.profiles.keys()]]), [
    ['', 'GARNET', 'GARNET.EXP', [2]],
    // Two experiments whose names differ only in case: the first in path order.
    ['run2', 'GARNET', 'run2/GARNET.EXP', [1, 3]],
  ]);
  assert.equal(stored_name('müller.v2', '.P01'), 'MüLLER.V2.P01');
  // A name with a dot is grouped, and what trov would make of it is said.
  const [dotted] = group_experiments([{ path: 'runs/x.y.EXP' }, { path: 'runs/x.y.P01' }]);
  assert.deepEqual([dotted.stem, [...dotted.profiles.keys()]], ['x.y', [1]]);
  assert.equal(name_problem(dotted), "x.y.EXP: trov reads an experiment's name up to its first dot, which makes this one x; " +
    'rename its files x_y.EXP, x_y.P01, … and drop them again');
  assert.equal(name_problem(groups[0]), null);
});

test('the figure\'s words and colours are trov-plot\'s, case by case of the shared fixture', () => {
  for (const [value, text] of RULES.chi2) assert.equal(chi2_text(value), text, `χ² ${value}`);
  for (const c of RULES.statistics) assert.deepEqual(statistics_lines(c.statistics, c.reduced_chi2), c.lines);
  for (const [name, short] of RULES.names) assert.equal(short_name(name), short, JSON.stringify(name));
  for (const [marker, line, text] of RULES.phase_colours) {
    assert.deepEqual([phase_colour(marker), phase_colour(marker, true)], [line, text], `marker ${marker}`);
  }
  for (const [axis, unit, label] of RULES.axis_labels) assert.equal(axis_label(axis, unit), label, `${axis} ${unit}`);
  for (const c of RULES.excluded_runs) {
    assert.deepEqual(excluded_runs(Float64Array.from(c.x), Uint8Array.from(c.fitted)), c.runs, JSON.stringify(c));
  }
  for (const c of RULES.series_panels) {
    const panels = series_panels(c.series).map((p) => [p.label, p.curves.map((k) => k.label), p.curves.map((k) => k.points.length)]);
    assert.deepEqual(panels, c.panels);
    assert.equal(series_x_label(c.series), c.x_label);
  }
  for (const c of RULES.limits) {
    const { offset, bottom, top } = curve_limits(c.low, c.high, c.difference);
    assert.deepEqual([offset, bottom, top, padded(bottom, top)], [c.offset, c.bottom, c.top, c.axis], JSON.stringify(c));
  }
});

test('CR LF line ends are those of trov on Windows: one CR before every LF', () => {
  const cases = [['', ''], ['a\n', 'a\r\n'], ['a\nb\n\n', 'a\r\nb\r\n\r\n'], ['no end', 'no end']];
  for (const [lf, crlf] of cases) {
    assert.equal(Buffer.from(with_crlf(Buffer.from(lf))).toString(), crlf);
  }
});

test('a zip holds each file\'s bytes under its name, as unzip and Python read it, in every form it takes', async () => {
  assert.equal(crc32(Buffer.from('123456789')), 0xcbf43926);
  assert.equal(crc32(Buffer.from('56789'), crc32(Buffer.from('1234'))), 0xcbf43926);
  const text = Buffer.from('  5.000  123.4\n'.repeat(5000));
  let state = 2463534242;
  const next = () => {
    state ^= state << 13; state ^= state >>> 17; state ^= state << 5;
    return state & 0xff;
  };
  const random = Uint8Array.from({ length: 3000 }, next);  // does not compress: stored
  const files = [['MüLLER.a01', text], ['MüLLER.b01', Buffer.alloc(0)], ['MüLLER_01.csv', random]];
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'trov-zip-'));
  try {
    for (const options of [{}, { compress: false }, { zip64: true }, { compress: false, zip64: true }]) {
      const blob = await zip_blob(files.map(([name, bytes]) => [name, new Blob([bytes]), crc32(bytes)]),
                                  { ...options, date: new Date(2026, 11, 9, 16, 30, 4) });
      const file = path.join(folder, 'run.zip');
      fs.writeFileSync(file, Buffer.from(await blob.arrayBuffer()));
      const what = JSON.stringify(options);
      // unzip checks every CRC and size; Python's zipfile reads the ZIP64 records by its own code.
      assert.match(execFileSync('unzip', ['-t', file], { encoding: 'utf8' }), /No errors detected/, what);
      const listed = JSON.parse(execFileSync('/usr/bin/python3', ['-c', `
import json, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    print(json.dumps([[i.filename, i.date_time, i.compress_type, z.read(i).hex()] for i in z.infolist()]))`, file],
      { encoding: 'utf8' }));
      assert.deepEqual(listed.map(([name, , , hex]) => [name, hex]), files.map(([name, bytes]) => [name, Buffer.from(bytes).toString('hex')]), what);
      assert.deepEqual(listed[0][1], [2026, 12, 9, 16, 30, 4], what);
      assert.deepEqual(listed.map(([, , method]) => method), options.compress === false ? [0, 0, 0] : [8, 0, 0], what);
    }
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
});

test('CSV rows read back as written: quoted fields with commas, quotes and line ends, empty fields', () => {
  const cases = [
    ['a,b\n1,2\n', [['a', 'b'], ['1', '2']]],
    ['x,,\n', [['x', '', '']]],
    ['"a, b","say ""hi""","two\nlines"\n', [['a, b', 'say "hi"', 'two\nlines']]],
    ['', []],
  ];
  for (const [text, rows] of cases) assert.deepEqual(csv_rows(text), rows, JSON.stringify(text));
});

test('axis ticks are round numbers inside the range', () => {
  const cases = [
    [5, 120, 8, [20, 40, 60, 80, 100, 120], 0],
    [0.8, 17.6, 4, [5, 10, 15], 0],
    [28.41, 28.47, 3, [28.42, 28.44, 28.46], 2],
    [-3700, 92000, 4, [0, 25000, 50000, 75000], 0],
  ];
  for (const [low, high, count, values, decimals] of cases) {
    assert.deepEqual(nice_ticks(low, high, count), { values, decimals }, `${low} to ${high}`);
  }
});

test('excluded regions are the runs of points left out of the fit, in either direction of the axis', () => {
  const fitted = Uint8Array.from([0, 0, 1, 1, 0, 1, 0, 0]);
  assert.deepEqual(excluded_runs([1, 2, 3, 4, 5, 6, 7, 8], fitted), [[1, 2], [5, 5], [7, 8]]);
  assert.deepEqual(excluded_runs([8, 7, 6, 5, 4, 3, 2, NaN], fitted), [[7, 8], [4, 4], [2, 2]]);
});

// A figure's data as the page builds it, from rows [x, observed, calculated, fitted].
function data_of(rows, ticks = []) {
  const column = (i) => Float64Array.from(rows, (r) => r[i]);
  const fitted = Uint8Array.from(rows, (r) => r[3]);
  return {
    count: rows.length,
    x: { position: column(0) },
    observed: column(1),
    calculated: column(2),
    difference: Float64Array.from(rows, (r) => r[1] - r[2]),
    fitted,
    ticks: { x: { position: Float64Array.from(ticks, (t) => t[0]) }, marker: Int32Array.from(ticks, (t) => t[1]) },
    phases: [{ marker: 1, name: 'Garnet <Ca3Al2Si3O12> & friends, a long name' }],
    labels: { position: '2θ (°)' },
    statistics: 'wRp = 5.10%',
    excluded: { position: excluded_runs(column(0), fitted) },
  };
}

test('the SVG figure keeps its words as text, escaped, and draws what IEEE values a file may hold', () => {
  const rows = [[10, 5, 0, 0], [11, 7, 6, 1], [12, NaN, 8, 1], [13, Infinity, 7, 1], [14, 3, -Infinity, 1], [15, 2, 2, 1]];
  const painter = svg_painter(800, 500, 'T & <title>');
  draw_figure(painter, data_of(rows, [[12, 1]]), { axis: 'position', range: [10, 15] }, { width: 800, height: 500 });
  const svg = painter.svg();
  for (const text of ['>Observed</text>', '>Calculated</text>', '>Difference</text>', '>2θ (°)</text>', '>wRp = 5.10%</text>',
                      '>Garnet &lt;Ca3Al2Si3O1…</text>', '<title>T &amp; &lt;title&gt;</title>']) {
    assert.ok(svg.includes(text), text);
  }
  assert.ok(!/NaN|Infinity/.test(svg));
  // A million points reduce to a few per column of pixels.
  const many = Array.from({ length: 1e6 }, (_, i) => [i, Math.sin(i / 1000), Math.sin(i / 1000), 1]);
  const big = svg_painter(800, 500, 'big');
  draw_figure(big, data_of(many), { axis: 'position', range: [0, 1e6 - 1] }, { width: 800, height: 500 });
  assert.ok(big.svg().length < 400000);
});

test('the SVG file holds no character XML forbids, whatever a name or title holds', () => {
  const data = data_of([[10, 5, 5, 1], [11, 6, 6, 1]], [[10.5, 1]]);
  data.phases = [{ marker: 1, name: 'form\ffeed\u001b[1m' }];
  const painter = svg_painter(800, 500, 'title\f with \ud800 a lone half');
  draw_figure(painter, data, { axis: 'position', range: [10, 11] }, { width: 800, height: 500 });
  const svg = painter.svg();
  assert.ok(!/[\x00-\x08\x0b\x0c\x0e-\x1f]|[\ud800-\udfff]/.test(svg));
  assert.ok(svg.includes('>form feed [1m</text>') && svg.includes('<title>title\ufffd with \ufffd a lone half</title>'));
});

test('no text leaves the figure, whatever the range: a round last label at the frame\'s edge included', () => {
  for (const [lo, hi] of [[0, 200000], [25984, 207569], [0.5, 120], [-3, 3]]) {
    const rows = Array.from({ length: 500 }, (_, i) => {
      const x = lo + ((hi - lo) * i) / 499;
      return [x, 1000 + 500 * Math.sin(x), 1000 + 500 * Math.sin(x), 1];
    });
    for (const width of [358, 1200]) {
      const painter = svg_painter(width, 340, 't');
      draw_figure(painter, data_of(rows), { axis: 'position', range: [lo, hi] }, { width, height: 340 });
      const out = painter.texts.filter((t) => t.x0 < -0.5 || t.x1 > width + 0.5 || t.y0 < -0.5 || t.y1 > 340.5);
      assert.deepEqual(out.map((t) => t.text), [], `${lo} to ${hi} at ${width} px`);
    }
  }
});

test('curves break at points left out of the fit, drawn point by point or a column at a time', () => {
  const calculated_lines = (rows) => {
    const painter = svg_painter(800, 500, 't');
    const x = rows.map((r) => r[0]);
    draw_figure(painter, data_of(rows), { axis: 'position', range: [Math.min(...x), Math.max(...x)] }, { width: 800, height: 500 });
    return painter.svg().split('\n').filter((line) => line.startsWith('<polyline') && line.includes('stroke="#0072B2"')).length;
  };
  const few = [[10, 5, 5, 1], [11, 6, 6, 1], [12, 7, 7, 0], [13, 8, 8, 0], [14, 9, 9, 1], [15, 9, 9, 1]];
  assert.equal(calculated_lines(few), 2);
  assert.equal(calculated_lines(few.map((r) => [r[0], r[1], r[2], 1])), 1);
  const many = Array.from({ length: 100000 }, (_, i) => [i, Math.sin(i / 1000), Math.cos(i / 1000), i >= 20000 && i < 30000 ? 0 : 1]);
  assert.equal(calculated_lines(many), 2);
});

test('a view draws from the points it can show: found by bisection where the axis runs one way', () => {
  const up = Float64Array.from([1, 2, 3, 4, 5, 6]);
  const down = Float64Array.from([6, 5, 4, 3, 2, 1]);
  const cases = [
    [up, 2.5, 4.5, [1, 5]],      // 3 and 4, and one point more each side
    [up, 0, 10, [0, 6]],
    [up, 3, 3, [1, 4]],
    [down, 2.5, 4.5, [1, 5]],    // d-spacings of a time-of-flight bank run downwards
    [Float64Array.from([1, NaN, 3, 2]), 2, 3, [0, 4]],  // not one way: every point
    [new Float64Array(0), 0, 1, [0, 0]],
  ];
  for (const [x, lo, hi, expected] of cases) assert.deepEqual(visible_window(x, lo, hi), expected, `${x} ${lo} ${hi}`);
});
