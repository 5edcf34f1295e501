// Experiment records and profile blocks, byte by byte, whatever the host's byte order.
#include "testing/gsas_writer.h"

#include <cstdint>

#include "numbers/bit_copy.h"

namespace trov::testing {

namespace {

void append_u32_le(std::string& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(v >> shift & 0xFF));
}

void append_f32_le(std::string& out, float v) { append_u32_le(out, bit_copy<std::uint32_t>(v)); }

constexpr std::uint32_t kUnusedWordFiller = 0xDEADBEEF;
constexpr std::uint32_t kTrailingWordFillers[ProfileBlock::kTrailingWords] = {0x5A5A5A5A, 0xA5A5A5A5};

}  // namespace

std::string record(std::string_view text) {
  std::string r(text.substr(0, kExpRecordLength));
  r.resize(kExpRecordLength, ' ');
  return r;
}

std::string htyp_record(int n, std::initializer_list<std::string_view> types) {
  std::string r = record(std::string(kHtypKey) + std::to_string(n));
  std::size_t column = kFirstTypeColumn;
  for (std::string_view type : types) {
    r.replace(column, type.size(), type);
    column += kTypeFieldSpacing;
  }
  return r;
}

std::string lines(std::initializer_list<std::string_view> lines, std::string_view eol) {
  std::string out;
  for (std::string_view line : lines) out.append(line).append(eol);
  return out;
}

namespace {

// tails empty: filler words throughout.
std::string write_profile(const std::vector<ProfilePoint>& points, const std::vector<PointTail>& tails) {
  const std::size_t blocks = (points.size() + kPointsPerBlock - 1) / kPointsPerBlock;
  std::string out;
  out.reserve(blocks * ProfileBlock::kSize);
  for (std::size_t i = 0; i < blocks * kPointsPerBlock; ++i) {
    const ProfilePoint p = i < points.size() ? points[i] : ProfilePoint{};
    append_u32_le(out, static_cast<std::uint32_t>(p.marker_flags));
    for (float v : {p.position, p.observed, p.calculated, p.scale, p.auxiliary}) append_f32_le(out, v);
    if (tails.empty()) {
      for (int word = 0; word < 3; ++word) append_u32_le(out, kUnusedWordFiller);
    } else {
      const PointTail tail = i < tails.size() ? tails[i] : PointTail{};
      append_f32_le(out, tail.weight);
      append_f32_le(out, tail.step_width);
      append_u32_le(out, 0);
    }
    if (i % kPointsPerBlock == kPointsPerBlock - 1) {
      for (std::uint32_t word : kTrailingWordFillers) append_u32_le(out, tails.empty() ? word : 0);
    }
  }
  return out;
}

}  // namespace

std::string profile_bytes(const std::vector<ProfilePoint>& points) { return write_profile(points, {}); }

std::string profile_bytes(const std::vector<ProfilePoint>& points, const std::vector<PointTail>& tails) {
  return write_profile(points, tails);
}

}  // namespace trov::testing
