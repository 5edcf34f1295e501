// Builds the sample: two real cells, structure factors, Caglioti and TOF peak widths, counting noise.
//
// Phase 1 is silicon (Fd-3m, a = 5.43102 A), phase 2 zinc oxide (wurtzite,
// P6_3mc, a = 3.24982 A, c = 5.20661 A). Histogram 1 is a Cu K-alpha-1
// (1.5406 A) X-ray pattern from 5 to 120 degrees 2-theta in 0.01-degree steps,
// stored in centidegrees; histogram 2 a single-crystal one (no profile);
// histogram 3 a time-of-flight neutron pattern from a 90-degree bank
// (DIFC 7150 us/A), 3,000 to 22,000 microseconds in logarithmic steps.
// Reflection positions, intensities and extinctions come from the atoms; the
// observed profile is the calculated one plus Poisson-like noise from a fixed
// seed. The scale column is 1 for the X-ray histogram and the inverse of the
// incident spectrum for the neutron one; the auxiliary column is the
// background.
#include "testing/sample.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <map>
#include <numbers>
#include <vector>

#include "testing/gsas_writer.h"

namespace trov::testing {

namespace {

constexpr double kPi = std::numbers::pi;

struct Atom {
  double x, y, z;
  double xray_z;     // electrons, for the X-ray form factor
  double neutron_b;  // coherent scattering length, fm
};

struct Phase {
  bool hexagonal;
  double a, c;
  std::vector<Atom> atoms;
  double scale;  // phase fraction and the like, on an arbitrary scale
};

Phase silicon() {
  Phase p{false, 5.43102, 5.43102, {}, 1.0};
  const double fcc[4][3] = {{0, 0, 0}, {0, 0.5, 0.5}, {0.5, 0, 0.5}, {0.5, 0.5, 0}};
  for (const auto& t : fcc) {
    p.atoms.push_back({t[0], t[1], t[2], 14, 4.149});
    p.atoms.push_back({t[0] + 0.25, t[1] + 0.25, t[2] + 0.25, 14, 4.149});
  }
  return p;
}

Phase zinc_oxide() {
  const double u = 0.3825;
  return {true, 3.24982, 5.20661,
          {{1.0 / 3, 2.0 / 3, 0, 30, 5.680}, {2.0 / 3, 1.0 / 3, 0.5, 30, 5.680},
           {1.0 / 3, 2.0 / 3, u, 8, 5.803}, {2.0 / 3, 1.0 / 3, 0.5 + u, 8, 5.803}},
          2.2};
}

double d_spacing(const Phase& p, int h, int k, int l) {
  const double inverse_square = p.hexagonal ? 4.0 / 3.0 * (h * h + h * k + k * k) / (p.a * p.a) + l * l / (p.c * p.c)
                                            : (h * h + k * k + l * l) / (p.a * p.a);
  return 1.0 / std::sqrt(inverse_square);
}

// Reflections with d above d_min, equivalent ones summed: d -> sum of |F|^2.
std::map<double, double> reflections(const Phase& p, double d_min, bool neutron) {
  std::map<long, std::pair<double, double>> by_d;  // d in units of 1e-7 A
  const int n = static_cast<int>(std::max(p.a, p.c) / d_min) + 1;
  for (int h = -n; h <= n; ++h) {
    for (int k = -n; k <= n; ++k) {
      for (int l = -n; l <= n; ++l) {
        if (h == 0 && k == 0 && l == 0) continue;
        const double d = d_spacing(p, h, k, l);
        if (d < d_min) continue;
        const double s = 1.0 / (2.0 * d);  // sin(theta) / lambda
        std::complex<double> f = 0;
        for (const Atom& a : p.atoms) {
          // A one-term X-ray form factor: plausible fall-off, not tabulated values.
          const double scattering = neutron ? a.neutron_b : a.xray_z * (0.55 * std::exp(-12.0 * s * s) + 0.45 * std::exp(-0.9 * s * s));
          f += scattering * std::polar(1.0, 2 * kPi * (h * a.x + k * a.y + l * a.z));
        }
        const double f2 = std::norm(f);
        if (f2 < 1e-6) continue;  // systematically absent
        auto& entry = by_d[std::lround(d * 1e7)];
        entry.first = d;
        entry.second += f2;
      }
    }
  }
  std::map<double, double> out;
  for (const auto& [key, value] : by_d) out[value.first] = value.second;
  return out;
}

double pseudo_voigt(double dx, double fwhm) {
  const double eta = 0.45;
  const double g = std::exp(-4 * std::log(2.0) * dx * dx / (fwhm * fwhm));
  const double l = 1.0 / (1.0 + 4 * dx * dx / (fwhm * fwhm));
  return eta * l + (1 - eta) * g;
}

// Counting noise with a fixed seed: xorshift64* and Box-Muller.
class Noise {
 public:
  double gaussian() {
    const double u1 = (static_cast<double>(next() >> 11) + 0.5) / 9007199254740992.0;
    const double u2 = static_cast<double>(next() >> 11) / 9007199254740992.0;
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * kPi * u2);
  }

