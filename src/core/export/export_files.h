// trov-export's three files: a CSV per histogram, a CSV of its ticks, and the experiment's JSON summary.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/input_file.h"
#include "common/output_file.h"
#include "gsas/experiment.h"

namespace trov {

// EXPNAM_HH.csv (RFC 4180, LF line ends): a header row of names with units,
// then a row for every point of the profile, the excluded ones included
// (fitted 0). Columns: position (2theta in degrees, TOF in microseconds,
// energy in keV, as trov writes column 1), d and Q where the histogram's
// constants allow (empty where a point has none), observed, calculated and
// difference (each times scale, as trov), sigma (scale / sqrt(weight), the
// weight being the word after the point's auxiliary value, 1/sigma^2 of the
// observed counts; empty where it is not positive), difference/sigma
// ((observed - calculated) * sqrt(weight)), scale, auxiliary, fitted (1 where
// calculated > 0: the points trov converts). Numbers are the shortest decimal
// that reads back to the same float or double; nan, inf and -inf as such.
// The zero points that pad the last block out are not rows.
//
// EXPNAM_HH_ticks.csv: position, d (where known), marker number and phase
// name, a row per tick mark of the fitted points, in the order of trov's
// marker file.
struct HistogramExport {
  const HistogramInfo* histogram;
  const std::map<int, std::string>* phase_names;
};
void write_histogram_csv(InputFile& profile, OutputFile& points, OutputFile& ticks, const HistogramExport& what);

// EXPNAM.json: the title, the reduced chi^2 and the variables, the phase
// names by marker number, and for each histogram given its number, type,
// name, constants, range, statistics, reflections and the names of its CSV
// files (none when they were not written). A value the experiment lacks is absent.
struct ExportedHistogram {
  const HistogramInfo* histogram;
  std::string points_file, ticks_file;  // empty: not exported this time
};
std::string experiment_json(const Experiment& info, const std::vector<ExportedHistogram>& histograms);

}  // namespace trov
