// Writes the powder CIF: the experiment's phase records and each histogram's profile under the IUCr's core and powder data names.
#include "export/powder_cif.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <utility>

#include "export/cif_text.h"
#include "common/fatal.h"
#include "common/version.h"
#include "export/export_files.h"

namespace trov {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr std::size_t kNameWidth = 34;     // values line up after the longest name used
constexpr std::size_t kMaxListedRuns = 100;  // excluded runs named one by one; the rest counted

// Pieces put together. GCC 12 warns, wrongly, of overlapping copies in
// "text" + std::string at some inlinings (the 32-bit x86 build's among
// them); appending says the same without.
std::string join(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view piece : pieces) out += piece;
  return out;
}

std::string number_text(double value) {
  std::array<char, kMaxCifNumberChars> text{};
  return {text.data(), write_cif_number(text.data(), value)};
}

std::string measured_text(double value, std::optional<double> su) {
  std::array<char, kMaxCifNumberChars> text{};
  return {text.data(), write_cif_measured(text.data(), value, su ? *su : 0.0)};
}

// "name value": the value after the name's column, a text field on lines of its own.
void item(OutputFile& out, std::string_view name, std::string_view value) {
  std::string line(name);
  if (value.rfind("\n;", 0) != 0) line.resize(std::max(kNameWidth, name.size() + 1), ' ');
  line += value;
  line += '\n';
  out.write(line);
}

void loop_header(OutputFile& out, std::initializer_list<std::string_view> names) {
  std::string text = "loop_\n";
  for (std::string_view name : names) (text += name) += '\n';
  out.write(text);
}

// A block code: the experiment's name with anything but letters, digits,
// '-' and '.' as '_', cut so that the longest code stays within CIF's 75.
std::string block_prefix(std::string_view experiment_name) {
  std::string prefix;
  for (char c : experiment_name.substr(0, 48)) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    prefix += plain ? c : '_';
  }
  return prefix.empty() ? "trov" : prefix;
}

std::string phase_block(const std::string& prefix, int phase) { return join({prefix, "_phase_", std::to_string(phase)}); }
std::string histogram_block(const std::string& prefix, int h) {
  return join({prefix, h < 10 ? "_hist_0" : "_hist_", std::to_string(h)});
}

// GSAS atom types ("PB", "CA+2", "O-2") as CIF writes them ("Pb", "Ca2+",
// "O2-"); a type of another form stays as it is.
std::string atom_type_symbol(std::string_view type) {
  std::size_t letters = 0;
  while (letters < type.size() && ((type[letters] >= 'A' && type[letters] <= 'Z') || (type[letters] >= 'a' && type[letters] <= 'z'))) {
    ++letters;
  }
  if (letters == 0) return std::string(type);
  std::string symbol(type.substr(0, letters));
  symbol[0] = static_cast<char>(symbol[0] >= 'a' ? symbol[0] - 32 : symbol[0]);
  for (std::size_t i = 1; i < symbol.size(); ++i) symbol[i] = static_cast<char>(symbol[i] <= 'Z' ? symbol[i] + 32 : symbol[i]);
  const std::string_view charge = type.substr(letters);
  if (charge.empty()) return symbol;
  const std::string_view digits = charge.substr(1);
  const bool sign_first = (charge[0] == '+' || charge[0] == '-') &&
                          digits.find_first_not_of("0123456789") == std::string_view::npos;
  if (sign_first) return symbol + std::string(digits.empty() ? "1" : digits) + charge[0];
  return std::string(type);
}

bool in_range(const std::optional<double>& v, double low, double high) { return v && *v >= low && *v <= high; }

// A row's next value, after a blank.
void add(std::string& row, std::string_view value) {
  row += ' ';
  row += value;
}

// ---------------------------------------------------------------- overall

