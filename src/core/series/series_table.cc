// Reads a series of experiment files into one table, and writes it as CSV and JSON.
#include "series/series_table.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "common/fatal.h"
#include "io/output_set.h"
#include "common/utf8.h"
#include "export/export_experiment.h"
#include "export/export_files.h"
#include "gsas/file_names.h"

namespace trov {

namespace {

namespace fs = std::filesystem;

// An experiment to read: the name to open (found by trov's three tries
// when typed, as listed when from a folder), its EXPNAM and its folder.
struct Source {
  std::string path, expnam, folder;
  bool typed = false;
};

bool ends_with_exp(std::string_view name) {
  if (name.size() <= 4) return false;
  std::string end(name.substr(name.size() - 4));
  for (char& c : end) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return end == ".exp";
}

// The experiment files of a folder, in name order (a listing's own order
// differs from one file system to the next).
std::vector<Source> folder_sources(const fs::path& folder, const std::string& shown, CodePage code_page) {
  std::vector<Source> found;
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error) throw Fatal("Error reading the folder " + shown);
  for (const fs::directory_entry& entry : it) {
    const std::string name = path_text(entry.path().filename(), code_page);
    std::error_code type_error;
    if (!ends_with_exp(name) || !entry.is_regular_file(type_error)) continue;
    found.push_back({path_text(entry.path(), code_page), name.substr(0, name.size() - 4), shown, false});
  }
  std::sort(found.begin(), found.end(), [](const Source& a, const Source& b) { return a.path < b.path; });
  return found;
}

std::vector<Source> sources_of(const SeriesRequest& request) {
  std::vector<Source> sources;
  for (const std::string& word : request.words) {
    std::error_code error;
    const fs::path native = native_path(word, request.code_page);
    if (fs::is_directory(native, error)) {
      for (Source& s : folder_sources(native, word, request.code_page)) sources.push_back(std::move(s));
      continue;
    }
    const std::string_view expnam = cut_experiment_name(word);
    const std::size_t slash = word.find_last_of("/\\");
    sources.push_back({word, std::string(expnam.substr(expnam.find_last_of("/\\") + 1)),
                       slash == std::string::npos ? "" : word.substr(0, slash), true});
  }
  if (request.sort) {
    std::stable_sort(sources.begin(), sources.end(),
                     [](const Source& a, const Source& b) { return natural_less(a.path, b.path); });
  }
  return sources;
}

std::string upper(std::string text) {
  for (char& c : text) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return text;
}

// Opens and reads one experiment; the name of the file read goes to file.
Experiment read_source(const Source& source, CodePage code_page, std::string& file) {
  NameBuffer name{};
  if (source.typed) {
    name = file_name(cut_experiment_name(source.path), ".exp");
  } else {
    if (source.path.size() >= name.size()) throw Fatal("Error opening " + source.path + ": the name is too long");
    std::copy(source.path.begin(), source.path.end(), name.begin());
  }
  InputFile input = open_with_uppercase_retry(name, "rb", code_page, Opening::kRegularFileOnly,
                                              MissingName::kFoldersAsGiven);
  input.limit_size(kMaxExperimentBytes);
  file = name.data();
  return read_experiment(input, ExperimentRecords::kAll);
}

// An experiment's records are 80 columns, each followed by LF, CR LF or
// nothing (the last may lack its line end): a file of another length was
// cut inside a record, and the records after the cut are missing.
bool whole_records(std::uintmax_t size) {
  // (libc++ 13, the WebAssembly build's, has no std::ranges algorithms.)
  static constexpr std::array<std::uintmax_t, 3> kLines = {80, 81, 82};
  return std::any_of(kLines.begin(), kLines.end(), [size](std::uintmax_t line) {
    return size % line == 0 || (size + line - 80) % line == 0;
  });
}

SeriesRow row_of(const Experiment& experiment) {
  SeriesRow row;
  row.title = experiment.title;
  row.reduced_chi2 = experiment.reduced_chi2;
  row.variables = experiment.variables;
  row.last_refinement = experiment.last_refinement;
  for (const auto& [n, phase] : experiment.phases) {
    row.phases[n] = {phase.name, phase.cell, phase.volume, phase.fractions};
  }
  for (const HistogramInfo& h : experiment.histograms) {
    if (!h.type.is_powder()) continue;
    SeriesHistogram& out = row.histograms[h.number];
    out.weighted_r = h.weighted_r;
    out.r = h.r;
    if (h.sum_w_delta2 && h.observations && *h.observations > 0) {
      out.chi2 = *h.sum_w_delta2 / static_cast<double>(*h.observations);
    }
  }
  return row;
}

// The values a kept row lacks where its records stand: each one line.
void check_row(const SeriesRow& row, const std::string& file, std::vector<std::string>& problems) {
  for (const auto& [n, phase] : row.phases) {
    const auto read = std::count_if(phase.cell.begin(), phase.cell.end(), [](const Measured& m) { return m.value.has_value(); });
    if (read > 0 && read < 6) {
      problems.push_back(file + ": phase " + std::to_string(n) + "'s cell could not be read in full; its row is kept");
    }
  }
  for (const auto& [h, histogram] : row.histograms) {
    if (histogram.weighted_r.has_value() != histogram.r.has_value()) {
      problems.push_back(file + ": histogram " + std::to_string(h) +
                         "'s statistics (RPOWD) could not be read in full; its row is kept");
    }
  }
}

// The series variable: the pattern's first match in the title, else in a
// powder histogram's name.
struct XValue {
  std::optional<double> value;
  std::optional<std::string> unit;
};
std::optional<XValue> x_of(const std::regex& pattern, const Experiment& experiment) {
  std::vector<std::string> texts;
  if (experiment.title) texts.push_back(utf8_text(*experiment.title));
  for (const HistogramInfo& h : experiment.histograms) {
    if (h.type.is_powder() && h.name) texts.push_back(utf8_text(*h.name));
  }
  for (const std::string& text : texts) {
    std::smatch match;
    if (!std::regex_search(text, match, pattern) || match.size() < 2 || !match[1].matched) continue;
    const std::string digits = match[1].str();
    char* end = nullptr;
    const double value = std::strtod(digits.c_str(), &end);
    if (digits.empty() || end != digits.c_str() + digits.size()) continue;
    XValue x{value, std::nullopt};
    if (match.size() > 2 && match[2].matched && match[2].length() > 0) x.unit = match[2].str();
    return x;
  }
  return std::nullopt;
}

}  // namespace

