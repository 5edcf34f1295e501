// Input files whose reads fail part-way, as a damaged disk's do, on every platform.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "io/input_file.h"

namespace trov::testing {

// bytes, of which reads deliver those before fail_at and then fail (as a
// read with EIO does).
std::unique_ptr<ByteSource> failing_source(std::string bytes, std::size_t fail_at);

}  // namespace trov::testing
