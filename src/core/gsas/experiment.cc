// Reads the 80-column experiment records in one pass: the HTYP type table, and names, constants and statistics from the untidy fields of real files.
#include "gsas/experiment.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace trov {

// No line end is looked for inside the 80 bytes: docs/formats.md works out
// how a line of another length puts the next records out of step.
void read_exp_record(ExpRecord& record, InputFile& file) {
  const std::size_t n = file.read(record.data(), kExpRecordLength);
  if (n == kExpRecordLength) {
    unsigned char next = 0;
    if (file.read(&next, 1) == 0) {
      // At the end of the file: putting the last byte back clears the
      // end-of-file flag, so this record is examined and the next read
      // returns that byte alone and meets the end.
      file.put_back(static_cast<unsigned char>(record[kExpRecordLength - 1]));
    } else if (next == '\r') {
      file.skip_byte();
    } else if (next != '\n') {
      file.put_back(next);  // it begins the next record
    }
  }
  record[n] = '\0';
}

namespace {

bool is_htyp_record(const ExpRecord& record) {
  return std::string_view(record.data(), kHtypKey.size()) == kHtypKey;
}

HistogramType type_field(const ExpRecord& record, std::size_t field) {
  HistogramType type;
  const char* start = record.data() + kFirstTypeColumn + field * kTypeFieldSpacing;
  for (std::size_t i = 0; i < kTypeFieldLength && start[i] != '\0'; ++i) type.code[i] = start[i];
  return type;
}

constexpr std::string_view kLastRecord = "ZZZZZZZZZZZZ";
constexpr std::size_t kHstKeyColumn = 6;
constexpr std::size_t kHstDataColumn = 12;
constexpr std::size_t kNameColumn = 14;
constexpr std::size_t kConstantWidth = 10;

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// A whole word as a number, or nullopt ("A", "Y", "**").
std::optional<double> number(const std::string& word) {
  if (word.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(word.c_str(), &end);
  if (end != word.c_str() + word.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<long> whole_number(const std::string& word) {
  const std::optional<double> value = number(word);
  if (!value || *value != std::floor(*value) || std::fabs(*value) > 1e15) return std::nullopt;
  return static_cast<long>(*value);
}

std::vector<std::string> words(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

template <typename T>
std::optional<T> word_at(const std::vector<std::string>& list, std::size_t i,
                         std::optional<T> (*parse)(const std::string&)) {
  return i < list.size() ? parse(list[i]) : std::nullopt;
}

// "HST  n KEY": the histogram number of columns 3-5, or 0.
int histogram_number(std::string_view record) {
  if (record.substr(0, 3) != "HST") return 0;
  const std::optional<long> n = whole_number(trimmed(record.substr(3, 3)));
  return n && *n >= 1 && *n <= kMaxHistograms ? static_cast<int>(*n) : 0;
}

void read_histogram_record(std::string_view record, HistogramInfo& h) {
  const std::string key = trimmed(record.substr(kHstKeyColumn, kHstDataColumn - kHstKeyColumn));
  const std::string_view data = record.substr(kHstDataColumn);
  const std::vector<std::string> list = words(data);
  if (key == "HNAM") {
    const std::string name = trimmed(record.substr(kNameColumn));
    if (!name.empty()) h.name = name;
  } else if (key == "ICONS") {
    h.constants.clear();
    for (std::size_t at = 0; at + kConstantWidth <= data.size(); at += kConstantWidth) {
      const std::optional<double> value = number(trimmed(data.substr(at, kConstantWidth)));
      if (!value) break;
      h.constants.push_back(*value);
    }
  } else if (key == "TRNGE") {
    h.range_min = word_at<double>(list, 0, number);
    h.range_max = word_at<double>(list, 1, number);
  } else if (key == "RPOWD") {
    h.weighted_r = word_at<double>(list, 0, number);
    h.r = word_at<double>(list, 1, number);
    h.observations = word_at<long>(list, 2, whole_number);
    h.sum_w_delta2 = word_at<double>(list, 3, number);
  } else if (key == "WREXP") {
    h.expected_weighted_r = word_at<double>(list, 0, number);
  } else if (key == "NREF") {
    h.reflections = word_at<long>(list, 0, whole_number);
    h.reflection_d_min = word_at<double>(list, 1, number);
  }
}

// " REFN GDNFT  Reduced CHI**2 =  1.959     for   11 variables"
void read_goodness_of_fit(std::string_view record, Experiment& info) {
  const std::vector<std::string> list = words(record.substr(kHstDataColumn));
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == "=" && i + 1 < list.size()) info.reduced_chi2 = number(list[i + 1]);
    if (list[i] == "for" && i + 1 < list.size()) info.variables = whole_number(list[i + 1]);
  }
}

}  // namespace

Experiment read_experiment(InputFile& file, ExperimentRecords what) {
  Experiment experiment;
  HistogramTable& table = experiment.types;
  // Histogram records may come before the HTYP records that number them.
  std::vector<HistogramInfo> infos(kMaxHistograms);
  bool types_complete = false;
  bool history = false;  // past the last record of the refinement's own
  ExpRecord buffer;
  // A record whose read came up short is never examined, so every record
  // examined holds all 80 characters (a NUL ends the text early).
  for (read_exp_record(buffer, file); !file.at_end(); read_exp_record(buffer, file)) {
    types_complete = types_complete || table.count == kMaxHistograms;
    if (types_complete && (what == ExperimentRecords::kTypes || history)) break;
    if (!types_complete && is_htyp_record(buffer)) {
      for (std::size_t field = 0; field < kTypeFieldsPerRecord; ++field) {
        HistogramType type = type_field(buffer, field);
        if (type.code[0] == ' ') {
          types_complete = true;
        } else if (table.count < kMaxHistograms) {
          table.entries[static_cast<std::size_t>(table.count++)] = type;
        }
      }
    }
    if (what == ExperimentRecords::kTypes || history) continue;
    std::string record(buffer.data());
    record.resize(kExpRecordLength, ' ');  // what follows a NUL reads as blank
    if (record.compare(0, kLastRecord.size(), kLastRecord) == 0) {
      history = true;
    } else if (const int h = histogram_number(record); h != 0) {
      read_histogram_record(record, infos[static_cast<std::size_t>(h - 1)]);
    } else if (record.compare(0, 11, "      DESCR") == 0) {
      const std::string title = trimmed(std::string_view(record).substr(kNameColumn));
      if (!title.empty()) experiment.title = title;
    } else if (record.compare(0, 3, "CRS") == 0 && record.compare(8, 4, "PNAM") == 0) {
      const std::optional<long> n = whole_number(trimmed(std::string_view(record).substr(3, 5)));
      const std::string name = trimmed(std::string_view(record).substr(kNameColumn));
      if (n && *n >= 1 && !name.empty()) experiment.phase_names[static_cast<int>(*n)] = name;
    } else if (record.compare(0, 11, " REFN GDNFT") == 0) {
      read_goodness_of_fit(record, experiment);
    }
  }
  if (what == ExperimentRecords::kAll) {
    for (int h = 1; h <= table.count; ++h) {
      HistogramInfo& info = infos[static_cast<std::size_t>(h - 1)];
      info.number = h;
      info.type = table.entries[static_cast<std::size_t>(h - 1)];
      experiment.histograms.push_back(std::move(info));
    }
  }
  return experiment;
}

}  // namespace trov
