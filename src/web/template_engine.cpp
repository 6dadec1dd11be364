#include "web/template_engine.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "common/date_time.h"
#include "common/text.h"
#include "host/server_list.h"
#include "host/settings.h"
#include "log/log.h"
#include "storage/server_database.h"
#include "storage/user_store.h"
#include "web/date_format.h"
#include "web/result_boxes.h"

namespace voxhall::web {

namespace fs = std::filesystem;
using namespace voxhall::log;

namespace {

constexpr const char* kCategory = "WEBINTERFACE";
constexpr std::string_view kIncludeMarker = "%%INCLUDE%";
constexpr const char* kClientListPlaceholder = "%!SERVERCFG_DATABASE_CLIENT_MANAGER_CLIENTLIST!%";
constexpr const char* kServerDropDownPlaceholder = "%!SERVERCFG_SERVER_MANAGER_SERVERDROPDOWNLIST!%";
constexpr const char* kClientRowTemplate = "database_client_manager_clientlist.html";

constexpr std::uint16_t kRightServerAdmin = 1;
constexpr std::uint16_t kRightSuperServerAdmin = 8;

// Position of the first match of `pattern` at or after `from`, ASCII letters
// compared without case.
std::size_t FindNoCase(std::string_view text, std::string_view pattern, std::size_t from) {
  if (pattern.empty() || text.size() < pattern.size()) return std::string_view::npos;
  for (std::size_t i = from; i + pattern.size() <= text.size(); ++i) {
    if (common::EqualsIgnoreCase(text.substr(i, pattern.size()), pattern)) return i;
  }
  return std::string_view::npos;
}

// Number of matches ReplaceText would replace: non-overlapping, left to
// right, ASCII letters compared without case.
std::size_t CountNoCase(std::string_view text, std::string_view pattern) {
  std::size_t count = 0;
  for (std::size_t at = FindNoCase(text, pattern, 0); at != std::string_view::npos;
       at = FindNoCase(text, pattern, at + pattern.size())) {
    ++count;
  }
  return count;
}

// Replaces every occurrence of `mark`, unless the page would outgrow the
// size limit: inserted values meet later placeholders, so values that hold
// placeholders could otherwise multiply the page at every step.
void Replace(std::string& page, std::string_view mark, std::string_view value) {
  if (value.size() > mark.size()) {
    const std::size_t growth = CountNoCase(page, mark) * (value.size() - mark.size());
    if (page.size() + growth > TemplateEngine::kMaxPageSize) {
      throw std::length_error("page exceeds " + std::to_string(TemplateEngine::kMaxPageSize) +
                              " bytes at " + std::string(mark));
    }
  }
  page = common::ReplaceText(page, mark, value, true);
}

// A placeholder that receives a value: escaped, every occurrence.
void Value(std::string& page, std::string_view mark, std::string_view value) {
  Replace(page, mark, HtmlEscape(value));
}

// A comment switch or a generated list: markup, inserted as it is.
void Markup(std::string& page, std::string_view mark, std::string_view markup) {
  Replace(page, mark, markup);
}

std::string FormatDate(common::DateTime value) {
  return FormatDateTime(host::Config().DateTimeFormat, value);
}

// Reads a whole file; nullopt when it cannot be read or exceeds `limit`.
std::optional<std::string> ReadWholeFile(const fs::path& path, std::size_t limit) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > limit) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() > limit) return std::nullopt;
  return bytes;
}

// The text with every line (ended by CR LF, LF or CR) ended by CR LF.
std::string WithCrLfLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", i);
    if (end == std::string_view::npos) {
      out.append(text.substr(i));
      out += "\r\n";
      break;
    }
    out.append(text.substr(i, end - i));
    out += "\r\n";
    i = end + 1;
    if (text[end] == '\r' && i < text.size() && text[i] == '\n') ++i;
  }
  return out;
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

bool TemplateEngine::Progress_FILE(const std::string& path, const WebRequest& request,
                                   WebResponse& response) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    LogFmt(lmtWarning, lmdInfo, kCategory, "File not found: %1", path);
    return false;
  }
  try {
    std::optional<std::string> page = ReadWholeFile(path, kMaxPageSize);
    if (!page) throw std::runtime_error("unable to read " + path);
    std::string result = SetVariables(ParseCommands(std::move(*page)), request, response);
    response.content_type = "text/HTML";
    response.body = std::move(result);
  } catch (const std::exception& e) {
    LogException(kCategory, "Progress_FILE", e.what());
  }
  return true;
}

std::string TemplateEngine::LoadFile(std::string_view name) {
  try {
    const fs::path path = root_.Join(name);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec) || !root_.Contains(path)) return {};
    std::optional<std::string> bytes = ReadWholeFile(path, kMaxPageSize);
    return bytes ? WithCrLfLines(*bytes) : std::string();
  } catch (const std::exception& e) {
    LogException(kCategory, "LoadFile", e.what());
    return {};
  }
}

