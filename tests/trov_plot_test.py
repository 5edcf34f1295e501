"""Tests of trov-plot: what a referee reads in the sample's figures, their sizes, and every message."""
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest

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
        # The sample was not refined: no statistics to show, and none invented.
        self.assertFalse(any("wRp" in t for t in self.svg("--stats", "SAMPLE", "1")))
        with open(os.path.join(SCRATCH, "SAMPLE.EXP"), "rb") as f:
            experiment = f.read()
        with open(os.path.join(SCRATCH, "STATS.EXP"), "wb") as f:
            f.write(experiment + b"".join(r.ljust(80) + b"\r\n" for r in (
                b" REFN GDNFT  Reduced CHI**2 =  1.959     for   11 variables",
                b"HST  1 RPOWD    0.1243    0.0960   6000  37930.        0.0000    0.0000     0")))
        shutil.copy(os.path.join(SCRATCH, "SAMPLE.P01"), os.path.join(SCRATCH, "STATS.P01"))
        texts = self.svg("--stats", "STATS", "1")
        self.assertTrue(any("wRp = 12.43%" in t for t in texts), texts)
        self.assertTrue(any("χ² = 1.96" in t for t in texts), texts)

    def test_zoom_marks_the_curves_and_the_difference(self):
        texts = self.svg("--diff-panel", "--xrange", "20:100", "--zoom", "60:100:5", "SAMPLE", "1")
        self.assertEqual(texts.count("×5"), 2)
        texts = self.svg("--sqrt", "SAMPLE", "1")
        self.assertIn("0", texts)
        self.assertGreaterEqual(sum(t.strip().isdigit() for t in texts), 4)  # labels across the whole range
        self.assertIn("Obs − calc", self.svg("--log", "SAMPLE", "1"))  # no offset curve below a log axis

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

    def test_bad_input_ends_with_one_line_naming_it(self):
        shutil.copy(os.path.join(SCRATCH, "SAMPLE.EXP"), os.path.join(SCRATCH, "CUT.EXP"))
        shutil.copy(os.path.join(SCRATCH, "SAMPLE.P01"), os.path.join(SCRATCH, "CUT.P01"))
        self.assertEqual(self.plot("-o", "cut.svg", "CUT", "1").returncode, 0)
        with open(os.path.join(SCRATCH, "CUT_01.csv"), "rb+") as f:
            f.truncate(300)  # a full disk stops a line part way
        cases = [
            (["CUT", "1"], 1, "CUT_01.csv line 3 is not a line trov-export writes"),
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
            (["--stack", "SAMPLE"], 2, "--stack of histograms with different axes needs --x d"),
        ]
        for args, status, message in cases:
            run = self.plot(*args)
            self.assertEqual(run.returncode, status, (args, run.stderr))
            self.assertEqual(run.stderr.count("\n"), 1, run.stderr)
            self.assertNotIn("HH", run.stderr)
            self.assertTrue(run.stderr.startswith("trov-plot: ") and message in run.stderr, run.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
