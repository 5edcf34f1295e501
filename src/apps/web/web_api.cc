// The browser edition's entry points: the core run on files the page put into Emscripten's memory file system.
//
// The page writes the dropped experiment and profile files into the module's
// file system, calls one of these with the experiment's name, reads the files
// written back, and shows trov_web_text() when a call returns 1. Calls come
// one at a time from the page's one thread.
#include <emscripten/emscripten.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/fatal.h"
#include "export/export_experiment.h"
#include "export/export_files.h"
#include "gsas/file_names.h"
#include "plot_files/convert_experiment.h"
#include "series/series_table.h"

namespace {

// "1 3": the histograms of a call; none, every powder histogram.
std::set<int> histogram_set(const char* list) {
  std::set<int> numbers;
  std::istringstream in(list);
  for (int h = 0; in >> h;) numbers.insert(h);
  return numbers;
}

// A histogram's points for the figure, as trov-export reports them. The page
// reads the columns through the view at the start (4-byte fields: counts and
// wasm32 addresses; an absent d column is address 0), by the names
// trov_web_point_fields() lists in order, then frees the whole.
struct PointColumns {
  std::uint32_t count;
  const double *x, *d, *q, *observed, *calculated, *difference;
  const double* background;  // auxiliary times scale; 0 where every auxiliary word is zero
  const double* delta_sigma;  // (observed - calculated) / sigma, NaN where the weight gives no sigma
  const std::uint8_t* fitted;
  std::uint32_t tick_count;
  const double *tick_x, *tick_d;
  const std::int32_t* tick_marker;
  const std::uint8_t* tick_fitted;
};
constexpr const char* kPointFields =
    "count x d q observed calculated difference background delta_sigma fitted tick_count tick_x tick_d tick_marker "
    "tick_fitted";
static_assert(sizeof(PointColumns) == 15 * 4, "15 fields of 4 bytes, as kPointFields names them");
static_assert(offsetof(PointColumns, x) == 4 && offsetof(PointColumns, fitted) == 9 * 4 &&
                  offsetof(PointColumns, tick_count) == 10 * 4 && offsetof(PointColumns, tick_fitted) == 14 * 4,
              "the fields in kPointFields' order");
struct FigurePoints {
  PointColumns view{};  // first: the handle the page holds is its address
  std::vector<double> x, d, q, observed, calculated, difference, background, delta_sigma, tick_x, tick_d;
  std::vector<std::uint8_t> fitted, tick_fitted;
  std::vector<std::int32_t> tick_marker;
};

trov::Experiment read_whole_experiment(const std::string& expnam, trov::NameBuffer& name) {
  name = trov::file_name(expnam, ".exp");
  trov::InputFile experiment = trov::open_with_uppercase_retry(name, "rb");
  experiment.limit_size(trov::kMaxExperimentBytes);
  trov::Experiment info = trov::read_experiment(experiment, trov::ExperimentRecords::kAll);
  experiment.close();
  return info;
}

FigurePoints* read_figure_points(const std::string& expnam, int h) {
  trov::NameBuffer experiment_name;
  const trov::Experiment info = read_whole_experiment(expnam, experiment_name);
  if (h < 1 || h > info.types.count) throw trov::Fatal(std::string(experiment_name.data()) + " has no histogram " + std::to_string(h));
  const trov::HistogramInfo& histogram = info.histograms[static_cast<std::size_t>(h - 1)];
  trov::NameBuffer profile_name = trov::histogram_file_name(expnam, 'p', h);
  trov::InputFile profile = trov::open_with_uppercase_retry(profile_name, "rb");
  auto out = std::make_unique<FigurePoints>();
  const bool has_d = trov::DSpacing(histogram).usable();
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  bool has_background = false;
  trov::read_export_points(
      profile, histogram,
      [&](const trov::ExportPoint& p) {
        out->x.push_back(p.x);
        if (has_d) {
          out->d.push_back(p.d ? *p.d : kNone);
          out->q.push_back(p.d ? trov::DSpacing::q(*p.d) : kNone);
        }
        out->observed.push_back(p.observed);
        out->calculated.push_back(p.calculated);
        out->difference.push_back(p.difference);
        out->background.push_back(static_cast<double>(p.auxiliary) * p.scale);  // as trov-plot draws it
        has_background = has_background || p.auxiliary != 0;
        out->delta_sigma.push_back(p.delta_sigma ? *p.delta_sigma : kNone);
        out->fitted.push_back(p.fitted ? 1 : 0);
        trov::for_each_marker(p.marker_flags, [&](int number) {
          out->tick_x.push_back(p.x);
          out->tick_d.push_back(p.d ? *p.d : kNone);
          out->tick_marker.push_back(number);
          out->tick_fitted.push_back(p.fitted ? 1 : 0);
        });
      },
      [] {});
  profile.close();
  PointColumns& v = out->view;
  v.count = static_cast<std::uint32_t>(out->x.size());
  v.x = out->x.data();
  v.d = has_d ? out->d.data() : nullptr;
  v.q = has_d ? out->q.data() : nullptr;
  v.observed = out->observed.data();
  v.calculated = out->calculated.data();
  v.difference = out->difference.data();
  v.background = has_background ? out->background.data() : nullptr;
  v.delta_sigma = out->delta_sigma.data();
  v.fitted = out->fitted.data();
  v.tick_count = static_cast<std::uint32_t>(out->tick_x.size());
  v.tick_x = out->tick_x.data();
  v.tick_d = has_d ? out->tick_d.data() : nullptr;
  v.tick_marker = out->tick_marker.data();
  v.tick_fitted = out->tick_fitted.data();
  return out.release();
}

// What the last call said: the one-line message of a failure, or the plan's JSON.
std::string& last_text() {
  static std::string text;
  return text;
}

// Runs work; 0 when it succeeded, else 1 with the message worded as the
// native programs word it.
template <typename Work>
int reported(Work&& work) {
  try {
    last_text() = work();
    return 0;
  } catch (const trov::Fatal& error) {
    last_text() = error.what();
  } catch (const std::bad_alloc&) {
    last_text() = "These files are too large for this browser's memory";
  } catch (const std::exception&) {
    last_text() = "An unexpected error ended the run; no file was changed";
  }
  return 1;
}

}  // namespace

