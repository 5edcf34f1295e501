// Reads an experiment and its profiles and writes every export file through one OutputSet.
#include "export/export_experiment.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <filesystem>
#include <map>
#include <thread>

#include "export/powder_cif.h"
#include "common/fatal.h"
#include "io/output_set.h"
#include "io/file_handle.h"
#include "export/export_files.h"
#include "gsas/experiment.h"
#include "gsas/file_names.h"

namespace trov {

namespace {

namespace fs = std::filesystem;

// Inputs are regular files only: a pipe with no writer would hold the
// program at its open, and a device may never end. The size limit bounds an
// experiment that is a huge file by mistake. A file not found is named with
// its folders as the user gave them.
InputFile open_experiment(NameBuffer& name, CodePage code_page) {
  InputFile file = open_with_uppercase_retry(name, "rb", code_page, Opening::kRegularFileOnly, MissingName::kFoldersAsGiven);
  file.limit_size(kMaxExperimentBytes);
  return file;
}

// A JSON string naming a file: characters as file_name_characters gives
// them, escaped as the rest of the JSON is, and a lone surrogate (a byte that
// is not UTF-8, an unpaired UTF-16 unit) as \uDCxx, which Python's json
// module reads back as os.fsdecode would, so the name leads to the file.
std::string json_file_name(const std::string& path, CodePage code_page) {
  static constexpr std::string_view kHex = "0123456789abcdef";
  auto escape = [](std::string& out, char32_t c) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 15];
  };
  std::string out = "\"";
  for (const char32_t c : file_name_characters(path.c_str(), code_page)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) {
          escape(out, c);
        } else if (c < 0x80) {
          out += static_cast<char>(c);
        } else if (c < 0x800) {
          out += static_cast<char>(0xC0 | (c >> 6));
          out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
          out += static_cast<char>(0xE0 | (c >> 12));
          out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
          out += static_cast<char>(0xF0 | (c >> 18));
          out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
          out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
  }
  return out + "\"";
}

std::vector<int> histograms_to_export(const ExportRequest& request, const HistogramTable& types, const char* name) {
  std::vector<int> wanted;
  for (int h : request.histograms) {
    check_powder_histogram(types, h, name);
    wanted.push_back(h);
  }
  if (request.histograms.empty()) {
    for (int h = 1; h <= types.count; ++h) {
      if (types.entries[static_cast<std::size_t>(h - 1)].is_powder()) wanted.push_back(h);
    }
  }
  return wanted;
}

// One histogram's export: its profile, and its two files of the OutputSet.
struct HistogramJob {
  const HistogramInfo* histogram;
  InputFile profile;
  OutputFile* points;
  OutputFile* ticks;
  std::exception_ptr error;  // what ended it, if anything
  CsvCounts counts;
};

void run_job(HistogramJob& job, const std::map<int, PhaseInfo>& phases, unsigned helpers) {
  try {
    job.counts = write_histogram_csv(job.profile, *job.points, *job.ticks, {job.histogram, &phases}, helpers);
    job.profile.close();
    // Open until the commit, but their blocks are needed no more.
    job.points->release_buffer();
    job.ticks->release_buffer();
    job.points->check_written();
    job.ticks->check_written();
  } catch (...) {
    job.error = std::current_exception();
  }
}

// Histograms are exported side by side, a thread a core, and each job
// writes only its own two files, so the bytes are those of a run one
// histogram at a time; cores left over (fewer histograms than cores, as
// with the single histogram most experiments have) format a histogram's
// rows in chunks beside it. The slowest part, shortest decimals, is spread
// over the machine.
void run_jobs(std::vector<HistogramJob>& jobs, const std::map<int, PhaseInfo>& phases) {
  // A browser page without shared memory has one thread, and so has a build
  // configured with TROV_THREADS=OFF (qemu-i386 starts no second one).
  const std::size_t cores = kExportThreads ? std::min<std::size_t>(std::max(1U, std::thread::hardware_concurrency()), 8) : 1;
  const std::size_t threads = std::min(jobs.size(), cores);
  const auto helpers = static_cast<unsigned>(cores > jobs.size() ? cores / threads - 1 : 0);
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i = next++; i < jobs.size(); i = next++) run_job(jobs[i], phases, helpers);
  };
  if (threads <= 1) {
    work();
    return;
  }
  std::vector<std::thread> workers;
  for (std::size_t t = 1; t < threads; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
}

