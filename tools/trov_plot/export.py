"""trov-export, which owns the files' names and the three tries that find the inputs: asked for its plan, run when its files are stale."""
import json
import math
import os
import shutil
import stat
import subprocess
import sys

from .errors import PlotError


def exporter():
    """trov-export: TROV_EXPORT, else beside the trov-plot launcher (the build
    tree, an unzipped folder, an installed bin), else on PATH."""
    if os.environ.get("TROV_EXPORT"):
        return os.environ["TROV_EXPORT"]
    launcher = os.path.dirname(os.path.realpath(sys.argv[0])) if sys.argv and sys.argv[0] else ""
    for folder in (launcher, os.path.dirname(os.path.dirname(os.path.abspath(__file__)))):
        for name in ("trov-export", "trov-export.exe"):
            if os.path.isfile(os.path.join(folder, name)):
                return os.path.join(folder, name)
    found = shutil.which("trov-export")
    if not found:
        raise PlotError("trov-export not found (beside trov-plot or on PATH); set TROV_EXPORT to it")
    return found


def run_exporter(words):
    """Runs trov-export with words: its standard output, or PlotError with its
    one-line message when its status is not 0."""
    try:
        run = subprocess.run([exporter()] + words, capture_output=True, encoding="utf-8", errors="surrogateescape")
    except OSError as error:
        raise PlotError("cannot run %s: %s" % (exporter(), error.strerror or error))
    if run.returncode != 0:
        lines = run.stderr.strip().splitlines() or ["trov-export failed (status %d)" % run.returncode]
        raise PlotError(lines[-1].replace("trov-export: ", "", 1))
    return run.stdout


def histogram_words(histograms):
    return [w for h in histograms for w in ("--histogram", str(h))]


def folder_words(exports):
    """trov-export's words for the folder its files go to (None: beside the experiment)."""
    return ["-o", exports] if exports else []


def plan_export(expnam, wanted, exports=None):
    """trov-export --list: the experiment file found, the summary and, for each
    wanted histogram (every powder one when none is named), its profile (None
    when missing) and its two CSV files, in exports when given."""
    text = run_exporter(["--list"] + folder_words(exports) + histogram_words(wanted) + [expnam])
    try:
        return json.loads(text)
    except ValueError:
        raise PlotError("trov-export --list did not answer in JSON: is %s trov-export?" % exporter())


def newer_than(paths, since):
    return all(os.path.isfile(p) and os.path.getmtime(p) >= since for p in paths)


def has_files(summary, number):
    """Whether the summary describes the files of histogram number (an export
    of other histograms only describes theirs)."""
    item = described(summary, number)
    return item is not None and all(key in item for key in FILE_KEYS)


def described(summary, number):
    return next((item for item in summary["histograms"] if item.get("number") == number), None)


def check_belongs(summary_path, item, kind, path):
    """PlotError unless path is the regular file of the summary's set: a run
    killed while its files were renamed, or a file cut or replaced since,
    leaves files of another size than the summary names."""
    expected = item[kind + "_bytes"]
    size = regular_file_size(path)
    if size != expected:
        raise PlotError("%s does not belong to %s (%d bytes; the summary says %d): run trov-export again"
                        % (path, summary_path, size, expected))


def regular_file_size(path):
    """The size of the regular file at path, or PlotError: a pipe would hold
    the reader for ever, a device might never end."""
    try:
        status = os.stat(path)
    except OSError as error:
        raise PlotError("cannot open %s: %s; run trov-export first" % (path, error.strerror or error))
    if not stat.S_ISREG(status.st_mode):
        raise PlotError("%s is not a regular file (a pipe, a device or a folder)" % path)
    return status.st_size


def run_export(plan, words, exports):
    """Runs trov-export with words into the plan's folder. A file of the set
    it cannot write is said as such, with the way out."""
    try:
        run_exporter(folder_words(exports) + words)
    except PlotError as error:
        ours = [plan["summary"]] + [h[key] for h in plan["histograms"] for key in ("points_file", "ticks_file")]
        for name in ours:
            if str(error) == "Error opening " + name:
                raise PlotError("cannot write %s, trov-export's file (%s): name a folder it may write with "
                                "--exports DIR" % (name, error))
        raise


