"""Tests of trov-export's powder CIF with the field's own tools: cod-tools' cif_validate and gemmi
validate against the IUCr's DDL1 core and powder dictionaries, and PyCifRW and gemmi's reader giving
back the values of trov-export's CSV files, column by column."""
import csv
import glob
import json
import math
import os
import re
import shutil
import subprocess
import unittest

import numpy as np

from generated_profiles import write_profile

SCRATCH = os.environ["TROV_SCRATCH"]
EXPORT = os.environ["TROV_EXPORT"]
DICTIONARIES = os.path.join(os.environ["TROV_TEST_DATA"], "cif")
PUBLISHED = os.path.join(os.environ["TROV_TEST_DATA"], "exp")

# Positions (centidegrees or microseconds) and phases of each published
# experiment's powder histograms: their data ranges, fewer points.
PUBLISHED_PROFILES = {
    "PBSO4X.EXP": [(1000, 15997.5, 1500, 1)],
    "GAPO4_XRAY_BAK.EXP": [(50, 2499, 800, 1)],
    "NAC-2015A.EXP": [(6778, 103794, 1200, 2), (25984, 207569, 900, 2), (50, 4999.96, 1500, 2)],
    "TOF1A-H.EXP": [(2000, 20000, 120, 3)] * 32,
    "cpd4.exp": [(1000, 14998, 1200, 3), None],  # histogram 2 is not a powder one
}


def merged_dictionary():
    """The core and powder dictionaries in one file, as gemmi and PyCifRW
    need them; the powder one's header block renamed, or the names clash."""
    path = os.path.join(SCRATCH, "cif_core_pd.dic")
    if not os.path.exists(path):
        with open(path, "w", encoding="latin-1") as out:
            for name in ("cif_core.dic", "cif_pd.dic"):
                with open(os.path.join(DICTIONARIES, name), encoding="latin-1") as f:
                    text = f.read()
                if name == "cif_pd.dic":
                    text = re.sub(r"(?m)^data_on_this_dictionary", "data_on_this_dictionary_pd", text)
                out.write(text + "\n")
    return path


