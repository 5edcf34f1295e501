// d-spacings from positions and a histogram's instrument constants.
#include "gsas/d_spacing.h"

#include <cmath>

#include "numbers/sine.h"

namespace trov {

namespace {

// hc in keV angstrom (CODATA 2018, exact in the SI since 2019): E = hc / lambda.
constexpr double kPlanckTimesLight = 12.398419843320026;

}  // namespace

DSpacing::DSpacing(const HistogramInfo& histogram) : axis_(histogram.type.axis()) {
  const std::vector<double>& c = histogram.constants;
  switch (axis_) {
    case Axis::kTwoTheta:  // d = lambda1 / (2 sin theta), 2-theta less the zero (stored in centidegrees)
      if (c.size() >= 3 && c[0] > 0) {
        usable_ = true;
        a_ = c[0];
        zero_ = c[2] / 100.0;
        named_ = {{"lambda1", c[0]}};
        if (c[1] != 0) {  // none for a single wavelength
          named_.emplace_back("lambda2", c[1]);
          if (histogram.lambda2_ratio) named_.emplace_back("lambda2_ratio", *histogram.lambda2_ratio);
        }
        named_.emplace_back("zero", zero_);  // in degrees, as positions are
      }
      break;
    case Axis::kTimeOfFlight:  // TOF = DIFC d + DIFA d^2 + zero
      if (c.size() >= 3 && c[0] > 0) {
        usable_ = true;
        a_ = c[0];
        b_ = c[1];
        zero_ = c[2];
        named_ = {{"difc", c[0]}, {"difa", c[1]}, {"zero", c[2]}};
        if (histogram.bank_two_theta) named_.emplace_back("two_theta", *histogram.bank_two_theta);
      }
      break;
    case Axis::kEnergy:  // d = hc / (2 E sin theta), theta half the detector's 2-theta
      if (!c.empty() && c[0] > 0) {
        usable_ = true;
        a_ = kPlanckTimesLight / (2 * sin_degrees(c[0] / 2));
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
      const double sine = sin_degrees((position - zero_) / 2);
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
