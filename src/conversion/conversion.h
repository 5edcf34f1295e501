// GSAS binary profile files (EXPNAM.P##) and the plot (EXPNAM.a##) and marker (EXPNAM.b##) files made from them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/stream.h"
#include "conversion/fixed_format.h"
#include "experiment/experiment.h"

namespace trov {

// A profile file has no header: it is a sequence of 512-byte blocks, each
// holding 14 points of 36 bytes followed by two 4-byte words the converter
// skips. Every field is little-endian whatever the host.
//
// ProfilePoint (36 bytes):
//   0  int32    marker_flags  bits 2..12 mark reflections 1..11 at this point
//   4  float32  position      2-theta in centidegrees, or time of flight, ...
//   8  float32  observed
//  12  float32  calculated    zero (or less) for points left out of the fit
//  16  float32  scale         multiplies observed, calculated and difference
//  20  float32  auxiliary
//  24  3 words                not used here
inline constexpr std::size_t kWordSize = 4;
inline constexpr std::size_t kProfilePointSize = 9 * kWordSize;
inline constexpr std::size_t kPointsPerBlock = 14;

struct ProfilePoint {
  std::int32_t marker_flags = 0;
  float position = 0;
  float observed = 0;
  float calculated = 0;
  float scale = 0;
  float auxiliary = 0;
};

// The layout of one block, and the buffer its points are read into. A block
// is read as its 504 bytes of points and then two separate 4-byte reads, so a
// file that ends inside those trailing words still has its last points used.
struct ProfileBlock {
  static constexpr std::size_t kPointBytes = kPointsPerBlock * kProfilePointSize;  // 504
  static constexpr std::size_t kTrailingWords = 2;
  static constexpr std::size_t kSize = kPointBytes + kTrailingWords * kWordSize;   // 512

  std::array<unsigned char, kPointBytes> points{};
};

// Byte-order-independent decoding of little-endian words.
inline std::uint32_t decode_u32_le(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}
float decode_f32_le(const unsigned char* bytes);
ProfilePoint decode_profile_point(const unsigned char* bytes);

// The single-precision value nearest 0.01 (bits 0x3C23D70A), by which
// centidegree positions are scaled; the product is formed in double.
inline constexpr float kCentidegree = 0.01f;

// x of a point: its position, scaled for centidegree types.
double axis_position(const ProfilePoint& point, const HistogramType& type);

// One plot line, "%7.3f %8.1f %8.1f %8.1f %11.4f %11.4f\n":
// x, observed*scale, calculated*scale, (observed-calculated)*scale, scale,
// auxiliary, each float widened to double and every product rounded once.
// format_plot_line writes it to out (room for kMaxPlotLineSize) and returns
// its end.
inline constexpr std::size_t kMaxPlotLineSize = 6 * kMaxFixedChars;
char* format_plot_line(char* out, double x, const ProfilePoint& point);
void write_plot_line(Stream& plot, double x, const ProfilePoint& point);

// Zero to eleven marker lines "%7.3f %2d\n" for one point, highest marker
// number first. N = marker_flags / 4; a line for number k + 1 is written when
// N / 2^k is exactly 1, N then becoming N % 2^k. So 0 <= N < 2048 gives a
// line per set bit, and any N outside that range gives none.
inline constexpr std::size_t kMaxMarkerLineSize = kMaxFixedChars + 4;
void write_marker_lines(Stream& markers, double x, std::int32_t marker_flags);

// Reads the profile from its start to its end and writes the plot and marker
// lines of every point whose calculated value is positive. Opens and closes
// nothing. Read and write failures throw Fatal naming the file.
void convert_histogram(Stream& profile, Stream& plot, Stream& markers, const HistogramType& type);

}  // namespace trov
