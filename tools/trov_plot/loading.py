"""trov-export's CSV files read by column name into arrays: the points with numpy's parser a block at a time, the ticks with csv (quoted phase names)."""
import csv
import io
import os

from .errors import PlotError
from .export import regular_file_size

# Bytes parsed at once: the file's text is held a block at a time, the
# values in one array per column.
BLOCK_BYTES = 1 << 21
POINT_COLUMNS = ("observed", "calculated", "difference", "fitted")
TICK_COLUMNS = ("marker", "phase")
# Longer than any line trov-export writes: a points row is a dozen shortest
# decimals (about 300 bytes at most), a ticks row a phase name of one record
# (80 characters, quoted, in UTF-8: under 600 bytes). Lines are read no
# longer than this, so that a hostile file costs no more memory than a real one.
MAX_LINE_BYTES = 4096


def not_trov_export(path, why):
    return PlotError("%s is not a file trov-export writes: %s" % (path, why))


def parse_block(path, text, first_number, width):
    """Whole lines of numbers, empty fields read as nan, into an array of
    width columns and a row per line."""
    import numpy as np
    lines = text.count(b"\n")
    # An empty field (no d where a point has none, no sigma where the weight
    # is not positive) becomes nan; two passes leave no ",," behind.
    filled = text.replace(b",,", b",nan,").replace(b",,", b",nan,").replace(b",\n", b",nan\n")
    try:
        values = np.loadtxt(io.StringIO(filled.decode("ascii")), delimiter=",", dtype=float, ndmin=2, comments=None)
    except (ValueError, UnicodeDecodeError):
        values = None
    if values is None or values.shape != (lines, width):
        # The slow way, only to name the line at fault.
        for number, line in enumerate(text.split(b"\n")[:lines], start=first_number):
            fields = line.split(b",")
            try:
                ok = len(fields) == width and [float(f) for f in fields if f] is not None
            except ValueError:
                ok = False
            if not ok:
                raise not_trov_export(path, "line %d holds %r" % (number, line[:60].decode("utf-8", "replace")))
        raise not_trov_export(path, "lines %d to %d" % (first_number, first_number + lines - 1))
    return values


def open_regular(path, rows=None, **how):
    """open() of a regular file only: a pipe would hold the reader for ever.
    rows, when known from the summary, bounds the file's size before any of
    it is read."""
    size = regular_file_size(path)
    if rows is not None and size > (rows + 1) * MAX_LINE_BYTES:
        raise not_trov_export(path, "%d bytes for %d rows" % (size, rows))
    try:
        return open(path, **how)
    except OSError as error:
        raise PlotError("cannot open %s: %s; run trov-export first" % (path, error.strerror or error))


def bounded_lines(f, path):
    """The lines of f, each read no longer than MAX_LINE_BYTES."""
    number = 1
    while True:
        line = f.readline(MAX_LINE_BYTES + 1)
        if not line:
            return
        if len(line) > MAX_LINE_BYTES:
            raise not_trov_export(path, "line %d is longer than any line it writes" % number)
        yield line
        number += 1


def check_rows(path, found, rows):
    if rows is not None and found != rows:
        raise not_trov_export(path, "%d rows, where its summary names %d" % (found, rows))


def read_points(path, rows=None):
    """A points CSV file: its header and {column name: float array}. Every
    column trov-export writes is a number; an empty one is nan. rows, when
    known from the summary, is checked, and sizes the one array the values
    are read into (no copy of them all is ever made)."""
    import numpy as np
    with open_regular(path, rows, mode="rb") as f:
        first = f.readline(MAX_LINE_BYTES + 1)
        try:
            header = first.decode("utf-8").rstrip("\n").split(",")
        except UnicodeDecodeError:
            raise not_trov_export(path, "its header is not UTF-8")
        missing = [name for name in POINT_COLUMNS if name not in header]
        if not first.endswith(b"\n") or missing:
            raise not_trov_export(path, "no %s column" % ", ".join(missing or ["header"]))
        # Every row holds at least its commas and line end: a summary that
        # names more rows than that would size the array past any file.
        if rows is not None and rows * len(header) > os.fstat(f.fileno()).st_size - len(first):
            raise not_trov_export(path, "too few bytes for %d rows" % rows)
        # A row per column: each column one contiguous array, so that the
        # figure's arithmetic on one column never walks the whole table.
        values = np.empty((len(header), rows)) if rows is not None else None
        blocks, number, rest = [], 2, b""
        while True:
            chunk = f.read(BLOCK_BYTES)
            if not chunk:
                break
            text = rest + chunk
            end = text.rfind(b"\n") + 1
            text, rest = text[:end], text[end:]
            if len(rest) > MAX_LINE_BYTES:
                raise not_trov_export(path, "line %d is longer than any line it writes" % (number + text.count(b"\n")))
            if not text:
                continue
            block = parse_block(path, text, number, len(header))
            if values is None:
                blocks.append(block)
            elif number - 2 + len(block) > rows:
                check_rows(path, number - 2 + len(block), rows)  # more than the summary names: refused
            else:
                values[:, number - 2:number - 2 + len(block)] = block.T
            number += len(block)
        if rest:
            raise not_trov_export(path, "its last line, %d, is cut short" % number)
    check_rows(path, number - 2, rows)
    if number == 2:
        raise PlotError("%s has no points: nothing to draw" % path)
    if values is None:
        values = (np.concatenate(blocks) if len(blocks) > 1 else blocks[0]).T
    return header, {name: values[i] for i, name in enumerate(header)}


