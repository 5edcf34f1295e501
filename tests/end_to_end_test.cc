// Runs the built trov in a scratch folder with a word on standard input; checks output, status and files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/version.h"
#include "plot_files/conversion.h"
#include "testing/files.h"
#include "testing/scratch.h"


namespace trov {
namespace {

namespace fs = std::filesystem;
using testing::Scratch;

// "TROV V" and the project version, centred in the 44-character box (the
// odd blank on the right): for 1.2, 16 blanks before and 17 after.
std::string title_line() {
  const std::string title = "TROV V" + std::string(kVersion);
  const std::size_t left = (42 - title.size()) / 2;
  return "*" + std::string(left, ' ') + title + std::string(42 - left - title.size(), ' ') + "*\n";
}

const std::string kBannerAndPrompt =
    "\n"
    "********************************************\n" +
    title_line() +
    "*                                          *\n"
    "********************************************\n"
    "\n"
    "Given EXPNAM.EXP and the EXPNAM.P## files\n"
    "(one for each histogram). TROV extracts\n"
    "the observed, calculated and difference\n"
    "plots for each histogram in the experiment\n"
    "in ascii format suitable for reading into\n"
    "plotting programs such as Origin.\n"
    "\n"
    "\n"
    "Enter EXPNAM: ";

// What the console shows: banner, prompt and message, with the platform's line ends.
std::string screen(const std::string& message = "") { return testing::native(kBannerAndPrompt + message); }

using Result = testing::RunResult;

// Every file below the scratch root, its run files left out.
std::set<std::string> files(const Scratch& scratch) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(scratch.path())) {
    std::string name = fs::relative(entry.path(), scratch.path()).generic_string();
    if (!entry.is_directory() && name.rfind("_std", 0) != 0) names.insert(name);
  }
  return names;
}

// What printf makes of the points with the plot and marker formats: the
// oracle for the program's own formatting.
double x_of(const ProfilePoint& p, bool centidegrees) {
  return centidegrees ? static_cast<double>(p.position) * static_cast<double>(kCentidegree) : p.position;
}

std::string expected_plot(const std::vector<ProfilePoint>& points, bool centidegrees) {
  std::string out;
  char line[512];
  for (const ProfilePoint& p : points) {
    if (!(p.calculated > 0)) continue;
    double obs = p.observed, calc = p.calculated, scale = p.scale;
    std::snprintf(line, sizeof line, "%7.3f %8.1f %8.1f %8.1f %11.4f %11.4f\n", x_of(p, centidegrees), obs * scale,
                  calc * scale, (obs - calc) * scale, scale, static_cast<double>(p.auxiliary));
    out += line;
  }
  return testing::native(out);
}

std::string expected_markers(const std::vector<ProfilePoint>& points, bool centidegrees) {
  std::string out;
  char line[64];
  for (const ProfilePoint& p : points) {
    for (int bit = 12; bit >= 2 && p.calculated > 0 && p.marker_flags >= 0 && p.marker_flags < 8192; --bit) {
      if ((p.marker_flags >> bit & 1) == 0) continue;
      std::snprintf(line, sizeof line, "%7.3f %2d\n", x_of(p, centidegrees), bit - 1);
      out += line;
    }
  }
  return testing::native(out);
}

// A profile with excluded points at its start, marks of two phases and a
// last block only partly filled with points.
std::vector<ProfilePoint> profile_points(float start, float step, int count = 33) {
  std::vector<ProfilePoint> points;
  for (int i = 0; i < count; ++i) {
    std::int32_t flags = i % 5 == 0 ? 4 : i % 7 == 0 ? 12 : i == 8 ? 8192 : 0;
    float calc = i < 3 ? 0.0f : 100.0f + static_cast<float>(i * 13 % 40) + 0.3f;
    points.push_back({flags, start + step * static_cast<float>(i), 100.0f + static_cast<float>(i * 37 % 50) / 3.0f,
                      calc, 1.5f, 0.25f * static_cast<float>(i)});
  }
  return points;
}

