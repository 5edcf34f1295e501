// Writes the seed corpora of the fuzz targets: well-formed files, each line-end style, partial blocks.
#include <filesystem>
#include <string>
#include <vector>

#include "testing/files.h"

namespace {

namespace fs = std::filesystem;
namespace testing = trov::testing;

// FuzzedDataProvider's random-length string: backslashes doubled, ended by a
// backslash and any other character.
std::string provider_string(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\\') out += '\\';
  }
  return out + "\\;";
}

std::vector<trov::ProfilePoint> points(int count, float start) {
  std::vector<trov::ProfilePoint> out;
  for (int i = 0; i < count; ++i) {
    out.push_back({i % 3 == 0 ? 4 << (i % 11) : 0, start + static_cast<float>(i), 100.0f + static_cast<float>(i),
                   i < 2 ? 0.0f : 95.0f, 1.5f, 0.5f});
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const fs::path root = argv[1];
  for (const char* target : {"experiment", "conversion", "program", "export"}) fs::create_directories(root / target);

  const std::string title = testing::record("     SEED EXPERIMENT");
  const std::string name = testing::record(" EXPR  NAME  seed");
  const std::string htyp = testing::htyp_record(1, {"PXC ", "PNT ", "SXC "});
  int n = 0;
  for (const char* eol : {"\n", "\r\n", "", "\r"}) {
    std::string exp = testing::lines({title, name, htyp, name}, eol);
    testing::write_file((root / "experiment" / ("lines" + std::to_string(n++))).string(), exp);
    testing::write_file((root / "program" / ("lines" + std::to_string(n))).string(),
                   provider_string("f") + provider_string(exp) + testing::profile_bytes(points(30, 1000)));
  }
  testing::write_file((root / "experiment" / "short_line").string(), title.substr(0, 50) + "\n" + htyp + "\n");
  testing::write_file((root / "experiment" / "final_78_crlf").string(), name + "\n" + htyp.substr(0, 78) + "\r\n");

  const std::string profile = testing::profile_bytes(points(40, 1234.5f));
  for (std::size_t cut : {profile.size(), profile.size() - 8, std::size_t{512 + 503}, std::size_t{100}}) {
    for (const char* type : {"PXC ", "PNT "}) {
      testing::write_file((root / "conversion" / (std::string(type, 3) + std::to_string(cut))).string(),
                     type + profile.substr(0, cut));
    }
  }
  const std::string two = testing::lines({name, testing::htyp_record(1, {"PXC ", "PNT "})}, "\r\n");
  for (const char* word : {"f", "F.EXP", "./f.x.y", "f other"}) {
    testing::write_file((root / "program" / ("word_" + std::to_string(n++))).string(),
                   provider_string(word) + provider_string(two) + profile);
  }

  // trov-export: the real-data experiments come from CI; here, one whose
  // summary and one whose ticks outgrow an output block.
  std::string phases = testing::record(" EXPR  HTYP1  PXC  PNT ") + "\n";
  for (int phase = 1; phase <= 4000; ++phase) {
    const std::string number = std::to_string(phase);
    phases += testing::record("CRS" + number + std::string(5 - number.size(), ' ') + "PNAM  phase " + number +
                             " with a name as long as the record allows it to be") + "\n";
  }
  testing::write_file((root / "export" / "many_phases").string(), provider_string(phases) + profile);
  testing::write_file((root / "export" / "two_histograms").string(), provider_string(two) + profile);
  return 0;
}