def prepare_export(expnam, wanted, exports=None):
    """Makes sure the export of each wanted histogram exists, is newer than
    the experiment and its profile, and is of one set with the summary,
    running trov-export when one is not; its files are in exports when given,
    else beside the experiment. Returns the summary, the plan, the
    numbers of the histograms to draw, and the message of each that could not
    be exported, by number."""
    plan = plan_export(expnam, wanted, exports)
    since = os.path.getmtime(plan["experiment"])
    planned = plan["histograms"]
    stale = not newer_than([plan["summary"]], since) or any(
        h["profile"] is None or
        not newer_than([h["points_file"], h["ticks_file"]], max(since, os.path.getmtime(h["profile"])))
        for h in planned)
    if not stale:
        stale = not all(has_files(read_summary(plan["summary"]), h["number"]) for h in planned)
    failures = {}
    if stale:
        try:
            run_export(plan, histogram_words(wanted) + [expnam], exports)
        except PlotError as error:
            # One histogram at a time, so that those that can be drawn are.
            for h in planned:
                try:
                    run_export(plan, histogram_words([h["number"]]) + [expnam], exports)
                except PlotError as one:
                    failures[h["number"]] = str(one)
            if len(failures) == len(planned):
                raise error
            # Each of those exports wrote a summary of its own histogram's
            # files: those that can be exported, once more together, so that
            # one summary describes them all.
            exported = [h["number"] for h in planned if h["number"] not in failures]
            if len(exported) > 1:
                run_export(plan, histogram_words(exported) + [expnam], exports)
    summary = read_summary(plan["summary"])
    numbers = [h["number"] for h in planned if h["number"] not in failures]
    for h in planned:
        if h["number"] in numbers:
            item = described(summary, h["number"])
            if item is None or not has_files(summary, h["number"]):
                raise PlotError("%s does not describe histogram %d: run trov-export again" % (plan["summary"], h["number"]))
            check_belongs(plan["summary"], item, "points", h["points_file"])
            check_belongs(plan["summary"], item, "ticks", h["ticks_file"])
    return summary, plan, numbers, failures


# A summary is a few MB at most (99 histograms, 100,000 phase names).
MAX_SUMMARY_BYTES = 64 << 20
FILE_KEYS = ("points_file", "points_rows", "points_bytes", "ticks_file", "ticks_rows", "ticks_bytes")


def read_summary(path):
    """The JSON summary, checked for the shape trov-export writes, or
    PlotError naming the file."""
    if regular_file_size(path) > MAX_SUMMARY_BYTES:
        raise PlotError("%s is not the JSON trov-export writes (larger than %d MB)" % (path, MAX_SUMMARY_BYTES >> 20))
    try:
        with open(path, encoding="utf-8") as f:
            summary = json.load(f)
    except OSError as error:
        raise PlotError("cannot open %s: %s" % (path, error.strerror or error))
    except RecursionError:
        raise PlotError("%s is not the JSON trov-export writes (nested too deep)" % path)
    except ValueError as error:  # JSONDecodeError and UnicodeDecodeError
        raise PlotError("%s is not the JSON trov-export writes (%s)" % (path, error))
    why = summary_fault(summary)
    if why:
        raise PlotError("%s is not the JSON trov-export writes (%s)" % (path, why))
    return summary


def is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def is_count(value):
    return isinstance(value, int) and not isinstance(value, bool) and value >= 0


def summary_fault(summary):
    """What in summary is not as trov-export writes it, in a few words, or
    None: every value the figures read is checked for its type here, so that
    none reaches them as a list, a string or an infinity."""
    if not isinstance(summary, dict):
        return "not an object"
    if "title" in summary and not isinstance(summary["title"], str):
        return "its title is not text"
    if "reduced_chi2" in summary and not is_number(summary["reduced_chi2"]):
        return "its reduced_chi2 is not a finite number"
    phases = summary.get("phases", {})
    if not isinstance(phases, dict) or not all(isinstance(v, dict) and isinstance(v.get("name", ""), str)
                                               for v in phases.values()):
        return "its phases are not as written"
    histograms = summary.get("histograms")
    if not isinstance(histograms, list) or not all(isinstance(h, dict) for h in histograms):
        return "its histograms are not as written"
    for h in histograms:
        if not is_count(h.get("number")):
            return "a histogram has no number"
        where = "histogram %d's " % h["number"]
        for key in ("name", "type", "position_unit", "points_file", "ticks_file"):
            if key in h and not isinstance(h[key], str):
                return where + key + " is not text"
        for key in ("points_rows", "points_bytes", "ticks_rows", "ticks_bytes"):
            if key in h and not is_count(h[key]):
                return where + key + " is not a count"
        for key in ("statistics", "constants", "range", "reflections"):
            if key in h and (not isinstance(h[key], dict) or not all(is_number(v) for v in h[key].values())):
                return where + key + " are not finite numbers"
    return None
