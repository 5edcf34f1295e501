// Tests of cutting the typed word to EXPNAM, building file names, and the double-click pause.
#include <gtest/gtest.h>

#include <string>

#include "common/fatal.h"
#include "io/file_handle.h"
#include "common/utf8.h"
#include "console_window.h"
#include "gsas/file_names.h"

namespace trov {
namespace {

TEST(TypedName, IsTakenAsUtf8OnlyWhenItsBytesAreWellFormed) {
  struct Case {
    const char* word;
    bool utf8;
  } cases[] = {{"garnet", true},           {"M\xC3\xBCller/garnet", true}, {"M\xFCller/garnet", false},
               {"\xE2\x82\xAC", true},      {"\xE2\x82", false},            {"\xC0\xAF", false},
               {"\xF0\x9F\x98\x80", true}, {"\x80", false}};
  for (const Case& c : cases) EXPECT_EQ(is_utf8(c.word), c.utf8) << c.word;
}

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

TEST(ConsoleWindow, OnlyADoubleClickedProgramWaitsBeforeItsWindowCloses) {
  struct Case {
    bool input_is_console;
    unsigned long processes;  // attached to the console; 0 when the question failed
    bool waits;
  } cases[] = {
      {true, 1, true},    // double-clicked: the console is ours alone
      {true, 2, false},   // started from a command prompt, which shares it
      {true, 0, false},
      {false, 1, false},  // input piped or redirected
      {false, 2, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(window_closes_at_exit(c.input_is_console, c.processes), c.waits) << c.input_is_console << c.processes;
  }
}

TEST(ConsoleWindow, WaitSkipsTheNameLineAndReturnsAfterTheNextEnter) {
  // What the word reader leaves unread of the line the name was typed on,
  // then the line the user ends with Enter, then what must stay unread.
  for (const char* unread : {"\n\nleft\n", " other words\n\nleft\n", "\nanything\nleft\n", ""}) {
    FilePtr in(std::tmpfile());
    FilePtr out(std::tmpfile());
    ASSERT_TRUE(in && out);
    std::fputs(unread, in.get());
    std::rewind(in.get());
    wait_for_enter(in.get(), out.get());
    char rest[8] = {};
    EXPECT_STREQ(std::fgets(rest, sizeof rest, in.get()), *unread != '\0' ? "left\n" : nullptr) << unread;
    std::rewind(out.get());
    char shown[64] = {};
    EXPECT_EQ(std::fread(shown, 1, sizeof shown - 1, out.get()), 34u);
    EXPECT_STREQ(shown, "\nPress Enter to close this window.");
  }
}

}  // namespace
}  // namespace trov
