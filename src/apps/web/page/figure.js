// A histogram's Rietveld figure drawn on a painter (the screen's canvas, an SVG file or a PNG): trov-plot's layout and colours.
//
// The figure follows trov-plot: observed points as open circles, the
// calculated curve over the fitted points, the difference below them on the
// same scale with its zero line, a row of reflection ticks per phase
// (phase 1 on top) and the excluded regions shaded. Up to a million points
// are drawn by reducing each column of pixels to the first, lowest, highest
// and last value that falls in it, which draws the same picture as every
// point would, in a pass over the arrays.

import { COLOURS, curve_limits, padded, phase_colour, short_name } from './figure_style.js';

// The figure's parts in CSS pixels. Above the frame, the legend and the
// statistics (beside it where they fit, else on a line of their own: never
// over the data); left of it, the intensity label, then the tick labels and
// phase names as wide as they measure; one row of ticks per phase.
const MARGIN = { left: 4, right: 14, top: 30, bottom: 42 };
const ROW = 18;           // a line of 12 px text
const TICK_ROW = 15;      // a phase's row of ticks, its name at 11 px
const NAME_SIZE = 11;
const INTENSITY = 22;     // the column of the rotated "Intensity"
const GAP = 6;            // between a label and what it labels
const LABEL_GAP = 8;      // between two x labels: two thirds of an em
const LEGEND = ['Observed', 'Calculated', 'Difference'];
const BACKGROUND_DASH = [4, 2.5];
const SLICE = 1 << 14;  // points between two of figure_steps' yields
// A legend entry: its sample, then its word, then a space before the next.
const SAMPLE = 18;
const SAMPLE_GAP = 5;
const ENTRY_GAP = 16;

function legend_width(painter, legend) {
  return legend.reduce((sum, word) => sum + SAMPLE + SAMPLE_GAP + painter.measure(word) + ENTRY_GAP, -ENTRY_GAP);
}

// Where everything goes, from measured texts: {left, width, x_ticks, legend_x, legend_y,
// statistics: {x, y} or null, curves: {top, height}, ticks: {top, height,
// rows}, bottom, y_ticks}.
export function layout(painter, size, data, y_range, x_range, y_ticks_of = nice_ticks, descending = false, legend = LEGEND,
                       panel_range = null) {
  const rows = Math.max(data.phases.length, 1);
  const names = data.phases.map((p) => painter.measure(short_name(p.name), NAME_SIZE));
  const statistics_width = data.statistics ? painter.measure(data.statistics) : 0;
  let left = INTENSITY + Math.max(0, ...names) + GAP + 4;
  let box = null;
  // Twice: the left margin depends on the intensity labels, which depend on
  // the curves' height, which depends on whether the statistics fit beside
  // the legend, which depends on the left margin.
  for (let pass = 0; pass < 2; ++pass) {
    // Above the frame's left edge, or further left where it would run past the right.
    const legend_x = Math.max(MARGIN.left, Math.min(left, size.width - MARGIN.right - legend_width(painter, legend)));
    const beside = !data.statistics || legend_x + legend_width(painter, legend) + 2 * ENTRY_GAP + statistics_width <= size.width - MARGIN.right;
    const top = MARGIN.top + (beside ? 0 : ROW);
    const ticks_height = rows * TICK_ROW;
    // A panel below the curves (the difference or Δ/σ) takes a fifth of them.
    const panel_height = panel_range ? Math.max(40, Math.round((size.height - top - MARGIN.bottom - ticks_height) * 0.22)) : 0;
    const curves_height = Math.max(60, size.height - top - MARGIN.bottom - ticks_height - panel_height);
    const panel_ticks = panel_range ? nice_ticks(panel_range[0], panel_range[1], 2) : null;
    const panel_labels = panel_ticks ? panel_ticks.values.map((v) => painter.measure(format_tick(v, panel_ticks.decimals))) : [];
    const y_ticks = y_ticks_of(y_range[0], y_range[1], Math.max(2, Math.floor(curves_height / 50)));
    const labels = y_ticks.values.map((v) => painter.measure(y_ticks.label ? y_ticks.label(v) : format_tick(v, y_ticks.decimals)));
    left = INTENSITY + Math.max(0, ...labels, ...names, ...panel_labels) + GAP + 4;
    // Room on the right for half the last x label where it stands at the frame's edge.
    let right = MARGIN.right;
    let x_labels = null;
    for (let fit = 0; fit < 2; ++fit) {
      const [lo, hi] = x_range;
      const width = Math.max(40, size.width - left - right);
      x_labels = x_ticks(painter, lo, hi, width);
      const inside = x_labels.values.filter((v) => v >= lo && v <= hi);
      if (inside.length === 0 || !(hi > lo)) break;
      const last = descending ? inside[0] : inside[inside.length - 1];  // the label at the frame's right
      const share = descending ? (hi - last) / (hi - lo) : (last - lo) / (hi - lo);
      const end = left + share * width + painter.measure(format_tick(last, x_labels.decimals)) / 2;
      if (end <= size.width - 2) break;
      right += end - (size.width - 2);
    }
    box = {
      left,
      width: Math.max(40, size.width - left - right),
      x_ticks: x_labels,
      legend_x,
      legend_y: 14,
      statistics: data.statistics ? { x: size.width - MARGIN.right, y: beside ? 14 : 14 + ROW } : null,
      curves: { top, height: curves_height },
      panel: panel_range ? { top: top + curves_height, height: panel_height, ticks: panel_ticks } : null,
      ticks: { top: top + curves_height + panel_height, height: ticks_height, rows },
      bottom: top + curves_height + panel_height + ticks_height,
      y_ticks,
    };
  }
  return box;
}

