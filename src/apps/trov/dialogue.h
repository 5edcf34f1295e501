// trov's console dialogue: the banner, the prompt, the typed word and its code page.
#pragma once

#include <cstdio>
#include <string_view>

#include "io/file_handle.h"

namespace trov {

// The code page of the word read from in: on Windows the console's input
// code page when in is a console, else UTF-8 when the word is valid UTF-8,
// else the ANSI code page. Elsewhere names are bytes and this is unused.
CodePage typed_code_page(std::FILE* in, std::string_view word);

// The whole program: banner, prompt, one word read from in, and every powder
// histogram of that experiment converted. Throws Fatal for every condition
// that ends it early; the files of histograms converted before are complete.
void run(std::FILE* in, std::FILE* out);

}  // namespace trov
