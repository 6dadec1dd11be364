#include "common/text.h"

#include <cctype>
#include <charconv>

namespace voxhall::common {

namespace {
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string ReplaceText(std::string_view text, std::string_view pattern,
                        std::string_view replacement, bool all) {
  if (text.empty() || pattern.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    bool match = i + pattern.size() <= text.size();
    for (std::size_t k = 0; match && k < pattern.size(); ++k) {
      match = Upper(text[i + k]) == Upper(pattern[k]);
    }
    if (match) {
      out.append(replacement);
      i += pattern.size();
      if (!all) {
        out.append(text.substr(i));
        return out;
      }
    } else {
      out.push_back(text[i]);
      ++i;
    }
  }
  return out;
}

std::string FormatArgs(std::string_view format, const std::vector<std::string>& arguments) {
  std::string result(format);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    result = ReplaceText(result, "%" + std::to_string(i + 1), arguments[i], true);
  }
  return result;
}

std::string Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return std::string(s.substr(b, e - b));
}

std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Upper(c);
  return out;
}

std::string LowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

std::string CutText(std::string_view s, std::size_t capacity) {
  return std::string(s.substr(0, capacity));
}

bool ParseInteger(std::string_view s, std::int64_t& out) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s[0] == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return false;
  std::uint64_t magnitude = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (ec != std::errc() || ptr != s.data() + s.size()) return false;
  if (base == 16 && !negative) {
    // Hexadecimal values up to 64 bits are taken as bit patterns.
    out = static_cast<std::int64_t>(magnitude);
    return true;
  }
  if (magnitude > static_cast<std::uint64_t>(INT64_MAX) + (negative ? 1u : 0u)) return false;
  out = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

}  // namespace voxhall::common
