"""trov-export, which owns the files' names and the three tries that find the inputs: asked for its plan, run when its files are stale."""
import json
import os
import shutil
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
        run = subprocess.run([exporter()] + words, capture_output=True, encoding="utf-8", errors="replace")
    except OSError as error:
        raise PlotError("cannot run %s: %s" % (exporter(), error.strerror or error))
    if run.returncode != 0:
        lines = run.stderr.strip().splitlines() or ["trov-export failed (status %d)" % run.returncode]
        raise PlotError(lines[-1].replace("trov-export: ", "", 1))
    return run.stdout


def histogram_words(histograms):
    return [w for h in histograms for w in ("--histogram", str(h))]


def plan_export(expnam, wanted):
    """trov-export --list: the experiment file found, the summary and, for each
    wanted histogram (every powder one when none is named), its profile (None
    when missing) and its two CSV files."""
    text = run_exporter(["--list"] + histogram_words(wanted) + [expnam])
    try:
        return json.loads(text)
    except ValueError:
        raise PlotError("trov-export --list did not answer in JSON: is %s trov-export?" % exporter())


def newer_than(paths, since):
    return all(os.path.isfile(p) and os.path.getmtime(p) >= since for p in paths)


def prepare_export(expnam, wanted):
    """Makes sure the export of each wanted histogram exists and is newer than
    the experiment and its profile, running trov-export when one is not.
    Returns the summary, the plan, the numbers of the histograms to draw, and
    the message of each that could not be exported, by number."""
    plan = plan_export(expnam, wanted)
    since = os.path.getmtime(plan["experiment"])
    planned = plan["histograms"]
    stale = not newer_than([plan["summary"]], since) or any(
        h["profile"] is None or
        not newer_than([h["points_file"], h["ticks_file"]], max(since, os.path.getmtime(h["profile"])))
        for h in planned)
    failures = {}
    if stale:
        try:
            run_exporter(histogram_words(wanted) + [expnam])
        except PlotError as error:
            # One histogram at a time, so that those that can be drawn are.
            for h in planned:
                try:
                    run_exporter(histogram_words([h["number"]]) + [expnam])
                except PlotError as one:
                    failures[h["number"]] = str(one)
            if len(failures) == len(planned):
                raise error
    summary = read_summary(plan["summary"])
    return summary, plan, [h["number"] for h in planned if h["number"] not in failures], failures


def read_summary(path):
    """The JSON summary, or PlotError naming the file."""
    try:
        with open(path, encoding="utf-8") as f:
            summary = json.load(f)
    except OSError as error:
        raise PlotError("cannot open %s: %s" % (path, error.strerror or error))
    except ValueError as error:  # JSONDecodeError and UnicodeDecodeError
        raise PlotError("%s is not the JSON trov-export writes (%s)" % (path, error))
    if not isinstance(summary, dict) or not isinstance(summary.get("histograms"), list) or \
            not all(isinstance(h, dict) for h in summary["histograms"]) or \
            not isinstance(summary.get("phases", {}), dict):
        raise PlotError("%s is not the JSON trov-export writes (its histograms or phases are not as written)" % path)
    return summary
