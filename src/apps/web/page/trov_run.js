// One experiment through the WebAssembly core: its files into the module's memory, trov's and trov-export's files and the figures' columns out.

import { stored_name } from './experiment_files.js';
import { axis_direction, excluded_runs, finite_range } from './figure.js';
import { axis_label, statistics_lines } from './figure_style.js';
import { type_of } from './downloads.js';
import { spool } from './spooled_files.js';

const TOO_LARGE = "These files are too large for this browser's memory";

function message_of(trov) {
  return trov.UTF8ToString(trov.ccall('trov_web_text', 'number', [], []));
}

// Copies a column out of the module's memory (which the next call may move).
// An empty column may have no address.
function column(trov, Type, address, count) {
  return count === 0 ? new Type(0) : new Type(trov.HEAPU8.buffer, address, count).slice();
}

// The module's view of a histogram's columns (trov_web_points' handle): its
// counts and column addresses by the names the module gives them.
export function point_view(trov, handle) {
  const names = trov.UTF8ToString(trov.ccall('trov_web_point_fields', 'number', [], [])).split(' ');
  const words = new Uint32Array(trov.HEAPU8.buffer, handle, names.length);
  return Object.fromEntries(names.map((name, i) => [name, words[i]]));
}

// Histogram h's figure columns as trov-export reports them: x on each axis,
// the curves, the fitted mask and the fitted points' ticks.
function read_points(trov, stem, h) {
  const handle = trov.ccall('trov_web_points', 'number', ['string', 'number'], [stem, h]);
  if (handle === 0) throw new Error(message_of(trov));
  try {
    const { count, x, d, q, observed, calculated, difference, background, delta_sigma, fitted, tick_count, tick_x, tick_d,
            tick_marker, tick_fitted } = point_view(trov, handle);
    const points = {
      count,
      x: { position: column(trov, Float64Array, x, count) },
      observed: column(trov, Float64Array, observed, count),
      calculated: column(trov, Float64Array, calculated, count),
      difference: column(trov, Float64Array, difference, count),
      delta_sigma: column(trov, Float64Array, delta_sigma, count),
      fitted: column(trov, Uint8Array, fitted, count),
    };
    if (background !== 0) points.background = column(trov, Float64Array, background, count);
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

// What the figure of one histogram draws (figure.js).
function figure_data(points, info, summary) {
  const markers = [...new Set(points.ticks.marker)].sort((a, b) => a - b);
  const phases_named = summary.phases || {};
  const data = {
    ...points,
    phases: markers.map((marker) => ({ marker, name: phases_named[marker]?.name || `phase ${marker}` })),
    labels: { position: axis_label('position', info.position_unit), d: axis_label('d'), q: axis_label('q') },
    statistics: statistics_lines(info.statistics || {}, summary.reduced_chi2).join('   '),
    excluded: {},
  };
  // Found here, in the worker, once: a pass over a million points is no
  // work for the page's thread to do while it shows the figure.
  data.full = {};
  data.direction = {};
  for (const axis of Object.keys(points.x)) {
    data.excluded[axis] = excluded_runs(points.x[axis], points.fitted);
    data.full[axis] = finite_range(points.x[axis]);
    data.direction[axis] = axis_direction(points.x[axis]);
  }
  return data;
}

// Emscripten's memory file system grows a file by an eighth once it passes
// 1 MB, copying it each time: a 100 MB CSV file would be copied some forty
// times over. Doubling copies it about twice as much as its size in all.
function grow_files_by_doubling(trov) {
  const memfs = trov.FS.filesystems && trov.FS.filesystems.MEMFS;
  if (!memfs || typeof memfs.expandFileStorage !== 'function') return;
  memfs.expandFileStorage = (node, wanted) => {
    const capacity = node.contents ? node.contents.length : 0;
    if (capacity >= wanted) return;
    const contents = new Uint8Array(Math.max(wanted, capacity * 2, 256));
    if (node.usedBytes > 0) contents.set(node.contents.subarray(0, node.usedBytes), 0);
    node.contents = contents;
  };
}

const is_memory_error = (error) => error instanceof RangeError || /memory|Cannot enlarge|Aborted/i.test(String(error && error.message));

// Runs trov on an experiment (experiment_files.js's group, with its files'
// bytes in bytes: Map(entry -> Uint8Array)) in a new module, so that no run
// sees another's files, and reads what the figures draw; progress(text)
// hears each step. Returns {stem,
// errors, summary, histograms: [{number, info, data, files}], timings,
// finish}; finish() then runs trov-export and returns the files of both,
// Map(name -> spooled_files.js's {bytes} or {blob, crc}) in trov's then
// trov-export's order, each histogram's
// names in its files. A missing profile is an error of the run, and the
// other histograms are still converted, exported and drawn; when none
// remains, or the module fails, this throws Error with the message.
export async function start_experiment(createTrov, group, bytes, progress = () => {}) {
  let trov;
  try {
    trov = await createTrov();
  } catch (error) {
    throw new Error(TOO_LARGE);
  }
  grow_files_by_doubling(trov);
  const stem = group.stem;
  const errors = [];
  const timings = {};
  let clock = performance.now();
  const lap = (name) => {
    const now = performance.now();
    timings[name] = Math.round(now - clock);
    clock = now;
  };
  const guarded = (work) => {
    try {
      return work();
    } catch (error) {
      throw is_memory_error(error) ? new Error(TOO_LARGE) : error;
    }
  };
  const call = (what, histograms) => trov.ccall(`trov_web_${what}`, 'number', ['string', 'string'], [stem, histograms]);
  const json_of = (what) => {
    if (trov.ccall(`trov_web_${what}`, 'number', ['string'], [stem]) !== 0) throw new Error(message_of(trov));
    return JSON.parse(message_of(trov));
  };
  const inputs = new Set();
  let take_file = null;  // spool()'s, once the inputs are in
  const { plan, summary, present, histograms } = guarded(() => {
    trov.FS.mkdir('/run');
    trov.FS.chdir('/run');
    trov.FS.writeFile(stored_name(stem, '.EXP'), bytes.get(group.experiment));
    for (const [number, entry] of group.profiles) {
      trov.FS.writeFile(stored_name(stem, `.P${String(number).padStart(2, '0')}`), bytes.get(entry));
    }
    for (const name of trov.FS.readdir('.')) inputs.add(name);
    take_file = spool(trov);
    lap('files in');
    progress('converting…');
    const plan = json_of('plan');
    const summary = json_of('summary');
    const present = plan.histograms.filter((h) => h.profile !== null).map((h) => h.number);
    // trov itself first, for its own words on a missing profile; then the
    // histograms after it whose profiles are here.
    if (call('convert', '') !== 0) {
      errors.push(message_of(trov));
      const done = new Set(trov.FS.readdir('.'));
      const left = present.filter((h) => !done.has(`${stem}.a${String(h).padStart(2, '0')}`));
      if (left.length > 0 && call('convert', left.join(' ')) !== 0) errors.push(message_of(trov));
    }
    lap('convert');
    if (present.length === 0) throw new Error(errors[0]);
    const histograms = present.map((number, i) => {
      progress(`histogram ${number} (${i + 1} of ${present.length}): its figure…`);
      const info = (summary.histograms || []).find((s) => s.number === number) || { number };
      return { number, info, data: figure_data(read_points(trov, stem, number), info, summary), files: [] };
    });
    lap('columns');
    return { plan, summary, present, histograms };
  });

  function finish() {
    return guarded(() => {
      if (call('export', present.join(' ')) !== 0) errors.push(message_of(trov));
      lap('export');
      const written = new Set(trov.FS.readdir('.').filter((name) => !inputs.has(name) && name !== '.' && name !== '..'));
      const outputs = new Map();
      // Each file leaves the module's memory as it is taken.
      const take = (name) => {
        if (!written.has(name)) return null;
        outputs.set(name, take_file(name, type_of(name)));
        trov.FS.unlink(name);
        return name;
      };
      for (const h of histograms) {
        const two = String(h.number).padStart(2, '0');
        h.files.push(take(`${stem}.a${two}`), take(`${stem}.b${two}`));
      }
      for (const h of histograms) {
        const planned = plan.histograms.find((p) => p.number === h.number);
        h.files.push(take(planned.points_file), take(planned.ticks_file));
        h.files = h.files.filter(Boolean);
      }
      const cif_file = take(plan.cif);
      const summary_file = take(plan.summary);
      lap('files out');
      trov = null;  // the module and its memory go
      return { outputs, cif_file, summary_file };
    });
  }
  return { stem, errors, summary, histograms, timings, finish };
}

export { TOO_LARGE };