void write_overall_block(OutputFile& out, const Experiment& experiment, const std::vector<CifHistogram>& histograms,
                         const std::string& prefix) {
  out.write(join({"\ndata_", prefix, "_overall\n"}));
  item(out, "_audit_creation_method", cif_text(join({"trov-export ", kVersion})));
  loop_header(out, {"_audit_conform_dict_name", "_audit_conform_dict_version"});
  out.write("cif_core.dic 2.4\ncif_pd.dic 1.0\n");
  item(out, "_pd_block_id", join({prefix, "_overall"}));
  if (experiment.variables && *experiment.variables >= 0) item(out, "_refine_ls_number_parameters", std::to_string(*experiment.variables));
  // Reduced chi^2 is the square of the goodness of fit; the square root is
  // correctly rounded everywhere, so every machine writes the same digits.
  if (experiment.reduced_chi2 && *experiment.reduced_chi2 >= 0) {
    item(out, "_refine_ls_goodness_of_fit_all", number_text(std::sqrt(*experiment.reduced_chi2)));
  }
  if (!experiment.phases.empty()) {
    loop_header(out, {"_pd_phase_id", "_pd_phase_block_id"});
    for (const auto& [n, phase] : experiment.phases) out.write(join({std::to_string(n), " ", phase_block(prefix, n), "\n"}));
  }
  loop_header(out, {"_pd_block_diffractogram_id"});
  for (const CifHistogram& h : histograms) out.write(join({histogram_block(prefix, h.histogram->number), "\n"}));
}

// ---------------------------------------------------------------- phases

void write_atoms(OutputFile& out, const PhaseInfo& phase) {
  std::vector<std::string> symbols;
  for (const auto& [m, atom] : phase.atoms) {
    const std::string symbol = atom_type_symbol(atom.type);
    if (!atom.type.empty() && std::find(symbols.begin(), symbols.end(), symbol) == symbols.end()) symbols.push_back(symbol);
  }
  if (!symbols.empty()) {
    loop_header(out, {"_atom_type_symbol"});
    for (const std::string& symbol : symbols) out.write(cif_text(symbol) + "\n");
  }
  out.write("# The experiment file holds no standard uncertainties for the atom sites; none are written.\n");
  loop_header(out, {"_atom_site_label", "_atom_site_type_symbol", "_atom_site_fract_x", "_atom_site_fract_y",
                    "_atom_site_fract_z", "_atom_site_occupancy", "_atom_site_symmetry_multiplicity",
                    "_atom_site_adp_type", "_atom_site_U_iso_or_equiv"});
  // Labels tie the anisotropic rows to their sites, so each must be unique:
  // a missing one is the type and the atom's number, a repeated one gets the number too.
  std::set<std::string> used;
  std::vector<std::pair<std::string, const AtomSite*>> anisotropic;
  for (const auto& [m, atom] : phase.atoms) {
    std::string label = atom.label.empty() ? atom.type + std::to_string(m) : atom.label;
    if (label.empty() || used.contains(label)) (label += '_') += std::to_string(m);
    used.insert(label);
    const std::string label_text = cif_text(label);
    std::string row = label_text;
    add(row, atom.type.empty() ? "?" : cif_text(atom_type_symbol(atom.type)));
    for (const std::optional<double>& x : atom.xyz) add(row, x ? number_text(*x) : "?");
    add(row, in_range(atom.occupancy, 0, 1) ? number_text(*atom.occupancy) : "?");
    add(row, atom.multiplicity && *atom.multiplicity >= 1 && *atom.multiplicity <= 192 ? std::to_string(*atom.multiplicity) : "?");
    if (atom.adp == 'I') {
      row += " Uiso";
      add(row, in_range(atom.u[0], 0, kInfinity) ? number_text(*atom.u[0]) : "?");
    } else if (atom.adp == 'A') {
      row += " Uani ?";  // an equivalent Uiso would need the metric: not computed here
      anisotropic.emplace_back(label_text, &atom);
    } else {
      row += " ? ?";
    }
    out.write(row + "\n");
  }
  if (anisotropic.empty()) return;
  loop_header(out, {"_atom_site_aniso_label", "_atom_site_aniso_U_11", "_atom_site_aniso_U_22", "_atom_site_aniso_U_33",
                    "_atom_site_aniso_U_12", "_atom_site_aniso_U_13", "_atom_site_aniso_U_23"});
  for (const auto& [label, atom] : anisotropic) {
    std::string row = label;
    for (const std::optional<double>& u : atom->u) add(row, u ? number_text(*u) : "?");
    out.write(row + "\n");
  }
}

