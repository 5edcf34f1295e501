// The powder CIF of a refinement: an overall block, a block per phase, and a block per powder histogram with its profile.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "io/input_file.h"
#include "io/output_file.h"
#include "gsas/experiment.h"

namespace trov {

// A histogram to describe, and how to open its profile from the start: the
// profile is read twice, once to learn what its loop needs (which columns,
// the points left out of the fit), once to write it.
struct CifHistogram {
  const HistogramInfo* histogram;
  std::function<InputFile()> open_profile;
};

// Writes the CIF (docs/formats.md says which record feeds which data name).
// Block codes begin with experiment_name, cut to what a block code allows.
// Every value is written as the CSV writes it, or as "?" where CIF or the
// dictionaries cannot hold it; what the experiment lacks is left out. Throws
// Fatal where a profile cannot be read, or changed between its two readings.
void write_powder_cif(OutputFile& out, const Experiment& experiment, const std::vector<CifHistogram>& histograms,
                      std::string_view experiment_name);

}  // namespace trov
