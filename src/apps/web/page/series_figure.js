// The series table's figure, as trov-plot --series draws it: a panel per refined quantity of each phase, and wRp, against the series variable.
//
// series_panels() follows trov-plot's panel rules (tools/trov_plot/series.py;
// tests/data/series_panels.json holds the cases both are checked against);
// series_svg() draws them as an SVG file, text kept as text.

import { nice_ticks } from './figure.js';
import { display_name, phase_colour } from './figure_style.js';

const CELL = [['a', 'a (Å)'], ['b', 'b (Å)'], ['c', 'c (Å)'], ['alpha', 'α (°)'], ['beta', 'β (°)'], ['gamma', 'γ (°)']];
const HISTOGRAM_GREYS = ['#222222', '#777777', '#aaaaaa'];

const finite = (v) => (typeof v === 'number' && Number.isFinite(v) ? v : null);

// [[x, value, su]] of the rows with an x and a value; su 0 where there is none.
function points(rows, value_of) {
  const out = [];
  for (const row of rows) {
    const x = finite(row.x);
    const [value, su] = value_of(row);
    if (x !== null && finite(value) !== null) out.push([x, value, finite(su) || 0]);
  }
  return out;
}

const varies = (got) => new Set(got.map(([, v]) => v)).size > 1 || got.some(([, , su]) => su > 0);
const numbers_of = (object) => Object.keys(object || {}).filter((k) => /^\d+$/.test(k)).map(Number).sort((a, b) => a - b);

// The panels, top to bottom: [{label: [phase, quantity] or [quantity], curves:
// [{label, colour, points}]}]: each phase's a, then b and c where they differ
// from a, the angles, V and its fraction in each histogram, each only where
// refined (an s.u. or a change); then wRp, one curve a histogram.
export function series_panels(series) {
  const rows = series.experiments;
  const phase_numbers = [...new Set(rows.flatMap((r) => numbers_of(r.phases)))].sort((a, b) => a - b);
  const names = new Map();
  for (const row of rows) {
    for (const n of numbers_of(row.phases)) {
      const name = row.phases[n]?.name;
      if (typeof name === 'string' && !names.has(n)) names.set(n, display_name(name));
    }
  }
  const panels = [];
  for (const n of phase_numbers) {
    const name = names.get(n) || `phase ${n}`;
    const colour = phase_colour(n);
    const of_phase = (get) => (row) => get(row.phases[n] || {});
    const cell = (key) => of_phase((p) => [p.cell?.[key], p.cell?.[`${key}_su`]]);
    const a = points(rows, cell('a')).map(([, v]) => v);
    for (const [key, label] of CELL) {
      const got = points(rows, cell(key));
      if ((key === 'b' || key === 'c') && got.length === a.length && got.every(([, v], i) => v === a[i])) continue;
      if (got.length > 0 && varies(got)) panels.push({ label: [name, label], curves: [{ label: name, colour, points: got }] });
    }
    const volume = points(rows, of_phase((p) => [p.volume, p.volume_su]));
    if (volume.length > 0 && varies(volume)) panels.push({ label: [name, 'V (Å³)'], curves: [{ label: name, colour, points: volume }] });
    const histograms = [...new Set(rows.flatMap((r) => numbers_of(r.phases[n]?.fractions)))].sort((x, y) => x - y);
    for (const h of histograms) {
      const got = points(rows, of_phase((p) => [p.fractions?.[h], 0]));
      if (got.length > 0 && varies(got)) {
        panels.push({ label: [name, histograms.length === 1 ? 'fraction' : `fraction, hist. ${h}`],
                      curves: [{ label: name, colour, points: got }] });
      }
    }
  }
  const wrp = [];
  [...new Set(rows.flatMap((r) => numbers_of(r.histograms)))].sort((a, b) => a - b).forEach((h, i) => {
    const got = points(rows, (row) => {
      const value = finite(row.histograms?.[h]?.wRp);
      return [value === null ? null : 100 * value, 0];
    });
    if (got.length > 0) wrp.push({ label: `hist. ${h}`, colour: HISTOGRAM_GREYS[i % HISTOGRAM_GREYS.length], points: got });
  });
  if (wrp.length > 0) panels.push({ label: ['wRp (%)'], curves: wrp });
  return panels;
}

export function series_x_label(series) {
  const name = display_name(String(series.x?.name ?? 'x'));
  return series.x?.unit ? `${name} (${display_name(String(series.x.unit))})` : name;
}

const escape = (text) => String(text).replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);
const PANEL = 110;  // px per panel
const LEFT = 96;
const RIGHT = 14;
const TOP = 28;
const BOTTOM = 44;
const FONT = 'font-family="system-ui, DejaVu Sans, sans-serif" font-size="12"';

