// Tests of profile decoding, plot lines, marker lines and the block loop of the conversion.
#include "plot_files/conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "testing/failing_source.h"
#include "testing/files.h"
#include "testing/scratch.h"

namespace trov {
namespace {

using testing::native;
using testing::Scratch;

HistogramType type_of(const char* code) {
  HistogramType type;
  for (std::size_t i = 0; i < 4 && code[i] != '\0'; ++i) type.code[i] = code[i];
  return type;
}

struct Output {
  std::string plot, markers;
};

Output convert(std::string_view profile_bytes, const char* type = "PXC ") {
  Scratch scratch;
  {
    InputFile profile = scratch.input("g.p01", profile_bytes);
    OutputFile plot = scratch.output("g.a01");
    OutputFile markers = scratch.output("g.b01");
    convert_histogram(profile, plot, markers, type_of(type));
    plot.close();
    markers.close();
  }
  return {scratch.read("g.a01"), scratch.read("g.b01")};
}

std::size_t line_count(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(LittleEndian, WordsDecodeTheSameOnEveryHost) {
  const unsigned char bytes[] = {0x0A, 0xD7, 0x23, 0x3C, 0xFC, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(decode_u32_le(bytes), 0x3C23D70Au);
  EXPECT_EQ(decode_f32_le(bytes), kCentidegree);
  EXPECT_EQ(static_cast<std::int32_t>(decode_u32_le(bytes + 4)), -4);
}

TEST(ProfileConversion, PlotLineHasSixRightAlignedColumns) {
  ProfilePoint p{0, 1234.5f, 1000.0f, 900.0f, 2.0f, 0.25f};
  std::string bytes = testing::profile_bytes({p});
  EXPECT_EQ(convert(bytes, "PXC ").plot, native(" 12.345   2000.0   1800.0    200.0      2.0000      0.2500\n"));
  EXPECT_EQ(convert(bytes, "PNT ").plot, native("1234.500   2000.0   1800.0    200.0      2.0000      0.2500\n"));
}

TEST(ProfileConversion, OnlyTheThirdTypeCharacterScalesTheAxis) {
  const ProfilePoint p{0, 1234.5f, 1, 1, 1, 0};
  // The product of the two floats, exact in double: never rounded to float.
  const double scaled = 1234.5 * 0.00999999977648258209228515625;
  for (const char* type : {"PXC ", "PNC ", "SXC", "PXC"}) EXPECT_EQ(axis_position(p, type_of(type)), scaled) << type;
  for (const char* type : {"PNT ", "PXE ", "pxc "}) EXPECT_EQ(axis_position(p, type_of(type)), 1234.5) << type;
}

TEST(ProfileConversion, SignsAndRoundingFollowTheExactValue) {
  struct Case {
    ProfilePoint point;
    const char* line;
  } cases[] = {
      // A negative difference keeps its sign, even when it rounds to zero.
      {{0, 10, 100, 150, 1, 0}, " 10.000    100.0    150.0    -50.0      1.0000      0.0000\n"},
      {{0, 10, 0.96f, 1, 1, -1}, " 10.000      1.0      1.0     -0.0      1.0000     -1.0000\n"},
      // Exact halves round to even: 0.25 and 0.75 are exact binary values.
      {{0, 0.0625f, 0.25f, 0.75f, 1, 1.03125f}, "  0.062      0.2      0.8     -0.5      1.0000      1.0312\n"},
      // Wide values widen their field rather than being cut.
      {{0, 12345678, 3e9f, 1, 1e7f, 0}, "12345678.000 30000000000000000.0 10000000.0 29999999990000000.0 10000000.0000      0.0000\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(convert(testing::profile_bytes({c.point}), "PNT ").plot, native(c.line));
}

TEST(ProfileConversion, NanResultsCarryTheSameSignOnEveryProcessor) {
  // A NaN operand passes its sign on (the first in the order observed,
  // calculated, scale); an invalid operation on numbers gives -nan.
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    ProfilePoint point;
    const char* line;
  } cases[] = {
      {{0, -inf, inf, 1, nan, -nan}, "   -inf      nan      nan      nan         nan        -nan\n"},
      {{0, nan, -nan, 1, nan, 0}, "    nan     -nan      nan     -nan         nan      0.0000\n"},
      {{0, -nan, nan, 2, -nan, 0}, "   -nan      nan     -nan      nan        -nan      0.0000\n"},
      {{0, 1, inf, inf, 1, 0}, "  1.000      inf      inf     -nan      1.0000      0.0000\n"},   // inf - inf
      {{0, 1, 1, inf, 0, 0}, "  1.000      0.0     -nan     -nan      0.0000      0.0000\n"},    // inf * 0
      {{0, 1, -inf, 1, -0.0f, 0}, "  1.000     -nan     -0.0     -nan     -0.0000      0.0000\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(convert(testing::profile_bytes({c.point}), "PNT ").plot, native(c.line));
}

TEST(ProfileConversion, PointsWithoutPositiveCalculatedValueAreSkipped) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<ProfilePoint> points = {{4, 1, 5, 0, 1, 0}, {4, 2, 5, -1, 1, 0}, {4, 3, 5, nan, 1, 0},
                               {4, 4, 5, -0.0f, 1, 0}, {4, 5, 5, 1e-45f, 1, 0}};
  Output out = convert(testing::profile_bytes(points), "PNT ");
  EXPECT_EQ(out.plot, native("  5.000      5.0      0.0      5.0      1.0000      0.0000\n"));
  EXPECT_EQ(out.markers, native("  5.000  1\n"));
}

TEST(ProfileConversion, OnlyBlocksWhosePointsAreWholeAreConverted) {
  std::vector<ProfilePoint> points(28, ProfilePoint{0, 1, 1, 1, 1, 0});
  const std::string two_blocks = testing::profile_bytes(points);
  ASSERT_EQ(two_blocks.size(), 2 * ProfileBlock::kSize);
  struct Case {
    std::size_t size;
    std::size_t lines;
  } cases[] = {
      {0, 0},  {503, 0}, {504, 14}, {508, 14}, {512, 14}, {512 + 503, 14},
      {1024 - 8, 28},  // the trailing words of the last block are missing
      {1024 - 4, 28}, {1024, 28},
  };
  for (const Case& c : cases) {
    Output out = convert(two_blocks.substr(0, c.size));
    EXPECT_EQ(line_count(out.plot), c.lines) << c.size << " bytes";
    EXPECT_EQ(out.markers, "");
  }
}

TEST(MarkerFile, QuotientOfExactlyOneMarksAPoint) {
  struct Case {
    std::int32_t flags;
    std::vector<int> numbers;
  } cases[] = {
      {0, {}}, {1, {}}, {2, {}}, {3, {}}, {4, {1}}, {12, {2, 1}}, {4096, {11}},
      {8188, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}},
      {8192, {}}, {8196, {}}, {-4, {}}, {std::numeric_limits<std::int32_t>::min(), {}},
  };
  for (const Case& c : cases) {
    std::string expected;
    for (int n : c.numbers) expected += " 12.345 " + std::string(n < 10 ? " " : "") + std::to_string(n) + "\n";
    Scratch scratch;
    {
      OutputFile markers = scratch.output("m.b01");
      write_marker_lines(markers, 12.345, c.flags);
      markers.close();
    }
    EXPECT_EQ(scratch.read("m.b01"), native(expected)) << "flags " << c.flags;
  }
}

TEST(MarkerFile, LinesFollowEachPlotLineInPointOrder) {
  Output out = convert(testing::profile_bytes({{12, 1234.5f, 1, 1, 1, 0}, {0, 1300, 1, 1, 1, 0}, {16, 1400, 1, 1, 1, 0}}));
  EXPECT_EQ(out.markers, native(" 12.345  2\n 12.345  1\n 14.000  3\n"));
}

TEST(ProfileConversion, ReadErrorStopsWithoutConvertingAStaleBlock) {
  std::vector<ProfilePoint> points(28, ProfilePoint{0, 1, 1, 1, 1, 0});
  // Fails inside the second block's points, and inside its trailing words.
  for (std::size_t fail_at : {std::size_t{600}, std::size_t{506}}) {
    Scratch scratch;
    InputFile profile(testing::failing_source(testing::profile_bytes(points), fail_at), "g.p01");
    OutputFile plot = scratch.output("g.a01");
    OutputFile markers = scratch.output("g.b01");
    EXPECT_EQ(testing::fatal_message([&] { convert_histogram(profile, plot, markers, type_of("PNT ")); }),
              "Error reading g.p01");
    plot.close();
    EXPECT_EQ(line_count(scratch.read("g.a01")), 14u) << fail_at;
  }
}

}  // namespace
}  // namespace trov
