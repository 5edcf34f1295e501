"""Rietveld figures with matplotlib: small helpers that take an Axes and data, and the figure of one or more histograms built from them."""
import math
import textwrap
from dataclasses import dataclass, field

from .errors import PlotError, UsageError
from .style import COLOURS, axis_label, curve_limits, display_name, padded, phase_colour, short_name, statistics_lines

OBSERVED, CALCULATED, DIFFERENCE = COLOURS["observed"], COLOURS["calculated"], COLOURS["difference"]
BACKGROUND, ZERO_LINE, EXCLUDED = COLOURS["background"], COLOURS["zero"], COLOURS["excluded"]
# Behind the corner texts, so that a peak under them does not cross the letters.
CORNER_BOX = {"facecolor": "white", "edgecolor": "none", "alpha": 0.8, "pad": 1.0}
# The share of the figure's width the curves take (the rest: the intensity
# and phase labels): what points per millimetre are counted against.
AXES_SHARE = 0.78
# Histograms stacked in one figure: as many as fit a page this tall at the
# width asked for (a histogram takes half the width in height, the first
# 0.72 of it), eight at most; more go on further pages or files. One
# published experiment has 32 banks.
PAGE_MM = 240.0
MAX_STACKED = 8


# Widths a figure lays out cleanly at, its text 8 pt: from a narrow column
# to a landscape page.
MIN_WIDTH_MM, MAX_WIDTH_MM = 60.0, 250.0
# What a stacked histogram needs of a height asked for, at the least: its
# curves, tick rows and hidden x axis; a panel of its own adds to it. The
# legend, x labels and title take the rest.
HISTOGRAM_MM, PANEL_MM, FRAME_MM = 58.0, 12.0, 15.0


def stack_capacity(width_mm, height_mm=None, panels=0):
    """How many histograms one stacked figure holds; panels: the difference
    and Δ/σ panels each histogram has."""
    if height_mm:
        return max(1, min(MAX_STACKED, int((height_mm - FRAME_MM) / (HISTOGRAM_MM + PANEL_MM * panels))))
    return max(1, min(MAX_STACKED, int((PAGE_MM / width_mm - 0.72) / 0.5) + 1))


@dataclass
class Style:
    """What the command line asks of a figure."""
    x: str = "position"            # position, d or q
    width_mm: float = 85.0
    height_mm: float = None        # None: from the width and the histograms
    dpi: int = 600
    xrange: tuple = None
    zoom: list = field(default_factory=list)  # (low, high, factor)
    descending: bool = False
    diff_panel: bool = False
    delta_sigma: bool = False
    stats: bool = False
    background: bool = False
    sqrt: bool = False
    log: bool = False
    title: str = None


def x_values(hist, axis):
    """The points' x, the ticks' x and the label of the axis asked for."""
    if axis == "position":
        return hist.position, hist.tick_position, axis_label("position", hist.info.get("position_unit"))
    if hist.d is None:
        raise PlotError("histogram %02d: the experiment gives no instrument constants, so no %s axis"
                        % (hist.number, "d" if axis == "d" else "Q"))
    if axis == "d":
        return hist.d, hist.tick_d, axis_label("d")
    import numpy as np
    with np.errstate(divide="ignore", invalid="ignore"):
        return hist.q, 2 * math.pi / hist.tick_d, axis_label("q")


# Text is plain (no mathematics, so that a "$" in a name stays a dollar):
# powers are written with Unicode's superscript digits.
SUPERSCRIPTS = str.maketrans("-0123456789", "⁻⁰¹²³⁴⁵⁶⁷⁸⁹")


def signed_sqrt(y):
    import numpy as np
    return np.sign(y) * np.sqrt(np.abs(y))


def signed_square(y):
    import numpy as np
    return np.sign(y) * y * y


def finite(*arrays):
    import numpy as np
    values = np.concatenate([a[np.isfinite(a)] for a in arrays]) if arrays else np.zeros(0)
    return values if values.size else np.zeros(1)


