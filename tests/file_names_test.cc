// Tests of cutting the typed word to EXPNAM and building the experiment's file names.
#include "gsas/file_names.h"

#include <gtest/gtest.h>

#include <string>

#include "common/fatal.h"

namespace trov {
namespace {

TEST(ExperimentName, IsCutAtTheFirstDotOfTheLastPathComponent) {
  struct Case {
    const char* word;
    const char* expnam;
  } cases[] = {
      {"garnet", "garnet"},       {"garnet.exp", "garnet"},   {"garnet.EXP", "garnet"},
      {"garnet.x.y", "garnet"},   {"./garnet", "./garnet"},   {"../data/garnet", "../data/garnet"},
      {"old.runs/garnet.exp", "old.runs/garnet"},             {".hidden", ""},
      {"data/", "data/"},         {"/a.b/c.d/e.f.g", "/a.b/c.d/e"},
#ifdef _WIN32
      {"C:garnet.exp", "C:garnet"}, {"old.runs\\garnet.exp", "old.runs\\garnet"},
#else
      {"old.runs\\garnet.exp", "old"},  // a backslash is an ordinary character here
#endif
  };
  for (const Case& c : cases) EXPECT_EQ(cut_experiment_name(c.word), c.expnam) << c.word;
}

TEST(FileNames, CarryTheHistogramNumberInTwoDigits) {
  EXPECT_STREQ(file_name("garnet", ".exp").data(), "garnet.exp");
  EXPECT_STREQ(histogram_file_name("garnet", 'p', 1).data(), "garnet.p01");
  EXPECT_STREQ(histogram_file_name("Garnet", 'a', 12).data(), "Garnet.a12");
  const std::string longest(kMaxExpnamLength, 'g');
  EXPECT_EQ(histogram_file_name(longest, 'b', 99).data(), longest + ".b99");
  EXPECT_THROW(file_name(longest + "g", ".exp"), Fatal);
}

}  // namespace
}  // namespace trov
