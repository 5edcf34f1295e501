// trov: converts a GSAS experiment's binary profile files into ASCII plot and marker files.
#include <cstdio>
#include <exception>

#include "common/fatal.h"
#include "driver/driver.h"

int main() {
  try {
    trov::run(stdin, stdout);
    return 0;
  } catch (const trov::Fatal& error) {
    std::printf("%s\n", error.what());
  } catch (const std::exception& error) {
    std::printf("Error: %s\n", error.what());
  }
  return 1;
}
