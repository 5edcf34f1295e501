// Reads an experiment and its profiles and writes every export file through one OutputSet.
#include "export/export_experiment.h"

#include <filesystem>

#include <nlohmann/json.hpp>

#include "common/fatal.h"
#include "common/output_set.h"
#include "common/utf8.h"
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

// The names of the request's files, with the experiment's types at hand.
ExportPlan plan_with(const ExportRequest& request, std::string_view expnam, const char* experiment_name,
                     const HistogramTable& types) {
  ExportPlan plan;
  plan.experiment = experiment_name;
  const fs::path typed(expnam);
  const fs::path folder = request.folder.empty() ? typed.parent_path() : fs::path(request.folder);
  const std::string base = typed.filename().string();
  plan.summary = (folder / export_summary_name(base)).string();
  const std::vector<int> wanted = histograms_to_export(request, types, experiment_name);
  // An empty file, one of other records or of single-crystal histograms only:
  // said, rather than an export of nothing that looks like success.
  if (wanted.empty()) throw Fatal(std::string(experiment_name) + " lists no powder histogram");
  for (int h : wanted) {
    PlannedHistogram& histogram = plan.histograms.emplace_back();
    histogram.number = h;
    histogram.points_file = (folder / export_points_name(base, h)).string();
    histogram.ticks_file = (folder / export_ticks_name(base, h)).string();
  }
  return plan;
}

}  // namespace

ExportPlan plan_export(const ExportRequest& request) {
  const std::string expnam(cut_experiment_name(request.word));
  NameBuffer experiment_name = file_name(expnam, ".exp");
  InputFile file = open_experiment(experiment_name);
  const HistogramTable types = read_experiment(file, ExperimentRecords::kTypes).types;
  file.close();
  ExportPlan plan = plan_with(request, expnam, experiment_name.data(), types);
  for (PlannedHistogram& histogram : plan.histograms) {
    NameBuffer profile_name = histogram_file_name(expnam, 'p', histogram.number);
    try {
      open_with_uppercase_retry(profile_name, "rb");
      histogram.profile = profile_name.data();
    } catch (const Fatal&) {
      // missing: the plan says so, and the export would say which name it tried
    }
  }
  return plan;
}

std::string export_plan_json(const ExportPlan& plan) {
  using Json = nlohmann::ordered_json;
  Json list = Json::array();
  for (const PlannedHistogram& h : plan.histograms) {
    list.push_back(Json{{"number", h.number},
                        {"profile", h.profile.empty() ? Json(nullptr) : Json(utf8_text(h.profile))},
                        {"points_file", utf8_text(h.points_file)},
                        {"ticks_file", utf8_text(h.ticks_file)}});
  }
  return Json{{"experiment", utf8_text(plan.experiment)}, {"summary", utf8_text(plan.summary)}, {"histograms", list}}
             .dump(2) + "\n";
}

std::vector<std::string> export_experiment(const ExportRequest& request) {
  const std::string expnam(cut_experiment_name(request.word));
  NameBuffer experiment_name = file_name(expnam, ".exp");
  InputFile file = open_experiment(experiment_name);
  const Experiment experiment = read_experiment(file, ExperimentRecords::kAll);
  file.close();
  const ExportPlan plan = plan_with(request, expnam, experiment_name.data(), experiment.types);
  if (const fs::path folder = fs::path(plan.summary).parent_path(); !folder.empty()) {
    std::error_code error;  // a folder that cannot be made fails at the first file
    fs::create_directories(folder, error);
  }
  OutputSet outputs;
  std::vector<std::string> written;
  std::vector<ExportedHistogram> exported;
  for (const PlannedHistogram& planned : plan.histograms) {
    const HistogramInfo& histogram = experiment.histograms[static_cast<std::size_t>(planned.number - 1)];
    // The per-histogram work differs from trov's on purpose: trov writes each
    // histogram's pair of text files in place and keeps the histograms done
    // before a failure, as it always has; an export is binary LF files that
    // appear all together or not at all (OutputSet).
    NameBuffer profile_name = histogram_file_name(expnam, 'p', planned.number);
    InputFile profile = open_with_uppercase_retry(profile_name, "rb");
    OutputFile& points = outputs.create(planned.points_file);
    OutputFile& ticks = outputs.create(planned.ticks_file);
    write_histogram_csv(profile, points, ticks, {&histogram, &experiment.phase_names});
    // Open until the commit, but their blocks are needed no more.
    points.release_buffer();
    ticks.release_buffer();
    points.check_written();
    ticks.check_written();
    written.push_back(points.name());
    written.push_back(ticks.name());
    exported.push_back({&histogram, fs::path(planned.points_file).filename().string(),
                        fs::path(planned.ticks_file).filename().string()});
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
  OutputFile& json = outputs.create(plan.summary);
  json.write(experiment_json(experiment, described));
  written.push_back(json.name());
  outputs.commit();
  return written;
}

}  // namespace trov
