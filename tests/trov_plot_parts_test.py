"""trov-plot's parts, imported: reading trov-export's files by column name, thinning that keeps every pixel, marker styles, shared axes, stacks, the command line."""
import json
import os
import shutil
import sys
import unittest

import numpy as np

sys.path.insert(0, os.environ.get("TROV_PLOT_PACKAGE", os.path.join(os.path.dirname(__file__), "..", "tools")))
from trov_plot.cli import parse_arguments, stack_groups  # noqa: E402
from trov_plot.errors import PlotError, UsageError  # noqa: E402
from trov_plot.figure import excluded_runs, fitted_limits, marker_style, stack_capacity, thin_line, thin_markers  # noqa: E402
from trov_plot.export import read_summary  # noqa: E402
from trov_plot.loading import check_drawable, read_points, read_ticks  # noqa: E402
from trov_plot.series import panels_of, x_label  # noqa: E402
from trov_plot.style import (STYLE, axis_label, chi2_text, curve_limits, padded, phase_colour, short_name,  # noqa: E402
                             statistics_lines)

SCRATCH = os.environ.get("TROV_SCRATCH", "/tmp/trov_plot_parts_test")


def write(name, data):
    os.makedirs(SCRATCH, exist_ok=True)
    path = os.path.join(SCRATCH, name)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
    return path


