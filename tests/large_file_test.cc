// 100 MB inputs convert in constant memory: the child's peak resident size is measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/scratch.h"

namespace trov {
namespace {

using testing::Scratch;

constexpr std::size_t kHundredMegabytes = std::size_t{100} << 20;
constexpr long kPeakLimitKb = 16 * 1024;

// Appends copies of unit to the file until it holds at least size bytes.
void write_repeated(const std::string& path, const std::string& unit, std::size_t size) {
  std::ofstream out(path, std::ios::binary);
  for (std::size_t done = 0; done < size; done += unit.size()) out.write(unit.data(), static_cast<std::streamsize>(unit.size()));
}

std::size_t count_lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::size_t lines = 0;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) lines += static_cast<std::size_t>(std::count(buffer, buffer + in.gcount(), '\n'));
  return lines;
}

// Called last: skips when no figure can be had, after everything else passed.
void expect_bounded_memory(const testing::RunResult& r) {
  if (testing::kUnderAddressSanitizer) GTEST_SKIP() << "shadow memory says nothing of the program's own";
  if (testing::kUnderEmulator) GTEST_SKIP() << "the peak counted is the emulator's, whose translated code outweighs trov";
  if (r.max_rss_kb <= 0) GTEST_SKIP() << "the platform reported no peak memory (Wine reports 0)";
  EXPECT_LT(r.max_rss_kb, kPeakLimitKb);
  std::printf("peak resident size: %ld kB\n", r.max_rss_kb);
}

TEST(LargeFile, HundredMegabyteProfileConvertsInBoundedMemory) {
  Scratch scratch;
  std::vector<ProfilePoint> block;
  for (int i = 0; i < 14; ++i) block.push_back({i % 4 == 0 ? 12 : 0, 1000.0f + static_cast<float>(i), 120.5f, 118.25f, 1.5f, 0.5f});
  const std::string unit = testing::profile_bytes(block);
  write_repeated(scratch.path("big.p01"), unit, kHundredMegabytes);
  scratch.write("big.exp", testing::htyp_record(1, {"PXC "}) + "\r\n");
  testing::RunResult r = scratch.run_trov("big\n");
  EXPECT_EQ(r.status, 0) << r.out;
  const std::size_t blocks = kHundredMegabytes / unit.size();
  EXPECT_EQ(count_lines(scratch.path("big.a01")), blocks * 14);
  EXPECT_EQ(count_lines(scratch.path("big.b01")), blocks * 4 * 2);
  expect_bounded_memory(r);
}

TEST(LargeFile, HundredMegabyteExperimentWithoutTypesIsScannedInBoundedMemory) {
  Scratch scratch;
  write_repeated(scratch.path("big.exp"), testing::record(" EXPR  NAME  a large experiment") + "\r\n", kHundredMegabytes);
  testing::RunResult r = scratch.run_trov("big\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(scratch.exists("big.a01"));
  expect_bounded_memory(r);
}

// A 32-bit build opens and reads a file of more than 2 GiB too (large-file
// offsets): a sparse file whose only point lies beyond 2^31 bytes.
TEST(LargeFile, ProfileBeyondTwoGibibytesIsReadToItsEnd) {
  Scratch scratch;
  constexpr std::uint64_t kBlocksBefore = (std::uint64_t{1} << 31) / ProfileBlock::kSize + 1;
  const std::string last = testing::profile_bytes({{4, 2000.0f, 50.0f, 40.0f, 1.0f, 0.0f}});
#ifdef _WIN32
  GTEST_SKIP() << "Windows files are not sparse here: the test would write 2 GiB to disk";
#endif
  // Zero blocks (nothing converted) as a hole in the file, then the point.
  scratch.write("big.p01", "");
  std::filesystem::resize_file(scratch.path("big.p01"), kBlocksBefore * ProfileBlock::kSize);
  std::ofstream(scratch.path("big.p01"), std::ios::binary | std::ios::app).write(last.data(), static_cast<std::streamsize>(last.size()));
  scratch.write("big.exp", testing::htyp_record(1, {"PNT "}) + "\r\n");
  testing::RunResult r = scratch.run_trov("big\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(scratch.read("big.a01"), testing::native("2000.000     50.0     40.0     10.0      1.0000      0.0000\n"));
  EXPECT_EQ(scratch.read("big.b01"), testing::native("2000.000  1\n"));
}

}  // namespace
}  // namespace trov
