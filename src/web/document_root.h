// The folder the web administration serves its templates and files from,
// and the one test of whether a path lies inside it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace voxhall::web {

class DocumentRoot {
 public:
  explicit DocumentRoot(std::string root) : root_(std::move(root)) {}

  const std::string& path() const { return root_; }

  // The root followed by `document` (a request path such as "/a/b.html", or
  // a file name), made absolute with "." and ".." resolved; "/" separates
  // folders. Nothing is looked up on disk.
  std::filesystem::path Join(std::string_view document) const;

  // Whether `path`, with symbolic links resolved, lies below the root (also
  // resolved): its text must begin with the root's text and a separator,
  // letter case significant. A folder that merely begins with the root's
  // name ("/srv/httpdocs-private" for "/srv/httpdocs") is outside.
  bool Contains(const std::filesystem::path& path) const;

 private:
  std::string root_;
};

}  // namespace voxhall::web
