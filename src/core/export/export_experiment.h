// One export of an experiment: its powder histograms' CSV files and its JSON summary, all or nothing.
#pragma once

#include <cstdint>
#include <set>
#include <string_view>
#include <string>
#include <vector>

#include "io/file_handle.h"
#include "io/input_file.h"
#include "gsas/experiment.h"

namespace trov {

struct ExportRequest {
  std::string word;          // the experiment as typed: EXPNAM, with folders or an extension if need be
  std::string folder;        // where the files go; empty: beside the experiment
  std::set<int> histograms;  // empty: every powder histogram
  CodePage code_page;        // of the names' bytes (file_handle.h): the command line's
  bool cif;                  // also the powder CIF of the refinement, EXPNAM.cif
};

// Real experiment files are a few MB at most; more is a device or a pipe that
// never ends, and is refused.
inline constexpr std::uint64_t kMaxExperimentBytes = std::uint64_t{256} << 20;

// The experiment as trov-export finds and reads it: the word cut to EXPNAM,
// EXPNAM.EXP found by the three tries (a regular file of at most
// kMaxExperimentBytes), every record read. Throws Fatal with the one-line
// message for the user.
struct FoundExperiment {
  std::string expnam;  // the word without its extension, folders kept
  std::string file;    // the experiment file found
  Experiment experiment;
};
FoundExperiment find_experiment(const std::string& word, CodePage code_page);

// Throws Fatal unless h is a powder histogram of the table (file: the
// experiment file, which the message names).
void check_powder_histogram(const HistogramTable& types, long long h, const std::string& file);

// Opens histogram h's profile, EXPNAM.P##, found by the three tries (a
// regular file only); throws Fatal naming the name tried when none opens.
InputFile open_histogram_profile(std::string_view expnam, int h, CodePage code_page);

// The files of an export, as found and as they would be written: what
// trov-plot asks for (trov-export --list) instead of knowing the rules.
struct PlannedHistogram {
  int number = 0;
  std::string profile;  // the profile file found by the three tries; empty when none was (or not a regular file)
  std::string points_file, ticks_file;
};
struct ExportPlan {
  CodePage code_page = kAnsiCodePage;  // of every name here
  std::string experiment;  // the experiment file found
  std::string summary;
  std::string cif;  // empty unless asked for
  std::vector<PlannedHistogram> histograms;  // those of the request, in order
};
// Reads only the experiment's type table; opens each profile to find it.
// Throws Fatal as export_experiment does, except for a missing profile.
ExportPlan plan_export(const ExportRequest& request);
// The plan as JSON text: {"experiment", "summary", "cif" (when asked for),
// "histograms": [{"number", "profile" (null when missing), "points_file",
// "ticks_file"}]}; each name
// leads back to its file whatever its bytes (docs/formats.md tells how).
std::string export_plan_json(const ExportPlan& plan);

// Writes the files of the request (docs/formats.md describes them) and
// returns their names, the summary last. The files appear together or not at
// all: a run that fails leaves those of an earlier run as they were, and no
// other file. Throws Fatal with the one-line message for the user.
std::vector<std::string> export_experiment(const ExportRequest& request);

}  // namespace trov
