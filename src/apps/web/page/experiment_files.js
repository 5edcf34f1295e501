// Sorts dropped files into experiments: each NAME.EXP with its NAME.P## profiles, letter case ignored.
//
// The refinement package names an experiment's files EXPNAM.EXP and
// EXPNAM.P01 ... EXPNAM.P99, but files that went through Windows, e-mail or
// a zip often come back in another case (garnet.exp beside GARNET.P01). The
// page finds them as Windows would, within one folder.

const EXPERIMENT = /^(.+)\.exp$/i;
const PROFILE = /^(.+)\.p(\d\d)$/i;

// The folder part of a dropped file's path ("" when it came alone).
function folder_of(path) {
  const slash = path.lastIndexOf('/');
  return slash < 0 ? '' : path.slice(0, slash);
}

// entries: [{path, file}], path being "folder/NAME.EXP" or "NAME.EXP" and
// file anything the caller reads later. Returns the experiments found, in
// path order: {stem, folder, experiment, profiles: Map(number -> entry)},
// stem being the experiment's file name without ".EXP", as it is written.
// Files of no experiment are left out. Two files whose names differ only in
// case: the first in path order counts.
export function group_experiments(entries) {
  const sorted = [...entries].sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
  const experiments = new Map();
  for (const entry of sorted) {
    const name = entry.path.slice(entry.path.lastIndexOf('/') + 1);
    const match = EXPERIMENT.exec(name);
    if (!match) continue;
    const key = `${folder_of(entry.path)}/${match[1]}`.toLowerCase();
    if (!experiments.has(key)) {
      experiments.set(key, { stem: match[1], folder: folder_of(entry.path), experiment: entry, profiles: new Map() });
    }
  }
  for (const entry of sorted) {
    const name = entry.path.slice(entry.path.lastIndexOf('/') + 1);
    const match = PROFILE.exec(name);
    if (!match) continue;
    const experiment = experiments.get(`${folder_of(entry.path)}/${match[1]}`.toLowerCase());
    const number = Number(match[2]);
    if (experiment && number >= 1 && !experiment.profiles.has(number)) experiment.profiles.set(number, entry);
  }
  return [...experiments.values()];
}

// The name under which the page stores a file for the core: the stem with
// a to z upper-cased, as the core's second try looks for it, so that every
// spelling of the names is found. Other characters are kept.
export function stored_name(stem, suffix) {
  return (stem + suffix).replace(/[a-z]/g, (c) => c.toUpperCase());
}

// What stands in the way of an experiment whose name has a dot (x.y.EXP with
// x.y.P01), in the user's words, or null: trov and trov-export take a name
// up to its first dot, as the refinement package writes none, so the core
// would look for X.EXP, a file the user never dropped.
export function name_problem(group) {
  const dot = group.stem.indexOf('.');
  if (dot < 0) return null;
  const name = group.experiment.path.slice(group.experiment.path.lastIndexOf('/') + 1);
  const plain = group.stem.replace(/\./g, '_');
  return `${name}: trov reads an experiment's name up to its first dot, which makes this one ${group.stem.slice(0, dot)}; ` +
    `rename its files ${plain}.EXP, ${plain}.P01, … and drop them again`;
}