void write_phase_block(OutputFile& out, int n, const PhaseInfo& phase, const std::string& prefix) {
  static constexpr std::array<const char*, 6> kCell = {"_cell_length_a", "_cell_length_b", "_cell_length_c",
                                                       "_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"};
  out.write(join({"\ndata_", phase_block(prefix, n), "\n"}));
  item(out, "_pd_block_id", phase_block(prefix, n));
  if (phase.name) item(out, "_pd_phase_name", cif_text(*phase.name));
  for (std::size_t i = 0; i < kCell.size(); ++i) {
    const Measured& m = phase.cell[i];
    const bool fits = i < 3 ? in_range(m.value, 0, kInfinity) && *m.value > 0 : in_range(m.value, 0, 180);
    if (fits) item(out, kCell[i], measured_text(*m.value, m.su));
  }
  if (in_range(phase.volume.value, 0, kInfinity)) item(out, "_cell_volume", measured_text(*phase.volume.value, phase.volume.su));
  if (phase.space_group) item(out, "_symmetry_space_group_name_H-M", cif_text(*phase.space_group));
  if (!phase.atoms.empty()) write_atoms(out, phase);
}

// ---------------------------------------------------------------- histograms

// What the profile's loop needs to know before its first row.
struct ProfileFacts {
  std::uint64_t points = 0;
  bool background = false;           // an auxiliary word that is not zero: the background is there
  bool negative_background = false;  // which the dictionary's range (0 and up) cannot hold
  bool negative_observed = false;
  std::vector<std::pair<double, double>> excluded;  // the first and last position of each run left out of the fit
  std::uint64_t excluded_runs = 0;
};

ProfileFacts scan_profile(InputFile profile, const HistogramInfo& histogram) {
  ProfileFacts facts;
  bool in_run = false;
  read_export_points(
      profile, histogram,
      [&](const ExportPoint& p) {
        ++facts.points;
        const double background = static_cast<double>(p.auxiliary) * p.scale;
        facts.background = facts.background || p.auxiliary != 0;
        facts.negative_background = facts.negative_background || background < 0;
        facts.negative_observed = facts.negative_observed || p.observed < 0;
        if (!p.fitted && !in_run) {
          ++facts.excluded_runs;
          if (facts.excluded.size() < kMaxListedRuns) facts.excluded.emplace_back(p.x, p.x);
        } else if (!p.fitted && facts.excluded.size() == facts.excluded_runs) {  // a run still named
          facts.excluded.back().second = p.x;
        }
        in_run = !p.fitted;
      },
      [] {});
  return facts;
}

struct AxisWords {
  const char* data_name;  // the loop's position column; none for an unknown axis
  const char* words;      // for the excluded regions
  double low, high;       // the data name's range
  int shift;              // decimal places moved (keV to eV)
};

AxisWords axis_words(Axis axis) {
  switch (axis) {
    case Axis::kTwoTheta: return {"_pd_meas_2theta_scan", "2theta in degrees", -180, 360, 0};
    case Axis::kTimeOfFlight: return {"_pd_meas_time_of_flight", "time of flight in microseconds", 0, kInfinity, 0};
    case Axis::kEnergy: return {"_pd_proc_energy_detection", "energy in keV", 0, kInfinity, 3};
    case Axis::kOther: break;
  }
  return {nullptr, "position", -kInfinity, kInfinity, 0};
}

