// Converts one profile file, block by block, into plot lines and marker lines.
#include "plot_files/conversion.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <memory>

// The columns are products of floats widened to double, and must be rounded
// to double once. x87 arithmetic (32-bit x86 without SSE2) keeps 80 bits and
// rounds twice, which changes digits; the build selects SSE2 there.
#if !(FLT_EVAL_METHOD == 0 || FLT_EVAL_METHOD == 1)
#error "double arithmetic must round to double: on 32-bit x86 build with -msse2 -mfpmath=sse"
#endif

namespace trov {

namespace {

constexpr std::size_t kMaxMarkerLineSize = kMaxFixedChars + 4;

void write_plot_line(OutputFile& plot, double x, const ProfilePoint& point) {
  plot.commit(format_plot_line(plot.reserve(kMaxPlotLineSize), x, point));
}

constexpr double kQuietNan = std::numeric_limits<double>::quiet_NaN();

// A NaN whose sign is that of value (a NaN float or double): read from the
// bit and set with copysign, as conversions of NaNs may not keep the sign on
// every processor.
template <typename T>
double nan_like(T value) {
  return std::copysign(kQuietNan, std::signbit(value) ? -1.0 : 1.0);
}

// IEEE 754 leaves the sign of a NaN result to the processor. The files carry
// the sign that x86-64 gives, whatever the machine: a NaN operand passes on
// its own sign, the first one in the order the operands are written; an
// invalid operation on numbers (inf - inf, inf * 0) gives a negative NaN.
template <typename A, typename B>
double settled(double result, A a, B b) {
  if (!std::isnan(result)) return result;
  if (std::isnan(a)) return nan_like(a);
  if (std::isnan(b)) return nan_like(b);
  return -kQuietNan;
}

// The columns of a line some value of which is a NaN, with the signs settled.
char* format_plot_line_with_nan(char* out, double x, const ProfilePoint& point) {
  const double observed = point.observed;
  const double calculated = point.calculated;
  const double scale = point.scale;
  const double difference = settled(observed - calculated, point.observed, point.calculated);
  out = format_fixed<7, 3>(out, x);
  *out++ = ' ';
  out = format_fixed<8, 1>(out, settled(observed * scale, point.observed, point.scale));
  *out++ = ' ';
  out = format_fixed<8, 1>(out, settled(calculated * scale, point.calculated, point.scale));
  *out++ = ' ';
  out = format_fixed<8, 1>(out, settled(difference * scale, difference, point.scale));
  *out++ = ' ';
  out = format_fixed<11, 4>(out, std::isnan(point.scale) ? nan_like(point.scale) : scale);
  *out++ = ' ';
  out = format_fixed<11, 4>(out, std::isnan(point.auxiliary) ? nan_like(point.auxiliary) : point.auxiliary);
  *out++ = '\n';
  return out;
}

}  // namespace

double axis_position(const ProfilePoint& point, const HistogramType& type) {
  if (std::isnan(point.position)) return nan_like(point.position);
  double x = point.position;
  if (type.axis() == Axis::kTwoTheta) x *= static_cast<double>(kCentidegree);
  return x;
}

char* format_plot_line(char* out, double x, const ProfilePoint& point) {
  const double observed = point.observed;
  const double calculated = point.calculated;
  const double scale = point.scale;
  const double observed_scaled = observed * scale;
  const double calculated_scaled = calculated * scale;
  const double difference_scaled = (observed - calculated) * scale;
  // One test for all columns: the sum is a NaN when any term is (or when
  // infinities cancel, which the careful path handles as well).
  const double sum = observed_scaled + calculated_scaled + difference_scaled + scale + point.auxiliary;
  if (std::isnan(sum)) return format_plot_line_with_nan(out, x, point);
  out = format_fixed<7, 3>(out, x);
  *out++ = ' ';
  out = format_fixed<8, 1>(out, observed_scaled);
  *out++ = ' ';
  out = format_fixed<8, 1>(out, calculated_scaled);
  *out++ = ' ';
  out = format_fixed<8, 1>(out, difference_scaled);
  *out++ = ' ';
  out = format_fixed<11, 4>(out, scale);
  *out++ = ' ';
  out = format_fixed<11, 4>(out, point.auxiliary);
  *out++ = '\n';
  return out;
}

void write_marker_lines(OutputFile& markers, double x, std::int32_t marker_flags) {
  for_each_marker(marker_flags, [&](int number) {
    char* out = format_fixed<7, 3>(markers.reserve(kMaxMarkerLineSize), x);
    *out++ = ' ';
    out = format_int2(out, number);
    *out++ = '\n';
    markers.commit(out);
  });
}

void convert_histogram(InputFile& profile, OutputFile& plot, OutputFile& markers, const HistogramType& type) {
  read_profile_points(
      profile,
      [&](const unsigned char* bytes) {
        const ProfilePoint point = decode_profile_point(bytes);
        if (!(point.calculated > 0.0f)) return;  // excluded points; also keeps out NaN
        const double x = axis_position(point, type);
        write_plot_line(plot, x, point);
        write_marker_lines(markers, x, point.marker_flags);
      },
      // Stop at the first failed write rather than convert the rest in vain.
      [&] {
        plot.check_written();
        markers.check_written();
      });
}

}  // namespace trov
