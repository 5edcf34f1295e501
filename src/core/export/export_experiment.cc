// Reads an experiment and its profiles and writes every export file through one OutputSet.
#include "export/export_experiment.h"

#include <filesystem>

#include "common/fatal.h"
#include "common/output_set.h"
#include "export/export_files.h"
#include "gsas/experiment.h"
#include "gsas/file_names.h"

namespace trov {

namespace {

namespace fs = std::filesystem;

InputFile open_experiment(NameBuffer& name) {
  InputFile file = open_with_uppercase_retry(name, "rb");
  file.limit_size(kMaxExperimentBytes);
  return file;
}

std::vector<int> histograms_to_export(const ExportRequest& request, const HistogramTable& types, const char* name) {
  std::vector<int> wanted;
  for (int h : request.histograms) {
    if (h > types.count) throw Fatal(std::string(name) + " has no histogram " + std::to_string(h));
    if (!types.entries[static_cast<std::size_t>(h - 1)].is_powder()) {
      throw Fatal("histogram " + std::to_string(h) + " of " + name + " is not a powder histogram");
    }
    wanted.push_back(h);
  }
  if (request.histograms.empty()) {
    for (int h = 1; h <= types.count; ++h) {
      if (types.entries[static_cast<std::size_t>(h - 1)].is_powder()) wanted.push_back(h);
    }
  }
  return wanted;
}

}  // namespace

std::vector<std::string> export_experiment(const ExportRequest& request) {
  const std::string expnam(cut_experiment_name(request.word));
  NameBuffer experiment_name = file_name(expnam, ".exp");
  InputFile file = open_experiment(experiment_name);
  const Experiment experiment = read_experiment(file, ExperimentRecords::kAll);
  file.close();
  const HistogramTable& types = experiment.types;
  const std::vector<int> wanted = histograms_to_export(request, types, experiment_name.data());

  const fs::path typed(expnam);
  const fs::path folder = request.folder.empty() ? typed.parent_path() : fs::path(request.folder);
  if (!folder.empty()) {
    std::error_code error;  // a folder that cannot be made fails at the first file
    fs::create_directories(folder, error);
  }
  const std::string base = typed.filename().string();
  OutputSet outputs;
  std::vector<std::string> written;
  std::vector<ExportedHistogram> exported;
  for (int h : wanted) {
    const HistogramInfo& histogram = experiment.histograms[static_cast<std::size_t>(h - 1)];
    const std::string points_name = export_points_name(base, h);
    const std::string ticks_name = export_ticks_name(base, h);
    // The per-histogram work differs from trov's on purpose: trov writes each
    // histogram's pair of text files in place and keeps the histograms done
    // before a failure, as it always has; an export is binary LF files that
    // appear all together or not at all (OutputSet).
    NameBuffer profile_name = histogram_file_name(expnam, 'p', h);
    InputFile profile = open_with_uppercase_retry(profile_name, "rb");
    OutputFile& points = outputs.create((folder / points_name).string());
    OutputFile& ticks = outputs.create((folder / ticks_name).string());
    write_histogram_csv(profile, points, ticks, {&histogram, &experiment.phase_names});
    // Open until the commit, but their blocks are needed no more.
    points.release_buffer();
    ticks.release_buffer();
    points.check_written();
    ticks.check_written();
    written.push_back(points.name());
    written.push_back(ticks.name());
    exported.push_back({&histogram, points_name, ticks_name});
  }
  // The summary describes every powder histogram, exported this time or not.
  std::vector<ExportedHistogram> described;
  for (const HistogramInfo& histogram : experiment.histograms) {
    if (!histogram.type.is_powder()) continue;
    described.push_back({&histogram, "", ""});
    for (const ExportedHistogram& e : exported) {
      if (e.histogram == &histogram) described.back() = e;
    }
  }
  OutputFile& json = outputs.create((folder / export_summary_name(base)).string());
  json.write(experiment_json(experiment, described));
  written.push_back(json.name());
  outputs.commit();
  return written;
}

}  // namespace trov
