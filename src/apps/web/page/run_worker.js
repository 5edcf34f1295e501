// The page's worker: each experiment through the module, trov's and trov-export's files and the zip, off the page's thread.
//
// Messages in: {type: 'run', group, crlf} (experiment_files.js's group,
// its files still File objects, read here), {type: 'line_ends', crlf}.
// Messages out: {type: 'progress', text}; {type: 'figures', run} (the
// histograms' figure data, its columns transferred); {type: 'files', ...}
// (every file as a Blob, the names by histogram); {type: 'zip', zip} (all
// of them in one zip, made after the files are offered); {type: 'error',
// message}. The page ends a run by ending the worker.

import { offered_bytes, type_of, zip_of } from './downloads.js';
import { start_experiment, TOO_LARGE } from './trov_run.js';

let outputs = null;  // Map(name -> bytes) of the last run, as the programs wrote them
let named = null;    // {stem, cif_file, summary_file, histogram_files, errors, timings}

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

function post_files(crlf) {
  const offered = [...outputs.keys()].map((name) => [name, offered_bytes(name, outputs.get(name), crlf)]);
  self.postMessage({ type: 'files', ...named, files: offered.map(([name, bytes]) => [name, new Blob([bytes], { type: type_of(name) })]), crlf });
  progress(`${named.stem}: making the zip…`);
  const started = performance.now();
  const zip = new Blob([zip_of(offered)], { type: 'application/zip' });
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
  outputs = files.outputs;
  named = {
    stem: result.stem, cif_file: files.cif_file, summary_file: files.summary_file, errors: result.errors, timings: result.timings,
    histogram_files: result.histograms.map((h) => [h.number, h.files]),
  };
  post_files(crlf);
}

self.onmessage = async ({ data: message }) => {
  try {
    if (message.type === 'run') await run(message);
    else if (message.type === 'line_ends' && outputs) post_files(message.crlf);
  } catch (error) {
    const text = error instanceof RangeError ? TOO_LARGE : String((error && error.message) || error);
    self.postMessage({ type: 'error', message: text });
  }
};
