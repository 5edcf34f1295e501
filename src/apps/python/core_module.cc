// trov._core: the core's readers for Python. The trov package (trov/__init__.py) wraps what
// these return into its documented objects; nothing here is meant to be called directly.
//
// Names come in as os.fsencode gives them (bytes; UTF-8 on Windows) and go out as
// os.fsdecode would give them, so that a name leads back to its file whatever its bytes.
// The profile's columns are written straight into vectors that numpy then owns, with the
// GIL released while the file is read: no text, no copy.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <new>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "common/fatal.h"
#include "io/file_handle.h"
#include "common/utf8.h"
#include "export/export_experiment.h"
#include "export/export_files.h"
#include "gsas/d_spacing.h"
#include "gsas/file_names.h"
#include "gsas/profile.h"
#include "series/series_table.h"
#include "columns.h"

namespace py = pybind11;

namespace {

using trov::CodePage;
using trov_python::Column;
using trov_python::OptionalColumn;

// os.fsencode's bytes: UTF-8 on Windows (PEP 529), the bytes themselves elsewhere.
constexpr CodePage kNames = trov::kUtf8CodePage;

py::str file_name_str(const std::string& name) {
  const std::u32string characters = trov::file_name_characters(name.c_str(), kNames);
  PyObject* text = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, characters.data(),
                                             static_cast<Py_ssize_t>(characters.size()));
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

py::dict read_experiment(const std::string& word) {
  trov::FoundExperiment found = [&] {
    py::gil_scoped_release unlocked;
    return trov::find_experiment(word, kNames);
  }();
  const trov::Experiment& experiment = found.experiment;
  std::vector<trov::ExportedHistogram> described;
  py::dict files;
  const std::string base = trov::path_text(trov::native_path(found.expnam, kNames).filename(), kNames);
  for (const trov::HistogramInfo& histogram : experiment.histograms) {
    if (!histogram.type.is_powder()) continue;
    described.push_back({&histogram, "", "", {}});
    py::object profile = py::none();
    try {
      profile = file_name_str(trov::open_histogram_profile(found.expnam, histogram.number, kNames).name());
    } catch (const trov::Fatal&) {
      // Missing, or not a regular file: read_profile says which and why.
    }
    files[py::int_(histogram.number)] = py::make_tuple(profile, file_name_str(trov::export_points_name(base, histogram.number)),
                                                       file_name_str(trov::export_ticks_name(base, histogram.number)));
  }
  py::dict out;
  out["summary"] = trov::experiment_json(experiment, described);
  out["file"] = file_name_str(found.file);
  out["last_refinement"] = experiment.last_refinement ? py::object(py::str(*experiment.last_refinement)) : py::none();
  out["files"] = files;
  return out;
}

// The points and ticks of a histogram, as trov-export's two CSV files hold them.
struct ProfileColumns {
  Column<double> position, observed, calculated, difference;
  OptionalColumn d, q, sigma, delta_sigma;
  Column<float> scale, auxiliary;
  Column<bool> fitted;
  Column<double> tick_position;
  OptionalColumn tick_d;
  Column<std::int32_t> tick_marker;
  Column<bool> tick_fitted;
  std::map<int, std::string> phase_names;  // by marker number, UTF-8
  std::string position_unit;
  bool has_d = false;

  std::optional<trov_python::Arena> arena;  // room for the points the file holds when it is opened

  void reserve(std::size_t n) {
    std::size_t bytes = 4 * Column<double>::bytes_for(n) + 2 * Column<float>::bytes_for(n) + Column<bool>::bytes_for(n);
    bytes += (has_d ? 4 : 2) * OptionalColumn::bytes_for(n);
    trov_python::Arena& room = arena.emplace(bytes);
    for (auto* column : {&position, &observed, &calculated, &difference}) column->place(room, n);
    for (auto* column : {&d, &q}) {
      if (has_d) column->place(room, n);
    }
    for (auto* column : {&sigma, &delta_sigma}) column->place(room, n);
    scale.place(room, n);
    auxiliary.place(room, n);
    fitted.place(room, n);
  }

