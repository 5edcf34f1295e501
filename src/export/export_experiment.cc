// Reads an experiment and its profiles and writes every export file through one OutputSet.
#include "export/export_experiment.h"

#include <filesystem>

#include "common/fatal.h"
#include "common/output_set.h"
#include "driver/driver.h"
#include "export/experiment_info.h"
#include "export/export_files.h"

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
  HistogramTable types;
  {
    InputFile file = open_experiment(experiment_name);
    types = scan_histogram_types(file);
  }
  InputFile file = open_experiment(experiment_name);
  const ExperimentInfo info = read_experiment_info(file, types);
  file.close();
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
    const HistogramInfo& histogram = info.histograms[static_cast<std::size_t>(h - 1)];
    std::string stem = base;
    stem += {'_', static_cast<char>('0' + h / 10), static_cast<char>('0' + h % 10)};
    const std::string points_name = stem + ".csv";
    const std::string ticks_name = stem + "_ticks.csv";
    NameBuffer profile_name = histogram_file_name(expnam, 'p', h);
    InputFile profile = open_with_uppercase_retry(profile_name, "rb");
    OutputFile& points = outputs.create((folder / points_name).string());
    OutputFile& ticks = outputs.create((folder / ticks_name).string());
    write_histogram_csv(profile, points, ticks, {&histogram, &info.phase_names});
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
  for (const HistogramInfo& histogram : info.histograms) {
    if (!histogram.type.is_powder()) continue;
    described.push_back({&histogram, "", ""});
    for (const ExportedHistogram& e : exported) {
      if (e.histogram == &histogram) described.back() = e;
    }
  }
  OutputFile& json = outputs.create((folder / (base + ".json")).string());
  json.write(experiment_json(info, described));
  written.push_back(json.name());
  outputs.commit();
  return written;
}

}  // namespace trov