def read_ticks(path, expected_rows=None):
    """A ticks CSV file: its header and its rows, by column name: position
    (the first column), d (or None), marker, phase, fitted (1 where absent)."""
    try:
        with open_regular(path, expected_rows, newline="", encoding="utf-8") as f:
            rows = list(csv.reader(bounded_lines(f, path), strict=True))
    except OSError as error:
        raise PlotError("cannot read %s: %s" % (path, error.strerror or error))
    except UnicodeDecodeError:
        raise not_trov_export(path, "it is not UTF-8")
    except csv.Error as error:
        raise not_trov_export(path, str(error))
    if not rows:
        raise not_trov_export(path, "it is empty")
    check_rows(path, len(rows) - 1, expected_rows)
    header = rows[0]
    column = {name: i for i, name in enumerate(header)}
    missing = [name for name in TICK_COLUMNS if name not in column]
    if missing:
        raise not_trov_export(path, "no %s column" % ", ".join(missing))
    ticks = []
    for number, row in enumerate(rows[1:], start=2):
        if len(row) != len(header):
            raise not_trov_export(path, "line %d has %d fields, not %d" % (number, len(row), len(header)))
        try:
            ticks.append({
                "position": float(row[0]),
                "d": float(row[column["d (A)"]] or "nan") if "d (A)" in column else None,
                "marker": int(row[column["marker"]]),
                "phase": row[column["phase"]],
                "fitted": int(row[column["fitted"]]) if "fitted" in column else 1,
            })
        except ValueError:
            raise not_trov_export(path, "line %d holds %r" % (number, ",".join(row)[:60]))
    return header, ticks


# No measured or calculated value comes near this; beyond it the figure's
# arithmetic (ranges, offsets, zooms) would overflow.
MAX_DRAWN = 1e30


def check_drawable(path, name, column):
    import numpy as np
    finite = column[np.isfinite(column)]
    largest = float(np.abs(finite).max()) if finite.size else 0.0
    if largest > MAX_DRAWN:
        raise PlotError("%s holds values too large to draw (%s reaches %g; at most %g)" % (path, name, largest, MAX_DRAWN))


class Histogram:
    """One histogram's points and ticks, in columns, by name; info is its
    entry in the summary."""

    def __init__(self, number, info, points_path, ticks_path):
        import numpy as np
        self.number, self.info = number, info
        header, columns = read_points(points_path, info.get("points_rows"))
        self.position_label = header[0]
        self.position = columns[header[0]]
        self.d = columns.get("d (A)")
        self.q = columns.get("Q (1/A)")
        self.observed, self.calculated = columns["observed"], columns["calculated"]
        self.difference = columns["difference"]
        self.delta_sigma = columns.get("difference/sigma")
        scale, auxiliary = columns.get("scale"), columns.get("auxiliary")
        self.background = auxiliary * scale if scale is not None and auxiliary is not None else None
        self.fitted = columns["fitted"] == 1
        for name in header:
            if name not in ("sigma", "difference/sigma", "fitted"):
                check_drawable(points_path, name, columns[name])
        _, ticks = read_ticks(ticks_path, info.get("ticks_rows"))
        # The ticks of the fitted points, as the marker file has them.
        ticks = [t for t in ticks if t["fitted"] == 1]
        self.tick_position = np.array([t["position"] for t in ticks], dtype=float)
        self.tick_d = np.array([t["d"] for t in ticks], dtype=float) if self.d is not None else None
        self.tick_marker = np.array([t["marker"] for t in ticks], dtype=int)
        self.tick_phase = {t["marker"]: t["phase"] for t in ticks}


def load_histograms(summary, plan, numbers):
    """The histograms numbered, from the files the plan names."""
    info = {item.get("number"): item for item in summary["histograms"] if isinstance(item, dict)}
    files = {item["number"]: item for item in plan["histograms"]}
    out = []
    for h in numbers:
        if h not in info:
            raise PlotError("%s does not describe histogram %d: run trov-export again" % (plan["summary"], h))
        out.append(Histogram(h, info[h], files[h]["points_file"], files[h]["ticks_file"]))
    return out