def export(folder, name):
    run = subprocess.run([EXPORT, "--cif", name], cwd=folder, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    return os.path.join(folder, name.split(".")[0] + ".cif")


def damaged(text):
    """An experiment whose phase records are cut, hold text where numbers
    belong, or are gone: the CIF must stay valid without those items."""
    out = []
    for line in text.splitlines(keepends=True):
        record = line.rstrip("\r\n")
        if record.startswith("CRS1  ABC   "):
            record = record[:25]  # a, and b cut in its middle
        elif record.startswith("CRS1  ANGLES"):
            record = record[:12] + "   ninety  " + record[23:]
        elif record.startswith("CRS1  CELVOL"):
            record = "CRS1  CELVOL    ********   -0.5"
        elif record.startswith("CRS1  AT  1A"):
            record = record[:30] + "x" + record[31:]
        elif record.startswith("CRS1  AT  2B"):
            continue
        elif record.startswith("CRS1  SG SYM"):
            continue
        out.append(record + line[len(line.rstrip("\r\n")):])
    return "".join(out)


def cases():
    """Each experiment to check, exported: folder -> CIF file."""
    done = os.path.join(SCRATCH, "cases")
    if os.path.isdir(done):
        return sorted(glob.glob(os.path.join(done, "*", "*.cif")))
    folder = done + ".partial"  # renamed once whole, so that a failed set-up is not taken for one
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    sample = os.path.join(folder, "sample")
    subprocess.run([os.environ["MAKE_SAMPLE"], sample], check=True, stdout=subprocess.DEVNULL)
    export(sample, "SAMPLE")
    # The golden experiments: special values in every word, random bit patterns, cut files. (Whether
    # their bytes are the reference build's is that test's own business.)
    golden = os.path.join(SCRATCH, "golden")
    shutil.rmtree(golden, ignore_errors=True)
    subprocess.run([os.environ["TROV_TESTS"], "--gtest_filter=GoldenOutput.EveryFileIsTheReferenceBuildsByteForByte"],
                   env=dict(os.environ, TROV_GOLDEN_KEEP=golden), stdout=subprocess.DEVNULL)
    golden_cifs = glob.glob(os.path.join(golden, "*", "*.cif"))
    assert len(golden_cifs) == 5, golden_cifs
    for cif in golden_cifs:
        target = os.path.join(folder, "golden_" + os.path.basename(os.path.dirname(cif)))
        shutil.copytree(os.path.dirname(cif), target)
    for seed, (name, histograms) in enumerate(PUBLISHED_PROFILES.items()):
        for variant in ("published", "damaged"):
            target = os.path.join(folder, variant + "_" + name.split(".")[0])
            os.makedirs(target)
            with open(os.path.join(PUBLISHED, name), newline="", encoding="latin-1") as f:
                text = f.read()
            with open(os.path.join(target, name), "w", newline="", encoding="latin-1") as f:
                f.write(damaged(text) if variant == "damaged" else text)
            stem = name.split(".")[0]
            for h, profile in enumerate(histograms, 1):
                if profile:
                    low, high, n, phases = profile
                    write_profile(os.path.join(target, "%s.P%02d" % (stem.upper(), h)), np.linspace(low, high, n), phases,
                                  seed * 100 + h, background=h % 2 == 1, scale=1.0 if h % 3 else 0.37)
            export(target, stem)
    os.rename(folder, done)
    return cases()


def validator_complaints(output):
    """The lines of a validator's output that report a fault: both may report
    one and still exit 0, and both print notes that are no fault (a name of
    another dictionary, such as _trov_phase_fraction)."""
    return [line for line in output.splitlines() if line.strip() and not re.search(r"\bNOTE\b|^Note:", line)]


class Validators(unittest.TestCase):
    def test_cod_tools_and_gemmi_find_no_error_or_warning(self):
        dictionaries = ",".join(os.path.join(DICTIONARIES, d) for d in ("cif_core.dic", "cif_pd.dic"))
        for cif in cases():
            with self.subTest(cif=os.path.relpath(cif, SCRATCH)):
                run = subprocess.run(["cif_validate", "-d", dictionaries, cif], capture_output=True, text=True)
                self.assertEqual((run.returncode, validator_complaints(run.stdout + run.stderr)), (0, []))
                run = subprocess.run(["gemmi", "validate", "-d", merged_dictionary(), cif], capture_output=True, text=True)
                self.assertEqual((run.returncode, validator_complaints(run.stdout + run.stderr)), (0, []))

    def test_pycifrw_validates_the_sample_and_a_published_joint_refinement(self):
        import CifFile
        dictionary = CifFile.CifDic(merged_dictionary(), grammar="1.1")
        for cif in cases():
            if not re.search(r"/(sample|published_NAC-2015A|damaged_PBSO4X)/", cif):
                continue
            with self.subTest(cif=os.path.relpath(cif, SCRATCH)):
                result = CifFile.Validate(CifFile.ReadCif(cif, grammar="1.1"), dic=dictionary)
                report = CifFile.validate_report(result)
                self.assertNotIn("INVALID", report, report)


def number(text):
    """A CIF number as a float, its s.u. apart: '589(24)' -> (589.0, 24.0);
    '?' -> (None, None)."""
    if text in ("?", "."):
        return None, None
    match = re.fullmatch(r"([-+0-9.eE]+)(?:\((\d+)\))?", text)
    value = float(match.group(1))
    if match.group(2) is None:
        return value, None
    mantissa = match.group(1).split("e")[0].split("E")[0]
    places = len(mantissa.split(".")[1]) if "." in mantissa else 0
    return value, int(match.group(2)) * 10.0 ** -places


def csv_columns(path):
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    header, body = rows[0], rows[1:]
    return {name: [row[i] for row in body] for i, name in enumerate(header)}


def csv_value(text):
    return float(text) if text != "" else None


def pycifrw_loops(path):
    import CifFile
    cf = CifFile.ReadCif(path, grammar="1.1")
    return {name: {key: list(block[key]) for key in block.keys() if key.startswith("_pd_") and
                   isinstance(block[key], list)} for name, block in ((n, cf[n]) for n in cf.keys())}


def gemmi_loops(path):
    out = path + ".json"
    subprocess.run(["gemmi", "cif2json", "-c", path, out], check=True)
    with open(out, encoding="utf-8") as f:
        data = json.load(f)["CIF-JSON"]
    return {name: {key: [str(v) for v in values] for key, values in block.items()
                   if isinstance(values, list) and key.startswith("_pd_")}
            for name, block in data.items() if name != "Metadata"}


class ValuesAsTheCsv(unittest.TestCase):
    """Each loop's column equals the CSV's, read back by two readers nobody here wrote."""

    def compare(self, cif, loops):
        folder = os.path.dirname(cif)
        with open(cif[:-4] + ".json", encoding="utf-8") as f:
            summary = json.load(f)
        for histogram in summary["histograms"]:
            if "points_file" not in histogram:
                continue
            columns = csv_columns(os.path.join(folder, histogram["points_file"]))
            block = next(b for name, b in loops.items() if name.lower().endswith("_hist_%02d" % histogram["number"]))
            with self.subTest(cif=os.path.relpath(cif, SCRATCH), histogram=histogram["number"]):
                block = {k.lower(): v for k, v in block.items()}
                position = next(k for k in columns if k.split(" ")[0] in ("2theta", "TOF", "energy", "position"))
                observed_name = "_pd_proc_intensity_total" if "_pd_proc_intensity_total" in block else "_pd_meas_intensity_total"
                observed = [number(v) for v in block[observed_name]]
                self.assertEqual(len(observed), len(columns["observed"]))
                for name in ("_pd_meas_2theta_scan", "_pd_meas_time_of_flight"):
                    if name in block:
                        self.assertEqual([number(v)[0] for v in block[name]], [csv_value(v) for v in columns[position]])
                self.assertEqual([v for v, _ in observed], [csv_value(v) for v in columns["observed"]])
                for (_, su), sigma in zip(observed, columns["sigma"]):
                    if su is not None:
                        self.assertAlmostEqual(su, float(sigma), delta=max(0.051 * float(sigma), 1e-300))
                self.assertEqual([number(v)[0] for v in block["_pd_calc_intensity_total"]],
                                 [csv_value(v) for v in columns["calculated"]])
                if "_pd_proc_intensity_bkg_calc" in block:
                    # The CSV writes the words as floats: their product in double.
                    background = [float(np.float32(a)) * float(np.float32(s)) for a, s in zip(columns["auxiliary"], columns["scale"])]
                    self.assertEqual([number(v)[0] for v in block["_pd_proc_intensity_bkg_calc"]], background)
                for w, sigma, fitted in zip(block["_pd_proc_ls_weight"], columns["sigma"], columns["fitted"]):
                    if fitted == "0":
                        self.assertEqual(w, "0")
                    else:
                        self.assertAlmostEqual(float(w) * float(sigma) ** 2, 1.0, delta=1e-12)

    def finite_cases(self):
        # The golden experiments hold NaN and infinite words, which CIF writes "?": compared where they are published.
        return [c for c in cases() if "/golden_" not in c]

    def test_pycifrw_reads_back_the_csv_values(self):
        for cif in self.finite_cases():
            self.compare(cif, pycifrw_loops(cif))

    def test_gemmi_reads_back_the_csv_values(self):
        for cif in self.finite_cases():
            self.compare(cif, gemmi_loops(cif))


if __name__ == "__main__":
    unittest.main()
