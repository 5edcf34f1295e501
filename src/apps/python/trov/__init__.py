"""GSAS Rietveld refinements read into Python: the experiment, its profiles as numpy arrays,
and a series of refinements as one table.

The values are those trov-export and trov-series write, read with the same readers and
with no text in between::

    import matplotlib.pyplot as plt
    import trov
    p = trov.read_profile("GARNET", 1)
    plt.plot(p["position"], p["observed"], "+", p["position"], p["calculated"])
    plt.show()

An experiment is named as the programs take it: EXPNAM, in any case, with folders or
an extension if need be (a str, bytes or os.PathLike). Every failure is a trov.Error
with the programs' one-line message. docs/formats.md describes each value.
"""

import dataclasses
import json
import os
import warnings

import numpy as np

from . import _core

__all__ = ["Error", "SeriesWarning", "Experiment", "Phase", "Histogram", "Profile",
           "read_experiment", "read_profile", "series"]

Error = _core.Error
Error.__module__ = __name__
Error.__doc__ = """A file that cannot be found, opened or read, or a request that cannot be
carried out; str(error) is the message trov-export gives, naming the file. A subclass
of OSError."""


class SeriesWarning(UserWarning):
    """A problem trov-series reports: an experiment left out of the table, or a value of
    a row that could not be read. The table is returned all the same."""


@dataclasses.dataclass(frozen=True)
class Phase:
    """A phase of the experiment, its facts named as in trov-export's JSON summary.

    cell holds a, b, c (A), alpha, beta, gamma (deg) and each one's s.u. as a_su, ...;
    atoms is a list of dicts (number, label, type, x, y, z, occupancy, multiplicity,
    Uiso or U11 ... U23); fractions maps a histogram number to the phase's fraction in
    it. A value the experiment does not hold is None, or absent from its dict."""
    number: int
    name: str | None
    cell: dict
    volume: float | None
    volume_su: float | None
    space_group: str | None
    atoms: list
    fractions: dict


@dataclasses.dataclass(frozen=True)
class Histogram:
    """A powder histogram, named as in trov-export's JSON summary.

    constants, statistics and reflections are dicts of the summary's keys; range is
    (min, max) in the position's unit. profile is the profile file found (None when
    none opens); points_file and ticks_file are the names trov-export gives its CSV
    files of this histogram."""
    number: int
    type: str
    name: str | None
    instrument: str | None
    position_unit: str
    constants: dict
    range: tuple | None
    statistics: dict
    reflections: dict
    profile: str | None
    points_file: str
    ticks_file: str


@dataclasses.dataclass(frozen=True)
class Experiment:
    """An experiment file's facts: title, reduced_chi2, variables, last_refinement (the
    latest least-squares run, "YYYY-MM-DDTHH:MM:SS"), phases by number and the powder
    histograms in order. file is the experiment file read."""
    file: str
    title: str | None
    reduced_chi2: float | None
    variables: int | None
    last_refinement: str | None
    phases: dict
    histograms: list


class Profile(dict):
    """A histogram's points: a dict of numpy arrays named as trov-export's CSV columns.

    position (2-theta in degrees, TOF in us, energy in keV: position_unit says which),
    d and Q where the histogram's constants give them, observed, calculated, difference,
    sigma, difference/sigma, scale and auxiliary (float32, as stored), fitted (bool).
    d, Q, sigma and difference/sigma are numpy.ma.MaskedArray, masked where the CSV's
    cell is empty. ticks holds the ticks CSV's columns the same way: position, d,
    marker, phase (the phase's name, "" where it has none) and fitted."""

    def __init__(self, columns, ticks, position_unit):
        super().__init__(columns)
        self.ticks = ticks
        self.position_unit = position_unit


def _word(path):
    if isinstance(path, int) or path is None:
        raise TypeError(f"an experiment is named by a str, bytes or os.PathLike, not {type(path).__name__}")
    return os.fsencode(path)


def read_experiment(path):
    """Reads the experiment file EXPNAM.EXP as trov-export does and returns an Experiment."""
    read = _core.read_experiment(_word(path))
    summary = json.loads(read["summary"])
    phases = {}
    for number, p in summary["phases"].items():
        phases[int(number)] = Phase(
            number=int(number), name=p.get("name"), cell=p.get("cell", {}), volume=p.get("volume"),
            volume_su=p.get("volume_su"), space_group=p.get("space_group"), atoms=p.get("atoms", []),
            fractions={int(h): f for h, f in p.get("fractions", {}).items()})
    histograms = []
    for h in summary["histograms"]:
        profile, points_file, ticks_file = read["files"][h["number"]]
        r = h.get("range")
        histograms.append(Histogram(
            number=h["number"], type=h["type"], name=h.get("name"), instrument=h.get("instrument"),
            position_unit=h["position_unit"], constants=h.get("constants", {}),
            range=(r["min"], r["max"]) if r else None, statistics=h.get("statistics", {}),
            reflections=h.get("reflections", {}), profile=profile, points_file=points_file,
            ticks_file=ticks_file))
    return Experiment(file=read["file"], title=summary.get("title"), reduced_chi2=summary.get("reduced_chi2"),
                      variables=summary.get("variables"), last_refinement=read["last_refinement"],
                      phases=phases, histograms=histograms)


def _masked(pair):
    values, missing = pair
    return np.ma.MaskedArray(values, mask=missing)


def read_profile(path, histogram):
    """Reads powder histogram number `histogram` of experiment `path` from its profile file
    EXPNAM.P## and returns a Profile: every value trov-export writes in its two CSV files."""
    if isinstance(histogram, bool) or not isinstance(histogram, (int, np.integer)):
        raise TypeError(f"a histogram is a number, not {type(histogram).__name__}")
    if not -2**63 <= histogram < 2**63:
        raise ValueError(f"no histogram has the number {histogram}")
    read = _core.read_profile(_word(path), int(histogram))
    points = {name: _masked(v) if isinstance(v, tuple) else v for name, v in read["points"].items()}
    raw_ticks = read["ticks"]
    names = np.array([read["phase_names"].get(n, "") for n in range(12)], dtype=object)
    ticks = {
        "position": raw_ticks["position"],
        **({"d": _masked(raw_ticks["d"])} if "d" in raw_ticks else {}),
        "marker": raw_ticks["marker"],
        "phase": names[raw_ticks["marker"]],
        "fitted": raw_ticks["fitted"],
    }
    return Profile(points, ticks, read["position_unit"])


def series(paths, *, sort=False, x=None, x_name=None):
    """The series table trov-series writes, as a dict from each CSV header to a column.

    paths are experiments (as read_experiment takes them) or folders, each standing for
    the experiment files in it. sort puts the rows in natural order of the names ("run2"
    before "run10"); x is a regular expression (ECMAScript) whose group 1 in the title, or
    else in a histogram's name, is the series variable and group 2 its unit; x_name names
    that column. Numeric columns are numpy.ma.MaskedArray (float64; int64 for the
    variables), masked where the CSV's cell is empty; text columns are object arrays with
    None there. Each problem trov-series reports is a SeriesWarning."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    words = [_word(p) for p in paths]
    read = _core.series(words, bool(sort), x or "", x_name or "")
    for problem in read["problems"]:
        warnings.warn(problem, SeriesWarning, stacklevel=2)
    table = {}
    for header, kind, values, missing in read["columns"]:
        if kind == "text":
            column = np.empty(len(values), dtype=object)
            column[:] = values
            table[header] = column
        else:
            table[header] = np.ma.MaskedArray(values, mask=missing)
    return table
