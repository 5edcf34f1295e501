// make_sample FOLDER: writes the sample experiment SAMPLE.EXP, SAMPLE.P01 and SAMPLE.P03 into FOLDER.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "testing/sample.h"

namespace {

bool write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample FOLDER\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path folder = argv[1];
  fs::create_directories(folder);
  trov::testing::SampleSummary s;
  const trov::testing::SampleFiles files = trov::testing::make_sample(&s);
  if (!write_file(folder / "SAMPLE.EXP", files.experiment) || !write_file(folder / "SAMPLE.P01", files.xray) ||
      !write_file(folder / "SAMPLE.P03", files.neutron)) {
    std::fprintf(stderr, "make_sample: cannot write into %s\n", folder.string().c_str());
    return 1;
  }
  std::printf("Sample experiment written to %s\n", folder.string().c_str());
  std::printf("  histogram 1 (PXC): %d points, %d excluded; ticks: %d silicon, %d zinc oxide\n", s.xray_points,
              s.xray_excluded, s.xray_marked[0], s.xray_marked[1]);
  std::printf("  histogram 3 (PNT): %d points, %d excluded; ticks: %d silicon, %d zinc oxide\n", s.neutron_points,
              s.neutron_excluded, s.neutron_marked[0], s.neutron_marked[1]);
  return 0;
}
