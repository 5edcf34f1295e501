// An oracle kept apart on purpose: the profile conversion as a plain C program would write it (fread, fprintf).
//
// The benchmarks measure trov against it, so it shares no formatting or
// buffering code with trov and must stay as plain as it is.
#include "stdio_baseline.h"

#include "plot_files/conversion.h"

namespace trov::bench {

void stdio_convert(std::FILE* profile, std::FILE* plot, std::FILE* markers, bool centidegrees) {
  unsigned char block[ProfileBlock::kPointBytes];
  unsigned char word[kWordSize];
  std::fread(block, 1, sizeof block, profile);
  while (!std::feof(profile)) {
    for (std::size_t i = 0; i < kPointsPerBlock; ++i) {
      const ProfilePoint p = decode_profile_point(block + i * kProfilePointSize);
      if (!(p.calculated > 0.0f)) continue;
      double x = p.position;
      if (centidegrees) x *= static_cast<double>(kCentidegree);
      const double obs = p.observed, calc = p.calculated, scale = p.scale;
      std::fprintf(plot, "%7.3f %8.1f %8.1f %8.1f %11.4f %11.4f\n", x, obs * scale, calc * scale, (obs - calc) * scale,
                   scale, static_cast<double>(p.auxiliary));
      int n = p.marker_flags / 4;
      for (int k = 10; k >= 0; --k) {
        if (n / (1 << k) == 1) {
          std::fprintf(markers, "%7.3f %2d\n", x, k + 1);
          n %= 1 << k;
        }
      }
    }
    std::fread(word, 1, sizeof word, profile);
    std::fread(word, 1, sizeof word, profile);
    std::fread(block, 1, sizeof block, profile);
  }
}

}  // namespace trov::bench
