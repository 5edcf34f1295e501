// Reads titles, names, constants and statistics from experiment records, tolerating the untidy fields of real files.
#include "export/experiment_info.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace trov {

namespace {

constexpr std::string_view kLastRecord = "ZZZZZZZZZZZZ";
constexpr std::size_t kHstKeyColumn = 6;
constexpr std::size_t kHstDataColumn = 12;
constexpr std::size_t kNameColumn = 14;
constexpr std::size_t kConstantWidth = 10;
constexpr double kDegree = 3.14159265358979323846 / 180.0;

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
void read_goodness_of_fit(std::string_view record, ExperimentInfo& info) {
  const std::vector<std::string> list = words(record.substr(kHstDataColumn));
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == "=" && i + 1 < list.size()) info.reduced_chi2 = number(list[i + 1]);
    if (list[i] == "for" && i + 1 < list.size()) info.variables = whole_number(list[i + 1]);
  }
}

}  // namespace

Axis axis_of(const HistogramType& type) {
  switch (type.code[2]) {
    case 'C': return Axis::kTwoTheta;
    case 'T': return Axis::kTimeOfFlight;
    case 'E': return Axis::kEnergy;
    default: return Axis::kOther;
  }
}

ExperimentInfo read_experiment_info(InputFile& file, const HistogramTable& types) {
  ExperimentInfo info;
  for (int h = 1; h <= types.count; ++h) {
    HistogramInfo histogram;
    histogram.number = h;
    histogram.type = types.entries[static_cast<std::size_t>(h - 1)];
    info.histograms.push_back(histogram);
  }
  ExpRecord buffer;
  for (read_exp_record(buffer, file); !file.at_end(); read_exp_record(buffer, file)) {
    std::string record(buffer.data());
    record.resize(kExpRecordLength, ' ');  // a NUL inside ends the text; what follows reads as blank
    if (record.compare(0, kLastRecord.size(), kLastRecord) == 0) break;
    if (const int h = histogram_number(record); h != 0) {
      if (h <= types.count) read_histogram_record(record, info.histograms[static_cast<std::size_t>(h - 1)]);
    } else if (record.compare(0, 11, "      DESCR") == 0) {
      const std::string title = trimmed(std::string_view(record).substr(kNameColumn));
      if (!title.empty()) info.title = title;
    } else if (record.compare(0, 3, "CRS") == 0 && record.compare(8, 4, "PNAM") == 0) {
      const std::optional<long> n = whole_number(trimmed(std::string_view(record).substr(3, 5)));
      const std::string name = trimmed(std::string_view(record).substr(kNameColumn));
      if (n && *n >= 1 && !name.empty()) info.phase_names[static_cast<int>(*n)] = name;
    } else if (record.compare(0, 11, " REFN GDNFT") == 0) {
      read_goodness_of_fit(record, info);
    }
  }
  return info;
}

DSpacing::DSpacing(const HistogramInfo& histogram) : axis_(axis_of(histogram.type)) {
  const std::vector<double>& c = histogram.constants;
  switch (axis_) {
    case Axis::kTwoTheta:  // d = lambda1 / (2 sin theta), 2-theta less the zero (centidegrees)
      if (c.size() >= 3 && c[0] > 0) {
        usable_ = true;
        a_ = c[0];
        zero_ = c[2] / 100.0;
        named_ = {{"lambda1", c[0]}, {"lambda2", c[1]}, {"zero", c[2]}};
      }
      break;
    case Axis::kTimeOfFlight:  // TOF = DIFC d + DIFA d^2 + zero
      if (c.size() >= 3 && c[0] > 0) {
        usable_ = true;
        a_ = c[0];
        b_ = c[1];
        zero_ = c[2];
        named_ = {{"difc", c[0]}, {"difa", c[1]}, {"zero", c[2]}};
      }
      break;
    case Axis::kEnergy:  // d = 12.398 / (2 E sin theta), theta half the detector's 2-theta
      if (!c.empty() && c[0] > 0) {
        usable_ = true;
        a_ = 12.398 / (2 * std::sin(c[0] / 2 * kDegree));
        named_ = {{"two_theta", c[0]}};
      }
      break;
    case Axis::kOther: break;
  }
}

std::optional<double> DSpacing::d(double position) const {
  if (!usable_ || !std::isfinite(position)) return std::nullopt;
  double d = 0;
  switch (axis_) {
    case Axis::kTwoTheta: {
      const double sine = std::sin((position - zero_) / 2 * kDegree);
      if (!(sine > 0)) return std::nullopt;
      d = a_ / (2 * sine);
      break;
    }
    case Axis::kTimeOfFlight: {
      const double t = position - zero_;
      if (b_ == 0) {
        d = t / a_;
      } else {
        // The root that tends to t / DIFC as DIFA goes to 0, written so that
        // it does not lose digits: 2t / (DIFC + sqrt(DIFC^2 + 4 DIFA t)).
        const double discriminant = a_ * a_ + 4 * b_ * t;
        if (discriminant < 0) return std::nullopt;
        d = 2 * t / (a_ + std::sqrt(discriminant));
      }
      break;
    }
    case Axis::kEnergy: d = a_ / position; break;
    case Axis::kOther: return std::nullopt;
  }
  if (!(d > 0) || !std::isfinite(d)) return std::nullopt;
  return d;
}

}  // namespace trov
