// Reads the 80-column experiment records in one pass: the HTYP type table, and names, constants and statistics from the untidy fields of real files.
#include "gsas/experiment.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
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

constexpr std::size_t kHstKeyColumn = 6;
constexpr std::size_t kHstDataColumn = 12;
constexpr std::size_t kNameColumn = 14;
constexpr std::size_t kConstantWidth = 10;
constexpr std::size_t kRatioColumn = 67;

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A field as Fortran writes a real: an optional sign, digits with at most one
// point (".51919" and "59994." too), an optional exponent (E or D, then
// optional sign and digits). Anything else ("A", "**", "0x3", "inf", "1 2")
// is no number. Up to 18 significant digits and a power of ten up to 22
// (every field of a real file) the value is formed exactly and rounded once,
// so it is the same double on every machine; longer ones go to strtod. shift
// (0 to 22) multiplies by a power of ten first, exactly ("207.56944" ms are
// 207569.44 us, not 207569.43999999997).
std::optional<double> number(std::string_view word, int shift = 0) {
  constexpr std::array<double, 23> kPowers = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                              1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  constexpr std::uint64_t kMaxExactMantissa = std::uint64_t{1} << 53;
  std::size_t i = 0;
  const bool negative = !word.empty() && word[0] == '-';
  if (!word.empty() && (word[0] == '-' || word[0] == '+')) ++i;
  std::uint64_t mantissa = 0;
  int exponent = 0;
  bool digits = false;
  bool exact = true;
  bool point = false;
  for (; i < word.size() && (is_digit(word[i]) || (word[i] == '.' && !point)); ++i) {
    if (word[i] == '.') {
      point = true;
      continue;
    }
    digits = true;
    if (mantissa < 100000000000000000) {  // 10^17: room for one more digit
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(word[i] - '0');
      if (point) --exponent;
    } else {
      if (word[i] != '0') exact = false;
      if (!point) ++exponent;
    }
  }
  if (!digits) return std::nullopt;
  if (i < word.size() && (word[i] == 'E' || word[i] == 'e' || word[i] == 'D' || word[i] == 'd')) {
    ++i;
    const bool down = i < word.size() && word[i] == '-';
    if (i < word.size() && (word[i] == '-' || word[i] == '+')) ++i;
    if (i == word.size()) return std::nullopt;
    int power = 0;
    for (; i < word.size() && is_digit(word[i]); ++i) power = std::min(power * 10 + (word[i] - '0'), 9999);
    exponent += down ? -power : power;
  }
  if (i != word.size()) return std::nullopt;
  exponent += shift;
  double value = 0;
  if (exact && mantissa <= kMaxExactMantissa && exponent >= -22 && exponent <= 22) {
    const double m = static_cast<double>(mantissa);
    value = exponent >= 0 ? m * kPowers[static_cast<std::size_t>(exponent)]
                          : m / kPowers[static_cast<std::size_t>(-exponent)];
    if (negative) value = -value;
  } else {
    std::string text(word);
    std::replace(text.begin(), text.end(), 'D', 'E');
    std::replace(text.begin(), text.end(), 'd', 'e');
    value = std::strtod(text.c_str(), nullptr) * kPowers[static_cast<std::size_t>(shift)];
  }
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

// A count or a number in a key: digits only, an optional sign, up to 18 of
// them ("1e0", "0x3", "2.0" and "3e9" are none).
std::optional<long long> whole_number(std::string_view word) {
  std::size_t i = !word.empty() && (word[0] == '-' || word[0] == '+') ? 1 : 0;
  if (i == word.size() || word.size() - i > 18) return std::nullopt;
  long long value = 0;
  for (; i < word.size(); ++i) {
    if (!is_digit(word[i])) return std::nullopt;
    value = value * 10 + (word[i] - '0');
  }
  return word[0] == '-' ? -value : value;
}

std::vector<std::string> words(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

std::optional<double> real(std::string_view word) { return number(word); }

template <typename T>
std::optional<T> word_at(const std::vector<std::string>& list, std::size_t i,
                         std::optional<T> (*parse)(std::string_view)) {
  return i < list.size() ? parse(list[i]) : std::nullopt;
}

// "HST  n KEY": the histogram number of columns 3-5, or 0.
int histogram_number(std::string_view record) {
  if (record.substr(0, 3) != "HST") return 0;
  const std::optional<long long> n = whole_number(trimmed(record.substr(3, 3)));
  return n && *n >= 1 && *n <= kMaxHistograms ? static_cast<int>(*n) : 0;
}

// TRNGE's two words, read once the histogram's axis is known.
using RangeWords = std::array<std::string, 2>;

void read_histogram_record(std::string_view record, HistogramInfo& h, RangeWords& range) {
  const std::string key = trimmed(record.substr(kHstKeyColumn, kHstDataColumn - kHstKeyColumn));
  const std::string_view data = record.substr(kHstDataColumn);
  const std::vector<std::string> list = words(data);
  if (key == "HNAM") {
    const std::string name = trimmed(record.substr(kNameColumn));
    if (!name.empty()) h.name = name;
  } else if (key == "INAME") {
    const std::string name = trimmed(data);
    if (!name.empty()) h.instrument = name;
  } else if (key == "ICONS") {
    h.constants.clear();
    for (std::size_t at = 0; at + kConstantWidth <= data.size(); at += kConstantWidth) {
      const std::optional<double> value = number(trimmed(data.substr(at, kConstantWidth)));
      if (!value) break;
      h.constants.push_back(*value);
    }
    // Constant wavelength: after lambda1, lambda2, zero, a 10-column field,
    // the polarisation (10) and its type (5 columns) comes the lambda2/lambda1
    // intensity ratio.
    h.lambda2_ratio = number(trimmed(data.substr(kRatioColumn - kHstDataColumn, kConstantWidth)));
  } else if (key == "BNKPAR") {
    h.bank_two_theta = word_at<double>(list, 1, real);  // after the secondary flight path
  } else if (key == "TRNGE") {
    range = {!list.empty() ? list[0] : "", list.size() > 1 ? list[1] : ""};
  } else if (key == "RPOWD") {
    h.weighted_r = word_at<double>(list, 0, real);
    h.r = word_at<double>(list, 1, real);
    h.observations = word_at<long long>(list, 2, whole_number);
    h.sum_w_delta2 = word_at<double>(list, 3, real);
    // Then wRp and Rp of the background-subtracted profile; 0 where the
    // refinement did not compute them.
    h.weighted_r_background = word_at<double>(list, 4, real);
    h.r_background = word_at<double>(list, 5, real);
    if (h.weighted_r_background == 0.0) h.weighted_r_background.reset();
    if (h.r_background == 0.0) h.r_background.reset();
  } else if (key == "WREXP") {
    h.expected_weighted_r = word_at<double>(list, 0, real);
  } else if (key == "NREF") {
    h.reflections = word_at<long long>(list, 0, whole_number);
    h.reflection_d_min = word_at<double>(list, 1, real);
  }
}

// Fixed 10-column fields from column 12: the refinement package writes the
// cell and atom records so, and a value that fills its field runs into the
// one before.
std::optional<double> field_at(std::string_view record, std::size_t column) {
  return number(trimmed(record.substr(column, kConstantWidth)));
}

void read_atom_record(std::string_view record, PhaseInfo& phase) {
  // "CRSn  AT  mA": the atom number in columns 8-10, A or B in column 11.
  const std::optional<long long> m = whole_number(trimmed(record.substr(8, 3)));
  if (record.substr(6, 2) != "AT" || !m || *m < 1 || (record[11] != 'A' && record[11] != 'B')) return;
  AtomSite& atom = phase.atoms[static_cast<int>(*m)];
  if (record[11] == 'A') {
    // type (8), x y z occupancy (10 each), label (8), multiplicity (4)
    atom.type = trimmed(record.substr(14, 8));
    for (std::size_t i = 0; i < 3; ++i) atom.xyz[i] = field_at(record, 22 + 10 * i);
    atom.occupancy = field_at(record, 52);
    atom.label = trimmed(record.substr(62, 8));
    atom.multiplicity = whole_number(trimmed(record.substr(70, 4)));
  } else {
    // Uiso, or U11 U22 U33 U12 U13 U23 (10 each), then I or A in column 74.
    atom.adp = record[74] == 'I' || record[74] == 'A' ? record[74] : ' ';
    for (std::size_t i = 0; i < 6; ++i) atom.u[i] = atom.adp == 'I' && i > 0 ? std::nullopt : field_at(record, 12 + 10 * i);
  }
}

// "CRSn" and the phase's records: its name (the number in columns 3-7 and
// PNAM in 8-11, as long refinements number phases), else a number in columns
// 3-5 and the key in 6-11.
void read_phase_record(std::string_view record, std::map<int, PhaseInfo>& phases) {
  if (record.substr(8, 4) == "PNAM") {
    const std::optional<long long> n = whole_number(trimmed(record.substr(3, 5)));
    const std::string name = trimmed(record.substr(kNameColumn));
    if (n && *n >= 1 && *n <= 99999 && !name.empty()) phases[static_cast<int>(*n)].name = name;
    return;
  }
  const std::optional<long long> n = whole_number(trimmed(record.substr(3, 3)));
  if (!n || *n < 1) return;
  const std::string_view key = record.substr(6, 6);
  auto phase = [&]() -> PhaseInfo& { return phases[static_cast<int>(*n)]; };
  // Three values a record: as words where they stand apart (a hand-edited
  // record need not keep the columns), else by column (100 A and more fill
  // their fields and run together).
  auto cell = [&](std::size_t first, bool su) {
    const std::vector<std::string> list = words(record.substr(kHstDataColumn));
    const bool apart = list.size() >= 3 && real(list[0]) && real(list[1]) && real(list[2]);
    for (std::size_t i = 0; i < 3; ++i) {
      Measured& m = phase().cell[first + i];
      (su ? m.su : m.value) = apart ? real(list[i]) : field_at(record, kHstDataColumn + 10 * i);
    }
  };
  if (key == "ABC   ") {
    cell(0, false);
  } else if (key == "ABCSIG") {
    cell(0, true);
  } else if (key == "ANGLES") {
    cell(3, false);
  } else if (key == "ANGSIG") {
    cell(3, true);
  } else if (key == "CELVOL") {
    const std::vector<std::string> list = words(record.substr(kHstDataColumn));
    phase().volume = {word_at<double>(list, 0, real), word_at<double>(list, 1, real)};
  } else if (key == "SG SYM") {
    const std::string symbol = trimmed(record.substr(kHstDataColumn));
    if (!symbol.empty()) phase().space_group = symbol;
  } else if (key.substr(0, 2) == "AT") {
    read_atom_record(record, phase());
  }
}

// "HAPphhPHSFR": the fraction of phase p (column 3) in histogram hh
// (columns 4-5), the first word from column 12.
void read_phase_fraction(std::string_view record, std::map<int, PhaseInfo>& phases) {
  const std::optional<long long> p = whole_number(trimmed(record.substr(3, 1)));
  const std::optional<long long> h = whole_number(trimmed(record.substr(4, 2)));
  const std::vector<std::string> list = words(record.substr(kHstDataColumn));
  const std::optional<double> fraction = word_at<double>(list, 0, real);
  if (p && h && *p >= 1 && *h >= 1 && *h <= kMaxHistograms && fraction) {
    phases[static_cast<int>(*p)].fractions[static_cast<int>(*h)] = *fraction;
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

// A history record's date in ISO 8601, from the forms the refinement
// package's programs have written over the years ("May 20 15:35:24 2014",
// "1999-03-30T09:59:39", "16:52:44 09-FEB-1998"); nothing for another form.
std::optional<std::string> history_date(const std::vector<std::string>& list) {
  static constexpr std::array<std::string_view, 12> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                                "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  const auto month_of = [](std::string_view word) -> int {
    if (word.size() != 3) return 0;
    std::string upper(word);
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
      if (upper == kMonths[m]) return static_cast<int>(m) + 1;
    }
    return 0;
  };
  const auto digits = [](std::string_view word, std::size_t count) {
    return word.size() == count && std::all_of(word.begin(), word.end(), is_digit);
  };
  const auto is_time = [&](std::string_view word) {
    return word.size() == 8 && digits(word.substr(0, 2), 2) && word[2] == ':' && digits(word.substr(3, 2), 2) &&
           word[5] == ':' && digits(word.substr(6, 2), 2);
  };
  // Digits already checked: their value.
  const auto value = [](std::string_view digits) {
    int n = 0;
    for (const char c : digits) n = n * 10 + (c - '0');
    return n;
  };
  const auto iso = [](int year, int month, int day, std::string_view time) -> std::optional<std::string> {
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT", year, month, day);
    return std::string(text.data()) + std::string(time);
  };
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string_view w = list[i];
    // 1999-03-30T09:59:39
    if (w.size() == 19 && digits(w.substr(0, 4), 4) && w[4] == '-' && digits(w.substr(5, 2), 2) && w[7] == '-' &&
        digits(w.substr(8, 2), 2) && w[10] == 'T' && is_time(w.substr(11))) {
      return iso(value(w.substr(0, 4)), value(w.substr(5, 2)), value(w.substr(8, 2)), w.substr(11));
    }
    // May 20 15:35:24 2014
    if (i + 3 < list.size() && month_of(w) != 0 && (digits(list[i + 1], 1) || digits(list[i + 1], 2)) &&
        is_time(list[i + 2]) && digits(list[i + 3], 4)) {
      return iso(value(list[i + 3]), month_of(w), value(list[i + 1]), list[i + 2]);
    }
    // 16:52:44 09-FEB-1998
    if (i + 1 < list.size() && is_time(w)) {
      const std::string_view d = list[i + 1];
      if (d.size() == 11 && digits(d.substr(0, 2), 2) && d[2] == '-' && month_of(d.substr(3, 3)) != 0 && d[6] == '-' &&
          digits(d.substr(7, 4), 4)) {
        return iso(value(d.substr(7, 4)), month_of(d.substr(3, 3)), value(d.substr(0, 2)), w);
      }
    }
  }
  return std::nullopt;
}

// "    HSTRY nn GENLES  Win32  May 20 15:35:24 2014 Sdsq= ...": a run of the
// least-squares program. The history's numbers wrap and its records repeat,
// so the latest date is the last run.
void read_history(std::string_view record, Experiment& info) {
  const std::vector<std::string> list = words(record);
  const std::size_t program = list.empty() || list[0] == "HSTRY" ? 2 : 1;  // "HSTRY100": the number runs on
  if (list.size() <= program || list[program] != "GENLES") return;
  const std::optional<std::string> date = history_date({list.begin() + static_cast<std::ptrdiff_t>(program) + 1, list.end()});
  if (date && (!info.last_refinement || *date > *info.last_refinement)) info.last_refinement = date;
}

}  // namespace

