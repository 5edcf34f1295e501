// Writes the export's CSV rows straight into block buffers, and its JSON with nlohmann::json.
#include "export/export_files.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include <nlohmann/json.hpp>

#include "numbers/shortest_format.h"
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

template <typename Out>
void write_line(Out& file, std::string_view line) {
  char* out = file.reserve(line.size());
  file.commit(write_text(out, line));
}

// Text formatted into memory, as an OutputFile takes it (reserve, then commit):
// a chunk of rows formatted on one thread and written in order on another.
class TextBlock {
 public:
  char* reserve(std::size_t size) {
    if (capacity_ - used_ < size) {
      const std::size_t capacity = std::max(2 * capacity_, used_ + size);
      std::unique_ptr<char[]> grown(new char[capacity]);  // NOLINT: uninitialised on purpose
      if (used_ > 0) std::memcpy(grown.get(), text_.get(), used_);
      text_ = std::move(grown);
      capacity_ = capacity;
    }
    return text_.get() + used_;
  }
  void commit(const char* end) { used_ = static_cast<std::size_t>(end - text_.get()); }
  std::string_view text() const { return {text_.get(), used_}; }
  void clear() { used_ = 0; }

 private:
  std::unique_ptr<char[]> text_;  // NOLINT(cppcoreguidelines-avoid-c-arrays)
  std::size_t capacity_ = 0, used_ = 0;
};

const char* position_header(Axis axis) {
  switch (axis) {
    case Axis::kTwoTheta: return "2theta (deg)";
    case Axis::kTimeOfFlight: return "TOF (us)";
    case Axis::kEnergy: return "energy (keV)";
    case Axis::kOther: break;
  }
  return "position";
}

template <typename Out>
class PointWriter {
 public:
  PointWriter(Out& points, Out& ticks, const HistogramExport& what)
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

  Out& points_;
  Out& ticks_;
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

namespace {

// A run of profile blocks and the rows they give, formatted apart from the
// runs before and after it. The zero points at its end are only counted:
// whether they give rows depends on whether a real point follows them,
// which a later run may tell.
struct RowChunk {
  std::unique_ptr<unsigned char[]> bytes;  // NOLINT(cppcoreguidelines-avoid-c-arrays): whole blocks of the profile
  std::size_t size = 0;
  TextBlock points, ticks;
  std::uint64_t points_rows = 0, ticks_rows = 0;
  std::uint64_t trailing_zeros = 0;  // zero points at its end, not formatted
  bool any_point = false;            // a point that is not zero, which releases the zeros before it
};

bool is_zero_point(const unsigned char* bytes) {
  for (std::size_t i = 0; i < 6 * kWordSize; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

void format_chunk(RowChunk& chunk, const HistogramExport& what, const DSpacing& spacing) {
  chunk.points.clear();
  chunk.ticks.clear();
  PointWriter<TextBlock> writer(chunk.points, chunk.ticks, what);
  static constexpr std::array<unsigned char, kProfilePointSize> kZero{};
  std::uint64_t zeros = 0;
  bool any_point = false;
  for (std::size_t block = 0; block + ProfileBlock::kPointBytes <= chunk.size; block += ProfileBlock::kSize) {
    for (std::size_t i = 0; i < kPointsPerBlock; ++i) {
      const unsigned char* bytes = chunk.bytes.get() + block + i * kProfilePointSize;
      if (is_zero_point(bytes)) {
        ++zeros;
        continue;
      }
      for (; zeros > 0; --zeros) writer.row(export_point(kZero.data(), what.histogram->type, spacing));
      writer.row(export_point(bytes, what.histogram->type, spacing));
      any_point = true;
    }
  }
  chunk.points_rows = writer.points_rows();
  chunk.ticks_rows = writer.ticks_rows();
  chunk.trailing_zeros = zeros;
  chunk.any_point = any_point;
}

// The rows of a histogram formatted a chunk at a time by helper threads while
// this thread reads the profile and writes the chunks out in order, and
// formats chunks too while it waits: the same bytes as one thread writing
// row after row. A chunk is 2,048 blocks (1 MiB
// of profile, about 3 MB of text); a few are in flight at a time.
class ChunkPipeline {
 public:
  ChunkPipeline(InputFile& profile, OutputFile& points, OutputFile& ticks, const HistogramExport& what, unsigned helpers)
      : profile_(profile), points_(points), ticks_(ticks), what_(what), spacing_(*what.histogram),
        slots_(2 * static_cast<std::size_t>(helpers) + 1) {
    zero_row_ = [&] {
      TextBlock row;
      TextBlock no_ticks;
      PointWriter<TextBlock> writer(row, no_ticks, what);
      static constexpr std::array<unsigned char, kProfilePointSize> kZero{};
      writer.row(export_point(kZero.data(), what.histogram->type, spacing_));
      return std::string(row.text());
    }();
    for (Slot& slot : slots_) {
      slot.chunk.bytes.reset(new unsigned char[kChunkBytes]);  // NOLINT: uninitialised on purpose
      slot.chunk.points.reserve(kChunkBytes / ProfileBlock::kSize * kPointsPerBlock * kTypicalRowChars);
    }
    try {
      for (unsigned i = 0; i < helpers; ++i) helpers_.emplace_back([this] { format_chunks(); });
    } catch (...) {
      stop();  // a thread the system would not start: those started are ended first
      throw;
    }
  }
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;
  ChunkPipeline(ChunkPipeline&&) = delete;
  ChunkPipeline& operator=(ChunkPipeline&&) = delete;
  ~ChunkPipeline() { stop(); }

  CsvCounts run() {
    PointWriter<OutputFile> header(points_, ticks_, what_);
    header.header();
    bool ended = false;
    std::size_t next_read = 0;
    std::size_t next_write = 0;
    std::exception_ptr read_error;
    auto read_next = [&] {
      Slot& slot = slots_[next_read % slots_.size()];
      slot.chunk.size = profile_.read_partial(slot.chunk.bytes.get(), kChunkBytes);
      ended = slot.chunk.size < kChunkBytes;
      try {
        profile_.check_reading();
      } catch (...) {
        read_error = std::current_exception();  // reported once the points before it are written
        ended = true;
      }
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        slot.state = State::kRead;
        slot.sequence = next_read++;
      }
      to_format_.notify_one();
    };
    while (!ended && next_read < slots_.size()) read_next();
    while (next_write < next_read) {
      Slot& slot = slots_[next_write % slots_.size()];
      // While the next chunk to write is being formatted, this thread formats one too.
      for (;;) {
        Slot* other = nullptr;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          formatted_.wait(lock, [&] { return slot.state == State::kFormatted || (other = earliest_read()) != nullptr; });
          if (slot.state == State::kFormatted) break;
          other->state = State::kFormatting;
        }
        format(*other);
      }
      if (slot.error) std::rethrow_exception(slot.error);
      write_out(slot.chunk);
      ++next_write;
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        slot.state = State::kFree;
      }
      if (!ended) read_next();
    }
    if (read_error) std::rethrow_exception(read_error);
    return {points_rows_, points_.size(), ticks_rows_, ticks_.size()};
  }

