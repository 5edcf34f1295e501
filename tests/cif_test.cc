// The powder CIF: the phase records read, numbers with their s.u., text in CIF's ASCII, and the blocks written.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "export/cif_text.h"
#include "export/powder_cif.h"
#include "common/fatal.h"
#include "gsas/profile.h"
#include "testing/gsas_writer.h"

namespace trov {
namespace {

std::string measured(double value, double su) {
  char text[kMaxCifNumberChars];
  return {text, write_cif_measured(text, value, su)};
}

TEST(CifNumbers, AValueKeepsItsDigitsAndItsUncertaintyTheFewerOfItsOwnOrTwo) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double value, su;
    const char* text;
  } cases[] = {
      {8.482371, 0.000117, "8.482371(117)"},    // the file's digits, both
      {10.251218, 0.000002, "10.251218(2)"},    // one digit stays one
      {254.6, 0.002, "254.600(2)"},             // the value padded to the s.u.'s place
      {318.895, 0.009, "318.895(9)"},
      {1234, 35.12833614050059, "1234(35)"},    // a computed s.u. rounded to two digits
      {1234, 35.5, "1234(36)"},                 // half up
      {1234.5678, 35.1, "1234.5678(351000)"},   // a value with more places keeps them all
      {-3.25, 0.5, "-3.25(50)"},
      {0, 0.0123, "0.000(12)"},
      {1e-05, 2e-06, "0.000010(2)"},            // fixed notation where an s.u. follows
      {1.5e6, 32100, "1500000(32100)"},         // never coarser than units
      {90, 0, "90"},                            // no s.u., as the file says 0.0000
      {90, -1, "90"},
      {5.5, nan, "5.5"},
      {nan, 1, "?"},                            // CIF has no NaN or infinity
      {-inf, 1, "?"},
      {1e300, 1e-300, "1e+300"},                // too many digits for the s.u.'s place
  };
  for (const Case& c : cases) EXPECT_EQ(measured(c.value, c.su), c.text) << c.value << " " << c.su;
  char text[kMaxCifNumberChars];
  EXPECT_EQ(std::string(text, write_cif_number_shifted(text, 12.345, 3)), "12345");  // keV as eV, exactly
  EXPECT_EQ(std::string(text, write_cif_number_shifted(text, 0.0001, 3)), "0.1");
  EXPECT_EQ(std::string(text, write_cif_number(text, 1e-05)), "1e-05");  // as the CSV writes it
}

TEST(CifText, NamesBecomeAsciiAndAreQuotedWhereCifNeedsIt) {
  struct Case {
    const char* utf8;
    const char* text;
  } cases[] = {
      {"pbso4", "pbso4"},
      {"Zinc oxide", "'Zinc oxide'"},
      {"\xC3\x85ngstr\xC3\xB6m", "\\%Angstr\\\"om"},  // Ångström in CIF's markup
      {"caf\xC3\xA9", "caf\\'e"},
      {"25\xB0" "C", "25\\%C"},                        // a Windows-1252 degree sign
      {"\xCE\xBC-strain", "\\m-strain"},
      {"\xF0\x9F\x94\xAC", "<U+01F52C>"},              // no markup: the code point in words
      {"tab\there", "tab<U+0009>here"},
      {"_name", "'_name'"},                            // would read as a data name
      {"data_x", "'data_x'"},
      {"?", "'?'"},
      {"O'Neil phase", "'O'Neil phase'"},              // a quote ends '...' only before a blank
      {"rock 'n' roll", "\"rock 'n' roll\""},
      {"it's \"x\" o' \"y\" z", "\n;it's \"x\" o' \"y\" z\n;"},
  };
  for (const Case& c : cases) EXPECT_EQ(cif_text(c.utf8), c.text) << c.utf8;
}

