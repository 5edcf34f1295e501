"""The Python module trov against the programs: every value read_profile gives is the one
trov-export writes, read_experiment's facts are its JSON summary's, series is trov-series'
table, and every failure is a trov.Error with the programs' message, on any input.

Run by CTest (python3 -m pytest), which sets PYTHONPATH to the built package and names the
programs: TROV_EXPORT, TROV_SERIES, TROV_TESTS (for the golden experiments), MAKE_SAMPLE,
TROV_TEST_DATA, TROV_SCRATCH. TROV_FUZZ_CORPUS, when set, is a folder of experiment files
(the experiment fuzzer's corpus) replayed through the module too.
"""

import csv
import json
import os
import random
import shutil
import subprocess
import warnings

import numpy as np
import pytest

import trov

SCRATCH = os.environ["TROV_SCRATCH"]
TEST_DATA = os.environ["TROV_TEST_DATA"]


def run(program, *args, cwd):
    return subprocess.run([os.environ[program], *args], cwd=cwd, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)


def scratch(name):
    path = os.path.join(SCRATCH, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


@pytest.fixture(scope="session")
def golden():
    """The golden experiments (NaN, infinities, every axis, cut files) and the sample,
    each in a folder of its own with its profiles: {name: (folder, word)}."""
    keep = scratch("golden_kept")
    subprocess.run([os.environ["TROV_TESTS"], "--gtest_filter=GoldenOutput.EveryFileIsTheReferenceBuildsByteForByte"],
                   env={**os.environ, "TROV_GOLDEN_KEEP": keep}, check=True, capture_output=True)
    out = {}
    for name in sorted(os.listdir(keep)):
        folder = scratch(os.path.join("golden", name))
        for f in os.listdir(os.path.join(keep, name)):
            if f.lower().endswith(".exp") or f.lower()[-4:-2] == ".p":
                shutil.copy(os.path.join(keep, name, f), folder)
        words = [f[:-4] for f in os.listdir(folder) if f.lower().endswith(".exp")]
        if len(words) == 1:
            out[name] = (folder, words[0])
    sample = scratch("golden/made_sample")
    subprocess.run([os.environ["MAKE_SAMPLE"], sample], check=True, capture_output=True)
    out["made_sample"] = (sample, "SAMPLE")
    return out


def csv_rows(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.reader(f))


def assert_column(texts, column, single=False, where=""):
    """texts: a CSV column; column: what the module gives for it, masked where a cell is empty."""
    mask = np.ma.getmaskarray(column) if np.ma.isMaskedArray(column) else np.zeros(len(column), bool)
    data = np.ma.getdata(column)
    assert len(data) == len(texts), where
    empty = np.array([t == "" for t in texts], dtype=bool)
    assert (empty == mask).all(), f"{where}: empty cells differ from the mask"
    expected = np.array([float(t) if t else np.nan for t in texts])
    if single:
        expected = expected.astype(np.float32)
        assert data.dtype == np.float32, where
    same = ((expected == data) & (np.signbit(expected) == np.signbit(data))) | (np.isnan(expected) & np.isnan(data)) | empty
    if not same.all():
        i = int(np.argmin(same))
        pytest.fail(f"{where}: row {i} is {texts[i]!r} in the CSV, {data[i]!r} in the module")


POSITION_HEADERS = {"2theta (deg)", "TOF (us)", "energy (keV)", "position"}
KEYS = {"d (A)": "d", "Q (1/A)": "Q"}


def key_of(header):
    return "position" if header in POSITION_HEADERS else KEYS.get(header, header)


def test_every_column_of_every_histogram_is_what_trov_export_writes(golden):
    compared = 0
    for name, (folder, word) in golden.items():
        out = scratch(os.path.join("export", name))
        listed = run("TROV_EXPORT", "--list", word, cwd=folder)
        exported = run("TROV_EXPORT", "-o", out, word, cwd=folder)
        if listed.returncode != 0:
            continue
        histograms = json.loads(listed.stdout)["histograms"]
        read, errors = {}, []
        cwd = os.getcwd()
        os.chdir(folder)
        try:
            for h in histograms:
                try:
                    read[h["number"]] = trov.read_profile(word, h["number"])
                except trov.Error as error:
                    errors.append(str(error))
        finally:
            os.chdir(cwd)
        if errors:
            # The export fails at the first histogram the module cannot read, and says the same.
            assert exported.returncode == 1 and exported.stderr == f"trov-export: {errors[0]}\n", name
            continue
        assert exported.returncode == 0, exported.stderr
        for h in histograms:
            profile = read[h["number"]]
            points = csv_rows(os.path.join(out, os.path.basename(h["points_file"])))
            header, rows = points[0], points[1:]
            assert list(profile) == [key_of(c) for c in header], name
            for i, column in enumerate(header):
                texts = [r[i] for r in rows]
                where = f"{name} histogram {h['number']} {column}"
                if column == "fitted":
                    assert profile["fitted"].dtype == bool
                    assert [t == "1" for t in texts] == profile["fitted"].tolist(), where
                else:
                    assert_column(texts, profile[key_of(column)], single=column in ("scale", "auxiliary"), where=where)
            ticks = csv_rows(os.path.join(out, os.path.basename(h["ticks_file"])))
            header, rows = ticks[0], ticks[1:]
            assert list(profile.ticks) == [key_of(c) for c in header], name
            for i, column in enumerate(header):
                texts = [r[i] for r in rows]
                got = profile.ticks[key_of(column)]
                if column in ("marker", "phase"):
                    assert [str(v) for v in got] == texts, f"{name} ticks {column}"
                elif column == "fitted":
                    assert [t == "1" for t in texts] == got.tolist()
                else:
                    assert_column(texts, got, where=f"{name} ticks {column}")
            compared += 1
    assert compared >= 10


def test_the_experiment_holds_the_facts_of_the_json_summary(golden):
    compared = 0
    for name, (folder, word) in golden.items():
        out = scratch(os.path.join("summary", name))
        if run("TROV_EXPORT", "-o", out, word, cwd=folder).returncode != 0:
            continue
        summary = json.load(open(os.path.join(out, os.path.basename(word) + ".json"), encoding="utf-8"))
        listed = json.loads(run("TROV_EXPORT", "--list", word, cwd=folder).stdout)
        cwd = os.getcwd()
        os.chdir(folder)
        try:
            e = trov.read_experiment(word)
        finally:
            os.chdir(cwd)
        assert e.file == listed["experiment"]
        for key in ("title", "reduced_chi2", "variables"):
            assert getattr(e, key) == summary.get(key), f"{name} {key}"
        assert list(e.phases) == [int(n) for n in summary["phases"]]
        for n, p in summary["phases"].items():
            phase = e.phases[int(n)]
            assert (phase.number, phase.name, phase.cell, phase.volume, phase.volume_su, phase.space_group, phase.atoms) == \
                (int(n), p.get("name"), p.get("cell", {}), p.get("volume"), p.get("volume_su"), p.get("space_group"),
                 p.get("atoms", []))
            assert phase.fractions == {int(k): v for k, v in p.get("fractions", {}).items()}
        assert [h.number for h in e.histograms] == [h["number"] for h in summary["histograms"]]
        profiles = {h["number"]: h["profile"] for h in listed["histograms"]}
        for histogram, h in zip(e.histograms, summary["histograms"]):
            for key in ("type", "name", "instrument", "position_unit", "points_file", "ticks_file"):
                assert getattr(histogram, key) == h.get(key), f"{name} {key}"
            for key in ("constants", "statistics", "reflections"):
                assert getattr(histogram, key) == h.get(key, {}), f"{name} {key}"
            assert histogram.range == ((h["range"]["min"], h["range"]["max"]) if "range" in h else None)
            assert histogram.profile == profiles[h["number"]]
        compared += 1
    assert compared >= 5


def test_the_published_experiments_read_as_the_summary_says(tmp_path):
    """The real refinements: the summary needs the profiles, which empty files stand for."""
    for f in sorted(os.listdir(os.path.join(TEST_DATA, "exp"))):
        if not f.lower().endswith(".exp"):
            continue
        shutil.copy(os.path.join(TEST_DATA, "exp", f), tmp_path)
        word = f[:-4]
        e = trov.read_experiment(tmp_path / f)
        for h in e.histograms:
            open(tmp_path / f"{word}.p{h.number:02d}", "wb").close()
        out = tmp_path / f"{word}_export"
        exported = run("TROV_EXPORT", "-o", str(out), word, cwd=tmp_path)
        assert exported.returncode == 0, exported.stderr
        summary = json.load(open(out / f"{word}.json", encoding="utf-8"))
        assert e.title == summary.get("title") and e.reduced_chi2 == summary.get("reduced_chi2")
        assert {n: p.name for n, p in e.phases.items()} == {int(n): p.get("name") for n, p in summary["phases"].items()}
        assert [h.statistics for h in e.histograms] == [h.get("statistics", {}) for h in summary["histograms"]]
        assert all(len(trov.read_profile(tmp_path / word, h.number)["position"]) == 0 for h in e.histograms)
    assert trov.read_experiment(os.path.join(TEST_DATA, "exp", "PBSO4X.EXP")).last_refinement is not None


def series_cells_match(table, rows, header):
    assert list(table) == header
    for i, column in enumerate(header):
        texts = [r[i] for r in rows]
        got = table[column]
        if got.dtype == object:
            assert [v if v is not None else "" for v in got] == texts, column
            assert all(v is None for v, t in zip(got, texts) if t == "")
        elif got.dtype == np.int64:
            assert [str(v) if v is not np.ma.masked else "" for v in got] == texts, column
        else:
            assert_column(texts, got, where=column)


@pytest.mark.parametrize("options, keywords", [
    ([], {}),
    (["--sort", "--x", r"(\d+(?:\.\d+)?) *(K|C)\b", "--x-name", "T"], {"sort": True, "x": r"(\d+(?:\.\d+)?) *(K|C)\b", "x_name": "T"}),
])
def test_the_series_is_trov_series_table(golden, tmp_path, options, keywords):
    folder = tmp_path / "runs"
    folder.mkdir()
    for f in os.listdir(os.path.join(TEST_DATA, "exp")):
        if f.lower().endswith(".exp"):
            shutil.copy(os.path.join(TEST_DATA, "exp", f), folder)
    (folder / "junk.exp").write_bytes(b"no experiment\n")
    special, word = golden["special"]
    words = [str(folder), os.path.join(special, word), str(tmp_path / "missing")]
    written = run("TROV_SERIES", "-o", str(tmp_path / "series.csv"), *options, *words, cwd=tmp_path)
    assert written.returncode == 1
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        table = trov.series(words, **keywords)
    said = [f"trov-series: {w.message}" for w in caught if issubclass(w.category, trov.SeriesWarning)]
    assert said == written.stderr.splitlines()[:len(said)] and said
    rows = csv_rows(tmp_path / "series.csv")
    series_cells_match(table, rows[1:], rows[0])


ERRORS = [
    # (what is there, the word, the histogram, trov-export's arguments or None when it refuses them itself)
    ("nothing", "NOTHERE", 1, ["NOTHERE"]),
    ("experiment only", "SAMPLE", 1, ["--histogram", "1", "SAMPLE"]),
    ("sample", "SAMPLE", 2, ["--histogram", "2", "SAMPLE"]),
    ("sample", "SAMPLE", 9, ["--histogram", "9", "SAMPLE"]),
    ("sample", "sample.exp", 3, None),
    ("sample", "SAMPLE", 0, None),
    ("sample", "SAMPLE", -5, None),
    ("profile is a folder", "SAMPLE", 1, ["--histogram", "1", "SAMPLE"]),
    ("profile is a pipe", "SAMPLE", 1, ["--histogram", "1", "SAMPLE"]),
    ("experiment is a folder", "SAMPLE", 1, ["SAMPLE"]),
]


@pytest.mark.parametrize("setup, word, histogram, export_args", ERRORS, ids=[f"{e[0]}-{e[2]}" for e in ERRORS])
def test_failures_are_errors_with_the_programs_message(golden, tmp_path, setup, word, histogram, export_args):
    folder, _ = golden["made_sample"]
    if setup != "nothing":
        if setup == "experiment is a folder":
            os.mkdir(tmp_path / "SAMPLE.EXP")
        else:
            shutil.copy(os.path.join(folder, "SAMPLE.EXP"), tmp_path)
    if setup in ("sample", "profile is a folder", "profile is a pipe"):
        shutil.copy(os.path.join(folder, "SAMPLE.P03"), tmp_path)
    if setup == "sample":
        shutil.copy(os.path.join(folder, "SAMPLE.P01"), tmp_path)
    if setup == "profile is a folder":
        os.mkdir(tmp_path / "SAMPLE.P01")
    if setup == "profile is a pipe":
        os.mkfifo(tmp_path / "SAMPLE.P01")
    cwd = os.getcwd()
    os.chdir(tmp_path)
    try:
        if histogram == 3:
            assert len(trov.read_profile(word, histogram)["position"]) > 0
            return
        with pytest.raises(trov.Error) as raised:
            trov.read_profile(word, histogram)
    finally:
        os.chdir(cwd)
    assert isinstance(raised.value, OSError)
    assert "\n" not in str(raised.value)
    if export_args is not None:
        exported = run("TROV_EXPORT", *export_args, cwd=tmp_path)
        assert exported.returncode == 1 and exported.stderr == f"trov-export: {raised.value}\n"
    else:
        assert str(raised.value) == f"SAMPLE.EXP has no histogram {histogram}"


@pytest.mark.parametrize("call", [
    lambda: trov.read_profile("SAMPLE", "1"),
    lambda: trov.read_profile("SAMPLE", True),
    lambda: trov.read_profile("SAMPLE", 1.0),
    lambda: trov.read_experiment(None),
    lambda: trov.read_experiment(3),
])
def test_arguments_of_the_wrong_type_are_type_errors(call):
    with pytest.raises(TypeError):
        call()


def test_a_bad_pattern_is_an_error_and_a_name_leads_back_to_its_file(golden, tmp_path):
    folder, _ = golden["made_sample"]
    with pytest.raises(trov.Error):
        trov.series([folder], x="(unclosed")
    # A folder whose name is not UTF-8: the names given back open the files.
    odd = os.fsencode(tmp_path) + b"/caf\xe9"
    os.mkdir(odd)
    for f in ("SAMPLE.EXP", "SAMPLE.P01"):
        shutil.copy(os.path.join(folder, f), os.fsdecode(odd))
    e = trov.read_experiment(odd + b"/sample")
    assert e.file == os.fsdecode(odd + b"/SAMPLE.EXP") and os.path.isfile(e.file)
    assert e.histograms[0].profile == os.fsdecode(odd + b"/SAMPLE.P01") and os.path.isfile(e.histograms[0].profile)
    assert e.histograms[1].profile is None
    assert len(trov.read_profile(os.fsdecode(odd) + "/SAMPLE.EXP", 1)["observed"]) > 0


def mutations(data, rng, count):
    """Cut, flipped, shuffled and padded versions of an experiment file."""
    for _ in range(count):
        b = bytearray(data)
        kind = rng.randrange(5)
        if kind == 0 and b:
            del b[rng.randrange(len(b)):]
        elif kind == 1:
            for _ in range(rng.randrange(1, 40)):
                if b:
                    b[rng.randrange(len(b))] = rng.randrange(256)
        elif kind == 2:
            lines = bytes(b).split(b"\n")
            rng.shuffle(lines)
            b = bytearray(b"\n".join(lines))
        elif kind == 3 and b:
            at = rng.randrange(len(b))
            b[at:at] = rng.choice([b"\r", b"\n", b"\0", b" EXPR  HTYP", b"nan ", b"1e999 ", b"-"]) * rng.randrange(1, 9)
        else:
            b = bytearray(rng.randbytes(rng.randrange(400)))
        yield bytes(b)


def test_no_input_crashes_the_module(golden, tmp_path):
    rng = random.Random(20261209)
    seeds = [open(os.path.join(folder, word + ".EXP") if os.path.exists(os.path.join(folder, word + ".EXP"))
                  else os.path.join(folder, word + ".exp"), "rb").read() for folder, word in golden.values()]
    seeds += [open(os.path.join(TEST_DATA, "exp", f), "rb").read() for f in os.listdir(os.path.join(TEST_DATA, "exp"))
              if f.lower().endswith(".exp")]
    inputs = [m for s in seeds for m in mutations(s, rng, 40)]
    corpus = os.environ.get("TROV_FUZZ_CORPUS")
    if corpus:
        inputs += [open(os.path.join(corpus, f), "rb").read() for f in sorted(os.listdir(corpus))]
    for i, data in enumerate(inputs):
        folder = tmp_path / str(i % 50)
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir()
        (folder / "X.EXP").write_bytes(data)
        for h in (1, 2):
            (folder / f"X.P{h:02d}").write_bytes(rng.randbytes(rng.choice([0, 36, 511, 512, 4096 + rng.randrange(512)])))
        for call in (lambda: trov.read_experiment(folder / "X"), lambda: trov.read_profile(folder / "X", 1),
                     lambda: trov.read_profile(folder / "X", 2), lambda: trov.read_profile(folder / "X", 100)):
            try:
                call()
            except trov.Error:
                pass
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", trov.SeriesWarning)
        trov.series([tmp_path / str(i) for i in range(min(50, len(inputs)))])
