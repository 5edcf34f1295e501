"""The figure's colours and words, from figure_style.json (shared with the page), and the text rules both renderers follow."""
import json
import os
import re


def _style_path():
    # Beside the package when built or installed; in the source tree, where
    # the file itself lives.
    here = os.path.dirname(os.path.abspath(__file__))
    for path in (os.path.join(here, "figure_style.json"),
                 os.path.join(here, os.pardir, os.pardir, "src", "figure", "figure_style.json")):
        if os.path.isfile(path):
            return path
    raise RuntimeError("trov-plot's figure_style.json is missing beside its package")


with open(_style_path(), encoding="utf-8") as _f:
    STYLE = json.load(_f)

COLOURS = STYLE["colours"]
LABEL_CHARACTERS = STYLE["phase_label_characters"]


def phase_colour(marker, text=False):
    """The colour of a phase's ticks, or with text=True of its name (4.5:1 on white)."""
    phases = STYLE["phases"]
    return phases[(marker - 1) % len(phases)]["text" if text else "line"]


def axis_label(axis, position_unit=None):
    """The x axis' label: axis is position, d or q; a position is named by its unit."""
    labels = STYLE["axis_labels"]
    if axis != "position":
        return labels[axis]
    return labels.get(position_unit, labels["position"])


# Control characters (a form feed, ESC) have no glyph and no place in an SVG
# file; runs of blanks pad names in the experiment's fixed-width records.
_BLANKS = re.compile(r"[\x00-\x20\x7f]+")


def display_name(name):
    """A name as a figure writes it: control characters and runs of blanks
    read as one blank, none at either end."""
    return _BLANKS.sub(" ", name).strip(" ")


def short_name(name, characters=LABEL_CHARACTERS):
    """A name of at most characters characters: a longer one ends in an
    ellipsis (the whole names are in the legend and the file's description)."""
    name = display_name(name)
    return name if len(name) <= characters else name[:characters - 1].rstrip(" ") + "…"


def fixed(value, decimals):
    """value with decimals decimals, rounded from its exact binary value,
    ties to even (as printf does)."""
    return "%.*f" % (decimals, value)


def chi2_text(value):
    """χ² as people quote it: three significant digits, whole numbers from
    100 on, never an exponent."""
    if value == 0:
        return "0"
    decimals, bound = 0, 100.0
    while abs(value) < bound and decimals < 6:
        decimals, bound = decimals + 1, bound / 10
    return fixed(value, decimals)


def statistics_lines(statistics, reduced_chi2=None):
    """The fit statistics of one histogram, a line each: its own wRp, Rp and
    χ² (the weighted sum of squares per point). The refinement's
    reduced χ² stands in only where the histogram has none, and says so."""
    lines = []
    if "wRp" in statistics:
        lines.append("wRp = %s%%" % fixed(100 * statistics["wRp"], 2))
    if "Rp" in statistics:
        lines.append("Rp = %s%%" % fixed(100 * statistics["Rp"], 2))
    if "chi2" in statistics:
        lines.append("χ² = %s" % chi2_text(statistics["chi2"]))
    elif reduced_chi2 is not None:
        lines.append("χ² (refinement) = %s" % chi2_text(reduced_chi2))
    return lines


def curve_limits(low, high, difference=None):
    """The curves' extent on the intensity axis: low and high, the smallest
    and largest value shown (None when there is none); difference, the
    smallest and largest difference to draw below the curves, or None (it
    has a panel of its own). Returns (the difference's zero or None, bottom,
    top)."""
    limits = STYLE["limits"]
    if low is None or high is None or not high >= low:
        low, high = 0.0, 1.0
    if difference is None:
        return None, low, high
    offset = low - difference[1] - limits["difference_gap"] * (high - low)
    return offset, offset + difference[0], high


def padded(bottom, top):
    """The axis' limits: bottom to top with a little room below and above."""
    limits = STYLE["limits"]
    span = top - bottom
    if not span > 0:
        span = abs(top) or 1.0
    return bottom - limits["below"] * span, top + limits["above"] * span
