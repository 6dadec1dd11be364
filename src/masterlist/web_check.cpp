#include "masterlist/web_check.h"

#include <exception>
#include <optional>

#include "common/text.h"

namespace voxhall::masterlist {

WebCheckAnswer WebCheck(const WebCheckRequest& request) {
  WebCheckAnswer answer;
  if (!request.enabled) return answer;
  answer.outcome = WebCheckAnswer::Outcome::Failed;
  try {
    const std::optional<std::string> body = HttpGet(request.address, request.http);
    if (!body) return answer;
    answer.lines = SplitAnswerLines(*body);
    answer.outcome = WebCheckAnswer::Outcome::Answered;
  } catch (const std::exception&) {
    answer.lines.clear();
  }
  return answer;
}

std::vector<std::string> SplitAnswerLines(std::string_view body) {
  const std::string text = common::ReplaceText(body, "<br>", "\r\n", true);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

std::string ExternalAddressOf(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (common::EqualsIgnoreCase(std::string_view(line).substr(0, equals), "IP")) {
      return line.substr(equals + 1);
    }
  }
  return {};
}

}  // namespace voxhall::masterlist
