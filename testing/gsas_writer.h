// Writes GSAS input files in code: 80-column experiment records and little-endian profile blocks.
//
// The tool only reads these formats; the sample experiment, the tests, the
// fuzz seeds and the benchmarks build their inputs with this writer.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "gsas/experiment.h"
#include "gsas/profile.h"

namespace trov::testing {

// One 80-column record: text padded with blanks (or cut) to 80 characters.
std::string record(std::string_view text);

// An HTYP record numbered n holding up to twelve 4-character types.
std::string htyp_record(int n, std::initializer_list<std::string_view> types);

// Lines joined with a line end after each (after none when eol is empty).
std::string lines(std::initializer_list<std::string_view> lines, std::string_view eol);

// Profile file bytes: the points, 14 to a 512-byte block, the last block
// filled up with zero points (calculated 0, so never converted). The words
// the converter skips hold a recognisable filler pattern.
std::string profile_bytes(const std::vector<ProfilePoint>& points);

// The three words after a point's values, which trov skips, as the refinement
// package fills them: the point's weight (1/sigma^2 of the observed counts),
// the step width in the units of the position, and zero.
struct PointTail {
  float weight = 0;
  float step_width = 0;
};

// The same, with each point's tail words (tails[i] for points[i]) and the
// block's two trailing words zero, as in a real profile file.
std::string profile_bytes(const std::vector<ProfilePoint>& points, const std::vector<PointTail>& tails);

}  // namespace trov::testing
