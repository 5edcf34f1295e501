// The page: takes the dropped files, runs the experiment chosen through the core, shows its histograms and offers every file.
//
// Automation contract (the README describes it): input#files takes the
// files; #status gets data-state="done" or "error", its text the message,
// when a run ends ("choose" while several experiments wait for a choice,
// "working" while the worker works, "cancelled" after Cancel);
// each output file is an <a download="NAME"> link to a blob of its bytes;
// each figure's canvas has data-layout, the boxes of what it last drew.

import { group_experiments, name_problem } from './experiment_files.js';
import { figure_steps } from './figure.js';
import { display_name, phase_colour } from './figure_style.js';
import { FigureView } from './figure_view.js';
import { series_panels, series_svg, series_x_label } from './series_figure.js';
import { canvas_painter, svg_painter } from './painters.js';
import { csv_rows } from './csv.js';
import { on_windows, type_of } from './downloads.js';
import { TOO_LARGE } from './trov_run.js';

const $ = (selector) => document.querySelector(selector);
const status = $('#status');
const results = $('#results');
const choice = $('#choice');
const line_ends = $('#line-ends');
// The largest input the page takes: the core's memory is 2 GB at most, and the outputs are several times the profiles.
const MAX_INPUT_BYTES = 400 * 1024 * 1024;

let urls = [];  // blob addresses of the shown run, freed by the next
let current = null;  // the shown run

function set_status(state, text) {
  status.dataset.state = state;
  status.textContent = text;
}

const element = (tag, attributes = {}, ...children) => {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === 'class') node.className = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else node.setAttribute(key, value);
  }
  node.append(...children);
  return node;
};

function blob_url(bytes, type) {
  // A Blob (the worker's files, typed there) is used as it is: wrapping it again costs a copy.
  const url = URL.createObjectURL(bytes instanceof Blob ? bytes : new Blob([bytes], { type }));
  urls.push(url);
  return url;
}


// A link to one of the run's files, made by the worker.
function file_link(name, blob, label = name) {
  const link = element('a', { download: name, class: 'file' }, label);
  link.href = blob_url(blob, type_of(name));
  return link;
}

// A link to a figure file drawn as the view shows it: made when the pointer
// or the keyboard reaches the link (so that "Save link as", a middle click
// or a new tab find a real file), and again after the view changes. make()
// returns the bytes or a promise of a Blob; state() the view it draws.
function made_link(name, label, make, state) {
  const link = element('a', { download: name, class: 'file', href: '#' }, label);
  let made_for = null;  // the state the link's file shows
  let making = null;    // [state, promise] of the file being made
  const prepare = () => {
    const now = state();
    if (made_for === now) return Promise.resolve();
    if (making && making[0] === now) return making[1];
    const promise = Promise.resolve().then(make).then((bytes) => {
      if (state() !== now) return;
      if (link.href.startsWith('blob:')) URL.revokeObjectURL(link.href);
      link.href = blob_url(bytes, type_of(name));
      made_for = now;
    }).catch((error) => {
      set_status('error', error.message === TOO_LARGE || error instanceof RangeError ? TOO_LARGE : String(error.message || error));
    });
    making = [now, promise];
    return promise;
  };
  link.addEventListener('pointerenter', () => prepare());
  link.addEventListener('focus', () => prepare());
  link.addEventListener('click', (event) => {
    if (made_for === state()) return;  // the file is there: followed as any link
    event.preventDefault();
    prepare().then(() => made_for === state() && link.click());
  });
  return link;
}

// The figure files are drawn as the view shows it: at its size, so that the
// layout, the ticks and how the points are marked are the screen's; the PNG
// about 2400 pixels wide, the SVG's texts measured as the screen measures them.
const PNG_WIDTH = 2400;

// A figure's steps (figure.js) run a few tens of milliseconds a task.
async function in_steps(steps) {
  for (let started = performance.now(); ; started = performance.now()) {
    for (;;) {
      const step = steps.next();
      if (step.done) return step.value;
      if (performance.now() - started > 30) break;
    }
    await new Promise((resolve) => setTimeout(resolve, 0));
  }
}