bool TemplateEngine::FileCheck(std::string_view name) {
  try {
    std::error_code ec;
    return fs::is_regular_file(root_.Join(name), ec);
  } catch (const std::exception& e) {
    LogException(kCategory, "FileCheck", e.what());
    return false;
  }
}

std::string TemplateEngine::ParseCommands(std::string page) {
  int includes = 0;
  return ExpandIncludes(std::move(page), 0, includes);
}

std::string TemplateEngine::ExpandIncludes(std::string page, int depth, int& includes) {
  // The result is built from left to right, so each marker costs the text
  // up to it once; an inserted file is expanded on its own before it goes in.
  std::string out;
  std::size_t pos = 0;
  try {
    for (;;) {
      const std::size_t at = page.find(kIncludeMarker, pos);
      if (at == std::string::npos) break;
      const std::size_t name_start = at + kIncludeMarker.size();
      const std::size_t close = page.find('%', name_start);
      if (close == std::string::npos) break;  // no closing "%": plain text
      const std::string name = page.substr(name_start, close - name_start);
      const std::string marker = std::string(kIncludeMarker) + name + "%";

      std::string content;
      if (depth < kMaxIncludeDepth && includes < kMaxIncludes) {
        ++includes;
        content = ExpandIncludes(LoadFile(name), depth + 1, includes);
      }
      if (out.size() + content.size() + (page.size() - pos) > kMaxPageSize) content.clear();
      // The first occurrence in any letter case is the one replaced; the
      // capital marker, if that was a twin before it, comes next.
      std::size_t target = FindNoCase(std::string_view(page).substr(0, at + marker.size()), marker, pos);
      if (target == std::string::npos) target = at;
      out.append(page, pos, target - pos);
      out += content;
      pos = target + marker.size();
    }
  } catch (const std::exception& e) {
    LogException(kCategory, "ParseCommands", e.what());
  }
  out.append(page, std::min(pos, page.size()));
  return out;
}

std::string TemplateEngine::SetVariables(std::string page, const WebRequest& request,
                                         WebResponse& response) {
  try {
    const HttpSession& session = *request.session;
    // Session variables are read before the ServerList lock is taken: a
    // session lock never waits behind it.
    const std::string server_id = session.Get("serverid");
    {
      std::optional<host::VirtualServerList::ListLock> list_lock;
      host::ServerObject* server = nullptr;
      if (host::ServerList) {
        list_lock.emplace(host::ServerList->Lock());
        server = host::ServerList->FindServerByKey(server_id);
      }
      if (server) {
        page = SetServerVariables(std::move(page), *server, request, response);
      } else {
        Markup(page, "%!COMMENT_ON_SERVER_SELECTED!%", "");
        Markup(page, "%!COMMENT_OFF_SERVER_SELECTED!%", "");
        Markup(page, "%!COMMENT_ON_SERVER_NOT_SELECTED!%", "<!--");
        Markup(page, "%!COMMENT_OFF_SERVER_NOT_SELECTED!%", "-->");
        Value(page, "%%SERVERNAME%%", "");
      }
    }

    const bool superadmin = session.Get("superadmin") == "1";
    Markup(page, "%!COMMENT_ON_NOT_SUPERSERVERADMIN!%", superadmin ? "" : "<!--");
    Markup(page, "%!COMMENT_OFF_NOT_SUPERSERVERADMIN!%", superadmin ? "" : "-->");
    if (common::UpperCase(page).find(kServerDropDownPlaceholder) != std::string::npos) {
      Markup(page, kServerDropDownPlaceholder, CreateServerDropDownList());
    }
    static constexpr std::pair<const char*, const char*> kBoxParameters[] = {
        {"%%ERROR_TITLE%%", "error_title"},   {"%%ERROR_TEXT%%", "error_text"},
        {"%%ERROR_URL%%", "error_url"},       {"%%OK_TITLE%%", "ok_title"},
        {"%%OK_TEXT%%", "ok_text"},           {"%%OK_URL%%", "ok_url"},
        {"%%CHOICE_TITLE%%", "choice_title"}, {"%%CHOICE_TEXT%%", "choice_text"},
        {"%%CHOICE_URL_YES%%", "choice_url_yes"}, {"%%CHOICE_YES%%", "choice_yes"},
        {"%%CHOICE_URL_NO%%", "choice_url_no"},   {"%%CHOICE_NO%%", "choice_no"},
    };
    for (const auto& [mark, parameter] : kBoxParameters) Value(page, mark, request.Param(parameter));
    Value(page, "%%LOGGEDINUSERNAME%%", session.Get("username"));
    Value(page, "%%CURRENT_DATETIME%%", FormatDate(common::Now()));
  } catch (const std::exception& e) {
    LogException(kCategory, "SetVariables", e.what());
  }
  return page;
}

