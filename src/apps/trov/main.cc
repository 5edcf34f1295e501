// trov: converts a GSAS experiment's binary profile files into ASCII plot and marker files.
#include <cstdio>
#include <exception>

#include "common/fatal.h"
#include "console_window.h"
#include "dialogue.h"

int main() {
  int status = 1;
  try {
    trov::run(stdin, stdout);
    status = 0;
  } catch (const trov::Fatal& error) {
    std::printf("%s\n", error.what());
  } catch (const std::exception& error) {
    std::printf("Error: %s\n", error.what());
  }
  // A double-clicked trov.exe has a window of its own, which would close
  // before anyone could read how the run ended.
  if (trov::console_window_closes_at_exit()) trov::wait_for_enter(stdin, stdout);
  return status;
}