bool natural_less(const std::string& a, const std::string& b) {
  const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (is_digit(a[i]) && is_digit(b[j])) {
      // Compare the runs as numbers: leading zeros aside, the longer run is larger.
      std::size_t i_end = i;
      std::size_t j_end = j;
      while (i_end < a.size() && is_digit(a[i_end])) ++i_end;
      while (j_end < b.size() && is_digit(b[j_end])) ++j_end;
      std::size_t i_first = i;
      std::size_t j_first = j;
      while (i_first + 1 < i_end && a[i_first] == '0') ++i_first;
      while (j_first + 1 < j_end && b[j_first] == '0') ++j_first;
      const std::string_view x(a.data() + i_first, i_end - i_first);
      const std::string_view y(b.data() + j_first, j_end - j_first);
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      i = i_end;
      j = j_end;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;  // equal in natural order ("x01", "x1"): by their bytes
}

namespace {

// What reading a series keeps from row to row: the pattern, and the unit the
// first row's x gave (every row's must be the same).
struct SeriesContext {
  std::optional<std::regex> pattern;
  std::string x_name;
  std::optional<std::string> x_unit;
};

}  // namespace

bool is_x_pattern(const std::string& pattern) {
  try {
    const std::regex check(pattern, std::regex::ECMAScript);
    return true;
  } catch (const std::regex_error&) {
    return false;
  }
}

namespace {

SeriesContext context_of(const SeriesRequest& request) {
  SeriesContext context;
  if (!request.x_pattern.empty()) {
    try {
      context.pattern.emplace(request.x_pattern, std::regex::ECMAScript);
    } catch (const std::regex_error&) {
      throw Fatal("'" + request.x_pattern + "' is not a regular expression");
    }
  }
  context.x_name = !request.x_name.empty() ? request.x_name : context.pattern ? "x" : "step";
  return context;
}

// The row of one experiment (step: its place in the series, from 1), its
// problems added; nothing when it is left out.
std::optional<SeriesRow> read_row(const Source& source, int step, CodePage code_page, SeriesContext& context,
                                  std::vector<std::string>& problems) {
  std::string file = source.path;
  Experiment experiment;
  try {
    experiment = read_source(source, code_page, file);
  } catch (const Fatal& error) {
    problems.push_back(std::string(error.what()) + "; left out of the series");
    return std::nullopt;
  }
  if (experiment.types.count == 0 && experiment.phases.empty() && !experiment.title) {
    problems.push_back(file + ": not an experiment file (no record of one); left out of the series");
    return std::nullopt;
  }
  SeriesRow row = row_of(experiment);
  row.experiment = source.expnam;
  row.file = file;
  std::error_code error;
  const std::uintmax_t size = fs::file_size(native_path(file, code_page), error);
  if (!error && !whole_records(size)) {
    problems.push_back(file + ": cut inside a record (its length is not a whole number of records); "
                       "the values of the records after the cut are missing");
  }
  check_row(row, file, problems);
  if (!context.pattern) {
    row.x = step;
  } else if (const std::optional<XValue> x = x_of(*context.pattern, experiment)) {
    if (context.x_unit && x->unit && *x->unit != *context.x_unit) {
      problems.push_back(file + ": " + context.x_name + " in " + *x->unit + ", not " + *context.x_unit +
                         " as in the rows before; its " + context.x_name + " is left empty");
    } else {
      row.x = x->value;
      if (!context.x_unit) context.x_unit = x->unit;
    }
  } else {
    problems.push_back(file + ": the pattern matches neither its title nor a histogram's name; its " +
                       context.x_name + " is left empty");
  }
  return row;
}

// Each row's name: its EXPNAM, with its folder where another row has the
// same EXPNAM in any case.
std::vector<std::string> shown_names(const std::vector<std::pair<std::string, std::string>>& expnam_and_folder) {
  std::map<std::string, int> count;
  for (const auto& [expnam, folder] : expnam_and_folder) ++count[upper(expnam)];
  std::vector<std::string> names;
  names.reserve(expnam_and_folder.size());
  for (const auto& [expnam, folder] : expnam_and_folder) {
    std::string name = count[upper(expnam)] > 1 && !folder.empty() ? folder + "/" : "";
    name += expnam;
    names.push_back(std::move(name));
  }
  return names;
}

constexpr std::array<const char*, 6> kCellNames = {"a", "b", "c", "alpha", "beta", "gamma"};
constexpr std::array<const char*, 6> kCellUnits = {"A", "A", "A", "deg", "deg", "deg"};

// The columns every row has, whether or not it holds a value there: the
// union of the phases, their fractions' histograms and the powder histograms.
struct Columns {
  std::map<int, std::optional<std::string>> phases;  // the name the first row that names it gives
  std::map<int, std::set<int>> fractions;            // by phase: the histograms
  std::set<int> histograms;

  void add(const SeriesRow& row) {
    for (const auto& [n, phase] : row.phases) {
      std::optional<std::string>& name = phases[n];
      if (!name && phase.name) name = phase.name;
      for (const auto& [h, fraction] : phase.fractions) fractions[n].insert(h);
    }
    for (const auto& [h, histogram] : row.histograms) histograms.insert(h);
  }
};

// The table's two texts, written a row at a time, so that a series of any
// length needs the memory of one row: the CSV's header, each row's line; the
// JSON's head, each row's object (indented as it stands in the document),
// its end with the problems.
class SeriesText {
 public:
  SeriesText(const Columns& columns, std::string x_name, std::optional<std::string> x_unit)
      : columns_(columns), x_name_(std::move(x_name)), x_unit_(std::move(x_unit)) {}

  // The CSV's headers, left to right.
  std::vector<std::string> headers() const {
    std::vector<std::string> header = {"experiment", "title", x_name_ + (x_unit_ ? " (" + *x_unit_ + ")" : "")};
    for (const auto& [n, name] : columns_.phases) {
      const std::string phase = "phase " + std::to_string(n) + (name ? " " + *name : "") + ": ";
      for (std::size_t i = 0; i < kCellNames.size(); ++i) {
        header.push_back(phase + kCellNames[i] + " (" + kCellUnits[i] + ")");
        header.push_back(phase + kCellNames[i] + " su (" + kCellUnits[i] + ")");
      }
      header.push_back(phase + "V (A^3)");
      header.push_back(phase + "V su (A^3)");
      if (columns_.fractions.contains(n)) {
        for (const int h : columns_.fractions.at(n)) header.push_back(phase + "fraction in histogram " + std::to_string(h));
      }
    }
    for (const int h : columns_.histograms) {
      for (const char* statistic : {"wRp", "Rp", "chi2"}) header.push_back("histogram " + std::to_string(h) + ": " + statistic);
    }
    for (const char* name : {"reduced chi2", "variables", "last refinement"}) header.emplace_back(name);
    for (std::string& text : header) text = utf8_text(text);
    return header;
  }

  // A row's cells, one under each header.
  std::vector<SeriesCell> cells(const SeriesRow& row) const {
    std::vector<SeriesCell> out;
    const auto number = [&out](const std::optional<double>& value) {
      out.push_back(value ? SeriesCell(*value) : SeriesCell());
    };
    out.emplace_back(utf8_text(row.experiment));
    out.push_back(row.title ? SeriesCell(utf8_text(*row.title)) : SeriesCell());
    number(row.x);
    for (const auto& [n, name] : columns_.phases) {
      static const SeriesPhase kNone;  // a phase this experiment lacks: every cell empty
      const auto found = row.phases.find(n);
      const SeriesPhase& phase = found == row.phases.end() ? kNone : found->second;
      for (std::size_t i = 0; i < kCellNames.size(); ++i) {
        number(phase.cell[i].value);
        number(phase.cell[i].su);
      }
      number(phase.volume.value);
      number(phase.volume.su);
      if (columns_.fractions.contains(n)) {
        for (const int h : columns_.fractions.at(n)) {
          const auto fraction = phase.fractions.find(h);
          number(fraction != phase.fractions.end() ? std::optional<double>(fraction->second) : std::nullopt);
        }
      }
    }
    for (const int h : columns_.histograms) {
      const auto found = row.histograms.find(h);
      const bool has = found != row.histograms.end();
      number(has ? found->second.weighted_r : std::nullopt);
      number(has ? found->second.r : std::nullopt);
      number(has ? found->second.chi2 : std::nullopt);
    }
    number(row.reduced_chi2);
    out.push_back(row.variables ? SeriesCell(*row.variables) : SeriesCell());
    out.push_back(row.last_refinement ? SeriesCell(*row.last_refinement) : SeriesCell());
    return out;
  }

  std::string csv_header() const {
    std::string out;
    for (const std::string& header : headers()) out += (out.empty() ? "" : ",") + csv_field(header);
    return out + "\n";
  }

  std::string csv_row(const SeriesRow& row) const {
    std::string line;
    bool first = true;
    for (const SeriesCell& cell : cells(row)) {
      if (!first) line += ',';
      first = false;
      if (const auto* value = std::get_if<double>(&cell)) line += csv_number(*value);
      if (const auto* count = std::get_if<long long>(&cell)) line += std::to_string(*count);
      if (const auto* text = std::get_if<std::string>(&cell)) line += csv_field(*text);
    }
    return line + "\n";
  }

  std::string json_head() const {
    Json x = Json::object();
    x["name"] = utf8_text(x_name_);
    if (x_unit_) x["unit"] = utf8_text(*x_unit_);
    return "{\n  \"x\": " + indented(x.dump(2), 2) + ",\n  \"experiments\": [";
  }

  // first: the first row written (the others follow a comma).
  static std::string json_row(const SeriesRow& row, bool first) {
    return std::string(first ? "\n" : ",\n") + "    " + indented(row_json(row).dump(2), 4);
  }

  static std::string json_end(const std::vector<std::string>& problems, bool any_row) {
    Json list = Json::array();
    for (const std::string& problem : problems) list.push_back(utf8_text(problem));
    return std::string(any_row ? "\n  ]" : "]") + ",\n  \"problems\": " + indented(list.dump(2), 2) + "\n}\n";
  }

 private:
  using Json = nlohmann::ordered_json;

  // A nested value's text: every line after its first indented by spaces more.
  static std::string indented(const std::string& text, std::size_t spaces) {
    std::string out;
    for (const char c : text) {
      out += c;
      if (c == '\n') out.append(spaces, ' ');
    }
    return out;
  }

  static Json row_json(const SeriesRow& row) {
    const auto measured = [](Json& object, const char* key, const Measured& m) {
      if (m.value) object[key] = *m.value;
      if (m.su) object[std::string(key) + "_su"] = *m.su;
    };
    Json item = Json::object();
    item["experiment"] = utf8_text(row.experiment);
    item["file"] = utf8_text(row.file);
    if (row.title) item["title"] = utf8_text(*row.title);
    if (row.x) item["x"] = *row.x;
    Json phases = Json::object();
    for (const auto& [n, phase] : row.phases) {
      Json p = Json::object();
      if (phase.name) p["name"] = utf8_text(*phase.name);
      Json cell = Json::object();
      for (std::size_t i = 0; i < kCellNames.size(); ++i) measured(cell, kCellNames[i], phase.cell[i]);
      if (!cell.empty()) p["cell"] = std::move(cell);
      measured(p, "volume", phase.volume);
      if (!phase.fractions.empty()) {
        Json fractions = Json::object();
        for (const auto& [h, fraction] : phase.fractions) fractions[std::to_string(h)] = fraction;
        p["fractions"] = std::move(fractions);
      }
      phases[std::to_string(n)] = std::move(p);
    }
    item["phases"] = std::move(phases);
    Json histograms = Json::object();
    for (const auto& [h, histogram] : row.histograms) {
      Json s = Json::object();
      if (histogram.weighted_r) s["wRp"] = *histogram.weighted_r;
      if (histogram.r) s["Rp"] = *histogram.r;
      if (histogram.chi2) s["chi2"] = *histogram.chi2;
      histograms[std::to_string(h)] = std::move(s);
    }
    item["histograms"] = std::move(histograms);
    if (row.reduced_chi2) item["reduced_chi2"] = *row.reduced_chi2;
    if (row.variables) item["variables"] = *row.variables;
    if (row.last_refinement) item["last_refinement"] = *row.last_refinement;
    return item;
  }

  const Columns& columns_;
  std::string x_name_;
  std::optional<std::string> x_unit_;
};

Columns columns_of(const SeriesTable& table) {
  Columns columns;
  for (const SeriesRow& row : table.rows) columns.add(row);
  return columns;
}

}  // namespace

SeriesTable read_series(const SeriesRequest& request) {
  SeriesTable table;
  SeriesContext context = context_of(request);
  std::vector<std::pair<std::string, std::string>> names;
  int step = 0;
  for (const Source& source : sources_of(request)) {
    std::optional<SeriesRow> row = read_row(source, ++step, request.code_page, context, table.problems);
    if (!row) continue;
    names.emplace_back(source.expnam, source.folder);
    table.rows.push_back(std::move(*row));
  }
  const std::vector<std::string> shown = shown_names(names);
  for (std::size_t i = 0; i < shown.size(); ++i) table.rows[i].experiment = shown[i];
  table.x_name = context.x_name;
  table.x_unit = context.x_unit;
  return table;
}

std::string series_csv(const SeriesTable& table) {
  const Columns columns = columns_of(table);
  const SeriesText text(columns, table.x_name, table.x_unit);
  std::string out = text.csv_header();
  for (const SeriesRow& row : table.rows) out += text.csv_row(row);
  return out;
}

std::vector<SeriesColumn> series_columns(const SeriesTable& table) {
  const Columns columns = columns_of(table);
  const SeriesText text(columns, table.x_name, table.x_unit);
  std::vector<SeriesColumn> out;
  for (std::string& header : text.headers()) out.push_back({std::move(header), SeriesKind::kNumber, {}});
  // The experiment and the title lead, the variables and the last refinement end every row.
  out[0].kind = out[1].kind = out.back().kind = SeriesKind::kText;
  out[out.size() - 2].kind = SeriesKind::kCount;
  for (const SeriesRow& row : table.rows) {
    std::vector<SeriesCell> cells = text.cells(row);
    for (std::size_t i = 0; i < out.size(); ++i) out[i].cells.push_back(std::move(cells[i]));
  }
  return out;
}

std::string series_json(const SeriesTable& table) {
  const Columns columns = columns_of(table);
  const SeriesText text(columns, table.x_name, table.x_unit);
  std::string out = text.json_head();
  for (std::size_t i = 0; i < table.rows.size(); ++i) out += SeriesText::json_row(table.rows[i], i == 0);
  return out + SeriesText::json_end(table.problems, !table.rows.empty());
}

std::string series_json_name(const std::string& csv_path) {
  const std::size_t slash = csv_path.find_last_of("/\\");
  const std::size_t dot = csv_path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) return csv_path.substr(0, dot) + ".json";
  return csv_path + ".json";
}

