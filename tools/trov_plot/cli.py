"""trov-plot's command line: the words, the files asked of trov-export, the figures written, and one line for every failure."""
import argparse
import math
import os
import re
import sys
import traceback

from .errors import PlotError, UsageError
from .export import prepare_export
from .figure import MAX_WIDTH_MM, MIN_WIDTH_MM, PAGE_MM, Style, draw_figure, stack_capacity
from .loading import load_histograms

USAGE_NOTES = """\
EXPNAM is the experiment's name, as typed to trov (a folder and an extension
may be given; it is found as trov finds it). The figures are drawn from the
files trov-export writes beside the experiment (EXPNAM.json, EXPNAM_HH.csv,
EXPNAM_HH_ticks.csv): trov-plot asks trov-export for their names and runs it
when they are missing or older than the experiment or a profile. For each
powder histogram HH
(all of them when none is given) it draws the observed points, the calculated
curve, the difference curve on the same intensity scale below them, a row of
reflection ticks per phase and shades the excluded regions.

Sizes are those of a journal page: --width single (85 mm, the default),
double (174 mm), 89 or 183 (other journals) or a number of millimetres; text
is 8 pt at that size; PNG at --dpi (600). SVG and PDF keep text as text.

examples:
  trov-plot SAMPLE                              SAMPLE_01.png, SAMPLE_03.png
  trov-plot -o fig2.pdf --width double SAMPLE 1
  trov-plot --x d --stack -o banks.svg SAMPLE   both histograms on one d axis
  trov-plot --stats --delta-sigma SAMPLE 1      R-factors and (obs-calc)/sigma
  trov-plot --zoom 60:120:5 SAMPLE 1            curves from 60 to 120 times 5

A stack holds as many histograms as fit a page %g mm tall at the width
asked for (5 at single width, 8 at most), or as fit --height: more go on
further PDF pages, or into further PNG or SVG files, named after their first
histogram with -o (fig_09.png), else after all of them
(EXPNAM_01_02_03.png). A --height too small for what the figure holds is
refused with the height it needs.
""" % PAGE_MM

WIDTHS_MM = {"single": 85.0, "double": 174.0, "89": 89.0, "183": 183.0}
MAX_HISTOGRAMS = 99
DESCRIPTION = "Rietveld figures for a journal, drawn from trov-export's full-precision files."


# Positions, d and Q beyond this are no diffraction data, and their
# differences would overflow; no zoom makes a curve larger than this.
MAX_POSITION = 1e15
MAX_ZOOM = 1e6
# What the PNG renderer takes: at most 2^16 pixels a side, and an image that
# fits in memory (4 bytes a pixel).
MAX_PNG_SIDE = 65536
MAX_PNG_PIXELS = 200_000_000


def parse_range(text, parts, what):
    try:
        values = [float(v) for v in text.split(":")]
    except ValueError:
        values = []
    if len(values) != parts or not all(math.isfinite(v) for v in values) or values[0] >= values[1]:
        raise UsageError("%s must be %s with A < B, not %r" % (what, ":".join("ABN"[:parts]), text))
    if abs(values[0]) > MAX_POSITION or abs(values[1]) > MAX_POSITION:
        raise UsageError("%s: A and B must lie within ±%g, not %r" % (what, MAX_POSITION, text))
    if parts == 3 and not 0 < values[2] <= MAX_ZOOM:
        raise UsageError("the factor N of --zoom must be above 0 and at most %g, not %r" % (MAX_ZOOM, text))
    return values


def check_zooms_apart(zooms):
    ordered = sorted(zooms)
    for (low, high, _), (next_low, next_high, _) in zip(ordered, ordered[1:]):
        if next_low <= high:
            raise UsageError("--zoom ranges %g:%g and %g:%g overlap: a point can be zoomed once"
                             % (low, high, next_low, next_high))


class Parser(argparse.ArgumentParser):
    def error(self, message):
        raise UsageError("%s (trov-plot --help tells how to use it)" % message)


