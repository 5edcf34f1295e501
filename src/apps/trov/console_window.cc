// Asks Windows whether this process owns its console; waits for Enter before such a window closes.
#include "console_window.h"

#ifdef _WIN32
#include "io/windows_api.h"
#endif

namespace trov {

namespace {

void skip_line(std::FILE* in) {
  int c = std::getc(in);
  while (c != EOF && c != '\n') c = std::getc(in);
}

}  // namespace

bool window_closes_at_exit(bool input_is_console, unsigned long processes_on_console) {
  return input_is_console && processes_on_console == 1;
}

bool console_window_closes_at_exit() {
#ifdef _WIN32
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  const bool input_is_console = input != nullptr && input != INVALID_HANDLE_VALUE &&
                                GetFileType(input) == FILE_TYPE_CHAR && GetConsoleMode(input, &mode) != 0;
  // Room for two: all that matters is whether anyone besides us is attached.
  DWORD processes[2] = {};
  return window_closes_at_exit(input_is_console, GetConsoleProcessList(processes, 2));
#else
  return false;
#endif
}

void wait_for_enter(std::FILE* in, std::FILE* out) {
  // The typed name ended before its line end, which is still unread; without
  // this the Enter that sent the name would close the window at once.
  skip_line(in);
  std::fputs("\nPress Enter to close this window.", out);
  std::fflush(out);
  skip_line(in);
}

}  // namespace trov