def sqrt_ticks(low, high):
    """Tick values for a square-root axis from low to high, negatives included:
    round numbers spaced evenly in the square root."""
    import numpy as np
    top = max(abs(low), abs(high), 1.0)
    step = top ** 0.5 / 4
    roots = np.arange(-math.floor(abs(min(low, 0)) ** 0.5 / step), math.floor(top ** 0.5 / step) + 1) * step
    values = np.sign(roots) * roots ** 2

    def rounded(v):
        if v == 0:
            return 0.0
        digits = 10 ** math.floor(math.log10(abs(v)))
        return round(v / digits) * digits
    ticks = {rounded(v) for v in values if low <= v <= high}
    if low <= 0 <= high:
        ticks.add(0.0)
    return sorted(ticks)


# --- fewer points, the same pixels ---------------------------------------------------

def thin_line(x, y, low, high, pixels):
    """The points of a line through (x, y) that draw the same pixels at
    pixels columns from low to high: in each run of points in one column,
    the first, the lowest, the highest and the last. Points before and after
    the range count as two more columns (their runs' ends carry the line to
    the frame); a non-finite value is kept where it is, as it breaks the
    line there."""
    import numpy as np
    n = len(x)
    if n <= 4 * pixels or not high > low:
        return x, y
    with np.errstate(invalid="ignore"):
        column = np.floor((np.clip(x, low, high) - low) / (high - low) * pixels)
        column = np.minimum(column, pixels - 1)
        column[x < low] = -1
        column[x > high] = pixels
    broken = ~np.isfinite(y) | ~np.isfinite(x)
    column[broken] = -2 - np.flatnonzero(broken)  # a run of its own
    starts = np.flatnonzero(np.r_[True, column[1:] != column[:-1]])
    ends = np.r_[starts[1:], n] - 1
    run = np.repeat(np.arange(len(starts)), np.diff(np.r_[starts, n]))
    safe = np.where(broken, 0.0, y)
    low_y = np.minimum.reduceat(safe, starts)
    high_y = np.maximum.reduceat(safe, starts)
    lowest = np.zeros(len(starts), dtype=int)
    highest = np.zeros(len(starts), dtype=int)
    # An index in each run where its lowest and highest values are.
    at_low = np.flatnonzero(safe == low_y[run])
    at_high = np.flatnonzero(safe == high_y[run])
    lowest[run[at_low]] = at_low
    highest[run[at_high]] = at_high
    keep = np.zeros(n, dtype=bool)
    keep[starts] = keep[ends] = True
    keep[lowest] = keep[highest] = True
    return x[keep], y[keep]


def thin_markers(x, y, xlim, ylim, pixels):
    """The points whose markers fall on distinct pixels of a grid of pixels
    (columns, rows) over xlim and ylim; the first of each cell is kept, so a
    marker is drawn where one was, offset by less than a pixel."""
    import numpy as np
    if len(x) <= pixels[0] or not (xlim[1] > xlim[0] and ylim[1] > ylim[0]):
        return x, y
    col = np.floor((x - xlim[0]) / (xlim[1] - xlim[0]) * pixels[0]).astype(np.int64)
    row = np.floor((y - ylim[0]) / (ylim[1] - ylim[0]) * pixels[1]).astype(np.int64)
    _, first = np.unique(col * (pixels[1] + 2) + row, return_index=True)
    first.sort()
    return x[first], y[first]


def marker_style(points_per_mm):
    """Observed points as publication plots draw them: open circles while
    they stand apart, smaller ones as they crowd, and dots once they would
    merge into a band that hides the calculated curve."""
    if points_per_mm <= 4:
        return {"marker": "o", "markersize": 1.6, "markerfacecolor": "none", "markeredgewidth": 0.4}
    if points_per_mm <= 12:
        return {"marker": "o", "markersize": 0.9, "markerfacecolor": "none", "markeredgewidth": 0.25}
    return {"marker": ".", "markersize": 0.9, "markeredgewidth": 0}