// Drawn in steps, and the PNG encoded in a worker of its own: the
// canvas's toBlob encodes on the page's thread (some 800 ms for a figure of
// a million points), a worker's OffscreenCanvas beside it.
const PNG_ENCODER = `self.onmessage = async ({ data: { id, bitmap } }) => {
  const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
  canvas.getContext('2d').drawImage(bitmap, 0, 0);
  bitmap.close();
  try {
    self.postMessage({ id, blob: await canvas.convertToBlob({ type: 'image/png' }) });
  } catch (error) {
    self.postMessage({ id, error: String((error && error.message) || error) });
  }
};`;
let png_encoder = null;  // made at the first PNG
const png_waiting = new Map();  // id -> [resolve, reject]
let png_ids = 0;

function encoded_png(canvas) {
  if (typeof OffscreenCanvas !== 'function' || typeof createImageBitmap !== 'function') {
    return new Promise((resolve, reject) => canvas.toBlob((blob) => (blob ? resolve(blob) : reject(new Error(TOO_LARGE))), 'image/png'));
  }
  if (!png_encoder) {
    png_encoder = new Worker(URL.createObjectURL(new Blob([PNG_ENCODER], { type: 'text/javascript' })));
    png_encoder.onmessage = ({ data: { id, blob, error } }) => {
      const [resolve, reject] = png_waiting.get(id);
      png_waiting.delete(id);
      if (blob) resolve(blob);
      else reject(new Error(error || TOO_LARGE));
    };
  }
  return createImageBitmap(canvas).then((bitmap) => new Promise((resolve, reject) => {
    const id = ++png_ids;
    png_waiting.set(id, [resolve, reject]);
    png_encoder.postMessage({ id, bitmap }, [bitmap]);
  }));
}

async function png_bytes(data, view, size) {
  const canvas = document.createElement('canvas');
  const scale = PNG_WIDTH / size.width;
  canvas.width = Math.round(size.width * scale);
  canvas.height = Math.round(size.height * scale);
  await in_steps(figure_steps(canvas_painter(canvas.getContext('2d'), scale), data, view, size));
  return encoded_png(canvas);
}

async function svg_bytes(data, view, size, title) {
  const measuring = canvas_painter(document.createElement('canvas').getContext('2d'));
  const painter = svg_painter(size.width, size.height, title, measuring.measure);
  await in_steps(figure_steps(painter, data, view, size));
  return new Blob([painter.svg()], { type: 'image/svg+xml' });
}

const two = (n) => String(n).padStart(2, '0');
// 11,501: as toLocaleString('en') writes it, without waking the browser's
// locale data, which costs the page's thread a tenth of a second the first time.
const with_commas = (n) => String(n).replace(/\B(?=(\d{3})+$)/g, ',');
const AXES = { position: 'Position', d: 'd-spacing', q: 'Q' };
const SCALE_NAMES = { linear: 'linear', sqrt: '√I', log: 'log I' };
const PANEL_NAMES = { '': 'none', difference: 'Obs − calc', delta_sigma: 'Δ/σ' };

