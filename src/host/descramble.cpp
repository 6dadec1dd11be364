#include "host/descramble.h"

namespace voxhall::host {

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string Descramble(std::string_view text, std::uint16_t key) {
  std::uint64_t k = key;
  std::string out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    const int hi = HexDigit(text[i]);
    const int lo = HexDigit(text[i + 1]);
    const std::uint64_t b = (hi < 0 || lo < 0) ? 0 : static_cast<std::uint64_t>(hi * 16 + lo);
    out.push_back(static_cast<char>(static_cast<std::uint8_t>(b ^ ((k >> 8) & 0xFF))));
    k += b;
  }
  return out;
}

}  // namespace voxhall::host
