// trov-export: every value of an experiment's powder histograms at full precision, as CSV and JSON.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/fatal.h"
#include "common/file_handle.h"
#include "common/output_file.h"
#include "driver/driver.h"
#include "export/experiment_info.h"
#include "export/export_files.h"

namespace {

namespace fs = std::filesystem;
using trov::Fatal;

constexpr const char* kUsage =
    "usage: trov-export [-o DIR] [--histogram N]... EXPNAM\n"
    "\n"
    "Writes, for each powder histogram HH of the experiment EXPNAM (all of them\n"
    "unless --histogram names some), EXPNAM_HH.csv (every point: position, d, Q,\n"
    "observed, calculated, difference, sigma, difference/sigma, scale, auxiliary,\n"
    "fitted) and EXPNAM_HH_ticks.csv (position, d, marker number, phase), and\n"
    "EXPNAM.json (title, names, instrument constants, ranges, R-factors), every\n"
    "value at full precision. EXPNAM is found as trov finds it; the files go\n"
    "beside the experiment, or into DIR.\n"
    "\n"
    "  -o, --output DIR   write the files into DIR (made if missing)\n"
    "  --histogram N      export histogram N only (repeatable)\n"
    "  -h, --help         show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0, 1 for a file that cannot be read or written, 2 for a\n"
    "mistake on the command line.\n";

// A mistake on the command line: status 2.
struct UsageError {
  std::string message;
};

struct Options {
  std::string output;
  std::set<int> histograms;
  std::string word;
  bool help = false, version = false;
};

Options parse(int argc, char** argv) {
  Options options;
  bool have_word = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string_view name) -> std::string {
      if (i + 1 >= argc) throw UsageError{std::string(name) + " needs a value"};
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "-o" || arg == "--output") {
      options.output = value(arg);
    } else if (arg.rfind("--output=", 0) == 0) {
      options.output = std::string(arg.substr(9));
    } else if (arg == "--histogram" || arg.rfind("--histogram=", 0) == 0) {
      const std::string text = arg == "--histogram" ? value(arg) : std::string(arg.substr(12));
      if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(text) < 1) {
        throw UsageError{"'" + text + "' is not a histogram number (1 to 99)"};
      }
      options.histograms.insert(std::stoi(text));
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{"unknown option " + std::string(arg)};
    } else if (have_word) {
      throw UsageError{"one EXPNAM only, not also " + std::string(arg)};
    } else {
      options.word = arg;
      have_word = true;
    }
  }
  if (!have_word && !options.help && !options.version) throw UsageError{"EXPNAM is missing"};
  return options;
}

trov::OutputFile create(const fs::path& path) {
  trov::FilePtr file = trov::open_file(path.string().c_str(), "wb");
  if (!file) throw Fatal("Error opening " + path.string());
  return trov::OutputFile(std::move(file), path.string());
}

void write_text_file(const fs::path& path, const std::string& text) {
  trov::OutputFile file = create(path);
  file.commit(std::copy(text.begin(), text.end(), file.reserve(text.size())));
  file.close();
}

void run(const Options& options) {
  const std::string expnam(trov::cut_experiment_name(options.word));
  trov::NameBuffer experiment_name = trov::file_name(expnam, ".exp");
  trov::HistogramTable types;
  {
    trov::InputFile file = trov::open_with_uppercase_retry(experiment_name, "rb");
    types = trov::scan_histogram_types(file);
  }
  trov::InputFile file = trov::open_with_uppercase_retry(experiment_name, "rb");
  const trov::ExperimentInfo info = trov::read_experiment_info(file, types);
  file.close();

  std::vector<int> wanted;
  for (int h : options.histograms) {
    if (h > types.count) {
      throw Fatal(std::string(experiment_name.data()) + " has no histogram " + std::to_string(h));
    }
    if (!types.entries[static_cast<std::size_t>(h - 1)].is_powder()) {
      throw Fatal("histogram " + std::to_string(h) + " of " + experiment_name.data() + " is not a powder histogram");
    }
    wanted.push_back(h);
  }
  if (options.histograms.empty()) {
    for (int h = 1; h <= types.count; ++h) {
      if (types.entries[static_cast<std::size_t>(h - 1)].is_powder()) wanted.push_back(h);
    }
  }

  const fs::path typed(expnam);
  const fs::path folder = options.output.empty() ? typed.parent_path() : fs::path(options.output);
  if (!folder.empty()) {
    std::error_code error;
    fs::create_directories(folder, error);
  }
  const std::string base = typed.filename().string();
  std::vector<trov::ExportedHistogram> exported;
  for (int h : wanted) {
    const trov::HistogramInfo& histogram = info.histograms[static_cast<std::size_t>(h - 1)];
    std::string stem = base;
    stem += {'_', static_cast<char>('0' + h / 10), static_cast<char>('0' + h % 10)};
    const std::string points_name = stem + ".csv";
    const std::string ticks_name = stem + "_ticks.csv";
    trov::NameBuffer profile_name = trov::histogram_file_name(expnam, 'p', h);
    trov::InputFile profile = trov::open_with_uppercase_retry(profile_name, "rb");
    trov::OutputFile points = create(folder / points_name);
    trov::OutputFile ticks = create(folder / ticks_name);
    try {
      trov::write_histogram_csv(profile, points, ticks, {&histogram, &info.phase_names});
      points.close();
      ticks.close();
    } catch (const Fatal&) {
      // No file cut short is left to be read as complete.
      points.discard();
      ticks.discard();
      trov::remove_file(points.name().c_str());
      trov::remove_file(ticks.name().c_str());
      throw;
    }
    std::printf("%s\n%s\n", points.name().c_str(), ticks.name().c_str());
    exported.push_back({&histogram, points_name, ticks_name});
  }
  // The summary describes every powder histogram, exported this time or not.
  std::vector<trov::ExportedHistogram> described;
  for (const trov::HistogramInfo& histogram : info.histograms) {
    if (!histogram.type.is_powder()) continue;
    described.push_back({&histogram, "", ""});
    for (const trov::ExportedHistogram& e : exported) {
      if (e.histogram == &histogram) described.back() = e;
    }
  }
  const fs::path json = folder / (base + ".json");
  write_text_file(json, trov::experiment_json(info, described));
  std::printf("%s\n", json.string().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parse(argc, argv);
    if (options.help) {
      std::fputs(kUsage, stdout);
    } else if (options.version) {
      std::printf("trov-export %s\n", TROV_VERSION);
    } else {
      run(options);
    }
    return 0;
  } catch (const UsageError& error) {
    std::fprintf(stderr, "trov-export: %s (trov-export --help tells how to use it)\n", error.message.c_str());
    return 2;
  } catch (const Fatal& error) {
    std::fprintf(stderr, "trov-export: %s\n", error.what());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "trov-export: %s\n", error.what());
  }
  return 1;
}
