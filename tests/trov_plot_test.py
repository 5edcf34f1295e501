"""Tests of trov-plot: names and axes in the sample's figures, pages, messages, and the published experiments."""
import importlib.machinery
import importlib.util
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest

TOOL = os.environ["TROV_PLOT"]
DATA = os.environ["TROV_TEST_DATA"]
SCRATCH = os.environ["TROV_SCRATCH"]


def load_tool():
    loader = importlib.machinery.SourceFileLoader("trov_plot", TOOL)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("trov_plot", loader))
    loader.exec_module(module)
    return module


def svg_texts(path):
    with open(path, encoding="utf-8") as f:
        return re.findall(r"<text[^>]*>([^<]*)</text>", f.read())


class SampleFigures(unittest.TestCase):
    tool = load_tool()

    @classmethod
    def setUpClass(cls):
        shutil.rmtree(SCRATCH, ignore_errors=True)
        subprocess.run([os.environ["MAKE_SAMPLE"], SCRATCH], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([os.environ["TROV"]], input=b"SAMPLE\n", cwd=SCRATCH, check=True, stdout=subprocess.DEVNULL)

    def plot(self, *args):
        return subprocess.run([sys.executable, TOOL, *args], cwd=SCRATCH, capture_output=True, text=True)

    def test_each_figure_names_the_phases_and_labels_its_axis(self):
        for hh, axis, name in (("01", "2θ (degrees)", "Cu Ka1 X-ray"), ("03", "Time of flight (µs)", "90 deg bank")):
            run = self.plot("-o", "h%s.svg" % hh, "SAMPLE", hh)
            self.assertEqual(run.returncode, 0, run.stderr)
            texts = svg_texts(os.path.join(SCRATCH, "h%s.svg" % hh))
            for expected in ("Silicon", "Zinc oxide", axis, "Silicon and zinc oxide, X-ray and TOF neutron (generated)"):
                self.assertIn(expected, texts, hh)
            self.assertTrue(any(name in t for t in texts), hh)

    def test_defaults_to_a_png_per_powder_histogram_and_zoom_marks_its_range(self):
        run = self.plot("--sqrt", "SAMPLE")
        self.assertEqual((run.returncode, run.stdout.split()), (0, ["SAMPLE_01.png", "SAMPLE_03.png"]), run.stderr)
        with open(os.path.join(SCRATCH, "SAMPLE_03.png"), "rb") as f:
            width, height = struct.unpack(">II", f.read(24)[16:24])
        self.assertGreaterEqual((width, height), (1600, 1000))
        run = self.plot("--xrange", "20:100", "--zoom", "60:100:5", "-o", "z.svg", "SAMPLE", "1")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(svg_texts(os.path.join(SCRATCH, "z.svg")).count("×5"), 2)  # over the curves and the difference

    def test_one_pdf_holds_a_page_per_powder_histogram(self):
        self.assertEqual(self.plot("-o", "all.pdf", "SAMPLE").returncode, 0)
        with open(os.path.join(SCRATCH, "all.pdf"), "rb") as f:
            self.assertEqual(len(re.findall(rb"/Type\s*/Page\b", f.read())), 2)

    def test_an_experiment_without_names_falls_back_to_phase_numbers(self):
        with open(os.path.join(SCRATCH, "BARE.EXP"), "wb") as f:
            f.write(b" EXPR  HTYP1  PXC ".ljust(80) + b"\r\n")
            f.write(b"CRS3    PNAM  Lanthanum strontium manganese cobalt oxide".ljust(80) + b"\r\n")
        for suffix in (".a01", ".b01"):  # named as trov names them when bare is typed
            shutil.copy(os.path.join(SCRATCH, "SAMPLE" + suffix), os.path.join(SCRATCH, "bare" + suffix))
        self.assertEqual(self.plot("-o", "bare.svg", "bare").returncode, 0)
        texts = svg_texts(os.path.join(SCRATCH, "bare.svg"))
        for expected in ("phase 1", "phase 2", "bare", "Histogram 1"):
            self.assertIn(expected, texts)
        self.assertEqual(self.tool.short_name("Lanthanum strontium manganese cobalt oxide"), "Lanthanum strontium…")

    def test_experiment_is_found_in_any_folder_by_the_three_tries(self):
        folder = os.path.join(SCRATCH, "Runs", "Sub")
        os.makedirs(folder, exist_ok=True)
        shutil.copy(os.path.join(SCRATCH, "SAMPLE.EXP"), os.path.join(folder, "SAMPLE.EXP"))
        for suffix in (".a01", ".b01"):
            shutil.copy(os.path.join(SCRATCH, "SAMPLE" + suffix), os.path.join(folder, "sample" + suffix))
        for word in (os.path.join(folder, "sample"), os.path.join("Runs", "Sub", "sample.exp")):
            run = self.plot("-o", "found.svg", word, "1")
            self.assertEqual(run.returncode, 0, run.stderr)

    def test_histograms_not_converted_are_named_and_the_others_drawn(self):
        shutil.copy(os.path.join(SCRATCH, "SAMPLE.EXP"), os.path.join(SCRATCH, "PART.EXP"))
        for suffix in (".a01", ".b01"):
            shutil.copy(os.path.join(SCRATCH, "SAMPLE" + suffix), os.path.join(SCRATCH, "PART" + suffix))
        run = self.plot("PART")
        self.assertEqual((run.returncode, run.stdout.split()), (1, ["PART_01.png"]))
        self.assertIn("PART.a03 missing: run trov first, with the same name (PART)", run.stderr)

    def test_bad_input_ends_with_one_line_naming_it(self):
        with open(os.path.join(SCRATCH, "SAMPLE.a01"), "rb") as f:
            cut = f.read()[:200]  # a full disk stops a line part way
        for name, content in (("EMPTY", b""), ("NOPLOT", None), ("CUT", cut)):
            shutil.copy(os.path.join(SCRATCH, "SAMPLE.EXP"), os.path.join(SCRATCH, name + ".EXP"))
            shutil.copy(os.path.join(SCRATCH, "SAMPLE.b01"), os.path.join(SCRATCH, name + ".b01"))
            if content is not None:
                with open(os.path.join(SCRATCH, name + ".a01"), "wb") as f:
                    f.write(content)
        cases = [
            (["EMPTY", "1"], 1, "EMPTY.a01 is empty"),
            (["NOPLOT", "1"], 1, "cannot open NOPLOT.a01: run trov first, with the same name (NOPLOT)"),
            (["CUT", "1"], 1, "CUT.a01 line 4 is not a line trov writes"),
            (["SAMPLE", "2"], 1, "histogram 02 of SAMPLE.EXP is not a powder histogram"),
            (["SAMPLE", "4"], 1, "SAMPLE.EXP has no histogram 04"),
            (["MISSING"], 1, "cannot open MISSING.exp"),
            (["--frobnicate", "SAMPLE"], 2, "unrecognized arguments: --frobnicate"),
            ([], 2, "EXPNAM is missing ("),
            (["--zoom", "9:1:2", "SAMPLE"], 2, "--zoom must be A:B:N"),
            (["--xrange", "40:20", "SAMPLE"], 2, "--xrange must be A:B"),
            (["--zoom", "20:40:2", "--zoom", "30:50:3", "SAMPLE"], 2, "--zoom ranges 20:40 and 30:50 overlap"),
            (["-o", "figure.gif", "SAMPLE"], 2, "must end in .png, .svg or .pdf"),
            (["SAMPLE", "0"], 2, "'0' is not a histogram number"),
            (["SAMPLE", "x"], 2, "'x' is not a histogram number"),
        ]
        for args, status, message in cases:
            run = self.plot(*args)
            self.assertEqual(run.returncode, status, args)
            self.assertEqual(run.stderr.count("\n"), 1, run.stderr)
            self.assertNotIn("HH", run.stderr)
            self.assertTrue(run.stderr.startswith("trov-plot: ") and message in run.stderr, run.stderr)


class PublishedExperiments(unittest.TestCase):
    def read(self, name):
        with open(os.path.join(DATA, "exp", name), "rb") as f:
            return load_tool().Experiment(f.read())

    def test_names_and_types_are_read_as_they_stand(self):
        tof = self.read("TOF1A-H.EXP")
        self.assertEqual(tof.types, ["PNT "] * 32)
        self.assertEqual([tof.phase_name(n) for n in (1, 2, 3)], ["corundum", "Fluorite", "Zincite"])
        self.assertEqual((tof.title, tof.histogram_names[1], tof.histogram_names[32][-4:]),
                         ("TOF CPD-QPRR 1 a-h", "AL2O3/CAF2/ZN0 1-A", " 1-H"))
        nac = self.read("NAC-2015A.EXP")
        self.assertEqual((nac.types, nac.phase_name(2), nac.phase_name(3)), (["PNT ", "PNT ", "PXC "], "CaF2", "phase 3"))
        self.assertEqual(nac.histogram_names[3], "NAC /nov12/11bmb_1804")
        pbso4 = self.read("PBSO4X.EXP")
        self.assertEqual(pbso4.histogram_names[1], "10.000   0.025 159.00  CPD RRRR   PbSO4  Cu Ka X-ray data  22.9.")
        self.assertEqual((self.read("cpd4.exp").types, self.read("GAPO4_XRAY_BAK.EXP").title), (["PXC ", "ZPF "], ""))


if __name__ == "__main__":
    unittest.main(verbosity=2)
