// d-spacings from positions and a histogram's instrument constants.
#include "gsas/d_spacing.h"

#include <cmath>
#include <numbers>

namespace trov {

namespace {

constexpr double kDegree = std::numbers::pi / 180.0;

}  // namespace

DSpacing::DSpacing(const HistogramInfo& histogram) : axis_(histogram.type.axis()) {
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
