#include "transport/crc.h"

#include <zlib.h>

#include <cassert>

namespace voxhall::transport {

std::uint32_t Crc32(const void* data, std::size_t length) {
  if (length > kCrc32MaxLength) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(
      crc32(0L, static_cast<const Bytef*>(data), static_cast<uInt>(length)));
}

std::uint32_t Crc32WithZeroedField(const void* data, std::size_t length, std::size_t field_offset) {
  assert(field_offset + 4 <= length);
  if (length > kCrc32MaxLength) return 0xFFFFFFFFu;
  static constexpr Bytef kZeros[4] = {0, 0, 0, 0};
  const auto* bytes = static_cast<const Bytef*>(data);
  uLong crc = crc32(0L, bytes, static_cast<uInt>(field_offset));
  crc = crc32(crc, kZeros, 4);
  const std::size_t rest = field_offset + 4;
  crc = crc32(crc, bytes + rest, static_cast<uInt>(length - rest));
  return static_cast<std::uint32_t>(crc);
}

}  // namespace voxhall::transport
