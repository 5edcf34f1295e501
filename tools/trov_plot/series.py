"""The figure of a series of refinements (trov-series' table): a panel per quantity against the series variable."""
import json
import math
import os

from .errors import PlotError
from .style import display_name, phase_colour

CELL = [("a", "a (Å)"), ("b", "b (Å)"), ("c", "c (Å)"), ("alpha", "α (°)"), ("beta", "β (°)"), ("gamma", "γ (°)")]
PANEL_MM = 24.0      # the height of one panel at the printed size
FRAME_MM = 16.0      # the x axis' labels and the legend, beyond the panels
HISTOGRAM_GREYS = ["#222222", "#777777", "#aaaaaa"]


def series_json_name(path):
    """The JSON that trov-series writes beside a CSV: NAME.csv's is NAME.json."""
    if path.lower().endswith(".json"):
        return path
    stem, extension = os.path.splitext(path)
    return (stem if extension and os.sep not in extension else path) + ".json"


def load_series(path):
    """trov-series' JSON for the table named by path; PlotError naming the file when it is not one."""
    name = series_json_name(path)
    try:
        with open(name, encoding="utf-8") as f:
            series = json.load(f)
    except UnicodeDecodeError:
        raise PlotError("%s is not UTF-8 text: not trov-series' JSON" % name) from None
    except json.JSONDecodeError as error:
        raise PlotError("%s is not JSON (line %d): not trov-series' file" % (name, error.lineno)) from None
    if not isinstance(series, dict) or not isinstance(series.get("experiments"), list) or \
            not isinstance(series.get("x"), dict) or \
            not all(isinstance(row, dict) and isinstance(row.get("phases", {}), dict) and
                    isinstance(row.get("histograms", {}), dict) for row in series["experiments"]):
        raise PlotError("%s is not shaped as trov-series writes its JSON" % name)
    return series


def number(value):
    """A finite number from the JSON, else None (a value the table leaves out)."""
    return float(value) if isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value) \
        else None


def points(rows, value_of):
    """[(x, value, su)] of the rows that have an x and a value; su 0 where there is none."""
    out = []
    for row in rows:
        x = number(row.get("x"))
        value, su = value_of(row)
        value = number(value)
        if x is not None and value is not None:
            out.append((x, value, number(su) or 0.0))
    return out


def varies(series_points):
    values = [v for _, v, _ in series_points]
    return len(set(values)) > 1 or any(su > 0 for _, _, su in series_points)


def panels_of(series):
    """The panels, top to bottom: [(y label, [(label, colour, points)])]. Each
    phase's quantities in panels of their own (the cells of two phases differ
    far more than either changes): a, then b and c where they differ from a,
    the angles, V and its fraction in each histogram, each only where it was
    refined (its s.u. or its value changes); then wRp, one curve a histogram."""
    rows = series["experiments"]
    phase_numbers = sorted({int(n) for row in rows for n in row["phases"] if str(n).isdigit()})
    names = {}
    for row in rows:
        for n, phase in row["phases"].items():
            if isinstance(phase, dict) and isinstance(phase.get("name"), str):
                names.setdefault(int(n), display_name(phase["name"]))

    def of_phase(n, get):
        def value_of(row):
            phase = row["phases"].get(str(n))
            return get(phase if isinstance(phase, dict) else {})
        return value_of

    def cell_value(key):
        return lambda p: ((p.get("cell") or {}).get(key), (p.get("cell") or {}).get(key + "_su"))

    panels = []
    for n in phase_numbers:
        name = names.get(n, "phase %d" % n)
        colour = phase_colour(n)
        a = points(rows, of_phase(n, cell_value("a")))
        for key, label in CELL:
            got = points(rows, of_phase(n, cell_value(key)))
            if key in ("b", "c") and [v for _, v, _ in got] == [v for _, v, _ in a]:
                continue  # a = b (= c): drawn once
            if got and varies(got):
                panels.append(("%s\n%s" % (name, label), [(name, colour, got)]))
        volume = points(rows, of_phase(n, lambda p: (p.get("volume"), p.get("volume_su"))))
        if volume and varies(volume):
            panels.append(("%s\nV (Å³)" % name, [(name, colour, volume)]))
        histograms = sorted({int(h) for row in rows for h in (((row["phases"].get(str(n)) or {}).get("fractions")) or {})
                             if str(h).isdigit()})
        for h in histograms:
            got = points(rows, of_phase(n, lambda p, h=h: ((p.get("fractions") or {}).get(str(h)), 0)))
            if got and varies(got):
                label = "fraction" if len(histograms) == 1 else "fraction, hist. %d" % h
                panels.append(("%s\n%s" % (name, label), [(name, colour, got)]))
    wrp = []
    numbers = sorted({int(h) for row in rows for h in row["histograms"] if str(h).isdigit()})
    for i, h in enumerate(numbers):
        def value_of(row, h=h):
            statistics = row["histograms"].get(str(h))
            wrp_value = number(statistics.get("wRp")) if isinstance(statistics, dict) else None
            return (None if wrp_value is None else 100 * wrp_value), 0
        got = points(rows, value_of)
        if got:
            wrp.append(("hist. %d" % h, HISTOGRAM_GREYS[i % len(HISTOGRAM_GREYS)], got))
    if wrp:
        panels.append(("wRp (%)", wrp))
    return panels


def x_label(series):
    x = series["x"]
    name = display_name(str(x.get("name", "x")))
    return "%s (%s)" % (name, display_name(str(x["unit"]))) if x.get("unit") else name


def draw_curves(ax, curves):
    """One panel: each curve's points joined, with its s.u. as error bars."""
    for label, colour, got in curves:
        xs, ys, sus = zip(*sorted(got))
        ax.errorbar(xs, ys, yerr=sus, color=colour, marker="o", markersize=2.5, linewidth=0.6,
                    elinewidth=0.5, capsize=1.5, label=label)


def draw_series(series, plt, width_mm, height_mm=None, title=None):
    """The series' figure: a panel per quantity, sharing the x axis, the phases
    named once in a legend above the panels."""
    panels = panels_of(series)
    if not panels or not any(curves for _, curves in panels):
        raise PlotError("the series holds no cell, fraction or wRp against its %s" % x_label(series))
    height_mm = height_mm or PANEL_MM * len(panels) + FRAME_MM
    figure, axes = plt.subplots(len(panels), 1, sharex=True, squeeze=False, layout="constrained",
                                figsize=(width_mm / 25.4, height_mm / 25.4))
    axes = [row[0] for row in axes]
    for ax, (label, curves) in zip(axes, panels):
        draw_curves(ax, curves)
        ax.set_ylabel(label)
        ax.ticklabel_format(axis="y", useOffset=False)
    axes[-1].set_xlabel(x_label(series))
    # Labels of up to about six characters, a tick every 12 mm at most.
    from matplotlib.ticker import MaxNLocator
    axes[-1].xaxis.set_major_locator(MaxNLocator(nbins=max(3, int(width_mm / 12)), steps=[1, 2, 2.5, 5, 10]))
    # The histograms told apart where there are a few (many banks: one grey band).
    if panels[-1][0] == "wRp (%)" and 1 < len(panels[-1][1]) <= len(HISTOGRAM_GREYS):
        # An entry (its line, "hist. 10" at 7 pt and the gap) takes about 25 mm.
        axes[-1].legend(loc="lower center", bbox_to_anchor=(0.5, 1.0), frameon=False, borderaxespad=0.3,
                        ncols=max(1, min(len(panels[-1][1]), int(width_mm // 25))))
    if title:
        figure.suptitle(title)
    return figure
