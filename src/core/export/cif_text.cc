// CIF 1.1 values: shortest decimals and value(s.u.) from the digits alone, and ASCII text with CIF's markup.
#include "export/cif_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "numbers/shortest_format.h"
#include "common/utf8.h"

namespace trov {

namespace {

constexpr int kMaxFixedDigits = 60;

int digit_count(std::uint64_t n) {
  int count = 1;
  for (; n >= 10; n /= 10) ++count;
  return count;
}

// The decimal d written in fixed notation down to 10^place (place <= 0 and
// place <= d.exponent, so every digit of d is written), zeros padding it.
char* write_fixed(char* out, const ShortestDecimal& d, int place) {
  std::array<char, 24> digits{};
  const char* end = std::to_chars(digits.data(), digits.data() + digits.size(), d.significand).ptr;
  const int n = static_cast<int>(end - digits.data());
  if (d.negative) *out++ = '-';
  const int whole = n + d.exponent;  // digits before the point
  if (whole <= 0) {
    *out++ = '0';
  } else {
    const int from_digits = std::min(whole, n);
    out = std::copy_n(digits.data(), from_digits, out);
    out = std::fill_n(out, whole - from_digits, '0');
  }
  if (place < 0) {
    *out++ = '.';
    for (int p = -1; p >= place; --p) {
      // The digit of 10^p: digit index n - 1 - (p - exponent) of the significand.
      const int index = n - 1 - (p - d.exponent);
      *out++ = index >= 0 && index < n ? digits[static_cast<std::size_t>(index)] : '0';
    }
  }
  return out;
}

// The text of one code point in CIF 1.1's ASCII, CIF's markup where it has one.
void append_character(std::string& out, char32_t c) {
  // Latin-1 letters U+00C0 to U+00FF: the base letter and CIF's accent mark
  // (` grave, ' acute, ^ circumflex, ~ tilde, " diaeresis, % ring, , cedilla).
  static constexpr std::string_view kBase = "AAAAAA?CEEEEIIIIDNOOOOO?OUUUUY?saaaaaa?ceeeeiiiidnooooo?ouuuuy?y";
  static constexpr std::string_view kMark = "`'^~\"%?,`'^\"`'^\"?~`'^~\"?/`'^\"'?&`'^~\"%?,`'^\"`'^\"?~`'^~\"?/`'^\"'?\"";
  static_assert(kBase.size() == 64 && kMark.size() == 64);
  if (c >= 0x20 && c < 0x7F) {
    out += static_cast<char>(c);
  } else if (c >= 0xC0 && c <= 0xFF && kBase[c - 0xC0] != '?' && kMark[c - 0xC0] != '?') {
    out += '\\';
    out += kMark[c - 0xC0];
    out += kBase[c - 0xC0];
  } else if (c == 0xB0) {
    out += "\\%";
  } else if (c == 0xB5 || c == 0x3BC) {
    out += "\\m";
  } else {
    static constexpr std::string_view kHex = "0123456789ABCDEF";
    out += "<U+";
    const int width = c > 0xFFFF ? 6 : 4;
    for (int shift = 4 * (width - 1); shift >= 0; shift -= 4) out += kHex[(c >> shift) & 15];
    out += '>';
  }
}

bool needs_quotes(std::string_view text) {
  if (text.empty() || text == "." || text == "?") return true;
  if (std::string_view("_#$'\"[];").find(text[0]) != std::string_view::npos) return true;
  if (text.find(' ') != std::string_view::npos) return true;
  std::string lower(text.substr(0, 7));
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
  static constexpr std::array<std::string_view, 5> kReserved = {"data_", "save_", "loop_", "global_", "stop_"};
  return std::any_of(kReserved.begin(), kReserved.end(), [&](std::string_view word) { return lower.starts_with(word); });
}

}  // namespace

char* write_cif_number(char* out, double value) {
  if (!std::isfinite(value)) {
    *out++ = '?';
    return out;
  }
  return format_shortest(out, value);
}

char* write_cif_number_shifted(char* out, double value, int shift) {
  if (shift == 0 || !std::isfinite(value)) return write_cif_number(out, value);
  ShortestDecimal d = shortest_decimal(value);
  if (d.significand == 0) return write_cif_number(out, value);
  d.exponent += shift;
  const int whole = digit_count(d.significand) + d.exponent;
  if (whole > kMaxFixedDigits || -d.exponent > kMaxFixedDigits) return write_cif_number(out, value * std::pow(10.0, shift));
  return write_fixed(out, d, std::min(d.exponent, 0));
}

char* write_cif_measured(char* out, double value, double su) {
  if (!std::isfinite(value) || !std::isfinite(su) || !(su > 0)) return write_cif_number(out, value);
  const ShortestDecimal v = shortest_decimal(value);
  const ShortestDecimal u = shortest_decimal(su);
  const int su_digits = digit_count(u.significand);
  // The s.u.'s own last digit or its second significant one, whichever is
  // coarser (0.000002 stays one digit, 35.12833614050059 becomes 35), and
  // no coarser than units.
  int place = std::min(std::max(u.exponent + su_digits - 2, u.exponent), 0);
  if (v.significand != 0) place = std::min(place, v.exponent);
  const int whole = v.significand == 0 ? 1 : std::max(1, digit_count(v.significand) + v.exponent);
  if (whole - place > kMaxFixedDigits) return write_cif_number(out, value);
  // The s.u. in units of 10^place: its digits padded, or rounded half up.
  std::uint64_t units = u.significand;
  if (u.exponent >= place) {
    if (su_digits + u.exponent - place > 19) return write_cif_number(out, value);
    for (int i = place; i < u.exponent; ++i) units *= 10;
  } else {
    std::uint64_t divisor = 1;
    for (int i = u.exponent; i < place; ++i) divisor *= 10;  // at most 10^(su_digits - 2)
    const std::uint64_t remainder = units % divisor;
    units /= divisor;
    if (remainder >= divisor - remainder) ++units;
  }
  out = write_fixed(out, v, place);
  *out++ = '(';
  out = std::to_chars(out, out + 21, units).ptr;
  *out++ = ')';
  return out;
}

std::string cif_ascii(std::string_view utf8) {
  std::string text;
  for (const char32_t c : utf8_or_escaped_bytes(utf8_text(utf8))) append_character(text, c);
  return text;
}

std::string cif_text(std::string_view utf8) {
  std::string text = cif_ascii(utf8);
  if (!needs_quotes(text)) return text;
  // A quote ends a quoted value only where whitespace follows it.
  // (Appended rather than "'" + text: see powder_cif.cc's join.)
  const auto around = [&](std::string_view open, std::string_view close) { return std::string(open).append(text).append(close); };
  if (text.find("' ") == std::string::npos && text.back() != '\'') return around("'", "'");
  if (text.find("\" ") == std::string::npos && text.back() != '"') return around("\"", "\"");
  return around("\n;", "\n;");
}

}  // namespace trov
