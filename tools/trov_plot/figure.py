"""Rietveld figures with matplotlib: small helpers that take an Axes and data, and the figure of one or more histograms built from them."""
import math
from dataclasses import dataclass, field

from .errors import PlotError
from .style import COLOURS, axis_label, display_name, phase_colour, short_name, statistics_lines

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


def stack_capacity(width_mm, height_mm=None):
    """How many histograms one stacked figure holds."""
    if height_mm:
        return MAX_STACKED
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
    """y where a point was fitted and nan elsewhere, so that a curve breaks
    at excluded points rather than crossing them in a straight line."""
    import numpy as np
    return x, np.where(fitted, y, np.nan)


# --- a histogram, a figure -------------------------------------------------------------

def draw_histogram(figure, grid, hist, summary, style, xlim, show_x_label, stacked):
    """Draws one histogram in grid (a GridSpec cell) over xlim; returns its curves' Axes."""
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
    curves = figure.add_subplot(sub[0])
    tick_axes = figure.add_subplot(sub[1], sharex=curves)
    axes = [curves, tick_axes]

    # What a pixel of the output is: thinning never changes one.
    width_px = max(1, int(style.width_mm * AXES_SHARE / 25.4 * style.dpi))
    height_px = max(1, int(figure.get_figheight() * style.dpi))
    shown = keep & np.isfinite(observed)
    top = float(finite(observed[shown], calculated[fitted]).max())
    bottom = float(finite(observed[shown], calculated[fitted]).min())
    offset = None
    if not style.diff_panel:
        # On the curves' own scale, below them, as most Rietveld papers show it.
        d_fit = finite(difference[fitted])
        offset = bottom - float(d_fit.max()) - 0.04 * (top - bottom)
        bottom = offset + float(d_fit.min())

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
    span = (top - bottom) or 1.0
    curves.set_ylim(bottom - 0.02 * span, top + 0.05 * span)
    if style.sqrt:
        curves.set_yscale("function", functions=(signed_sqrt, signed_square))
        curves.set_yticks(sqrt_ticks(bottom - 0.02 * span, top + 0.05 * span))
        curves.set_ylabel("Intensity, √ scale")
    elif style.log:
        # Linear within linthresh of zero, so that zero and negative counts still show.
        curves.set_yscale("symlog", linthresh=max(1.0, 0.5 * bottom))
        curves.set_ylim(min(0.0, bottom), top * 2)
        curves.set_ylabel("Intensity, log scale")
    else:
        curves.set_ylabel("Intensity")

    names = {n: hist.tick_phase[n] or summary.get("phases", {}).get(str(n)) or "phase %d" % n for n in hist.tick_phase}
    draw_tick_rows(tick_axes, ticks_x, hist.tick_marker, names)
    from matplotlib.ticker import MaxNLocator
    curves.xaxis.set_major_locator(MaxNLocator(nbins=max(5, int(style.width_mm / 12)), steps=[1, 2, 2.5, 5, 10]))
    for a in axes[:-1]:
        a.tick_params(axis="x", labelbottom=False)
    curves.set_xlim(*(reversed(xlim) if style.descending else xlim))
    if show_x_label:
        axes[-1].set_xlabel(x_label)
    else:
        axes[-1].tick_params(axis="x", labelbottom=False)
    # Corner texts stay inside the curves and out of the layout, which would
    # otherwise shrink the axes to make room for a long name.
    stats = statistics_text(hist.info, summary) if style.stats else ""
    if stats:
        curves.text(0.98, 0.95, stats, transform=curves.transAxes, ha="right", va="top",
                    bbox=CORNER_BOX).set_in_layout(False)
    if stacked:
        room = int(style.width_mm / (3.5 if stats else 1.9))  # characters of 8 pt text beside the statistics
        name = "%d · %s" % (hist.number, display_name(hist.info.get("name") or "") or "histogram %d" % hist.number)
        name = name if len(name) <= room else name[:room - 1].rstrip() + "…"
        curves.text(0.02, 0.95, name, transform=curves.transAxes, ha="left", va="top",
                    bbox=CORNER_BOX).set_in_layout(False)
    figure.align_ylabels(axes)
    return curves


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
    their x axis when it is d or Q."""
    import textwrap
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
    for i, hist in enumerate(histograms):
        xlim = common or all_limits(hist, style.x, style.xrange)
        curves = draw_histogram(figure, grid[i], hist, summary, style, xlim, i == len(histograms) - 1,
                                len(histograms) > 1)
        if first is None:
            first = curves
            handles, labels = [], []
            for a in figure.axes:
                for handle, label in zip(*a.get_legend_handles_labels()):
                    handles.append(legend_handle(handle))
                    labels.append(label)
            curves.legend(handles, labels, loc="lower left", bbox_to_anchor=(0.0, 1.0),
                          ncol=len(labels) if len(labels) <= 3 or style.width_mm > 120 else 2,
                          frameon=False, borderaxespad=0.1, handlelength=1.5, columnspacing=1.0)
    if style.title:
        title = style.title
        if title == "exp":
            names = [h.info.get("name") for h in histograms if h.info.get("name")]
            title = "\n".join(filter(None, [summary.get("title")] + (names if len(histograms) == 1 else [])))
        if title:
            lines = [textwrap.fill(line, max(20, int(style.width_mm / 1.8))) for line in title.split("\n")]
            figure.suptitle("\n".join(lines), fontsize=9)
    return figure
