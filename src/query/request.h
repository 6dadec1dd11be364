// Request lines of the query interface: matching a line against a command
// name, cutting the parameter text into parameters, and the strict decimal
// numbers that ports and limits are given in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace voxhall::query {

// One request after matching: the parameter text behind "<name> " and the
// parameters cut from it (numbered from 1 in replies and texts, index 0 here).
struct QueryRequest {
  std::string param_text;
  std::vector<std::string> params;

  std::size_t Count() const { return params.size(); }
  // Parameter n, counted from 1; empty when there are fewer.
  const std::string& Param(std::size_t n) const;
  // Parameters `first` (from 1) to the last, joined by single blanks.
  std::string JoinFrom(std::size_t first) const;
};

// Whether `line` runs command `name`: the whole line equals the name, or the
// line starts with the name and one blank, letter case ignored. On a match
// `param_text` receives the text behind that blank.
bool MatchCommand(std::string_view line, std::string_view name, std::string& param_text);

// Cuts at every blank and drops the empty pieces. Only the blank separates:
// a tab is part of a parameter.
std::vector<std::string> SplitParameters(std::string_view text);

// A decimal integer with an optional sign that fits in 32 bits; nothing for
// any other text (hexadecimal, blanks, an empty text).
std::optional<std::int32_t> ParseDecimal(std::string_view text);

}  // namespace voxhall::query