// The x axis' labelled ticks: at least four where their labels fit apart,
// else as many as do.
function x_ticks(painter, lo, hi, width) {
  const fits = (ticks) => {
    const inside = ticks.values.filter((v) => v >= lo && v <= hi);
    const at = inside.map((v) => ((v - lo) / (hi - lo)) * width);
    const half = inside.map((v) => painter.measure(format_tick(v, ticks.decimals)) / 2);
    for (let i = 1; i < inside.length; ++i) if (at[i] - half[i] - (at[i - 1] + half[i - 1]) < LABEL_GAP) return false;
    return inside.length;
  };
  const wanted = Math.max(4, Math.floor(width / 70));
  for (let count = wanted; count <= wanted + 4; ++count) {
    const ticks = nice_ticks(lo, hi, count);
    if (fits(ticks) >= 4) return ticks;
  }
  for (let count = wanted; count >= 1; --count) {
    const ticks = nice_ticks(lo, hi, count);
    if (fits(ticks)) return ticks;
  }
  return nice_ticks(lo, hi, 1);
}

// The smallest and largest finite value of an array (null when none is).
export function finite_range(values) {
  let low = Infinity;
  let high = -Infinity;
  for (let i = 0; i < values.length; ++i) {
    const v = values[i];
    if (v < low) low = v;
    if (v > high) high = v;
  }
  return low <= high && Number.isFinite(low) && Number.isFinite(high) ? [low, high] : null;
}

// Round tick values from low to high, about count of them, and the decimals they need.
export function nice_ticks(low, high, count) {
  if (!(high > low)) return { values: [low], decimals: 0 };
  const raw = (high - low) / Math.max(1, count);
  const power = 10 ** Math.floor(Math.log10(raw));
  const step = [1, 2, 2.5, 5, 10].map((m) => m * power).find((s) => s >= raw) || 10 * power;
  const values = [];
  for (let k = Math.ceil(low / step); k * step <= high + step * 1e-9; ++k) values.push(k * step === 0 ? 0 : k * step);
  const decimals = Math.max(0, -Math.floor(Math.log10(step) + 1e-9) + (step / power === 2.5 ? 1 : 0));
  return { values, decimals };
}

