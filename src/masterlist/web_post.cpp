#include "masterlist/web_post.h"

#include <exception>
#include <mutex>

#include "common/date_time.h"
#include "common/text.h"
#include "host/server_list.h"
#include "host/settings.h"
#include "host/version.h"
#include "masterlist/http_request.h"

namespace voxhall::masterlist {

std::unique_ptr<WebPost> WebPoster;

namespace {

bool IsLetterOrDigit(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string EncodeFormValue(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(value.size() * 3);
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsLetterOrDigit(c)) {
      encoded.push_back(ch);
    } else if (c == ' ') {
      encoded.push_back('+');
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[c >> 4]);
      encoded.push_back(kHex[c & 0x0F]);
    }
  }
  return encoded;
}

std::string EncodeForm(const PostFields& fields) {
  std::string body;
  for (const auto& [name, value] : fields) {
    if (value.empty()) continue;
    if (!body.empty()) body.push_back('&');
    body += name;
    body.push_back('=');
    body += EncodeFormValue(value);
  }
  return body;
}

PostFields BuildPostFields(const std::string& key) {
  if (!host::ServerList) return {};
  auto list_lock = host::ServerList->Lock();
  host::ServerObject* server = host::ServerList->FindServerByKey(key);
  if (server == nullptr || !server->Clients || !server->Channels) return {};

  std::size_t players = 0;
  std::size_t channels = 0;
  {
    std::lock_guard<protocol::ClientList> player_lock(*server->Clients);
    players = server->Clients->Count();
    std::lock_guard<protocol::Channels> channel_lock(*server->Channels);
    channels = server->Channels->Count();
  }

  const host::MainConfig& config = host::Config();
  const protocol::ServerData& d = server->Data;
  return {
      {"server_adminemail", config.AdminEmail},
      {"server_isplinkurl", config.ISPLinkURL},
      {"server_ispname", config.ISPName},
      {"server_ispcountry", config.ISPCountry},
      {"server_platform", d.Platform.str()},
      {"server_version_major", std::to_string(d.VersionMajor)},
      {"server_version_minor", std::to_string(d.VersionMinor)},
      {"server_version_release", std::to_string(d.VersionRelease)},
      {"server_version_build", std::to_string(d.VersionBuild)},
      {"server_port", std::to_string(d.UDPPort)},
      {"server_name", d.ServerName.str()},
      {"server_uptime", std::to_string(common::SecondsBetween(d.StartTime, common::Now()))},
      {"server_password", d.Password.empty() ? "0" : "1"},
      {"server_type1", (d.ServerType & 1) != 0 ? "clan" : "public"},
      {"server_type2", (d.ServerType & 4) != 0 ? "freeware" : "commercial"},
      {"clients_current", std::to_string(players)},
      {"clients_maximum", std::to_string(d.MaxUsers)},
      {"channels_current", std::to_string(channels)},
      {"server_linkurl", d.LinkURL.str()},
      {"server_queryport", std::to_string(config.TCPQueryPort)},
  };
}

WebPost::WebPost(WebPostTimings timings) : timings_(timings), thread_([this] { Run(); }) {}

WebPost::~WebPost() {
  Terminate();
  thread_.join();
}

void WebPost::Terminate() {
  std::lock_guard<std::mutex> lock(mu_);
  terminated_ = true;
  wake_.notify_all();
}

bool WebPost::Terminated() {
  std::lock_guard<std::mutex> lock(mu_);
  return terminated_;
}

bool WebPost::Wait(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(mu_);
  return !wake_.wait_for(lock, duration, [this] { return terminated_; });
}

void WebPost::Run() {
  while (Wait(timings_.before_round)) {
    try {
      PostAll();
    } catch (const std::exception&) {
      // A failed round is ignored; the next one comes at its time.
    }
    if (!Wait(timings_.after_round)) break;
  }
}

void WebPost::PostAll() {
  std::vector<std::string> keys;
  if (host::ServerList) {
    auto list_lock = host::ServerList->Lock();
    for (const host::ServerObject* server : host::ServerList->ListServers()) {
      keys.push_back(server->Key);
    }
  }

  const host::MainConfig& config = host::Config();
  HttpOptions options;
  options.bound_ip = config.BoundToIp;
  const std::string primary = common::Trim(host::MasterListDefaultURL());
  const std::string extra = common::Trim(config.PostURL);

  for (const std::string& key : keys) {
    const PostFields fields = BuildPostFields(key);
    if (fields.empty()) continue;  // stopped since the names were taken
    const std::string body = EncodeForm(fields);
    std::string link;  // this server's own destination
    for (const auto& [name, value] : fields) {
      if (name == "server_linkurl") link = common::Trim(value);
    }
    // Every destination on its own; a failure is ignored without a log entry.
    for (const std::string& url : {primary, extra, link}) {
      if (Terminated()) return;
      if (!url.empty()) HttpPostForm(url, body, options);
    }
  }
}

}  // namespace voxhall::masterlist