function extent(values) {
  let low = Math.min(...values);
  let high = Math.max(...values);
  if (!(high > low)) {
    const pad = Math.abs(low) * 0.01 || 1;
    low -= pad;
    high += pad;
  }
  const pad = (high - low) * 0.08;
  return [low - pad, high + pad];
}

// The panels as an SVG file of the given width (CSS pixels).
export function series_svg(panels, x_label, width) {
  const height = TOP + panels.length * PANEL + BOTTOM;
  const all_x = panels.flatMap((p) => p.curves.flatMap((c) => c.points.map(([x]) => x)));
  const [x0, x1] = extent(all_x);
  const plot_width = width - LEFT - RIGHT;
  const px = (x) => LEFT + ((x - x0) / (x1 - x0)) * plot_width;
  const parts = [`<svg xmlns="http://www.w3.org/2000/svg" width="${width}" height="${height}" viewBox="0 0 ${width} ${height}">`,
                 `<rect width="${width}" height="${height}" fill="#ffffff"/>`];
  const x_ticks = nice_ticks(x0, x1, Math.max(3, Math.floor(plot_width / 80)));
  panels.forEach((panel, k) => {
    const top = TOP + k * PANEL + 6;
    const bottom = TOP + (k + 1) * PANEL - 6;
    const [y0, y1] = extent(panel.curves.flatMap((c) => c.points.flatMap(([, v, su]) => [v - su, v + su])));
    const py = (v) => bottom - ((v - y0) / (y1 - y0)) * (bottom - top);
    parts.push(`<rect x="${LEFT}" y="${top}" width="${plot_width}" height="${bottom - top}" fill="none" stroke="#1d1d1f" stroke-width="0.8"/>`);
    const y_ticks = nice_ticks(y0, y1, 3);
    for (const v of y_ticks.values) {
      if (v < y0 || v > y1) continue;
      parts.push(`<line x1="${LEFT - 4}" x2="${LEFT}" y1="${py(v)}" y2="${py(v)}" stroke="#1d1d1f"/>`,
                 `<text x="${LEFT - 6}" y="${py(v) + 4}" text-anchor="end" ${FONT}>${v.toFixed(y_ticks.decimals)}</text>`);
    }
    for (const x of x_ticks.values) {
      if (x >= x0 && x <= x1) parts.push(`<line x1="${px(x)}" x2="${px(x)}" y1="${bottom}" y2="${bottom + 4}" stroke="#1d1d1f"/>`);
    }
    const middle = (top + bottom) / 2;
    // The label turned a quarter, a line for the phase and one for the quantity.
    panel.label.forEach((line, i) => {
      const x = 14 + i * 15;
      parts.push(`<text x="${x}" y="${middle}" text-anchor="middle" transform="rotate(-90 ${x} ${middle})" ${FONT}>${escape(line)}</text>`);
    });
    for (const curve of panel.curves) {
      const sorted = [...curve.points].sort((a, b) => a[0] - b[0]);
      parts.push(`<polyline fill="none" stroke="${curve.colour}" stroke-width="1.2" points="${sorted.map(([x, v]) => `${px(x)},${py(v)}`).join(' ')}"/>`);
      for (const [x, v, su] of sorted) {
        if (su > 0) parts.push(`<line x1="${px(x)}" x2="${px(x)}" y1="${py(v - su)}" y2="${py(v + su)}" stroke="${curve.colour}"/>`);
        parts.push(`<circle cx="${px(x)}" cy="${py(v)}" r="3" fill="${curve.colour}"/>`);
      }
    }
  });
  const last = TOP + panels.length * PANEL - 6;
  for (const x of x_ticks.values) {
    if (x >= x0 && x <= x1) parts.push(`<text x="${px(x)}" y="${last + 18}" text-anchor="middle" ${FONT}>${x.toFixed(x_ticks.decimals)}</text>`);
  }
  parts.push(`<text x="${LEFT + plot_width / 2}" y="${height - 8}" text-anchor="middle" ${FONT}>${escape(x_label)}</text>`);
  // The histograms of the wRp panel, named above the figure where there are a few.
  const wrp = panels.at(-1)?.label[0] === 'wRp (%)' ? panels.at(-1).curves : [];
  if (wrp.length > 1 && wrp.length <= HISTOGRAM_GREYS.length) {
    wrp.forEach((curve, i) => {
      const x = LEFT + i * 90;
      parts.push(`<line x1="${x}" x2="${x + 18}" y1="14" y2="14" stroke="${curve.colour}" stroke-width="1.2"/>`,
                 `<text x="${x + 22}" y="18" ${FONT}>${escape(curve.label)}</text>`);
    });
  }
  parts.push('</svg>');
  return parts.join('\n');
}