// The intensity scales: each maps a value to where it is drawn (linear in
// the result), and gives the ticks of a range, as trov-plot's --sqrt and --log do.
const SUPERSCRIPTS = { '-': '⁻', 0: '⁰', 1: '¹', 2: '²', 3: '³', 4: '⁴', 5: '⁵', 6: '⁶', 7: '⁷', 8: '⁸', 9: '⁹' };
const round_to_first_digit = (v) => (v === 0 ? 0 : Math.round(v / 10 ** Math.floor(Math.log10(Math.abs(v)))) * 10 ** Math.floor(Math.log10(Math.abs(v))));
export const SCALES = {
  linear: { map: (v) => v, ticks: nice_ticks, label: 'Intensity' },
  // Round numbers spaced evenly in the square root, negatives included.
  sqrt: {
    map: (v) => Math.sign(v) * Math.sqrt(Math.abs(v)),
    ticks: (low, high) => {
      const top = Math.max(Math.abs(low), Math.abs(high), 1);
      const step = Math.sqrt(top) / 4;
      const values = new Set();
      for (let k = -Math.floor(Math.sqrt(Math.abs(Math.min(low, 0))) / step); k <= Math.floor(Math.sqrt(top) / step); ++k) {
        const v = round_to_first_digit(Math.sign(k) * (k * step) ** 2);
        if (v >= low && v <= high) values.add(v);
      }
      if (low <= 0 && high >= 0) values.add(0);
      return { values: [...values].sort((a, b) => a - b), decimals: 0 };
    },
    label: 'Intensity, √ scale',
  },
  // Decades, labelled 10ⁿ; what is not above zero is not drawn.
  log: {
    map: (v) => (v > 0 ? Math.log10(v) : NaN),
    ticks: (low, high) => {
      const values = [];
      for (let k = Math.ceil(Math.log10(low)); k <= Math.floor(Math.log10(high)); ++k) values.push(10 ** k);
      const label = (v) => `10${String(Math.round(Math.log10(v))).replace(/./g, (c) => SUPERSCRIPTS[c])}`;
      return { values, decimals: 0, label };
    },
    label: 'Intensity, log scale',
  },
};

// A region of points magnified, as trov-plot's --zoom does: the curves of
// points first to last (their indices, whatever the axis) times factor.
function magnified(data, { first, last, factor }) {
  const times = (values) => {
    if (!values) return values;
    const out = Float64Array.from(values);
    for (let i = first; i <= last && i < out.length; ++i) out[i] *= factor;
    return out;
  };
  return { ...data, observed: times(data.observed), calculated: times(data.calculated), difference: times(data.difference),
           background: times(data.background) };
}

// "×N" over the magnified region, on a bracket just above its highest point.
function draw_magnify_label(painter, data, view, box, { px, py }) {
  const { first, last, factor } = view.magnify;
  const x = data.x[view.axis];
  let high = -Infinity;
  for (let i = first; i <= last && i < x.length; ++i) {
    if (Number.isFinite(data.observed[i])) high = Math.max(high, data.observed[i]);
    if (data.fitted[i] && Number.isFinite(data.calculated[i])) high = Math.max(high, data.calculated[i]);
  }
  const [a, b] = [px(x[first]), px(x[Math.min(last, x.length - 1)])].sort((u, v) => u - v);
  const left = Math.max(a, box.left);
  const right = Math.min(b, box.left + box.width);
  if (!(right > left) || !Number.isFinite(high)) return;
  const y = Math.max(box.curves.top + 16, py(high) - 6);
  painter.segments([left, y, right, y, left, y - 3, left, y + 3, right, y - 3, right, y + 3], COLOURS.axes, 0.7);
  painter.text(`×${factor}`, (left + right) / 2, y - 3, { anchor: 'middle', baseline: 'bottom' });
}

