// GSAS experiment files (EXPNAM.EXP): the 80-column records, read in one pass into the histogram type table and what trov-export reports.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/input_file.h"

namespace trov {

// An experiment file is a sequence of 80-character records, each followed by
// LF, CR LF or nothing. docs/formats.md describes the records and the
// reader's line-end rules in full. The type table comes from the HTYP
// records: " EXPR  HTYP" in columns 0-10, then twelve 4-character
// histogram-type fields at columns 14, 19, ..., 69.
inline constexpr std::size_t kExpRecordLength = 80;
inline constexpr std::string_view kHtypKey = " EXPR  HTYP";
inline constexpr std::size_t kTypeFieldsPerRecord = 12;
inline constexpr std::size_t kFirstTypeColumn = 14;
inline constexpr std::size_t kTypeFieldLength = 4;
inline constexpr std::size_t kTypeFieldSpacing = kTypeFieldLength + 1;

// The position axis of a histogram: constant wavelength (2-theta, stored in
// centidegrees), time of flight, energy dispersive, or none of them.
enum class Axis { kTwoTheta, kTimeOfFlight, kEnergy, kOther };

// One HTYP field as it stands (trailing blanks kept); a NUL in the record ends
// it early. Its first character says whether the histogram is a powder one
// (P), its third the axis (C, T or E).
struct HistogramType {
  std::array<char, kTypeFieldLength + 1> code{};

  bool is_powder() const { return code[0] == 'P'; }
  Axis axis() const {
    switch (code[2]) {
      case 'C': return Axis::kTwoTheta;
      case 'T': return Axis::kTimeOfFlight;
      case 'E': return Axis::kEnergy;
      default: return Axis::kOther;
    }
  }
};

// One record: the characters read (0 to 80) and a NUL.
using ExpRecord = std::array<char, kExpRecordLength + 1>;

// Reads the next record (0 to 80 characters, NUL-terminated) and the line end
// after it (LF, or CR and the byte after it); file.at_end() then tells whether
// the record came up short, and a record that came up short is never to be
// examined. A final record without a line end counts as whole.
void read_exp_record(ExpRecord& record, InputFile& file);

// Histogram numbers are written with two digits in file names, so at most 99.
inline constexpr int kMaxHistograms = 99;

// Entries in file order; entry h - 1 describes histogram h. Every non-blank
// field of an HTYP record is taken, even after a blank one; the blank ends
// the table after that record, and so does a full table.
struct HistogramTable {
  std::array<HistogramType, kMaxHistograms> entries{};
  int count = 0;
};

// What the other records say of a histogram (docs/formats.md lists the
// records and their fields). Constant wavelength: constants = lambda1,
// lambda2, zero (centidegrees); time of flight: DIFC, DIFA, zero; energy
// dispersive: the detector's 2-theta (degrees).
struct HistogramInfo {
  int number = 0;
  HistogramType type;
  std::optional<std::string> name;
  std::optional<std::string> instrument;
  std::vector<double> constants;  // the ICONS fields that hold numbers, in order, up to the first that does not
  std::optional<double> lambda2_ratio;   // constant wavelength: lambda2's intensity / lambda1's
  std::optional<double> bank_two_theta;  // time of flight: the detector bank's 2-theta (degrees)
  std::optional<double> range_min, range_max;  // TRNGE, in the position's unit (microseconds for time of flight)
  std::optional<double> weighted_r, r, expected_weighted_r, sum_w_delta2;
  std::optional<double> weighted_r_background, r_background;  // of the background-subtracted profile
  std::optional<long long> observations;
  std::optional<long long> reflections;
  std::optional<double> reflection_d_min;
};

// An atom site of a phase ("CRSn  AT  mA" and "CRSn  AT  mB"): each value
// as the refinement left it; the file holds no standard uncertainties for
// atoms. A field that is not a number leaves its value out.
struct AtomSite {
  std::string label, type;  // as they stand, without padding
  std::array<std::optional<double>, 3> xyz;
  std::optional<double> occupancy;
  std::optional<long long> multiplicity;
  char adp = ' ';  // 'I' isotropic (u[0] is Uiso), 'A' anisotropic (U11 U22 U33 U12 U13 U23)
  std::array<std::optional<double>, 6> u;
};

// A value with its standard uncertainty, each where the file holds a number.
struct Measured {
  std::optional<double> value, su;
};

// What the experiment says of a phase ("CRSn" records, and its fraction in
// each histogram from "HAPnhhPHSFR").
struct PhaseInfo {
  std::optional<std::string> name;
  std::array<Measured, 6> cell;  // a, b, c (A), alpha, beta, gamma (degrees)
  Measured volume;               // A^3
  std::optional<std::string> space_group;  // Hermann-Mauguin, blank-separated ("P n m a")
  std::map<int, AtomSite> atoms;           // by atom number
  std::map<int, double> fractions;         // by histogram number
};

// The experiment: its type table and, when asked for, its title, goodness
// of fit, phases and what it says of each histogram.
struct Experiment {
  HistogramTable types;
  std::optional<std::string> title;
  std::optional<double> reduced_chi2;
  std::optional<long long> variables;
  std::optional<std::string> last_refinement;  // the latest least-squares run (HSTRY GENLES), "YYYY-MM-DDTHH:MM:SS"
  std::map<int, PhaseInfo> phases;        // by phase number: those any record names
  std::vector<HistogramInfo> histograms;  // one per entry of the type table, in order
};

// What to read. The converter needs only the types and stops reading once
// the table is complete (after one record more); trov-export reads every
// record to the end of the file, a later record of a key replacing an
// earlier one.
enum class ExperimentRecords { kTypes, kAll };

// Reads the file from its start, in one pass. Read errors throw Fatal.
Experiment read_experiment(InputFile& file, ExperimentRecords what);

}  // namespace trov
