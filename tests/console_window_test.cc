// Tests of the double-click pause: when the console window waits, and what it reads while it waits.
#include "console_window.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "io/file_handle.h"

namespace trov {
namespace {

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