// The panels that can stand below the curves: which column, and its label.
export const PANELS = {
  difference: { column: 'difference', label: 'Obs − calc', replaces_difference: true },
  delta_sigma: { column: 'delta_sigma', label: 'Δ/σ', replaces_difference: false },
};

// A panel's y range: its fitted values within the view, zero included, padded.
function panel_limits(x, values, fitted, [lo, hi], [from, to] = [0, x.length]) {
  let low = 0;
  let high = 0;
  for (let i = from; i < to; ++i) {
    if (!(x[i] >= lo && x[i] <= hi) || !fitted[i] || !Number.isFinite(values[i])) continue;
    if (values[i] < low) low = values[i];
    if (values[i] > high) high = values[i];
  }
  return low < high ? padded(low, high) : [-1, 1];
}

// Runs of points left out of the fit, as [low, high] on the axis given.
export function excluded_runs(x, fitted) {
  const runs = [];
  let start = -1;
  for (let i = 0; i <= fitted.length; ++i) {
    const out = i < fitted.length && !fitted[i] && Number.isFinite(x[i]);
    if (out && start < 0) start = i;
    if (!out && start >= 0) {
      const a = x[start];
      const b = x[i - 1];
      runs.push(a < b ? [a, b] : [b, a]);
      start = -1;
    }
  }
  return runs;
}

// Per column of pixels: the first, lowest, highest and last value of the
// points whose x falls in it, in point order; columns without points have
// count 0. only: a mask of the points to take (the fitted ones), or null;
// a column with a point left out (breaks) ends a line there.
function* reduce_columns(x, y, only, to_column, columns, [from, to] = [0, x.length]) {
  const first = new Float64Array(columns);
  const low = new Float64Array(columns).fill(Infinity);
  const high = new Float64Array(columns).fill(-Infinity);
  const last = new Float64Array(columns);
  const count = new Uint32Array(columns);
  const breaks = new Uint8Array(columns);
  for (let i = from; i < to; ++i) {
    if ((i & (SLICE - 1)) === 0 && i > from) yield;
    if (only && !only[i]) {
      const c = to_column(x[i]);
      if (c >= 0 && c < columns) breaks[c | 0] = 1;
      continue;
    }
    const v = y[i];
    if (!Number.isFinite(v)) continue;
    const c = to_column(x[i]);
    if (!(c >= 0 && c < columns)) continue;
    const k = c | 0;
    if (count[k]++ === 0) first[k] = v;
    if (v < low[k]) low[k] = v;
    if (v > high[k]) high[k] = v;
    last[k] = v;
  }
  return { first, low, high, last, count, breaks };
}

// What the view shows: the points within range, counted, and the y limits
// trov-plot gives them (difference drawn below the curves).
function* visible_limits(data, x, range, difference_below = true, [from, to] = [0, x.length]) {
  let top = -Infinity;
  let bottom = Infinity;
  let dmin = Infinity;
  let dmax = -Infinity;
  let shown = 0;
  let lowest = Infinity;  // above zero: where a log axis starts
  const [lo, hi] = range;
  const { observed, calculated, difference, fitted } = data;
  for (let i = from; i < to; ++i) {
    if ((i & (SLICE - 1)) === 0 && i > from) yield;
    const xi = x[i];
    if (!(xi >= lo && xi <= hi)) continue;
    const o = observed[i];
    if (Number.isFinite(o)) {
      ++shown;
      if (o > top) top = o;
      if (o < bottom) bottom = o;
      if (o > 0 && o < lowest) lowest = o;
    }
    if (fitted[i]) {
      const c = calculated[i];
      if (Number.isFinite(c)) {
        if (c > top) top = c;
        if (c < bottom) bottom = c;
        if (c > 0 && c < lowest) lowest = c;
      }
      const d = difference[i];
      if (Number.isFinite(d)) {
        if (d > dmax) dmax = d;
        if (d < dmin) dmin = d;
      }
    }
  }
  const seen = top >= bottom;
  const limits = curve_limits(seen ? bottom : null, seen ? top : null, difference_below && dmax >= dmin ? [dmin, dmax] : null);
  return { shown, offset: limits.offset, y: padded(limits.bottom, limits.top), lowest, top };
}

