// 100 MB inputs convert in constant memory: the child's peak resident size is measured.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fixtures.h"
#include "scratch.h"

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
  if (r.max_rss_kb <= 0) GTEST_SKIP() << "the platform reported no peak memory (Wine reports 0)";
  EXPECT_LT(r.max_rss_kb, kPeakLimitKb);
  std::printf("peak resident size: %ld kB\n", r.max_rss_kb);
}

TEST(LargeFile, HundredMegabyteProfileConvertsInBoundedMemory) {
  Scratch scratch;
  std::vector<ProfilePoint> block;
  for (int i = 0; i < 14; ++i) block.push_back({i % 4 == 0 ? 12 : 0, 1000.0f + static_cast<float>(i), 120.5f, 118.25f, 1.5f, 0.5f});
  const std::string unit = writer::profile_bytes(block);
  write_repeated(scratch.path("big.p01"), unit, kHundredMegabytes);
  scratch.write("big.exp", writer::htyp_record(1, {"PXC "}) + "\r\n");
  testing::RunResult r = scratch.run_trov("big\n");
  EXPECT_EQ(r.status, 0) << r.out;
  const std::size_t blocks = kHundredMegabytes / unit.size();
  EXPECT_EQ(count_lines(scratch.path("big.a01")), blocks * 14);
  EXPECT_EQ(count_lines(scratch.path("big.b01")), blocks * 4 * 2);
  expect_bounded_memory(r);
}

TEST(LargeFile, HundredMegabyteExperimentWithoutTypesIsScannedInBoundedMemory) {
  Scratch scratch;
  write_repeated(scratch.path("big.exp"), writer::record(" EXPR  NAME  a large experiment") + "\r\n", kHundredMegabytes);
  testing::RunResult r = scratch.run_trov("big\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(scratch.exists("big.a01"));
  expect_bounded_memory(r);
}

}  // namespace
}  // namespace trov
