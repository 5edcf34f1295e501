// UTF-8: well-formedness, and text of unknown bytes made UTF-8 without losing any.
#include "common/utf8.h"

#include <array>

namespace trov {

namespace {

// The length of the well-formed UTF-8 sequence (RFC 3629: no overlong forms,
// no surrogates, nothing past U+10FFFF) that text starts with, or 0.
std::size_t utf8_sequence_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U; };
  const auto continuation = [&](std::size_t i) { return (byte(i) & 0xC0U) == 0x80U; };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!continuation(i)) return 0;
  }
  return length;
}

}  // namespace

std::u32string utf8_or_escaped_bytes(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80 ? 1 : utf8_sequence_length(bytes.substr(i));
    if (length == 0) {
      out += static_cast<char32_t>(0xDC00 + lead);
      ++i;
      continue;
    }
    char32_t c = length == 1 ? lead : lead & (0x7FU >> length);
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3FU);
    out += c;
    i += length;
  }
  return out;
}

bool is_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : utf8_sequence_length(text.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string utf8_text(std::string_view bytes) {
  static constexpr std::array<char16_t, 32> kWindows1252 = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = c < 0x80 ? 1 : utf8_sequence_length(bytes.substr(i));
    if (length > 0) {
      out.append(bytes.substr(i, length));
      i += length;
      continue;
    }
    const unsigned code = c < 0xA0 ? kWindows1252[c - 0x80U] : c;
    if (code < 0x800) {
      out += static_cast<char>(0xC0U | (code >> 6U));
    } else {
      out += static_cast<char>(0xE0U | (code >> 12U));
      out += static_cast<char>(0x80U | ((code >> 6U) & 0x3FU));
    }
    out += static_cast<char>(0x80U | (code & 0x3FU));
    ++i;
  }
  return out;
}

}  // namespace trov