  void add(const trov::ExportPoint& p) {
    position.push_back(p.x);
    if (has_d) {
      d.push(p.d);
      q.push(p.d ? std::optional<double>(trov::DSpacing::q(*p.d)) : std::nullopt);
    }
    observed.push_back(p.observed);
    calculated.push_back(p.calculated);
    difference.push_back(p.difference);
    sigma.push(p.sigma);
    delta_sigma.push(p.delta_sigma);
    scale.push_back(p.scale);
    auxiliary.push_back(p.auxiliary);
    fitted.push_back(p.fitted);
    trov::for_each_marker(p.marker_flags, [&](int number) {
      tick_position.push_back(p.x);
      if (has_d) tick_d.push(p.d);
      tick_marker.push_back(number);
      tick_fitted.push_back(p.fitted);
    });
  }
};

const char* position_unit(trov::Axis axis) {
  switch (axis) {
    case trov::Axis::kTwoTheta: return "deg";
    case trov::Axis::kTimeOfFlight: return "us";
    case trov::Axis::kEnergy: return "keV";
    case trov::Axis::kOther: break;
  }
  return "";
}

py::dict read_profile(const std::string& word, long long h) {
  ProfileColumns columns;
  {
    py::gil_scoped_release unlocked;
    const trov::FoundExperiment found = trov::find_experiment(word, kNames);
    trov::check_powder_histogram(found.experiment.types, h, found.file);
    const trov::HistogramInfo& histogram = found.experiment.histograms[static_cast<std::size_t>(h - 1)];
    trov::InputFile profile = trov::open_histogram_profile(found.expnam, h, kNames);
    columns.has_d = trov::DSpacing(histogram).usable();
    columns.position_unit = position_unit(histogram.type.axis());
    for (const auto& [n, phase] : found.experiment.phases) {
      if (phase.name) columns.phase_names[n] = trov::utf8_text(*phase.name);
    }
    // Room for every point the file holds now, so that the columns are never copied as they grow.
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(trov::native_path(profile.name(), kNames), error);
    if (!error) columns.reserve(static_cast<std::size_t>(size / trov::ProfileBlock::kSize + 1) * trov::kPointsPerBlock);
    trov::read_export_points(profile, histogram, [&](const trov::ExportPoint& p) { columns.add(p); }, [] {});
  }
  trov_python::Arena* arena = columns.arena ? &*columns.arena : nullptr;
  py::dict points;
  points["position"] = columns.position.release(arena);
  if (columns.has_d) {
    points["d"] = columns.d.release(arena);
    points["Q"] = columns.q.release(arena);
  }
  points["observed"] = columns.observed.release(arena);
  points["calculated"] = columns.calculated.release(arena);
  points["difference"] = columns.difference.release(arena);
  points["sigma"] = columns.sigma.release(arena);
  points["difference/sigma"] = columns.delta_sigma.release(arena);
  points["scale"] = columns.scale.release(arena);
  points["auxiliary"] = columns.auxiliary.release(arena);
  points["fitted"] = columns.fitted.release(arena);
  py::dict ticks;
  ticks["position"] = columns.tick_position.release(arena);
  if (columns.has_d) ticks["d"] = columns.tick_d.release(arena);
  ticks["marker"] = columns.tick_marker.release(arena);
  ticks["fitted"] = columns.tick_fitted.release(arena);
  py::dict out;
  out["points"] = points;
  out["ticks"] = ticks;
  out["phase_names"] = columns.phase_names;
  out["position_unit"] = columns.position_unit;
  return out;
}

// Each column as (header, kind, values, missing): kind "text" gives a list of str or None,
// "count" int64 values, "number" float64 values (NaN where missing).
py::dict series(const std::vector<std::string>& words, bool sort, const std::string& x_pattern, const std::string& x_name) {
  trov::SeriesTable table = [&] {
    py::gil_scoped_release unlocked;
    return trov::read_series({words, sort, x_pattern, x_name, kNames});
  }();
  py::list columns;
  for (trov::SeriesColumn& column : trov::series_columns(table)) {
    Column<bool> missing;
    for (const trov::SeriesCell& cell : column.cells) missing.push_back(std::holds_alternative<std::monostate>(cell));
    if (column.kind == trov::SeriesKind::kText) {
      py::list values;
      for (const trov::SeriesCell& cell : column.cells) {
        const auto* s = std::get_if<std::string>(&cell);
        values.append(s ? py::object(py::str(*s)) : py::none());
      }
      columns.append(py::make_tuple(column.header, "text", values, missing.release()));
    } else if (column.kind == trov::SeriesKind::kCount) {
      Column<std::int64_t> values;
      for (const trov::SeriesCell& cell : column.cells) {
        const auto* n = std::get_if<long long>(&cell);
        values.push_back(n ? *n : 0);
      }
      columns.append(py::make_tuple(column.header, "count", values.release(), missing.release()));
    } else {
      Column<double> values;
      for (const trov::SeriesCell& cell : column.cells) {
        const auto* x = std::get_if<double>(&cell);
        values.push_back(x ? *x : std::numeric_limits<double>::quiet_NaN());
      }
      columns.append(py::make_tuple(column.header, "number", values.release(), missing.release()));
    }
  }
  py::list problems;
  for (const std::string& problem : table.problems) problems.append(py::str(trov::utf8_text(problem)));
  py::dict out;
  out["columns"] = columns;
  out["problems"] = problems;
  return out;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The trov core's readers; use the trov package, which documents what they return.";
  // Every condition the programs report with their one-line message and status 1.
  py::register_exception<trov::Fatal>(m, "Error", PyExc_OSError);
  m.def("read_experiment", &read_experiment, py::arg("word"));
  m.def("read_profile", &read_profile, py::arg("word"), py::arg("histogram"));
  m.def("series", &series, py::arg("words"), py::arg("sort"), py::arg("x_pattern"), py::arg("x_name"));
}
