// Writes the export's CSV rows straight into block buffers, and its JSON with nlohmann::json.
#include "export/export_files.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include <nlohmann/json.hpp>

#include "common/shortest_format.h"
#include "common/utf8.h"
#include "gsas/d_spacing.h"
#include "gsas/profile.h"

namespace trov {

namespace {

constexpr std::size_t kMaxNumberChars = kMaxShortestChars;
constexpr std::size_t kMaxRowChars = 12 * kMaxNumberChars;

template <typename T>
char* write_number(char* out, T value) {
  if (std::isnan(value)) return std::copy_n("nan", 3, out);
  if (std::isinf(value)) return value < 0 ? std::copy_n("-inf", 4, out) : std::copy_n("inf", 3, out);
  return format_shortest(out, value);
}

char* write_text(char* out, std::string_view text) { return std::copy(text.begin(), text.end(), out); }

}  // namespace

std::string csv_field(std::string_view bytes) {
  std::string text = utf8_text(bytes);
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string csv_number(double value) {
  std::array<char, kMaxNumberChars> text{};
  return {text.data(), write_number(text.data(), value)};
}

namespace {

void write_line(OutputFile& file, std::string_view line) {
  char* out = file.reserve(line.size());
  file.commit(write_text(out, line));
}

const char* position_header(Axis axis) {
  switch (axis) {
    case Axis::kTwoTheta: return "2theta (deg)";
    case Axis::kTimeOfFlight: return "TOF (us)";
    case Axis::kEnergy: return "energy (keV)";
    case Axis::kOther: break;
  }
  return "position";
}

class PointWriter {
 public:
  PointWriter(OutputFile& points, OutputFile& ticks, const HistogramExport& what)
      : points_(points), ticks_(ticks), what_(what), has_d_(DSpacing(*what.histogram).usable()) {}

  void header() {
    const Axis axis = what_.histogram->type.axis();
    std::string line = position_header(axis);
    if (has_d_) line += ",d (A),Q (1/A)";
    line += ",observed,calculated,difference,sigma,difference/sigma,scale,auxiliary,fitted\n";
    write_line(points_, line);
    write_line(ticks_, std::string(position_header(axis)) + (has_d_ ? ",d (A)" : "") + ",marker,phase,fitted\n");
  }

  void row(const ExportPoint& p) {
    char* const start = points_.reserve(kMaxRowChars);
    char* out = write_number(start, p.x);
    if (has_d_) {
      *out++ = ',';
      if (p.d) out = write_number(out, *p.d);
      *out++ = ',';
      if (p.d) out = write_number(out, DSpacing::q(*p.d));
    }
    for (double v : {p.observed, p.calculated, p.difference}) {
      *out++ = ',';
      out = write_number(out, v);
    }
    *out++ = ',';
    if (p.sigma) out = write_number(out, *p.sigma);
    *out++ = ',';
    if (p.delta_sigma) out = write_number(out, *p.delta_sigma);
    *out++ = ',';
    out = write_number(out, p.scale);
    *out++ = ',';
    out = write_number(out, p.auxiliary);
    *out++ = ',';
    *out++ = p.fitted ? '1' : '0';
    *out++ = '\n';
    points_.commit(out);
    ++points_rows_;
    tick_rows(p);
  }

  std::uint64_t points_rows() const { return points_rows_; }
  std::uint64_t ticks_rows() const { return ticks_rows_; }

 private:
  // A row for each reflection marked at the point; those of fitted points are
  // the lines of trov's marker file.
  void tick_rows(const ExportPoint& p) {
    for_each_marker(p.marker_flags, [&](int number) {
      std::string line;
      std::array<char, kMaxNumberChars> text{};
      line.append(text.data(), write_number(text.data(), p.x));
      if (has_d_) {
        line += ',';
        if (p.d) line.append(text.data(), write_number(text.data(), *p.d));
      }
      line += ',' + std::to_string(number) + ',';
      const auto phase = what_.phases->find(number);
      if (phase != what_.phases->end() && phase->second.name) line += csv_field(*phase->second.name);
      line += p.fitted ? ",1\n" : ",0\n";
      write_line(ticks_, line);
      ++ticks_rows_;
    });
  }

  OutputFile& points_;
  OutputFile& ticks_;
  const HistogramExport& what_;
  bool has_d_;
  std::uint64_t points_rows_ = 0, ticks_rows_ = 0;
};

const char* range_unit(Axis axis) {
  switch (axis) {
    case Axis::kTwoTheta: return "deg";
    case Axis::kTimeOfFlight: return "us";
    case Axis::kEnergy: return "keV";
    case Axis::kOther: break;
  }
  return "";
}

using Json = nlohmann::ordered_json;

// A value and its s.u. as "a" and "a_su", each where the file holds it.
void add_measured(Json& object, const char* key, const Measured& m) {
  if (m.value) object[key] = *m.value;
  if (m.su) object[std::string(key) + "_su"] = *m.su;
}

Json phase_json(const PhaseInfo& phase) {
  static constexpr std::array<const char*, 6> kCellKeys = {"a", "b", "c", "alpha", "beta", "gamma"};
  Json out = Json::object();
  if (phase.name) out["name"] = utf8_text(*phase.name);
  Json cell = Json::object();
  for (std::size_t i = 0; i < kCellKeys.size(); ++i) add_measured(cell, kCellKeys[i], phase.cell[i]);
  if (!cell.empty()) out["cell"] = std::move(cell);
  add_measured(out, "volume", phase.volume);
  if (phase.space_group) out["space_group"] = utf8_text(*phase.space_group);
  if (!phase.atoms.empty()) {
    Json atoms = Json::array();
    static constexpr std::array<const char*, 3> kXyz = {"x", "y", "z"};
    static constexpr std::array<const char*, 6> kU = {"U11", "U22", "U33", "U12", "U13", "U23"};
    for (const auto& [number, atom] : phase.atoms) {
      Json a = Json::object();
      a["number"] = number;
      if (!atom.label.empty()) a["label"] = utf8_text(atom.label);
      if (!atom.type.empty()) a["type"] = utf8_text(atom.type);
      for (std::size_t i = 0; i < 3; ++i) {
        if (atom.xyz[i]) a[kXyz[i]] = *atom.xyz[i];
      }
      if (atom.occupancy) a["occupancy"] = *atom.occupancy;
      if (atom.multiplicity) a["multiplicity"] = *atom.multiplicity;
      if (atom.adp == 'I' && atom.u[0]) a["Uiso"] = *atom.u[0];
      if (atom.adp == 'A') {
        for (std::size_t i = 0; i < 6; ++i) {
          if (atom.u[i]) a[kU[i]] = *atom.u[i];
        }
      }
      atoms.push_back(std::move(a));
    }
    out["atoms"] = std::move(atoms);
  }
  if (!phase.fractions.empty()) {
    Json fractions = Json::object();
    for (const auto& [h, f] : phase.fractions) fractions[std::to_string(h)] = f;
    out["fractions"] = std::move(fractions);
  }
  return out;
}

}  // namespace

ExportPoint export_point(const unsigned char* bytes, const HistogramType& type, const DSpacing& spacing) {
  const ProfilePoint p = decode_profile_point(bytes);
  const float weight = decode_f32_le(bytes + 6 * kWordSize);
  ExportPoint out;
  // A constant-wavelength position is stored in centidegrees, and is the
  // stored value / 100 in double (the plot file's rule, times the
  // single-precision 0.01, would carry that float's 2e-8 error).
  const double stored = p.position;
  out.x = type.axis() == Axis::kTwoTheta ? stored / 100.0 : stored;
  out.d = spacing.d(out.x);
  const double observed = p.observed;
  const double calculated = p.calculated;
  const double scale = p.scale;
  out.observed = observed * scale;
  out.calculated = calculated * scale;
  out.difference = (observed - calculated) * scale;
  if (weight > 0.0f && std::isfinite(weight)) {
    const double root = std::sqrt(static_cast<double>(weight));
    out.sigma = scale / root;
    out.delta_sigma = (observed - calculated) * root;
  }
  out.scale = p.scale;
  out.auxiliary = p.auxiliary;
  out.weight = weight;
  out.fitted = p.calculated > 0.0f;
  out.marker_flags = p.marker_flags;
  return out;
}

CsvCounts write_histogram_csv(InputFile& profile, OutputFile& points, OutputFile& ticks, const HistogramExport& what) {
  PointWriter writer(points, ticks, what);
  writer.header();
  read_export_points(
      profile, *what.histogram, [&](const ExportPoint& p) { writer.row(p); },
      [&] {
        points.check_written();
        ticks.check_written();
      });
  return {writer.points_rows(), points.size(), writer.ticks_rows(), ticks.size()};
}

std::string experiment_json(const Experiment& info, const std::vector<ExportedHistogram>& histograms) {
  Json root = Json::object();
  if (info.title) root["title"] = utf8_text(*info.title);
  if (info.reduced_chi2) root["reduced_chi2"] = *info.reduced_chi2;
  if (info.variables) root["variables"] = *info.variables;
  Json phases = Json::object();
  // The numbers are distinct and in order already: appended as they come,
  // rather than looked up one by one in the ordered object, which would take
  // time growing with the square of a refinement's phases.
  auto& members = static_cast<Json::object_t::Container&>(phases.get_ref<Json::object_t&>());
  members.reserve(info.phases.size());
  for (const auto& [n, phase] : info.phases) members.emplace_back(std::to_string(n), phase_json(phase));
  root["phases"] = std::move(phases);
  Json list = Json::array();
  for (const ExportedHistogram& e : histograms) {
    const HistogramInfo& h = *e.histogram;
    Json item = Json::object();
    item["number"] = h.number;
    std::string type = utf8_text(h.type.code.data());
    type.erase(type.find_last_not_of(' ') + 1);  // the field's padding
    item["type"] = type;
    if (h.name) item["name"] = utf8_text(*h.name);
    if (h.instrument) item["instrument"] = utf8_text(*h.instrument);
    const Axis axis = h.type.axis();
    item["position_unit"] = range_unit(axis);
    const DSpacing spacing(h);
    if (spacing.usable()) {
      Json constants = Json::object();
      for (const auto& [name, value] : spacing.constants()) constants[name] = value;
      item["constants"] = constants;
    }
    if (h.range_min && h.range_max) {
      item["range"] = Json{{"min", *h.range_min}, {"max", *h.range_max}};
    }
    Json statistics = Json::object();
    if (h.weighted_r) statistics["wRp"] = *h.weighted_r;
    if (h.r) statistics["Rp"] = *h.r;
    if (h.expected_weighted_r) statistics["expected_wR"] = *h.expected_weighted_r;
    if (h.observations) statistics["observations"] = *h.observations;
    if (h.sum_w_delta2) statistics["sum_w_delta2"] = *h.sum_w_delta2;
    if (h.sum_w_delta2 && h.observations && *h.observations > 0) {
      statistics["chi2"] = *h.sum_w_delta2 / static_cast<double>(*h.observations);
    }
    if (h.weighted_r_background) statistics["wRp_background"] = *h.weighted_r_background;
    if (h.r_background) statistics["Rp_background"] = *h.r_background;
    if (!statistics.empty()) item["statistics"] = statistics;
    if (h.reflections || h.reflection_d_min) {
      Json reflections = Json::object();
      if (h.reflections) reflections["count"] = *h.reflections;
      if (h.reflection_d_min) reflections["d_min"] = *h.reflection_d_min;
      item["reflections"] = reflections;
    }
    if (!e.points_file.empty()) {
      // What a reader needs to tell a file of another run: the JSON is put in
      // place last, so files that disagree with it are not of its set.
      item["points_file"] = utf8_text(e.points_file);
      item["points_rows"] = e.counts.points_rows;
      item["points_bytes"] = e.counts.points_bytes;
      item["ticks_file"] = utf8_text(e.ticks_file);
      item["ticks_rows"] = e.counts.ticks_rows;
      item["ticks_bytes"] = e.counts.ticks_bytes;
    }
    list.push_back(item);
  }
  root["histograms"] = list;
  return root.dump(2) + "\n";
}

}  // namespace trov