def excluded_runs(x, excluded):
    """The runs of excluded points as (low, high) on x."""
    import numpy as np
    edges = np.flatnonzero(np.diff(np.concatenate([[0], excluded.astype(int), [0]])))
    return [tuple(sorted((float(x[a]), float(x[b - 1])))) for a, b in zip(edges[::2], edges[1::2])]


def fitted_limits(histograms, axis, xrange=None):
    """The x limits of a shared axis: the span of the fitted points of all
    the histograms (excluded low angles or long flight times would otherwise
    push the patterns into a corner), or xrange when given."""
    import numpy as np
    if xrange:
        return tuple(xrange)
    spans = []
    for hist in histograms:
        x = x_values(hist, axis)[0]
        kept = x[hist.fitted & np.isfinite(x)]
        if kept.size == 0:
            kept = x[np.isfinite(x)]
        if kept.size:
            spans.append((float(kept.min()), float(kept.max())))
    if not spans:
        raise PlotError("no histogram has a point on the %s axis" % axis)
    return min(s[0] for s in spans), max(s[1] for s in spans)


# --- helpers that draw on an Axes ------------------------------------------------------

def draw_observed(ax, x, y, style, label="Observed"):
    ax.plot(x, y, linestyle="none", color=OBSERVED, label=label, **style)


def draw_curve(ax, x, y, colour, width, label=None, dashed=False):
    ax.plot(x, y, color=colour, linewidth=width, label=label, linestyle="--" if dashed else "-")


def shade_excluded(axes, runs):
    for low, high in runs:
        for ax in axes:
            ax.axvspan(low, high, color=EXCLUDED, zorder=0, linewidth=0)


def draw_tick_rows(ax, ticks_x, markers, names, keep=None):
    """A row of ticks per phase, phase 1 on top, each named in its colour.
    names: {marker: name}."""
    import numpy as np
    phases = sorted(names)
    for row, n in enumerate(reversed(phases)):
        at = ticks_x[(markers == n) & (keep if keep is not None else True)]
        ax.vlines(at[np.isfinite(at)], row + 0.15, row + 0.85, color=phase_colour(n), linewidth=0.5)
    ax.set_ylim(0, max(len(phases), 1))
    ax.set_yticks([row + 0.5 for row in range(len(phases))])
    ax.set_yticklabels([short_name(names[n]) for n in reversed(phases)])
    for label, n in zip(ax.get_yticklabels(), reversed(phases)):
        label.set_color(phase_colour(n, text=True))
    ax.tick_params(axis="y", length=0)


def draw_panel(ax, x, y, ylabel):
    """A small panel under the curves (difference, Δ/σ) with its zero line and
    three labelled ticks at most, so that its labels never meet."""
    from matplotlib.ticker import MaxNLocator
    draw_curve(ax, x, y, DIFFERENCE, 0.5)
    ax.axhline(0.0, color=ZERO_LINE, linewidth=0.4)
    ax.set_ylabel(ylabel, fontsize=7)  # no longer than the panel is tall
    ax.yaxis.set_major_locator(MaxNLocator(nbins=3, prune="both"))


def statistics_text(info, summary):
    """The histogram's own fit statistics, a line each."""
    return "\n".join(statistics_lines(info.get("statistics") or {}, summary.get("reduced_chi2")))


def fitted_only(x, y, fitted):
    """A curve's points over the fitted points, with a nan where each run of
    excluded points begins, so that the curve breaks there rather than
    crossing the run in a straight line."""
    import numpy as np
    if fitted.all():
        return x, y
    keep = fitted | np.r_[True, fitted[:-1]]  # the fitted points, and the first of each run left out
    return x[keep], np.where(fitted[keep], y[keep], np.nan)


# --- a histogram, a figure -------------------------------------------------------------

@dataclass
class Panel:
    """One histogram's part of a figure, as the settling pass adjusts it."""
    curves: object                 # the Axes of the curves
    ticks: object                  # the Axes of the tick rows
    grid: object                   # its GridSpec: curves, ticks, then any panels
    ratios: list                   # their height ratios
    rows: int                      # tick rows
    x_bins: int = 0                # intervals between labelled x ticks, at most
    corners: list = field(default_factory=list)  # texts in the curves' top corners
    name: str = None               # the whole stacked name
    name_text: object = None       # its text, shortened to fit