function format_tick(value, decimals) {
  const text = Math.abs(value) >= 1e6 || (Math.abs(value) < 1e-3 && value !== 0) ? value.toExponential(1) : value.toFixed(decimals);
  return text.replace('-', '−');
}

// Draws the figure on painter (see painters.js) for data (page data of one
// histogram: columns per axis, ticks, phases, labels, statistics) and view
// ({axis, range, descending, scale: a key of SCALES}), size {width, height}
// in CSS pixels; oversample > 1 keeps
// more columns per pixel (an SVG printed large). Returns the layout, so that
// the caller maps pointer positions to x.
export function draw_figure(painter, data, view, size, oversample = 1) {
  const steps = figure_steps(painter, data, view, size, oversample);
  for (;;) {
    const step = steps.next();
    if (step.done) return step.value;
  }
}

// draw_figure's work in steps: it yields every SLICE points of a pass over
// the arrays, so that a caller can spread a large figure over several tasks
// (painting on a canvas of its own, shown when the last step returns).
export function* figure_steps(painter, data, view, size, oversample = 1) {
  if (view.magnify) data = magnified(data, view.magnify);
  const phases = data.phases;
  const x = data.x[view.axis];
  const [lo, hi] = view.range;
  const descending = Boolean(view.descending);
  const scale = SCALES[view.scale] || SCALES.linear;
  // The lower panel: the difference in a panel of its own (not below the
  // curves), or the normalised residual (observed − calculated)/σ.
  const panel = PANELS[view.panel] || null;
  const window = visible_window(x, lo, hi, data.direction ? data.direction[view.axis] : undefined);
  const limits = yield* visible_limits(data, x, view.range, !(panel && panel.replaces_difference), window);
  const panel_values = panel ? data[panel.column] : null;
  const panel_range = panel ? panel_limits(x, panel_values, data.fitted, view.range, window) : null;
  // A log axis from just under the lowest count above zero to twice the highest.
  const log = scale === SCALES.log;
  const y_range = !log ? limits.y : Number.isFinite(limits.lowest) ? [limits.lowest / 1.5, Math.max(limits.top, limits.lowest) * 2] : [1, 10];
  // The background, where asked for and the profile holds one: dashed, as trov-plot draws it.
  const background = Boolean(view.background && data.background);
  const legend = background ? [...LEGEND, 'Background'] : LEGEND;
  const box = layout(painter, size, data, y_range, view.range, scale.ticks, descending, legend, panel_range);
  const px = (v) => box.left + ((descending ? hi - v : v - lo) / (hi - lo)) * box.width;
  const [t0, t1] = y_range.map(scale.map);
  const curves = box.curves;
  const py = (v) => curves.top + curves.height - ((scale.map(v) - t0) / (t1 - t0)) * curves.height;
  const plot_height = box.bottom - curves.top;

  painter.rect(0, 0, size.width, size.height, '#ffffff');
  painter.clip(box.left, curves.top, box.width, plot_height);
  for (const [a, b] of data.excluded[view.axis]) {
    if (b < lo || a > hi) continue;
    const left = Math.max(box.left, Math.min(px(a), px(b)));
    const right = Math.min(box.left + box.width, Math.max(px(a), px(b)));
    painter.rect(left, curves.top, Math.max(0.75, right - left), plot_height, COLOURS.excluded);
  }

  const columns = Math.max(1, Math.round(box.width * oversample));
  const to_column = (v) => ((descending ? hi - v : v - lo) / (hi - lo)) * columns;
  const column_x = (c) => box.left + ((c + 0.5) / columns) * box.width;
  painter.clip(box.left, curves.top, box.width, curves.height);
  // Few points: each drawn; many: each column's spread.
  const exact = limits.shown <= box.width / 3;
  if (exact) {
    const centres = [];
    for (let i = window[0]; i < window[1]; ++i) {
      if (x[i] >= lo && x[i] <= hi && Number.isFinite(py(data.observed[i]))) centres.push(px(x[i]), py(data.observed[i]));
    }
    painter.circles(centres, 1.9, COLOURS.observed, 0.7);
  } else {
    const o = yield* reduce_columns(x, data.observed, null, to_column, columns, window);
    const segments = [];
    for (let c = 0; c < columns; ++c) {
      if (o.count[c] === 0) continue;
      const top = py(o.high[c]);
      const bottom = Number.isFinite(py(o.low[c])) ? py(o.low[c]) : curves.top + curves.height + 2;  // log: from below the axis
      if (!Number.isFinite(top)) continue;
      segments.push(column_x(c), Math.max(curves.top - 2, bottom + 1), column_x(c), Math.min(curves.top + curves.height + 2, top - 1));
    }
    painter.segments(segments, COLOURS.observed, 1 / oversample);
  }
  // A curve over the fitted points, broken where points were left out of
  // the fit: no straight line is drawn across an excluded region.
  const line = function* (values, offset, colour, width, dash = null, map_y = py) {
    const pieces = [[]];
    const end_piece = () => {
      if (pieces[pieces.length - 1].length > 0) pieces.push([]);
    };
    // A point with no place on the axis (not above zero on a log axis) breaks the line.
    const add = (at, ...values_at) => {
      for (const v of values_at) {
        const y = map_y(v + offset);
        if (Number.isFinite(y)) pieces[pieces.length - 1].push(at, y);
        else end_piece();
      }
    };
    if (exact) {
      const [before, after] = edge_indices(x, values, data.fitted, lo, hi);
      const order = [];
      if (before >= 0) order.push(before);
      for (let i = window[0]; i < window[1]; ++i) if (x[i] >= lo && x[i] <= hi) order.push(i);
      if (after >= 0) order.push(after);
      for (const i of order) {
        if (!data.fitted[i]) end_piece();
        else if (Number.isFinite(values[i])) add(px(x[i]), values[i]);
      }
    } else {
      const r = yield* reduce_columns(x, values, data.fitted, to_column, columns, window);
      // The columns in the points' order: the line is drawn as they come.
      const forward = descending_axis(x) === descending;
      for (let k = 0; k < columns; ++k) {
        const c = forward ? k : columns - 1 - k;
        if (r.breaks[c] && r.count[c] === 0) end_piece();
        if (r.count[c] === 0) continue;
        const cx = column_x(c);
        if (r.count[c] > 1) add(cx, r.first[c], r.low[c], r.high[c], r.last[c]);
        else add(cx, r.first[c]);
      }
    }
    for (const piece of pieces) painter.polyline(piece, colour, width, dash);
  };
  if (background) yield* line(data.background, 0, COLOURS.background, 0.9, BACKGROUND_DASH);
  yield* line(data.calculated, 0, COLOURS.calculated, 1.1);
  // Below the curves on a log axis the difference has no place.
  if (limits.offset !== null && !log && !(panel && panel.replaces_difference)) {
    painter.segments([box.left, py(limits.offset), box.left + box.width, py(limits.offset)], COLOURS.zero, 0.6);
    yield* line(data.difference, limits.offset, COLOURS.difference, 0.8);
  }

  if (panel) {
    const { top, height } = box.panel;
    const [p0, p1] = panel_range;
    const panel_y = (v) => top + height - ((v - p0) / (p1 - p0)) * height;
    painter.clip(box.left, top, box.width, height);
    painter.segments([box.left, panel_y(0), box.left + box.width, panel_y(0)], COLOURS.zero, 0.6);
    yield* line(panel_values, 0, COLOURS.difference, 0.8, null, panel_y);
    box.panel.y = panel_y;
    box.panel.label = panel.label;
  }

  // A row of ticks per phase, phase 1 on top.
  const ticks = box.ticks;
  painter.clip(box.left, ticks.top, box.width, ticks.height);
  const tick_x = data.ticks.x[view.axis];
  phases.forEach((phase, index) => {
    const top = ticks.top + index * TICK_ROW;
    const segments = [];
    let previous = NaN;
    for (let i = 0; i < tick_x.length; ++i) {
      if (data.ticks.marker[i] !== phase.marker || !(tick_x[i] >= lo && tick_x[i] <= hi)) continue;
      const at = Math.round(px(tick_x[i]) * 2 * oversample) / (2 * oversample);
      if (at === previous) continue;
      previous = at;
      segments.push(at, top + 0.15 * TICK_ROW, at, top + 0.85 * TICK_ROW);
    }
    painter.segments(segments, phase_colour(phase.marker), 0.9);
  });
  painter.unclip();

  if (view.magnify) draw_magnify_label(painter, data, view, box, { px, py });
  draw_axes(painter, data, view, box, { px, py, scale });
  draw_legend(painter, data, box, exact, legend);
  return box;
}

