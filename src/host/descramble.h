// Decoding of the texts that the binary carries only in scrambled form (the
// platform text and the built-in master-list address).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace voxhall::host {

// The key both stored texts are scrambled with.
inline constexpr std::uint16_t kScrambleKey = 0x5A3C;

// `text` is pairs of hexadecimal digits (a trailing single digit is ignored,
// an invalid pair reads as 0); each pair b gives the character
// b xor ((K >> 8) & 0xFF), after which K grows by b.
std::string Descramble(std::string_view text, std::uint16_t key);

}  // namespace voxhall::host
