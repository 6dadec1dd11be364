// CRC-32 of IEEE 802.3 (zlib's), as it protects command and connection
// packets. Pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace voxhall::transport {

// Lengths above this are not checksummed: Crc32 answers 0xFFFFFFFF for them.
inline constexpr std::size_t kCrc32MaxLength = 65521;

// The checksum of the first `length` bytes of `data`; 0 for a length of 0,
// 0xFFFFFFFF without computing anything for a length above kCrc32MaxLength.
std::uint32_t Crc32(const void* data, std::size_t length);

// Crc32 of the `length` bytes as if the 4 bytes at `field_offset` held 0,
// without touching them. REQUIRES: field_offset + 4 <= length.
std::uint32_t Crc32WithZeroedField(const void* data, std::size_t length, std::size_t field_offset);

}  // namespace voxhall::transport