std::string TemplateEngine::SetServerVariables(std::string page, host::ServerObject& server,
                                               const WebRequest& request, WebResponse& response) {
  const protocol::ServerData& d = server.Data;
  Markup(page, "%!COMMENT_ON_SERVER_SELECTED!%", "<!--");
  Markup(page, "%!COMMENT_OFF_SERVER_SELECTED!%", "-->");
  Markup(page, "%!COMMENT_ON_SERVER_NOT_SELECTED!%", "");
  Markup(page, "%!COMMENT_OFF_SERVER_NOT_SELECTED!%", "");
  Value(page, "%%SERVERID%%", server.Key);
  Value(page, "%%SERVERNAME%%", d.ServerName.str());
  Value(page, "%%SERVERPLATFORM%%", d.Platform.str());
  Value(page, "%%SERVERWELCOMEMESSAGE%%", d.WelcomeMessage.str());
  Value(page, "%%SERVERVERSIONMAJOR%%", std::to_string(d.VersionMajor));
  Value(page, "%%SERVERVERSIONMINOR%%", std::to_string(d.VersionMinor));
  Value(page, "%%SERVERVERSIONRELEASE%%", std::to_string(d.VersionRelease));
  Value(page, "%%SERVERVERSIONBUILD%%", std::to_string(d.VersionBuild));
  Value(page, "%%SERVERMAXUSERS%%", std::to_string(d.MaxUsers));
  Value(page, "%%SERVERPASSWORD%%", d.Password.str());
  Value(page, "%%SERVERWEBPOSTLINKURL%%", d.LinkURL.str());
  Value(page, "%%SERVERUPTIME%%",
        common::FormatUptime(common::SecondsBetween(d.StartTime, common::Now())));
  Value(page, "%%SERVERUDPPORT%%", std::to_string(d.UDPPort));

  const int players = host::ServerList->ServerClientCount(server);
  std::size_t channels = 0;
  if (server.Channels) {
    std::lock_guard<protocol::Channels> lock(*server.Channels);
    channels = server.Channels->Count();
  }
  transport::BufferStats stats;
  if (server.PacketBuffer) stats = server.PacketBuffer->GetBufferStats();
  Value(page, "%%CURRENTUSERS%%", std::to_string(players));
  Value(page, "%%CURRENTCHANNELS%%", std::to_string(channels));
  // Byte counters show their low 32 bits, as every other report does.
  Value(page, "%%SERVERPACKETSSEND%%", std::to_string(stats.packets_sent));
  Value(page, "%%SERVERBYTESSEND%%", std::to_string(static_cast<std::uint32_t>(stats.bytes_sent)));
  Value(page, "%%SERVERPACKETSRECEIVED%%", std::to_string(stats.packets_received));
  Value(page, "%%SERVERBYTESRECEIVED%%",
        std::to_string(static_cast<std::uint32_t>(stats.bytes_received)));

  const auto checked = [](bool on) { return on ? "checked" : ""; };
  Value(page, "%%SERVERCFG_CODEC_Celp51_SELECTED%%", checked(d.AllowCodecCelp51));
  Value(page, "%%SERVERCFG_CODEC_Celp63_SELECTED%%", checked(d.AllowCodecCelp63));
  Value(page, "%%SERVERCFG_CODEC_GSM148_SELECTED%%", checked(d.AllowCodecGSM148));
  Value(page, "%%SERVERCFG_CODEC_GSM164_SELECTED%%", checked(d.AllowCodecGSM164));
  Value(page, "%%SERVERCFG_CODEC_WindowsCELP52_SELECTED%%", checked(d.AllowCodecWindowsCELP52));

  constexpr const char* kClanSelected = "%%SERVERCFG_SERVERTYPE_CLANSERVER_SELECTED%%";
  constexpr const char* kPublicSelected = "%%SERVERCFG_SERVERTYPE_PUBLICSERVER_SELECTED%%";
  if (d.ServerType & protocol::kServerTypeClan) {
    Value(page, "%%SERVERTYPE%%", "Clan Server");
    Value(page, kClanSelected, "selected");
    Value(page, kPublicSelected, "");
  } else if (d.ServerType & protocol::kServerTypePublic) {
    Value(page, "%%SERVERTYPE%%", "Public Server");
    Value(page, kPublicSelected, "selected");
    Value(page, kClanSelected, "");
  } else {
    Value(page, "%%SERVERTYPE%%", "Invalid Server Type");
  }

  const bool channels_anyone = d.ServerFlags & 2;
  Value(page, "%%SERVERCHANNELREGISTERMODE%%", channels_anyone ? "anyone" : "admin");
  Value(page, "%%SERVERCFG_SERVERCHANNELREGISTERMODE_ANYONE_SELECTED%%",
        channels_anyone ? "selected" : "");
  Value(page, "%%SERVERCFG_SERVERCHANNELREGISTERMODE_ADMIN_SELECTED%%",
        channels_anyone ? "" : "selected");
  const bool users_anyone = d.ServerFlags & 1;
  Value(page, "%%SERVERREGISTERTYPE%%", users_anyone ? "anyone" : "none");
  Value(page, "%%SERVERCFG_SERVERREGISTERTYPE_ANYONE_SELECTED%%", users_anyone ? "selected" : "");
  Value(page, "%%SERVERCFG_SERVERREGISTERTYPE_NONE_SELECTED%%", users_anyone ? "" : "selected");

  Value(page, "%%SERVERUSERSONLINE%%", std::to_string(players));
  Value(page, "%%SERVERCHANNELS%%", std::to_string(channels));

  const std::string client = request.Param("client");
  if (!client.empty() && storage::ServerDatabase) {
    if (auto user = storage::LoadUser(*storage::ServerDatabase, client, server.Key, false)) {
      Value(page, "%%SELECTED_CLIENT_LOGINNAME%%", user->login_name.str());
      Value(page, "%%SELECTED_CLIENT_REGISTEREDBY%%", user->registered_by.str());
      Value(page, "%%SELECTED_CLIENT_LOGINS%%", std::to_string(user->logins));
      Value(page, "%%SELECTED_CLIENT_LASTUPDATED%%", FormatDate(user->last_changed));
      Value(page, "%%SELECTED_CLIENT_REGISTERED%%", FormatDate(user->created));
      Value(page, "%%SERVERCFG_CLIENT_RIGHTS_SERVERADMIN_SELECTED%%",
            checked(user->privileges & kRightServerAdmin));
      Value(page, "%%SERVERCFG_CLIENT_RIGHTS_SUPERSERVERADMIN_SELECTED%%",
            checked(user->privileges & kRightSuperServerAdmin));
    }
  }

  if (common::UpperCase(page).find(kClientListPlaceholder) != std::string::npos) {
    Markup(page, kClientListPlaceholder, CreateDataBaseClientList(server, response));
  }
  return page;
}