// The indices [from, to) of the points a view of lo to hi can show, one
// more each side: found by bisection where x runs one way throughout (so a
// zoomed view costs what it shows), else every point.
// direction: axis_direction(x), where known already.
const directions = new WeakMap();  // x -> axis_direction(x)
export function visible_window(x, lo, hi, known = undefined) {
  if (known !== undefined) directions.set(x, known);
  if (!directions.has(x)) directions.set(x, axis_direction(x));
  const direction = directions.get(x);
  if (direction === 0 || x.length === 0) return [0, x.length];
  // The first index whose x is past v in the run's direction.
  const past = (v, strictly) => {
    let a = 0;
    let b = x.length;
    while (a < b) {
      const m = (a + b) >> 1;
      const beyond = direction > 0 ? (strictly ? x[m] > v : x[m] >= v) : (strictly ? x[m] < v : x[m] <= v);
      if (beyond) b = m;
      else a = m + 1;
    }
    return a;
  };
  const [first, last] = direction > 0 ? [past(lo, false), past(hi, true)] : [past(hi, false), past(lo, true)];
  return [Math.max(0, first - 1), Math.min(x.length, last + 1)];
}

// 1 where x never decreases, -1 where it never increases, else 0 (a NaN among them too).
export function axis_direction(x) {
  let up = true;
  let down = true;
  for (let i = 1; i < x.length && (up || down); ++i) {
    if (!(x[i] >= x[i - 1])) up = false;
    if (!(x[i] <= x[i - 1])) down = false;
  }
  return up ? 1 : down ? -1 : 0;
}

