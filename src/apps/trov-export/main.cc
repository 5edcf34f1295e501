// trov-export: every value of an experiment's powder histograms at full precision, as CSV and JSON.
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "io/file_handle.h"
#include "common/version.h"
#include "export/export_experiment.h"

namespace {

using trov::UsageError;
using trov::kWordsCodePage;

constexpr const char* kUsage =
    "usage: trov-export [-o DIR] [--histogram N]... [--cif] [--list] EXPNAM\n"
    "\n"
    "Writes, for each powder histogram HH of the experiment EXPNAM (all of them\n"
    "unless --histogram names some), EXPNAM_HH.csv with every point and\n"
    "EXPNAM_HH_ticks.csv with its reflection ticks, and EXPNAM.json with the\n"
    "names, instrument constants and statistics, every value at full precision\n"
    "(the trov-export man page and docs/formats.md list the columns). EXPNAM is\n"
    "found as trov finds it; the files go beside the experiment, or into DIR,\n"
    "and replace an earlier export only when all are written.\n"
    "\n"
    "  -o, --output DIR   write the files into DIR (made if missing)\n"
    "  --histogram N      export histogram N only (repeatable)\n"
    "  --cif              also write EXPNAM.cif, the refinement as a powder CIF\n"
    "                     (phases, cells, atoms; each histogram's profile)\n"
    "  --list             write nothing; print, as JSON, the experiment and\n"
    "                     profile files found and the files an export writes\n"
    "  -h, --help         show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0, 1 for a file that cannot be read or written, 2 for a\n"
    "mistake on the command line.\n";

struct Options {
  std::string output;
  std::set<int> histograms;
  std::string word;
  bool help = false, version = false, list = false, cif = false;
};

Options parse(const std::vector<std::string>& words) {
  Options options;
  bool have_word = false;
  const std::size_t argc = words.size();
  for (std::size_t i = 1; i < argc; ++i) {
    const std::string_view arg = words[i];
    auto value = [&](std::string_view name) -> std::string {
      if (i + 1 >= argc) throw UsageError{std::string(name) + " needs a value"};
      return words[++i];
    };
    if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--list") {
      options.list = true;
    } else if (arg == "--cif") {
      options.cif = true;
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

int export_main(const std::vector<std::string>& words) {
  const Options options = parse(words);
  if (options.help) {
    std::fputs(kUsage, stdout);
  } else if (options.version) {
    std::printf("trov-export %s\n", std::string(trov::kVersion).c_str());
  } else if (options.list) {
    std::fputs(trov::export_plan_json(trov::plan_export({options.word, options.output, options.histograms, kWordsCodePage, options.cif})).c_str(),
               stdout);
  } else {
    for (const std::string& name : trov::export_experiment({options.word, options.output, options.histograms, kWordsCodePage, options.cif})) {
      std::printf("%s\n", name.c_str());
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return trov::reported_main("trov-export", "export", export_main, argc, argv); }