// The names of the request's files, with the experiment's types at hand.
ExportPlan plan_with(const ExportRequest& request, std::string_view expnam, const char* experiment_name,
                     const HistogramTable& types) {
  ExportPlan plan;
  plan.code_page = request.code_page;
  plan.experiment = experiment_name;
  const CodePage code_page = request.code_page;
  const fs::path typed = native_path(std::string(expnam), code_page);
  const fs::path folder = request.folder.empty() ? typed.parent_path() : native_path(request.folder, code_page);
  const std::string base = path_text(typed.filename(), code_page);
  auto in_folder = [&](const std::string& name) { return path_text(folder / native_path(name, code_page), code_page); };
  plan.summary = in_folder(export_summary_name(base));
  if (request.cif) plan.cif = in_folder(export_cif_name(base));
  const std::vector<int> wanted = histograms_to_export(request, types, experiment_name);
  // An empty file, one of other records or of single-crystal histograms only:
  // said, rather than an export of nothing that looks like success.
  if (wanted.empty()) throw Fatal(std::string(experiment_name) + " lists no powder histogram");
  for (int h : wanted) {
    PlannedHistogram& histogram = plan.histograms.emplace_back();
    histogram.number = h;
    histogram.points_file = in_folder(export_points_name(base, h));
    histogram.ticks_file = in_folder(export_ticks_name(base, h));
  }
  return plan;
}

}  // namespace

FoundExperiment find_experiment(const std::string& word, CodePage code_page) {
  FoundExperiment found;
  found.expnam = cut_experiment_name(word);
  NameBuffer name = file_name(found.expnam, ".exp");
  InputFile file = open_experiment(name, code_page);
  found.experiment = read_experiment(file, ExperimentRecords::kAll);
  found.file = name.data();
  return found;
}

void check_powder_histogram(const HistogramTable& types, long long h, const std::string& file) {
  if (h < 1 || h > types.count) throw Fatal(file + " has no histogram " + std::to_string(h));
  if (!types.entries[static_cast<std::size_t>(h - 1)].is_powder()) {
    throw Fatal("histogram " + std::to_string(h) + " of " + file + " is not a powder histogram");
  }
}

InputFile open_histogram_profile(std::string_view expnam, int h, CodePage code_page) {
  NameBuffer name = histogram_file_name(expnam, 'p', h);
  return open_with_uppercase_retry(name, "rb", code_page, Opening::kRegularFileOnly, MissingName::kFoldersAsGiven);
}

ExportPlan plan_export(const ExportRequest& request) {
  const std::string expnam(cut_experiment_name(request.word));
  NameBuffer experiment_name = file_name(expnam, ".exp");
  InputFile file = open_experiment(experiment_name, request.code_page);
  const HistogramTable types = read_experiment(file, ExperimentRecords::kTypes).types;
  file.close();
  ExportPlan plan = plan_with(request, expnam, experiment_name.data(), types);
  for (PlannedHistogram& histogram : plan.histograms) {
    try {
      histogram.profile = open_histogram_profile(expnam, histogram.number, request.code_page).name();
    } catch (const Fatal&) {
      // Missing, or a pipe or a device: the plan has no profile, and the
      // export says which name it tried and why.
    }
  }
  return plan;
}

