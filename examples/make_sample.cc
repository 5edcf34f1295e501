// Writes a small generated experiment, SAMPLE.EXP with SAMPLE.P01 and SAMPLE.P03, into a folder.
//
// Histogram 1 is a constant-wavelength X-ray powder pattern (PXC, positions in
// centidegrees), histogram 2 a single-crystal one (SXC, not converted) and
// histogram 3 a time-of-flight neutron powder pattern (PNT, microseconds).
// The output is deterministic: the same bytes on every run and machine.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures.h"

namespace {

using trov::fixtures::Point;

// A few Gaussian peaks on a sloping background; every peak marks its nearest
// point with marker 1 (bit 2) or, for the second phase, marker 2 (bit 3).
std::vector<Point> pattern(float start, float step, int count, const std::vector<double>& peaks, double width) {
  std::vector<Point> points;
  for (int i = 0; i < count; ++i) {
    const double x = start + step * i;
    double calc = 200.0 - 0.02 * i;
    std::int32_t flags = 0;
    for (std::size_t k = 0; k < peaks.size(); ++k) {
      const double d = (x - peaks[k]) / width;
      calc += (1000.0 / (1.0 + static_cast<double>(k))) * std::exp(-0.5 * d * d);
      if (std::fabs(x - peaks[k]) <= step / 2) flags |= k % 2 == 0 ? 4 : 8;
    }
    // Deterministic "counting noise" from the index alone.
    const double noise = std::sqrt(calc) * (static_cast<double>((i * 7919) % 200) / 100.0 - 1.0);
    const bool excluded = i < 10;
    points.push_back({flags, static_cast<float>(x), static_cast<float>(calc + noise),
                      excluded ? 0.0f : static_cast<float>(calc), 1.0f, static_cast<float>(std::sqrt(calc))});
  }
  return points;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample FOLDER\n");
    return 2;
  }
  namespace fs = std::filesystem;
  namespace fx = trov::fixtures;
  const fs::path folder = argv[1];
  fs::create_directories(folder);
  fx::write_file((folder / "SAMPLE.EXP").string(),
                 fx::lines({fx::record("     SAMPLE EXPERIMENT GENERATED FOR TROV"),
                            fx::record(" EXPR  NAME  SAMPLE"),
                            fx::record(" EXPR  NHST     3"),
                            fx::htyp_record(1, {"PXC ", "SXC ", "PNT "}),
                            fx::record(" EXPR  NPHAS    2    0    0    0    0    0    0    0    0")},
                           "\r\n"));
  fx::write_file((folder / "SAMPLE.P01").string(),
                 fx::profile_bytes(pattern(1000.0f, 2.0f, 700, {1300, 1500, 1720, 1950, 2100, 2300}, 6.0)));
  fx::write_file((folder / "SAMPLE.P03").string(),
                 fx::profile_bytes(pattern(5000.0f, 4.0f, 500, {5600, 6100, 6400, 6900}, 9.0)));
  std::printf("Sample experiment written to %s\n", folder.string().c_str());
  return 0;
}
