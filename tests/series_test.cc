// Tests of a series of refinements in one table: published experiments with known cells, the series variable, the order, and bad input.
#include "series/series_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/gsas_writer.h"
#include "testing/run_program.h"
#include "testing/scratch.h"

namespace trov {
namespace {

using testing::Scratch;
using testing::record;

std::string published(const std::string& file) {
  return testing::read_file(std::string(TROV_TEST_DATA) + "/exp/" + file);
}

// The experiment with the records whose key (their first 12 columns) is
// given replaced: bytes as the refinement package lays them out, CR LF.
std::string with_records(std::string bytes, const std::vector<std::string>& replacements) {
  for (const std::string& text : replacements) {
    const std::string key = text.substr(0, 12);
    const std::size_t at = bytes.find("\n" + key);
    EXPECT_NE(at, std::string::npos) << key;
    if (at != std::string::npos) bytes.replace(at + 1, 80, record(text).substr(0, 80));
  }
  return bytes;
}

// The CSV's rows as fields (no field of these tables is quoted).
std::vector<std::vector<std::string>> rows_of(const std::string& csv) {
  std::vector<std::vector<std::string>> rows;
  std::size_t start = 0;
  for (std::size_t end; (end = csv.find('\n', start)) != std::string::npos; start = end + 1) {
    std::vector<std::string> fields;
    const std::string line = csv.substr(start, end - start);
    std::size_t from = 0;
    for (std::size_t comma; (comma = line.find(',', from)) != std::string::npos; from = comma + 1) {
      fields.push_back(line.substr(from, comma - from));
    }
    fields.push_back(line.substr(from));
    rows.push_back(fields);
  }
  return rows;
}

// The column named header in row (1: the first experiment).
std::string cell(const std::vector<std::vector<std::string>>& rows, std::size_t row, const std::string& header) {
  for (std::size_t i = 0; i < rows[0].size(); ++i) {
    if (rows[0][i] == header) return rows[row][i];
  }
  ADD_FAILURE() << "no column " << header;
  return "";
}

TEST(Series, KnownCellsOfAHeatingSeriesAreReadBackExactly) {
  Scratch scratch;
  // PbSO4 heated: each step's cell and title written in, the rest as published.
  struct Step {
    const char* title;
    const char* abc;
    const char* abcsig;
    const char* volume;
  } steps[] = {
      {"PbSO4 at 295 K", "CRS1  ABC     8.482371  5.400051  6.961979", "CRS1  ABCSIG  0.000117  0.000077  0.000100",
       "CRS1  CELVOL        318.895          0.009"},
      {"PbSO4 at 373.5 K", "CRS1  ABC     8.497000  5.409125  6.973001", "CRS1  ABCSIG  0.000120  0.000080  0.000101",
       "CRS1  CELVOL        320.512          0.011"},
      {"PbSO4 at 1073 K", "CRS1  ABC     8.612345  5.467890  7.049876", "CRS1  ABCSIG  0.001000  0.000900  0.001100",
       "CRS1  CELVOL        331.947          0.150"},
  };
  SeriesRequest request;
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const std::string name = "HEAT" + std::to_string(i + 1) + ".EXP";
    scratch.write(name, with_records(published("PBSO4X.EXP"), {std::string("      DESCR   ") + steps[i].title, steps[i].abc,
                                                                steps[i].abcsig, steps[i].volume}));
    request.words.push_back(scratch.path(name));
  }
  request.x_pattern = R"((\d+(?:\.\d+)?) ?(K|°C|h|min|GPa))";
  request.x_name = "T";
  const SeriesTable table = read_series(request);
  EXPECT_EQ(table.problems, std::vector<std::string>{});
  const auto rows = rows_of(series_csv(table));
  ASSERT_EQ(rows.size(), 4U);
  const std::vector<std::vector<std::string>> expected = {
      {"295", "8.482371", "0.000117", "5.400051", "7.7e-05", "6.961979", "1e-04", "318.895", "0.009"},
      {"373.5", "8.497", "0.00012", "5.409125", "8e-05", "6.973001", "0.000101", "320.512", "0.011"},
      {"1073", "8.612345", "0.001", "5.46789", "9e-04", "7.049876", "0.0011", "331.947", "0.15"},
  };
  const std::string p = "phase 1 pbso4: ";
  for (std::size_t r = 1; r <= 3; ++r) {
    const std::vector<std::string> got = {cell(rows, r, "T (K)"), cell(rows, r, p + "a (A)"), cell(rows, r, p + "a su (A)"),
                                          cell(rows, r, p + "b (A)"), cell(rows, r, p + "b su (A)"), cell(rows, r, p + "c (A)"),
                                          cell(rows, r, p + "c su (A)"), cell(rows, r, p + "V (A^3)"), cell(rows, r, p + "V su (A^3)")};
    EXPECT_EQ(got, expected[r - 1]) << r;
    EXPECT_EQ(cell(rows, r, "experiment"), "HEAT" + std::to_string(r));
    EXPECT_EQ(cell(rows, r, "histogram 1: wRp"), "0.1243");
    EXPECT_EQ(cell(rows, r, "reduced chi2"), "6.333");
    EXPECT_EQ(cell(rows, r, "variables"), "11");
    EXPECT_EQ(cell(rows, r, "last refinement"), "2011-10-12T09:06:30");
    EXPECT_EQ(cell(rows, r, p + "fraction in histogram 1"), "1");
  }
  const std::string json = series_json(table);
  EXPECT_NE(json.find("\"x\": {\n    \"name\": \"T\",\n    \"unit\": \"K\"\n  }"), std::string::npos) << json.substr(0, 200);
  EXPECT_NE(json.find("\"a_su\": 0.001,"), std::string::npos);
}

TEST(Series, TheSeriesVariableComesFromTheTitleOrAHistogramsName) {
  const std::string pattern = R"((\d+(?:\.\d+)?) ?(K|°C|h|min|GPa))";
  struct Case {
    const char* title;
    const char* histogram_name;
    std::string x;  // the CSV's field
    bool problem;
  } cases[] = {
      {"heated to 450 °C", "bank 1", "450", false},
      {"run 12 of 40", "step at 2.5 GPa", "2.5", false},  // the title's numbers have no unit
      {"after 30min", "x", "30", false},
      {"no number", "none", "", true},  // left empty, and said
  };
  for (const Case& c : cases) {
    Scratch scratch;
    scratch.write("A.EXP", with_records(published("PBSO4X.EXP"),
                                        {std::string("      DESCR   ") + c.title, std::string("HST  1  HNAM  ") + c.histogram_name}));
    SeriesRequest request;
    request.words = {scratch.path("A")};
    request.x_pattern = pattern;
    const SeriesTable table = read_series(request);
    const auto rows = rows_of(series_csv(table));
    EXPECT_EQ(rows[1][2], c.x) << c.title;
    EXPECT_EQ(!table.problems.empty(), c.problem) << c.title;
  }
}

TEST(Series, NaturalOrderComparesNumbersAsNumbers) {
  const std::vector<std::string> sorted = {"run1", "run2", "run10", "run10a", "run010b", "run11", "run100", "s/run1", "s9z", "s10/a"};
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    for (std::size_t j = 0; j < sorted.size(); ++j) {
      EXPECT_EQ(natural_less(sorted[i], sorted[j]), i < j) << sorted[i] << " " << sorted[j];
    }
  }
  EXPECT_TRUE(natural_less("x01", "x1"));  // equal as numbers: by their bytes
  EXPECT_FALSE(natural_less("x1", "x01"));
}