class Reading(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(SCRATCH, ignore_errors=True)
        os.makedirs(SCRATCH)

    def test_points_are_read_by_column_name_with_empty_fields_as_nan(self):
        path = write("p.csv", "2theta (deg),fitted,d (A),observed,calculated,difference,sigma\n"
                              "5,0,,10,0,10,\n10.025,1,8.8,12.5,11,1.5,3.5\n")
        header, columns = read_points(path)
        self.assertEqual(header[0], "2theta (deg)")
        self.assertEqual(list(columns["2theta (deg)"]), [5, 10.025])
        self.assertEqual(list(columns["fitted"]), [0, 1])
        self.assertTrue(np.isnan(columns["d (A)"][0]) and np.isnan(columns["sigma"][0]))
        self.assertEqual(columns["sigma"][1], 3.5)

    def test_every_fault_of_a_points_file_is_named_with_its_file(self):
        good = "x,observed,calculated,difference,fitted\n"
        cases = [
            (good.replace("observed", "obs") + "1,2,3,4,1\n", "p.csv is not a file trov-export writes: no observed column"),
            (good + "1,2,3,4,1\n1,2,3", "its last line, 3, is cut short"),
            (good + "1,2,3,4,1\n1,2,x,4,1\n", "line 3 holds '1,2,x,4,1"),
            (good + "1,2,3,4\n", "line 2 holds"),
            (good.encode() + b"1,2\xe9,3,4,1\n", "line 2 holds"),
            (b"x,\xff\n", "its header is not UTF-8"),
            (good, "p.csv has no points"),
            (good + "1,2,3,4,1\n\n1,2,3,4,1\n", "line 3 holds ''"),
            # A line with no end is never held whole, however long.
            (good + "1,2,3,4,1\n" + "1" * 5_000_000, "line 3 is longer than any line it writes"),
            (good + "1,2,3,4,1\n" * 300_000 + "1,2,3", "its last line, 300002, is cut short"),
        ]
        for text, message in cases:
            with self.assertRaises(PlotError) as caught:
                read_points(write("p.csv", text))
            self.assertIn(message, str(caught.exception))
            self.assertIn("p.csv", str(caught.exception))

    def test_rows_read_a_block_at_a_time_are_all_there_in_order(self):
        rows = 300_000  # several blocks, cut anywhere in a line
        path = write("p.csv", "x,observed,calculated,difference,fitted\n" +
                     "".join("%d.5,%d,3,4,1\n" % (i, i) for i in range(rows)))
        for known in (None, rows):
            columns = read_points(path, known)[1]
            self.assertTrue(np.array_equal(columns["observed"], np.arange(rows)))
            self.assertTrue(np.array_equal(columns["x"], np.arange(rows) + 0.5))

    def test_a_points_file_with_other_rows_than_its_summary_names_is_refused(self):
        path = write("p.csv", "x,observed,calculated,difference,fitted\n1,2,3,4,1\n5,6,7,8,1\n")
        self.assertEqual(list(read_points(path, 2)[1]["observed"]), [2, 6])
        # A summary edited along with its file: refused before the array is
        # made or the file is read.
        long_line = "x,observed,calculated,difference,fitted\n" + "1" * 10_000 + "\n"  # 10,041 bytes
        for rows, message in ((10**9, "too few bytes for 1000000000 rows"), (0, "10041 bytes for 0 rows")):
            with self.assertRaises(PlotError) as caught:
                read_points(write("p.csv", long_line), rows)
            self.assertIn(message, str(caught.exception))
        with self.assertRaises(PlotError) as caught:
            read_ticks(write("t.csv", "position,marker,phase\n1,1," + "x" * 9000 + "\n"), 3)
        self.assertIn("line 2 is longer than any line it writes", str(caught.exception))
        path = write("p.csv", "x,observed,calculated,difference,fitted\n1,2,3,4,1\n5,6,7,8,1\n")
        for rows in (1, 3):
            with self.assertRaises(PlotError) as caught:
                read_points(path, rows)
            self.assertIn("p.csv is not a file trov-export writes: %d rows, where its summary names %d"
                          % (2 if rows == 3 else 2, rows), str(caught.exception))
        with self.assertRaises(PlotError) as caught:
            read_ticks(write("t.csv", "position,marker,phase\n1,1,x\n"), 2)
        self.assertIn("1 rows, where its summary names 2", str(caught.exception))

    def test_values_beyond_any_measurement_are_refused_by_name(self):
        check_drawable("p.csv", "observed", np.array([1.0, np.nan, np.inf, -1e29]))
        for value in (1.7e308, -1.7e308):
            with self.assertRaises(PlotError) as caught:
                check_drawable("p.csv", "observed", np.array([1.0, value]))
            self.assertIn("p.csv holds values too large to draw (observed reaches 1.7e+308", str(caught.exception))

    def test_a_summary_not_shaped_as_written_is_named_with_what_is_wrong(self):
        good = {"title": "t", "phases": {"1": {"name": "Si", "cell": {"a": 5.43}}}, "histograms": [{"number": 1, "statistics": {"wRp": 0.1}}]}
        self.assertEqual(read_summary(write("s.json", json.dumps(good)))["title"], "t")
        cases = [
            ("[" * 10000 + "]" * 10000, "nested too deep"),
            ('{"histograms": [{"number": 1, "statistics": [0.1]}]}', "histogram 1's statistics are not finite numbers"),
            ('{"histograms": [{"number": 1, "statistics": {"wRp": 1e400}}]}', "statistics are not finite numbers"),
            ('{"title": 5, "histograms": []}', "its title is not text"),
            ('{"histograms": [{"number": 1, "name": ["x"]}]}', "histogram 1's name is not text"),
            ('{"phases": {"1": "Si"}, "histograms": []}', "its phases are not as written"),
            ('{"phases": {"1": {"name": 2}}, "histograms": []}', "its phases are not as written"),
            ('{"histograms": [{"number": "1"}]}', "a histogram has no number"),
            ('{"histograms": [{"number": 1, "points_bytes": -1}]}', "points_bytes is not a count"),
            ('{"reduced_chi2": NaN, "histograms": []}', "reduced_chi2 is not a finite number"),
            ('{"histograms": {}}', "its histograms are not as written"),
            ("\ufeff{", "s.json is not the JSON trov-export writes"),
        ]
        for text, message in cases:
            with self.assertRaises(PlotError, msg=message) as caught:
                read_summary(write("s.json", text))
            self.assertIn("s.json is not the JSON trov-export writes", str(caught.exception))
            self.assertIn(message, str(caught.exception))
        os.remove(os.path.join(SCRATCH, "s.json"))
        os.mkfifo(os.path.join(SCRATCH, "s.json"))  # read, it would wait for ever
        with self.assertRaises(PlotError) as caught:
            read_summary(os.path.join(SCRATCH, "s.json"))
        self.assertIn("s.json is not a regular file", str(caught.exception))
        os.remove(os.path.join(SCRATCH, "s.json"))

    def test_ticks_keep_quoted_phase_names_whole(self):
        # A form feed, a line end, a comma and a quote inside a name, as trov-export quotes them.
        path = write("t.csv", 'position,d (A),marker,phase,fitted\n1,2,1,"a\x0cb\nc, ""d""",1\n3,,2,,0\n')
        _, ticks = read_ticks(path)
        self.assertEqual([(t["position"], t["marker"], t["phase"], t["fitted"]) for t in ticks],
                         [(1.0, 1, 'a\x0cb\nc, "d"', 1), (3.0, 2, "", 0)])
        self.assertTrue(np.isnan(ticks[1]["d"]))
        for text, message in [("position,d (A),phase\n1,2,x\n", "no marker column"),
                              ("position,marker,phase\n1,one,x\n", "line 2 holds"),
                              ('position,marker,phase\n1,1,"x\n', "t.csv is not a file trov-export writes")]:
            with self.assertRaises(PlotError) as caught:
                read_ticks(write("t.csv", text))
            self.assertIn(message, str(caught.exception))


class Drawing(unittest.TestCase):
    def test_a_thinned_line_has_each_columns_first_lowest_highest_and_last_point(self):
        rng = np.random.default_rng(1)
        x = np.sort(rng.uniform(0, 100, 200_000))
        y = rng.normal(0, 1, x.size)
        y[5000] = np.nan  # a break in the line stays
        tx, ty = thin_line(x, y, 10.0, 90.0, 500)
        self.assertLess(tx.size, 5 * 500 + 2000)
        self.assertTrue(np.isnan(ty).sum() == 1)
        inside = (x >= 10) & (x <= 90) & np.isfinite(y)
        column = np.floor((x - 10) / 80 * 500)
        kept = (tx >= 10) & (tx <= 90) & np.isfinite(ty)
        kept_column = np.floor((tx - 10) / 80 * 500)
        for c in (0, 123, 499):
            all_y, thin_y = y[inside & (column == c)], ty[kept & (kept_column == c)]
            self.assertEqual((all_y.min(), all_y.max(), all_y[0], all_y[-1]),
                             (thin_y.min(), thin_y.max(), thin_y[0], thin_y[-1]))
        # Outside the range, a few points, the nearest on each side among them: they carry the line to the frame.
        self.assertLessEqual(((tx < 10) | (tx > 90)).sum(), 16)  # four a run; the break splits one
        self.assertIn(x[x < 10].max(), tx)
        self.assertIn(x[x > 90].min(), tx)
        few = np.arange(100.0)
        self.assertIs(thin_line(few, few, 0, 99, 500)[0], few)

    def test_curves_break_at_points_left_out_of_the_fit(self):
        from trov_plot.figure import Style, draw_figure
        from trov_plot.loading import Histogram
        rows = "".join("%g,%g,%g,%g,%g,%d\n" % (x, 10 + x, 9 + x, 1, 1, 0 if 30 <= x < 40 else 1) for x in range(100))
        points = write("h.csv", "2theta (deg),observed,calculated,difference,difference/sigma,fitted\n" + rows)
        ticks = write("h_ticks.csv", "2theta (deg),marker,phase,fitted\n50,1,Si,1\n")
        hist = Histogram(1, {"number": 1, "position_unit": "deg"}, points, ticks)
        figure = draw_figure([hist], {}, Style(delta_sigma=True, diff_panel=True))
        for ax in figure.axes:
            for line in ax.get_lines():
                x, y = np.asarray(line.get_xdata(), float), np.asarray(line.get_ydata(), float)
                if x.size < 50:
                    continue  # zero lines, legend samples
                if line.get_linestyle() == "None":  # the observed points: every one drawn
                    self.assertTrue(np.isfinite(y[(x >= 30) & (x < 40)]).all())
                    continue
                # No segment joins a point before the excluded run to one after it.
                finite = np.isfinite(y)
                joined = finite[:-1] & finite[1:]
                self.assertFalse((joined & (x[:-1] < 30) & (x[1:] >= 30)).any(), line.get_label())
                self.assertFalse(finite[(x >= 30) & (x < 40)].any(), line.get_label())
                self.assertTrue(finite[(x < 30) | (x >= 40)].all(), line.get_label())

    def test_markers_are_one_per_pixel(self):
        x = np.repeat(np.arange(1000.0), 3)
        y = np.tile([0.0, 0.01, 5.0], 1000)
        tx, ty = thin_markers(x, y, (0, 1000), (0, 10), (1000, 100))
        self.assertEqual(tx.size, 2000)  # 0 and 0.01 share a pixel; 5 has its own

    def test_observed_points_get_smaller_and_plainer_as_they_crowd(self):
        cases = [(1, "o", 1.6), (4, "o", 1.6), (8, "o", 0.9), (200, ".", 0.9)]
        for per_mm, marker, size in cases:
            style = marker_style(per_mm)
            self.assertEqual((style["marker"], style["markersize"]), (marker, size), per_mm)

    def test_a_shared_axis_spans_the_fitted_points_of_all_histograms(self):
        class Hist:
            def __init__(self, d, fitted):
                self.number, self.d, self.tick_d, self.fitted = 1, np.array(d), None, np.array(fitted, dtype=bool)
        # An X-ray pattern's excluded low angles reach 40 angstrom; its fitted points end at 6.
        histograms = [Hist([40, 20, 6, 3, 1], [0, 0, 1, 1, 1]), Hist([4, 2, 0.5, np.nan], [1, 1, 1, 1])]
        self.assertEqual(fitted_limits(histograms, "d"), (0.5, 6.0))
        self.assertEqual(fitted_limits(histograms, "d", (1, 2)), (1, 2))

    def test_stacks_hold_what_fits_a_page(self):
        self.assertEqual([stack_capacity(85), stack_capacity(174), stack_capacity(60), stack_capacity(174, 300),
                          stack_capacity(85, 200), stack_capacity(85, 200, 2), stack_capacity(85, 40), stack_capacity(85, 900)],
                         [5, 2, 7, 4, 3, 2, 1, 8])
        self.assertEqual([len(g) for g in stack_groups(list(range(32)), True, 5)], [5, 5, 5, 5, 5, 5, 2])
        self.assertEqual(len(stack_groups(list(range(3)), False, 5)), 3)


class SharedRules(unittest.TestCase):
    """The page's parts test holds its renderer to the same fixture."""

    def test_the_figures_words_and_colours_are_the_pages(self):
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "figure_rules.json"),
                  encoding="utf-8") as f:
            rules = json.load(f)
        for value, text in rules["chi2"]:
            self.assertEqual(chi2_text(value), text, value)
        for case in rules["statistics"]:
            self.assertEqual(statistics_lines(case["statistics"], case.get("reduced_chi2")), case["lines"])
        for name, short in rules["names"]:
            self.assertEqual(short_name(name), short, repr(name))
        for marker, line, text in rules["phase_colours"]:
            self.assertEqual((phase_colour(marker), phase_colour(marker, text=True)), (line, text), marker)
        for axis, unit, label in rules["axis_labels"]:
            self.assertEqual(axis_label(axis, unit), label, (axis, unit))
        for case in rules["excluded_runs"]:
            x, fitted = np.array(case["x"], float), np.array(case["fitted"]) == 1
            self.assertEqual([list(run) for run in excluded_runs(x, ~fitted)], case["runs"], case)
        for case in rules["limits"]:
            offset, bottom, top = curve_limits(case["low"], case["high"], case["difference"])
            self.assertEqual((offset, bottom, top, list(padded(bottom, top))),
                             (case["offset"], case["bottom"], case["top"], case["axis"]), case)
        for case in rules["series_panels"]:
            panels = [[label.split("\n"), [c[0] for c in curves], [len(c[2]) for c in curves]]
                      for label, curves in panels_of(case["series"])]
            self.assertEqual(panels, case["panels"])
            self.assertEqual(x_label(case["series"]), case["x_label"])

    def test_every_phase_name_meets_four_and_a_half_to_one_on_white(self):
        def luminance(colour):
            channels = [int(colour[i:i + 2], 16) / 255 for i in (1, 3, 5)]
            linear = [c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4 for c in channels]
            return 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2]
        texts = [p["text"] for p in STYLE["phases"]]
        for colour in texts:
            self.assertGreaterEqual(1.05 / (luminance(colour) + 0.05), 4.5, colour)
        self.assertEqual(len(set(p["line"] for p in STYLE["phases"])), len(STYLE["phases"]))


class CommandLine(unittest.TestCase):
    def test_mistakes_are_usage_errors(self):
        for words in (["SAMPLE", "²"], ["SAMPLE", "100"], ["--dpi", "10", "SAMPLE"], [],
                      ["--zoom", "30:40:1e308", "SAMPLE"], ["--xrange=-1e308:1e308", "SAMPLE"], ["--zoom", "1:2:0", "SAMPLE"]):
            with self.assertRaises(UsageError, msg=words):
                parse_arguments(words)
        self.assertEqual(parse_arguments(["--debug", "SAMPLE", "01", "3"]).histograms, [1, 3])


if __name__ == "__main__":
    unittest.main(verbosity=2)