SeriesWritten write_series(const SeriesRequest& request, const std::string& csv_path) {
  // The first reading finds the columns, the names and the problems; the
  // second writes each row as it is read again, so that no row is held.
  SeriesWritten written;
  const std::vector<Source> sources = sources_of(request);
  SeriesContext context = context_of(request);
  Columns columns;
  std::vector<bool> kept;
  std::vector<std::pair<std::string, std::string>> names;
  int step = 0;
  for (const Source& source : sources) {
    const std::optional<SeriesRow> row = read_row(source, ++step, request.code_page, context, written.problems);
    kept.push_back(row.has_value());
    if (!row) continue;
    columns.add(*row);
    names.emplace_back(source.expnam, source.folder);
  }
  const std::vector<std::string> shown = shown_names(names);
  const SeriesText text(columns, context.x_name, context.x_unit);

  OutputSet outputs(request.code_page);
  OutputFile& csv = outputs.create(csv_path);
  written.json = series_json_name(csv_path);
  OutputFile& json = outputs.create(written.json);
  csv.write(text.csv_header());
  json.write(text.json_head());
  SeriesContext again = context_of(request);
  std::vector<std::string> said_again;
  step = 0;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    std::optional<SeriesRow> row = read_row(sources[i], ++step, request.code_page, again, said_again);
    if (row.has_value() != kept[i]) throw Fatal(sources[i].path + " changed while the series was read; no file was changed");
    if (!row) continue;
    row->experiment = shown[static_cast<std::size_t>(written.rows)];
    csv.write(text.csv_row(*row));
    json.write(SeriesText::json_row(*row, written.rows == 0));
    ++written.rows;
  }
  json.write(SeriesText::json_end(written.problems, written.rows > 0));
  outputs.commit();
  return written;
}

}  // namespace trov
