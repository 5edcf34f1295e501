// trov-export's three files: a CSV per histogram, a CSV of its ticks, and the experiment's JSON summary.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/input_file.h"
#include "io/output_file.h"
#include "gsas/d_spacing.h"
#include "gsas/experiment.h"
#include "gsas/profile.h"

namespace trov {

// A point as trov-export reports it (docs/formats.md gives each value's
// rule): the CSV files write these, the browser edition draws them.
struct ExportPoint {
  double x = 0;                   // 2-theta in degrees (stored centidegrees / 100), else the stored position
  std::optional<double> d;        // where the constants give one
  double observed = 0, calculated = 0, difference = 0;  // times the scale
  std::optional<double> sigma, delta_sigma;             // where the weight is positive and finite
  float scale = 0, auxiliary = 0;
  float weight = 0;               // the word after auxiliary: 1/sigma^2 of the unscaled counts
  bool fitted = false;            // calculated > 0: the points trov converts
  std::int32_t marker_flags = 0;
};
ExportPoint export_point(const unsigned char* bytes, const HistogramType& type, const DSpacing& spacing);

// Calls visit(ExportPoint) for every point trov-export reports, in file
// order: the zero points (flags and the five values all zero) that pad the
// last block out give none, unless a real point follows them. after_read()
// as read_profile_points() calls it.
template <typename Visit, typename AfterRead>
void read_export_points(InputFile& profile, const HistogramInfo& histogram, Visit&& visit, AfterRead&& after_read) {
  const DSpacing spacing(histogram);
  std::size_t pending_padding = 0;
  read_profile_points(
      profile,
      [&](const unsigned char* bytes) {
        bool padding = true;
        for (std::size_t i = 0; i < 6 * kWordSize && padding; ++i) padding = bytes[i] == 0;
        if (padding) {
          ++pending_padding;
          return;
        }
        static constexpr std::array<unsigned char, kProfilePointSize> kZero{};
        for (; pending_padding > 0; --pending_padding) visit(export_point(kZero.data(), histogram.type, spacing));
        visit(export_point(bytes, histogram.type, spacing));
      },
      after_read);
}

// Writes a histogram's points CSV and ticks CSV (docs/formats.md describes
// their columns and number forms) from the profile's start to its end.
struct HistogramExport {
  const HistogramInfo* histogram;
  const std::map<int, PhaseInfo>* phases;  // for the phases' names
};
// The rows below each header, and each file's whole size in bytes.
struct CsvCounts {
  std::uint64_t points_rows = 0, points_bytes = 0, ticks_rows = 0, ticks_bytes = 0;
};
// Whether this build starts threads: not one configured single-threaded
// (TROV_THREADS=OFF), nor WebAssembly without shared memory (a browser page).
#if defined(TROV_SINGLE_THREADED) || (defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__))
inline constexpr bool kExportThreads = false;
#else
inline constexpr bool kExportThreads = true;
#endif

// helpers: threads that format the rows, a chunk of the profile at a time,
// while this one reads and writes (the same bytes); 0, this thread alone.
CsvCounts write_histogram_csv(InputFile& profile, OutputFile& points, OutputFile& ticks, const HistogramExport& what,
                              unsigned helpers = 0);

// A CSV field in UTF-8, quoted when it holds a comma, a quote or a line end;
// a number as the CSV files write it (the shortest digits, nan, inf, -inf).
std::string csv_field(std::string_view bytes);
std::string csv_number(double value);

// The experiment's JSON summary (docs/formats.md lists its keys), describing
// the histograms given, with the names of their CSV files where exported.
struct ExportedHistogram {
  const HistogramInfo* histogram;
  std::string points_file, ticks_file;  // empty: not exported this time
  CsvCounts counts;
};
std::string experiment_json(const Experiment& info, const std::vector<ExportedHistogram>& histograms);

}  // namespace trov