 private:
  static constexpr std::size_t kChunkBytes = 256 * ProfileBlock::kSize;
  static constexpr std::size_t kTypicalRowChars = 128;  // room for a chunk's rows, so that it seldom grows
  enum class State { kFree, kRead, kFormatting, kFormatted };
  struct Slot {
    RowChunk chunk;
    State state = State::kFree;
    std::size_t sequence = 0;
    std::exception_ptr error;
  };

  void stop() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    to_format_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
  }

  // The earliest chunk read and not yet taken, or none (with mutex_ held).
  Slot* earliest_read() {
    Slot* slot = nullptr;
    for (Slot& s : slots_) {
      if (s.state == State::kRead && (slot == nullptr || s.sequence < slot->sequence)) slot = &s;
    }
    return slot;
  }

  // Formats a slot taken (kFormatting) and hands it back formatted.
  void format(Slot& slot) {
    try {
      format_chunk(slot.chunk, what_, spacing_);
    } catch (...) {
      slot.error = std::current_exception();  // memory, say: the writer reports it in turn
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      slot.state = State::kFormatted;
    }
    formatted_.notify_all();
  }

  // A helper: formats the chunks read, the earliest first.
  void format_chunks() {
    for (;;) {
      Slot* slot = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        to_format_.wait(lock, [&] { return stopping_ || (slot = earliest_read()) != nullptr; });
        if (stopping_) return;
        slot->state = State::kFormatting;
      }
      format(*slot);
    }
  }

  void write_out(const RowChunk& chunk) {
    if (chunk.any_point) {
      points_rows_ += pending_zeros_;
      for (; pending_zeros_ > 0; --pending_zeros_) points_.write(zero_row_);
      points_.write(chunk.points.text());
      ticks_.write(chunk.ticks.text());
      points_rows_ += chunk.points_rows;
      ticks_rows_ += chunk.ticks_rows;
    }
    pending_zeros_ += chunk.trailing_zeros;
    points_.check_written();
    ticks_.check_written();
  }

  InputFile& profile_;
  OutputFile& points_;
  OutputFile& ticks_;
  const HistogramExport& what_;
  const DSpacing spacing_;
  std::string zero_row_;  // the row of a zero point, which every zero point gives
  std::vector<Slot> slots_;
  std::uint64_t pending_zeros_ = 0;  // zero points written only once a real point follows
  std::uint64_t points_rows_ = 0, ticks_rows_ = 0;
  std::mutex mutex_;
  std::condition_variable to_format_, formatted_;
  bool stopping_ = false;
  std::vector<std::thread> helpers_;
};

}  // namespace

CsvCounts write_histogram_csv(InputFile& profile, OutputFile& points, OutputFile& ticks, const HistogramExport& what,
                              unsigned helpers) {
  if (kExportThreads && helpers > 0) return ChunkPipeline(profile, points, ticks, what, helpers).run();
  PointWriter<OutputFile> writer(points, ticks, what);
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