def parse_arguments(argv):
    parser = Parser(prog="trov-plot", description=DESCRIPTION, epilog=USAGE_NOTES,
                    formatter_class=argparse.RawDescriptionHelpFormatter)
    # EXPNAM is checked here rather than by argparse, whose message would call HH required too.
    parser.add_argument("expnam", metavar="EXPNAM", nargs="?", help="the experiment, as typed to trov")
    parser.add_argument("histograms", metavar="HH", nargs="*", help="histogram numbers (default: every powder one)")
    parser.add_argument("-o", "--output", metavar="FILE", help="FILE.png, FILE.svg or FILE.pdf")
    parser.add_argument("--exports", metavar="DIR",
                        help="trov-export's files (and the figures, without -o) in DIR, made if missing, "
                             "not beside the experiment")
    parser.add_argument("--title", metavar="TEXT", help="a title above the figure ('exp': the experiment's names)")
    parser.add_argument("--width", default="single", help="single (85 mm), double (174 mm), 89, 183 or millimetres")
    parser.add_argument("--height", metavar="MM", type=float, help="the height in mm (default: to match the width)")
    parser.add_argument("--dpi", type=int, default=600, help="PNG resolution (default 600)")
    parser.add_argument("--x", choices=("position", "d", "q"), default="position",
                        help="the x axis: the histogram's own, d-spacing or Q")
    parser.add_argument("--descending", action="store_true", help="run the x axis from high to low (d from large)")
    parser.add_argument("--xrange", metavar="A:B", help="draw x from A to B only, in the axis' units")
    parser.add_argument("--zoom", metavar="A:B:N", action="append", default=[],
                        help="multiply the curves between A and B by N, marked ×N (repeatable)")
    parser.add_argument("--diff-panel", action="store_true", help="the difference curve in a panel of its own")
    parser.add_argument("--delta-sigma", action="store_true", help="(obs − calc)/σ in a panel of its own")
    parser.add_argument("--stats", action="store_true", help="wRp, Rp and χ² in a corner, where the experiment has them")
    parser.add_argument("--background", action="store_true", help="draw the background")
    parser.add_argument("--stack", action="store_true", help="all histograms in one figure, one above the other")
    scale = parser.add_mutually_exclusive_group()
    scale.add_argument("--sqrt", action="store_true", help="square-root intensity axis")
    scale.add_argument("--log", action="store_true", help="logarithmic intensity axis (linear near zero)")
    parser.add_argument("--series", metavar="TABLE",
                        help="instead of an experiment, trov-series' table (series.csv, read from its series.json): "
                             "cells, fractions and wRp against the series variable")
    parser.add_argument("--debug", action="store_true", help="on an unexpected error, the whole traceback (for a bug report)")
    options = parser.parse_args(argv)
    # A difference curve cannot be offset below a logarithmic axis: it gets a panel.
    options.diff_panel = options.diff_panel or options.log
    if options.series is not None and (options.expnam is not None or options.histograms):
        parser.error("--series draws the table alone: no EXPNAM or HH with it")
    if options.expnam is None and options.series is None:
        parser.error("EXPNAM is missing")
    try:
        options.width_mm = WIDTHS_MM.get(options.width) or float(options.width)
    except ValueError:
        options.width_mm = 0
    if not MIN_WIDTH_MM <= options.width_mm <= MAX_WIDTH_MM:
        raise UsageError("--width must be single, double, 89, 183 or %g to %g mm, not %r"
                         % (MIN_WIDTH_MM, MAX_WIDTH_MM, options.width))
    if options.height is not None and not 20 <= options.height <= 900:
        raise UsageError("--height must be 20 to 900 mm")
    options.height_mm = options.height
    if not 50 <= options.dpi <= 2400:
        raise UsageError("--dpi must be 50 to 2400")
    options.xrange = parse_range(options.xrange, 2, "--xrange") if options.xrange else None
    options.zoom = [parse_range(z, 3, "--zoom") for z in options.zoom]
    check_zooms_apart(options.zoom)
    for text in options.histograms:
        # ASCII digits only: "²" is a digit to str.isdigit() but no number.
        if not re.fullmatch(r"[0-9]{1,2}", text) or not 1 <= int(text) <= MAX_HISTOGRAMS:
            raise UsageError("%r is not a histogram number (1 to 99)" % text)
    options.histograms = [int(t) for t in options.histograms]
    if options.output is not None:
        kind = os.path.splitext(options.output)[1].lower()[1:]
        if kind not in ("png", "svg", "pdf"):
            raise UsageError("-o %s: the file name must end in .png, .svg or .pdf" % options.output)
    return options


