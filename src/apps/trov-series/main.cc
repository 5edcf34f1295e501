// trov-series: a series of refinements in one table, from their experiment files alone.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "common/version.h"
#include "series/series_table.h"

namespace {

using trov::UsageError;

constexpr const char* kUsage =
    "usage: trov-series [-o NAME] [--sort] [--x REGEX] [--x-name NAME] EXPNAM...\n"
    "\n"
    "Writes series.csv, one row per experiment: its title, the series variable\n"
    "x, each phase's cell (a, b, c, alpha, beta, gamma, V, each followed by its\n"
    "s.u.) and its fraction in each histogram, each powder histogram's wRp, Rp\n"
    "and chi2, the reduced chi2, the number of variables and the date of the\n"
    "last least-squares run; and series.json beside it, the same in structured\n"
    "form (the trov-series man page and docs/formats.md list the columns). Only\n"
    "the experiment files are read. An EXPNAM is found as trov-export finds it;\n"
    "a folder stands for the experiment files in it.\n"
    "\n"
    "  -o, --output NAME  write NAME (and NAME's .json) instead of series.csv\n"
    "  --sort             rows in natural order of the names (run2 before run10),\n"
    "                     not in the order given\n"
    "  --x REGEX          x from the first match in the title, else in a\n"
    "                     histogram's name: group 1 the number, group 2 its unit,\n"
    "                     e.g. '(\\d+(?:\\.\\d+)?) ?(K|°C|h|min|GPa)'; without it,\n"
    "                     x is the step (1, 2, ...)\n"
    "  --x-name NAME      the name of x in the header (x, or step)\n"
    "  -h, --help         show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0; 1 when an experiment was left out or a value could not be\n"
    "read (one line each says which), or a file cannot be written; 2 for a\n"
    "mistake on the command line.\n";

struct Options {
  trov::SeriesRequest request;
  std::string output = "series.csv";
  bool help = false, version = false;
};

Options parse(const std::vector<std::string>& words) {
  Options options;
  options.request.code_page = trov::kWordsCodePage;
  const std::size_t argc = words.size();
  bool only_names = false;  // after "--"
  for (std::size_t i = 1; i < argc; ++i) {
    const std::string_view arg = words[i];
    auto value = [&](std::string_view name) -> std::string {
      if (i + 1 >= argc) throw UsageError{std::string(name) + " needs a value"};
      return words[++i];
    };
    if (only_names || arg.empty() || arg[0] != '-' || arg == "-") {
      options.request.words.emplace_back(arg);
    } else if (arg == "--") {
      only_names = true;
    } else if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--sort") {
      options.request.sort = true;
    } else if (arg == "-o" || arg == "--output") {
      options.output = value(arg);
    } else if (arg == "--x") {
      options.request.x_pattern = value(arg);
    } else if (arg == "--x-name") {
      options.request.x_name = value(arg);
    } else {
      throw UsageError{"unknown option " + std::string(arg)};
    }
  }
  if (options.help || options.version) return options;
  if (options.request.words.empty()) throw UsageError{"EXPNAM is missing"};
  if (options.output.empty()) throw UsageError{"-o needs a file name"};
  if (!options.request.x_pattern.empty() && !trov::is_x_pattern(options.request.x_pattern)) {
    throw UsageError{"--x: '" + options.request.x_pattern + "' is not a regular expression"};
  }
  return options;
}

int series_main(const std::vector<std::string>& words) {
  const Options options = parse(words);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("trov-series %s\n", std::string(trov::kVersion).c_str());
    return 0;
  }
  const trov::SeriesWritten written = trov::write_series(options.request, options.output);
  for (const std::string& problem : written.problems) {
    std::fprintf(stderr, "trov-series: %s\n", trov::one_line(problem).c_str());
  }
  std::printf("%s\n%s\n", options.output.c_str(), written.json.c_str());
  return written.problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) { return trov::reported_main("trov-series", "run", series_main, argc, argv); }