def draw_histogram(figure, grid, hist, summary, style, xlim, show_x_label, stacked):
    """Draws one histogram in grid (a GridSpec cell) over xlim; returns its Panel."""
    import numpy as np
    x, ticks_x, x_label = x_values(hist, style.x)
    observed, calculated, difference = hist.observed.copy(), hist.calculated.copy(), hist.difference.copy()
    background = hist.background.copy() if hist.background is not None else None
    keep = np.isfinite(x) & (x >= xlim[0]) & (x <= xlim[1])
    if not keep.any():
        raise PlotError("histogram %02d has no points in the range drawn" % hist.number)
    for low, high, factor in style.zoom:
        inside = (x >= low) & (x <= high)
        for curve in (observed, calculated, difference, background):
            if curve is not None:
                curve[inside] *= factor
    fitted = hist.fitted & keep

    panels = [4.6, 0.3 * max(len(hist.tick_phase), 1)]
    if style.diff_panel:
        panels.append(1.5)
    if style.delta_sigma:
        panels.append(1.5)
    sub = grid.subgridspec(len(panels), 1, height_ratios=panels, hspace=0.0)
    part = Panel(None, None, sub, panels, max(len(hist.tick_phase), 1))
    curves = figure.add_subplot(sub[0])
    tick_axes = figure.add_subplot(sub[1], sharex=curves)
    axes = [curves, tick_axes]

    # What a pixel of the output is: thinning never changes one.
    width_px = max(1, int(style.width_mm * AXES_SHARE / 25.4 * style.dpi))
    height_px = max(1, int(figure.get_figheight() * style.dpi))
    shown = keep & np.isfinite(observed)
    values = np.concatenate([observed[shown], calculated[fitted]])
    values = values[np.isfinite(values)]
    # The difference on the curves' own scale, below them, as most Rietveld
    # papers show it; or in a panel of its own.
    d_fit = finite(difference[fitted])
    offset, bottom, top = curve_limits(float(values.min()) if values.size else None,
                                       float(values.max()) if values.size else None,
                                       None if style.diff_panel else (float(d_fit.min()), float(d_fit.max())))

    points_per_mm = int(shown.sum()) / (style.width_mm * AXES_SHARE)
    if style.sqrt or style.log:
        marks_x, marks_y = x[shown], observed[shown]
    else:
        marks_x, marks_y = thin_markers(x[shown], observed[shown], xlim, (bottom, top), (width_px, height_px))
    draw_observed(curves, marks_x, marks_y, marker_style(points_per_mm))
    draw_curve(curves, *thin_line(*fitted_only(x, calculated, hist.fitted), xlim[0], xlim[1], width_px), CALCULATED, 0.7,
               label="Calculated")
    if style.background and background is not None:
        draw_curve(curves, *thin_line(x[keep], background[keep], xlim[0], xlim[1], width_px), BACKGROUND, 0.5,
                   label="Background", dashed=True)
    shade_excluded(axes, excluded_runs(x, keep & ~hist.fitted))
    if offset is not None:
        dx, dy = thin_line(*fitted_only(x, difference + offset, hist.fitted), xlim[0], xlim[1], width_px)
        draw_curve(curves, dx, dy, DIFFERENCE, 0.5, label="Difference")
        curves.axhline(offset, color=ZERO_LINE, linewidth=0.4)
    else:
        residual = figure.add_subplot(sub[2], sharex=curves)
        draw_panel(residual, *thin_line(*fitted_only(x, difference, hist.fitted), xlim[0], xlim[1], width_px), "Obs − calc")
        residual.lines[0].set_label("Difference")
        axes.append(residual)
    if style.delta_sigma:
        if hist.delta_sigma is None:
            raise PlotError("histogram %02d: its CSV file has no difference/sigma column" % hist.number)
        panel = figure.add_subplot(sub[len(axes)], sharex=curves)
        draw_panel(panel, *thin_line(*fitted_only(x, hist.delta_sigma, hist.fitted), xlim[0], xlim[1], width_px), "Δ/σ")
        axes.append(panel)

    for low, high, factor in style.zoom:
        inside = keep & (x >= low) & (x <= high)
        if not inside.any():
            continue
        level = float(finite(observed[inside], calculated[inside & fitted]).max()) + 0.03 * (top - bottom)
        curves.annotate("", xy=(x[inside].min(), level), xytext=(x[inside].max(), level),
                        arrowprops={"arrowstyle": "|-|", "color": "#333333", "linewidth": 0.5,
                                    "shrinkA": 0, "shrinkB": 0, "mutation_scale": 2})
        curves.text((low + high) / 2, level, "×%g" % factor, ha="center", va="bottom")
        top = max(top, level + 0.08 * (top - bottom))
        if style.diff_panel:
            axes[2].text((low + high) / 2, 0.96, "×%g" % factor, ha="center", va="top",
                         transform=axes[2].get_xaxis_transform())
    curves.set_ylim(*padded(bottom, top))
    if style.sqrt:
        curves.set_yscale("function", functions=(signed_sqrt, signed_square))
        curves.set_yticks(sqrt_ticks(*padded(bottom, top)))
        curves.set_ylabel("Intensity, √ scale")
    elif style.log:
        from matplotlib.ticker import NullFormatter
        lowest = float(finite(observed[shown], calculated[fitted]).min())
        if lowest > 0:
            # Counts, all positive: a log axis from just under the lowest.
            curves.set_yscale("log")
            low = lowest / 1.5
        else:
            # Linear within threshold of zero, so that zero and negative counts still show.
            threshold = max(1.0, 0.5 * bottom)
            curves.set_yscale("symlog", linthresh=threshold)
            low = min(0.0, bottom)
        curves.set_ylim(low, top * 2)
        # Labelled at the decades inside the axis, above any linear part: a
        # "0" or a decade inside that part would stand on the next one.
        first = math.ceil(math.log10(lowest if lowest > 0 else 10 * threshold))
        decades = range(first, max(first, math.floor(math.log10(top * 2))) + 1)
        curves.set_yticks([10.0 ** k for k in decades], ["10" + str(k).translate(SUPERSCRIPTS) for k in decades])
        curves.yaxis.set_minor_formatter(NullFormatter())
        curves.set_ylabel("Intensity, log scale")
    else:
        curves.set_ylabel("Intensity")

    phases = summary.get("phases", {})
    names = {n: hist.tick_phase[n] or phases.get(str(n), {}).get("name") or "phase %d" % n for n in hist.tick_phase}
    draw_tick_rows(tick_axes, ticks_x, hist.tick_marker, names)
    from matplotlib.ticker import MaxNLocator
    part.x_bins = max(5, int(style.width_mm / 12))  # a labelled tick every 12 mm or so
    curves.xaxis.set_major_locator(MaxNLocator(nbins=part.x_bins, steps=[1, 2, 2.5, 5, 10]))
    for a in axes[:-1]:
        a.tick_params(axis="x", labelbottom=False)
    curves.set_xlim(*(reversed(xlim) if style.descending else xlim))
    if show_x_label:
        axes[-1].set_xlabel(x_label)
    else:
        axes[-1].tick_params(axis="x", labelbottom=False)
    # Corner texts stay inside the curves and out of the layout, which would
    # otherwise shrink the axes to make room for a long name; the settling
    # pass then makes room above the data under them.
    stats = statistics_text(hist.info, summary) if style.stats else ""
    if stats:
        part.corners.append(curves.text(0.98, 0.96, stats, transform=curves.transAxes, ha="right", va="top",
                                         bbox=CORNER_BOX))
    if stacked:
        part.name = "%d · %s" % (hist.number, display_name(hist.info.get("name") or "") or "histogram %d" % hist.number)
        part.name_text = curves.text(0.02, 0.96, part.name, transform=curves.transAxes, ha="left", va="top",
                                      bbox=CORNER_BOX)
        part.corners.append(part.name_text)
    for text in part.corners:
        text.set_in_layout(False)
    figure.align_ylabels(axes)
    part.curves, part.ticks = curves, tick_axes
    return part


