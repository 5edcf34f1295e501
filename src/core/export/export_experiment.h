// One export of an experiment: its powder histograms' CSV files and its JSON summary, all or nothing.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace trov {

struct ExportRequest {
  std::string word;          // the experiment as typed: EXPNAM, with folders or an extension if need be
  std::string folder;        // where the files go; empty: beside the experiment
  std::set<int> histograms;  // empty: every powder histogram
};

// Real experiment files are a few MB at most; more is a device or a pipe that
// never ends, and is refused.
inline constexpr std::uint64_t kMaxExperimentBytes = std::uint64_t{256} << 20;

// Writes the files of the request (docs/formats.md describes them) and
// returns their names, the summary last. The files appear together or not at
// all: a run that fails leaves those of an earlier run as they were, and no
// other file. Throws Fatal with the one-line message for the user.
std::vector<std::string> export_experiment(const ExportRequest& request);

}  // namespace trov