TEST(Series, OrderIsAsGivenOrNaturalAndEachFolderStandsForItsExperiments) {
  Scratch scratch;
  for (const char* name : {"run10.EXP", "run9.exp", "run1.EXP", "notes.txt"}) {
    scratch.write(std::string("heat/") + name, published("PBSO4X.EXP"));
  }
  scratch.write("extra/RUN5.EXP", published("PBSO4X.EXP"));
  const auto names = [&](bool sort) {
    SeriesRequest request;
    request.words = {scratch.path("extra/run5"), scratch.path("heat")};
    request.sort = sort;
    std::vector<std::string> out;
    for (const SeriesRow& row : read_series(request).rows) out.push_back(row.experiment);
    return out;
  };
  // As given, a folder's experiments in the order of their names' bytes.
  EXPECT_EQ(names(false), (std::vector<std::string>{"run5", "run1", "run10", "run9"}));
  EXPECT_EQ(names(true), (std::vector<std::string>{"run5", "run1", "run9", "run10"}));
}

TEST(Series, APhaseOrHistogramAnExperimentLacksLeavesItsCellsEmpty) {
  Scratch scratch;
  scratch.write("one/PBSO4X.EXP", published("PBSO4X.EXP"));   // phase 1, histogram 1
  scratch.write("two/NAC.EXP", published("NAC-2015A.EXP"));  // phases 1 and 2, histograms 1 to 3
  scratch.write("two/PBSO4X.EXP", published("PBSO4X.EXP"));  // the same name in another folder
  SeriesRequest request;
  request.words = {scratch.path("one/PBSO4X"), scratch.path("two/NAC"), scratch.path("two/PBSO4X")};
  const SeriesTable table = read_series(request);
  const auto rows = rows_of(series_csv(table));
  ASSERT_EQ(rows.size(), 4U);
  EXPECT_EQ(cell(rows, 1, "experiment"), scratch.path("one") + "/PBSO4X");  // told apart by their folders
  EXPECT_EQ(cell(rows, 2, "experiment"), "NAC");
  EXPECT_EQ(cell(rows, 3, "experiment"), scratch.path("two") + "/PBSO4X");
  EXPECT_EQ(cell(rows, 1, "phase 2 CaF2: a (A)"), "");
  EXPECT_EQ(cell(rows, 2, "phase 2 CaF2: a (A)"), "5.464617");
  EXPECT_EQ(cell(rows, 1, "histogram 3: wRp"), "");
  EXPECT_EQ(cell(rows, 2, "histogram 3: wRp"), "0.1197");
  for (const auto& row : rows) EXPECT_EQ(row.size(), rows[0].size());
  // Written a row at a time, the same bytes; and a series with no row at all.
  const SeriesWritten written = write_series(request, scratch.path("t.csv"));
  EXPECT_EQ(written.rows, 3);
  EXPECT_EQ(written.json, scratch.path("t.json"));
  EXPECT_EQ(scratch.read("t.csv"), series_csv(table));
  EXPECT_EQ(scratch.read("t.json"), series_json(table));
  request.words = {scratch.path("none/X")};
  const SeriesTable empty = read_series(request);
  EXPECT_EQ(write_series(request, scratch.path("e.csv")).rows, 0);
  EXPECT_EQ(scratch.read("e.json"), series_json(empty));
  EXPECT_EQ(series_json(empty).rfind("{\n  \"x\": {\n    \"name\": \"step\"\n  },\n  \"experiments\": [],\n  \"problems\": [\n    \"", 0), 0U);
}

