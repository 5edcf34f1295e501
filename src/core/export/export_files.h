// trov-export's three files: a CSV per histogram, a CSV of its ticks, and the experiment's JSON summary.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/input_file.h"
#include "common/output_file.h"
#include "gsas/experiment.h"

namespace trov {

// Writes a histogram's points CSV and ticks CSV (docs/formats.md describes
// their columns and number forms) from the profile's start to its end.
struct HistogramExport {
  const HistogramInfo* histogram;
  const std::map<int, std::string>* phase_names;
};
void write_histogram_csv(InputFile& profile, OutputFile& points, OutputFile& ticks, const HistogramExport& what);

// The experiment's JSON summary (docs/formats.md lists its keys), describing
// the histograms given, with the names of their CSV files where exported.
struct ExportedHistogram {
  const HistogramInfo* histogram;
  std::string points_file, ticks_file;  // empty: not exported this time
};
std::string experiment_json(const Experiment& info, const std::vector<ExportedHistogram>& histograms);

}  // namespace trov