# --- a layout measured and settled ---------------------------------------------------

# Points between a text's box and what it must clear.
CLEARANCE_PT = 1.5


def grow_row(panel, row, needed, figure):
    """Makes row (0: the curves, 1: the tick rows) of the panel's grid at
    least needed pixels tall, the figure growing by what it takes. Whether
    it had to."""
    have = (panel.curves if row == 0 else panel.ticks).bbox.height
    if have >= needed - 0.5:
        return False
    panel.ratios[row] *= needed / max(have, 1.0) * 1.02
    panel.grid.set_height_ratios(panel.ratios)
    figure.set_figheight(figure.get_figheight() + (needed - have) / figure.dpi)
    return True


def fit_tick_rows(panel, renderer, figure):
    """Makes each tick row at least as tall as its name."""
    labels = [t for t in panel.ticks.get_yticklabels() if t.get_text()]
    if not labels:
        return False
    text_px = max(t.get_window_extent(renderer).height for t in labels)
    return grow_row(panel, 1, panel.rows * (text_px + CLEARANCE_PT * figure.dpi / 72), figure)


def fit_curves_height(panel, renderer, figure):
    """Makes the curves at least twice as tall as their tallest corner box,
    so that the box can stand above the data."""
    boxes = [t.get_bbox_patch().get_window_extent(renderer).height for t in panel.corners]
    return bool(boxes) and grow_row(panel, 0, 2.1 * max(boxes), figure)


