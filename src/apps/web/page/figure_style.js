// The figure's colours and words, from figure_style.json (shared with trov-plot), and the text rules both renderers follow.
import STYLE from '../../../figure/figure_style.json' with { type: 'json' };

export { STYLE };
export const COLOURS = STYLE.colours;
export const LABEL_CHARACTERS = STYLE.phase_label_characters;

// The colour of a phase's ticks, or with text of its name (4.5:1 on white).
export function phase_colour(marker, text = false) {
  const phases = STYLE.phases;
  const entry = phases[(((marker - 1) % phases.length) + phases.length) % phases.length];
  return text ? entry.text : entry.line;
}

// The x axis' label: axis is position, d or q; a position is named by its unit.
export function axis_label(axis, position_unit) {
  const labels = STYLE.axis_labels;
  if (axis !== 'position') return labels[axis];
  return Object.hasOwn(labels, position_unit) ? labels[position_unit] : labels.position;
}

// A name as a figure writes it: control characters (which an SVG file may
// not hold) and runs of blanks read as one blank, none at either end.
export const display_name = (name) => name.replace(/[\x00-\x20\x7f]+/g, ' ').replace(/^ | $/g, '');

// A name of at most characters characters (code points, as Python counts
// them): a longer one ends in an ellipsis.
export function short_name(name, characters = LABEL_CHARACTERS) {
  const points = Array.from(display_name(name));
  if (points.length <= characters) return points.join('');
  return `${points.slice(0, characters - 1).join('').replace(/ +$/, '')}…`;
}

// value with decimals decimals, rounded from its exact binary value, ties
// to even as printf does (toFixed breaks an exact tie upwards).
export function fixed(value, decimals) {
  const text = value.toFixed(decimals);
  if (Math.abs(value) >= 1e21) return text;
  const exact = Math.abs(value).toFixed(100);
  const cut = exact.indexOf('.') + 1 + decimals;
  if (!/^50*$/.test(exact.slice(cut))) return text;
  // An exact tie: keep the truncated digits when their last is even.
  const truncated = exact.slice(0, decimals > 0 ? cut : cut - 1);
  if (Number(truncated.slice(-1)) % 2 !== 0) return text;
  return (value < 0 && Number(truncated) !== 0 ? '-' : '') + truncated;
}

// χ² as people quote it: three significant digits, whole numbers from 100
// on, never an exponent.
export function chi2_text(value) {
  if (value === 0) return '0';
  let decimals = 0;
  let bound = 100;
  while (Math.abs(value) < bound && decimals < 6) {
    decimals += 1;
    bound /= 10;
  }
  return fixed(value, decimals);
}

// The fit statistics of one histogram, a line each: its own wRp, Rp and χ²
// (the weighted sum of squares per point). The refinement's reduced χ²
// stands in only where the histogram has none, and says so.
export function statistics_lines(statistics, reduced_chi2) {
  const lines = [];
  if ('wRp' in statistics) lines.push(`wRp = ${fixed(100 * statistics.wRp, 2)}%`);
  if ('Rp' in statistics) lines.push(`Rp = ${fixed(100 * statistics.Rp, 2)}%`);
  if ('chi2' in statistics) lines.push(`χ² = ${chi2_text(statistics.chi2)}`);
  else if (reduced_chi2 !== undefined && reduced_chi2 !== null) lines.push(`χ² (refinement) = ${chi2_text(reduced_chi2)}`);
  return lines;
}

// The curves' extent on the intensity axis: low and high, the smallest and
// largest value shown (null when there is none); difference, the smallest
// and largest difference to draw below the curves, or null (it has a panel
// of its own). Returns {offset: the difference's zero or null, bottom, top}.
export function curve_limits(low, high, difference) {
  const limits = STYLE.limits;
  if (low === null || high === null || !(high >= low)) {
    low = 0;
    high = 1;
  }
  if (!difference) return { offset: null, bottom: low, top: high };
  const offset = low - difference[1] - limits.difference_gap * (high - low);
  return { offset, bottom: offset + difference[0], top: high };
}

// The axis' limits: bottom to top with a little room below and above.
export function padded(bottom, top) {
  const limits = STYLE.limits;
  let span = top - bottom;
  if (!(span > 0)) span = Math.abs(top) || 1;
  return [bottom - limits.below * span, top + limits.above * span];
}
