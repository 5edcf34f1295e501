// The files the page offers: line ends of trov's text files, their media types.

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

// Whether the browser runs on Windows, where CR LF is the default.
export function on_windows(navigator) {
  const platform = (navigator.userAgentData && navigator.userAgentData.platform) || navigator.platform || '';
  return /^win/i.test(platform);
}

// The media type a file is offered as, by its name's extension.
const TYPES = { csv: 'text/csv', json: 'application/json', cif: 'chemical/x-cif', svg: 'image/svg+xml', png: 'image/png',
  zip: 'application/zip' };
export const type_of = (name) => TYPES[name.slice(name.lastIndexOf('.') + 1)] || 'text/plain';
