// Fuzzes trov-export's readers and writers together: any experiment and profile, exported in a scratch folder.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/fatal.h"
#include "export/export_experiment.h"
#include "testing/fuzz_support.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  trov::testing::work_in_scratch_folder("trov-export-fuzz-");
  return 0;
}

// Input: the experiment's bytes and, when anything is left, the profile's,
// split by FuzzedDataProvider; the profile is there as f.p01 and, for the
// upper-case retry, F.P02. Inputs may be large: a summary or a row longer than
// an output block must be written whole. Checked: an export (with its CIF) either succeeds
// or leaves no file at all, and never a temporary one.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string experiment = provider.ConsumeRandomLengthString(size);
  const std::vector<std::uint8_t> profile = provider.ConsumeRemainingBytes<std::uint8_t>();
  trov::testing::write_input("f.exp", experiment.data(), experiment.size());
  if (!profile.empty()) {
    trov::testing::write_input("f.p01", profile.data(), profile.size());
    trov::testing::write_input("F.P02", profile.data(), profile.size());
  }
  bool exported = true;
  try {
    trov::export_experiment({"f", "", {}, trov::kAnsiCodePage, true});
  } catch (const trov::Fatal&) {
    exported = false;  // status 1 with a message: an expected outcome for most inputs
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::current_path())) {
    const std::string name = entry.path().filename().string();
    if (name == "f.exp" || name == "f.p01" || name == "F.P02") continue;
    if (name.ends_with(".tmp")) trov::testing::finding("a temporary file was left behind");
    if (!exported) trov::testing::finding("a failed export left a file");
    fs::remove(entry.path());
  }
  fs::remove("f.p01");
  fs::remove("F.P02");
  return 0;
}
