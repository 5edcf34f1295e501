// Values as CIF 1.1 writes them: numbers exact to the last digit, a number with its standard uncertainty, text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace trov {

// Room that each writer below needs.
inline constexpr std::size_t kMaxCifNumberChars = 96;

// The shortest decimal that reads back to value, as trov-export's CSV writes
// it ("0.0001", "1e-05"), or "?" (unknown) for a NaN or an infinity, which
// CIF cannot write.
char* write_cif_number(char* out, double value);

// The decimal of value's shortest digits moved shift places (3: keV written
// as eV), exactly: "12.345" keV is "12345" eV, not 12.345 * 1000 rounded.
char* write_cif_number_shifted(char* out, double value, int shift);

// value(su): the value's own shortest digits, padded with zeros where the
// s.u. needs more places, and the s.u. in units of the last place written:
// its own digits or two significant ones, whichever are fewer, rounded half
// up, and more where the value has more places. 8.482371 with 0.000117 is
// "8.482371(117)", 10.251218 with 0.000002 "10.251218(2)", 1234 with
// 35.128336 "1234(35)", 254.6 with 0.002 "254.600(2)", 1234.5678 with 35.1
// "1234.5678(351000)". So the value reads back to the same double as the
// CSV's. A value without a usable s.u. (none, zero, negative, not finite)
// is written as write_cif_number writes it; so is one whose digits would run
// past 60 characters at the s.u.'s place.
char* write_cif_measured(char* out, double value, double su);

// Text (UTF-8) as one CIF value: bare where CIF allows, else in quotes, else
// as a text field. CIF 1.1 is ASCII: accented Latin letters become CIF's
// markup ("\%A" for Å, "\"o" for ö, "\'e" for é), the degree sign "\%", µ
// "\m", and any other character outside printable ASCII <U+XXXX>.
std::string cif_text(std::string_view utf8);
// The same characters without the quoting: for comments.
std::string cif_ascii(std::string_view utf8);

}  // namespace trov
