// Builds trov.html: the page's scripts bundled with their npm packages, the WebAssembly module and the licences, in one file.
//
// node build_page.mjs --module trov_web.js --version 1.2 --license LICENSE --out trov.html --licenses web-licenses.txt
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';
import * as esbuild from 'esbuild';

const here = path.dirname(fileURLToPath(import.meta.url));
const { values: args } = parseArgs({
  options: { module: { type: 'string' }, version: { type: 'string' }, license: { type: 'string' },
             out: { type: 'string' }, licenses: { type: 'string' } },
});
for (const key of ['module', 'version', 'license', 'out', 'licenses']) {
  if (!args[key]) throw new Error(`build_page.mjs: --${key} is missing`);
}
// The page must open quickly and fit an e-mail: at most 1.5 MB.
const MAX_BYTES = 1.5 * 1024 * 1024;

// The page's script, and its worker's (run with the module before it).
const bundle_of = async (entry) => (await esbuild.build({
  entryPoints: [path.join(here, 'page', entry)],
  bundle: true,
  minify: !process.env.TROV_NO_MINIFY,  // TROV_NO_MINIFY=1: names a profiler can show
  format: 'iife',
  target: 'es2020',
  write: false,
  legalComments: 'none',  // the licences are in the page's footer, whole
})).outputFiles[0].text;
const script = await bundle_of('main.js');
const worker = await bundle_of('run_worker.js');

// Every package the page's script bundles, with its licence file, from the lockfile's runtime dependencies.
const lock = JSON.parse(fs.readFileSync(path.join(here, 'package-lock.json'), 'utf8'));
const packages = Object.entries(lock.packages).filter(([key, p]) => key.startsWith('node_modules/') && !p.dev);
const licences = [
  ['trov', fs.readFileSync(args.license, 'utf8')],
  ...packages.map(([key, p]) => [`${key.slice('node_modules/'.length)} ${p.version} (npm, bundled into the page's script)`,
                                 fs.readFileSync(path.join(here, key, 'LICENSE'), 'utf8')]),
  ['Libraries in the WebAssembly', fs.readFileSync(path.join(here, 'page/third_party.txt'), 'utf8')],
];
const escape = (text) => text.replace(/[&<>]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;' })[c]);
const licence_html = licences.map(([name, text]) => `<h3>${escape(name)}</h3>\n<pre>${escape(text.trim())}</pre>`).join('\n');
const licence_text = licences.map(([name, text]) => `== ${name}\n\n${text.trim()}\n`).join('\n');

// Inside a <script> element only "</script" would end it early.
const inline = (code) => code.replace(/<\/(script)/gi, '<\\/$1');
const parts = {
  '@VERSION@': escape(args.version),
  '@STYLE@': fs.readFileSync(path.join(here, 'page/style.css'), 'utf8'),
  '@LICENCES@': licence_html,
  '@WORKER@': inline(`${fs.readFileSync(args.module, 'utf8')}\n${worker}`),
  '@SCRIPT@': inline(script),
};
const html = fs.readFileSync(path.join(here, 'page/index.html'), 'utf8').replace(/@[A-Z]+@/g, (key) => {
  if (!(key in parts)) throw new Error(`build_page.mjs: no text for ${key}`);
  return parts[key];
});
const size = Buffer.byteLength(html);
if (size > MAX_BYTES) throw new Error(`${args.out} would be ${size} bytes, more than ${MAX_BYTES}`);
fs.writeFileSync(args.out, html);
fs.writeFileSync(args.licenses, licence_text);
console.log(`${args.out}: ${size} bytes`);