void write_radiation(OutputFile& out, const HistogramInfo& h) {
  const char probe = h.type.code[1];
  if (probe == 'X') item(out, "_diffrn_radiation_probe", "x-ray");
  if (probe == 'N') item(out, "_diffrn_radiation_probe", "neutron");
  const std::vector<double>& c = h.constants;
  switch (h.type.axis()) {
    case Axis::kTwoTheta:
      if (c.empty() || !(c[0] > 0)) break;
      if (c.size() >= 2 && c[1] > 0) {
        loop_header(out, {"_diffrn_radiation_wavelength_id", "_diffrn_radiation_wavelength", "_diffrn_radiation_wavelength_wt"});
        out.write(join({"1 ", number_text(c[0]), " 1\n2 ", number_text(c[1]), " ",
                        in_range(h.lambda2_ratio, 0, 1) ? number_text(*h.lambda2_ratio) : "?", "\n"}));
      } else {
        item(out, "_diffrn_radiation_wavelength", number_text(c[0]));
      }
      break;
    case Axis::kTimeOfFlight:
      if (in_range(h.bank_two_theta, -180, 360)) item(out, "_pd_meas_2theta_fixed", number_text(*h.bank_two_theta));
      break;
    case Axis::kEnergy:
      if (!c.empty() && c[0] >= -180 && c[0] <= 360) item(out, "_pd_meas_2theta_fixed", number_text(c[0]));
      break;
    case Axis::kOther: break;
  }
}

void write_statistics(OutputFile& out, const HistogramInfo& h) {
  if (in_range(h.weighted_r, 0, kInfinity)) item(out, "_pd_proc_ls_prof_wR_factor", number_text(*h.weighted_r));
  if (in_range(h.r, 0, kInfinity)) item(out, "_pd_proc_ls_prof_R_factor", number_text(*h.r));
  if (in_range(h.expected_weighted_r, 0, kInfinity)) {
    item(out, "_pd_proc_ls_prof_wR_expected", number_text(*h.expected_weighted_r));
  }
}

void write_phase_loop(OutputFile& out, const Experiment& experiment, int h, const std::string& prefix) {
  // The phases refined against this histogram: those with a fraction in it,
  // or every phase where the experiment gives no fraction for it.
  std::vector<int> phases;
  for (const auto& [n, phase] : experiment.phases) {
    if (phase.fractions.contains(h)) phases.push_back(n);
  }
  const bool fractions = !phases.empty();
  if (!fractions) {
    for (const auto& [n, phase] : experiment.phases) phases.push_back(n);
  }
  if (phases.empty()) return;
  if (fractions) {
    out.write("# _trov_phase_fraction: the refinement's phase fraction (PHSFR), a scale rather than a mass fraction.\n");
    loop_header(out, {"_pd_phase_id", "_pd_phase_block_id", "_trov_phase_fraction"});
  } else {
    loop_header(out, {"_pd_phase_id", "_pd_phase_block_id"});
  }
  for (int n : phases) {
    std::string row = join({std::to_string(n), " ", phase_block(prefix, n)});
    if (fractions) add(row, number_text(experiment.phases.at(n).fractions.at(h)));
    out.write(row + "\n");
  }
}

void write_excluded_regions(OutputFile& out, const ProfileFacts& facts, const AxisWords& axis) {
  if (facts.excluded_runs == 0) return;
  std::string text = join({"\n;Points left out of the fit (no calculated intensity), ", axis.words, ":"});
  for (const auto& [first, last] : facts.excluded) {
    text += '\n';
    text += number_text(first);
    if (last != first) (text += " to ") += number_text(last);
  }
  if (facts.excluded_runs > facts.excluded.size()) {
    text += join({"\nand ", std::to_string(facts.excluded_runs - facts.excluded.size()), " more runs"});
  }
  item(out, "_pd_proc_info_excluded_regions", join({text, "\n;"}));
}

class ProfileLoop {
 public:
  ProfileLoop(OutputFile& out, const ProfileFacts& facts, const AxisWords& axis)
      : out_(out), facts_(facts), axis_(axis) {}

  void header() {
    out_.write("loop_\n");
    if (axis_.data_name != nullptr) out_.write(std::string(axis_.data_name) + "\n");
    // The observed intensities are processed ones (times the point's scale);
    // where some are negative, which _pd_proc_intensity_total's range does not
    // allow, they are given as _pd_meas_intensity_total, which has no range.
    out_.write(facts_.negative_observed ? "_pd_meas_intensity_total\n" : "_pd_proc_intensity_total\n");
    out_.write("_pd_calc_intensity_total\n");
    if (with_background()) out_.write("_pd_proc_intensity_bkg_calc\n");
    out_.write("_pd_proc_ls_weight\n");
  }

