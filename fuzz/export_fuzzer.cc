// Fuzzes trov-export's readers and writers together: any experiment and profile, exported in a scratch folder.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/fatal.h"
#include "export/export_experiment.h"
#include "testing/fuzz_support.h"

namespace {

namespace fs = std::filesystem;

void write(const char* name, const void* bytes, std::size_t size) {
  std::ofstream(name, std::ios::binary).write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
}

fs::path g_folder;  // the scratch folder, removed when the fuzzer exits

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/trov-export-fuzz-XXXXXX";
  if (mkdtemp(folder) == nullptr) std::abort();
  g_folder = folder;
  fs::current_path(g_folder);
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(g_folder, ignored);
  });
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
  write("f.exp", experiment.data(), experiment.size());
  if (!profile.empty()) {
    write("f.p01", profile.data(), profile.size());
    write("F.P02", profile.data(), profile.size());
  }
  bool exported = true;
  try {
    trov::export_experiment({"f", "", {}, trov::kAnsiCodePage, true});
  } catch (const trov::Fatal&) {
    exported = false;  // status 1 with a message: an expected outcome for most inputs
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(g_folder)) {
    const std::string name = entry.path().filename().string();
    if (name == "f.exp" || name == "f.p01" || name == "F.P02") continue;
    if (name.ends_with(".tmp")) trov::fuzz::finding("a temporary file was left behind");
    if (!exported) trov::fuzz::finding("a failed export left a file");
    fs::remove(entry.path());
  }
  fs::remove("f.p01");
  fs::remove("F.P02");
  return 0;
}
