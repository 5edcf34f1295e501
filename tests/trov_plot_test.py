"""Tests of trov-plot: what a referee reads in the sample's figures, their sizes, and every message."""
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest

from generated_profiles import write_profile

TOOL = os.environ["TROV_PLOT"]
SCRATCH = os.environ["TROV_SCRATCH"]


def svg_texts(path):
    with open(path, encoding="utf-8") as f:
        return re.findall(r"<text[^>]*>([^<]*)</text>", f.read())


def svg_size_pt(path):
    with open(path, encoding="utf-8") as f:
        head = f.read(2000)
    return tuple(float(re.search(r'%s="([0-9.]+)pt"' % key, head).group(1)) for key in ("width", "height"))


def png_size(path):
    with open(path, "rb") as f:
        return struct.unpack(">II", f.read(24)[16:24])


class SampleFigures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(SCRATCH, ignore_errors=True)
        subprocess.run([os.environ["MAKE_SAMPLE"], SCRATCH], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([os.environ["TROV"]], input=b"SAMPLE\n", cwd=SCRATCH, check=True, stdout=subprocess.DEVNULL)

    def plot(self, *args):
        return subprocess.run([sys.executable, TOOL, *args], cwd=SCRATCH, capture_output=True, text=True)

    def svg(self, *args):
        run = self.plot("-o", "t.svg", *args)
        self.assertEqual(run.returncode, 0, run.stderr)
        return svg_texts(os.path.join(SCRATCH, "t.svg"))

    def test_figures_name_the_phases_and_axes_and_carry_no_title_unless_asked(self):
        for hh, axis in (("01", "2θ (°)"), ("03", "Time of flight (µs)")):
            texts = self.svg("SAMPLE", hh)
            for expected in ("Silicon", "Zinc oxide", axis, "Observed", "Calculated", "Difference"):
                self.assertIn(expected, texts, hh)
            self.assertFalse(any("generated" in t for t in texts), hh)  # no title by default
        self.assertTrue(any("generated" in t for t in self.svg("--title", "exp", "SAMPLE", "1")))
        self.assertIn("Figure 2", self.svg("--title", "Figure 2", "SAMPLE", "1"))

    def test_sizes_are_a_journal_columns_at_600_dpi(self):
        for width, mm in (("single", 85), ("double", 174), ("89", 89)):
            self.assertEqual(self.plot("-o", "w.svg", "--width", width, "SAMPLE", "1").returncode, 0)
            self.assertAlmostEqual(svg_size_pt(os.path.join(SCRATCH, "w.svg"))[0], mm / 25.4 * 72, delta=0.5)
        run = self.plot("SAMPLE")
        self.assertEqual((run.returncode, run.stdout.split()), (0, ["SAMPLE_01.png", "SAMPLE_03.png"]), run.stderr)
        width, height = png_size(os.path.join(SCRATCH, "SAMPLE_01.png"))
        self.assertEqual(width, int(85 / 25.4 * 600))
        self.assertGreater(height, width / 2)
        with open(os.path.join(SCRATCH, "t.svg"), encoding="utf-8") as f:
            sizes = set(re.findall(r"font: ([0-9.]+)px", f.read()))  # 1 px = 1 pt in matplotlib's SVG
        self.assertTrue(sizes and all(7 <= float(size) <= 9 for size in sizes), sizes)

    def test_d_and_q_axes_stack_and_statistics(self):
        texts = self.svg("--x", "d", "--stack", "SAMPLE")
        self.assertIn("d (Å)", texts)
        self.assertTrue(any("90 deg bank" in t for t in texts))  # each histogram named in its panel
        self.assertIn("Q (Å⁻¹)", self.svg("--x", "q", "SAMPLE", "3"))
        self.assertIn("Δ/σ", self.svg("--delta-sigma", "--diff-panel", "SAMPLE", "1"))
        self.assertIn("Background", self.svg("--background", "SAMPLE", "1"))
        # The sample carries the statistics of its generated profiles; each histogram shows its own.
        self.assertTrue({"wRp = 6.86%", "Rp = 5.17%", "χ² = 1.04"} <= set(self.svg("--stats", "SAMPLE", "1")))
        self.assertTrue({"wRp = 2.20%", "Rp = 1.16%", "χ² = 0.988"} <= set(self.svg("--stats", "SAMPLE", "3")))
        with open(os.path.join(SCRATCH, "SAMPLE.EXP"), "rb") as f:
            experiment = f.read()
        with open(os.path.join(SCRATCH, "STATS.EXP"), "wb") as f:
            f.write(experiment + b"".join(r.ljust(80) + b"\r\n" for r in (
                b" REFN GDNFT  Reduced CHI**2 =  1.959     for   11 variables",
                b"HST  1 RPOWD    0.1243    0.0960   6000  37930.        0.0000    0.0000     0")))
        shutil.copy(os.path.join(SCRATCH, "SAMPLE.P01"), os.path.join(SCRATCH, "STATS.P01"))
        texts = self.svg("--stats", "STATS", "1")
        self.assertTrue(any("wRp = 12.43%" in t for t in texts), texts)
        # The histogram's own χ² (37930 over 6000 points), not the refinement's 1.96.
        self.assertTrue(any("χ² = 6.32" in t for t in texts), texts)
        self.assertFalse(any("1.96" in t for t in texts), texts)

    def test_zoom_marks_the_curves_and_the_difference(self):
        texts = self.svg("--diff-panel", "--xrange", "20:100", "--zoom", "60:100:5", "SAMPLE", "1")
        self.assertEqual(texts.count("×5"), 2)
        texts = self.svg("--sqrt", "SAMPLE", "1")
        self.assertIn("0", texts)
        self.assertGreaterEqual(sum(t.strip().isdigit() for t in texts), 4)  # labels across the whole range
        self.assertIn("Obs − calc", self.svg("--log", "SAMPLE", "1"))  # no offset curve below a log axis

    def test_one_histogram_drawn_then_all_stacked_reexports_what_is_missing(self):
        for name in ("EXP", "P01", "P03"):
            shutil.copy(os.path.join(SCRATCH, "SAMPLE." + name), os.path.join(SCRATCH, "TWICE." + name))
        self.assertEqual(self.plot("-o", "one.svg", "--x", "d", "TWICE", "1").returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(SCRATCH, "TWICE_03.csv")))
        run = self.plot("-o", "both.svg", "--x", "d", "--stack", "TWICE")
        self.assertEqual(run.returncode, 0, run.stderr)

    def test_one_pdf_holds_a_page_per_powder_histogram(self):
        self.assertEqual(self.plot("-o", "all.pdf", "SAMPLE").returncode, 0)
        with open(os.path.join(SCRATCH, "all.pdf"), "rb") as f:
            self.assertEqual(len(re.findall(rb"/Type\s*/Page\b", f.read())), 2)

    def test_experiment_is_found_in_any_folder_by_the_three_tries(self):
        folder = os.path.join(SCRATCH, "Runs", "Sub")
        os.makedirs(folder, exist_ok=True)
        for name in ("SAMPLE.EXP", "SAMPLE.P01", "SAMPLE.P03"):
            shutil.copy(os.path.join(SCRATCH, name), os.path.join(folder, name))
        for word in (os.path.join(folder, "sample"), os.path.join("Runs", "Sub", "sample.exp")):
            run = self.plot("-o", "found.svg", word, "1")
            self.assertEqual(run.returncode, 0, run.stderr)

    def test_histograms_that_cannot_be_exported_are_named_and_the_others_drawn(self):
        for name in ("EXP", "P01"):
            shutil.copy(os.path.join(SCRATCH, "SAMPLE." + name), os.path.join(SCRATCH, "PART." + name))
        run = self.plot("PART")
        self.assertEqual((run.returncode, run.stdout.split()), (1, ["PART_01.png"]), run.stderr)
        self.assertIn("histogram 03: Error opening PART.P03; the other histograms were drawn", run.stderr)
        if os.name == "posix":  # a profile that is a pipe nobody writes: said, never waited on
            os.mkfifo(os.path.join(SCRATCH, "PART.P03"))
            run = subprocess.run([sys.executable, TOOL, "PART"], cwd=SCRATCH, capture_output=True, text=True, timeout=60)
            self.assertEqual((run.returncode, run.stdout.split()), (1, ["PART_01.png"]), run.stderr)
            self.assertIn("histogram 03: Error reading PART.P03: not a regular file (a pipe or a device)", run.stderr)
            os.remove(os.path.join(SCRATCH, "PART.P03"))

    def test_exports_go_where_they_are_asked_and_a_folder_that_takes_none_is_said(self):
        for suffix in ("EXP", "P01"):
            shutil.copy(os.path.join(SCRATCH, "SAMPLE." + suffix), os.path.join(SCRATCH, "BLOCK." + suffix))
        os.makedirs(os.path.join(SCRATCH, "BLOCK_01.csv"), exist_ok=True)  # where trov-export must write
        run = self.plot("BLOCK", "1")
        self.assertEqual((run.returncode, run.stderr), (1, "trov-plot: cannot write BLOCK_01.csv, trov-export's file "
                                                           "(Error opening BLOCK_01.csv): name a folder it may write with "
                                                           "--exports DIR\n"))
        run = self.plot("--exports", "elsewhere", "BLOCK", "1")
        self.assertEqual((run.returncode, run.stdout.split()), (0, [os.path.join("elsewhere", "BLOCK_01.png")]), run.stderr)
        self.assertTrue(os.path.isfile(os.path.join(SCRATCH, "elsewhere", "BLOCK_01.csv")))
        # Read back from there: no new export when nothing changed.
        before = os.path.getmtime(os.path.join(SCRATCH, "elsewhere", "BLOCK.json"))
        self.assertEqual(self.plot("--exports", "elsewhere", "-o", "b.svg", "BLOCK", "1").returncode, 0)
        self.assertEqual(os.path.getmtime(os.path.join(SCRATCH, "elsewhere", "BLOCK.json")), before)

    def test_any_name_any_title_and_an_output_that_fails(self):
        # A title of dollars is text, not mathematics.
        self.assertIn("$x^$", self.svg("--title", "$x^$", "SAMPLE", "1"))
        # A name that is not UTF-8 (typed on a Latin-1 machine) leads from
        # trov-export's list back to the very file.
        if os.name == "posix":
            for suffix in ("EXP", "P01"):
                shutil.copy(os.path.join(SCRATCH, "SAMPLE." + suffix), os.path.join(SCRATCH.encode(), b"caf\xe9." + suffix.lower().encode()))
            run = subprocess.run([sys.executable, TOOL, b"caf\xe9", b"1"], cwd=SCRATCH, capture_output=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertTrue(os.path.exists(os.path.join(SCRATCH.encode(), b"caf\xe9_01.png")))
            # Standard output that cannot be written is a failure, said once.
            with open("/dev/full", "w") as full:
                run = subprocess.run([sys.executable, TOOL, "-o", "full.svg", "SAMPLE", "1"], cwd=SCRATCH,
                                     stdout=full, stderr=subprocess.PIPE, text=True)
            self.assertEqual((run.returncode, run.stderr), (1, "trov-plot: Error writing standard output\n"))
            # A CSV that is a pipe nobody writes is not waited on: it is no
            # export, and a new export takes its place.
            shutil.copy(os.path.join(SCRATCH, "SAMPLE.EXP"), os.path.join(SCRATCH, "PIPE.EXP"))
            shutil.copy(os.path.join(SCRATCH, "SAMPLE.P01"), os.path.join(SCRATCH, "PIPE.P01"))
            self.assertEqual(self.plot("-o", "pipe.svg", "PIPE", "1").returncode, 0)
            os.remove(os.path.join(SCRATCH, "PIPE_01_ticks.csv"))
            os.mkfifo(os.path.join(SCRATCH, "PIPE_01_ticks.csv"))
            os.utime(os.path.join(SCRATCH, "PIPE.json"))
            run = subprocess.run([sys.executable, TOOL, "-o", "pipe.svg", "PIPE", "1"], cwd=SCRATCH,
                                 capture_output=True, text=True, timeout=60)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertTrue(os.path.isfile(os.path.join(SCRATCH, "PIPE_01_ticks.csv")))

    def test_bad_input_ends_with_one_line_naming_it(self):
        shutil.copy(os.path.join(SCRATCH, "SAMPLE.EXP"), os.path.join(SCRATCH, "CUT.EXP"))
        shutil.copy(os.path.join(SCRATCH, "SAMPLE.P01"), os.path.join(SCRATCH, "CUT.P01"))
        self.assertEqual(self.plot("-o", "cut.svg", "CUT", "1").returncode, 0)
        with open(os.path.join(SCRATCH, "CUT_01.csv"), "rb+") as f:
            f.truncate(300)  # a full disk stops a line part way
        # Files edited by hand: a renamed column, a ticks file without its
        # marker column (once drawn as phase numbers), JSON and text that are not.
        shutil.copy(os.path.join(SCRATCH, "CUT.EXP"), os.path.join(SCRATCH, "EDIT.EXP"))
        shutil.copy(os.path.join(SCRATCH, "CUT.P01"), os.path.join(SCRATCH, "EDIT.P01"))
        self.assertEqual(self.plot("-o", "edit.svg", "EDIT", "1").returncode, 0)

        def edit(name, change):
            with open(os.path.join(SCRATCH, name), "rb") as f:
                text = f.read()
            with open(os.path.join(SCRATCH, name), "wb") as f:
                f.write(change(text))
            return name
        originals = {n: open(os.path.join(SCRATCH, n), "rb").read() for n in ("EDIT_01.csv", "EDIT_01_ticks.csv", "EDIT.json")}
        edits = [
            # Edits that keep each file's size, so that the summary's sizes
            # do not tell them: the reading itself must.
            (lambda t: t.replace(b"observed", b"obsarved", 1), "EDIT_01.csv is not a file trov-export writes: no observed column"),
            (lambda t: t.replace(b"marker,", b"marked,", 1), "EDIT_01_ticks.csv is not a file trov-export writes: no marker column"),
            (lambda t: t[:40], "EDIT.json is not the JSON trov-export writes"),
            (lambda t: t.replace(b"\n5,", b"\n\xe9,", 1), "EDIT_01.csv is not a file trov-export writes: line 2"),
            # A killed run's mixed set, a ticks file cut at a line end, a file replaced.
            (lambda t: t[:t.index(b"\n", 2000) + 1], "EDIT_01.csv does not belong to EDIT.json"),
            (lambda t: b"\n".join(t.split(b"\n")[:3]) + b"\n", "EDIT_01_ticks.csv does not belong to EDIT.json"),
            (lambda t: t.replace(b'"title": "', b'"title": 5, "x": "', 1), "EDIT.json is not the JSON trov-export writes (its title is not text)"),
        ]
        for (change, message), name in zip(edits, ("EDIT_01.csv", "EDIT_01_ticks.csv", "EDIT.json", "EDIT_01.csv",
                                                    "EDIT_01.csv", "EDIT_01_ticks.csv", "EDIT.json")):
            edit(name, change)
            run = self.plot("-o", "edit.svg", "EDIT", "1")
            self.assertEqual((run.returncode, run.stderr.count("\n")), (1, 1), run.stderr)
            self.assertIn(message, run.stderr)
            edit(name, lambda _: originals[name])
        cases = [
            (["CUT", "1"], 1, "CUT_01.csv does not belong to CUT.json (300 bytes; the summary says 1561512)"),
            (["--zoom", "30:40:1e308", "SAMPLE"], 2, "the factor N of --zoom must be above 0 and at most"),
            (["--xrange=-1e308:1e308", "SAMPLE"], 2, "--xrange: A and B must lie within"),
            (["--width", "100", "--height", "900", "--dpi", "2400", "SAMPLE", "1"], 2, "lower --dpi or the size"),
            (["--height", "40", "SAMPLE", "1"], 2, "--height 40 mm is too small for this figure: it needs"),
            (["--width", "59", "SAMPLE"], 2, "--width must be single, double, 89, 183 or 60 to 250 mm, not '59'"),
            (["--width", "251", "SAMPLE"], 2, "--width must be single, double, 89, 183 or 60 to 250 mm, not '251'"),
            (["SAMPLE", "2"], 1, "histogram 2 of SAMPLE.EXP is not a powder histogram"),
            (["SAMPLE", "4"], 1, "SAMPLE.EXP has no histogram 4"),
            (["MISSING"], 1, "Error opening MISSING.EXP"),
            (["--frobnicate", "SAMPLE"], 2, "unrecognized arguments: --frobnicate"),
            ([], 2, "EXPNAM is missing ("),
            (["--zoom", "9:1:2", "SAMPLE"], 2, "--zoom must be A:B:N"),
            (["--xrange", "40:20", "SAMPLE"], 2, "--xrange must be A:B"),
            (["--zoom", "20:40:2", "--zoom", "30:50:3", "SAMPLE"], 2, "--zoom ranges 20:40 and 30:50 overlap"),
            (["-o", "figure.gif", "SAMPLE"], 2, "must end in .png, .svg or .pdf"),
            (["--width", "tiny", "SAMPLE"], 2, "--width must be"),
            (["SAMPLE", "0"], 2, "'0' is not a histogram number"),
            (["SAMPLE", "x"], 2, "'x' is not a histogram number"),
            (["SAMPLE", "²"], 2, "'²' is not a histogram number"),
            (["--stack", "SAMPLE"], 2, "--stack of histograms with different axes needs --x d"),
        ]
        for args, status, message in cases:
            run = self.plot(*args)
            self.assertEqual(run.returncode, status, (args, run.stderr))
            self.assertEqual(run.stderr.count("\n"), 1, run.stderr)
            self.assertNotIn("HH", run.stderr)
            self.assertTrue(run.stderr.startswith("trov-plot: ") and message in run.stderr, run.stderr)


class PublishedExperiments(unittest.TestCase):
    """Experiments from published refinements, with generated profiles: a
    joint X-ray and neutron refinement and a 32-bank time-of-flight one."""

    @classmethod
    def setUpClass(cls):
        import numpy as np
        cls.folder = os.path.join(SCRATCH, "published")
        shutil.rmtree(cls.folder, ignore_errors=True)
        os.makedirs(cls.folder)
        data = os.path.join(os.environ["TROV_TEST_DATA"], "exp")
        for name in ("NAC-2015A.EXP", "TOF1A-H.EXP"):
            shutil.copy(os.path.join(data, name), cls.folder)
        # NAC-2015A's ranges (TRNGE): two TOF banks in microseconds, X-ray 2θ in centidegrees.
        for h, (low, high, n) in enumerate([(6778, 103794, 6823), (25984, 207569, 5196), (50, 4999.96, 49507)], 1):
            write_profile(os.path.join(cls.folder, "NAC-2015A.P%02d" % h), np.linspace(low, high, n), 2, h)
        for h in range(1, 33):
            write_profile(os.path.join(cls.folder, "TOF1A-H.P%02d" % h), np.linspace(2000, 20000, 3000), 1, 10 + h)

    def plot(self, *args):
        return subprocess.run([sys.executable, TOOL, *args], cwd=self.folder, capture_output=True, text=True)

    def test_a_shared_d_axis_spans_the_fitted_points_with_labelled_ticks(self):
        run = self.plot("-o", "nac.svg", "--x", "d", "--stack", "--stats", "NAC-2015A")
        self.assertEqual(run.returncode, 0, run.stderr)
        texts = svg_texts(os.path.join(self.folder, "nac.svg"))
        labels = [float(t.replace("−", "-")) for t in texts if re.fullmatch(r"[0-9.]+", t)]
        self.assertGreaterEqual(len(set(labels)), 6, texts)  # x ticks of the shared axis and the intensities
        self.assertTrue(any("wRp = 4.66%" in t for t in texts), texts)

    def test_the_histograms_whose_profiles_are_there_are_drawn_when_one_is_missing(self):
        missing = os.path.join(self.folder, "missing")
        os.makedirs(missing, exist_ok=True)
        for name in ("NAC-2015A.EXP", "NAC-2015A.P01", "NAC-2015A.P03"):
            shutil.copy(os.path.join(self.folder, name), missing)
        run = subprocess.run([sys.executable, TOOL, "NAC-2015A"], cwd=missing, capture_output=True, text=True)
        self.assertEqual((run.returncode, run.stdout.split()), (1, ["NAC-2015A_01.png", "NAC-2015A_03.png"]), run.stderr)
        self.assertEqual(run.stderr, "trov-plot: histogram 02: Error opening NAC-2015A.P02; the other histograms were drawn\n")

    def test_thirty_two_banks_go_as_many_to_a_page_as_fit(self):
        run = self.plot("-o", "banks.pdf", "--stack", "TOF1A-H")
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        with open(os.path.join(self.folder, "banks.pdf"), "rb") as f:
            self.assertEqual(len(re.findall(rb"/Type\s*/Page\b", f.read())), 7)  # five a page at 85 mm
        run = self.plot("-o", "banks.png", "--dpi", "100", "--stack", "--height", "200", "TOF1A-H")  # the grouping, not the pixels
        self.assertEqual(run.stdout.split(), ["banks_%02d.png" % h for h in range(1, 33, 3)], run.stderr)


def drawn_texts(figure):
    """Every piece of text the figure draws: tick labels inside the view,
    axis labels, legends, corner texts and the title."""
    texts = []
    for ax in figure.axes:
        for axis in (ax.xaxis, ax.yaxis):
            for tick in axis._update_ticks():  # the ticks inside the view, as drawing picks them
                texts += [label for label in (tick.label1, tick.label2) if label.get_visible()]
            texts.append(axis.label)
        texts += ax.texts
        if ax.get_legend():
            texts += ax.get_legend().get_texts()
    texts += figure.texts  # the title among them
    for legend in figure.legends:
        texts += legend.get_texts()
    return [t for t in dict.fromkeys(texts) if t.get_visible() and t.get_text().strip()]


def layout_faults(figure):
    """What is wrong with a drawn figure's layout, measured on its renderer:
    texts smaller than 6 pt, overlapping or leaving the figure; a corner box
    over a drawn point; axes whose x extents differ."""
    import numpy as np
    figure.canvas.draw()
    renderer = figure.canvas.get_renderer()
    page = figure.bbox
    faults = []
    texts = drawn_texts(figure)
    boxes = [t.get_window_extent(renderer) for t in texts]
    for text, box in zip(texts, boxes):
        if "$" in text.get_text() and "\\" in text.get_text():
            faults.append("%r shows its markup" % text.get_text())
        if text.get_fontsize() < 6:
            faults.append("%r is %.1f pt" % (text.get_text(), text.get_fontsize()))
        if box.x0 < page.x0 - 0.5 or box.y0 < page.y0 - 0.5 or box.x1 > page.x1 + 0.5 or box.y1 > page.y1 + 0.5:
            faults.append("%r leaves the figure" % text.get_text())
    for i in range(len(texts)):
        for j in range(i + 1, len(texts)):
            a, b = boxes[i], boxes[j]
            if min(a.x1, b.x1) - max(a.x0, b.x0) > 0.5 and min(a.y1, b.y1) - max(a.y0, b.y0) > 0.5:
                faults.append("%r overlaps %r" % (texts[i].get_text(), texts[j].get_text()))
    for ax in figure.axes:
        for text in ax.texts:
            patch = text.get_bbox_patch()
            if patch is None or not text.get_visible():
                continue
            box = patch.get_window_extent(renderer)
            for line in ax.get_lines():
                xy = np.column_stack([np.asarray(line.get_xdata(), float), np.asarray(line.get_ydata(), float)])
                if len(xy) < 3:
                    continue  # a zero line
                xy = line.get_transform().transform(xy[np.isfinite(xy).all(axis=1)])
                inside = (xy[:, 0] > box.x0) & (xy[:, 0] < box.x1) & (xy[:, 1] > box.y0) & (xy[:, 1] < box.y1)
                if inside.any():
                    faults.append("the box of %r covers %d points of %s" % (text.get_text(), inside.sum(), line.get_label()))
    extents = {(round(ax.bbox.x0, 1), round(ax.bbox.x1, 1)) for ax in figure.axes}
    if max(x0 for x0, _ in extents) - min(x0 for x0, _ in extents) > 0.5 or \
            max(x1 for _, x1 in extents) - min(x1 for _, x1 in extents) > 0.5:
        faults.append("axes span different x extents: %s" % sorted(extents))
    return faults


class Layouts(unittest.TestCase):
    """Figures measured, not looked at: the sample and the published
    experiments with generated profiles, alone and stacked, at a single and
    a double column, with every corner text and panel."""

    @classmethod
    def setUpClass(cls):
        import numpy as np
        cls.folder = os.path.join(SCRATCH, "layouts")
        shutil.rmtree(cls.folder, ignore_errors=True)
        subprocess.run([os.environ["MAKE_SAMPLE"], cls.folder], check=True, stdout=subprocess.DEVNULL)
        data = os.path.join(os.environ["TROV_TEST_DATA"], "exp")
        profiles = {
            "NAC-2015A.EXP": [(6778, 103794, 6823), (25984, 207569, 5196), (50, 4999.96, 49507)],
            "TOF1A-H.EXP": [(2000, 20000, 3000)] * 5,
            "PBSO4X.EXP": [(1000, 15000, 7000)],
            "GAPO4_XRAY_BAK.EXP": [(500, 12000, 5750)],
            "cpd4.exp": [(1000, 9000, 4000)],
        }
        for name, ranges in profiles.items():
            shutil.copy(os.path.join(data, name), cls.folder)
            stem, suffix = os.path.splitext(name)
            for h, (low, high, n) in enumerate(ranges, 1):
                write_profile(os.path.join(cls.folder, "%s.%s%02d" % (stem, "P" if suffix == ".EXP" else "p", h)),
                              np.linspace(low, high, n), 4 if h == 1 else 2, h)
        sys.path.insert(0, os.path.dirname(os.path.realpath(TOOL)))
        from trov_plot.cli import use_matplotlib
        cls.plt = use_matplotlib()

    def faults_of(self, words):
        from trov_plot.cli import parse_arguments, prepare, style_of
        from trov_plot.figure import draw_figure
        options = parse_arguments(words)
        here = os.getcwd()
        os.chdir(self.folder)
        try:
            summary, _, groups, _ = prepare(options)
            faults = []
            for group in groups[:1]:
                figure = draw_figure(group, summary, style_of(options))
                faults += layout_faults(figure)
                self.plt.close(figure)
            return faults
        finally:
            os.chdir(here)

    def test_every_figure_lays_out_cleanly(self):
        cases = [
            ["SAMPLE", "1"], ["--stats", "--delta-sigma", "--diff-panel", "SAMPLE", "1"], ["--title", "exp", "SAMPLE", "3"],
            ["--x", "d", "--stack", "--xrange", "0.5:3", "SAMPLE"], ["--x", "d", "--stack", "--stats", "SAMPLE"],
            ["--x", "d", "--stack", "--stats", "NAC-2015A"], ["--x", "d", "--stack", "--stats", "--width", "double", "NAC-2015A"],
            ["--stats", "--title", "exp", "NAC-2015A", "3"], ["--stack", "--stats", "--delta-sigma", "TOF1A-H"],
            ["--stats", "--delta-sigma", "PBSO4X", "1"], ["--title", "exp", "--stats", "GAPO4_XRAY_BAK", "1"],
            ["--diff-panel", "--stats", "--width", "double", "cpd4", "1"],
            ["--width", "60", "--stats", "--title", "exp", "NAC-2015A", "3"], ["--width", "60", "--x", "d", "--stack", "NAC-2015A"],
            ["--width", "250", "--x", "d", "--stack", "--stats", "--delta-sigma", "NAC-2015A"],
            ["--x", "d", "--stack", "--height", "140", "NAC-2015A"], ["--log", "--stats", "SAMPLE", "3"],
            ["--sqrt", "--stats", "--background", "SAMPLE", "1"], ["--zoom", "60:100:5", "--diff-panel", "--stats", "SAMPLE", "1"],
            ["--x", "q", "--descending", "--stats", "PBSO4X", "1"],
            ["--stats", "NAC-2015A", "2"], ["--width", "60", "--delta-sigma", "NAC-2015A", "2"],  # to 207,569 µs
        ]
        for words in cases:
            with self.subTest(words=" ".join(words)):
                self.assertEqual(self.faults_of(words), [])


class SeriesFigures(unittest.TestCase):
    """trov-plot --series on a heating series that trov-series tabulates:
    published experiments with their cells, fractions and titles changed."""

    @classmethod
    def setUpClass(cls):
        cls.folder = os.path.join(SCRATCH, "series")
        shutil.rmtree(cls.folder, ignore_errors=True)
        os.makedirs(os.path.join(cls.folder, "heat"))
        with open(os.path.join(os.environ["TROV_TEST_DATA"], "exp", "NAC-2015A.EXP"), "rb") as f:
            published = f.read().decode("latin-1")

        def replaced(text, key, record):
            at = text.index("\n" + key) + 1
            return text[:at] + record.ljust(80)[:80] + text[at + 80:]

        for step, kelvin in enumerate(range(300, 650, 50)):
            a, a2 = 10.251218 * (1 + 1.2e-5 * (kelvin - 300)), 5.464617 * (1 + 1.9e-5 * (kelvin - 300))
            text = replaced(published, "      DESCR", "      DESCR   NAC heated to %d K" % kelvin)
            text = replaced(text, "CRS1  ABC   ", "CRS1  ABC   %10.6f%10.6f%10.6f    Y    0" % (a, a, a))
            text = replaced(text, "CRS1  ABCSIG", "CRS1  ABCSIG%10.6f%10.6f%10.6f" % ((2e-6 * (1 + step),) * 3))
            text = replaced(text, "CRS2  ABC   ", "CRS2  ABC   %10.6f%10.6f%10.6f    Y    0" % (a2, a2, a2))
            text = replaced(text, "CRS2  CELVOL", "CRS2  CELVOL   %12.3f   %12.3f" % (a2 ** 3, 0.002 * (1 + step)))
            text = replaced(text, "HAP2 1PHSFR", "HAP2 1PHSFR  %10.4f        N    0" % (579.47 * (1 - 0.1 * step)))
            with open(os.path.join(cls.folder, "heat", "NAC_%dK.EXP" % kelvin), "wb") as f:
                f.write(text.encode("latin-1"))
        run = subprocess.run([os.environ["TROV_SERIES"], "--sort", "--x", r"(\d+) ?(K)", "--x-name", "T", "heat"],
                             cwd=cls.folder, capture_output=True, text=True)
        assert run.returncode == 0, run.stderr

    def plot(self, *args):
        return subprocess.run([sys.executable, TOOL, *args], cwd=self.folder, capture_output=True, text=True)

    def test_each_refined_quantity_has_its_panel_against_the_series_variable(self):
        run = self.plot("--series", "series.csv", "-o", "s.svg")
        self.assertEqual((run.returncode, run.stdout), (0, "s.svg\n"), run.stderr)
        texts = svg_texts(os.path.join(self.folder, "s.svg"))
        for expected in ("T (K)", "NAC", "CaF2", "a (Å)", "V (Å³)", "fraction, hist. 1", "wRp (%)", "hist. 3"):
            self.assertTrue(any(expected in t for t in texts), expected)
        # What was not refined has no panel: NAC's volume and b, c (cubic), the fixed fractions.
        self.assertEqual(sum("V (Å³)" in t for t in texts), 1)
        self.assertFalse(any("b (Å)" in t or "fraction, hist. 2" in t for t in texts))
        self.assertAlmostEqual(svg_size_pt(os.path.join(self.folder, "s.svg"))[0], 85 / 25.4 * 72, delta=0.5)
        run = self.plot("--series", "series.csv", "--width", "double")
        self.assertEqual((run.returncode, run.stdout), (0, "series.png\n"), run.stderr)
        self.assertEqual(png_size(os.path.join(self.folder, "series.png"))[0], int(174 / 25.4 * 600))

    def test_the_series_figure_lays_out_cleanly(self):
        sys.path.insert(0, os.path.dirname(os.path.realpath(TOOL)))
        from trov_plot.cli import use_matplotlib
        from trov_plot.series import draw_series, load_series
        plt = use_matplotlib()
        series = load_series(os.path.join(self.folder, "series.csv"))
        for width in (60, 85, 174):
            with self.subTest(width=width):
                figure = draw_series(series, plt, width)
                self.assertEqual(layout_faults(figure), [])
                plt.close(figure)

    def test_a_file_that_is_no_series_is_named_in_one_line(self):
        with open(os.path.join(self.folder, "bad.json"), "w", encoding="utf-8") as f:
            f.write('{"experiments": 3}')
        for words, message in ((["--series", "bad.csv"], "bad.json is not shaped as trov-series writes its JSON"),
                               (["--series", "missing.csv"], "missing.json"),
                               (["--series", "series.csv", "SAMPLE"], "no EXPNAM or HH with it")):
            run = self.plot(*words)
            self.assertNotEqual(run.returncode, 0)
            self.assertIn(message, run.stderr)
            self.assertEqual(run.stderr.count("\n"), 1, run.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
