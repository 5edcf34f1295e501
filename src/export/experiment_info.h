// What an experiment file says of its histograms beyond their types: names, instrument constants, ranges, fit statistics.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/input_file.h"
#include "experiment/experiment.h"

namespace trov {

// The records read, all in the file's 80-column form (the record reader of
// the converter; records after "ZZZZZZZZZZZZ  Last EXP file record" are the
// refinement program's history and are not read):
//   "      DESCR   title"                          the experiment's title
//   "CRSn    PNAM  name"                           phase n's name
//   " REFN GDNFT  Reduced CHI**2 = x for n variables"
//   "HST  n  HNAM  name"                           histogram n's name
//   "HST  n ICONS" then 10-column fields           instrument constants (below)
//   "HST  n TRNGE" then two 10-column fields       data range (TOF in ms)
//   "HST  n RPOWD  wRp Rp Nobs Sum(w*d^2) ..."     fit statistics (old files: wRp Rp only)
//   "HST  n WREXP  expected wR"
//   "HST  n  NREF  count d-min ..."                reflections and their d limit
// A histogram number stands in columns 3-5, the key in 6-11; what follows
// starts at column 12. ICONS fields are fixed 10-column ones (they may run
// together with no blank between them); the others are read as words.
// Constant wavelength: ICONS = lambda1, lambda2, zero (centidegrees).
// Time of flight: ICONS = DIFC, DIFA, zero; TOF = DIFC*d + DIFA*d^2 + zero.
// Energy dispersive: ICONS's first field is the detector's 2-theta (degrees).
struct HistogramInfo {
  int number = 0;
  HistogramType type;
  std::optional<std::string> name;
  std::vector<double> constants;  // the ICONS fields that hold numbers, in order, up to the first that does not
  std::optional<double> range_min, range_max;  // TRNGE as stored
  std::optional<double> weighted_r, r, expected_weighted_r, sum_w_delta2;
  std::optional<long> observations;
  std::optional<long> reflections;
  std::optional<double> reflection_d_min;
};

struct ExperimentInfo {
  std::optional<std::string> title;
  std::optional<double> reduced_chi2;
  std::optional<long> variables;
  std::map<int, std::string> phase_names;
  std::vector<HistogramInfo> histograms;  // one per entry of the type table, in order
};

// Reads the whole file from its start; types is the table scan_histogram_types built.
ExperimentInfo read_experiment_info(InputFile& file, const HistogramTable& types);

// The position axis of a histogram type: constant wavelength (third letter
// C), time of flight (T), energy (E), or none of them.
enum class Axis { kTwoTheta, kTimeOfFlight, kEnergy, kOther };
Axis axis_of(const HistogramType& type);

// Converts positions (2-theta in degrees, TOF in microseconds, energy in keV)
// into d-spacings (angstrom) with a histogram's constants. Usable only where
// the experiment gives the constants the axis needs.
class DSpacing {
 public:
  explicit DSpacing(const HistogramInfo& histogram);
  bool usable() const { return usable_; }
  // d of a position, or nullopt where it has none (a non-positive value).
  std::optional<double> d(double position) const;
  // The constants used, by name (lambda1, lambda2, zero; difc, difa, zero; two_theta).
  const std::vector<std::pair<std::string, double>>& constants() const { return named_; }

 private:
  Axis axis_;
  bool usable_ = false;
  double a_ = 0, b_ = 0, zero_ = 0;
  std::vector<std::pair<std::string, double>> named_;
};

}  // namespace trov
