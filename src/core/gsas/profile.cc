// Decodes profile points from little-endian bytes, whatever the host's byte order.
#include "gsas/profile.h"

#include <cstring>
#include <limits>

namespace trov {

float decode_f32_le(const unsigned char* bytes) {
  static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559);
  const std::uint32_t bits = decode_u32_le(bytes);
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

ProfilePoint decode_profile_point(const unsigned char* bytes) {
  ProfilePoint point;
  point.marker_flags = static_cast<std::int32_t>(decode_u32_le(bytes));
  point.position = decode_f32_le(bytes + 1 * kWordSize);
  point.observed = decode_f32_le(bytes + 2 * kWordSize);
  point.calculated = decode_f32_le(bytes + 3 * kWordSize);
  point.scale = decode_f32_le(bytes + 4 * kWordSize);
  point.auxiliary = decode_f32_le(bytes + 5 * kWordSize);
  return point;
}

}  // namespace trov
