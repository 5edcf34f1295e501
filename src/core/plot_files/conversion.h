// Plot files (EXPNAM.a##) and marker files (EXPNAM.b##): the fixed-format lines made from a profile's points.
#pragma once

#include <cstddef>
#include <cstdint>

#include "numbers/fixed_point_format.h"
#include "io/input_file.h"
#include "io/output_file.h"
#include "gsas/experiment.h"
#include "gsas/profile.h"

namespace trov {

// The single-precision value nearest 0.01 (bits 0x3C23D70A), by which
// centidegree positions are scaled; the product is formed in double.
inline constexpr float kCentidegree = 0.01f;

// x of a point: its position, scaled for centidegree types.
double axis_position(const ProfilePoint& point, const HistogramType& type);

// One plot line, "%7.3f %8.1f %8.1f %8.1f %11.4f %11.4f\n": x,
// observed*scale, calculated*scale, (observed-calculated)*scale, scale,
// auxiliary, each float widened to double and every product rounded once.
// Writes it to out (room for kMaxPlotLineSize) and returns its end. Public
// for the benchmark, which times it beside snprintf.
inline constexpr std::size_t kMaxPlotLineSize = 6 * kMaxFixedChars;
char* format_plot_line(char* out, double x, const ProfilePoint& point);

// The marker lines "%7.3f %2d\n" of one point, highest marker number first:
// one for each set bit 2..12 of marker_flags when 0 <= marker_flags < 8192
// (bit b is marker number b - 1), and none at all for any other value.
void write_marker_lines(OutputFile& markers, double x, std::int32_t marker_flags);

// Reads the profile from its start to its end and writes the plot and marker
// lines of every point whose calculated value is positive. Only blocks whose
// 504 bytes of points are all in the file are converted. Opens and closes
// nothing. Read and write failures throw Fatal naming the file.
void convert_histogram(InputFile& profile, OutputFile& plot, OutputFile& markers, const HistogramType& type);

}  // namespace trov
