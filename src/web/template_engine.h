// The template engine of the web administration: reads a template of the
// document root, expands its include markers ("%%INCLUDE%name%", capitals
// only), then replaces its placeholders in a fixed order with the data of
// the virtual server the session administers, the selected account, the
// session and the result-box parameters. "%%NAME%%" placeholders receive
// their values HTML-escaped; the "%!NAME!%" comment switches and generated
// lists insert markup. Nothing is cached: every request reads the files.
//
// Thread safety: stateless apart from the root; runs on any HTTP thread.
// Takes the ServerList lock, then a server's player or channel list lock.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "web/document_root.h"
#include "web/web_request.h"

namespace voxhall::host {
struct ServerObject;
}

namespace voxhall::web {

// "&", "<", ">", '"' and "'" as character references; "%" stays, so that
// later placeholders still see an inserted value.
std::string HtmlEscape(std::string_view text);

class TemplateEngine {
 public:
  // Bounds of one rendering: include nesting, includes per page, page size.
  static constexpr int kMaxIncludeDepth = 32;
  static constexpr int kMaxIncludes = 1024;
  static constexpr std::size_t kMaxPageSize = 8 * 1024 * 1024;

  explicit TemplateEngine(const DocumentRoot& root) : root_(root) {}

  // Renders the template at `path` into `response` (content type
  // "text/HTML"). False, after logging "File not found: <path>", when there
  // is no such file.
  bool Progress_FILE(const std::string& path, const WebRequest& request, WebResponse& response);

  // The file `name` of the document root, its lines each ended by CR LF;
  // empty when missing, outside the root or larger than a page may be.
  std::string LoadFile(std::string_view name);
  // Whether the file `name` of the document root exists.
  bool FileCheck(std::string_view name);

  // Expands every include marker. A marker without a closing "%" stays as
  // plain text; past kMaxIncludeDepth nested includes, kMaxIncludes
  // includes or kMaxPageSize bytes, markers are removed without loading.
  std::string ParseCommands(std::string page);

  // Replaces every placeholder, in the fixed order.
  std::string SetVariables(std::string page, const WebRequest& request, WebResponse& response);

  // The rows of the server's account list, one row template per account.
  std::string CreateDataBaseClientList(const host::ServerObject& server, WebResponse& response);
  // One <option> per running server, the first selected.
  std::string CreateServerDropDownList();

 private:
  std::string ExpandIncludes(std::string page, int depth, int& includes);
  std::string SetServerVariables(std::string page, host::ServerObject& server,
                                 const WebRequest& request, WebResponse& response);

  const DocumentRoot& root_;
};

}  // namespace voxhall::web