function histogram_section(run, h) {
  const info = h.info;
  const name = info.name ? ` — ${info.name}` : '';
  const type = info.type ? ` · ${info.type}` : '';
  const heading = element('h2', {}, `Histogram ${h.number}${type} · ${with_commas(h.data.count)} points${name}`);
  const canvas = element('canvas', {
    tabindex: '0',
    role: 'img',
    'aria-label': `Rietveld figure of histogram ${h.number}: drag or arrow keys to pan, wheel or + and − to zoom, 0 or double-click to reset`,
  });
  const readout = element('span', { class: 'readout', 'aria-live': 'off' });
  const view = new FigureView(canvas, h.data, (x) => {
    readout.textContent = x === null ? '' : `${h.data.labels[view.axis]} ${Number(x.toPrecision(6))}`;
  }, (hint) => {
    readout.textContent = hint;
  });
  const axis = element('select', { 'aria-label': `Axis of histogram ${h.number}` },
    ...Object.keys(AXES).map((key) => {
      const option = element('option', { value: key }, AXES[key]);
      if (!h.data.x[key]) option.disabled = true;
      return option;
    }));
  axis.title = h.data.x.d ? '' : 'The experiment gives no instrument constants for this histogram: no d or Q axis';
  axis.addEventListener('change', () => view.set_axis(axis.value));
  const scale = element('select', { 'aria-label': `Intensity scale of histogram ${h.number}` },
    ...Object.entries(SCALE_NAMES).map(([key, name]) => element('option', { value: key }, name)));
  scale.addEventListener('change', () => view.set_view({ scale: scale.value }));
  const descending = element('input', { type: 'checkbox', 'aria-label': `Larger x to the left in histogram ${h.number}` });
  descending.addEventListener('change', () => view.set_view({ descending: descending.checked }));
  const background = element('input', { type: 'checkbox', 'aria-label': `Background of histogram ${h.number}` });
  if (!h.data.background) {
    background.disabled = true;
    background.title = 'This profile holds no background (its auxiliary values are all zero)';
  }
  background.addEventListener('change', () => view.set_view({ background: background.checked }));
  const panel = element('select', { 'aria-label': `Panel below the curves of histogram ${h.number}` },
    ...Object.entries(PANEL_NAMES).map(([key, name]) => element('option', { value: key }, name)));
  panel.addEventListener('change', () => view.set_view({ panel: panel.value }));
  const magnify = element('select', { 'aria-label': `Magnify the region shown of histogram ${h.number}`,
                                      title: 'Zoom in on a region, then choose: the whole pattern with that region magnified' },
    ...[0, 2, 5, 10, 20].map((n) => element('option', { value: String(n) }, n ? `×${n}` : 'none')));
  magnify.addEventListener('change', () => view.magnify_shown(Number(magnify.value)));
  const toolbar = element('div', { class: 'toolbar' },
    element('label', {}, 'Axis ', axis),
    element('label', {}, descending, ' descending'),
    element('label', {}, background, ' background'),
    element('label', {}, 'Intensity ', scale),
    element('label', {}, 'Panel ', panel),
    element('label', {}, 'Magnify shown ', magnify),
    element('button', { type: 'button', onclick: () => view.zoom(0.5) }, 'Zoom in'),
    element('button', { type: 'button', onclick: () => view.zoom(2) }, 'Zoom out'),
    element('button', { type: 'button', onclick: () => view.reset() }, 'Reset'),
    readout);
  const phases = element('p', { class: 'phases' },
    ...h.data.phases.map((p) => {
      const name = element('span', { class: 'phase' }, `${p.marker}: ${display_name(p.name)}`);
      name.style.color = phase_colour(p.marker, true);
      return name;
    }));
  const stem = `${run.stem}_${two(h.number)}`;
  const view_state = () => JSON.stringify([view.view(), view.size]);
  const title = `${run.summary.title || run.stem}, histogram ${h.number}${name}`;
  const downloads = element('p', { class: 'downloads' },
    made_link(`${stem}.svg`, `${stem}.svg`, () => svg_bytes(h.data, view.view(), view.size, title), view_state),
    made_link(`${stem}.png`, `${stem}.png`, () => png_bytes(h.data, view.view(), view.size), view_state));
  // Each figure can be folded away, its heading staying as the index's target.
  const folding = element('details', { open: '' }, element('summary', {}, heading),
    toolbar, element('div', { class: 'figure' }, canvas), phases, downloads);
  folding.addEventListener('toggle', () => folding.open && view.draw());
  const section = element('section', { class: 'histogram', id: `histogram-${h.number}`, 'aria-label': `Histogram ${h.number}` },
    folding);
  return { section, view, downloads };
}

let views = [];
let shown = [];  // each histogram's section parts

