// Fuzzes the profile conversion: a 4-character type and any bytes as a profile file.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "io/output_file.h"
#include "plot_files/conversion.h"
#include "testing/fuzz_support.h"

namespace {

using trov::ProfileBlock;

// An output file held in memory, and the lines it got.
struct MemoryOutput {
  std::string text;
  trov::OutputFile file;

  explicit MemoryOutput(const char* name) : file(trov::memory_sink(text), name) {}

  std::size_t lines() {
    file.close();
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < trov::kTypeFieldLength) return -1;
  trov::HistogramType type;
  std::memcpy(type.code.data(), data, trov::kTypeFieldLength);
  const std::uint8_t* profile_bytes = data + trov::kTypeFieldLength;
  const std::size_t profile_size = size - trov::kTypeFieldLength;

  trov::InputFile profile(trov::memory_source({reinterpret_cast<const char*>(profile_bytes), profile_size}), "fuzz.p01");
  MemoryOutput plot("fuzz.a01");
  MemoryOutput markers("fuzz.b01");
  trov::convert_histogram(profile, plot.file, markers.file, type);

  // Every block whose 504 bytes of points are in the file is converted once;
  // a point gives a plot line when calculated > 0, and a marker line per set
  // bit 2..12 when 0 <= marker_flags < 8192.
  std::size_t plot_lines = 0;
  std::size_t marker_lines = 0;
  for (std::size_t block = 0; block * ProfileBlock::kSize + ProfileBlock::kPointBytes <= profile_size; ++block) {
    for (std::size_t i = 0; i < trov::kPointsPerBlock; ++i) {
      const auto point = trov::decode_profile_point(profile_bytes + block * ProfileBlock::kSize + i * trov::kProfilePointSize);
      if (!(point.calculated > 0.0f)) continue;
      ++plot_lines;
      if (point.marker_flags >= 0 && point.marker_flags < (1 << 13)) {
        marker_lines += static_cast<std::size_t>(__builtin_popcount(static_cast<unsigned>(point.marker_flags) >> 2));
      }
    }
  }
  if (plot.lines() != plot_lines) trov::testing::finding("plot line count");
  if (markers.lines() != marker_lines) trov::testing::finding("marker line count");
  return 0;
}
