// One experiment through the WebAssembly core: its files into the module's memory, trov's and trov-export's files and the figures' columns out.

import { stored_name } from './experiment_files.js';
import { excluded_runs } from './figure.js';

const TOO_LARGE = "These files are too large for this browser's memory";

// The labels trov-plot gives each axis.
const POSITION_LABEL = { deg: '2θ (°)', us: 'Time of flight (µs)', keV: 'Energy (keV)' };

function message_of(trov) {
  return trov.UTF8ToString(trov.ccall('trov_web_text', 'number', [], []));
}

// Copies a column out of the module's memory (which the next call may move).
// An empty column may have no address.
function column(trov, Type, address, count) {
  return count === 0 ? new Type(0) : new Type(trov.HEAPU8.buffer, address, count).slice();
}

// Histogram h's figure columns as trov-export reports them: x on each axis,
// the curves, the fitted mask and the fitted points' ticks.
function read_points(trov, stem, h) {
  const handle = trov.ccall('trov_web_points', 'number', ['string', 'number'], [stem, h]);
  if (handle === 0) throw new Error(message_of(trov));
  try {
    const view = new Uint32Array(trov.HEAPU8.buffer, handle, 13).slice();
    const [count, x, d, q, observed, calculated, difference, fitted] = view;
    const [tick_count, tick_x, tick_d, tick_marker, tick_fitted] = view.slice(8);
    const points = {
      count,
      x: { position: column(trov, Float64Array, x, count) },
      observed: column(trov, Float64Array, observed, count),
      calculated: column(trov, Float64Array, calculated, count),
      difference: column(trov, Float64Array, difference, count),
      fitted: column(trov, Uint8Array, fitted, count),
    };
    if (d !== 0) {
      points.x.d = column(trov, Float64Array, d, count);
      points.x.q = column(trov, Float64Array, q, count);
    }
    // trov-plot draws the ticks of the fitted points: the marker file's.
    const all_fitted = column(trov, Uint8Array, tick_fitted, tick_count);
    const keep = (values) => values.filter((_, i) => all_fitted[i]);
    const tick_positions = keep(column(trov, Float64Array, tick_x, tick_count));
    const tick_d_values = d !== 0 ? keep(column(trov, Float64Array, tick_d, tick_count)) : null;
    points.ticks = {
      x: { position: tick_positions },
      marker: keep(column(trov, Int32Array, tick_marker, tick_count)),
    };
    if (tick_d_values) {
      points.ticks.x.d = tick_d_values;
      points.ticks.x.q = tick_d_values.map((v) => (2 * Math.PI) / v);
    }
    return points;
  } finally {
    trov.ccall('trov_web_free_points', null, ['number'], [handle]);
  }
}

function statistics_text(info, summary) {
  const stats = info.statistics || {};
  const parts = [];
  if ('wRp' in stats) parts.push(`wRp = ${(100 * stats.wRp).toFixed(2)}%`);
  if ('Rp' in stats) parts.push(`Rp = ${(100 * stats.Rp).toFixed(2)}%`);
  if ('reduced_chi2' in summary) parts.push(`χ² = ${Number(summary.reduced_chi2.toPrecision(3))}`);
  return parts.join('   ');
}

// What the figure of one histogram draws (figure.js).
function figure_data(points, info, summary) {
  const markers = [...new Set(points.ticks.marker)].sort((a, b) => a - b);
  const phases_named = summary.phases || {};
  const data = {
    ...points,
    phases: markers.map((marker) => ({ marker, name: phases_named[marker] || `phase ${marker}` })),
    labels: { position: POSITION_LABEL[info.position_unit] || 'Position', d: 'd (Å)', q: 'Q (Å⁻¹)' },
    statistics: statistics_text(info, summary),
    excluded: {},
  };
  for (const axis of Object.keys(points.x)) data.excluded[axis] = excluded_runs(points.x[axis], points.fitted);
  return data;
}

// Runs trov and trov-export on an experiment (experiment_files.js's group,
// with its files' bytes in bytes: Map(entry -> Uint8Array)), each in a new
// module so that no run sees another's files. Returns {stem, errors,
// outputs: Map(name -> bytes) in trov's then trov-export's order, summary,
// histograms: [{number, info, files, data}]}. A missing profile is an error
// of the run, and the other histograms are still converted, exported and
// drawn; what no histogram survives throws Error with the message.
export async function run_experiment(createTrov, group, bytes) {
  let trov;
  try {
    trov = await createTrov();
  } catch (error) {
    console.error(error);
    throw new Error(TOO_LARGE);
  }
  const stem = group.stem;
  const errors = [];
  try {
    trov.FS.mkdir('/run');
    trov.FS.chdir('/run');
    trov.FS.writeFile(stored_name(stem, '.EXP'), bytes.get(group.experiment));
    for (const [number, entry] of group.profiles) {
      trov.FS.writeFile(stored_name(stem, `.P${String(number).padStart(2, '0')}`), bytes.get(entry));
    }
    const inputs = new Set(trov.FS.readdir('.'));
    const call = (what, histograms) => trov.ccall(`trov_web_${what}`, 'number', ['string', 'string'], [stem, histograms]);

    if (trov.ccall('trov_web_plan', 'number', ['string'], [stem]) !== 0) throw new Error(message_of(trov));
    const plan = JSON.parse(message_of(trov));
    const present = plan.histograms.filter((h) => h.profile !== null).map((h) => h.number);
    // trov itself first, for its own words on a missing profile; then the
    // histograms whose profiles are here.
    if (call('convert', '') !== 0) {
      errors.push(message_of(trov));
      const done = new Set(trov.FS.readdir('.'));
      const left = present.filter((h) => !done.has(`${stem}.a${String(h).padStart(2, '0')}`));
      if (left.length > 0 && call('convert', left.join(' ')) !== 0) errors.push(message_of(trov));
    }
    if (present.length === 0) throw new Error(errors[0]);
    let summary = {};
    if (call('export', present.join(' ')) === 0) {
      summary = JSON.parse(new TextDecoder().decode(trov.FS.readFile(plan.summary)));
    } else {
      errors.push(message_of(trov));
    }

    const written = new Set(trov.FS.readdir('.').filter((name) => !inputs.has(name) && name !== '.' && name !== '..'));
    const outputs = new Map();
    const take = (name) => {
      if (written.has(name) && !outputs.has(name)) outputs.set(name, trov.FS.readFile(name));
      return written.has(name) ? name : null;
    };
    const histograms = [];
    for (const number of present) {
      const two = String(number).padStart(2, '0');
      const plan_entry = plan.histograms.find((h) => h.number === number);
      const files = [take(`${stem}.a${two}`), take(`${stem}.b${two}`)].filter(Boolean);
      histograms.push({ number, files, plan_entry });
    }
    for (const h of histograms) h.files.push(...[take(h.plan_entry.points_file), take(h.plan_entry.ticks_file)].filter(Boolean));
    const summary_file = take(plan.summary);
    for (const h of histograms) {
      const info = (summary.histograms || []).find((s) => s.number === h.number) || { number: h.number };
      const points = read_points(trov, stem, h.number);
      h.info = info;
      h.data = figure_data(points, info, summary);
      delete h.plan_entry;
    }
    return { stem, errors, outputs, summary, summary_file, histograms };
  } catch (error) {
    if (error instanceof RangeError || /memory|Cannot enlarge|Aborted/i.test(String(error && error.message))) throw new Error(TOO_LARGE);
    throw error;
  }
}

export { TOO_LARGE };
