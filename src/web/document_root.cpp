#include "web/document_root.h"

#include <system_error>

namespace voxhall::web {

namespace fs = std::filesystem;

fs::path DocumentRoot::Join(std::string_view document) const {
  std::string joined = root_;
  joined += '/';
  joined += document;
  std::error_code ec;
  fs::path absolute = fs::absolute(fs::path(joined), ec);
  if (ec) absolute = fs::path(joined);
  return absolute.lexically_normal();
}

bool DocumentRoot::Contains(const fs::path& path) const {
  std::error_code ec;
  const fs::path root = fs::weakly_canonical(fs::absolute(fs::path(root_), ec), ec);
  if (ec) return false;
  const fs::path resolved = fs::weakly_canonical(path, ec);
  if (ec) return false;
  std::string prefix = root.string();
  constexpr char kSeparator = static_cast<char>(fs::path::preferred_separator);
  if (prefix.empty() || prefix.back() != kSeparator) prefix += kSeparator;
  const std::string candidate = resolved.string();
  return candidate.size() > prefix.size() && candidate.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace voxhall::web
