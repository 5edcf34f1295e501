// GSAS binary profile files (EXPNAM.P##): blocks of points, decoded from little-endian bytes, and the marker rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "io/input_file.h"

namespace trov {

// A profile file has no header: 512-byte blocks, each of 14 points of 36 bytes
// and two 4-byte words the converter skips. A point is a little-endian int32
// of marker flags and five float32s (position, observed, calculated, scale,
// auxiliary), then three words not used here. docs/formats.md has the table.
inline constexpr std::size_t kWordSize = 4;
inline constexpr std::size_t kProfilePointSize = 9 * kWordSize;
inline constexpr std::size_t kPointsPerBlock = 14;

struct ProfilePoint {
  std::int32_t marker_flags = 0;  // bits 2..12 mark reflections 1..11 at this point
  float position = 0;             // 2-theta in centidegrees, time of flight, ...
  float observed = 0;
  float calculated = 0;           // zero (or less) for points left out of the fit
  float scale = 0;                // multiplies observed, calculated and difference
  float auxiliary = 0;
};

// The layout of one block. A block whose points are all in the file is
// converted even when the file ends inside its two trailing words.
struct ProfileBlock {
  static constexpr std::size_t kPointBytes = kPointsPerBlock * kProfilePointSize;  // 504
  static constexpr std::size_t kTrailingWords = 2;
  static constexpr std::size_t kSize = kPointBytes + kTrailingWords * kWordSize;   // 512
};

// Little-endian words decoded from bytes, whatever the host's byte order.
inline std::uint32_t decode_u32_le(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}
float decode_f32_le(const unsigned char* bytes);  // the bits copied, never a cast
ProfilePoint decode_profile_point(const unsigned char* bytes);

// Calls mark(number) for each marker number (11 down to 1) of a point's
// flags. Marks are defined by quotients, not bits: number k + 1 where
// N / 2^k is exactly 1 (N = flags / 4), N then becoming N % 2^k. For
// 0 < N < 2048 that is a test of bit k; any other N gives no mark.
template <typename Mark>
void for_each_marker(std::int32_t marker_flags, Mark&& mark) {
  constexpr int kMarkerCount = 11;
  std::int32_t n = marker_flags / 4;
  if (n <= 0 || n >= 2048) return;
  for (int k = kMarkerCount - 1; k >= 0; --k) {
    const std::int32_t p = std::int32_t{1} << k;
    if (n / p != 1) continue;
    mark(k + 1);
    n %= p;
  }
}

// Reads the profile from its start to its end, many blocks at a time, and
// calls visit(bytes) with the kProfilePointSize bytes of each point of every
// block whose 504 bytes of points are all in the file (also when the file
// ends, or fails, inside its trailing words), then after_read() once the
// points of each read are visited. A read error is reported (Fatal) after the
// points delivered before it were visited.
template <typename Visit, typename AfterRead>
void read_profile_points(InputFile& profile, Visit&& visit, AfterRead&& after_read) {
  constexpr std::size_t kBlocksPerRead = 128;  // 64 KiB
  constexpr std::size_t kChunkSize = kBlocksPerRead * ProfileBlock::kSize;
  const std::unique_ptr<unsigned char[]> chunk(new unsigned char[kChunkSize]);  // NOLINT: uninitialised on purpose
  std::size_t delivered = kChunkSize;
  while (delivered == kChunkSize) {
    delivered = profile.read_partial(chunk.get(), kChunkSize);
    for (std::size_t block = 0; block + ProfileBlock::kPointBytes <= delivered; block += ProfileBlock::kSize) {
      for (std::size_t i = 0; i < kPointsPerBlock; ++i) visit(chunk.get() + block + i * kProfilePointSize);
    }
    after_read();
    profile.check_reading();
  }
}

}  // namespace trov
