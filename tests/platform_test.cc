// The same inputs give the same files under Linux and, through Wine, under Windows, apart from CR LF line ends.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/run_program.h"
#include "testing/scratch.h"

namespace trov {
namespace {

namespace fs = std::filesystem;

#ifdef TROV_WINDOWS_EXE
// Every kind of input the conversion treats differently: centidegree and
// other axes, excluded points, marks, exact halves, values beyond the exact
// integer range, infinities and NaNs, partial blocks; experiment files with
// CR LF, LF, bare CR and no line ends, and a published one.
void write_inputs(const fs::path& dir) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<ProfilePoint> points;
  for (int i = 0; i < 600; ++i) {
    const float f = static_cast<float>(i);
    points.push_back({i % 9 == 0 ? 4 << (i % 11) : i == 5 ? 8192 : 0, 500.0f + f * 0.75f, 100.0f + f / 8.0f,
                      i % 13 == 0 ? 0.0f : 99.9f + f / 16.0f, 1.0f + f / 1024.0f, std::sqrt(f)});
  }
  points.push_back({4, 1234.5f, 3e38f, 1e30f, 3e38f, -inf});
  points.push_back({4, -inf, inf, 1.0f, nan, -nan});
  points.push_back({0, 0.0625f, 0.25f, 0.75f, 1.0f, 1.03125f});
  const std::string profile = testing::profile_bytes(points);
  const std::string htyp = testing::htyp_record(1, {"PXC ", "SXC ", "PNT ", "PNC "});
  const std::string name = testing::record(" EXPR  NAME  platform comparison");
  const std::pair<const char*, const char*> experiments[] = {{"crlf", "\r\n"}, {"lf", "\n"}, {"cr", "\r"}, {"none", ""}};
  for (const auto& [base, eol] : experiments) {
    const bool cr = std::string(eol) == "\r";
    testing::write_file((dir / (std::string(base) + ".exp")).string(),
                         cr ? testing::lines({name, name, htyp}, eol) : testing::lines({name, htyp}, eol));
    for (const char* h : {".p01", ".p03", ".p04"}) testing::write_file((dir / (base + std::string(h))).string(), profile);
  }
  testing::write_file((dir / "NAC-2015A.EXP").string(), testing::read_file(TROV_TEST_DATA "/exp/NAC-2015A.EXP"));
  for (const char* h : {".P01", ".P02"}) testing::write_file((dir / ("NAC-2015A" + std::string(h))).string(), profile);
  testing::write_file((dir / "NAC-2015A.P03").string(), profile.substr(0, profile.size() - 600));
}

TEST(PlatformComparison, SameFilesUnderWineApartFromLineEnds) {
  testing::Scratch scratch;
  const fs::path linux_dir = scratch.path("linux"), windows_dir = scratch.path("windows");
  for (const fs::path& dir : {linux_dir, windows_dir}) {
    fs::create_directories(dir);
    write_inputs(dir);
  }
  const std::vector<std::string> wine = {"env", "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=d", TROV_WINE,
                                         TROV_WINDOWS_EXE};
  int compared = 0;
  for (const char* word : {"crlf", "lf", "cr", "none", "nac-2015a.exp"}) {
    auto on_linux = testing::run_trov_in(linux_dir.string(), std::string(word) + "\n", scratch.path("in"), scratch.path("out"));
    auto on_windows = testing::run_trov_in(windows_dir.string(), std::string(word) + "\r\n", scratch.path("in"),
                                           scratch.path("out"), wine);
    EXPECT_EQ(on_linux.status, 0) << word;
    EXPECT_EQ(on_windows.status, on_linux.status) << word;
    EXPECT_EQ(on_windows.out, testing::with_crlf(on_linux.out)) << word;
  }
  for (const auto& entry : fs::directory_iterator(linux_dir)) {
    const std::string name = entry.path().filename().string();
    const std::string linux_bytes = testing::read_file(entry.path().string());
    if (name.find(".a") == std::string::npos && name.find(".b") == std::string::npos) continue;
    EXPECT_EQ(testing::read_file((windows_dir / name).string()), testing::with_crlf(linux_bytes)) << name;
    ++compared;
  }
  EXPECT_EQ(compared, 4 * 6 + 2 * 3);  // three powder histograms per built experiment, three in the published one
}
#else
TEST(PlatformComparison, SameFilesUnderWineApartFromLineEnds) {
  GTEST_SKIP() << "configure with -DTROV_WINDOWS_EXE=path/to/trov.exe (and Wine installed) to compare";
}
#endif

}  // namespace
}  // namespace trov
