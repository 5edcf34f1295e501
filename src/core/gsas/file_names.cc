// Builds an experiment's file names and finds its input files under the typed, upper-case and mixed names.
#include "gsas/file_names.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/fatal.h"

namespace trov {

namespace {

bool ends_folder_part(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

// Histogram h (1 to 99) as every file name writes it: two digits.
std::string two_digits(int h) { return {static_cast<char>('0' + h / 10 % 10), static_cast<char>('0' + h % 10)}; }

}  // namespace

// GSAS on Windows writes upper-case names, so experiments copied to a
// case-sensitive file system are still found when typed in lower case, in
// whatever folder they lie.
InputFile open_with_uppercase_retry(NameBuffer& path, const char* mode, CodePage code_page, Opening opening,
                                    MissingName missing_name) {
  auto open = [&](const char* name) -> FilePtr {
    if (opening == Opening::kAnyFile) return open_file(name, mode, code_page);
    bool not_regular = false;
    FilePtr file = open_regular_file(name, code_page, not_regular);
    if (not_regular) throw Fatal(std::string("Error reading ") + name + ": not a regular file (a pipe or a device)");
    return file;
  };
  if (FilePtr file = open(path.data())) return InputFile(std::move(file), path.data());
  const NameBuffer typed = path;
  std::size_t file_part = 0;
  for (std::size_t i = 0; i < path.size() && path[i] != '\0'; ++i) {
    if (ends_folder_part(path[i])) file_part = i + 1;
    if (path[i] >= 'a' && path[i] <= 'z') path[i] = static_cast<char>(path[i] - 'a' + 'A');
  }
  if (FilePtr file = open(path.data())) return InputFile(std::move(file), path.data());
  NameBuffer folders_as_typed = typed;
  std::copy(path.begin() + static_cast<std::ptrdiff_t>(file_part), path.end(),
            folders_as_typed.begin() + static_cast<std::ptrdiff_t>(file_part));
  if (file_part > 0) {
    if (FilePtr file = open(folders_as_typed.data())) {
      path = folders_as_typed;
      return InputFile(std::move(file), path.data());
    }
  }
  if (missing_name == MissingName::kUpperCase) throw Fatal(std::string("Error opening ") + path.data());
  const bool folders_differ = std::string_view(path.data(), file_part) != std::string_view(typed.data(), file_part);
  throw Fatal(std::string("Error opening ") + folders_as_typed.data() +
              (folders_differ ? " (its folders also tried in upper case)" : ""));
}

std::string_view cut_experiment_name(std::string_view word) {
  std::size_t component = 0;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (ends_folder_part(word[i])) component = i + 1;
  }
  std::size_t dot = word.find('.', component);
  return dot == std::string_view::npos ? word : word.substr(0, dot);
}

NameBuffer file_name(std::string_view expnam, std::string_view suffix) {
  // Refused rather than cut: a cut name could open a different experiment.
  if (expnam.size() > kMaxExpnamLength) {
    throw Fatal("The experiment name is too long: EXPNAM may have at most " +
                std::to_string(kMaxExpnamLength) + " characters");
  }
  NameBuffer name{};
  std::memcpy(name.data(), expnam.data(), expnam.size());
  std::memcpy(name.data() + expnam.size(), suffix.data(), std::min(suffix.size(), kSuffixLength));
  return name;
}

NameBuffer histogram_file_name(std::string_view expnam, char letter, int h) {
  // The table holds at most 99 histograms, so h always has two digits.
  return file_name(expnam, std::string{'.', letter} + two_digits(h));
}

std::string export_points_name(std::string_view base, int h) { return std::string(base) + "_" + two_digits(h) + ".csv"; }

std::string export_ticks_name(std::string_view base, int h) {
  return std::string(base) + "_" + two_digits(h) + "_ticks.csv";
}

std::string export_summary_name(std::string_view base) { return std::string(base) + ".json"; }
std::string export_cif_name(std::string_view base) { return std::string(base) + ".cif"; }

}  // namespace trov