  void row(const ExportPoint& p) {
    char* const start = out_.reserve(6 * kMaxCifNumberChars);
    char* out = start;
    if (axis_.data_name != nullptr) {
      out = p.x >= axis_.low && p.x <= axis_.high ? write_cif_number_shifted(out, p.x, axis_.shift) : unknown(out);
      *out++ = ' ';
    }
    out = write_cif_measured(out, p.observed, p.sigma ? *p.sigma : 0.0);
    *out++ = ' ';
    // Left out of the fit, a point's calculated value may be negative or not
    // a number: unknown, as the dictionary allows no negative intensity.
    out = p.calculated >= 0 ? write_cif_number(out, p.calculated == 0 ? 0.0 : p.calculated) : unknown(out);
    if (with_background()) {
      const double background = static_cast<double>(p.auxiliary) * p.scale;
      *out++ = ' ';
      out = write_cif_number(out, background == 0 ? 0.0 : background);
    }
    *out++ = ' ';
    out = weight(out, p);
    *out++ = '\n';
    out_.commit(out);
    ++rows_;
  }

  std::uint64_t rows() const { return rows_; }

 private:
  bool with_background() const { return facts_.background && !facts_.negative_background; }

  static char* unknown(char* out) {
    *out++ = '?';
    return out;
  }

  // 1/u^2 of the loop's intensities: the point's weight over its scale
  // squared; 0 on the points left out of the fit.
  static char* weight(char* out, const ExportPoint& p) {
    if (!p.fitted || p.weight == 0) {
      *out++ = '0';
      return out;
    }
    const double scale = p.scale;
    const double w = static_cast<double>(p.weight) / (scale * scale);
    return std::isfinite(w) && w > 0 ? write_cif_number(out, w) : unknown(out);
  }

  OutputFile& out_;
  const ProfileFacts& facts_;
  const AxisWords& axis_;
  std::uint64_t rows_ = 0;
};

void write_histogram_block(OutputFile& out, const Experiment& experiment, const CifHistogram& histogram,
                           const std::string& prefix) {
  const HistogramInfo& h = *histogram.histogram;
  const ProfileFacts facts = scan_profile(histogram.open_profile(), h);
  const AxisWords axis = axis_words(h.type.axis());
  out.write(join({"\ndata_", histogram_block(prefix, h.number), "\n"}));
  item(out, "_pd_block_id", histogram_block(prefix, h.number));
  if (h.name) out.write(join({"# Histogram ", std::to_string(h.number), ": ", cif_ascii(*h.name), "\n"}));
  write_radiation(out, h);
  write_statistics(out, h);
  write_phase_loop(out, experiment, h.number, prefix);
  if (facts.points == 0) {
    out.write("# The profile holds no point.\n");
    return;
  }
  item(out, "_pd_proc_number_of_points", std::to_string(facts.points));
  write_excluded_regions(out, facts, axis);
  if (facts.background && facts.negative_background) {
    out.write("# The background is left out: some of it is negative, which _pd_proc_intensity_bkg_calc cannot hold.\n");
  }
  if (!facts.background) out.write("# The profile holds no background.\n");
  ProfileLoop loop(out, facts, axis);
  loop.header();
  InputFile profile = histogram.open_profile();
  read_export_points(
      profile, h, [&](const ExportPoint& p) { loop.row(p); }, [&] { out.check_written(); });
  if (loop.rows() != facts.points) throw Fatal(profile.name() + " changed while it was read");
}

}  // namespace

void write_powder_cif(OutputFile& out, const Experiment& experiment, const std::vector<CifHistogram>& histograms,
                      std::string_view experiment_name) {
  const std::string prefix = block_prefix(experiment_name);
  out.write(join({"#\\#CIF_1.1\n# The Rietveld refinement of ", cif_ascii(experiment_name),
                  ": its phases and powder histograms, as the experiment and profile files hold them.\n"}));
  if (experiment.title) out.write(join({"# ", cif_ascii(*experiment.title), "\n"}));
  write_overall_block(out, experiment, histograms, prefix);
  for (const auto& [n, phase] : experiment.phases) write_phase_block(out, n, phase, prefix);
  for (const CifHistogram& h : histograms) write_histogram_block(out, experiment, h, prefix);
}

}  // namespace trov
