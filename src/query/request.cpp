#include "query/request.h"

#include <charconv>

#include "common/text.h"

namespace voxhall::query {

const std::string& QueryRequest::Param(std::size_t n) const {
  static const std::string kEmpty;
  return n >= 1 && n <= params.size() ? params[n - 1] : kEmpty;
}

std::string QueryRequest::JoinFrom(std::size_t first) const {
  std::string out;
  for (std::size_t i = first; i <= params.size(); ++i) {
    if (i > first) out += ' ';
    out += params[i - 1];
  }
  return out;
}

bool MatchCommand(std::string_view line, std::string_view name, std::string& param_text) {
  if (line.size() < name.size() || !common::EqualsIgnoreCase(line.substr(0, name.size()), name)) {
    return false;
  }
  if (line.size() == name.size()) {
    param_text.clear();
    return true;
  }
  if (line[name.size()] != ' ') return false;
  param_text.assign(line.substr(name.size() + 1));
  return true;
}

std::vector<std::string> SplitParameters(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) out.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || text.front() == '-') return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  std::int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, 10);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace voxhall::query
