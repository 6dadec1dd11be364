#include "web/web_request.h"

#include "common/text.h"

namespace voxhall::web {

std::string WebRequest::Param(std::string_view name) const {
  for (const auto& [n, v] : params) {
    if (common::EqualsIgnoreCase(n, name)) return v;
  }
  return {};
}

std::string WebRequest::CommandParam(std::string_view name) const {
  std::string value = Param(name);
  const std::size_t end = value.find_first_of("\r\n");
  if (end != std::string::npos) value.resize(end);
  return value;
}

}  // namespace voxhall::web
