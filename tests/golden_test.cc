// Every build writes the very bytes of the reference build: digests of trov's output on a fixed set of experiments.
//
// The table in golden_digests.inc was made once, from the x86-64 Linux build,
// and is never regenerated to make a failing build pass: a machine that
// agrees with its own printf but not with this table writes other bytes than
// the reference, and that is what this test exists to catch. Windows output
// is compared after its CR LF line ends are turned back into LF.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "numbers/bit_copy.h"
#include "testing/files.h"
#include "testing/sample.h"
#include "testing/scratch.h"
#include "testing/sha256.h"

namespace trov {
namespace {

namespace fs = std::filesystem;
using testing::Scratch;

struct GoldenDigest {
  const char* experiment;
  const char* file;  // a file of the experiment's folder, or "stdout" (what it printed, then its exit status)
  const char* sha256;
};

constexpr GoldenDigest kGolden[] = {
#include "golden_digests.inc"
};

const float kInf = std::numeric_limits<float>::infinity();
const float kNan = std::numeric_limits<float>::quiet_NaN();

std::string experiment(std::initializer_list<std::string_view> types) {
  return testing::lines({testing::record("      GOLDEN OUTPUT EXPERIMENT"), testing::htyp_record(1, types)}, "\r\n");
}

// Every pairing of the values IEEE arithmetic treats apart, in the observed,
// calculated and scale words (NaN results of both signs from NaN operands and
// from invalid operations such as inf - inf and inf * 0), with NaN and
// infinite positions and auxiliary values; then exact halves of each format
// and values on both sides of each boundary between the formatter's paths.
std::vector<ProfilePoint> special_points() {
  const float specials[] = {kNan, -kNan, kInf, -kInf, 0.0f, -0.0f, 1.0f, -1.0f, 2.5f, 3e38f};
  std::vector<ProfilePoint> points;
  int i = 0;
  for (float observed : specials) {
    for (float calculated : specials) {
      for (float scale : specials) {
        const float position = specials[i % 10] == 1.0f ? 1234.5f : specials[i % 10];
        points.push_back({4 << (i % 12), position, observed, calculated, scale, specials[(i / 10) % 10]});
        ++i;
      }
    }
  }
  // Halves at three decimals (x), one (the products) and four (scale, auxiliary).
  for (float half : {0.0625f, 0.1875f, 1.0625f, 0.25f, 0.75f, 2.5f, 0.03125f, 1.09375f, 999.9995f, 99.9995f}) {
    for (float sign : {1.0f, -1.0f}) points.push_back({0, sign * half, sign * half, 1.0f, sign * half, -sign * half});
  }
  // Widths reached exactly and one place beyond, and the magnitudes where
  // value * 10^decimals crosses 2^52 and 2^64, a few floats either side.
  std::vector<float> edges = {999.999f, 9999.999f, 999999.9f, 9999999.0f, 99999999.0f, 1e7f, 1e8f, 9999999.99995f};
  for (double unit : {1e1, 1e3, 1e4}) {
    for (int power : {52, 64}) edges.push_back(static_cast<float>(std::ldexp(1.0, power) / unit));
  }
  for (float edge : edges) {
    float v = edge;
    for (int step = 0; step < 4; ++step) v = std::nextafter(v, 0.0f);
    for (int step = 0; step < 9; ++step, v = std::nextafter(v, kInf)) {
      points.push_back({0, v, v, 1.0f, 1.0f, v});
      points.push_back({0, -v, -v, 0.5f, 1.0f, -v});
      points.push_back({0, 1.0f, 1.0f, 2.0f, v, 1.0f});
    }
  }
  // Marker words with high bits, negative ones, and the largest of each sign.
  for (std::int32_t flags : {0, 1, 3, 4, 12, 4096, 8188, 8192, 8196, 0x7FFC, -4, -8192, INT_MIN, INT_MAX}) {
    points.push_back({flags, 500.0f, 10.0f, 9.0f, 1.0f, 0.0f});
  }
  return points;
}

// Any bit pattern in every word (std::mt19937's sequence is the same on every
// platform), half of them with a positive calculated value so that they convert.
std::vector<ProfilePoint> random_points(int count) {
  std::mt19937 random(20261208);
  auto any_float = [&] { return bit_copy<float>(static_cast<std::uint32_t>(random())); };
  std::vector<ProfilePoint> points;
  for (int i = 0; i < count; ++i) {
    ProfilePoint p{static_cast<std::int32_t>(random()), any_float(), any_float(), any_float(), any_float(), any_float()};
    if (i % 2 == 0) p.calculated = std::fabs(p.calculated);
    if (i % 4 == 0) p.marker_flags &= 0x1FFC;
    points.push_back(p);
  }
  return points;
}

// An experiment: its files, and the word typed for it.
struct Case {
  const char* name;
  std::function<void(const Scratch&)> write;
  const char* word;
};

std::vector<Case> cases() {
  return {
      {"sample",
       [](const Scratch& s) {
         const testing::SampleFiles files = testing::make_sample();
         s.write("SAMPLE.EXP", files.experiment);
         s.write("SAMPLE.P01", files.xray);
         s.write("SAMPLE.P03", files.neutron);
       },
       "SAMPLE\n"},
      {"special",
       [](const Scratch& s) {
         s.write("special.exp", experiment({"PXC ", "PNT ", "SXC ", "PNC ", "PXE "}));
         const std::string profile = testing::profile_bytes(special_points());
         for (const char* h : {"special.p01", "special.p02", "special.p04", "special.p05"}) s.write(h, profile);
       },
       "special\n"},
      {"random",
       [](const Scratch& s) {
         s.write("random.exp", experiment({"PXC ", "PNT "}));
         s.write("random.p01", testing::profile_bytes(random_points(3000)));
         s.write("random.p02", testing::profile_bytes(random_points(3001)));
       },
       "random\n"},
      {"partial",
       [](const Scratch& s) {
         // Ends 8 bytes short of a block (converted), 9 short (not), and inside the first block.
         s.write("partial.exp", experiment({"PNT ", "PNT ", "PNT "}));
         const std::string profile = testing::profile_bytes(random_points(42));
         s.write("partial.p01", profile.substr(0, profile.size() - 8));
         s.write("partial.p02", profile.substr(0, profile.size() - 9));
         s.write("partial.p03", profile.substr(0, ProfileBlock::kPointBytes - 1));
       },
       "partial.exp\n"},
      {"missing",
       [](const Scratch& s) {
         s.write("missing.exp", experiment({"PXC ", "PXC "}));
         s.write("missing.p01", testing::profile_bytes(random_points(20)));
       },
       "missing\n"},
      // Instrument constants for every axis, so that d and Q are computed
      // on special and random positions; names in Windows-1252 and UTF-8.
      {"constants",
       [](const Scratch& s) {
         s.write("constants.exp",
                 testing::lines({testing::record("      DESCR   Golden constants at 25\xB0" "C"),
                                testing::htyp_record(1, {"PXC ", "PNT ", "PXE ", "PXC "}),
                                testing::record("CRS1    PNAM  \xC5ngstr\xF6m phase"),
                                testing::record("CRS2    PNAM  caf\xC3\xA9, \"quoted\""),
                                testing::record("HST  1 ICONS  1.540500  1.544300     -7.50         0       0.5    0     0.500"),
                                testing::record("HST  2 ICONS   5074.11     -2.10      3.29"),
                                testing::record("HST  2BNKPAR    1.2495   151.000"),
                                testing::record("HST  3 ICONS     10.00"),
                                testing::record("HST  4 ICONS  0.413909  0.000000      0.00"),
                                testing::record("HST  1 RPOWD    0.1243    0.0960   6000  37930.  0.1500  0.1100  0"),
                                testing::record("HST  2 TRNGE   2.99958  23.99368")},
                               "\r\n"));
         s.write("constants.p01", testing::profile_bytes(special_points()));
         s.write("constants.p02", testing::profile_bytes(random_points(2000)));
         s.write("constants.p03", testing::profile_bytes(random_points(2001)));
         s.write("constants.p04", testing::profile_bytes(special_points()));
       },
       "constants\n"},
  };
}

std::string without_cr_before_lf(std::string text) {
#ifdef _WIN32
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  }
  return out;
#else
  return text;
#endif
}

// The digests of one experiment's run: standard output and status, and every
// file by name, the inputs included (so that a generator that wrote other
// bytes on this machine is told apart from a conversion that did).
std::map<std::string, std::string> digests_of(const Case& c) {
  Scratch scratch;
  c.write(scratch);
  const testing::RunResult r = scratch.run_trov(c.word);
  std::map<std::string, std::string> digests;
  digests["stdout"] = testing::sha256_hex(without_cr_before_lf(r.out) + "\nstatus " + std::to_string(r.status));
  // Then trov-export on the same files: its CSV, JSON and CIF files join the
  // folder, and what it said (standard output and error) is digested too.
  const std::string word(c.word, std::string_view(c.word).find('\n'));
  const testing::RunResult e = testing::run_trov_in(scratch.path(), std::nullopt, scratch.path("_stdin"),
                                                    scratch.path("_export"), testing::export_command({"--cif", word}), true);
  digests["export stdout"] =
      testing::sha256_hex(without_cr_before_lf(e.out) + "\nstatus " + std::to_string(e.status));
  for (const auto& entry : fs::directory_iterator(scratch.path())) {
    const std::string name = entry.path().filename().string();
    const bool output = name.size() > 4 && (name[name.size() - 3] == 'a' || name[name.size() - 3] == 'b');
    if (name[0] == '_') continue;  // the run's own standard input and output
    const std::string bytes = testing::read_file(entry.path().string());
    digests[name] = testing::sha256_hex(output ? without_cr_before_lf(bytes) : bytes);
  }
  // TROV_GOLDEN_KEEP=DIR keeps each experiment's folder as DIR/NAME: the
  // browser edition's test feeds the page these inputs.
  if (const char* keep = std::getenv("TROV_GOLDEN_KEEP")) {
    const fs::path folder = fs::path(keep) / c.name;
    fs::create_directories(folder);
    fs::copy(scratch.path(), folder, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
  return digests;
}

TEST(GoldenOutput, DigestAlgorithmIsSha256) {
  EXPECT_EQ(testing::sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(testing::sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits the first block.
  EXPECT_EQ(testing::sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(GoldenOutput, EveryFileIsTheReferenceBuildsByteForByte) {
  std::map<std::string, std::map<std::string, std::string>> expected;
  for (const GoldenDigest& g : kGolden) expected[g.experiment][g.file] = g.sha256;
  // TROV_GOLDEN_TABLE=FILE writes this build's table there, for a new case.
  const char* table_path = std::getenv("TROV_GOLDEN_TABLE");
  std::ofstream table;
  if (table_path != nullptr) table.open(table_path, std::ios::binary);
  for (const Case& c : cases()) {
    const std::map<std::string, std::string> actual = digests_of(c);
    for (const auto& [file, digest] : actual) table << "{\"" << c.name << "\", \"" << file << "\", \"" << digest << "\"},\n";
    EXPECT_EQ(actual, expected[c.name]) << "experiment " << c.name << ": these bytes are not the reference build's";
  }
}

}  // namespace
}  // namespace trov