// The experiment's title and each histogram's figure, before its files exist.
function show_figures(run) {
  current = run;
  // More than four histograms make a long page: an index of them at its top.
  const index = run.histograms.length <= 4 ? [] : [element('nav', { class: 'index', 'aria-label': 'Histograms' },
    'Histograms: ', ...run.histograms.map((h) =>
      element('a', { href: `#histogram-${h.number}`, title: h.info.name || '' }, String(h.number))))];
  const header = element('section', { class: 'experiment' },
    element('h2', {}, run.summary.title ? `${run.stem} — ${run.summary.title}` : run.stem),
    element('p', { class: 'keys' }, 'On a figure (Tab to it, or click it): ← → pan, + − zoom, 0 resets; ',
      'the wheel zooms it once clicked, or with Ctrl (⌘) held.'),
    ...index,
    element('p', { class: 'downloads' }));
  shown = run.histograms.map((h) => histogram_section(run, h));
  // Two histograms or more with d-spacings: one d axis for all, as trov-plot's --stack draws them.
  const with_d = shown.filter((s) => s.view.data.x.d);
  if (with_d.length >= 2) header.append(shared_axis_control(with_d.map((s) => s.view)));
  results.replaceChildren(header, ...shown.map((s) => s.section));
  views = shown.map((s) => s.view);
  // One figure a task, so that the page's thread is never held for all of
  // them, the first after the task that built the page.
  setTimeout(() => draw_one_by_one(views), 0);
}

// A checkbox that puts the views on one d axis spanning all their points:
// a zoom or pan of one is then a zoom or pan of all.
function shared_axis_control(linked) {
  const box = element('input', { type: 'checkbox', 'aria-label': 'One d axis for every histogram' });
  const own_full = linked.map((v) => ({ ...v.full }));
  const follow = (leader) => {
    for (const view of linked) if (view !== leader) view.share('d', leader.full.d, leader.range);
  };
  box.addEventListener('change', () => {
    if (!box.checked) {
      linked.forEach((view, i) => {
        view.on_range = null;
        view.full = { ...own_full[i] };
        view.reset();
      });
      return;
    }
    const lows = own_full.map((f) => f.d[0]);
    const highs = own_full.map((f) => f.d[1]);
    const full = [Math.min(...lows), Math.max(...highs)];
    for (const view of linked) {
      view.share('d', full, full);
      view.on_range = follow;
    }
  });
  return element('p', { class: 'shared' }, element('label', {}, box, ' one d axis for every histogram (a zoom or pan of one moves all)'));
}

function draw_one_by_one(pending) {
  const [first, ...rest] = pending;
  if (!first || !first.canvas.isConnected) return;
  first.draw();
  if (rest.length > 0) setTimeout(() => draw_one_by_one(rest), 0);
}

// The links to the run's files, once the worker has made them (again for
// other line ends: the links are replaced).
function show_files(files) {
  for (const link of results.querySelectorAll('a.file[data-made]')) {
    URL.revokeObjectURL(link.href);
    link.remove();
  }
  const blobs = new Map(files.files);
  const link = (name, label) => {
    const a = file_link(name, blobs.get(name), label);
    a.dataset.made = '';
    return a;
  };
  results.querySelector('section.experiment .downloads').append(
    ...[files.cif_file, files.summary_file].filter(Boolean).map((name) => link(name)));
  const by_number = new Map(files.histogram_files);
  current.histograms.forEach((h, i) => shown[i].downloads.prepend(...(by_number.get(h.number) || []).map((name) => link(name))));
}

// The zip of them all, first among the experiment's links.
function show_zip({ stem, zip }) {
  const link = file_link(`${stem}.zip`, zip, `All files (${stem}.zip)`);
  link.dataset.made = '';
  results.querySelector('section.experiment .downloads').prepend(link);
}

function clear() {
  for (const url of urls) URL.revokeObjectURL(url);
  urls = [];
  current = null;
  views = [];
  shown = [];
  results.replaceChildren();
}