// An experiment of one phase and one histogram in code, and its CIF.
std::string cif_of(const std::vector<std::string>& records, const std::vector<ProfilePoint>& points) {
  std::string experiment_bytes = testing::lines({testing::htyp_record(1, {"PXC "})}, "\r\n");
  for (const std::string& r : records) experiment_bytes += testing::lines({testing::record(r)}, "\r\n");
  InputFile file(memory_source(experiment_bytes), "t.exp");
  const Experiment experiment = read_experiment(file, ExperimentRecords::kAll);
  const std::string profile = testing::profile_bytes(points, std::vector<testing::PointTail>(points.size()));  // weights 0
  std::string text;
  OutputFile out(memory_sink(text), "t.cif");
  write_powder_cif(out, experiment, {{&experiment.histograms[0], [&] { return InputFile(memory_source(profile), "t.p01"); }}},
                   "t x");
  out.close();
  return text;
}

const std::vector<ProfilePoint> kPoints = {{0, 1000, 50, 0, 1, 40}, {4, 1001, 60, 55, 1, 40}, {0, 1002, 58, 57, 1, 41}};

TEST(PowderCif, PhaseRecordsBecomeTheCellTheSymmetryAndTheAtoms) {
  const std::string cif = cif_of(
      {"CRS1    PNAM  Lead sulfate",
       "CRS1  ABC     8.482371  5.400051  6.961979    Y    0",
       "CRS1  ABCSIG  0.000117  0.000077  0.000100",
       "CRS1  ANGLES   90.0000   90.0000   90.0000",
       "CRS1  ANGSIG    0.0000    0.0000    0.0000",
       "CRS1  CELVOL        318.895          0.009",
       "CRS1  SG SYM  P n m a",
       "CRS1  AT  1A  PB+2       .188200   .250000   .167000  1.000000PB1        4 000",
       "CRS1  AT  1B   .005000                                                    I",
       "CRS1  AT  2A  O-        -.095000   .250000   .600000  1.500000PB1        4 000",  // a label again, too full
       "CRS1  AT  2B  0.008330  0.009559  0.007958  0.000000  0.000000 -0.000037  A  U",
       "CRS1  AT  3A  S          .063000   .250000   .686000  1.000000           4 000",  // no label
       "CRS1  AT  3B  -.005000                                                    I",  // a negative Uiso
       "HAP1 1PHSFR      0.5000        N    0",
       "CRS2  ABC   123.456789 99.123456100.000000"},  // fields that fill their columns run together
      kPoints);
  for (const char* expected :
       {"data_t_x_phase_1\n", "_pd_phase_name                    'Lead sulfate'\n",
        "_cell_length_a                    8.482371(117)\n", "_cell_length_c                    6.961979(100)\n",
        "_cell_angle_beta                  90\n", "_cell_volume                      318.895(9)\n",
        "_symmetry_space_group_name_H-M    'P n m a'\n", "loop_\n_atom_type_symbol\nPb2+\nO1-\nS\n",
        "PB1 Pb2+ 0.1882 0.25 0.167 1 4 Uiso 0.005\n",
        "PB1_2 O1- -0.095 0.25 0.6 ? 4 Uani ?\n",  // unique label; occupancy beyond 1 unknown
        "S3 S 0.063 0.25 0.686 1 4 Uiso ?\n",
        "PB1_2 0.00833 0.009559 0.007958 0 0 -3.7e-05\n",
        "_pd_phase_id\n_pd_phase_block_id\n_trov_phase_fraction\n1 t_x_phase_1 0.5\n",
        "_cell_length_a                    123.456789\n_cell_length_b                    99.123456\n"
        "_cell_length_c                    100\n"}) {
    EXPECT_NE(cif.find(expected), std::string::npos) << expected << "\n" << cif;
  }
}