TEST(Series, BadInputIsNamedInOneLineAndNeverMakesASilentlyShorterTable) {
  const std::string good = published("PBSO4X.EXP");
  const std::size_t cell_record = good.find("CRS1  ABC   ");
  struct Case {
    const char* what;
    std::string bytes;  // none: no such file
    bool kept;
    std::string problem;  // a part of the one line
  } cases[] = {
      {"missing", "", false, "Error opening"},
      {"not an experiment", "just some notes\nabout the run\n", false, "not an experiment file"},
      {"cut inside a record", good.substr(0, cell_record + 30), true, "cut inside a record"},
      {"text in a cell", with_records(good, {"CRS1  ABC     8.48x371  5.400051  6.961979"}), true,
       "phase 1's cell could not be read in full"},
  };
  for (const Case& c : cases) {
    Scratch scratch;
    scratch.write("GOOD.EXP", good);
    if (!c.bytes.empty()) scratch.write("BAD.EXP", c.bytes);
    SeriesRequest request;
    request.words = {scratch.path("GOOD"), scratch.path("BAD"), scratch.path("GOOD")};
    const SeriesTable table = read_series(request);
    EXPECT_EQ(table.rows.size(), c.kept ? 3U : 2U) << c.what;
    ASSERT_EQ(table.problems.size(), 1U) << c.what;
    EXPECT_NE(table.problems[0].find(c.problem), std::string::npos) << table.problems[0];
    EXPECT_NE(table.problems[0].find("BAD."), std::string::npos) << table.problems[0];  // .exp where the case is ignored
    EXPECT_EQ(table.problems[0].find('\n'), std::string::npos);
  }
}

testing::RunResult run_series(const Scratch& scratch, std::initializer_list<std::string> args) {
  return testing::run_trov_in(scratch.path(), std::nullopt, scratch.path("_stdin"), scratch.path("_stdout"),
                              testing::series_command(args), true);
}

TEST(SeriesProgram, WritesTheTableAndItsJsonOrSaysWhatWasLeftOut) {
  Scratch scratch;
  scratch.write("runs/PBSO4X.EXP", published("PBSO4X.EXP"));
  scratch.write("runs/NAC.EXP", published("NAC-2015A.EXP"));
  const testing::RunResult good = run_series(scratch, {"--sort", "-o", "out/t.csv", "runs"});
  EXPECT_EQ(good.status, 1) << good.out;  // the folder out/ does not exist: nothing is written
  EXPECT_FALSE(scratch.exists("out/t.csv"));
  const testing::RunResult written = run_series(scratch, {"--sort", "-o", "t.csv", "runs"});
  EXPECT_EQ(written.status, 0) << written.out;
  std::string said = written.out;
  std::erase(said, '\r');  // Windows' standard output is text
  EXPECT_EQ(said, "t.csv\nt.json\n");
  EXPECT_EQ(rows_of(scratch.read("t.csv")).size(), 3U);
  EXPECT_NE(scratch.read("t.json").find("\"experiment\": \"PBSO4X\""), std::string::npos);
  // A missing experiment: named in one line, the others written, status 1.
  const testing::RunResult missing = run_series(scratch, {"runs/NAC", "runs/GONE"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("trov-series: Error opening runs/GONE.EXP"), std::string::npos) << missing.out;
  EXPECT_EQ(rows_of(scratch.read("series.csv")).size(), 2U);
  const testing::RunResult usage = run_series(scratch, {"--x", "(", "runs"});
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.out.find("is not a regular expression"), std::string::npos) << usage.out;
}

}  // namespace
}  // namespace trov
