// d-spacings (and Q) of positions on a histogram's axis, from its instrument constants.
#pragma once

#include <numbers>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gsas/experiment.h"

namespace trov {

// Converts positions (2-theta in degrees, TOF in microseconds, energy in keV)
// into d-spacings (angstrom) with a histogram's constants. Usable only where
// the experiment gives the constants the axis needs.
class DSpacing {
 public:
  explicit DSpacing(const HistogramInfo& histogram);
  bool usable() const { return usable_; }
  // d of a position, or nullopt where it has none (a non-positive value).
  std::optional<double> d(double position) const;
  // Q (1/angstrom) of a d-spacing: 2 pi / d.
  static double q(double d) { return 2 * std::numbers::pi / d; }
  // The constants used, by name (lambda1, lambda2, zero; difc, difa, zero; two_theta).
  const std::vector<std::pair<std::string, double>>& constants() const { return named_; }

 private:
  Axis axis_;
  bool usable_ = false;
  double a_ = 0, b_ = 0, zero_ = 0;
  std::vector<std::pair<std::string, double>> named_;
};

}  // namespace trov
