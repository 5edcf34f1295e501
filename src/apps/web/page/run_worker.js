// The page's worker: each experiment through the module, trov's and trov-export's files and the zip, off the page's thread.
//
// Messages in: {type: 'run', group, crlf} (experiment_files.js's group,
// its files still File objects, read here), {type: 'line_ends', crlf},
// {type: 'series', entries, sort, pattern, x_name}.
// Messages out: {type: 'progress', text}; {type: 'figures', run} (the
// histograms' figure data, its columns transferred); {type: 'files', ...}
// (every file as a Blob, the names by histogram); {type: 'zip', zip} (all
// of them in one zip, made after the files are offered); {type: 'series',
// ...} (the series table); {type: 'error', message}. The page ends a run by ending the worker.
//
// A file's bytes live in one Blob from the moment they leave the module:
// the page's links, the zip and a change of line ends all refer to it, so
// that a run holds each file once (twice for a plot file offered with CR LF).

import { is_plot_file, type_of, with_crlf } from './downloads.js';
import { start_experiment, TOO_LARGE } from './trov_run.js';
import { crc32, zip_blob } from './zip_file.js';

let outputs = null;  // [name, {blob, crc}] of the last run, as the programs wrote them, in their order
let crlf_copies = null;  // Map(name -> {blob, crc}): the plot files with CR LF, made when first asked for
let named = null;    // {stem, cif_file, summary_file, histogram_files, errors, timings}

const file_of = (name, bytes) => ({ blob: new Blob([bytes], { type: type_of(name) }), crc: crc32(bytes) });

// A plot file with CR LF, from its Blob (read back here, in the worker).
function crlf_copy(name, { blob }) {
  if (!crlf_copies.has(name)) crlf_copies.set(name, file_of(name, with_crlf(new Uint8Array(new FileReaderSync().readAsArrayBuffer(blob)))));
  return crlf_copies.get(name);
}

const progress = (text) => self.postMessage({ type: 'progress', text });

// The module is made as soon as the worker starts, before any run: the page
// keeps a worker ready, so that the browser has compiled the WebAssembly to
// its fastest by the time files arrive (made at the run, the conversion ran
// several times slower on the first tier's code).
const module_ready = self.createTrov();
module_ready.catch(() => {});  // a failure is the run's to report

// The columns of the figures' data, handed over rather than copied.
function buffers_of(value, into = []) {
  if (ArrayBuffer.isView(value)) into.push(value.buffer);
  else if (value && typeof value === 'object') for (const part of Object.values(value)) buffers_of(part, into);
  return into;
}

async function post_files(crlf) {
  const offered = outputs.map(([name, file]) => [name, crlf && is_plot_file(name) ? crlf_copy(name, file) : file]);
  // A Blob made here is handed to the browser's blob store in the
  // background; the page's URL.createObjectURL would wait on its own thread
  // for that (tens of ms per 100 MB). Reading a Blob's last byte waits here.
  await Promise.all(offered.map(([, { blob }]) => blob.slice(Math.max(blob.size - 1, 0)).arrayBuffer()));
  self.postMessage({ type: 'files', ...named, files: offered.map(([name, { blob }]) => [name, blob]), crlf });
  progress(`${named.stem}: making the zip…`);
  const started = performance.now();
  const zip = await zip_blob(offered.map(([name, { blob, crc }]) => [name, blob, crc]));
  self.postMessage({ type: 'zip', stem: named.stem, zip, crlf, zip_ms: Math.round(performance.now() - started) });
}

async function run({ group, crlf }) {
  const bytes = new Map();
  for (const entry of [group.experiment, ...group.profiles.values()]) bytes.set(entry, new Uint8Array(await entry.file.arrayBuffer()));
  const result = await start_experiment(() => module_ready, group, bytes, (text) => progress(`${group.experiment.path}: ${text}`));
  const histograms = result.histograms.map(({ number, info, data }) => ({ number, info, data }));
  const figures = { stem: result.stem, errors: result.errors, summary: result.summary, histograms, timings: result.timings };
  self.postMessage({ type: 'figures', run: figures }, buffers_of(histograms));
  progress(`${group.experiment.path}: exporting…`);
  const files = result.finish();
  outputs = [];
  for (const [name, file] of files.outputs) {
    outputs.push([name, file.blob ? file : file_of(name, file.bytes)]);
    files.outputs.delete(name);  // its bytes go as soon as its Blob holds them
  }
  crlf_copies = new Map();
  named = {
    stem: result.stem, cif_file: files.cif_file, summary_file: files.summary_file, errors: result.errors, timings: result.timings,
    histogram_files: result.histograms.map((h) => [h.number, h.files]),
  };
  await post_files(crlf);
}

// trov-series on the dropped experiment files ([{path, file}]): each
// written under its path, named to the module as the path without its
// extension, as trov-series takes names; the table's CSV (its text, for the
// page's table, and a Blob), its JSON and what it says of the files.
async function series({ entries, sort, pattern, x_name }) {
  const trov = await module_ready;
  trov.FS.mkdir('/series');
  trov.FS.chdir('/series');
  const words = [];
  for (const { path, file } of entries) {
    const folders = path.split('/').slice(0, -1);
    for (let i = 1; i <= folders.length; ++i) {
      const folder = folders.slice(0, i).join('/');
      if (!trov.FS.analyzePath(folder).exists) trov.FS.mkdir(folder);
    }
    trov.FS.writeFile(path, new Uint8Array(await file.arrayBuffer()));
    words.push(path.replace(/\.[^./]*$/, ''));
  }
  progress(`A series of ${entries.length} experiments: reading them…`);
  const failed = trov.ccall('trov_web_series', 'number', ['string', 'number', 'string', 'string'],
                            [words.join('\n'), sort ? 1 : 0, pattern, x_name]);
  if (failed) throw new Error(trov.UTF8ToString(trov.ccall('trov_web_text', 'number', [], [])));
  const csv = trov.FS.readFile('series.csv');
  const json = trov.FS.readFile('series.json');
  self.postMessage({
    type: 'series', csv_text: new TextDecoder().decode(csv), json_text: new TextDecoder().decode(json),
    problems: JSON.parse(new TextDecoder().decode(json)).problems,
    csv: new Blob([csv], { type: type_of('series.csv') }), json: new Blob([json], { type: type_of('series.json') }),
  });
}

self.onmessage = async ({ data: message }) => {
  try {
    if (message.type === 'run') await run(message);
    else if (message.type === 'series') await series(message);
    else if (message.type === 'line_ends' && outputs) await post_files(message.crlf);
  } catch (error) {
    const text = error instanceof RangeError ? TOO_LARGE : String((error && error.message) || error);
    self.postMessage({ type: 'error', message: text });
  }
};