function descending_axis(x) {
  let first = NaN;
  for (let i = 0; i < x.length; ++i) {
    if (Number.isFinite(x[i])) {
      if (Number.isNaN(first)) first = x[i];
      else if (x[i] !== first) return x[i] < first;
    }
  }
  return false;
}

// The fitted points just outside each end of the range (-1 where none is),
// so that a zoomed line runs to the frame.
function edge_indices(x, values, fitted, lo, hi) {
  let before = -1;
  let after = -1;
  const ascending = !descending_axis(x);
  for (let i = 0; i < x.length; ++i) {
    if (!Number.isFinite(values[i]) || !Number.isFinite(x[i])) continue;
    if (ascending ? x[i] < lo : x[i] > hi) before = i;
    if ((ascending ? x[i] > hi : x[i] < lo) && after < 0) after = i;
  }
  const fitted_or_none = (i) => (i >= 0 && fitted[i] ? i : -1);
  return [fitted_or_none(before), fitted_or_none(after)];
}

function draw_axes(painter, data, view, box, { px, py, scale }) {
  const { curves, ticks } = box;
  const right = box.left + box.width;
  // Frames of the two panels.
  painter.segments(
    [box.left, curves.top, right, curves.top, right, curves.top, right, box.bottom, right, box.bottom, box.left, box.bottom,
     box.left, box.bottom, box.left, curves.top, box.left, ticks.top, right, ticks.top],
    COLOURS.axes, 0.8);
  const [lo, hi] = view.range;
  const xt = box.x_ticks;
  const marks = [];
  for (const v of xt.values) {
    const at = px(v);
    if (at < box.left - 0.5 || at > right + 0.5) continue;
    marks.push(at, box.bottom, at, box.bottom + 4, at, curves.top + curves.height, at, curves.top + curves.height - 3);
    painter.text(format_tick(v, xt.decimals), at, box.bottom + 6, { anchor: 'middle', baseline: 'top' });
  }
  const yt = box.y_ticks;
  for (const v of yt.values) {
    const at = py(v);
    if (at < curves.top - 0.5 || at > curves.top + curves.height + 0.5) continue;
    marks.push(box.left, at, box.left - 4, at);
    // A label at the panel's very edge would stand on the phase names below it.
    if (at > curves.top + curves.height - 6) continue;
    painter.text(yt.label ? yt.label(v) : format_tick(v, yt.decimals), box.left - 6, at, { anchor: 'end', baseline: 'middle' });
  }
  if (box.panel) {
    const { top, height, ticks: pt, y, label } = box.panel;
    marks.push(box.left, top, right, top);
    for (const v of pt.values) {
      const at = y(v);
      if (at < top + 5 || at > top + height - 5) continue;
      marks.push(box.left, at, box.left - 4, at);
      painter.text(format_tick(v, pt.decimals), box.left - 6, at, { anchor: 'end', baseline: 'middle' });
    }
    painter.text(label, INTENSITY / 2 + 2, top + height / 2, { anchor: 'middle', baseline: 'middle', rotate: -90, size: NAME_SIZE });
  }
  painter.segments(marks, COLOURS.axes, 0.8);
  painter.text(data.labels[view.axis], box.left + box.width / 2, box.bottom + 24, { anchor: 'middle', baseline: 'top' });
  painter.text(scale.label, INTENSITY / 2 + 2, curves.top + curves.height / 2, { anchor: 'middle', baseline: 'middle', rotate: -90 });
  data.phases.forEach((phase, index) => {
    painter.text(short_name(phase.name), box.left - GAP, ticks.top + (index + 0.5) * TICK_ROW,
                 { anchor: 'end', baseline: 'middle', colour: phase_colour(phase.marker, true), size: NAME_SIZE });
  });
}

// The legend's observed sample is drawn as the points are: an open circle
// point by point, a short stroke where each column of pixels is a spread.
function draw_legend(painter, data, box, exact, legend) {
  const y = box.legend_y;
  let at = box.legend_x;
  legend.forEach((word, index) => {
    if (index === 0 && exact) painter.circles([at + SAMPLE / 2, y], 2.6, COLOURS.observed, 0.9);
    else if (index === 0) painter.segments([at + SAMPLE / 2, y - 4, at + SAMPLE / 2, y + 4], COLOURS.observed, 1.2);
    else if (index === 3) painter.polyline([at, y, at + SAMPLE, y], COLOURS.background, 1.2, BACKGROUND_DASH);
    else painter.segments([at, y, at + SAMPLE, y], index === 1 ? COLOURS.calculated : COLOURS.difference, index === 1 ? 1.6 : 1.2);
    painter.text(word, at + SAMPLE + SAMPLE_GAP, y, { baseline: 'middle' });
    at += SAMPLE + SAMPLE_GAP + painter.measure(word) + ENTRY_GAP;
  });
  if (box.statistics) painter.text(data.statistics, box.statistics.x, box.statistics.y, { anchor: 'end', baseline: 'middle' });
}