Experiment read_experiment(InputFile& file, ExperimentRecords what) {
  Experiment experiment;
  HistogramTable& table = experiment.types;
  // Histogram records may come before the HTYP records that number them.
  std::vector<HistogramInfo> infos(kMaxHistograms);
  std::vector<RangeWords> ranges(kMaxHistograms);
  bool types_complete = false;
  ExpRecord buffer;
  // A record whose read came up short is never examined, so every record
  // examined holds all 80 characters (a NUL ends the text early).
  for (read_exp_record(buffer, file); !file.at_end(); read_exp_record(buffer, file)) {
    types_complete = types_complete || table.count == kMaxHistograms;
    if (types_complete && what == ExperimentRecords::kTypes) break;
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
    if (what == ExperimentRecords::kTypes) continue;
    std::string record(buffer.data());
    record.resize(kExpRecordLength, ' ');  // what follows a NUL reads as blank
    // Every record counts, those after "ZZZZZZZZZZZZ  Last EXP file record"
    // too (the least-squares program appends live ones there); a later
    // record of the same key replaces an earlier one.
    if (const int h = histogram_number(record); h != 0) {
      read_histogram_record(record, infos[static_cast<std::size_t>(h - 1)], ranges[static_cast<std::size_t>(h - 1)]);
    } else if (record.compare(0, 11, "      DESCR") == 0) {
      const std::string title = trimmed(std::string_view(record).substr(kNameColumn));
      if (!title.empty()) experiment.title = title;
    } else if (record.compare(0, 3, "CRS") == 0) {
      read_phase_record(record, experiment.phases);
    } else if (record.compare(0, 3, "HAP") == 0 && record.compare(6, 6, "PHSFR ") == 0) {
      read_phase_fraction(record, experiment.phases);
    } else if (record.compare(0, 11, " REFN GDNFT") == 0) {
      read_goodness_of_fit(record, experiment);
    } else if (record.compare(0, 9, "    HSTRY") == 0) {
      read_history(record, experiment);
    }
  }
  if (what == ExperimentRecords::kAll) {
    for (int h = 1; h <= table.count; ++h) {
      HistogramInfo& info = infos[static_cast<std::size_t>(h - 1)];
      info.number = h;
      info.type = table.entries[static_cast<std::size_t>(h - 1)];
      // Stored in milliseconds for time of flight, in the position's unit otherwise.
      const int shift = info.type.axis() == Axis::kTimeOfFlight ? 3 : 0;
      const RangeWords& range = ranges[static_cast<std::size_t>(h - 1)];
      info.range_min = number(range[0], shift);
      info.range_max = number(range[1], shift);
      experiment.histograms.push_back(std::move(info));
    }
  }
  return experiment;
}

}  // namespace trov