let runs = 0;  // the number of the latest run: a run overtaken by a newer drop stops where it is

// The worker's script: the module and run_worker.js, held in the page as
// text (a script element of no script type) and started from a blob.
const worker_url = URL.createObjectURL(new Blob([$('#worker-source').textContent], { type: 'text/javascript' }));
let worker = null;  // the running or last run's worker: it keeps that run's files for other line ends
let ready_worker = new Worker(worker_url);  // the next run's, its module made already
let finished_status = null;  // [state, text] of the last run that ended

function stop_worker() {
  if (worker) worker.terminate();
  worker = null;
  cancel.hidden = true;
}

const cancel = element('button', { type: 'button', class: 'cancel', hidden: '' }, 'Cancel');
cancel.addEventListener('click', () => {
  ++runs;
  stop_worker();
  set_status('cancelled', 'Cancelled.');
});
status.after(cancel);

async function run(group) {
  const mine = ++runs;
  stop_worker();
  finished_status = null;
  // The experiments of the last drop stay offered; the one shown is pressed.
  for (const button of choice.querySelectorAll('button')) button.setAttribute('aria-pressed', String(button.group === group));
  clear();
  set_status('working', `Converting ${group.experiment.path}…`);
  const fail = (error) => {
    if (mine !== runs) return;
    stop_worker();
    const message = error instanceof RangeError || (error && error.name === 'NotReadableError') ? TOO_LARGE : String((error && error.message) || error);
    set_status('error', message);
  };
  try {
    if (name_problem(group)) throw new Error(name_problem(group));
    const needed = [group.experiment, ...group.profiles.values()];
    const total = needed.reduce((sum, entry) => sum + entry.file.size, 0);
    if (total > MAX_INPUT_BYTES) throw new Error(TOO_LARGE);
  } catch (error) {
    fail(error);
    return;
  }
  const started = performance.now();
  let drawn = 0;
  let files_offered = 0;
  let pending_errors = [];
  let pending_files = 0;
  worker = ready_worker;
  ready_worker = new Worker(worker_url);
  cancel.hidden = false;
  worker.onerror = (event) => {
    event.preventDefault();
    fail(new Error(TOO_LARGE));  // the module could not start: out of memory
  };
  worker.onmessage = ({ data: message }) => {
    if (mine !== runs) return;
    if (message.type === 'progress') {
      set_status('working', message.text);
    } else if (message.type === 'figures') {
      show_figures(message.run);
      drawn = performance.now();
    } else if (message.type === 'files') {
      show_files(message);
      if (drawn !== 0) files_offered = performance.now();
      pending_errors = message.errors;
      pending_files = message.files.length;
      current.timings = message.timings;
      set_status('working', `${group.experiment.path}: making the zip…`);
    } else if (message.type === 'zip') {
      show_zip(message);
      if (drawn === 0) {  // new line ends of a finished run
        set_status(...finished_status);
        return;
      }
      // When each step ended, for the benchmark (bench/page.mjs): the figures drawn, the files offered, the zip.
      globalThis.trov_timings = { ...current.timings, zip: message.zip_ms, drawn: Math.round(drawn - started),
                                  files: Math.round(files_offered - started), all: Math.round(performance.now() - started) };
      drawn = 0;
      cancel.hidden = true;
      const count = current.histograms.length;
      finished_status = pending_errors.length > 0 ? ['error', pending_errors[0]]
        : ['done', `${group.experiment.path}: ${count} powder histogram${count === 1 ? '' : 's'}, ${pending_files} files`];
      set_status(...finished_status);
      // Line ends switched while the run worked: its files again, in those.
      if (message.crlf !== (line_ends.value === 'crlf')) line_ends.dispatchEvent(new Event('change'));
    } else if (message.type === 'error') {
      fail(new Error(message.message));
    }
  };
  worker.postMessage({ type: 'run', group, crlf: line_ends.value === 'crlf' });
}