def output_names(options, expnam, groups):
    if options.output is None:
        return "png", ["%s_%s.png" % (expnam, "_".join("%02d" % h.number for h in group)) for group in groups]
    stem, extension = os.path.splitext(options.output)
    kind = extension.lower()[1:]
    if kind == "pdf" or len(groups) == 1:
        return kind, [options.output] * len(groups)
    return kind, ["%s_%02d%s" % (stem, group[0].number, extension) for group in groups]


def style_of(options):
    return Style(x=options.x, width_mm=options.width_mm, height_mm=options.height_mm, dpi=options.dpi,
                 xrange=options.xrange, zoom=options.zoom, descending=options.descending,
                 diff_panel=options.diff_panel, delta_sigma=options.delta_sigma, stats=options.stats,
                 background=options.background, sqrt=options.sqrt, log=options.log, title=options.title)


def check_png_size(figure, dpi):
    width, height = (round(inches * dpi) for inches in figure.get_size_inches())
    if max(width, height) > MAX_PNG_SIDE or width * height > MAX_PNG_PIXELS:
        raise UsageError("a PNG of %d × %d pixels is more than can be drawn (%d a side, %d million in all): "
                         "lower --dpi or the size, or write SVG or PDF"
                         % (width, height, MAX_PNG_SIDE, MAX_PNG_PIXELS // 1_000_000))


def one_line(text):
    """text with its control characters shown as escapes: a message stays one
    line whatever the file names in it hold."""
    return "".join(c if c.isprintable() or c == " " else c.encode("unicode_escape").decode("ascii")
                   for c in str(text))


def stack_groups(histograms, stack, capacity):
    """The figures: one per histogram, or stacks of at most capacity."""
    if not stack:
        return [[h] for h in histograms]
    return [histograms[i:i + capacity] for i in range(0, len(histograms), capacity)]


def prepare(options):
    """The figures' inputs: the summary, the experiment's name as the export
    has it, the histograms grouped a figure each, and the message of each
    histogram that could not be exported, by number."""
    summary, plan, numbers, failures = prepare_export(options.expnam, options.histograms, options.exports)
    expnam = os.path.splitext(plan["summary"])[0]  # figures are named and placed as the export is
    if options.histograms and failures:
        raise PlotError(next(iter(failures.values())))
    if not numbers:
        raise PlotError("; ".join(failures.values()) if failures else "%s lists no powder histogram" % expnam)
    histograms = load_histograms(summary, plan, numbers)
    if options.stack and options.x == "position" and len({h.position_label for h in histograms}) > 1:
        raise UsageError("--stack of histograms with different axes needs --x d or --x q")
    panels = int(options.diff_panel) + int(options.delta_sigma)
    groups = stack_groups(histograms, options.stack, stack_capacity(options.width_mm, options.height_mm, panels))
    return summary, expnam, groups, failures


def use_matplotlib():
    """matplotlib set for print: its pyplot module."""
    import matplotlib
    # Figures are laid out, measured and settled before they are drawn, with
    # what matplotlib has had since 3.6.
    if tuple(int(part) for part in matplotlib.__version__.split(".")[:2] if part.isdigit()) < (3, 6):
        raise PlotError("needs matplotlib 3.6 or later, not %s" % matplotlib.__version__)
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    # Text stays text in SVG and PDF, so journals and editors can change it;
    # 8 pt and thin lines at the printed size.
    # Names and titles are text as typed: a "$" is a dollar, never mathematics.
    # Long jagged lines (a noisy difference thinned to four points a pixel
    # column) are drawn in pieces: whole, the renderer holds a cell per pixel
    # they cross, gigabytes at 1200 dpi.
    matplotlib.rcParams.update({"text.parse_math": False, "agg.path.chunksize": 2000,
                                "svg.fonttype": "none", "pdf.fonttype": 42, "font.size": 8,
                                "axes.linewidth": 0.5, "xtick.major.width": 0.5, "ytick.major.width": 0.5,
                                "xtick.major.size": 2.5, "ytick.major.size": 2.5, "legend.fontsize": 7,
                                "savefig.bbox": None})
    return plt


def run_series(options):
    """trov-plot --series: the series' figure, named after the table unless -o names it."""
    from .series import draw_series, load_series
    series = load_series(options.series)
    plt = use_matplotlib()
    name = options.output or os.path.splitext(options.series)[0] + ".png"
    kind = os.path.splitext(name)[1].lower()[1:]
    figure = draw_series(series, plt, options.width_mm, options.height_mm, options.title)
    if kind == "png":
        check_png_size(figure, options.dpi)
        figure.savefig(name, dpi=options.dpi)
    else:
        figure.savefig(name, metadata={"Creator": "trov-plot", "CreationDate": None} if kind == "pdf" else {"Date": None})
    plt.close(figure)
    print(name)
    sys.stdout.flush()


def run(argv):
    options = parse_arguments(argv)
    if options.series is not None:
        run_series(options)
        return
    summary, expnam, groups, failures = prepare(options)

    import warnings
    plt = use_matplotlib()
    from matplotlib.backends.backend_pdf import PdfPages
    kind, names = output_names(options, expnam, groups)
    phases = "phases: " + "; ".join("%s %s" % (n, phase.get("name", "phase %s" % n))
                                    for n, phase in sorted(summary.get("phases", {}).items()))
    style = style_of(options)
    pages = PdfPages(names[0], metadata={"Creator": "trov-plot", "CreationDate": None, "Subject": phases}) \
        if kind == "pdf" else None
    try:
        for group, name in zip(groups, names):
            # NaN and infinite values a file may hold are left out of the
            # figure by design, and a tight layout is checked by the tests:
            # numpy's and matplotlib's notes on them are noise to a user.
            with warnings.catch_warnings():
                if not options.debug:
                    warnings.simplefilter("ignore")
                figure = draw_figure(group, summary, style)
                if kind == "png":
                    check_png_size(figure, options.dpi)
                if pages is not None:
                    pages.savefig(figure)
                elif kind == "svg":
                    figure.savefig(name, metadata={"Date": None, "Description": phases})
                else:
                    figure.savefig(name, dpi=options.dpi)
            plt.close(figure)
    finally:
        if pages is not None:
            pages.close()
    try:
        for name in sorted(set(names), key=names.index):
            print(name)
        sys.stdout.flush()
    except OSError:
        # What could not be written is dropped, so that the interpreter's own
        # flush at the end does not fail a second time.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        raise PlotError("Error writing standard output")
    if failures:
        raise PlotError("; ".join("histogram %02d: %s" % item for item in sorted(failures.items())) +
                        "; the other histograms were drawn")


def main(argv):
    """Runs trov-plot; its exit status. Every failure is one line on standard
    error: status 2 for the command line, 1 for the rest; --debug adds the
    traceback of an unexpected one."""
    debug = "--debug" in argv
    try:
        run(argv)
        return 0
    except PlotError as error:
        print("trov-plot: %s" % one_line(error), file=sys.stderr)
        return 2 if isinstance(error, UsageError) else 1
    except ImportError as error:
        print("trov-plot: needs %s (Debian: apt install python3-matplotlib)" % error.name, file=sys.stderr)
    except MemoryError:
        print("trov-plot: not enough memory for these histograms; draw fewer at a time", file=sys.stderr)
    except OSError as error:
        print("trov-plot: %s: %s" % (one_line(error.filename or ""), one_line(error.strerror or error)), file=sys.stderr)
    except KeyboardInterrupt:
        print("trov-plot: interrupted", file=sys.stderr)
        return 130
    except Exception as error:  # a bug: one line, and the traceback with --debug
        if debug:
            traceback.print_exc()
        print("trov-plot: unexpected %s: %s (run again with --debug and report it)"
              % (type(error).__name__, one_line(error)), file=sys.stderr)
    return 1
