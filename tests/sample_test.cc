// The generated sample experiment: the same bytes every time, and the plot and marker lines it must give.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <sstream>
#include <string>

#include "plot_files/conversion.h"
#include "testing/files.h"
#include "testing/sample.h"
#include "testing/scratch.h"

namespace trov {
namespace {

TEST(Sample, GeneratorWritesTheSameBytesEveryTime) {
  testing::SampleSummary first_summary, second_summary;
  const testing::SampleFiles first = testing::make_sample(&first_summary);
  const testing::SampleFiles second = testing::make_sample(&second_summary);
  EXPECT_EQ(first.experiment, second.experiment);
  EXPECT_EQ(first.xray, second.xray);
  EXPECT_EQ(first.neutron, second.neutron);
  // Whole 512-byte blocks, 80-column records with CR LF.
  EXPECT_EQ(first.xray.size() % 512, 0u);
  EXPECT_EQ(first.neutron.size() % 512, 0u);
  EXPECT_EQ(first.experiment.size() % 82, 0u);
  EXPECT_EQ(first_summary.xray_points, 11501);  // 5 to 120 degrees in 0.01-degree steps
  EXPECT_EQ(first_summary.xray_marked[0], 9);   // silicon 111 to 531 below 120 degrees
}

TEST(Sample, PointsCarryTheirWeightAndStepWidthAsARefinementWritesThem) {
  const testing::SampleFiles files = testing::make_sample();
  for (const std::string* profile : {&files.xray, &files.neutron}) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(profile->data());
    const ProfilePoint first = decode_profile_point(bytes);
    const ProfilePoint second = decode_profile_point(bytes + kProfilePointSize);
    EXPECT_EQ(decode_f32_le(bytes + 6 * kWordSize), 1.0f / std::max(first.observed, 1.0f));
    EXPECT_EQ(decode_f32_le(bytes + 7 * kWordSize), second.position - first.position);
    EXPECT_EQ(decode_u32_le(bytes + 8 * kWordSize), 0u);
  }
}

// Marker lines per marker number.
std::array<int, 12> per_marker(const std::string& markers) {
  std::array<int, 12> counts{};
  std::istringstream lines(markers);
  double x = 0;
  int n = 0;
  while (lines >> x >> n) ++counts.at(static_cast<std::size_t>(n));
  return counts;
}

TEST(Sample, ConvertsToTheExpectedLinesPerPhase) {
  testing::Scratch scratch;
  testing::SampleSummary summary;
  const testing::SampleFiles files = testing::make_sample(&summary);
  scratch.write("SAMPLE.EXP", files.experiment);
  scratch.write("SAMPLE.P01", files.xray);
  scratch.write("SAMPLE.P03", files.neutron);
  const auto r = scratch.run_trov("SAMPLE\n");
  EXPECT_EQ(r.status, 0);
  const struct {
    const char* hh;
    long plot_lines;
    int silicon, zinc_oxide;  // marker 1 and marker 2
    const int* summarised;      // what make_sample prints
  } histograms[] = {
      {"01", 11501 - 50, 9, 21, summary.xray_marked},
      // Three silicon and nine zinc oxide ticks fall on the excluded first
      // points, which give no lines.
      {"03", 2492 - 40, 40 - 3, 135 - 9, summary.neutron_marked},
  };
  for (const auto& h : histograms) {
    const std::string plot = scratch.read(std::string("SAMPLE.a") + h.hh);
    EXPECT_EQ(std::count(plot.begin(), plot.end(), '\n'), h.plot_lines) << h.hh;
    const auto counts = per_marker(scratch.read(std::string("SAMPLE.b") + h.hh));
    EXPECT_EQ(counts[1], h.silicon) << h.hh;
    EXPECT_EQ(counts[2], h.zinc_oxide) << h.hh;
    EXPECT_EQ(h.summarised[0], h.silicon) << h.hh;
    EXPECT_EQ(h.summarised[1], h.zinc_oxide) << h.hh;
  }
  EXPECT_FALSE(scratch.exists("SAMPLE.a02"));  // the single-crystal histogram
}

}  // namespace
}  // namespace trov