def fit_name(panel, renderer):
    """Shortens the stacked name, by its measured width, to end in "…" before
    the statistics' box or the frame."""
    if panel.name_text is None:
        return False
    ax = panel.curves.bbox
    pad = CLEARANCE_PT * panel.curves.figure.dpi / 72
    others = [t.get_bbox_patch().get_window_extent(renderer).x0 for t in panel.corners if t is not panel.name_text]
    limit = min(others + [ax.x1]) - 2 * pad
    text = panel.name
    shown = panel.name_text.get_text()
    panel.name_text.set_text(text)
    while len(text) > 1 and panel.name_text.get_window_extent(renderer).x1 + pad > limit:
        text = text[:-1]
        panel.name_text.set_text(text.rstrip() + "…")
    return panel.name_text.get_text() != shown


def clear_corners(panel, renderer):
    """Raises the top of the curves' y axis until no corner box covers a
    drawn point. Whether it did."""
    import numpy as np
    ax = panel.curves
    box_of = {t: t.get_bbox_patch().get_window_extent(renderer) for t in panel.corners}
    if not box_of:
        return False
    scale = ax.yaxis.get_transform()
    y0, y1 = ax.get_ylim()
    s0, s1 = scale.transform([y0, y1])
    pad = CLEARANCE_PT * ax.figure.dpi / 72
    # What the boxes must clear: every drawn point, and the other texts
    # (a zoom's "×5"), in display coordinates.
    drawn = []
    for line in ax.get_lines():
        xy = np.column_stack([np.asarray(line.get_xdata(), float), np.asarray(line.get_ydata(), float)])
        if len(xy) >= 3:  # not a zero line
            drawn.append(line.get_transform().transform(xy[np.isfinite(xy).all(axis=1)]))
    for text in ax.texts:
        if text not in box_of:
            extent = text.get_window_extent(renderer)
            drawn.append(np.array([[extent.x0, extent.y1], [extent.x1, extent.y1]]))
    wanted = s1
    for box in box_of.values():
        bottom = (box.y0 - pad - ax.bbox.y0) / ax.bbox.height  # axes fraction
        for shown in drawn:
            under = (shown[:, 0] >= box.x0 - pad) & (shown[:, 0] <= box.x1 + pad)
            if not under.any():
                continue
            highest = float((shown[under, 1].max() - ax.bbox.y0) / ax.bbox.height)
            if highest > bottom and bottom > 0.2:
                wanted = max(wanted, s0 + highest * (s1 - s0) / bottom)
    if wanted <= s1:
        return False
    ax.set_ylim(y0, float(scale.inverted().transform([wanted])[0]))
    return True