const std::vector<ProfilePoint> kXray = profile_points(1000.0f, 2.5f);      // centidegrees
const std::vector<ProfilePoint> kNeutron = profile_points(5000.0f, 12.0f);  // time of flight

std::string experiment(std::initializer_list<std::string_view> types) {
  return testing::lines({testing::record("      GARNET TEST EXPERIMENT"), testing::record(" EXPR  NAME  garnet"),
                          testing::htyp_record(1, types), testing::record(" EXPR  NPHAS    1    0    0")},
                         "\r\n");
}

// A one-histogram PXC experiment named by base (which may include a folder).
void write_garnet(const Scratch& scratch, const std::string& base, const std::string& exp_suffix = ".exp",
                  const std::string& profile_suffix = ".p01") {
  scratch.write(base + exp_suffix, experiment({"PXC "}));
  scratch.write(base + profile_suffix, testing::profile_bytes(kXray));
}

void expect_garnet_output(const Scratch& scratch, const std::string& base) {
  EXPECT_EQ(scratch.read(base + ".a01"), expected_plot(kXray, true)) << base;
  EXPECT_EQ(scratch.read(base + ".b01"), expected_markers(kXray, true)) << base;
}

TEST(EndToEnd, ConvertsEveryPowderHistogramAndNothingElse) {
  Scratch scratch;
  scratch.write("garnet.exp", experiment({"PXC ", "SXC ", "PNT "}));
  scratch.write("garnet.p01", testing::profile_bytes(kXray));
  scratch.write("garnet.p03", testing::profile_bytes(kNeutron));
  Result r = scratch.run_trov("garnet\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, screen());
  EXPECT_EQ(files(scratch), (std::set<std::string>{"garnet.exp", "garnet.p01", "garnet.p03", "garnet.a01",
                                                   "garnet.b01", "garnet.a03", "garnet.b03"}));
  expect_garnet_output(scratch, "garnet");
  EXPECT_EQ(scratch.read("garnet.a03"), expected_plot(kNeutron, false));
  EXPECT_EQ(scratch.read("garnet.b03"), expected_markers(kNeutron, false));
  EXPECT_NE(scratch.read("garnet.b01"), "");
}

TEST(EndToEnd, TypedNameIsCutInItsLastComponentOnly) {
  struct Case {
    const char* word;
    std::string base;  // where the experiment lies, relative to the scratch root
    std::string cwd;
  } cases[] = {
      {"garnet.exp", "garnet", ""},         {"garnet.EXP", "garnet", ""},
      {"garnet.x.y", "garnet", ""},         {"./garnet", "garnet", ""},
      {"  garnet other\n", "garnet", ""},   {"old.runs/garnet.exp", "old.runs/garnet", ""},
      {"../data/garnet", "data/garnet", "work"},
  };
  for (const Case& c : cases) {
    Scratch scratch;
    write_garnet(scratch, c.base);
    Result r = scratch.run_trov(c.word, c.cwd);
    EXPECT_EQ(r.status, 0) << c.word << r.out;
    expect_garnet_output(scratch, c.base);
  }
}

TEST(EndToEnd, InputNamesAreRetriedInUpperCaseButOutputsKeepTheTypedCase) {
  // A published joint refinement: two time-of-flight banks and an X-ray histogram.
  Scratch scratch;
  scratch.write("NAC-2015A.EXP", testing::read_file(TROV_TEST_DATA "/exp/NAC-2015A.EXP"));
  scratch.write("NAC-2015A.P01", testing::profile_bytes(kNeutron));
  scratch.write("Nac-2015a.p02", testing::profile_bytes(kNeutron));  // found as typed; no carry-over
  scratch.write("NAC-2015A.P03", testing::profile_bytes(kXray));
  Result r = scratch.run_trov("Nac-2015a\r\n");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(files(scratch).size(), 10u);
  EXPECT_EQ(scratch.read("Nac-2015a.a02"), expected_plot(kNeutron, false));
  EXPECT_EQ(scratch.read("Nac-2015a.b02"), expected_markers(kNeutron, false));
  EXPECT_EQ(scratch.read("Nac-2015a.a03"), expected_plot(kXray, true));

  Scratch mixed;
  mixed.write("Garnet.Exp", experiment({"PXC "}));
  r = mixed.run_trov("garnet\n");
  EXPECT_EQ(r.status, 1);
#ifdef _WIN32
  EXPECT_EQ(r.out, screen("Error opening GARNET.P01\n"));  // names match whatever their case
#else
  EXPECT_EQ(r.out, screen("Error opening GARNET.EXP\n"));  // only as typed and all upper case are tried
#endif
}

TEST(EndToEnd, FoldersAsTypedWithTheFileNameInUpperCaseAreTriedLast) {
  struct Case {
    std::string experiment, profile;  // where the files lie
    std::string word;                 // typed in the scratch root; "@" stands for its absolute path
    std::string plot;                 // written there, or "" when the run fails
    std::string message;
  } cases[] = {
      {"data/GARNET.EXP", "data/GARNET.P01", "data/garnet", "data/garnet.a01", ""},
      {"Data/Run1/GARNET.EXP", "Data/Run1/GARNET.P01", "@/Data/Run1/garnet", "@/Data/Run1/garnet.a01", ""},
      {"cpd2/cpd2.exp", "cpd2/CPD2.P01", "cpd2/cpd2", "cpd2/cpd2.a01", ""},
      // Found by the second try, as before; the outputs keep the typed name.
      {"DATA/GARNET.EXP", "DATA/GARNET.P01", "data/garnet", "", "Error opening data/garnet.a01\n"},
      {"data/Garnet.exp", "data/GARNET.P01", "data/garnet", "", "Error opening DATA/GARNET.EXP\n"},
      {"data/garnet.exp", "data/Garnet.p01", "data/garnet", "", "Error opening DATA/GARNET.P01\n"},
  };
  for (Case c : cases) {
    Scratch scratch;
    auto absolute = [&](std::string& name) {
      if (name.rfind('@', 0) == 0) name = fs::path(scratch.path()).generic_string() + name.substr(1);
    };
    absolute(c.word);
    absolute(c.plot);
    scratch.write(c.experiment, experiment({"PXC "}));
    scratch.write(c.profile, testing::profile_bytes(kXray));
    Result r = scratch.run_trov(c.word + "\n");
#ifdef _WIN32
    if (!c.message.empty()) continue;  // names match whatever their case
#endif
    EXPECT_EQ(r.status, c.plot.empty() ? 1 : 0) << c.word;
    if (!c.plot.empty()) {
      EXPECT_EQ(r.out, screen()) << c.word;
      EXPECT_EQ(testing::read_file(fs::path(c.plot).is_absolute() ? c.plot : scratch.path(c.plot)), expected_plot(kXray, true)) << c.word;
    } else {
      EXPECT_EQ(r.out, screen(c.message)) << c.word;
    }
  }
}

TEST(EndToEnd, FolderNamesOutsideAsciiReachTheFileSystemUnchanged) {
  Scratch scratch;
  const fs::path folder = fs::path(scratch.path()) / fs::path(u8"M\u00fcller") / fs::path(u8"Donn\u00e9es");
  fs::create_directories(folder);
  testing::write_file(folder / "GARNET.EXP", experiment({"PXC "}));
  testing::write_file(folder / "GARNET.P01", testing::profile_bytes(kXray));
  // Piped as UTF-8 (and on Windows, in the ANSI code page of older tools).
  std::vector<std::string> words = {"M\xC3\xBCller/Donn\xC3\xA9" "es/garnet\n"};
#ifdef _WIN32
  if (GetACP() == 1252) words.push_back("M\xFCller\\Donn\xE9" "es\\garnet\r\n");
#endif
  for (const std::string& word : words) {
    fs::remove(folder / "garnet.a01");
    Result r = scratch.run_trov(word);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(testing::read_file(folder / "garnet.a01"), expected_plot(kXray, true));
  }
}

TEST(EndToEnd, MissingProfileStopsAfterEarlierHistogramsAreComplete) {
  Scratch scratch;
  scratch.write("garnet.exp", experiment({"PXC ", "PXC ", "PXC "}));
  scratch.write("garnet.p01", testing::profile_bytes(kXray));
  scratch.write("garnet.p02", testing::profile_bytes(kXray));
  Result r = scratch.run_trov("garnet\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, screen("Error opening GARNET.P03\n"));
  expect_garnet_output(scratch, "garnet");
  EXPECT_EQ(scratch.read("garnet.a02"), expected_plot(kXray, true));
  EXPECT_FALSE(scratch.exists("garnet.a03") || scratch.exists("garnet.b03"));
}

TEST(EndToEnd, FolderInPlaceOfAFileIsAFailedOpen) {
  // Histogram 1 converts; the folder stands in for one of histogram 2's files.
  const std::set<std::string> first = {"garnet.exp", "garnet.p01", "garnet.a01", "garnet.b01"};
  struct Case {
    const char* folder;
    const char* message;
    std::set<std::string> also_left;  // files of histogram 2 that exist afterwards
  } cases[] = {
      {"garnet.exp", "Error opening GARNET.EXP\n", {"garnet.p02"}},
      {"garnet.p02", "Error opening GARNET.P02\n", {}},
      {"garnet.a02", "Error opening garnet.a02\n", {"garnet.p02"}},
      {"garnet.b02", "Error opening garnet.b02\n", {"garnet.p02", "garnet.a02"}},
  };
  for (const Case& c : cases) {
    Scratch scratch;
    scratch.write("garnet.exp", experiment({"PXC ", "PXC "}));
    scratch.write("garnet.p01", testing::profile_bytes(kXray));
    scratch.write("garnet.p02", testing::profile_bytes(kXray));
    fs::remove(scratch.path(c.folder));
    fs::create_directory(scratch.path(c.folder));
    Result r = scratch.run_trov("garnet\n");
    EXPECT_EQ(r.status, 1) << c.folder;
    EXPECT_EQ(r.out, screen(c.message));
    std::set<std::string> left = c.also_left;
    if (std::string(c.folder) == "garnet.exp") {
      left.insert("garnet.p01");
    } else {
      left.insert(first.begin(), first.end());
      expect_garnet_output(scratch, "garnet");
    }
    left.erase(c.folder);
    EXPECT_EQ(files(scratch), left) << c.folder;
    if (left.count("garnet.a02") != 0) {
      EXPECT_EQ(scratch.read("garnet.a02"), "");  // created, then left empty
    }
  }
#ifndef _WIN32
  // A folder named in lower case does not hide the upper-case file (on a
  // file system that tells case apart; on Windows they are the same name).
  Scratch scratch;
  write_garnet(scratch, "GARNET", ".EXP", ".P01");
  fs::create_directory(scratch.path("garnet.exp"));
  fs::create_directory(scratch.path("garnet.p01"));
  EXPECT_EQ(scratch.run_trov("garnet\n").status, 0);
  expect_garnet_output(scratch, "garnet");
#endif
}

TEST(EndToEnd, UnreadableProfileIsAFailedOpen) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows controls reading by access lists, not the permission bits this test sets";
#else
  if (geteuid() == 0) GTEST_SKIP() << "running as root, which may read any file";
#endif
  Scratch scratch;
  write_garnet(scratch, "garnet");
  fs::permissions(scratch.path("garnet.p01"), fs::perms::none);
  Result r = scratch.run_trov("garnet\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, screen("Error opening GARNET.P01\n"));
  EXPECT_EQ(files(scratch), (std::set<std::string>{"garnet.exp", "garnet.p01"}));
}

#ifdef __linux__
TEST(EndToEnd, ReadErrorIsReportedNotLoopedOn) {
  // Reading /proc/self/mem at offset 0 fails with EIO, like a bad disk.
  for (const char* file : {"garnet.exp", "garnet.p01"}) {
    Scratch scratch;
    write_garnet(scratch, "garnet");
    fs::remove(scratch.path(file));
    fs::create_symlink("/proc/self/mem", scratch.path(file));
    Result r = scratch.run_trov("garnet\n");
    EXPECT_EQ(r.status, 1) << file;
    EXPECT_EQ(r.out, screen(std::string("Error reading ") + file + "\n"));
  }
}

TEST(EndToEnd, OutputCutShortIsNeverReportedAsSuccess) {
  for (const char* file : {"garnet.a02", "garnet.b02"}) {
    Scratch scratch;
    scratch.write("garnet.exp", experiment({"PXC ", "PNT "}));
    scratch.write("garnet.p01", testing::profile_bytes(kXray));
    scratch.write("garnet.p02", testing::profile_bytes(kNeutron));
    fs::create_symlink("/dev/full", scratch.path(file));
    Result r = scratch.run_trov("garnet\n");
    EXPECT_EQ(r.status, 1) << file;
    EXPECT_EQ(r.out, screen(std::string("Error writing ") + file + "\n"));
    expect_garnet_output(scratch, "garnet");
    // Neither file of the histogram cut short remains to be read as complete.
    EXPECT_FALSE(scratch.exists("garnet.a02") || scratch.exists("garnet.b02")) << file;
  }
}
#endif

TEST(EndToEnd, NoNameEndsWithAMessageAndOpensNothing) {
  for (const std::optional<std::string>& input : {std::optional<std::string>(""), std::optional<std::string>(" \n\t\r\n"), std::optional<std::string>()}) {
    Scratch scratch;
    write_garnet(scratch, "garnet");
    Result r = scratch.run_trov(input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, screen("\nNo experiment name was typed\n"));
    EXPECT_EQ(files(scratch).size(), 2u);
  }
}

TEST(EndToEnd, NamesWithinTheLimitsWorkAndLongerOnesAreRefused) {
  // Nested folders make a legal path of any length; every component stays
  // under the usual 255-character limit.
  auto long_name = [](std::size_t length) {
    std::string name;
    while (name.size() + 201 < length) name += std::string(200, 'd') + "/";
    return name + std::string(length - name.size(), 'g');
  };
  const std::string too_long = "The experiment name is too long: ";
  struct Case {
    std::string word;
    std::string base;  // "" when refused
    std::string message;
  } cases[] = {
      {long_name(1019), long_name(1019), ""},
      {long_name(1019) + ".exp", long_name(1019), ""},  // a typed word of 1023 characters
      {long_name(1020), "", too_long + "EXPNAM may have at most 1019 characters\n"},
      {long_name(1020) + ".exp", "", too_long + "at most 1023 characters can be typed\n"},
      {long_name(5000), "", too_long + "at most 1023 characters can be typed\n"},
      {std::string("gar\0net", 7), "", "The experiment name must not contain a NUL byte\n"},
  };
  for (const Case& c : cases) {
#ifdef _WIN32
    // Paths past 260 characters need a long-path opt-in on Windows; the
    // refusals below open nothing and are checked there too.
    if (!c.base.empty()) continue;
#endif
    Scratch scratch;
    write_garnet(scratch, c.base.empty() ? "garnet" : c.base);
    Result r = scratch.run_trov(c.word + "\n");
    EXPECT_EQ(r.out, screen(c.message)) << c.word.size();
    EXPECT_EQ(r.status, c.message.empty() ? 0 : 1);
    if (c.message.empty()) {
      expect_garnet_output(scratch, c.base);
    } else {
      EXPECT_EQ(files(scratch).size(), 2u);  // refused before any file was opened
    }
  }
}

TEST(EndToEnd, ExperimentWithoutPowderHistogramsWritesNothing) {
  for (const std::string& exp : {testing::lines({testing::record(" EXPR  NAME  garnet")}, "\n"),
                                 experiment({"SXC ", "SNT "}), std::string()}) {
    Scratch scratch;
    scratch.write("garnet.exp", exp);
    Result r = scratch.run_trov("garnet\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, screen());
    EXPECT_EQ(files(scratch), std::set<std::string>{"garnet.exp"});
  }
}

}  // namespace
}  // namespace trov
