// The bits of a value read as another type of the same size: std::bit_cast, which Emscripten's libc++ 13 lacks.
#pragma once

#include <cstring>
#include <type_traits>

namespace trov {

template <typename To, typename From>
To bit_copy(const From& from) {
  static_assert(sizeof(To) == sizeof(From) && std::is_trivially_copyable_v<To> && std::is_trivially_copyable_v<From>);
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

}  // namespace trov
