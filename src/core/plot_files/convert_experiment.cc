// Converts every powder histogram of an experiment into its plot and marker files, one histogram after the other.
#include "plot_files/convert_experiment.h"

#include <string>

#include "common/fatal.h"
#include "io/file_handle.h"
#include "io/input_file.h"
#include "io/output_file.h"
#include "gsas/experiment.h"
#include "gsas/file_names.h"
#include "plot_files/conversion.h"

namespace trov {

namespace {

OutputFile open_output(const NameBuffer& path, CodePage code_page) {
  FilePtr file = open_file(path.data(), "w", code_page);
  if (!file) throw Fatal(std::string("Error opening ") + path.data());
  return OutputFile(std::move(file), path.data());
}

void convert_powder_histogram(std::string_view expnam, CodePage code_page, int h, const HistogramType& type) {
  // Names are built afresh for each histogram, so an upper-cased profile name
  // never carries over to the next one, and outputs keep the typed case.
  NameBuffer profile_name = histogram_file_name(expnam, 'p', h);
  InputFile profile = open_with_uppercase_retry(profile_name, "rb", code_page);
  OutputFile plot = open_output(histogram_file_name(expnam, 'a', h), code_page);
  OutputFile markers = open_output(histogram_file_name(expnam, 'b', h), code_page);
  try {
    convert_histogram(profile, plot, markers, type);
    plot.close();
    markers.close();
  } catch (const Fatal&) {
    // A file cut short by a full disk would read as complete: when writing
    // fails, neither file of this histogram is left behind. (After a read
    // error the lines converted so far stay, as the message says which file
    // was short.)
    if (plot.failed() || markers.failed()) {
      plot.discard();
      markers.discard();
      remove_file(plot.name().c_str(), code_page);
      remove_file(markers.name().c_str(), code_page);
    }
    throw;
  }
  profile.close();
}

}  // namespace

void convert_experiment(std::string_view expnam, CodePage code_page, const std::set<int>& only) {
  NameBuffer experiment_name = file_name(expnam, ".exp");
  // Read as bytes on every platform, so that CR LF line ends reach the record
  // reader unchanged and every platform builds the same table.
  InputFile experiment = open_with_uppercase_retry(experiment_name, "rb", code_page);
  const HistogramTable table = read_experiment(experiment, ExperimentRecords::kTypes).types;
  for (int h = 1; h <= table.count; ++h) {
    const HistogramType& type = table.entries[static_cast<std::size_t>(h - 1)];
    if (type.is_powder() && (only.empty() || only.contains(h))) convert_powder_histogram(expnam, code_page, h, type);
  }
  experiment.close();
}

}  // namespace trov
