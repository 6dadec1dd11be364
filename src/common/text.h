// Text helpers shared by every subsystem: case-insensitive replacement, the
// numbered-placeholder formatter used by log lines and replies, trimming and
// cutting to the fixed capacities of records and wire fields.
// All functions are pure and may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace voxhall::common {

// Capacities of the fixed text fields used in records and on the wire.
inline constexpr std::size_t kNameCapacity = 29;         // names, passwords
inline constexpr std::size_t kDescriptionCapacity = 99;  // descriptions, log categories
inline constexpr std::size_t kLongTextCapacity = 255;    // welcome messages, addresses

// Scans `text` left to right comparing ASCII letters without case; each match
// of `pattern` is replaced by `replacement`. With `all` false only the first
// match is replaced. An inserted replacement is never searched again. An empty
// text or pattern leaves the text unchanged.
std::string ReplaceText(std::string_view text, std::string_view pattern,
                        std::string_view replacement, bool all);

// Replaces "%1", "%2", ... by the arguments, in ascending order, each step on
// the result of the previous one (so "%1" also matches the front of "%10").
std::string FormatArgs(std::string_view format, const std::vector<std::string>& arguments);

// Text form of a formatting argument.
inline std::string ArgText(std::string_view s) { return std::string(s); }
inline std::string ArgText(const char* s) { return std::string(s ? s : ""); }
inline std::string ArgText(const std::string& s) { return s; }
template <typename T>
  requires std::is_arithmetic_v<T>
std::string ArgText(T v) {
  return std::to_string(v);
}

// FormatArgs with arguments of any text or number type.
template <typename... Args>
std::string Format(std::string_view format, const Args&... args) {
  return FormatArgs(format, std::vector<std::string>{ArgText(args)...});
}

// Removes blanks and control characters (bytes <= 0x20) from both ends.
std::string Trim(std::string_view s);

// ASCII upper / lower case.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// The first `capacity` characters of `s`.
std::string CutText(std::string_view s, std::size_t capacity);

// A text that never holds more than N characters; longer assignments are cut.
template <std::size_t N>
class FixedString {
 public:
  static constexpr std::size_t kCapacity = N;
  FixedString() = default;
  explicit FixedString(std::string_view s) : value_(CutText(s, N)) {}
  FixedString& operator=(std::string_view s) {
    value_ = CutText(s, N);
    return *this;
  }
  const std::string& str() const { return value_; }
  operator const std::string&() const { return value_; }  // NOLINT
  std::size_t size() const { return value_.size(); }
  bool empty() const { return value_.empty(); }
  friend bool operator==(const FixedString& a, const FixedString& b) { return a.value_ == b.value_; }
  friend bool operator==(const FixedString& a, std::string_view b) { return a.value_ == b; }

 private:
  std::string value_;
};

using NameText = FixedString<kNameCapacity>;
using DescriptionText = FixedString<kDescriptionCapacity>;
using LongText = FixedString<kLongTextCapacity>;

// Parses an integer in decimal, or hexadecimal with a leading "$" or "0x";
// an optional sign is accepted. Answers false for anything else.
bool ParseInteger(std::string_view s, std::int64_t& out);

}  // namespace voxhall::common
