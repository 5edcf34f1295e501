// Tests of the 80-column record reader and the histogram type table, on built and on real files.
#include "gsas/experiment.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "testing/files.h"
#include "testing/scratch.h"

namespace trov {
namespace {

using testing::htyp_record;
using testing::lines;
using testing::record;
using testing::Scratch;

std::vector<std::string> scan(std::string_view bytes) {
  Scratch scratch;
  InputFile file = scratch.input("x.exp", bytes);
  HistogramTable table = read_experiment(file, ExperimentRecords::kTypes).types;
  std::vector<std::string> types;
  for (int i = 0; i < table.count; ++i) types.emplace_back(table.entries[static_cast<std::size_t>(i)].code.data());
  return types;
}

const std::string kTitle = record("     123456789012345678901234567890123456789012345678901234567890");
const std::string kName = record(" EXPR  NAME  garnet refinement");
const std::string kHtyp = htyp_record(1, {"PXC ", "PNC ", "SXC "});
const std::vector<std::string> kTypes = {"PXC ", "PNC ", "SXC "};

TEST(ExperimentFile, EveryLineEndGivesTheSameTable) {
  EXPECT_EQ(scan(lines({kTitle, kName, kHtyp, kName}, "\n")), kTypes);
  EXPECT_EQ(scan(lines({kTitle, kName, kHtyp, kName}, "\r\n")), kTypes);
  EXPECT_EQ(scan(lines({kTitle, kName, kHtyp, kName}, "")), kTypes);
  // Bare CR: the CR rule swallows the first character of every second line,
  // so only HTYP records on odd lines are found.
  EXPECT_EQ(scan(lines({kTitle, kName, kHtyp, kName}, "\r")), kTypes);
  EXPECT_EQ(scan(lines({kTitle, kHtyp, kName}, "\r")), std::vector<std::string>{});
}

TEST(ExperimentFile, FinalRecordIsExaminedOnlyWhenItsReadDelivers80Bytes) {
  struct Case {
    std::string tail;
    bool found;
  } cases[] = {
      {kHtyp, true},                        // 80 characters, no line end
      {kHtyp + "\n", true},                 // 80 and LF
      {kHtyp + "\r\n", true},               // 80 and CR LF
      {kHtyp.substr(0, 79) + "\n", true},   // the LF completes the 80 bytes
      {kHtyp.substr(0, 78) + "\r\n", true},
      {kHtyp.substr(0, 79), false},         // short read: end of file
      {kHtyp.substr(0, 78) + "\n", false},
      {kHtyp + "\r", true},                 // a CR as the last byte: nothing left to skip
  };
  for (const Case& c : cases) {
    EXPECT_EQ(scan(kName + "\n" + c.tail).size(), c.found ? 3u : 0u) << '"' << c.tail << '"';
  }
}

TEST(ExperimentFile, ShortLinePutsFollowingRecordsOutOfStep) {
  // A 50-character line shifts the record start by 29 (LF) or 14 (CR LF)
  // lines' worth before the reader is back at column 0.
  struct Case {
    std::string eol;
    int lines_after;
    bool found;
  } cases[] = {{"\n", 1, false}, {"\n", 29, false}, {"\n", 30, true},
               {"\r\n", 14, false}, {"\r\n", 15, true}};
  for (const Case& c : cases) {
    std::string file = kTitle.substr(0, 50) + c.eol;
    for (int i = 1; i < c.lines_after; ++i) file += kName + c.eol;
    file += kHtyp + c.eol + kName + c.eol;
    EXPECT_EQ(scan(file).size(), c.found ? 3u : 0u) << c.lines_after << " lines after";
  }
  // 79 characters and LF make an 80-byte record: nothing shifts.
  EXPECT_EQ(scan(kTitle.substr(0, 79) + "\n" + kHtyp + "\n"), kTypes);
}

TEST(ExperimentFile, KeyIsCaseSensitive) {
  std::string lower = kHtyp;
  lower.replace(0, 11, " expr  htyp");
  EXPECT_EQ(scan(lines({lower, kName}, "\n")), std::vector<std::string>{});
}

TEST(ExperimentFile, BlankFieldEndsTheScanAfterItsRecord) {
  std::string gap = htyp_record(1, {"PXC ", "PNC ", "SXC ", "    ", "PNT "});
  std::string later = htyp_record(2, {"PXE "});
  EXPECT_EQ(scan(lines({gap, later}, "\n")),
            (std::vector<std::string>{"PXC ", "PNC ", "SXC ", "PNT "}));
  // Without a blank field the next HTYP record continues the list.
  std::string full = htyp_record(1, {"PXC ", "PXC ", "PXC ", "PXC ", "PXC ", "PXC ", "PXC ", "PXC ",
                                     "PXC ", "PXC ", "PXC ", "PNT "});
  std::vector<std::string> types = scan(lines({full, htyp_record(2, {"A", "B", "C", "D", "E"})}, "\n"));
  ASSERT_EQ(types.size(), 17u);
  EXPECT_EQ(types[11], "PNT ");
  EXPECT_EQ(types[16], "E   ");
}

TEST(ExperimentFile, TabsAndNulsAreNotBlanks) {
  std::string r = htyp_record(1, {"PXC "});
  r.replace(19, 4, std::string("\tXC ", 4));
  r.replace(24, 4, std::string("P\0C ", 4));
  r.replace(29, 4, std::string("\0XC ", 4));
  r.replace(34, 4, "    ");
  std::vector<std::string> types = scan(r);
  EXPECT_EQ(types, (std::vector<std::string>{"PXC ", "\tXC ", "P", ""}));
}

TEST(ExperimentFile, TableHoldsAtMost99Types) {
  std::string eight;
  for (int n = 1; n <= 8; ++n) {
    eight += htyp_record(n, {"PXC ", "PXC ", "PXC ", "PXC ", "PXC ", "PXC ", "PXC ", "PXC ", "PXC ",
                             "PXC ", "PXC ", "PXC "}) + "\n";
  }
  EXPECT_EQ(scan(eight).size(), 96u);
  std::string ninth = eight + eight.substr(0, 81);
  EXPECT_EQ(scan(ninth).size(), 99u);
  EXPECT_EQ(scan(ninth + eight).size(), 99u);
}

TEST(ExperimentFile, EmptyAndKeylessFilesGiveAnEmptyTable) {
  EXPECT_TRUE(scan("").empty());
  EXPECT_TRUE(scan(lines({kTitle, kName}, "\r\n")).empty());
}

TEST(ExperimentFile, RealExperimentsGiveTheirPublishedTables) {
  const std::vector<std::string> tof(32, "PNT ");
  // The last least-squares run: the latest GENLES history record, in each
  // of the date forms the package has written (NAC-2015A's history holds
  // none: refined by another program).
  struct Case {
    const char* file;
    std::vector<std::string> types;
    std::optional<std::string> last_refinement;
  } cases[] = {
      {"PBSO4X.EXP", {"PXC "}, "2011-10-12T09:06:30"},
      {"TOF1A-H.EXP", tof, "1999-03-30T09:59:39"},
      {"cpd4.exp", {"PXC ", "ZPF "}, "1998-02-09T16:52:44"},
      {"GAPO4_XRAY_BAK.EXP", {"PXC "}, "2014-05-20T15:35:24"},
      {"NAC-2015A.EXP", {"PNT ", "PNT ", "PXC "}, std::nullopt},
  };
  for (const Case& c : cases) {
    std::string bytes = testing::read_file(std::string(TROV_TEST_DATA) + "/exp/" + c.file);
    ASSERT_FALSE(bytes.empty()) << c.file;
    EXPECT_EQ(scan(bytes), c.types) << c.file;
    Scratch scratch;
    InputFile file = scratch.input("x.exp", bytes);
    EXPECT_EQ(read_experiment(file, ExperimentRecords::kAll).last_refinement, c.last_refinement) << c.file;
  }
}

TEST(ExperimentFile, HistoryDatesOfEveryFormAreReadAndOthersIgnored) {
  struct Case {
    std::vector<std::string> history;
    std::optional<std::string> last_refinement;
  } cases[] = {
      {{"    HSTRY  3 GENLES  Win32  May  2 08:01:02 2014 Sdsq= 0.2E+04"}, "2014-05-02T08:01:02"},
      {{"    HSTRY  3 GENLES  Linux  dec 31 23:59:59 1999"}, "1999-12-31T23:59:59"},
      // The latest date wins, not the last record: the numbers wrap.
      {{"    HSTRY 98 GENLES  MS-DOS 2001-01-05T10:00:00", "    HSTRY100 GENLES  MS-DOS 2000-01-05T10:00:00"},
       "2001-01-05T10:00:00"},
      // Other programs' runs, and dates of no known form, say nothing.
      {{"    HSTRY  4 POWPREF Win32  May 20 15:35:24 2014", "    HSTRY  5 GENLES  Win32  yesterday"}, std::nullopt},
      {{"    HSTRY  6 GENLES  Win32  13:61:00 31-XYZ-1998"}, std::nullopt},
  };
  for (const Case& c : cases) {
    std::string bytes = kTitle;
    for (const std::string& h : c.history) bytes += record(h);
    Scratch scratch;
    InputFile file = scratch.input("x.exp", bytes);
    EXPECT_EQ(read_experiment(file, ExperimentRecords::kAll).last_refinement, c.last_refinement) << c.history[0];
  }
}

}  // namespace
}  // namespace trov