 private:
  std::uint64_t next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  std::uint64_t state_ = 0x9E3779B97F4A7C15ULL;
};

float counts(double expected, Noise& noise) {
  return static_cast<float>(std::max(0.0, std::round(expected + std::sqrt(expected) * noise.gaussian())));
}

constexpr double kWavelength = 1.5406;
constexpr double kDifc = 7150.0, kZero = 5.0;

std::vector<ProfilePoint> xray_pattern(const std::vector<Phase>& phases, SampleSummary& summary, Noise& noise) {
  const double start = 5.0, step = 0.01;
  const int count = static_cast<int>(std::lround((120.0 - start) / step)) + 1;
  std::vector<double> calc(static_cast<std::size_t>(count), 0.0);
  std::vector<std::int32_t> flags(calc.size(), 0);
  std::vector<double> background(calc.size());
  for (int i = 0; i < count; ++i) {
    const double tth = start + step * i;
    background[static_cast<std::size_t>(i)] =
        180.0 + 900.0 * std::exp(-tth / 7.0) + 140.0 * std::exp(-std::pow((tth - 24.0) / 7.0, 2)) - 0.4 * tth;
  }
  for (std::size_t ph = 0; ph < phases.size(); ++ph) {
    for (const auto& [d, f2] : reflections(phases[ph], kWavelength / 2 / std::sin(60.5 * kPi / 180), false)) {
      const double theta = std::asin(kWavelength / (2 * d));
      const double tth = 2 * theta * 180 / kPi;
      if (tth < start || tth > 120.0) continue;
      const double lp = (1 + std::pow(std::cos(2 * theta), 2)) / (std::pow(std::sin(theta), 2) * std::cos(theta));
      const double s2 = std::pow(std::sin(theta) / kWavelength, 2);
      const double intensity = phases[ph].scale * 0.009 * f2 * lp * std::exp(-2 * 0.5 * s2);
      const double t = std::tan(theta);
      const double fwhm = std::sqrt(0.0040 * t * t - 0.0020 * t + 0.0030);
      const int centre = static_cast<int>(std::lround((tth - start) / step));
      for (int i = std::max(0, centre - 300); i < std::min(count, centre + 300); ++i) {
        calc[static_cast<std::size_t>(i)] += intensity * pseudo_voigt(start + step * i - tth, fwhm);
      }
      flags[static_cast<std::size_t>(centre)] |= 4 << ph;
    }
  }
  std::vector<ProfilePoint> points;
  for (int i = 0; i < count; ++i) {
    const auto u = static_cast<std::size_t>(i);
    const double y = calc[u] + background[u];
    const bool excluded = start + step * i < 5.5;  // below the beam stop's shadow
    summary.xray_excluded += excluded;
    // Only points that are fitted (calculated > 0) give tick lines.
    for (int ph = 0; ph < 2 && !excluded; ++ph) summary.xray_marked[ph] += (flags[u] >> (2 + ph) & 1);
    points.push_back({flags[u], static_cast<float>((start + step * i) * 100), counts(y, noise),
                      excluded ? 0.0f : static_cast<float>(y), 1.0f, static_cast<float>(background[u])});
  }
  summary.xray_points = count;
  return points;
}

std::vector<ProfilePoint> neutron_pattern(const std::vector<Phase>& phases, SampleSummary& summary, Noise& noise) {
  const double t0 = 3000.0, ratio = 1.0008, t_end = 22000.0;
  const int count = static_cast<int>(std::log(t_end / t0) / std::log(ratio)) + 1;
  auto tof = [&](int i) { return t0 * std::pow(ratio, i); };
  // The incident spectrum: a moderated pulse, rising and then falling off.
  auto incident = [](double t) { return 2.5 * std::pow(t / 8000.0, -1.4) * std::exp(-std::pow(2200.0 / t, 2)); };
  std::vector<double> calc(static_cast<std::size_t>(count), 0.0);
  std::vector<std::int32_t> flags(calc.size(), 0);
  for (std::size_t ph = 0; ph < phases.size(); ++ph) {
    for (const auto& [d, f2] : reflections(phases[ph], (t0 - kZero) / kDifc, true)) {
      const double t = kDifc * d + kZero;
      if (t < t0 || t > t_end) continue;
      const double intensity = phases[ph].scale * 0.55 * f2 * std::pow(d, 4) * std::exp(-0.4 / (2 * d * d));
      const double fwhm = 0.0032 * t;
      const int centre = static_cast<int>(std::lround(std::log(t / t0) / std::log(ratio)));
      for (int i = std::max(0, centre - 80); i < std::min(count, centre + 80); ++i) {
        calc[static_cast<std::size_t>(i)] += intensity * pseudo_voigt(tof(i) - t, fwhm);
      }
      flags[static_cast<std::size_t>(centre)] |= 4 << ph;
    }
  }
  std::vector<ProfilePoint> points;
  for (int i = 0; i < count; ++i) {
    const auto u = static_cast<std::size_t>(i);
    const double t = tof(i);
    const double background = 60.0 + 25.0 * t / 10000.0;
    const double spectrum = incident(t);
    const double y = (calc[u] + background) * spectrum;  // raw counts
    const bool excluded = i < 40;
    summary.neutron_excluded += excluded;
    for (int ph = 0; ph < 2 && !excluded; ++ph) summary.neutron_marked[ph] += (flags[u] >> (2 + ph) & 1);
    points.push_back({flags[u], static_cast<float>(t), counts(y, noise), excluded ? 0.0f : static_cast<float>(y),
                      static_cast<float>(1.0 / spectrum), static_cast<float>(background)});
  }
  summary.neutron_points = count;
  return points;
}

// The tail words of each point: weight 1/sigma^2 of the observed counts
// (Poisson, at least one count) and the step to the next point.
std::vector<PointTail> tails_of(const std::vector<ProfilePoint>& points) {
  std::vector<PointTail> tails(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    const std::size_t next = i + 1 < points.size() ? i + 1 : i;
    const std::size_t previous = next == i && i > 0 ? i - 1 : i;
    tails[i].weight = 1.0f / std::max(points[i].observed, 1.0f);
    tails[i].step_width = points[next].position - points[previous].position;
  }
  return tails;
}

std::string profile_file(const std::vector<ProfilePoint>& points) {
  return profile_bytes(points, tails_of(points));
}

// Records in the forms a refinement package writes them: the title in a DESCR
// record, names from column 14 of the PNAM and HNAM records.
std::string experiment_file() {
  return lines({record("     VERSION    6"),
                          record("      DESCR   Silicon and zinc oxide, X-ray and TOF neutron (generated)"),
                          record(" EXPR  NHST     3"),
                          htyp_record(1, {"PXC ", "SXC ", "PNT "}),
                          record(" EXPR  NPHAS    1    1    0    0    0    0    0    0    0"),
                          record("CRS1    PNAM  Silicon"),
                          record("CRS1   NATOM    1"),
                          record("CRS1  ABC     5.431020  5.431020  5.431020    N    0"),
                          record("CRS1  ABCSIG  0.000000  0.000000  0.000000"),
                          record("CRS1  ANGLES   90.0000   90.0000   90.0000"),
                          record("CRS1  ANGSIG    0.0000    0.0000    0.0000"),
                          record("CRS1  AT  1A  SI        0.125000  0.125000  0.125000  1.000000SI1        8 000"),
                          record("CRS1  AT  1B  0.005120                                                    I"),
                          record("CRS1  CELVOL        160.193          0.000"),
                          record("CRS1  SG SYM  F d -3 m"),
                          record("CRS2    PNAM  Zinc oxide"),
                          record("CRS2   NATOM    2"),
                          record("CRS2  ABC     3.249820  3.249820  5.206610    Y    0"),
                          record("CRS2  ABCSIG  0.000031  0.000031  0.000052"),
                          record("CRS2  ANGLES   90.0000   90.0000  120.0000"),
                          record("CRS2  ANGSIG    0.0000    0.0000    0.0000"),
                          record("CRS2  AT  1A  ZN+2      0.333333  0.666667  0.000000  1.000000ZN1        2 000"),
                          record("CRS2  AT  1B  0.007210  0.007210  0.008930  0.003605  0.000000  0.000000  A  U"),
                          record("CRS2  AT  2A  O-2       0.333333  0.666667  0.382000  1.000000O1         2 000"),
                          record("CRS2  AT  2B  0.009400                                                    I"),
                          record("CRS2  CELVOL         47.619          0.001"),
                          record("CRS2  SG SYM  P 63 m c"),
                          record("HAP1 1PHSFR      0.6200        Y    0"),
                          record("HAP1 3PHSFR      0.6100        Y    0"),
                          record("HAP2 1PHSFR      0.3800        Y    0"),
                          record("HAP2 3PHSFR      0.3900        Y    0"),
                          record("HST  1  HNAM  Cu Ka1 X-ray, 5 to 120 deg 2-theta"),
                          // lambda1, lambda2 (none: K-alpha-1 only), zero (centidegrees)
                          record("HST  1 ICONS  1.540600  0.000000       0.0"),
                          record("HST  1 TRNGE   5.00000 120.00000"),
                          // The fit statistics of the generated profiles, as a refinement reports them.
                          record("HST  1 RPOWD    0.0686    0.0517  11451  11891.        0.0000    0.0000     0"),
                          record("HST  3  HNAM  Time of flight, 90 deg bank"),
                          // DIFC, DIFA, zero (microseconds); the range in milliseconds
                          record("HST  3 ICONS   7150.00      0.00      5.00"),
                          record("HST  3 TRNGE   3.00000  22.00000"),
                          record("HST  3 RPOWD    0.0220    0.0116   2452   2421.4       0.0000    0.0000     0"),
                          record(" REFN GDNFT  Reduced CHI**2 =  1.030     for   11 variables")},
                         "\r\n");
}

}  // namespace

SampleFiles make_sample(SampleSummary* summary) {
  SampleSummary local;
  SampleSummary& s = summary != nullptr ? *summary : local;
  s = SampleSummary{};
  const std::vector<Phase> phases = {silicon(), zinc_oxide()};
  Noise noise;
  SampleFiles files;
  files.experiment = experiment_file();
  files.xray = profile_file(xray_pattern(phases, s, noise));
  files.neutron = profile_file(neutron_pattern(phases, s, noise));
  return files;
}

}  // namespace trov::testing
