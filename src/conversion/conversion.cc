// Converts one profile file, block by block, into plot lines and marker lines.
#include "conversion/conversion.h"

#include <array>
#include <bit>
#include <limits>

#include "conversion/fixed_format.h"

namespace trov {

float decode_f32_le(const unsigned char* bytes) {
  static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559);
  return std::bit_cast<float>(decode_u32_le(bytes));
}

ProfilePoint decode_profile_point(const unsigned char* bytes) {
  ProfilePoint point;
  point.marker_flags = static_cast<std::int32_t>(decode_u32_le(bytes));
  point.position = decode_f32_le(bytes + 1 * kWordSize);
  point.observed = decode_f32_le(bytes + 2 * kWordSize);
  point.calculated = decode_f32_le(bytes + 3 * kWordSize);
  point.scale = decode_f32_le(bytes + 4 * kWordSize);
  point.auxiliary = decode_f32_le(bytes + 5 * kWordSize);
  return point;
}

double axis_position(const ProfilePoint& point, const HistogramType& type) {
  double x = point.position;
  if (type.positions_in_centidegrees()) x *= static_cast<double>(kCentidegree);
  return x;
}

void write_plot_line(Stream& plot, double x, const ProfilePoint& point) {
  const double observed = point.observed;
  const double calculated = point.calculated;
  const double scale = point.scale;
  // Left uninitialised: filled from the start before it is written out, and
  // clearing 2 KB for every point would cost more than formatting it.
  std::array<char, 6 * kMaxFixedChars> line;  // NOLINT(cppcoreguidelines-pro-type-member-init)
  char* end = format_fixed(line.data(), x, 7, 3);
  *end++ = ' ';
  end = format_fixed(end, observed * scale, 8, 1);
  *end++ = ' ';
  end = format_fixed(end, calculated * scale, 8, 1);
  *end++ = ' ';
  end = format_fixed(end, (observed - calculated) * scale, 8, 1);
  *end++ = ' ';
  end = format_fixed(end, scale, 11, 4);
  *end++ = ' ';
  end = format_fixed(end, point.auxiliary, 11, 4);
  *end++ = '\n';
  plot.write(line.data(), static_cast<std::size_t>(end - line.data()));
}

void write_marker_lines(Stream& markers, double x, std::int32_t marker_flags) {
  constexpr int kMarkerCount = 11;
  std::int32_t n = marker_flags / 4;  // truncates toward zero, as the format defines
  for (int k = kMarkerCount - 1; k >= 0; --k) {
    const std::int32_t p = std::int32_t{1} << k;
    if (n / p != 1) continue;
    std::array<char, kMaxFixedChars + 8> line;  // NOLINT(cppcoreguidelines-pro-type-member-init): as above
    char* end = format_fixed(line.data(), x, 7, 3);
    *end++ = ' ';
    end = format_int2(end, k + 1);
    *end++ = '\n';
    markers.write(line.data(), static_cast<std::size_t>(end - line.data()));
    n %= p;
  }
}

void convert_histogram(Stream& profile, Stream& plot, Stream& markers, const HistogramType& type) {
  ProfileBlock block;
  profile.read(block.points.data(), block.points.size());
  // A block whose points came up short is never converted; one whose trailing
  // words are missing is. The end-of-file condition stays set once a read has
  // met the end, so the test after the next point read sees either.
  while (!profile.at_end()) {
    for (std::size_t i = 0; i < kPointsPerBlock; ++i) {
      const ProfilePoint point = decode_profile_point(block.points.data() + i * kProfilePointSize);
      if (!(point.calculated > 0.0f)) continue;  // excluded points; also keeps out NaN
      const double x = axis_position(point, type);
      write_plot_line(plot, x, point);
      write_marker_lines(markers, x, point.marker_flags);
    }
    // Stop at the first failed write rather than convert the rest in vain.
    plot.check_written();
    markers.check_written();
    std::array<unsigned char, kWordSize> word{};
    for (std::size_t w = 0; w < ProfileBlock::kTrailingWords; ++w) profile.read(word.data(), word.size());
    profile.read(block.points.data(), block.points.size());
  }
}

}  // namespace trov
