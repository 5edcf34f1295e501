// Tests of reading the typed word, cutting it to EXPNAM and building file names.
#include "driver/driver.h"

#include <gtest/gtest.h>

#include <string>

#include "scratch.h"

namespace trov {
namespace {

using testing::Scratch;

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

struct WordRead {
  std::string word, rest, fatal;
};

WordRead read_word_from(std::string_view input) {
  Scratch scratch;
  scratch.write("in", input);
  FilePtr in = open_file(scratch.path("in").c_str(), "rb");
  WordRead result;
  result.fatal = testing::fatal_message([&] { result.word = read_word(in.get()); });
  for (int c; (c = std::fgetc(in.get())) != EOF;) result.rest.push_back(static_cast<char>(c));
  return result;
}

TEST(ExperimentName, IsOneWordAfterWhiteSpace) {
  WordRead two = read_word_from(" \t\r\n\v\fgarnet more\r\n");
  EXPECT_EQ(two.word, "garnet");
  EXPECT_EQ(two.rest, " more\r\n");  // the white space ending the word stays unread
  EXPECT_EQ(read_word_from("garnet").word, "garnet");
  EXPECT_EQ(read_word_from(std::string(1023, 'g')).word, std::string(1023, 'g'));
}

TEST(ExperimentName, UnusableWordsAreRefused) {
  const std::string no_name = "\nNo experiment name was typed";
  const std::string too_long = "The experiment name is too long: at most 1023 characters can be typed";
  const std::string nul = "The experiment name must not contain a NUL byte";
  EXPECT_EQ(read_word_from("").fatal, no_name);
  EXPECT_EQ(read_word_from(" \n\t \r\n").fatal, no_name);
  EXPECT_EQ(read_word_from(std::string(1024, 'g')).fatal, too_long);
  EXPECT_EQ(read_word_from(std::string(5000, 'g') + "\n").fatal, too_long);
  EXPECT_EQ(read_word_from(std::string("gar\0net", 7)).fatal, nul);
}

TEST(FileNames, CarryTheHistogramNumberInTwoDigits) {
  EXPECT_STREQ(file_name("garnet", ".exp").data(), "garnet.exp");
  EXPECT_STREQ(file_name("garnet", ".p%.2d", 1).data(), "garnet.p01");
  EXPECT_STREQ(file_name("Garnet", ".a%.2d", 12).data(), "Garnet.a12");
  EXPECT_STREQ(file_name(std::string(kMaxExpnamLength, 'g'), ".b%.2d", 99).data(),
               (std::string(kMaxExpnamLength, 'g') + ".b99").c_str());
}

}  // namespace
}  // namespace trov
