// Fuzzes the whole program in a scratch folder: a typed word, an experiment file and a profile file.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/fatal.h"
#include "dialogue.h"
#include "gsas/file_names.h"
#include "testing/fuzz_support.h"

namespace {

std::FILE* g_screen = nullptr;  // standard output of the program under test, discarded

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  trov::testing::work_in_scratch_folder("trov-program-fuzz-");
  g_screen = std::fopen("/dev/null", "w");
  return 0;
}

// Input: the typed word, the experiment file's bytes and the profile file's
// bytes, split by FuzzedDataProvider. The profile is there as f.p01 and,
// for the upper-case retry, as F.P02.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string word = provider.ConsumeRandomLengthString(2 * trov::kNameBufferSize);
  // Keep every file the program may write inside the scratch folder: no
  // parent folders, no absolute path (a '/' at the start of any word).
  if (word.find("..") != std::string::npos) return -1;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] == '/' && (i == 0 || std::isspace(static_cast<unsigned char>(word[i - 1])))) return -1;
  }
  const std::string experiment = provider.ConsumeRandomLengthString(8192);
  const std::vector<std::uint8_t> profile = provider.ConsumeRemainingBytes<std::uint8_t>();
  trov::testing::write_input("f.exp", experiment.data(), experiment.size());
  trov::testing::write_input("f.p01", profile.data(), profile.size());
  trov::testing::write_input("F.P02", profile.data(), profile.size());

  trov::testing::write_input("typed", word.data(), word.size());
  trov::FilePtr typed(std::fopen("typed", "rb"));
  try {
    trov::run(typed.get(), g_screen);
  } catch (const trov::Fatal&) {
    // Status 1 with a message: an expected outcome for most inputs.
  }
  return 0;
}
