// An oracle kept apart on purpose: the conversion written plainly with stdio and printf, the benchmarks' baseline.
#pragma once

#include <cstdio>

namespace trov::bench {

// The same conversion as convert_histogram (same reads, same selection, same
// formats) with fread, fprintf and default stdio buffers.
void stdio_convert(std::FILE* profile, std::FILE* plot, std::FILE* markers, bool centidegrees);

}  // namespace trov::bench
