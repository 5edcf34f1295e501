// An oracle kept apart on purpose: the whole program written plainly with stdio and printf.
//
// The whole-program benchmark's baseline. It shares only the experiment
// reader with trov, so what it costs is what a straightforward C program costs.
#include <cstdio>
#include <cstring>

#include "gsas/experiment.h"
#include "stdio_baseline.h"

int main() {
  char word[1024];
  std::fputs("Enter EXPNAM: ", stdout);
  if (std::scanf("%1023s", word) != 1) return 1;
  if (char* dot = std::strchr(word, '.')) *dot = '\0';
  char name[1100];
  std::snprintf(name, sizeof name, "%s.exp", word);
  trov::FilePtr file(std::fopen(name, "rb"));
  if (file == nullptr) return 1;
  trov::InputFile experiment(std::move(file), name);
  const trov::HistogramTable table = trov::read_experiment(experiment, trov::ExperimentRecords::kTypes).types;
  for (int h = 1; h <= table.count; ++h) {
    const trov::HistogramType& type = table.entries[static_cast<std::size_t>(h - 1)];
    if (!type.is_powder()) continue;
    char profile_name[1100], plot_name[1100], marker_name[1100];
    std::snprintf(profile_name, sizeof profile_name, "%s.p%.2d", word, h);
    std::snprintf(plot_name, sizeof plot_name, "%s.a%.2d", word, h);
    std::snprintf(marker_name, sizeof marker_name, "%s.b%.2d", word, h);
    std::FILE* profile = std::fopen(profile_name, "rb");
    std::FILE* plot = std::fopen(plot_name, "w");
    std::FILE* markers = std::fopen(marker_name, "w");
    if (!profile || !plot || !markers) return 1;
    trov::bench::stdio_convert(profile, plot, markers, type.axis() == trov::Axis::kTwoTheta);
    std::fclose(plot);
    std::fclose(markers);
    std::fclose(profile);
  }
  return 0;
}