// The series table: its CSV as a table on the page, and the two files.
function show_series({ csv_text, json_text, csv, json, problems }, count) {
  const [header, ...rows] = csv_rows(csv_text);
  const table = element('table', { class: 'series' },
    element('thead', {}, element('tr', {}, ...header.map((name) => element('th', { scope: 'col' }, name)))),
    element('tbody', {}, ...rows.map((row) => element('tr', {}, ...row.map((value, i) =>
      (i === 0 ? element('th', { scope: 'row' }, value) : element('td', {}, value)))))));
  // The figure, as trov-plot --series draws it, at the page's width.
  let figure = [];
  let svg_link = [];
  try {
    const series = JSON.parse(json_text);
    const panels = series_panels(series);
    if (panels.length > 0) {
      const svg = series_svg(panels, series_x_label(series), Math.min(900, Math.max(320, results.clientWidth - 20)));
      const drawn = new DOMParser().parseFromString(svg, 'image/svg+xml').documentElement;
      drawn.setAttribute('role', 'img');
      drawn.setAttribute('aria-label', 'The series: each refined quantity against the series variable');
      figure = [element('div', { class: 'series-figure' }, document.importNode(drawn, true))];
      svg_link = [file_link('series.svg', new Blob([svg], { type: type_of('series.svg') }))];
    }
  } catch (error) {
    figure = [element('p', {}, `No figure: ${error.message}`)];
  }
  const links = element('p', { class: 'downloads' }, file_link('series.csv', csv), file_link('series.json', json), ...svg_link);
  for (const link of links.querySelectorAll('a')) link.dataset.made = '';
  const said = problems.length === 0 ? [] : [element('ul', { class: 'problems' }, ...problems.map((p) => element('li', {}, p)))];
  results.replaceChildren(element('section', { class: 'series', 'aria-label': 'Series table' },
    element('h2', {}, `A series of ${count} experiments: ${rows.length} row${rows.length === 1 ? '' : 's'}`),
    links, ...said, ...figure, element('div', { class: 'table' }, table)));
  set_status(problems.length === 0 ? 'done' : 'error', problems.length === 0
    ? `The series table of ${rows.length} experiments: series.csv and series.json`
    : `${problems.length} problem${problems.length === 1 ? '' : 's'} in the series: ${problems[0]}`);
}

// trov-series on the experiments of a drop, in a worker as a run is.
function run_series(groups, options) {
  const mine = ++runs;
  stop_worker();
  for (const button of choice.querySelectorAll('button[aria-pressed]')) button.setAttribute('aria-pressed', 'false');
  clear();
  set_status('working', `A series of ${groups.length} experiments…`);
  worker = ready_worker;
  ready_worker = new Worker(worker_url);
  cancel.hidden = false;
  worker.onerror = (event) => {
    event.preventDefault();
    if (mine === runs) set_status('error', TOO_LARGE);
  };
  worker.onmessage = ({ data: message }) => {
    if (mine !== runs) return;
    if (message.type === 'progress') {
      set_status('working', message.text);
    } else if (message.type === 'series') {
      cancel.hidden = true;
      show_series(message, groups.length);
    } else if (message.type === 'error') {
      cancel.hidden = true;
      set_status('error', message.message);
    }
  };
  worker.postMessage({ type: 'series', entries: groups.map((g) => g.experiment), ...options });
}

// What a series takes its x from: the pattern for temperatures,
// times and pressures, editable; the rows in natural order of the names.
const SERIES_PATTERN = '(\\d+(?:\\.\\d+)?) ?(K|°C|h|min|GPa)';

function series_controls(groups) {
  const pattern = element('input', { type: 'text', value: SERIES_PATTERN, size: '28', 'aria-label': 'Series variable: a regular expression' });
  const x_name = element('input', { type: 'text', value: 'x', size: '6', 'aria-label': 'Name of the series variable' });
  const sort = element('input', { type: 'checkbox', checked: '', 'aria-label': 'Rows in natural order of the names' });
  const start = element('button', { type: 'button', class: 'series' }, `Series table of all ${groups.length}`);
  start.addEventListener('click', () => run_series(groups, { pattern: pattern.value, x_name: x_name.value, sort: sort.checked }));
  return element('div', { class: 'series-controls' }, start,
    element('label', {}, ' x from titles and histogram names: ', pattern),
    element('label', {}, ' named ', x_name),
    element('label', {}, sort, ' natural order'));
}