extern "C" {

// trov on EXPNAM: the plot and marker files of the histograms listed ("1 3";
// empty: every powder histogram).
EMSCRIPTEN_KEEPALIVE int trov_web_convert(const char* expnam, const char* histograms) {
  return reported([&] {
    trov::convert_experiment(expnam, trov::kAnsiCodePage, histogram_set(histograms));
    return std::string();
  });
}

// trov-export --cif on EXPNAM: the CSV files of the histograms listed, the
// CIF and the JSON summary, all or nothing. The page offers every file.
EMSCRIPTEN_KEEPALIVE int trov_web_export(const char* expnam, const char* histograms) {
  return reported([&] {
    trov::export_experiment({expnam, "", histogram_set(histograms), trov::kAnsiCodePage, true});
    return std::string();
  });
}

// Histogram h's points for the figure: a handle for trov_web_free_points(),
// or 0 with the message in trov_web_text().
EMSCRIPTEN_KEEPALIVE FigurePoints* trov_web_points(const char* expnam, int h) {
  FigurePoints* points = nullptr;
  const int failed = reported([&] {
    points = read_figure_points(expnam, h);
    return std::string();
  });
  return failed ? nullptr : points;
}
EMSCRIPTEN_KEEPALIVE void trov_web_free_points(FigurePoints* points) { delete points; }

// The names of the view's fields, in order, separated by blanks.
EMSCRIPTEN_KEEPALIVE const char* trov_web_point_fields() { return kPointFields; }

// trov-export --list --cif on EXPNAM: the plan as JSON, in trov_web_text().
EMSCRIPTEN_KEEPALIVE int trov_web_plan(const char* expnam) {
  return reported([&] { return trov::export_plan_json(trov::plan_export({expnam, "", {}, trov::kAnsiCodePage, true})); });
}

// What trov-export's JSON summary says of EXPNAM, every powder histogram
// described but no file named, in trov_web_text(): the figures' names and
// statistics before the export has run.
EMSCRIPTEN_KEEPALIVE int trov_web_summary(const char* expnam) {
  return reported([&] {
    trov::NameBuffer name;
    const trov::Experiment info = read_whole_experiment(expnam, name);
    std::vector<trov::ExportedHistogram> described;
    for (const trov::HistogramInfo& h : info.histograms) {
      if (h.type.is_powder()) described.push_back({&h, "", "", {}});
    }
    return trov::experiment_json(info, described);
  });
}

// trov-series on the experiments named in words (one a line, as the page
// stored them), in natural order when sort is 1, x from pattern (empty: the
// step) named x_name: series.csv and series.json (its problems listed in
// it) in the working folder.
EMSCRIPTEN_KEEPALIVE int trov_web_series(const char* words, int sort, const char* pattern, const char* x_name) {
  return reported([&] {
    trov::SeriesRequest request;
    std::istringstream lines(words);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty()) request.words.push_back(line);
    }
    request.sort = sort != 0;
    request.x_pattern = pattern;
    request.x_name = x_name;
    trov::write_series(request, "series.csv");
    return std::string();
  });
}

// The message of the last call that failed, or the JSON of the last plan or summary.
EMSCRIPTEN_KEEPALIVE const char* trov_web_text() { return last_text().c_str(); }

}  // extern "C"
