// UTF-8: well-formedness, and text of unknown bytes made UTF-8 without losing any.
#pragma once

#include <string>
#include <string_view>

namespace trov {

// Whether text is well-formed UTF-8 (RFC 3629: no overlong forms, no
// surrogates, nothing past U+10FFFF); ASCII is.
bool is_utf8(std::string_view text);

// Names are the bytes of the machine that typed them. Valid UTF-8 stays as it
// is; any other byte is read as Windows-1252, the code page of the machines
// the refinement package mostly ran on (a Latin-1 degree sign in "25\xB0C"
// becomes "25°C"), so the files are always UTF-8 and no byte is lost. The
// five bytes Windows-1252 leaves undefined become the C1 controls of the same
// number, as web browsers read them.
std::string utf8_text(std::string_view bytes);

// The characters of bytes that should be UTF-8, each byte that is not part of
// a well-formed sequence kept as U+DC80 to U+DCFF: how Python reads a POSIX
// file name (os.fsdecode), so that the name's bytes can be had back exactly
// (os.fsencode). Only a text that must name a file reads bytes this way.
std::u32string utf8_or_escaped_bytes(std::string_view bytes);

}  // namespace trov