@dataclass
class Legend:
    """The legend above the first histogram, in as many columns as fit. It
    stays out of the layout, which would squeeze the curves to nothing to
    make room for a legend wider than they are; a blank title as tall as the
    legend keeps its place."""
    axes: object
    handles: list
    labels: list
    columns: int
    height_pt: float = 10.0

    def draw(self):
        legend = self.axes.legend(self.handles, self.labels, loc="lower left", bbox_to_anchor=(0.0, 1.0),
                                  ncol=self.columns, frameon=False, borderaxespad=0.1, handlelength=1.5,
                                  columnspacing=1.0)
        legend.set_in_layout(False)
        # The blank title is a line of the legend's 7 pt text: its padding makes up the rest.
        self.axes.set_title(" ", fontsize=7, pad=max(0.0, self.height_pt - 7 * 1.2))


def fit_legend(legend, renderer):
    """Fewer columns while the legend would pass the figure's right edge (a
    long phase name pushes the curves, and the legend with them, right);
    room above the curves as tall as the legend."""
    figure = legend.axes.figure
    box = legend.axes.get_legend().get_window_extent(renderer)
    if legend.columns > 1 and box.x1 > figure.bbox.x1:
        legend.columns -= 1
        legend.draw()
        return True
    height_pt = box.height * 72 / figure.dpi
    if abs(height_pt - legend.height_pt) <= 0.5:
        return False
    legend.height_pt = height_pt
    legend.draw()
    return True


def fit_x_ticks(panels, renderer):
    """Fewer x ticks while the labels of the bottom axis would touch."""
    bottom = panels[-1].curves.figure.axes
    labels = [t for ax in bottom for t in ax.get_xticklabels() if t.get_visible() and t.get_text()]
    boxes = sorted((t.get_window_extent(renderer) for t in labels), key=lambda b: b.x0)
    pad = 2 * CLEARANCE_PT * panels[0].curves.figure.dpi / 72
    if all(a.x1 + pad <= b.x0 for a, b in zip(boxes, boxes[1:])):
        return False
    widest = max(b.width for b in boxes) + 2 * pad
    bins = max(1, min(int(panels[0].curves.bbox.width / widest) - 1, panels[0].x_bins - 1))
    for panel in panels:
        panel.x_bins = bins
        panel.curves.xaxis.get_major_locator().set_params(nbins=bins)
    return True


def fit_title(figure, text, title, renderer):
    """Rewraps the title (text, drawn from title), by its measured width, to
    stay inside the figure."""
    if text is None:
        return False
    room = figure.bbox.width - 4 * CLEARANCE_PT * figure.dpi / 72
    width = text.get_window_extent(renderer).width
    if width <= room:
        return False
    longest = max(len(line) for line in text.get_text().split("\n"))
    columns = max(8, min(longest - 1, int(longest * room / width)))
    text.set_text("\n".join(textwrap.fill(line, columns) for line in title.split("\n")))
    return True


def settle_layout(figure, panels, legend, heading, title):
    """Measures the drawn figure and settles it: tick rows as tall as their
    names, a legend and x labels that fit, corner boxes over no data, stacked
    names that fit; then every Axes on one x extent, so that stacked
    histograms line up point for point, and the corners once more."""
    # Each round lays the figure out and places its texts without drawing
    # the curves, which is what takes the time.
    def settle(steps, rounds):
        for _ in range(rounds):
            figure.draw_without_rendering()
            renderer = figure.canvas.get_renderer()
            changed = False
            for step in steps:
                changed |= step(renderer)
            if not changed:
                return
    laid_out = [lambda r: any([fit_tick_rows(p, r, figure) for p in panels]),
                lambda r: any([fit_curves_height(p, r, figure) for p in panels]),
                lambda r: fit_legend(legend, r),
                lambda r: fit_title(figure, heading, title, r)]
    placed = [lambda r: fit_x_ticks(panels, r),
              lambda r: any([fit_name(p, r) for p in panels]),
              lambda r: any([clear_corners(p, r) for p in panels])]
    settle(laid_out + placed, 10)
    figure.draw_without_rendering()
    x0 = max(ax.get_position().x0 for ax in figure.axes)
    x1 = min(ax.get_position().x1 for ax in figure.axes)
    figure.set_layout_engine("none")
    for ax in figure.axes:
        position = ax.get_position()
        ax.set_position([x0, position.y0, x1 - x0, position.height])
    settle(placed, 6)


