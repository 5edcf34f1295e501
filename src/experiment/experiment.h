// GSAS experiment file: its 80-column records and the histogram type table of its HTYP records.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "common/stream.h"

namespace trov {

// An experiment file is a sequence of 80-character text records, blank-padded,
// each followed by LF, by CR LF, or by nothing at all (records back to back).
// The one record the converter cares about looks like
//
//    EXPR  HTYP1  PXC  SXC  PNT
//   ^col 0     ^col 11
//
// " EXPR  HTYP" in columns 0-10, then twelve 4-character histogram-type fields
// starting at column 14 and spaced 5 apart (14-17, 19-22, ..., 69-72). The
// first blank field marks the end of the list; a long list continues in
// further HTYP records (HTYP1, HTYP2, ...).
inline constexpr std::size_t kExpRecordLength = 80;
using ExpRecord = std::array<char, kExpRecordLength + 1>;  // the characters read and a NUL

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

// Histogram numbers are written with two digits in file names, so at most 99.
inline constexpr int kMaxHistograms = 99;

// Entries in file order; entry h - 1 describes histogram h.
struct HistogramTable {
  std::array<HistogramType, kMaxHistograms> entries{};
  int count = 0;
};

// Reads the next record (0 to 80 characters and a NUL) and consumes the line
// end after it. Whether the read ran into the end of the file is told by
// stream.at_end() afterwards. The reader never looks for a line end inside
// the 80 bytes: after a line of another length the next record starts inside
// the following line, and the line-end rules bring it back in step within a
// few dozen lines. Read errors throw Fatal.
void read_exp_record(ExpRecord& record, Stream& stream);

// Reads records from the start of the stream until the end of the file, a
// blank type field, or a full table. The stream stays open.
HistogramTable scan_histogram_types(Stream& stream);

}  // namespace trov