// Dropped or picked files: [{path, file}]. One experiment runs at once; several are offered for choice.
function take(entries) {
  const groups = group_experiments(entries);
  ++runs;
  if (groups.length === 0) {
    clear();
    choice.hidden = true;
    const names = entries.map((e) => e.path.slice(e.path.lastIndexOf('/') + 1));
    const profiles = names.filter((n) => /\.p\d\d$/i.test(n));
    set_status('error', entries.length === 0 ? 'No file was dropped'
      : profiles.length > 0 ? `No experiment file among these files: drop ${profiles[0].replace(/\.p\d\d$/i, '')}.EXP with ${profiles[0]}`
      : `${names[0]} is not an experiment file (EXPNAM.EXP) or a profile file (EXPNAM.P01, …)`);
    return;
  }
  if (groups.length === 1) {
    choice.hidden = true;
    run(groups[0]);
    return;
  }
  clear();
  set_status('choose', `${groups.length} experiments were dropped: choose one, or make their series table.`);
  choice.replaceChildren(...groups.map((group) => {
    const button = element('button', { type: 'button', onclick: () => run(group), 'aria-pressed': 'false' },
      `${group.experiment.path} (${group.profiles.size} profile${group.profiles.size === 1 ? '' : 's'})`);
    button.group = group;
    return button;
  }), series_controls(groups));
  choice.hidden = false;
  choice.querySelector('button').focus();
}

const from_input = (input) => [...input.files].map((file) => ({ path: file.webkitRelativePath || file.name, file }));

for (const id of ['#files', '#folder']) {
  const input = $(id);
  input.addEventListener('change', () => {
    take(from_input(input));
    input.value = '';  // the same files may be picked again
  });
}

// A dropped folder is walked through the entries API.
async function walk(entry, into) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    into.push({ path: entry.fullPath.replace(/^\//, ''), file });
  } else if (entry.isDirectory) {
    const reader = entry.createReader();
    for (;;) {
      const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
      if (batch.length === 0) break;
      for (const child of batch) await walk(child, into);
    }
  }
}

const drop = $('#drop');
for (const type of ['dragenter', 'dragover']) {
  document.addEventListener(type, (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
}
document.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) drop.classList.remove('over');
});
document.addEventListener('drop', async (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  const items = [...(event.dataTransfer.items || [])];
  const entries = [];
  try {
    const roots = items.map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
    if (roots.length > 0 && roots.every(Boolean)) {
      for (const root of roots) await walk(root, entries);
    } else {
      for (const file of event.dataTransfer.files) entries.push({ path: file.name, file });
    }
  } catch (error) {
    set_status('error', String(error.message || error));
    return;
  }
  take(entries);
});

line_ends.value = on_windows(navigator) ? 'crlf' : 'lf';
line_ends.addEventListener('change', () => {
  // The worker makes the plot and marker files and the zip again.
  if (!current || !worker || !finished_status) return;
  set_status('working', `Making the files again with ${line_ends.value === 'crlf' ? 'CR LF' : 'LF'} line ends…`);
  worker.postMessage({ type: 'line_ends', crlf: line_ends.value === 'crlf' });
});

let resize_pending = false;
window.addEventListener('resize', () => {
  if (resize_pending) return;
  resize_pending = true;
  requestAnimationFrame(() => {
    resize_pending = false;
    for (const view of views) view.draw();
  });
});

set_status('idle', 'Waiting for files.');
// The first text measured on a canvas finds the font, a tenth of a second
// or more: done while the page waits for files, not when a figure is due.
setTimeout(() => canvas_painter(document.createElement('canvas').getContext('2d')).measure('Observed 0123456789 −.'), 0);