def all_limits(hist, axis, xrange=None):
    """The x limits of a histogram on its own axis: all its points, or xrange."""
    import numpy as np
    if xrange:
        return tuple(xrange)
    x = x_values(hist, axis)[0]
    x = x[np.isfinite(x)]
    if x.size == 0:
        raise PlotError("histogram %02d has no point on the %s axis" % (hist.number, axis))
    return float(x.min()), float(x.max())


def legend_handle(handle):
    """The legend's sample of a curve: observed dots, small as they may be
    drawn, are shown large enough to read."""
    from matplotlib.lines import Line2D
    if handle.get_marker() in (None, "None", "none", "") or handle.get_markersize() >= 2.5:
        return handle
    return Line2D([], [], linestyle="none", color=handle.get_color(), marker=handle.get_marker(), markersize=2.5,
                  markerfacecolor=handle.get_markerfacecolor(), markeredgewidth=max(0.4, handle.get_markeredgewidth()))


def draw_figure(histograms, summary, style):
    """One figure of the histograms, stacked when more than one, sharing
    their x axis when it is d or Q. UsageError when it needs more height
    than --height gives."""
    import matplotlib.pyplot as plt
    width = style.width_mm / 25.4
    # A panel of its own (difference, Δ/σ) adds a fifth of the width to each histogram's height.
    panels = 0.2 * (int(style.diff_panel) + int(style.delta_sigma))
    height = style.height_mm / 25.4 if style.height_mm else width * (0.72 + 0.5 * (len(histograms) - 1) +
                                                                      panels * len(histograms))
    # Constrained layout keeps the phase names, the legend and the title on the page.
    figure = plt.figure(figsize=(width, height), layout="constrained")
    grid = figure.add_gridspec(len(histograms), 1)
    # Stacked on d or Q, the histograms share an axis that spans their fitted
    # points; alone, or each on its own axis, a histogram spans all its points.
    common = fitted_limits(histograms, style.x, style.xrange) if style.x != "position" and len(histograms) > 1 else None
    first = None
    panels = []
    for i, hist in enumerate(histograms):
        xlim = common or all_limits(hist, style.x, style.xrange)
        panels.append(draw_histogram(figure, grid[i], hist, summary, style, xlim, i == len(histograms) - 1,
                                     len(histograms) > 1))
        curves = panels[-1].curves
        if first is None:
            first = curves
            handles, labels = [], []
            for a in figure.axes:
                for handle, label in zip(*a.get_legend_handles_labels()):
                    handles.append(legend_handle(handle))
                    labels.append(label)
            legend = Legend(curves, handles, labels, len(labels) if len(labels) <= 3 or style.width_mm > 120 else 2)
            legend.draw()
    title = style.title
    if title == "exp":
        names = [h.info.get("name") for h in histograms if h.info.get("name")]
        title = "\n".join(filter(None, [summary.get("title")] + (names if len(histograms) == 1 else [])))
    heading = figure.suptitle(title, fontsize=9) if title else None
    settle_layout(figure, panels, legend, heading, title)
    needed_mm = figure.get_figheight() * 25.4
    if style.height_mm and needed_mm > style.height_mm + 0.5:
        plt.close(figure)
        raise UsageError("--height %g mm is too small for this figure: it needs %d mm" % (style.height_mm, math.ceil(needed_mm)))
    return figure