TEST(PowderCif, ValuesTheDictionariesCannotHoldAreLeftOutOrUnknown) {
  struct Case {
    const char* what;
    std::vector<std::string> records;
    std::vector<ProfilePoint> points;
    std::vector<const char*> present, absent;
  } cases[] = {
      {"records cut or holding text", {"CRS1  ABC     8.48x371  **********", "CRS1  ANGLES  ninety", "CRS1  CELVOL  -5 1"},
       kPoints, {"data_t_x_phase_1\n"}, {"_cell_", "_symmetry"}},
      {"a negative observed intensity", {}, {{0, 1000, -5, 1, 1, 1}, {0, 1001, 6, 5, 1, 1}},
       {"_pd_meas_intensity_total\n", "\n10 -5 1 1 0\n"}, {"_pd_proc_intensity_total"}},
      {"a negative background", {}, {{0, 1000, 5, 1, 1, -1}, {0, 1001, 6, 5, 1, 1}},
       {"# The background is left out"}, {"\n_pd_proc_intensity_bkg_calc\n"}},
      {"no background", {}, {{0, 1000, 5, 1, 1, 0}}, {"# The profile holds no background.\n"}, {"_bkg_"}},
      {"a calculated value left negative outside the fit", {}, {{0, 1000, 5, -3, 1, 0}},
       {"\n10 5 ? 0\n", "10\n;"}, {}},
      {"no point at all", {}, {}, {"# The profile holds no point.\n"}, {"loop_\n_pd_meas_2theta_scan"}},
      {"2-theta beyond 360 degrees", {}, {{0, 40000, 5, 1, 1, 0}}, {"\n? 5 1 0\n"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string cif = cif_of(c.records, c.points);
    for (const char* text : c.present) EXPECT_NE(cif.find(text), std::string::npos) << text << "\n" << cif;
    for (const char* text : c.absent) EXPECT_EQ(cif.find(text), std::string::npos) << text << "\n" << cif;
  }
}

TEST(PowderCif, TheProfileLoopHoldsWeightsOfTheScaledIntensitiesAndZeroOutsideTheFit) {
  ProfilePoint fitted{0, 1000, 400, 380, 2, 100};
  ProfilePoint excluded{0, 1001, 400, 0, 2, 100};
  // The weight word: 1/400 of the counts, so sigma is 2 * 20 and the weight 1/1600.
  const std::string profile_bytes = testing::profile_bytes({fitted, excluded}, {{1.0f / 400, 0}, {1.0f / 400, 0}});
  const std::string experiment_bytes = testing::lines({testing::htyp_record(1, {"PXC "})}, "\n");
  InputFile file(memory_source(experiment_bytes), "t.exp");
  const Experiment experiment = read_experiment(file, ExperimentRecords::kAll);
  std::string text;
  OutputFile out(memory_sink(text), "t.cif");
  write_powder_cif(out, experiment,
                   {{&experiment.histograms[0], [&] { return InputFile(memory_source(profile_bytes), "t.p01"); }}}, "t");
  out.close();
  EXPECT_NE(text.find("\n10 800(40) 760 200 0.0006249999860301614\n10.01 800(40) 0 200 0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("_pd_proc_info_excluded_regions\n;Points left out of the fit (no calculated intensity), "
                      "2theta in degrees:\n10.01\n;\n"),
            std::string::npos);
}

TEST(PowderCif, AProfileThatChangesBetweenItsTwoReadingsIsRefused) {
  const std::string experiment_bytes = testing::lines({testing::htyp_record(1, {"PXC "})}, "\n");
  InputFile file(memory_source(experiment_bytes), "t.exp");
  const Experiment experiment = read_experiment(file, ExperimentRecords::kAll);
  const std::string first = testing::profile_bytes(kPoints, {});
  const std::string second = testing::profile_bytes({kPoints[0]}, {});
  int opened = 0;
  std::string text;
  OutputFile out(memory_sink(text), "t.cif");
  try {
    write_powder_cif(out, experiment, {{&experiment.histograms[0], [&] {
                                          return InputFile(memory_source(opened++ == 0 ? first : second), "t.p01");
                                        }}},
                     "t");
    FAIL() << "no error";
  } catch (const Fatal& error) {
    EXPECT_STREQ(error.what(), "t.p01 changed while it was read");
  }
}

}  // namespace
}  // namespace trov