std::string TemplateEngine::CreateDataBaseClientList(const host::ServerObject& server,
                                                     WebResponse& response) {
  std::string rows;
  try {
    if (!FileCheck(kClientRowTemplate)) {
      DisplayError(response, "error occured", common::Format("file %1 was not found", kClientRowTemplate),
                   "index.html");
      return {};
    }
    if (!storage::ServerDatabase) return {};
    storage::FreeBase& db = *storage::ServerDatabase;
    const std::optional<std::vector<std::string>> names = storage::GetUserNames(db, server.Key);
    if (!names) return {};
    const std::string row_template = LoadFile(kClientRowTemplate);
    for (const std::string& name : *names) {
      const std::optional<storage::StoredUser> user = storage::LoadUser(db, name, server.Key, false);
      if (!user) continue;
      // Each row is filled on its own, so that a value of one account can
      // never fill a placeholder of another.
      std::string row = row_template;
      Value(row, "%%CLIENT_NAME%%", user->nick_name.str());
      Value(row, "%%CLIENT_LOGINNAME%%", user->login_name.str());
      Value(row, "%%CLIENT_LASTUPDATED%%", FormatDate(user->last_changed));
      Value(row, "%%CLIENT_REGISTERED%%", FormatDate(user->created));
      Value(row, "%%CLIENT_LOGINS%%", std::to_string(user->logins));
      Value(row, "%%CLIENT_REGISTEREDBY%%", user->registered_by.str());
      if (rows.size() + row.size() > kMaxPageSize) break;
      rows += row;
    }
  } catch (const std::exception& e) {
    LogException(kCategory, "CreateDataBaseClientList", e.what());
  }
  return rows;
}

std::string TemplateEngine::CreateServerDropDownList() {
  std::string options;
  try {
    if (!host::ServerList) return {};
    auto lock = host::ServerList->Lock();
    bool first = true;
    for (const host::ServerObject* server : host::ServerList->ListServers()) {
      const std::string port = std::to_string(server->Data.UDPPort);
      options += first ? "<option selected value=\"" : "<option value=\"";
      options += port + "\">" + port + " " + HtmlEscape(server->Key) + "</option>";
      first = false;
    }
  } catch (const std::exception& e) {
    LogException(kCategory, "CreateServerDropDownList", e.what());
  }
  return options;
}

}  // namespace voxhall::web
