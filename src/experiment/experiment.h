// GSAS experiment file (EXPNAM.EXP): its HTYP records and the histogram type table built from them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "common/input_file.h"

namespace trov {

// An experiment file is a sequence of 80-character records, each followed by
// LF, CR LF or nothing. The converter reads only the HTYP records:
// " EXPR  HTYP" in columns 0-10, then twelve 4-character histogram-type
// fields at columns 14, 19, ..., 69. docs/formats.md describes the records
// and the reader's line-end rules in full.
inline constexpr std::size_t kExpRecordLength = 80;
inline constexpr std::string_view kHtypKey = " EXPR  HTYP";
inline constexpr std::size_t kTypeFieldsPerRecord = 12;
inline constexpr std::size_t kFirstTypeColumn = 14;
inline constexpr std::size_t kTypeFieldLength = 4;
inline constexpr std::size_t kTypeFieldSpacing = kTypeFieldLength + 1;

// One HTYP field as it stands (trailing blanks kept); a NUL in the record ends
// it early. Its first character says whether the histogram is a powder one
// (P), its third whether profile positions are stored in centidegrees (C:
// constant-wavelength data, whose 2-theta is scaled by 0.01 on output).
struct HistogramType {
  std::array<char, kTypeFieldLength + 1> code{};

  bool is_powder() const { return code[0] == 'P'; }
  bool positions_in_centidegrees() const { return code[2] == 'C'; }
};

// One record: the characters read (0 to 80) and a NUL.
using ExpRecord = std::array<char, kExpRecordLength + 1>;

// Reads the next record (0 to 80 characters, NUL-terminated) and the line end
// after it (LF, or CR and the byte after it); file.at_end() then tells whether
// the record came up short, and a record that came up short is never to be
// examined. A final record without a line end counts as whole.
void read_exp_record(ExpRecord& record, InputFile& file);

// Histogram numbers are written with two digits in file names, so at most 99.
inline constexpr int kMaxHistograms = 99;

// Entries in file order; entry h - 1 describes histogram h.
struct HistogramTable {
  std::array<HistogramType, kMaxHistograms> entries{};
  int count = 0;
};

// Reads records from the start of the file until its end, a blank type field
// or a full table, and returns the types in file order. Every non-blank field
// of an HTYP record is taken, even after a blank one; the blank stops the scan
// before the next record. The file stays open. Read errors throw Fatal.
HistogramTable scan_histogram_types(InputFile& file);

}  // namespace trov
