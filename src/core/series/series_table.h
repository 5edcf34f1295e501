// A series of refinements (a sample heated step by step, a reaction in time): one row per experiment, read from the experiment files alone.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "io/file_handle.h"
#include "gsas/experiment.h"

namespace trov {

struct SeriesRequest {
  // Experiments as trov-export takes them (EXPNAM, any case, with folders
  // or an extension), or folders, each standing for the experiment files
  // in it (in name order).
  std::vector<std::string> words;
  bool sort = false;      // natural order of the names ("run2" before "run10"), else the order given
  std::string x_pattern;  // ECMAScript regular expression: group 1 the number, group 2 its unit; empty: the step
  std::string x_name;     // the series variable's name; empty: "x", or "step" without a pattern
  CodePage code_page = kAnsiCodePage;  // of the words' bytes
};

// What a row keeps of a phase and of a powder histogram.
struct SeriesPhase {
  std::optional<std::string> name;
  std::array<Measured, 6> cell;  // a, b, c, alpha, beta, gamma
  Measured volume;
  std::map<int, double> fractions;  // by histogram
};
struct SeriesHistogram {
  std::optional<double> weighted_r, r, chi2;
};

struct SeriesRow {
  std::string experiment;  // EXPNAM, with its folder where another row has the same name
  std::string file;        // the experiment file read
  std::optional<std::string> title;
  std::optional<double> x;
  std::optional<double> reduced_chi2;
  std::optional<long long> variables;
  std::optional<std::string> last_refinement;
  std::map<int, SeriesPhase> phases;
  std::map<int, SeriesHistogram> histograms;  // the powder ones
};

struct SeriesTable {
  std::string x_name;
  std::optional<std::string> x_unit;  // the pattern's group 2, the same in every row
  std::vector<SeriesRow> rows;
  // One line each, naming the file: a row left out, or a value of a kept
  // row that could not be read. Any of them makes trov-series end with status 1.
  std::vector<std::string> problems;
};

// Whether pattern is a regular expression --x takes (ECMAScript).
bool is_x_pattern(const std::string& pattern);

// Reads every experiment of the request. Throws Fatal for a request that
// cannot be carried out (a pattern that is not a regular expression, a
// folder that cannot be listed); a file that cannot be read, or is no
// experiment, is a problem of the table and leaves its row out.
SeriesTable read_series(const SeriesRequest& request);

// The table as CSV (a header row of names and units, then a row per
// experiment; a phase or histogram an experiment lacks leaves its cells
// empty) and as JSON: docs/formats.md describes both.
std::string series_csv(const SeriesTable& table);
std::string series_json(const SeriesTable& table);

// The table column by column, as the CSV has it: each column's header, what
// its cells hold, and its cells, one a row. A cell is empty or of its
// column's kind: text (UTF-8, as the CSV writes it), a number, or a count
// (the variables).
using SeriesCell = std::variant<std::monostate, double, long long, std::string>;
enum class SeriesKind { kText, kNumber, kCount };
struct SeriesColumn {
  std::string header;
  SeriesKind kind;
  std::vector<SeriesCell> cells;
};
std::vector<SeriesColumn> series_columns(const SeriesTable& table);

// Reads the request's experiments and writes the table's CSV to csv_path and
// its JSON beside it (series_json_name), both or neither (Fatal naming the
// file that failed), the same bytes as series_csv and series_json. Each
// experiment is read twice, for the columns and then for its row, so that
// the memory needed is one row's whatever the series' length.
struct SeriesWritten {
  std::string json;                   // the JSON's name
  std::vector<std::string> problems;  // as SeriesTable's
  long long rows = 0;
};
SeriesWritten write_series(const SeriesRequest& request, const std::string& csv_path);
// The JSON beside a CSV: NAME.csv's is NAME.json; a name without an extension gets .json added.
std::string series_json_name(const std::string& csv_path);

// a < b in natural order: runs of digits compare as numbers, the rest byte by byte.
bool natural_less(const std::string& a, const std::string& b);

}  // namespace trov
