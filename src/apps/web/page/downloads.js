// The files the page offers: line ends of trov's text files, the zip of a run, the figure as SVG and PNG.

import { zipSync } from 'fflate';

// trov on Windows writes its plot and marker files in text mode: CR LF for each LF.
export function with_crlf(bytes) {
  let lines = 0;
  for (let i = 0; i < bytes.length; ++i) if (bytes[i] === 10) ++lines;
  const out = new Uint8Array(bytes.length + lines);
  let at = 0;
  for (let i = 0; i < bytes.length; ++i) {
    if (bytes[i] === 10) out[at++] = 13;
    out[at++] = bytes[i];
  }
  return out;
}

// The plot and marker files (EXPNAM.a01, EXPNAM.b01, ...): the ones whose line ends follow the choice.
export const is_plot_file = (name) => /\.[ab]\d\d$/.test(name);

// A run's files in the bytes offered for download (CR LF where chosen).
export function offered_bytes(name, bytes, crlf) {
  return crlf && is_plot_file(name) ? with_crlf(bytes) : bytes;
}

// All of a run's files in one zip, in the order given; files of more than
// 16 MB (a million points) compressed fast rather than small.
export function zip_of(files) {
  const entries = {};
  for (const [name, bytes] of files) entries[name] = [bytes, { level: bytes.length > (16 << 20) ? 1 : 6 }];
  return zipSync(entries);
}

// Whether the browser runs on Windows, where CR LF is the default.
export function on_windows(navigator) {
  const platform = (navigator.userAgentData && navigator.userAgentData.platform) || navigator.platform || '';
  return /^win/i.test(platform);
}

// The media type a file is offered as, by its name's extension.
const TYPES = { csv: 'text/csv', json: 'application/json', cif: 'chemical/x-cif', svg: 'image/svg+xml', png: 'image/png',
  zip: 'application/zip' };
export const type_of = (name) => TYPES[name.slice(name.lastIndexOf('.') + 1)] || 'text/plain';