std::string export_plan_json(const ExportPlan& plan) {
  // Laid out as the summary is (two spaces an indent); written here rather
  // than by the JSON library, which takes only UTF-8, because a name must
  // lead back to its file whatever its bytes.
  std::string out = "{\n  \"experiment\": " + json_file_name(plan.experiment, plan.code_page) + ",\n  \"summary\": " +
                    json_file_name(plan.summary, plan.code_page) + ",\n";
  if (!plan.cif.empty()) out += "  \"cif\": " + json_file_name(plan.cif, plan.code_page) + ",\n";
  out += "  \"histograms\": [";
  for (std::size_t i = 0; i < plan.histograms.size(); ++i) {
    const PlannedHistogram& h = plan.histograms[i];
    out += i == 0 ? "\n" : ",\n";
    out += "    {\n      \"number\": " + std::to_string(h.number) + ",\n      \"profile\": " +
           (h.profile.empty() ? std::string("null") : json_file_name(h.profile, plan.code_page)) + ",\n      \"points_file\": " +
           json_file_name(h.points_file, plan.code_page) + ",\n      \"ticks_file\": " + json_file_name(h.ticks_file, plan.code_page) + "\n    }";
  }
  out += plan.histograms.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

std::vector<std::string> export_experiment(const ExportRequest& request) {
  const FoundExperiment found = find_experiment(request.word, request.code_page);
  const std::string& expnam = found.expnam;
  const Experiment& experiment = found.experiment;
  const ExportPlan plan = plan_with(request, expnam, found.file.c_str(), experiment.types);
  if (const fs::path folder = native_path(plan.summary, request.code_page).parent_path(); !folder.empty()) {
    std::error_code error;  // a folder that cannot be made fails at the first file
    fs::create_directories(folder, error);
  }
  OutputSet outputs(request.code_page);
  // The per-histogram work differs from trov's on purpose: trov writes each
  // histogram's pair of text files in place and keeps the histograms done
  // before a failure, as it always has; an export is binary LF files that
  // appear all together or not at all (OutputSet). Every file is opened first,
  // in histogram order, so that a missing profile or an output in the way is
  // reported as a run one histogram at a time would report it.
  std::vector<HistogramJob> jobs;
  for (const PlannedHistogram& planned : plan.histograms) {
    InputFile profile = open_histogram_profile(expnam, planned.number, request.code_page);
    OutputFile& points = outputs.create(planned.points_file);
    OutputFile& ticks = outputs.create(planned.ticks_file);
    jobs.push_back({&experiment.histograms[static_cast<std::size_t>(planned.number - 1)], std::move(profile), &points,
                    &ticks, nullptr, {}});
  }
  run_jobs(jobs, experiment.phases);
  std::vector<std::string> written;
  std::vector<ExportedHistogram> exported;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (jobs[i].error) std::rethrow_exception(jobs[i].error);  // the first in histogram order
    written.push_back(jobs[i].points->name());
    written.push_back(jobs[i].ticks->name());
    auto file_part = [&](const std::string& path) {
      return path_text(native_path(path, request.code_page).filename(), request.code_page);
    };
    exported.push_back({jobs[i].histogram, file_part(plan.histograms[i].points_file),
                        file_part(plan.histograms[i].ticks_file), jobs[i].counts});
  }
  // The summary describes every powder histogram, exported this time or not.
  std::vector<ExportedHistogram> described;
  for (const HistogramInfo& histogram : experiment.histograms) {
    if (!histogram.type.is_powder()) continue;
    described.push_back({&histogram, "", "", {}});
    for (const ExportedHistogram& e : exported) {
      if (e.histogram == &histogram) described.back() = e;
    }
  }
  if (request.cif) {
    // After the CSV files, which have shown every profile readable; the
    // writer reads each profile again, from its start.
    std::vector<CifHistogram> histograms;
    for (const HistogramJob& job : jobs) {
      const int h = job.histogram->number;
      histograms.push_back({job.histogram, [&expnam, h, &request] {
                              return open_histogram_profile(expnam, h, request.code_page);
                            }});
    }
    OutputFile& cif = outputs.create(plan.cif);
    const std::string base = path_text(native_path(expnam, request.code_page).filename(), request.code_page);
    write_powder_cif(cif, experiment, histograms, base);
    cif.check_written();
    written.push_back(cif.name());
  }
  OutputFile& json = outputs.create(plan.summary);
  json.write(experiment_json(experiment, described));
  written.push_back(json.name());
  outputs.commit();
  return written;
}

}  // namespace trov
